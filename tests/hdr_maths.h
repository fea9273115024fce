// The maths of HDR pictures, in double, as the tests' oracle: halves, the sRGB curve and the SDR picture of an
// FP16 scRGB pixel (content up to SDR white as an SDR display shows it, the largest channel limited to white).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

#include "platform/emulated/half.h"

// NaN 0, else Direct3D's float-to-UNORM rounding of the value clamped to [0, 1], in double.
inline uint8_t unorm8(double v) { return v > 0 ? uint8_t(std::floor(std::min(v, 1.0) * 255 + 0.5)) : 0; }

// The nearest half (IEEE binary16) to a float, as a CPU rounds: ties to even, too large to infinity, NaN stays NaN.
// (The device's half-to-float conversion is platform/emulated/half.h.)
inline uint16_t half_from_float(float value) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    const auto sign = uint16_t((bits >> 16) & 0x8000);
    const uint32_t magnitude = bits & 0x7fffffffu;
    if (magnitude > 0x7f800000u) return uint16_t(sign | 0x7e00 | ((magnitude >> 13) & 0x3ff));
    const float a = std::fabs(value);
    if (a >= 65520.0f) return uint16_t(sign | 0x7c00);
    // Below 2^-14 the halves are the multiples of 2^-24; the scaling is exact and nearbyint rounds to even.
    if (a < 0x1p-14f) return uint16_t(sign | uint16_t(std::nearbyint(a * 0x1p24f)));
    // Rebias the exponent and round the 13 dropped bits of the mantissa to even; a carry moves into the exponent.
    const uint32_t rebiased = magnitude - (112u << 23);
    return uint16_t(sign | ((rebiased + 0xfffu + ((rebiased >> 13) & 1)) >> 13));
}

// sRGB level v as a linear value in [0, 1] (the piecewise decoding).
inline double srgb_decode(uint8_t level) {
    const double v = level / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// One pixel by the maths of sdrFromHdrCS in double, at scale = 80 / SDR white: levels R, G, B, A.
inline std::array<uint8_t, 4> sdr_pixel(const uint16_t rgba[4], float scale) {
    double l[3];
    for (int c = 0; c < 3; ++c) {
        const double e = corvo::emu::half_to_float(rgba[c]);
        l[c] = std::isnan(e) ? 0.0 : std::clamp(e, 0.0, 65504.0) * double(scale);
    }
    const double largest = std::max({l[0], l[1], l[2], 1.0});
    std::array<uint8_t, 4> out;
    for (int c = 0; c < 3; ++c) {
        const double x = l[c] / largest;
        out[size_t(c)] = unorm8(x <= 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1 / 2.4) - 0.055);
    }
    out[3] = unorm8(corvo::emu::half_to_float(rgba[3]));  // NaN gives 0
    return out;
}
