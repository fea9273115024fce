// The emulated DXGI and Direct3D 11 device: what the library relies on where it is not obvious.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "diff/kernels/kernel_bytecode.h"
#include "emu_device_fixture.h"
#include "platform/emulated/dxbc/container.h"
#include "platform/emulated/graphics_access.h"
#include "tools/listing.h"

extern "C" uint32_t release_from_c(void *object);

namespace {

TEST_F(GraphicsTest, AdaptersAreEnumeratedFromTheListUntilNotFound) {
    ComPtr<IDXGIFactory1> factory;
    ASSERT_EQ(CreateDXGIFactory1(IID_PPV_ARGS(factory.put())), S_OK);
    ComPtr<IDXGIAdapter1> adapter;
    DXGI_ADAPTER_DESC1 desc{};
    ASSERT_EQ(factory->EnumAdapters1(0, adapter.put()), S_OK);
    ASSERT_EQ(adapter->GetDesc1(&desc), S_OK);
    EXPECT_EQ(desc.VendorId, 0x10DEu);
    EXPECT_EQ(factory->EnumAdapters1(1, adapter.put()), DXGI_ERROR_NOT_FOUND);
    EXPECT_FALSE(adapter);

    const uint32_t vendors[] = {0x1002, 0x8086};
    corvo_emu_set_adapters(vendors, 2);
    for (UINT i = 0; i < 2; ++i) {
        ASSERT_EQ(factory->EnumAdapters1(i, adapter.put()), S_OK);
        ASSERT_EQ(adapter->GetDesc1(&desc), S_OK);
        EXPECT_EQ(desc.VendorId, vendors[i]);
    }
    EXPECT_EQ(factory->EnumAdapters1(2, adapter.put()), DXGI_ERROR_NOT_FOUND);
    EXPECT_EQ(corvo_emu_count("EnumAdapters1"), 5u);

    corvo_emu_reset();
    EXPECT_EQ(factory->EnumAdapters1(1, adapter.put()), DXGI_ERROR_NOT_FOUND);
}

TEST_F(GraphicsTest, DxgiCallsMeetInjectedFaults) {
    corvo_emu_fail("CreateDXGIFactory1", E_OUTOFMEMORY, 0, 1);
    ComPtr<IDXGIFactory1> factory;
    EXPECT_EQ(CreateDXGIFactory1(IID_PPV_ARGS(factory.put())), E_OUTOFMEMORY);
    ASSERT_EQ(CreateDXGIFactory1(IID_PPV_ARGS(factory.put())), S_OK);

    corvo_emu_fail("EnumAdapters1", E_FAIL, 1, 1);
    ComPtr<IDXGIAdapter1> adapter;
    EXPECT_EQ(factory->EnumAdapters1(0, adapter.put()), S_OK);
    EXPECT_EQ(factory->EnumAdapters1(0, adapter.put()), E_FAIL);
    ASSERT_EQ(factory->EnumAdapters1(0, adapter.put()), S_OK);

    corvo_emu_fail("GetDesc1", DXGI_ERROR_DEVICE_REMOVED, 0, 1);
    DXGI_ADAPTER_DESC1 desc{};
    EXPECT_EQ(adapter->GetDesc1(&desc), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(adapter->GetDesc1(&desc), S_OK);
}

// What an output of a factory says of its monitor: the mode when the factory was made, until a new factory.
struct OutputSeen {
    HMONITOR monitor;
    RECT rect;
    const char16_t *name;
    DXGI_COLOR_SPACE_TYPE color_space;
    UINT bits;
};

void expect_outputs(IDXGIFactory1 *factory, const std::vector<OutputSeen> &expected) {
    ComPtr<IDXGIAdapter1> adapter;
    ASSERT_EQ(factory->EnumAdapters1(0, adapter.put()), S_OK);
    ComPtr<IDXGIOutput> output;
    for (UINT i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "output " << i);
        ASSERT_EQ(adapter->EnumOutputs(i, output.put()), S_OK);
        ComPtr<IDXGIOutput6> output6;
        ASSERT_EQ(output->QueryInterface(IID_PPV_ARGS(output6.put())), S_OK);
        DXGI_OUTPUT_DESC1 desc{};
        ASSERT_EQ(output6->GetDesc1(&desc), S_OK);
        const OutputSeen &e = expected[i];
        EXPECT_EQ(desc.Monitor, e.monitor);
        EXPECT_EQ(std::u16string(desc.DeviceName), e.name);
        EXPECT_EQ(desc.DesktopCoordinates.left, e.rect.left);
        EXPECT_EQ(desc.DesktopCoordinates.right, e.rect.right);
        EXPECT_EQ(desc.DesktopCoordinates.bottom, e.rect.bottom);
        EXPECT_TRUE(desc.AttachedToDesktop);
        EXPECT_EQ(desc.ColorSpace, e.color_space);
        EXPECT_EQ(desc.BitsPerColor, e.bits);
        ComPtr<IDXGIAdapter> parent;
        ASSERT_EQ(output->GetParent(IID_PPV_ARGS(parent.put())), S_OK);
        EXPECT_EQ(parent.get(), static_cast<IDXGIAdapter *>(adapter.get()));
    }
    EXPECT_EQ(adapter->EnumOutputs(UINT(expected.size()), output.put()), DXGI_ERROR_NOT_FOUND);
    EXPECT_FALSE(output);
}

TEST_F(GraphicsTest, OutputsDescribeTheMonitorsAndTheirModeAsTheFactoryFoundThem) {
    const HMONITOR first = corvo_emu_create_monitor(1920, 1080), second = corvo_emu_create_monitor(1280, 720);
    corvo_emu_set_hdr(second, 1, 200);
    ComPtr<IDXGIFactory1> factory;
    ASSERT_EQ(CreateDXGIFactory1(IID_PPV_ARGS(factory.put())), S_OK);
    const std::vector<OutputSeen> before = {
        {first, {0, 0, 1920, 1080}, u"\\\\.\\DISPLAY1", DXGI_COLOR_SPACE_RGB_FULL_G22_NONE_P709, 8},
        {second, {1920, 0, 3200, 720}, u"\\\\.\\DISPLAY2", DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020, 10}};
    expect_outputs(factory.get(), before);
    EXPECT_TRUE(factory->IsCurrent());

    corvo_emu_set_hdr(second, 1, 480);  // the SDR white alone is no new configuration
    EXPECT_TRUE(factory->IsCurrent());
    corvo_emu_set_hdr(first, 1, 80);
    EXPECT_FALSE(factory->IsCurrent());
    expect_outputs(factory.get(), before);  // what it found when it was made
    ComPtr<IDXGIFactory1> fresh;
    ASSERT_EQ(CreateDXGIFactory1(IID_PPV_ARGS(fresh.put())), S_OK);
    EXPECT_TRUE(fresh->IsCurrent());
    expect_outputs(fresh.get(),
                   {{first, {0, 0, 1920, 1080}, u"\\\\.\\DISPLAY1", DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020, 10},
                    before[1]});

    // A closed monitor leaves the desktop: the next one moves into its place.
    corvo_emu_close(first);
    EXPECT_FALSE(fresh->IsCurrent());
    ASSERT_EQ(CreateDXGIFactory1(IID_PPV_ARGS(fresh.put())), S_OK);
    expect_outputs(
        fresh.get(),
        {{second, {0, 0, 1280, 720}, u"\\\\.\\DISPLAY2", DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020, 10}});

    // Only the first adapter has the monitors; the device's adapter reaches its factory.
    const uint32_t vendors[] = {0x10DE, 0x8086};
    corvo_emu_set_adapters(vendors, 2);
    ComPtr<IDXGIAdapter1> other;
    ASSERT_EQ(fresh->EnumAdapters1(1, other.put()), S_OK);
    ComPtr<IDXGIOutput> output;
    EXPECT_EQ(other->EnumOutputs(0, output.put()), DXGI_ERROR_NOT_FOUND);
    ComPtr<ID3D11Device> device;
    ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                device.put(), nullptr, nullptr),
              S_OK);
    ComPtr<IDXGIDevice> dxgi;
    ASSERT_EQ(device->QueryInterface(IID_PPV_ARGS(dxgi.put())), S_OK);
    ComPtr<IDXGIAdapter> adapter;
    ASSERT_EQ(dxgi->GetAdapter(adapter.put()), S_OK);
    ComPtr<IDXGIFactory1> parent;
    ASSERT_EQ(adapter->GetParent(IID_PPV_ARGS(parent.put())), S_OK);
    EXPECT_TRUE(parent->IsCurrent());
    corvo_emu_set_hdr(second, 0, 80);
    EXPECT_FALSE(parent->IsCurrent());
}

