// What the emulated device refuses as the Direct3D 11 runtime does: each refusal is counted under
// "validation_errors", told on stderr with the call's name, and leaves the call without effect.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "diff/kernels/kernel_bytecode.h"
#include "emu_device_fixture.h"
#include "platform/emulated/graphics_access.h"

namespace {

const std::vector<uint32_t> kWords = {1, 2, 3, 4};
const std::vector<uint32_t> kZeros(4, 0);

// A structured buffer of kWords with both views: the clear kernel zeroes it through u0.
struct Words {
    ComPtr<ID3D11Buffer> buffer;
    ComPtr<ID3D11ShaderResourceView> srv;
    ComPtr<ID3D11UnorderedAccessView> uav;
};

Words make_words(ID3D11Device *device) {
    Words words;
    const D3D11_BUFFER_DESC desc = structured_desc(16);
    const D3D11_SUBRESOURCE_DATA initial{kWords.data(), 0, 0};
    EXPECT_EQ(device->CreateBuffer(&desc, &initial, words.buffer.put()), S_OK);
    EXPECT_EQ(device->CreateShaderResourceView(words.buffer.get(), nullptr, words.srv.put()), S_OK);
    EXPECT_EQ(device->CreateUnorderedAccessView(words.buffer.get(), nullptr, words.uav.put()), S_OK);
    return words;
}

ComPtr<ID3D11ComputeShader> clear_kernel(ID3D11Device *device) {
    ComPtr<ID3D11ComputeShader> kernel;
    EXPECT_EQ(device->CreateComputeShader(corvo::kernels::kClearDiffBuffCS, corvo::kernels::kClearDiffBuffCSSize,
                                          nullptr, kernel.put()),
              S_OK);
    return kernel;
}

// The four words of a buffer, read back through its own device's context.
std::vector<uint32_t> words_of(ID3D11Buffer *buffer) {
    ComPtr<ID3D11Device> device;
    buffer->GetDevice(device.put());
    ComPtr<ID3D11DeviceContext> context;
    device->GetImmediateContext(context.put());
    const D3D11_BUFFER_DESC desc = readback_desc(16);
    ComPtr<ID3D11Buffer> readback;
    EXPECT_EQ(device->CreateBuffer(&desc, nullptr, readback.put()), S_OK);
    context->CopyResource(readback.get(), buffer);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    EXPECT_EQ(context->Map(readback.get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
    std::vector<uint32_t> words(4);
    if (mapped.pData) std::memcpy(words.data(), mapped.pData, 16);
    context->Unmap(readback.get(), 0);
    return words;
}

// A 4 x 4 staging texture filled with 0x5A, for copies that must leave it untouched.
D3D11_SUBRESOURCE_DATA filled_with_5a() {
    static const std::vector<uint8_t> pattern(256 * 8, 0x5A);
    return {pattern.data(), 256, 0};
}

class ValidationTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                    other.put(), nullptr, other_context.put()),
                  S_OK);
    }
    void TearDown() override {
        other_context->ClearState();
        other_context.reset();
        other.reset();
        DeviceTest::TearDown();
    }

    void bind_uav(ID3D11DeviceContext *on, ID3D11UnorderedAccessView *view) {
        on->CSSetUnorderedAccessViews(0, 1, &view, nullptr);
    }

    ComPtr<ID3D11Device> other;  // a second device, whose objects the first must refuse
    ComPtr<ID3D11DeviceContext> other_context;
};

