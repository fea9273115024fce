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