TEST_F(GraphicsTest, OutputCallsMeetInjectedFaults) {
    corvo_emu_create_monitor(640, 480);
    ComPtr<IDXGIFactory1> factory;
    ASSERT_EQ(CreateDXGIFactory1(IID_PPV_ARGS(factory.put())), S_OK);
    ComPtr<IDXGIAdapter1> adapter;
    ASSERT_EQ(factory->EnumAdapters1(0, adapter.put()), S_OK);
    ComPtr<IDXGIOutput> output;
    corvo_emu_fail("EnumOutputs", E_FAIL, 0, 1);
    EXPECT_EQ(adapter->EnumOutputs(0, output.put()), E_FAIL);
    ASSERT_EQ(adapter->EnumOutputs(0, output.put()), S_OK);
    ComPtr<IDXGIOutput6> output6;
    corvo_emu_fail("IDXGIOutput6", E_NOINTERFACE, 0, 1);  // a system older than IDXGIOutput6
    EXPECT_EQ(output->QueryInterface(IID_PPV_ARGS(output6.put())), E_NOINTERFACE);
    EXPECT_FALSE(output6);
    ASSERT_EQ(output->QueryInterface(IID_PPV_ARGS(output6.put())), S_OK);
    corvo_emu_fail("IDXGIOutput6::GetDesc1", DXGI_ERROR_DEVICE_REMOVED, 0, 1);
    DXGI_OUTPUT_DESC1 desc{};
    EXPECT_EQ(output6->GetDesc1(&desc), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(output6->GetDesc1(&desc), S_OK);
    corvo_emu_fail("IsCurrent", E_FAIL, 0, 1);
    EXPECT_FALSE(factory->IsCurrent());
    EXPECT_TRUE(factory->IsCurrent());
}

TEST_F(GraphicsTest, DeviceOnAnAdapterTakesTheUnknownDriverTypeAndTheFirstFeatureLevel) {
    ComPtr<IDXGIFactory1> factory;
    ASSERT_EQ(CreateDXGIFactory1(IID_PPV_ARGS(factory.put())), S_OK);
    ComPtr<IDXGIAdapter1> adapter;
    ASSERT_EQ(factory->EnumAdapters1(0, adapter.put()), S_OK);
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_10_1, D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_0};
    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
    D3D_FEATURE_LEVEL level{};

    EXPECT_EQ(D3D11CreateDevice(adapter.get(), D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                levels, 3, D3D11_SDK_VERSION, device.put(), &level, context.put()),
              E_INVALIDARG);
    EXPECT_FALSE(device);
    ASSERT_EQ(D3D11CreateDevice(adapter.get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                levels, 3, D3D11_SDK_VERSION, device.put(), &level, context.put()),
              S_OK);
    EXPECT_EQ(level, D3D_FEATURE_LEVEL_10_1);
    EXPECT_EQ(device->GetFeatureLevel(), D3D_FEATURE_LEVEL_10_1);

    ComPtr<IDXGIDevice> dxgi_device;
    ASSERT_EQ(device->QueryInterface(IID_PPV_ARGS(dxgi_device.put())), S_OK);
    ComPtr<IDXGIAdapter> owner;
    ASSERT_EQ(dxgi_device->GetAdapter(owner.put()), S_OK);
    EXPECT_EQ(static_cast<IDXGIAdapter *>(adapter.get()), owner.get());
    ComPtr<ID3D11Device> back;
    ASSERT_EQ(dxgi_device->QueryInterface(IID_PPV_ARGS(back.put())), S_OK);
    EXPECT_EQ(back.get(), device.get());

    ComPtr<ID3D11Device> of_context;
    context->GetDevice(of_context.put());
    EXPECT_EQ(of_context.get(), device.get());

    corvo_emu_fail("D3D11CreateDevice", DXGI_ERROR_UNSUPPORTED, 0, 1);
    EXPECT_EQ(D3D11CreateDevice(adapter.get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0, levels, 3, D3D11_SDK_VERSION,
                                back.put(), nullptr, nullptr),
              DXGI_ERROR_UNSUPPORTED);
}

