#include "platform/emulated/composition.h"

#include <cmath>
#include <cstring>

#include "platform/emulated/half.h"

namespace corvo::emu {

double srgb_to_linear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

double linear_to_srgb(double l) { return l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055; }

uint8_t unorm8(double x) {
    if (!(x > 0)) return 0;  // NaN too
    return x >= 1 ? 255 : uint8_t(x * 255 + 0.5);
}

uint8_t scrgb_to_srgb8(double value, uint32_t white_nits) {
    const double l = value * 80 / white_nits;
    return unorm8(l > 0 ? linear_to_srgb(l < 1 ? l : 1) : l);  // NaN stays NaN, to become 0
}

Composer::Composer(DXGI_FORMAT format, Display display) : format_(format), display_(display) {
    if (format_ != DXGI_FORMAT_R16G16B16A16_FLOAT) return;
    const double scale = display_.hdr ? display_.sdr_white_nits / 80.0 : 1.0;
    for (uint32_t v = 0; v < 256; ++v) {
        level_[v] = half_toward_zero(srgb_to_linear(v / 255.0) * scale);
        alpha_[v] = half_toward_zero(v / 255.0);
    }
}

uint32_t Composer::eight_bit(uint32_t bgra, const uint64_t *scrgb, bool painted, Memo &memo) const {
    // SDR content is what an SDR monitor shows; so is painted content on one (it was painted so).
    if (painted && display_.hdr) {
        if (*scrgb != memo.halves) {  // painted content comes in runs of one colour
            memo.halves = *scrgb;
            memo.bgr = 0;
            for (int c = 0; c < 3; ++c) {  // scRGB R, G, B to bytes 2, 1, 0
                const auto half = uint16_t(*scrgb >> (16 * c));
                memo.bgr |= uint32_t(scrgb_to_srgb8(half_to_float(half), display_.sdr_white_nits)) << (8 * (2 - c));
            }
        }
        bgra = (bgra & 0xff000000u) | memo.bgr;
    }
    if (format_ == DXGI_FORMAT_R8G8B8A8_UNORM)
        bgra = (bgra & 0xff00ff00u) | (bgra >> 16 & 0xffu) | (bgra & 0xffu) << 16;
    return bgra;
}

void Composer::row(const uint32_t *bgra, const uint64_t *scrgb, const uint8_t *painted, uint32_t count,
                   uint8_t *out) const {
    if (format_ == DXGI_FORMAT_B8G8R8A8_UNORM && (!painted || !display_.hdr)) {
        std::memcpy(out, bgra, size_t(count) * 4);
        return;
    }
    Memo memo;
    for (uint32_t i = 0; i < count; ++i) {
        const bool hdr_content = painted && painted[i];
        if (format_ != DXGI_FORMAT_R16G16B16A16_FLOAT) {
            const uint32_t pixel = eight_bit(bgra[i], hdr_content ? &scrgb[i] : nullptr, hdr_content, memo);
            std::memcpy(out + size_t(i) * 4, &pixel, 4);
            continue;
        }
        uint64_t halves;
        if (hdr_content && display_.hdr) {
            halves = scrgb[i];
        } else {
            const uint32_t p = bgra[i];
            halves = uint64_t(level_[p >> 16 & 0xff]) | uint64_t(level_[p >> 8 & 0xff]) << 16 |
                     uint64_t(level_[p & 0xff]) << 32 | uint64_t(alpha_[p >> 24]) << 48;
        }
        std::memcpy(out + size_t(i) * 8, &halves, 8);
    }
}

}  // namespace corvo::emu
