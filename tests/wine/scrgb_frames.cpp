// FP16 frames as the compositor of a monitor in HDR mode makes them from SDR content: 8-bit sRGB decoded with
// the piecewise sRGB curve (as Windows 11 decodes SDR), scaled by the SDR white over 80 nits, stored as halves.
#include <dxgi1_6.h>

#include <cmath>
#include <cstring>

#include "capture_service.h"

namespace wine_wgc {
namespace {

// IEEE binary16 of a finite `value` that fits, rounded to nearest even, as the CPU rounds.
uint16_t to_half(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const auto sign = uint16_t((bits >> 16) & 0x8000u);
    bits &= 0x7fffffffu;
    if (bits < 0x38800000u)  // below 2^-14: a subnormal half, counted in steps of 2^-24
        return uint16_t(sign | uint16_t(std::nearbyint(std::fabs(value) * 16777216.0f)));
    bits -= 0x38000000u;                    // the exponent's bias, 127 to 15
    bits += 0x0fffu + ((bits >> 13) & 1u);  // round the 13 bits dropped, ties to even
    return uint16_t(sign | uint16_t(bits >> 13));
}

}  // namespace

bool in_hdr_mode(HMONITOR monitor) {
    IDXGIFactory1 *factory = nullptr;
    if (!monitor || FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void **>(&factory))))
        return false;
    bool hdr = false;
    IDXGIAdapter1 *adapter = nullptr;
    for (UINT a = 0; SUCCEEDED(factory->EnumAdapters1(a, &adapter)); ++a) {
        IDXGIOutput *output = nullptr;
        for (UINT o = 0; SUCCEEDED(adapter->EnumOutputs(o, &output)); ++o) {
            IDXGIOutput6 *output6 = nullptr;
            DXGI_OUTPUT_DESC1 desc{};
            if (SUCCEEDED(output->QueryInterface(__uuidof(IDXGIOutput6), reinterpret_cast<void **>(&output6)))) {
                if (SUCCEEDED(output6->GetDesc1(&desc)) && desc.Monitor == monitor)
                    hdr = desc.ColorSpace == DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020;
                output6->Release();
            }
            output->Release();
        }
        adapter->Release();
    }
    factory->Release();
    return hdr;
}

std::vector<uint16_t> scrgb_halves(const std::vector<uint8_t> &bgra, float scale) {
    uint16_t level[256];
    for (int v = 0; v < 256; ++v) {
        const double encoded = v / 255.0;
        const double linear = encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
        level[v] = to_half(float(linear * scale));
    }
    std::vector<uint16_t> halves(bgra.size());
    for (size_t i = 0; i + 3 < bgra.size(); i += 4) {
        halves[i] = level[bgra[i + 2]];
        halves[i + 1] = level[bgra[i + 1]];
        halves[i + 2] = level[bgra[i]];
        halves[i + 3] = to_half(bgra[i + 3] / 255.0f);
    }
    return halves;
}

}  // namespace wine_wgc