TEST_F(DeviceTest, TextureRowsArePaddedTo256Bytes) {
    const ComPtr<ID3D11Texture2D> staging = texture(texture_desc(100, 10, D3D11_USAGE_STAGING));
    D3D11_MAPPED_SUBRESOURCE mapped{};
    ASSERT_EQ(context->Map(staging.get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
    EXPECT_EQ(mapped.RowPitch, 512u);
    EXPECT_EQ(mapped.DepthPitch, 5120u);
    context->Unmap(staging.get(), 0);
    EXPECT_EQ(corvo_emu_count("bytes_mapped"), 5120u);
    EXPECT_EQ(corvo_emu_count("Map"), 1u);
    EXPECT_EQ(corvo_emu_count("Unmap"), 1u);

    uint32_t pitch = 0;
    EXPECT_NE(corvo::emu::texels(staging.get(), &pitch), nullptr);
    EXPECT_EQ(pitch, 512u);
}

TEST_F(DeviceTest, BuffersMapWithBothPitchesTheirByteWidth) {
    const ComPtr<ID3D11Buffer> readback = buffer(readback_desc(48));
    D3D11_MAPPED_SUBRESOURCE mapped{};
    ASSERT_EQ(context->Map(readback.get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
    EXPECT_EQ(mapped.RowPitch, 48u);
    EXPECT_EQ(mapped.DepthPitch, 48u);
    context->Unmap(readback.get(), 0);
}

TEST_F(DeviceTest, NewResourcesStartZeroFilled) {
    const ComPtr<ID3D11Texture2D> staging = texture(texture_desc(33, 7, D3D11_USAGE_STAGING, DXGI_FORMAT_R8_UINT));
    const std::vector<uint8_t> texels = read(staging.get());
    EXPECT_EQ(texels.size(), 256u * 7);
    EXPECT_EQ(std::count(texels.begin(), texels.end(), 0), std::ptrdiff_t(texels.size()));
    const ComPtr<ID3D11Buffer> readback = buffer(readback_desc(64));
    const std::vector<uint8_t> bytes = read(readback.get());
    EXPECT_EQ(bytes, std::vector<uint8_t>(64, 0));
}

TEST_F(DeviceTest, InitialDataIsReadWithItsPitch) {
    // Two rows of three BGRA texels, 4 bytes of gap after each row in the source.
    const uint8_t source[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 99, 99, 99, 99,
                                13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 99, 99, 99, 99};
    const D3D11_SUBRESOURCE_DATA initial{source, 16, 0};
    const ComPtr<ID3D11Texture2D> frame = texture(texture_desc(3, 2), &initial);
    const ComPtr<ID3D11Texture2D> staging = texture(texture_desc(3, 2, D3D11_USAGE_STAGING));
    context->CopyResource(staging.get(), frame.get());
    const std::vector<uint8_t> texels = read(staging.get());
    ASSERT_EQ(texels.size(), 512u);
    EXPECT_EQ(std::memcmp(texels.data(), source, 12), 0);
    EXPECT_EQ(std::memcmp(texels.data() + 256, source + 16, 12), 0);
    EXPECT_EQ(texels[12], 0);  // the padding is not the source's gap

    const uint32_t words[4] = {32, 16, 32, 32};
    const D3D11_SUBRESOURCE_DATA constants{words, 0, 0};
    const ComPtr<ID3D11Buffer> info =
        buffer({16, D3D11_USAGE_DYNAMIC, D3D11_BIND_CONSTANT_BUFFER, D3D11_CPU_ACCESS_WRITE, 0, 0}, &constants);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    ASSERT_EQ(context->Map(info.get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped), S_OK);
    EXPECT_EQ(std::memcmp(mapped.pData, words, 16), 0);
    context->Unmap(info.get(), 0);
    EXPECT_EQ(corvo_emu_count("bytes_mapped"), 512u);  // a write map reads nothing back
}

TEST_F(DeviceTest, MapForReadingNeedsCpuReadAccess) {
    const ComPtr<ID3D11Texture2D> frame = texture(texture_desc(8, 8));
    D3D11_MAPPED_SUBRESOURCE mapped{reinterpret_cast<void *>(1), 1, 1};
    const auto refused_map = [&](ID3D11Resource *resource, UINT subresource, D3D11_MAP type) {
        expect_refused("Map",
                       [&] { EXPECT_EQ(context->Map(resource, subresource, type, 0, &mapped), E_INVALIDARG); });
        EXPECT_EQ(mapped.pData, nullptr);
    };
    refused_map(frame.get(), 0, D3D11_MAP_READ);
    EXPECT_EQ(corvo_emu_count("bytes_mapped"), 0u);

    const ComPtr<ID3D11Texture2D> staging = texture(texture_desc(8, 8, D3D11_USAGE_STAGING));
    refused_map(staging.get(), 1, D3D11_MAP_READ);
    refused_map(staging.get(), 0, D3D11_MAP_WRITE_DISCARD);
    refused_map(nullptr, 0, D3D11_MAP_READ);
    ASSERT_EQ(context->Map(staging.get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
    expect_refused("Map",
                   [&] { EXPECT_EQ(context->Map(staging.get(), 0, D3D11_MAP_READ, 0, &mapped), E_INVALIDARG); });
    context->Unmap(staging.get(), 0);
}

// A destination filled with 0x5A and a source of the same description but for one change.
struct CopyCase {
    const char *name;
    void (*change)(D3D11_TEXTURE2D_DESC &);
};

class RefusedCopyTest : public DeviceTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(RefusedCopyTest, LeavesTheDestinationUntouched) {
    const std::vector<uint8_t> pattern(256 * 4, 0x5A);
    const D3D11_SUBRESOURCE_DATA filled{pattern.data(), 256, 0};
    const ComPtr<ID3D11Texture2D> destination = texture(texture_desc(4, 4, D3D11_USAGE_STAGING), &filled);
    D3D11_TEXTURE2D_DESC source_desc = texture_desc(4, 4);
    GetParam().change(source_desc);
    const ComPtr<ID3D11Texture2D> source = texture(source_desc);
    ASSERT_TRUE(source);
    const std::vector<uint8_t> before = read(destination.get());
    ASSERT_EQ(before[0], 0x5A);
    expect_refused("CopyResource", [&] { context->CopyResource(destination.get(), source.get()); });
    EXPECT_EQ(read(destination.get()), before);
    EXPECT_EQ(corvo_emu_count("CopyResource"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    DifferentDescriptions, RefusedCopyTest,
    ::testing::Values(CopyCase{"Width", [](D3D11_TEXTURE2D_DESC &d) { d.Width = 5; }},
                      CopyCase{"Height", [](D3D11_TEXTURE2D_DESC &d) { d.Height = 3; }},
                      CopyCase{"Format", [](D3D11_TEXTURE2D_DESC &d) { d.Format = DXGI_FORMAT_R8G8B8A8_UNORM; }},
                      CopyCase{"MipLevels", [](D3D11_TEXTURE2D_DESC &d) { d.MipLevels = 2; }}),
    [](const ::testing::TestParamInfo<CopyCase> &info) { return info.param.name; });

TEST_F(DeviceTest, CopiesBetweenEqualDescriptionsAndNotBetweenTypes) {
    const uint32_t words[4] = {1, 2, 3, 4};
    const D3D11_SUBRESOURCE_DATA initial{words, 0, 0};
    const ComPtr<ID3D11Buffer> result = buffer(structured_desc(16), &initial);
    const ComPtr<ID3D11Buffer> readback = buffer(readback_desc(16));
    context->CopyResource(readback.get(), result.get());
    std::vector<uint8_t> bytes = read(readback.get());
    ASSERT_EQ(bytes.size(), 16u);
    EXPECT_EQ(std::memcmp(bytes.data(), words, 16), 0);

    const ComPtr<ID3D11Buffer> larger = buffer(readback_desc(32));
    expect_refused("CopyResource", [&] { context->CopyResource(larger.get(), result.get()); });
    EXPECT_EQ(read(larger.get()), std::vector<uint8_t>(32, 0));

    const ComPtr<ID3D11Texture2D> staging = texture(texture_desc(1, 1, D3D11_USAGE_STAGING, DXGI_FORMAT_R32_UINT));
    expect_refused("CopyResource", [&] { context->CopyResource(staging.get(), result.get()); });
    EXPECT_EQ(read(staging.get()), std::vector<uint8_t>(256, 0));
}

// A description the runtime refuses, and the call that must refuse it.
struct RefusedCase {
    const char *name;
    HRESULT (*create)(ID3D11Device *);
    uint64_t refusals = 0;  // counted as validation errors: a misuse rather than an unsupported description
};

HRESULT create_texture(ID3D11Device *device, D3D11_TEXTURE2D_DESC desc) {
    ComPtr<ID3D11Texture2D> texture;
    const HRESULT hr = device->CreateTexture2D(&desc, nullptr, texture.put());
    EXPECT_EQ(FAILED(hr), !texture);
    return hr;
}

HRESULT create_buffer(ID3D11Device *device, D3D11_BUFFER_DESC desc) {
    ComPtr<ID3D11Buffer> buffer;
    const HRESULT hr = device->CreateBuffer(&desc, nullptr, buffer.put());
    EXPECT_EQ(FAILED(hr), !buffer);
    return hr;
}

class RefusedDescriptionTest : public DeviceTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedDescriptionTest, FailsWithInvalidArg) {
    EXPECT_EQ(GetParam().create(device.get()), E_INVALIDARG);
    refusals = GetParam().refusals;
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, RefusedDescriptionTest,
    ::testing::Values(
        RefusedCase{"StagingWithBindFlags",
                    [](ID3D11Device *d) {
                        D3D11_TEXTURE2D_DESC desc = texture_desc(4, 4, D3D11_USAGE_STAGING);
                        desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
                        return create_texture(d, desc);
                    }},
        RefusedCase{"StagingWithoutCpuAccess",
                    [](ID3D11Device *d) {
                        D3D11_TEXTURE2D_DESC desc = texture_desc(4, 4, D3D11_USAGE_STAGING);
                        desc.CPUAccessFlags = 0;
                        return create_texture(d, desc);
                    }},
        RefusedCase{"DefaultWithCpuAccess",
                    [](ID3D11Device *d) {
                        D3D11_TEXTURE2D_DESC desc = texture_desc(4, 4);
                        desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
                        return create_texture(d, desc);
                    }},
        RefusedCase{"ZeroWidth", [](ID3D11Device *d) { return create_texture(d, texture_desc(0, 4)); }},
        RefusedCase{"UnimplementedFormat",
                    [](ID3D11Device *d) {
                        return create_texture(d, texture_desc(4, 4, D3D11_USAGE_DEFAULT, DXGI_FORMAT(24)));
                    }},
        RefusedCase{"UnorderedAccessToBgraOnADeviceThatCannotStoreIt",
                    [](ID3D11Device *) {
                        corvo_emu_set_bgra_uav_store(0);
                        ComPtr<ID3D11Device> device;
                        EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                                    D3D11_SDK_VERSION, device.put(), nullptr, nullptr),
                                  S_OK);
                        D3D11_TEXTURE2D_DESC desc = texture_desc(4, 4);
                        desc.BindFlags |= D3D11_BIND_UNORDERED_ACCESS;
                        return create_texture(device.get(), desc);
                    },
                    1},
        RefusedCase{"Multisampled",
                    [](ID3D11Device *d) {
                        D3D11_TEXTURE2D_DESC desc = texture_desc(4, 4);
                        desc.SampleDesc.Count = 4;
                        return create_texture(d, desc);
                    }},
        RefusedCase{"DynamicWithCpuRead",
                    [](ID3D11Device *d) {
                        return create_buffer(d, {16, D3D11_USAGE_DYNAMIC, D3D11_BIND_CONSTANT_BUFFER,
                                                 D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE, 0, 0});
                    }},
        RefusedCase{"ConstantBufferOf20Bytes",
                    [](ID3D11Device *d) {
                        return create_buffer(d, {20, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0});
                    }},
        RefusedCase{"StructuredWithoutStride",
                    [](ID3D11Device *d) {
                        D3D11_BUFFER_DESC desc = structured_desc(16);
                        desc.StructureByteStride = 0;
                        return create_buffer(d, desc);
                    }},
        RefusedCase{"ZeroByteWidth", [](ID3D11Device *d) { return create_buffer(d, readback_desc(0)); }},
        RefusedCase{"ViewWithoutBindFlag",
                    [](ID3D11Device *d) {
                        ComPtr<ID3D11Texture2D> staging;
                        const D3D11_TEXTURE2D_DESC desc = texture_desc(4, 4, D3D11_USAGE_STAGING);
                        EXPECT_EQ(d->CreateTexture2D(&desc, nullptr, staging.put()), S_OK);
                        ComPtr<ID3D11ShaderResourceView> view;
                        return d->CreateShaderResourceView(staging.get(), nullptr, view.put());
                    },
                    1},
        RefusedCase{"UavPastTheBuffer",
                    [](ID3D11Device *d) {
                        ComPtr<ID3D11Buffer> buffer;
                        const D3D11_BUFFER_DESC desc = structured_desc(16);
                        EXPECT_EQ(d->CreateBuffer(&desc, nullptr, buffer.put()), S_OK);
                        D3D11_UNORDERED_ACCESS_VIEW_DESC view_desc{};
                        view_desc.Format = DXGI_FORMAT_UNKNOWN;
                        view_desc.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
                        view_desc.Buffer = {0, 5, 0};
                        ComPtr<ID3D11UnorderedAccessView> view;
                        return d->CreateUnorderedAccessView(buffer.get(), &view_desc, view.put());
                    }},
        RefusedCase{"BytecodeTheExecutorRefuses",
                    [](ID3D11Device *d) {
                        const uint8_t bytecode[4] = {'D', 'X', 'B', 'C'};
                        ComPtr<ID3D11ComputeShader> shader;
                        return d->CreateComputeShader(bytecode, sizeof bytecode, nullptr, shader.put());
                    }}),
    [](const ::testing::TestParamInfo<RefusedCase> &info) { return info.param.name; });

TEST_F(DeviceTest, TheChangeDetectorsResourcesAreAccepted) {
    D3D11_TEXTURE2D_DESC frame_desc = texture_desc(100, 70);
    frame_desc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
    frame_desc.MiscFlags = D3D11_RESOURCE_MISC_GENERATE_MIPS;
    const ComPtr<ID3D11Texture2D> frame = texture(frame_desc);
    D3D11_SHADER_RESOURCE_VIEW_DESC srv_desc{};
    srv_desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    srv_desc.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    srv_desc.Texture2D = {0, 1};
    ComPtr<ID3D11ShaderResourceView> frame_view;
    EXPECT_EQ(device->CreateShaderResourceView(frame.get(), &srv_desc, frame_view.put()), S_OK);

    D3D11_TEXTURE2D_DESC cell_desc = texture_desc(100, 70, D3D11_USAGE_DEFAULT, DXGI_FORMAT_R8_UINT);
    cell_desc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
    const ComPtr<ID3D11Texture2D> cells = texture(cell_desc);
    D3D11_UNORDERED_ACCESS_VIEW_DESC uav_desc{};
    uav_desc.Format = DXGI_FORMAT_R8_UINT;
    uav_desc.ViewDimension = D3D11_UAV_DIMENSION_TEXTURE2D;
    ComPtr<ID3D11UnorderedAccessView> cell_view;
    EXPECT_EQ(device->CreateUnorderedAccessView(cells.get(), &uav_desc, cell_view.put()), S_OK);

    const ComPtr<ID3D11Buffer> result = buffer(structured_desc(48));
    uav_desc.Format = DXGI_FORMAT_UNKNOWN;
    uav_desc.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
    uav_desc.Buffer = {0, 12, 0};
    ComPtr<ID3D11UnorderedAccessView> result_view;
    EXPECT_EQ(device->CreateUnorderedAccessView(result.get(), &uav_desc, result_view.put()), S_OK);
    D3D11_UNORDERED_ACCESS_VIEW_DESC described{};
    result_view->GetDesc(&described);
    EXPECT_EQ(described.Buffer.NumElements, 12u);

    const ComPtr<ID3D11Buffer> readback = buffer(readback_desc(48));
    D3D11_BUFFER_DESC readback_described{};
    readback->GetDesc(&readback_described);
    EXPECT_EQ(readback_described.StructureByteStride, 4u);
    EXPECT_EQ(corvo_emu_count("CreateUnorderedAccessView"), 2u);
}

// Threads of this process.
size_t thread_count() {
    return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                std::filesystem::directory_iterator()));
}

TEST_F(DeviceTest, DispatchRunsOnWorkerThreadsThatStartWithItAndGoWithTheDevice) {
    const size_t before = thread_count();
    const unsigned cores = std::thread::hardware_concurrency();
    {
        ComPtr<ID3D11ComputeShader> clear;
        ASSERT_EQ(device->CreateComputeShader(corvo::kernels::kClearDiffBuffCS, corvo::kernels::kClearDiffBuffCSSize,
                                              nullptr, clear.put()),
                  S_OK);
        const std::vector<uint32_t> ones(1024, ~0u);
        const D3D11_SUBRESOURCE_DATA initial{ones.data(), 4096, 0};
        const ComPtr<ID3D11Buffer> words = buffer(structured_desc(4096), &initial);
        D3D11_UNORDERED_ACCESS_VIEW_DESC uav_desc{};
        uav_desc.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
        uav_desc.Buffer = {0, 1000, 0};
        ComPtr<ID3D11UnorderedAccessView> view;
        ASSERT_EQ(device->CreateUnorderedAccessView(words.get(), &uav_desc, view.put()), S_OK);
        EXPECT_EQ(thread_count(), before);  // no worker before the first dispatch

        context->CSSetShader(clear.get(), nullptr, 0);
        ID3D11UnorderedAccessView *views[] = {view.get()};
        context->CSSetUnorderedAccessViews(0, 1, views, nullptr);
        context->Dispatch(64, 1, 1);  // 64 groups of 16 threads: every word of the view, and 24 threads past it
        EXPECT_EQ(thread_count(), before + (cores > 1 ? cores - 1 : 0));

        const ComPtr<ID3D11Buffer> readback = buffer(readback_desc(4096));
        context->CopyResource(readback.get(), words.get());
        const std::vector<uint8_t> bytes = read(readback.get());
        ASSERT_EQ(bytes.size(), 4096u);
        for (size_t i = 0; i < 1024; ++i) {
            uint32_t word;
            std::memcpy(&word, &bytes[i * 4], 4);
            ASSERT_EQ(word, i < 1000 ? 0u : ~0u) << i;
        }
        context->ClearState();
    }
    // The last reference to the device joins its workers.
    context.reset();
    device.reset();
    EXPECT_EQ(thread_count(), before);
    const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1, D3D11_SDK_VERSION,
                                device.put(), nullptr, context.put()),
              S_OK);
}

TEST_F(DeviceTest, CreateTexture2DMeetsInjectedFaultsButTheCaptureServiceDoesNot) {
    corvo_emu_fail("CreateTexture2D", E_OUTOFMEMORY, 1, 1);
    const D3D11_TEXTURE2D_DESC desc = texture_desc(4, 4);
    ComPtr<ID3D11Texture2D> created;
    EXPECT_EQ(device->CreateTexture2D(&desc, nullptr, created.put()), S_OK);
    ASSERT_EQ(corvo::emu::create_texture(device.get(), desc, created.put()), S_OK);
    EXPECT_EQ(device->CreateTexture2D(&desc, nullptr, created.put()), E_OUTOFMEMORY);
    EXPECT_FALSE(created);
    EXPECT_EQ(device->CreateTexture2D(&desc, nullptr, created.put()), S_OK);
    EXPECT_EQ(corvo_emu_count("CreateTexture2D"), 3u);
}

TEST_F(DeviceTest, RemovedDeviceRefusesCreatesAndMapsWithItsReason) {
    const ComPtr<ID3D11Buffer> readback = buffer(readback_desc(16));
    EXPECT_EQ(corvo::emu::removed_reason(device.get()), S_OK);
    corvo_emu_remove_devices(DXGI_ERROR_DEVICE_HUNG);

    EXPECT_EQ(device->GetDeviceRemovedReason(), DXGI_ERROR_DEVICE_HUNG);
    EXPECT_EQ(corvo::emu::removed_reason(device.get()), DXGI_ERROR_DEVICE_HUNG);
    const D3D11_TEXTURE2D_DESC desc = texture_desc(4, 4);
    ComPtr<ID3D11Texture2D> created;
    EXPECT_EQ(device->CreateTexture2D(&desc, nullptr, created.put()), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(corvo::emu::create_texture(device.get(), desc, created.put()), DXGI_ERROR_DEVICE_REMOVED);
    const D3D11_BUFFER_DESC buffer_desc = readback_desc(16);
    ComPtr<ID3D11Buffer> buffer;
    EXPECT_EQ(device->CreateBuffer(&buffer_desc, nullptr, buffer.put()), DXGI_ERROR_DEVICE_REMOVED);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    EXPECT_EQ(context->Map(readback.get(), 0, D3D11_MAP_READ, 0, &mapped), DXGI_ERROR_DEVICE_REMOVED);

    // A later removal keeps the first reason; a device created afterwards works.
    corvo_emu_remove_devices(DXGI_ERROR_DEVICE_RESET);
    EXPECT_EQ(device->GetDeviceRemovedReason(), DXGI_ERROR_DEVICE_HUNG);
    ComPtr<ID3D11Device> fresh;
    ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                fresh.put(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(fresh->GetDeviceRemovedReason(), S_OK);
    EXPECT_EQ(fresh->CreateTexture2D(&desc, nullptr, created.put()), S_OK);
}

TEST_F(DeviceTest, BindingsHoldTheirObjectsUntilClearState) {
    ComPtr<ID3D11Buffer> result = buffer(structured_desc(16));
    ComPtr<ID3D11UnorderedAccessView> view;
    ASSERT_EQ(device->CreateUnorderedAccessView(result.get(), nullptr, view.put()), S_OK);
    ID3D11UnorderedAccessView *const views[] = {view.get()};
    context->CSSetUnorderedAccessViews(0, 1, views, nullptr);
    const uint64_t with_both = corvo_emu_count("live_objects");
    view.reset();
    result.reset();
    EXPECT_EQ(corvo_emu_count("live_objects"), with_both);  // the context keeps the view, the view its buffer
    context->ClearState();
    EXPECT_EQ(corvo_emu_count("live_objects"), with_both - 2);
}

TEST_F(DeviceTest, ChildrenHoldTheirDevice) {
    ComPtr<ID3D11Texture2D> frame = texture(texture_desc(4, 4));
    ComPtr<ID3D11ShaderResourceView> view;
    ASSERT_EQ(device->CreateShaderResourceView(frame.get(), nullptr, view.put()), S_OK);
    D3D11_SHADER_RESOURCE_VIEW_DESC view_desc{};
    view->GetDesc(&view_desc);
    EXPECT_EQ(view_desc.Format, DXGI_FORMAT_B8G8R8A8_UNORM);
    EXPECT_EQ(view_desc.ViewDimension, D3D11_SRV_DIMENSION_TEXTURE2D);
    ComPtr<ID3D11Resource> viewed;
    view->GetResource(viewed.put());
    EXPECT_EQ(viewed.get(), static_cast<ID3D11Resource *>(frame.get()));

    ID3D11Device *const raw = device.get();
    context.reset();
    device.reset();
    ComPtr<ID3D11Device> owner;
    view->GetDevice(owner.put());
    EXPECT_EQ(owner.get(), raw);
    owner->GetImmediateContext(context.put());
    device = owner;
}

TEST_F(DeviceTest, ACHostReleasesThroughTheThirdSlot) {
    ComPtr<ID3D11Texture2D> frame = texture(texture_desc(4, 4));
    frame->AddRef();
    EXPECT_EQ(release_from_c(frame.get()), 1u);
    EXPECT_EQ(release_from_c(frame.detach()), 0u);
}

TEST_F(DeviceTest, TexturesAreCreatedFromAnotherThreadWhileTheHostUsesTheDevice) {
    const D3D11_TEXTURE2D_DESC desc = texture_desc(16, 16);
    std::thread compositor([&] {
        for (int i = 0; i < 200; ++i) {
            ComPtr<ID3D11Texture2D> created;
            EXPECT_EQ(corvo::emu::create_texture(device.get(), desc, created.put()), S_OK);
        }
    });
    const ComPtr<ID3D11Buffer> readback = buffer(readback_desc(16));
    for (int i = 0; i < 200; ++i) {
        ComPtr<ID3D11Texture2D> created;
        EXPECT_EQ(device->CreateTexture2D(&desc, nullptr, created.put()), S_OK);
        EXPECT_EQ(read(readback.get()).size(), 16u);
    }
    compositor.join();
    EXPECT_EQ(corvo_emu_count("CreateTexture2D"), 200u);
}

// What the device reports for a format, and whether it has been told not to store BGRA from kernels.
struct SupportCase {
    DXGI_FORMAT format;
    bool bgra_uav_store;
    HRESULT answer;
    UINT support, support2;
};

TEST_F(GraphicsTest, FormatSupportTellsWhatTheDeviceImplements) {
    constexpr UINT kBase = 0x20 | 0x100 | 0x4000 | 0x20000;  // TEXTURE2D, SHADER_LOAD, RENDER_TARGET, CPU_LOCKABLE
    constexpr UINT kTypedUav = 0x2000000;
    constexpr UINT kStore = 0x80, kLoad = 0x40;
    const SupportCase cases[] = {
        {DXGI_FORMAT_B8G8R8A8_UNORM, true, S_OK, kBase | kTypedUav, kStore},
        {DXGI_FORMAT_B8G8R8A8_UNORM, false, S_OK, kBase, 0},
        {DXGI_FORMAT_R8G8B8A8_UNORM, false, S_OK, kBase | kTypedUav, kStore},
        {DXGI_FORMAT_R16G16B16A16_FLOAT, true, S_OK, kBase | kTypedUav, kStore},
        {DXGI_FORMAT_R32_UINT, true, S_OK, kBase | kTypedUav, kStore | kLoad},
        {DXGI_FORMAT(24), true, E_FAIL, 0, 0},  // R10G10B10A2_UNORM is not implemented
    };
    ComPtr<ID3D11Device> device;
    for (const SupportCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << (c.bgra_uav_store ? "" : ", no BGRA store"));
        corvo_emu_set_bgra_uav_store(c.bgra_uav_store);
        ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                    device.put(), nullptr, nullptr),
                  S_OK);
        corvo_emu_set_bgra_uav_store(!c.bgra_uav_store);  // a device keeps what it was created with
        UINT support = 1;
        EXPECT_EQ(device->CheckFormatSupport(c.format, &support), c.answer);
        EXPECT_EQ(support, c.support);
        D3D11_FEATURE_DATA_FORMAT_SUPPORT first{c.format, 1};
        EXPECT_EQ(device->CheckFeatureSupport(D3D11_FEATURE_FORMAT_SUPPORT, &first, sizeof first), c.answer);
        EXPECT_EQ(first.OutFormatSupport, c.support);
        D3D11_FEATURE_DATA_FORMAT_SUPPORT2 second{c.format, 1};
        EXPECT_EQ(device->CheckFeatureSupport(D3D11_FEATURE_FORMAT_SUPPORT2, &second, sizeof second), c.answer);
        EXPECT_EQ(second.OutFormatSupport2, c.support2);
        EXPECT_EQ(device->CheckFeatureSupport(D3D11_FEATURE_FORMAT_SUPPORT2, &second, sizeof second + 4),
                  E_INVALIDARG);
    }
    corvo_emu_fail("CheckFeatureSupport", E_NOTIMPL, 0, 1);  // as Wine answers
    D3D11_FEATURE_DATA_FORMAT_SUPPORT2 second{DXGI_FORMAT_B8G8R8A8_UNORM, 0};
    EXPECT_EQ(device->CheckFeatureSupport(D3D11_FEATURE_FORMAT_SUPPORT2, &second, sizeof second), E_NOTIMPL);
}