TEST_F(ValidationTest, BindingsOfAnotherDeviceAreRefusedAndBindNothing) {
    const Words mine = make_words(device.get()), theirs = make_words(other.get());
    const ComPtr<ID3D11ComputeShader> kernel = clear_kernel(device.get()), their_kernel = clear_kernel(other.get());

    bind_uav(context.get(), mine.uav.get());
    expect_refused("CSSetShader", [&] { context->CSSetShader(their_kernel.get(), nullptr, 0); });
    context->Dispatch(1, 1, 1);  // no shader is bound
    EXPECT_EQ(words_of(mine.buffer.get()), kWords);

    // The refused call leaves the slot as it was: the dispatch clears our buffer, not theirs.
    context->CSSetShader(kernel.get(), nullptr, 0);
    expect_refused("CSSetUnorderedAccessViews", [&] { bind_uav(context.get(), theirs.uav.get()); });
    context->Dispatch(1, 1, 1);
    EXPECT_EQ(words_of(theirs.buffer.get()), kWords);
    EXPECT_EQ(words_of(mine.buffer.get()), kZeros);

    ID3D11ShaderResourceView *const views[] = {mine.srv.get(), theirs.srv.get()};
    expect_refused("CSSetShaderResources", [&] { context->CSSetShaderResources(0, 2, views); });
    const D3D11_BUFFER_DESC constants_desc{16, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    ComPtr<ID3D11Buffer> their_constants;
    ASSERT_EQ(other->CreateBuffer(&constants_desc, nullptr, their_constants.put()), S_OK);
    ID3D11Buffer *const constants = their_constants.get();
    expect_refused("CSSetConstantBuffers", [&] { context->CSSetConstantBuffers(0, 1, &constants); });
    ID3D11UnorderedAccessView *const past_the_last[] = {mine.uav.get(), mine.uav.get()};
    expect_refused("CSSetUnorderedAccessViews",
                   [&] { context->CSSetUnorderedAccessViews(7, 2, past_the_last, nullptr); });  // of 8

    // The same objects bind on their own device.
    other_context->CSSetShader(their_kernel.get(), nullptr, 0);
    bind_uav(other_context.get(), theirs.uav.get());
    other_context->Dispatch(1, 1, 1);
    EXPECT_EQ(words_of(theirs.buffer.get()), kZeros);
}

TEST_F(ValidationTest, ViewsCopiesAndMapsOfAnotherDevicesResourcesAreRefused) {
    const Words theirs = make_words(other.get());
    ComPtr<ID3D11ShaderResourceView> srv;
    expect_refused("CreateShaderResourceView", [&] {
        EXPECT_EQ(device->CreateShaderResourceView(theirs.buffer.get(), nullptr, srv.put()), E_INVALIDARG);
    });
    EXPECT_FALSE(srv);
    ComPtr<ID3D11UnorderedAccessView> uav;
    expect_refused("CreateUnorderedAccessView", [&] {
        EXPECT_EQ(device->CreateUnorderedAccessView(theirs.buffer.get(), nullptr, uav.put()), E_INVALIDARG);
    });
    EXPECT_FALSE(uav);

    const D3D11_SUBRESOURCE_DATA filled = filled_with_5a();
    const ComPtr<ID3D11Texture2D> mine = texture(texture_desc(4, 4, D3D11_USAGE_STAGING), &filled);
    const D3D11_TEXTURE2D_DESC their_desc = texture_desc(4, 4, D3D11_USAGE_STAGING);
    ComPtr<ID3D11Texture2D> their_texture;
    ASSERT_EQ(other->CreateTexture2D(&their_desc, nullptr, their_texture.put()), S_OK);
    const std::vector<uint8_t> before = read(mine.get());
    expect_refused("CopyResource", [&] { context->CopyResource(mine.get(), their_texture.get()); });
    expect_refused("CopySubresourceRegion",
                   [&] { context->CopySubresourceRegion(mine.get(), 0, 0, 0, 0, their_texture.get(), 0, nullptr); });
    EXPECT_EQ(read(mine.get()), before);

    D3D11_MAPPED_SUBRESOURCE mapped{};
    expect_refused("Map", [&] {
        EXPECT_EQ(context->Map(their_texture.get(), 0, D3D11_MAP_READ, 0, &mapped), E_INVALIDARG);
    });
    EXPECT_EQ(mapped.pData, nullptr);
    // Their own context maps it; ours cannot unmap it, so theirs still can (else it would be refused).
    ASSERT_EQ(other_context->Map(their_texture.get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
    expect_refused("Unmap", [&] { context->Unmap(their_texture.get(), 0); });
    other_context->Unmap(their_texture.get(), 0);
}

TEST_F(ValidationTest, AViewNeedsItsBindFlag) {
    for (const UINT flags : {UINT(D3D11_BIND_SHADER_RESOURCE), UINT(D3D11_BIND_UNORDERED_ACCESS)}) {
        D3D11_TEXTURE2D_DESC texture_description = texture_desc(4, 4, D3D11_USAGE_DEFAULT, DXGI_FORMAT_R32_UINT);
        texture_description.BindFlags = flags;
        D3D11_BUFFER_DESC buffer_description = structured_desc(16);
        buffer_description.BindFlags = flags;
        const ComPtr<ID3D11Texture2D> cells = texture(texture_description);
        const ComPtr<ID3D11Buffer> words = buffer(buffer_description);
        for (ID3D11Resource *resource :
             {static_cast<ID3D11Resource *>(cells.get()), static_cast<ID3D11Resource *>(words.get())}) {
            ComPtr<ID3D11ShaderResourceView> srv;
            ComPtr<ID3D11UnorderedAccessView> uav;
            if (flags == D3D11_BIND_SHADER_RESOURCE) {
                EXPECT_EQ(device->CreateShaderResourceView(resource, nullptr, srv.put()), S_OK);
                expect_refused("CreateUnorderedAccessView", [&] {
                    EXPECT_EQ(device->CreateUnorderedAccessView(resource, nullptr, uav.put()), E_INVALIDARG);
                });
                EXPECT_FALSE(uav);
            } else {
                EXPECT_EQ(device->CreateUnorderedAccessView(resource, nullptr, uav.put()), S_OK);
                expect_refused("CreateShaderResourceView", [&] {
                    EXPECT_EQ(device->CreateShaderResourceView(resource, nullptr, srv.put()), E_INVALIDARG);
                });
                EXPECT_FALSE(srv);
            }
        }
    }
}

TEST_F(ValidationTest, CopyResourceRefusesItselfAnImmutableDestinationAndMappedResources) {
    const D3D11_SUBRESOURCE_DATA filled = filled_with_5a();
    const ComPtr<ID3D11Texture2D> source = texture(texture_desc(4, 4, D3D11_USAGE_STAGING), &filled);
    const ComPtr<ID3D11Texture2D> destination = texture(texture_desc(4, 4, D3D11_USAGE_STAGING));
    expect_refused("CopyResource", [&] { context->CopyResource(source.get(), source.get()); });
    const ComPtr<ID3D11Texture2D> immutable = texture(texture_desc(4, 4, D3D11_USAGE_IMMUTABLE), &filled);
    expect_refused("CopyResource", [&] { context->CopyResource(immutable.get(), destination.get()); });

    D3D11_MAPPED_SUBRESOURCE mapped{};
    ASSERT_EQ(context->Map(source.get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
    expect_refused("CopyResource", [&] { context->CopyResource(destination.get(), source.get()); });
    context->Unmap(source.get(), 0);
    ASSERT_EQ(context->Map(destination.get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
    expect_refused("CopyResource", [&] { context->CopyResource(destination.get(), source.get()); });
    expect_refused("CopySubresourceRegion",
                   [&] { context->CopySubresourceRegion(destination.get(), 0, 0, 0, 0, source.get(), 0, nullptr); });
    EXPECT_EQ(static_cast<const uint8_t *>(mapped.pData)[0], 0);  // nothing was written under the mapping
    context->Unmap(destination.get(), 0);

    context->CopyResource(destination.get(), source.get());
    EXPECT_EQ(read(destination.get()), read(source.get()));
    EXPECT_EQ(corvo_emu_count("bytes_copied"), 64u);  // the one copy that was performed
}

TEST_F(ValidationTest, UnmapOfWhatIsNotMappedIsRefused) {
    const ComPtr<ID3D11Buffer> readback = buffer(readback_desc(16));
    expect_refused("Unmap", [&] { context->Unmap(readback.get(), 0); });
    D3D11_MAPPED_SUBRESOURCE mapped{};
    ASSERT_EQ(context->Map(readback.get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
    expect_refused("Unmap", [&] { context->Unmap(readback.get(), 1); });
    context->Unmap(readback.get(), 0);
    expect_refused("Unmap", [&] { context->Unmap(readback.get(), 0); });
    expect_refused("Unmap", [&] { context->Unmap(nullptr, 0); });
}

TEST_F(ValidationTest, ADispatchThatWouldUseAMappedResourceDoesNothing) {
    const Words words = make_words(device.get());
    const ComPtr<ID3D11ComputeShader> kernel = clear_kernel(device.get());
    context->CSSetShader(kernel.get(), nullptr, 0);
    bind_uav(context.get(), words.uav.get());
    const ComPtr<ID3D11Buffer> constants =
        buffer({16, D3D11_USAGE_DYNAMIC, D3D11_BIND_CONSTANT_BUFFER, D3D11_CPU_ACCESS_WRITE, 0, 0});
    const ComPtr<ID3D11Buffer> structured =
        buffer({16, D3D11_USAGE_DYNAMIC, D3D11_BIND_SHADER_RESOURCE, D3D11_CPU_ACCESS_WRITE,
                D3D11_RESOURCE_MISC_BUFFER_STRUCTURED, 4});
    ComPtr<ID3D11ShaderResourceView> structured_view;
    ASSERT_EQ(device->CreateShaderResourceView(structured.get(), nullptr, structured_view.put()), S_OK);
    ID3D11Buffer *const constant_slot = constants.get();
    context->CSSetConstantBuffers(0, 1, &constant_slot);
    ID3D11ShaderResourceView *const view_slot = structured_view.get();
    context->CSSetShaderResources(0, 1, &view_slot);

    for (ID3D11Resource *mapped_one :
         {static_cast<ID3D11Resource *>(constants.get()), static_cast<ID3D11Resource *>(structured.get())}) {
        D3D11_MAPPED_SUBRESOURCE mapped{};
        ASSERT_EQ(context->Map(mapped_one, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped), S_OK);
        expect_refused("Dispatch", [&] { context->Dispatch(1, 1, 1); });
        context->Unmap(mapped_one, 0);
        EXPECT_EQ(words_of(words.buffer.get()), kWords);
    }
    context->Dispatch(1, 1, 1);
    EXPECT_EQ(words_of(words.buffer.get()), kZeros);
    EXPECT_EQ(corvo_emu_count("Dispatch"), 3u);
}

// The runtime unbinds a shader resource view of what is bound for unordered access; the dispatch runs.
TEST_F(ValidationTest, AResourceBoundForReadingAndWritingRunsWithoutItsShaderResourceView) {
    Words words = make_words(device.get());
    const ComPtr<ID3D11ComputeShader> kernel = clear_kernel(device.get());
    context->CSSetShader(kernel.get(), nullptr, 0);
    ID3D11ShaderResourceView *const view = words.srv.get();
    context->CSSetShaderResources(0, 1, &view);
    bind_uav(context.get(), words.uav.get());
    words.srv.reset();  // the binding holds the view now
    const uint64_t live = corvo_emu_count("live_objects");

    expect_refused("Dispatch", [&] { context->Dispatch(1, 1, 1); });
    EXPECT_EQ(words_of(words.buffer.get()), kZeros);
    EXPECT_EQ(corvo_emu_count("live_objects"), live - 1);  // the view was unbound and released
    context->Dispatch(1, 1, 1);                            // and stays unbound: nothing more to refuse
}

// A region copy between 8 x 8 textures, and what it must do.
struct RegionCase {
    const char *name;
    UINT x, y, z;
    D3D11_BOX box;
    enum Outcome { kCopies, kCopiesNothing, kRefused } outcome;
    DXGI_FORMAT source_format = DXGI_FORMAT_B8G8R8A8_UNORM;
    UINT source_subresource = 0;
};

void PrintTo(const RegionCase &c, std::ostream *os) { *os << c.name; }

class RegionTest : public ValidationTest, public ::testing::WithParamInterface<RegionCase> {};

TEST_P(RegionTest, CopiesOnlyRegionsInsideBothTextures) {
    const RegionCase &c = GetParam();
    std::vector<uint8_t> pixels(256 * 8);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7 + 1);
    const D3D11_SUBRESOURCE_DATA initial{pixels.data(), 256, 0};
    const ComPtr<ID3D11Texture2D> source =
        texture(texture_desc(8, 8, D3D11_USAGE_DEFAULT, c.source_format), &initial);
    const D3D11_SUBRESOURCE_DATA filled = filled_with_5a();
    const ComPtr<ID3D11Texture2D> destination = texture(texture_desc(8, 8, D3D11_USAGE_STAGING), &filled);
    std::vector<uint8_t> expected = read(destination.get());
    const auto copy = [&] {
        context->CopySubresourceRegion(destination.get(), 0, c.x, c.y, c.z, source.get(), c.source_subresource,
                                       &c.box);
    };
    if (c.outcome == RegionCase::kRefused) {
        expect_refused("CopySubresourceRegion", copy);
    } else {
        copy();
    }
    if (c.outcome == RegionCase::kCopies)
        for (UINT row = c.box.top; row < c.box.bottom; ++row)
            std::memcpy(expected.data() + (c.y + row - c.box.top) * 256 + c.x * 4,
                        pixels.data() + row * 256 + c.box.left * 4, (c.box.right - c.box.left) * 4);
    EXPECT_EQ(read(destination.get()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Regions, RegionTest,
    ::testing::Values(
        RegionCase{"Whole", 0, 0, 0, {0, 0, 0, 8, 8, 1}, RegionCase::kCopies},
        RegionCase{"LastPixelToLastPixel", 7, 7, 0, {7, 7, 0, 8, 8, 1}, RegionCase::kCopies},
        RegionCase{"EmptyBox", 0, 0, 0, {3, 3, 0, 3, 5, 1}, RegionCase::kCopiesNothing},
        RegionCase{"BoxPastTheRight", 0, 0, 0, {4, 0, 0, 9, 4, 1}, RegionCase::kRefused},
        RegionCase{"BoxPastTheBottom", 0, 0, 0, {0, 4, 0, 4, 9, 1}, RegionCase::kRefused},
        RegionCase{"BoxDeeperThanTheTexture", 0, 0, 0, {0, 0, 0, 4, 4, 2}, RegionCase::kRefused},
        RegionCase{"RegionPastTheRight", 5, 0, 0, {0, 0, 0, 4, 4, 1}, RegionCase::kRefused},
        RegionCase{"RegionPastTheBottom", 0, 5, 0, {0, 0, 0, 4, 4, 1}, RegionCase::kRefused},
        RegionCase{"DestinationDepth", 0, 0, 1, {0, 0, 0, 4, 4, 1}, RegionCase::kRefused},
        RegionCase{"OtherFormat", 0, 0, 0, {0, 0, 0, 4, 4, 1}, RegionCase::kRefused, DXGI_FORMAT_R8G8B8A8_UNORM},
        RegionCase{
            "SecondSubresource", 0, 0, 0, {0, 0, 0, 4, 4, 1}, RegionCase::kRefused, DXGI_FORMAT_B8G8R8A8_UNORM, 1}),
    [](const ::testing::TestParamInfo<RegionCase> &info) { return info.param.name; });

// A resource as the model sees it: its layout, whether the CPU may read it, whether it is mapped, its pixels.
struct Modelled {
    ComPtr<ID3D11Texture2D> texture;
    UINT width, height;
    DXGI_FORMAT format;
    bool readable;
    bool mapped = false;
    std::vector<uint32_t> pixels;
};

// Random maps, unmaps and copies among textures of a few layouts, checked against a model of the runtime's
// rules: each call is refused exactly when the model says so, and the pixels end as the model's.
class RefusalModel : public DeviceTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(RefusalModel, RefusesExactlyWhatTheRulesRefuse) {
    std::mt19937 rng(GetParam());
    auto pick = [&rng](size_t n) { return UINT(rng() % n); };
    std::vector<Modelled> model;
    const auto add = [&](UINT width, UINT height, D3D11_USAGE usage, DXGI_FORMAT format) {
        Modelled m{nullptr, width, height, format, usage == D3D11_USAGE_STAGING, false, {}};
        for (UINT i = 0; i < width * height; ++i) m.pixels.push_back(rng());
        const D3D11_SUBRESOURCE_DATA initial{m.pixels.data(), width * 4, 0};
        m.texture = texture(texture_desc(width, height, usage, format), &initial);
        model.push_back(std::move(m));
    };
    add(4, 4, D3D11_USAGE_STAGING, DXGI_FORMAT_B8G8R8A8_UNORM);
    add(4, 4, D3D11_USAGE_STAGING, DXGI_FORMAT_B8G8R8A8_UNORM);
    add(4, 4, D3D11_USAGE_DEFAULT, DXGI_FORMAT_B8G8R8A8_UNORM);
    add(3, 4, D3D11_USAGE_STAGING, DXGI_FORMAT_B8G8R8A8_UNORM);
    add(4, 4, D3D11_USAGE_DEFAULT, DXGI_FORMAT_R8G8B8A8_UNORM);

    ::testing::internal::CaptureStderr();
    uint64_t expected = 0;
    for (int step = 0; step < 300; ++step) {
        Modelled &a = model[pick(model.size())];
        Modelled &b = model[pick(model.size())];
        switch (pick(4)) {
        case 0: {
            D3D11_MAPPED_SUBRESOURCE mapped{};
            const bool refused = !a.readable || a.mapped;
            EXPECT_EQ(context->Map(a.texture.get(), 0, D3D11_MAP_READ, 0, &mapped), refused ? E_INVALIDARG : S_OK);
            a.mapped = a.mapped || !refused;
            expected += refused;
            break;
        }
        case 1:
            context->Unmap(a.texture.get(), 0);
            expected += !a.mapped;
            a.mapped = false;
            break;
        case 2: {
            context->CopyResource(a.texture.get(), b.texture.get());
            const bool refused = &a == &b || a.width != b.width || a.height != b.height || a.format != b.format ||
                                 a.mapped || b.mapped;
            if (!refused) a.pixels = b.pixels;
            expected += refused;
            break;
        }
        default: {
            const D3D11_BOX box{pick(6), pick(6), 0, pick(6), pick(6), 1};
            const UINT x = pick(5), y = pick(5);
            context->CopySubresourceRegion(a.texture.get(), 0, x, y, 0, b.texture.get(), 0, &box);
            bool refused = &a == &b || a.format != b.format;
            const bool empty = box.left >= box.right || box.top >= box.bottom;
            if (!refused && !empty) {
                const UINT w = box.right - box.left, h = box.bottom - box.top;
                refused = box.right > b.width || box.bottom > b.height || x + w > a.width || y + h > a.height ||
                          a.mapped || b.mapped;
                for (UINT row = 0; !refused && row < h; ++row)
                    for (UINT column = 0; column < w; ++column)
                        a.pixels[(y + row) * a.width + x + column] =
                            b.pixels[(box.top + row) * b.width + box.left + column];
            }
            expected += refused;
            break;
        }
        }
        ASSERT_EQ(corvo_emu_count("validation_errors"), expected) << "step " << step;
    }
    const std::string told = ::testing::internal::GetCapturedStderr();
    size_t lines = 0;
    for (size_t at = told.find("corvo-emu: validation error: "); at != std::string::npos;
         at = told.find("corvo-emu: validation error: ", at + 1))
        ++lines;
    EXPECT_EQ(lines, expected);
    refusals = expected;

    for (const Modelled &m : model) {
        if (m.mapped) context->Unmap(m.texture.get(), 0);
        uint32_t pitch = 0;
        const uint8_t *texels = corvo::emu::texels(m.texture.get(), &pitch);
        for (UINT row = 0; row < m.height; ++row)
            EXPECT_EQ(std::memcmp(texels + row * pitch, m.pixels.data() + row * m.width, m.width * 4), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RefusalModel, ::testing::Values(1u, 2u, 3u, 4u));

}  // namespace
