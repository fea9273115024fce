// The change detector on the system's own Direct3D 11 device (Wine's, in the Wine lane) with the embedded
// kernels: for frame pairs it must find the same changed cells as a plain CPU comparison.
#include <vector>

#include "check.h"
#include "diff/diff_detector.h"
#include "diff/extract_rects.h"

namespace {

constexpr uint32_t kCell = 32;

struct Frame {
    uint32_t width, height;
    std::vector<uint8_t> bgra;
    Frame(uint32_t w, uint32_t h) : width(w), height(h), bgra(size_t(w) * h * 4) {
        // A pattern that differs from pixel to pixel, so a shifted or mirrored read shows.
        for (size_t i = 0; i < bgra.size(); ++i) bgra[i] = uint8_t(i * 7 + i / 4093);
    }
    uint8_t *pixel(uint32_t x, uint32_t y) { return &bgra[(size_t(y) * width + x) * 4]; }
};

// The CPU's answer: the changed rectangles when a cell changes with any red, green or blue difference.
std::vector<corvo::DirtyRect> reference_rects(const Frame &now, const Frame &before) {
    const uint32_t columns = (now.width + kCell - 1) / kCell, rows = (now.height + kCell - 1) / kCell;
    const uint32_t row_words = std::max<uint32_t>(4, (columns + 31) / 32);
    std::vector<uint32_t> mask(size_t(row_words) * rows, 0);
    for (uint32_t y = 0; y < now.height; ++y)
        for (uint32_t x = 0; x < now.width; ++x) {
            const size_t at = (size_t(y) * now.width + x) * 4;
            if (now.bgra[at] != before.bgra[at] || now.bgra[at + 1] != before.bgra[at + 1] ||
                now.bgra[at + 2] != before.bgra[at + 2]) {
                const uint32_t cx = x / kCell, cy = y / kCell;
                mask[size_t(cy) * row_words + cx / 32] |= 1u << (cx % 32);
            }
        }
    std::vector<corvo::DirtyRect> rects;
    std::vector<uint32_t> open;
    corvo::extract_rects(mask.data(), rows, row_words, now.width, now.height, rects, open);
    return rects;
}

corvo::ComPtr<ID3D11Texture2D> texture_of(ID3D11Device *device, const Frame &frame) {
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = frame.width;
    desc.Height = frame.height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
    const D3D11_SUBRESOURCE_DATA data{frame.bgra.data(), frame.width * 4, 0};
    corvo::ComPtr<ID3D11Texture2D> texture;
    CHECK(SUCCEEDED(device->CreateTexture2D(&desc, &data, texture.put())));
    return texture;
}

bool same(const std::vector<corvo::DirtyRect> &a, const std::vector<corvo::DirtyRect> &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].left != b[i].left || a[i].top != b[i].top || a[i].right != b[i].right || a[i].bottom != b[i].bottom)
            return false;
    return true;
}

void print_rects(const char *label, const std::vector<corvo::DirtyRect> &rects) {
    std::printf("  %s:", label);
    for (const corvo::DirtyRect &r : rects) std::printf(" (%u,%u)-(%u,%u)", r.left, r.top, r.right, r.bottom);
    std::printf("\n");
}

// Runs one pair through a fresh detector, as the session does: the first frame is new and accepted, the second
// compared with it.
void check_pair(ID3D11Device *device, ID3D11DeviceContext *context, const char *name, const Frame &before,
                const Frame &now, size_t expected_rects) {
    corvo::DiffDetector detector;
    CHECK(detector.init(corvo::ComPtr<ID3D11Device>::share(device),
                        corvo::ComPtr<ID3D11DeviceContext>::share(context)));
    corvo::ComPtr<ID3D11Texture2D> first = texture_of(device, before), second = texture_of(device, now);
    if (!first || !second) return;
    CHECK(detector.detect({first.get()}, before.width, before.height).change == corvo::Change::kNew);
    CHECK(detector.picture().texture != nullptr);
    detector.accept();
    const corvo::Detection detection = detector.detect({second.get()}, now.width, now.height);
    const bool detected = detection.change != corvo::Change::kNew;
    const std::vector<corvo::DirtyRect> rects(detection.rects.begin(), detection.rects.end());
    const float ratio = detection.ratio;
    const std::vector<corvo::DirtyRect> expected = reference_rects(now, before);
    const bool ok = detected && same(rects, expected) && expected.size() == expected_rects;
    std::printf("%s: %s\n", name, ok ? "same cells as the CPU" : "DIFFERENT");
    if (!ok) {
        print_rects("gpu", rects);
        print_rects("cpu", expected);
    }
    CHECK(detected);
    CHECK(expected.size() == expected_rects);  // the pair is what its name says
    CHECK(same(rects, expected));
    CHECK(expected_rects != 0 || ratio == 0.0f);
    detector.shutdown();
}

}  // namespace

int main() {
    corvo::ComPtr<ID3D11Device> device;
    corvo::ComPtr<ID3D11DeviceContext> context;
    const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    const HRESULT hr =
        D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, &level, 1,
                          D3D11_SDK_VERSION, device.put(), nullptr, context.put());
    CHECK(SUCCEEDED(hr));
    if (FAILED(hr)) return wgc_test::finish("detector_host");

    const Frame base(150, 100);  // 5 x 4 cells, the last row and column partial
    check_pair(device.get(), context.get(), "unchanged", base, base, 0);

    Frame scattered = base;
    for (auto [x, y] : {std::pair{0u, 0u}, {70u, 40u}, {149u, 5u}, {3u, 99u}, {149u, 99u}})
        scattered.pixel(x, y)[1] ^= 0x40;
    check_pair(device.get(), context.get(), "one pixel in five cells, last row and column", base, scattered, 5);

    Frame alpha_only = base;
    for (uint32_t y = 0; y < base.height; y += 9) alpha_only.pixel(y, y)[3] ^= 0xff;
    check_pair(device.get(), context.get(), "alpha only", base, alpha_only, 0);

    const Frame wide(4200, 40);  // more than 128 cells in a row: five words per row of cells
    Frame wide_changed = wide;
    wide_changed.pixel(4100, 33)[2] ^= 1;
    wide_changed.pixel(4199, 0)[0] ^= 1;
    check_pair(device.get(), context.get(), "beyond x = 4096", wide, wide_changed, 2);

    return wgc_test::finish("detector_host");
}