// Half-float vectors (sign, exponent biased by 15, 10-bit fraction), four to a texel: loaded through a shader
// resource view as floats, stored back to half floats unchanged, and stored through typed views of both 8-bit
// formats by the float-to-UNORM rule (NaN 0, clamped to [0, 1], x * 255 + 0.5 truncated).
TEST_F(DeviceTest, HalfFloatTexelsLoadExactlyAndStoreToEightBitViewsByTheUnormRule) {
    const uint16_t halves[16] = {0x3C00, 0xC000, 0x3800, 0x4100, 0x4A40, 0x3555, 0x7BFF, 0x0400,
                                 0x03FF, 0x0001, 0x8000, 0x7C00, 0xFC00, 0x7E00, 0x2C00, 0x7C01};
    const float inf = INFINITY, tiny = std::ldexp(1.0f, -24);  // 2^-24, the smallest subnormal half
    const float values[16] = {1.0f, -2.0f, 0.5f, 2.5f, 12.5f, 1365.0f / 4096, 65504.0f, 1024 * tiny, 1023 * tiny,
                              tiny, -0.0f, inf,  -inf, NAN,   0.0625f,        NAN};
    const uint8_t rgba[16] = {255, 0, 128, 255, 255, 85, 255, 0, 0, 0, 0, 255, 0, 0, 16, 0};

    const D3D11_SUBRESOURCE_DATA initial{halves, 32, 0};
    const ComPtr<ID3D11Texture2D> source =
        texture(texture_desc(4, 1, D3D11_USAGE_DEFAULT, DXGI_FORMAT_R16G16B16A16_FLOAT), &initial);
    ComPtr<ID3D11ShaderResourceView> srv;
    ASSERT_EQ(device->CreateShaderResourceView(source.get(), nullptr, srv.put()), S_OK);
    const ComPtr<ID3D11Buffer> floats =
        buffer({64, D3D11_USAGE_DEFAULT, D3D11_BIND_UNORDERED_ACCESS, 0, D3D11_RESOURCE_MISC_BUFFER_STRUCTURED, 16});
    ComPtr<ID3D11UnorderedAccessView> uavs[4];
    ASSERT_EQ(device->CreateUnorderedAccessView(floats.get(), nullptr, uavs[0].put()), S_OK);
    ComPtr<ID3D11Texture2D> bytes[3];
    const DXGI_FORMAT stored_as[3] = {DXGI_FORMAT_R8G8B8A8_UNORM, DXGI_FORMAT_B8G8R8A8_UNORM,
                                      DXGI_FORMAT_R16G16B16A16_FLOAT};
    for (int i = 0; i < 3; ++i) {
        D3D11_TEXTURE2D_DESC desc = texture_desc(4, 1, D3D11_USAGE_DEFAULT, stored_as[i]);
        desc.BindFlags = D3D11_BIND_UNORDERED_ACCESS;
        bytes[i] = texture(desc);
        ASSERT_EQ(device->CreateUnorderedAccessView(bytes[i].get(), nullptr, uavs[i + 1].put()), S_OK);
    }
    corvo::dxbc::ProgramTokens tokens;
    std::vector<uint32_t> words;
    std::string error;
    ASSERT_TRUE(corvo::dxbc::parse_listing(R"(cs_5_0
dcl_globalFlags refactoringAllowed
dcl_resource_texture2d (float,float,float,float) t0
dcl_uav_structured u0, 16
dcl_uav_typed_texture2d (float,float,float,float) u1
dcl_uav_typed_texture2d (float,float,float,float) u2
dcl_uav_typed_texture2d (float,float,float,float) u3
dcl_input vThreadID.x
dcl_temps 2
dcl_thread_group 4, 1, 1
mov r1.xyzw, l(0, 0, 0, 0)
mov r1.x, vThreadID.x
ld r0.xyzw, r1.xyzw, t0.xyzw
store_structured u0.xyzw, vThreadID.x, l(0), r0.xyzw
store_uav_typed u1.xyzw, r1.xyyy, r0.xyzw
store_uav_typed u2.xyzw, r1.xyyy, r0.xyzw
store_uav_typed u3.xyzw, r1.xyyy, r0.xyzw
ret
)",
                                           &tokens, &error))
        << error;
    ASSERT_TRUE(corvo::dxbc::encode_program(tokens, &words, &error)) << error;
    const std::vector<uint8_t> blob = corvo::dxbc::write_compute_shader(words);
    ComPtr<ID3D11ComputeShader> kernel;
    ASSERT_EQ(device->CreateComputeShader(blob.data(), blob.size(), nullptr, kernel.put()), S_OK);
    context->CSSetShader(kernel.get(), nullptr, 0);
    ID3D11ShaderResourceView *const views[] = {srv.get()};
    context->CSSetShaderResources(0, 1, views);
    ID3D11UnorderedAccessView *const outputs[] = {uavs[0].get(), uavs[1].get(), uavs[2].get(), uavs[3].get()};
    context->CSSetUnorderedAccessViews(0, 4, outputs, nullptr);
    context->Dispatch(1, 1, 1);

    const ComPtr<ID3D11Buffer> readback = buffer(readback_desc(64));
    context->CopyResource(readback.get(), floats.get());
    const std::vector<uint8_t> loaded = read(readback.get());
    ASSERT_EQ(loaded.size(), 64u);
    for (int i = 0; i < 16; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &loaded[size_t(i) * 4], 4);
        const float got = std::bit_cast<float>(bits);
        if (std::isnan(values[i]))
            EXPECT_TRUE(std::isnan(got)) << "half " << std::hex << halves[i];
        else
            EXPECT_EQ(bits, std::bit_cast<uint32_t>(values[i])) << "half " << std::hex << halves[i];
    }
    for (int i = 0; i < 3; ++i) {
        const ComPtr<ID3D11Texture2D> staging = texture(texture_desc(4, 1, D3D11_USAGE_STAGING, stored_as[i]));
        context->CopyResource(staging.get(), bytes[i].get());
        const std::vector<uint8_t> stored = read(staging.get());
        ASSERT_EQ(stored.size(), 256u);
        for (int at = 0; at < 16; ++at) {
            if (i == 2) {
                uint16_t half;
                std::memcpy(&half, &stored[size_t(at) * 2], 2);
                if (std::isnan(values[at]))
                    EXPECT_TRUE((half & 0x7C00) == 0x7C00 && (half & 0x3FF)) << std::hex << half;
                else
                    EXPECT_EQ(half, halves[at]);
                continue;
            }
            const int texel = at / 4, c = at % 4;
            const int byte = i == 1 && c != 1 && c != 3 ? 2 - c : c;  // BGRA keeps R and B swapped
            EXPECT_EQ(stored[size_t(texel * 4 + byte)], rgba[at]) << stored_as[i] << " " << texel;
        }
    }

    // Copies and maps of half-float textures move 8 bytes a texel, with rows padded as for every format.
    const ComPtr<ID3D11Texture2D> staging =
        texture(texture_desc(40, 2, D3D11_USAGE_STAGING, DXGI_FORMAT_R16G16B16A16_FLOAT));
    const D3D11_BOX third{2, 0, 0, 3, 1, 1};
    context->CopySubresourceRegion(staging.get(), 0, 39, 1, 0, source.get(), 0, &third);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    ASSERT_EQ(context->Map(staging.get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
    EXPECT_EQ(mapped.RowPitch, 512u);
    EXPECT_EQ(std::memcmp(static_cast<const uint8_t *>(mapped.pData) + 512 + 39 * 8, &halves[8], 8), 0);
    context->Unmap(staging.get(), 0);
}

}  // namespace
