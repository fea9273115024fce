// How a target's pixels come out in a frame. Windows composes the desktop in 8-bit sRGB on an SDR monitor and in
// FP16 scRGB (linear, 1.0 = 80 nits) on a monitor in HDR mode, where SDR content is decoded by the piecewise sRGB
// curve and scaled by SDR white / 80. A frame pool's format then takes that picture: FP16 as composed (on an SDR
// monitor, the decoded 8-bit pixels with white at 1.0), 8-bit as an SDR monitor shows it, with whatever is
// brighter than SDR white clipped channel by channel.
#pragma once

#include <array>
#include <cstdint>

#include "platform/emulated/targets.h"

namespace corvo::emu {

// The sRGB curves with the constants of d3d11.h's D3D11_SRGB_TO_FLOAT_* and D3D11_FLOAT_TO_SRGB_*.
double srgb_to_linear(double v);
double linear_to_srgb(double l);
// Direct3D's float to UNORM8 conversion: NaN 0, clamped to [0, 1], x * 255 + 0.5 truncated.
uint8_t unorm8(double x);
// An scRGB value as an 8-bit sRGB picture with SDR white at `white_nits` shows it: scaled by 80 / white, clipped.
uint8_t scrgb_to_srgb8(double value, uint32_t white_nits);

// Converts rows of a target's pixels into rows of a frame of one format, for one display.
class Composer {
public:
    // `format` is one a frame pool takes: B8G8R8A8_UNORM, R8G8B8A8_UNORM or R16G16B16A16_FLOAT.
    Composer(DXGI_FORMAT format, Display display);

    uint32_t bytes_per_pixel() const { return format_ == DXGI_FORMAT_R16G16B16A16_FLOAT ? 8 : 4; }
    // `count` pixels: BGRA bytes, and where `painted` (null: nowhere) is set, the scRGB halves that were painted.
    void row(const uint32_t *bgra, const uint64_t *scrgb, const uint8_t *painted, uint32_t count,
             uint8_t *out) const;

private:
    // The 8-bit colour of the painted content last converted.
    struct Memo {
        uint64_t halves = ~uint64_t(0);  // a NaN pattern fill_scrgb never stores
        uint32_t bgr = 0;
    };
    uint32_t eight_bit(uint32_t bgra, const uint64_t *scrgb, bool painted, Memo &memo) const;

    const DXGI_FORMAT format_;
    const Display display_;
    std::array<uint16_t, 256> level_{};  // FP16 frames: the half of each 8-bit colour level, and of each alpha
    std::array<uint16_t, 256> alpha_{};
};

}  // namespace corvo::emu
