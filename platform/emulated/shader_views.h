// The views a dispatch reads and writes, resolved against the program's declarations, the texel conversions
// of the formats the executors implement, and the float rules that C libraries and compilers leave open. Shared
// by both executors so that they agree to the bit.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "platform/emulated/half.h"
#include "platform/emulated/shader_executor.h"
#include "platform/emulated/shader_program.h"

namespace corvo::emu::shader {

using Vec = uint32_t[4];

// A bound view as the program's declaration sees it; `data` null means loads give 0 and stores are dropped.
struct Bound {
    uint8_t *data = nullptr;
    DXGI_FORMAT format = DXGI_FORMAT_UNKNOWN;
    uint32_t width = 0, height = 0, pitch = 0, texel_size = 0;
    uint32_t elements = 0, stride = 0;
};

struct BoundViews {
    std::array<Bound, Bindings::kResourceSlots> srvs;
    std::array<Bound, Bindings::kUavSlots> uavs;
};

BoundViews bind_views(const Program &program, const Bindings &bindings);

inline float as_float(uint32_t v) { return std::bit_cast<float>(v); }
inline uint32_t as_bits(float f) { return std::bit_cast<uint32_t>(f); }

// float(v) / 255, looked up: the division is the costliest part of a texel load.
extern const std::array<uint32_t, 256> kUnorm8;

// The NaN that float arithmetic gives. Which operand's NaN an x86 instruction passes on depends on the order of
// its operands, which compilers choose freely, so both executors give this one instead.
constexpr uint32_t kNaN = 0x7fc00000u;
inline uint32_t canonical(uint32_t bits) { return (bits & 0x7fffffffu) > 0x7f800000u ? kNaN : bits; }

// min and max: a NaN operand gives the other one. Written out rather than left to fmin and fmax, whose handling
// of signaling NaNs and of inlining differs between libraries and compilers, so that both executors agree.
inline float float_min(float a, float b) { return a != a ? b : b != b ? a : a < b ? a : b; }
inline float float_max(float a, float b) { return a != a ? b : b != b ? a : a > b ? a : b; }

// log (base 2) and exp (2 to the power): Direct3D leaves their precision to the device. Both executors compute
// them here, in double and so to within a unit in the last place of the float result, the same on every machine
// and C library: log by the series of atanh over the mantissa, exp by the series of e^t over the fraction. As
// Direct3D flushes denormals, a denormal input of log counts as zero and an exp that would give one gives +0.
// A NaN gives kNaN; log of +-0 is -inf, of a negative NaN, of +inf +inf; exp of -inf is +0, of +inf +inf.
inline uint32_t float_log2(uint32_t bits) {
    constexpr double kTwoOverLn2 = 2.8853900817779268;
    // x = m * 2^e with m in [sqrt(1/2), sqrt(2)): the mantissa field 0x3504f3 is that of sqrt(2).
    const uint32_t high = (bits & 0x007fffffu) > 0x3504f3u;
    const int32_t e = int32_t((bits >> 23) & 0xff) - 127 + int32_t(high);
    const double m = as_float((bits & 0x007fffffu) | (high ? 0x3f000000u : 0x3f800000u));
    const double s = (m - 1) / (m + 1), s2 = s * s;  // log(m) = 2 atanh(s), |s| < 0.172
    double series = 0;                               // atanh(s) / s = 1 + s2 / 3 + s2^2 / 5 + ...
    for (int k = 13; k > 0; k -= 2) series = series * s2 + 1.0 / k;
    const uint32_t out = as_bits(float(e + s * series * kTwoOverLn2));
    const uint32_t magnitude = bits & 0x7fffffffu;
    return magnitude < 0x00800000u    ? 0xff800000u
           : bits >> 31               ? kNaN
           : magnitude > 0x7f800000u  ? kNaN
           : magnitude == 0x7f800000u ? bits
                                      : out;
}

inline uint32_t float_exp2(uint32_t bits) {
    constexpr double kLn2 = 0.69314718055994531;
    const float x = as_float(bits);
    const double c = x > -200.0f ? (x < 200.0f ? x : 200.0f) : -200.0f;  // beyond, the result is 0 or inf anyway
    const int32_t n = int32_t(c + 200.5) - 200;  // nearest integer: truncation of a positive number
    const double t = (c - n) * kLn2;             // |t| <= ln(2) / 2
    double f = 1;                                // e^t = 1 + t (1 + t / 2 (1 + t / 3 (...))), to t^10 / 10!
    for (int k = 10; k > 0; --k) f = 1 + f * t / k;
    const uint32_t out = as_bits(float(f * std::bit_cast<double>(uint64_t(n + 1023) << 52)));
    return x != x ? kNaN : (out & 0x7f800000u) == 0 ? 0u : out;
}

inline uint8_t float_to_unorm8(uint32_t bits) {
    const float f = as_float(bits);
    if (!(f > 0.0f)) return 0;  // also NaN
    return f >= 1.0f ? 255 : uint8_t(std::floor(f * 255.0f + 0.5f));
}

// The texel at (x, y), or null outside the view.
inline uint8_t *texel(const Bound &b, uint32_t x, uint32_t y) {
    if (!b.data || x >= b.width || y >= b.height) return nullptr;
    return b.data + size_t(y) * b.pitch + size_t(x) * b.texel_size;
}

inline void load_texel(const Bound &b, uint32_t x, uint32_t y, bool typed_uav, Vec out) {
    out[0] = out[1] = out[2] = out[3] = 0;
    const uint8_t *p = texel(b, x, y);
    if (!p) return;
    switch (b.format) {
    case DXGI_FORMAT_B8G8R8A8_UNORM:
    case DXGI_FORMAT_R8G8B8A8_UNORM: {
        if (typed_uav) return;  // not among the formats every device loads from a typed UAV
        const bool bgra = b.format == DXGI_FORMAT_B8G8R8A8_UNORM;
        out[0] = kUnorm8[p[bgra ? 2 : 0]];
        out[1] = kUnorm8[p[1]];
        out[2] = kUnorm8[p[bgra ? 0 : 2]];
        out[3] = kUnorm8[p[3]];
        return;
    }
    case DXGI_FORMAT_R32_UINT:
        std::memcpy(&out[0], p, 4);
        out[3] = 1;
        return;
    case DXGI_FORMAT_R8_UINT:
        if (typed_uav) return;  // typed-UAV loads of R8_UINT are an optional feature
        out[0] = p[0];
        out[3] = 1;
        return;
    case DXGI_FORMAT_R16G16B16A16_FLOAT:
        if (typed_uav) return;  // typed-UAV loads of FP16 are an optional feature too
        for (int c = 0; c < 4; ++c) {
            uint16_t half;
            std::memcpy(&half, p + 2 * c, 2);
            out[c] = half_to_float_bits(half);
        }
        return;
    default:
        return;
    }
}

inline void store_texel(const Bound &b, uint32_t x, uint32_t y, const Vec v) {
    uint8_t *p = texel(b, x, y);
    if (!p) return;
    switch (b.format) {
    case DXGI_FORMAT_B8G8R8A8_UNORM:
    case DXGI_FORMAT_R8G8B8A8_UNORM: {
        const bool bgra = b.format == DXGI_FORMAT_B8G8R8A8_UNORM;
        p[bgra ? 2 : 0] = float_to_unorm8(v[0]);
        p[1] = float_to_unorm8(v[1]);
        p[bgra ? 0 : 2] = float_to_unorm8(v[2]);
        p[3] = float_to_unorm8(v[3]);
        return;
    }
    case DXGI_FORMAT_R32_UINT:
        std::memcpy(p, &v[0], 4);
        return;
    case DXGI_FORMAT_R8_UINT:
        p[0] = uint8_t(std::min<uint32_t>(v[0], 255));
        return;
    case DXGI_FORMAT_R16G16B16A16_FLOAT:
        for (int c = 0; c < 4; ++c) {
            const uint16_t half = half_toward_zero(as_float(v[c]));
            std::memcpy(p + 2 * c, &half, 2);
        }
        return;
    default:
        return;
    }
}

// DWORD `offset / 4` of structured element `index`, or null when outside the view.
inline uint8_t *element_word(const Bound &b, uint32_t index, uint32_t offset) {
    if (!b.data || index >= b.elements || offset % 4 != 0 || offset >= b.stride) return nullptr;
    return b.data + size_t(index) * b.stride + offset;
}

// The constant-buffer rows and immediates of a dispatch, in register-file order from `program.cb_base[0]`.
void fill_uniforms(const Program &program, const Bindings &bindings, uint32_t *rows);

}  // namespace corvo::emu::shader
