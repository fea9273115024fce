// IEEE binary16 ("half"), the component of DXGI_FORMAT_R16G16B16A16_FLOAT: its exact value as a float, and the
// GPU's conversion of a wider value to it, which rounds toward zero and saturates finite values to +-65504.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace corvo::emu {

// Every half is a float (its subnormals are normal floats); NaN keeps its payload.
inline uint32_t half_to_float_bits(uint16_t h) {
    const uint32_t sign = uint32_t(h & 0x8000u) << 16, exponent = (h >> 10) & 0x1fu, fraction = h & 0x3ffu;
    if (exponent == 31) return sign | 0x7f800000u | fraction << 13;
    if (exponent == 0) return sign | std::bit_cast<uint32_t>(std::ldexp(float(fraction), -24));
    return sign | (exponent + 112) << 23 | fraction << 13;
}

inline float half_to_float(uint16_t h) { return std::bit_cast<float>(half_to_float_bits(h)); }

inline uint16_t half_toward_zero(double x) {
    const uint16_t sign = std::signbit(x) ? 0x8000u : 0u;
    const double magnitude = std::fabs(x);
    if (magnitude != magnitude) return sign | 0x7e00u;
    if (std::isinf(magnitude)) return sign | 0x7c00u;
    if (magnitude >= 65504.0) return sign | 0x7bffu;
    if (magnitude < 0x1p-14) return sign | uint16_t(std::ldexp(magnitude, 24));  // subnormal: f * 2^-24
    int exponent = 0;
    const double fraction = std::frexp(magnitude, &exponent);  // magnitude = fraction * 2^exponent, [0.5, 1)
    const auto mantissa = uint16_t(uint32_t(std::ldexp(fraction, 11)) - 1024);
    return sign | uint16_t((exponent + 14) << 10) | mantissa;
}

}  // namespace corvo::emu
