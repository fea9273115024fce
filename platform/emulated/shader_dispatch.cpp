// dispatch: runs every thread of a compiled program, one after the other, over the bound views.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/emulated/shader_executor.h"
#include "platform/emulated/shader_program.h"

namespace corvo::emu::shader {
namespace {

using Vec = uint32_t[4];

float as_float(uint32_t v) { return std::bit_cast<float>(v); }
uint32_t as_bits(float f) { return std::bit_cast<uint32_t>(f); }

uint32_t unorm8_to_float(uint8_t v) { return as_bits(float(v) / 255.0f); }

uint8_t float_to_unorm8(uint32_t bits) {
    const float f = as_float(bits);
    if (!(f > 0.0f)) return 0;  // also NaN
    return f >= 1.0f ? 255 : uint8_t(std::floor(f * 255.0f + 0.5f));
}

// A bound view as the program's declaration sees it; `data` null means loads give 0 and stores are dropped.
struct Bound {
    uint8_t *data = nullptr;
    DXGI_FORMAT format = DXGI_FORMAT_UNKNOWN;
    uint32_t width = 0, height = 0, pitch = 0, texel_size = 0;
    uint32_t elements = 0, stride = 0;
};

uint32_t texel_size(DXGI_FORMAT format) {
    switch (format) {
    case DXGI_FORMAT_B8G8R8A8_UNORM:
    case DXGI_FORMAT_R8G8B8A8_UNORM:
    case DXGI_FORMAT_R32_UINT:
        return 4;
    case DXGI_FORMAT_R8_UINT:
        return 1;
    default:
        return 0;  // a format the executor cannot convert: treated as unbound
    }
}

Bound bind(const View &view, const ResourceDecl &decl) {
    Bound b;
    if (!view.data) return b;
    if (decl.kind == ResourceKind::kTexture2D && !view.is_buffer && texel_size(view.format)) {
        b = {view.data, view.format, view.width, view.height, view.row_pitch, texel_size(view.format), 0, 0};
    } else if (decl.kind == ResourceKind::kStructured && view.is_buffer && view.stride == decl.stride) {
        b.data = view.data + size_t(view.first_element) * view.stride;
        b.elements = view.num_elements;
        b.stride = view.stride;
    }
    return b;
}

void load_texel(const Bound &b, uint32_t x, uint32_t y, bool typed_uav, Vec out) {
    out[0] = out[1] = out[2] = out[3] = 0;
    if (!b.data || x >= b.width || y >= b.height) return;
    const uint8_t *p = b.data + size_t(y) * b.pitch + size_t(x) * b.texel_size;
    switch (b.format) {
    case DXGI_FORMAT_B8G8R8A8_UNORM:
    case DXGI_FORMAT_R8G8B8A8_UNORM: {
        if (typed_uav) return;  // not among the formats every device loads from a typed UAV
        const bool bgra = b.format == DXGI_FORMAT_B8G8R8A8_UNORM;
        out[0] = unorm8_to_float(p[bgra ? 2 : 0]);
        out[1] = unorm8_to_float(p[1]);
        out[2] = unorm8_to_float(p[bgra ? 0 : 2]);
        out[3] = unorm8_to_float(p[3]);
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
    default:
        return;
    }
}

void store_texel(const Bound &b, uint32_t x, uint32_t y, const Vec v) {
    if (!b.data || x >= b.width || y >= b.height) return;
    uint8_t *p = b.data + size_t(y) * b.pitch + size_t(x) * b.texel_size;
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
    default:
        return;
    }
}

// DWORD `offset / 4` of structured element `index`, or null when outside the view.
uint8_t *element_word(const Bound &b, uint32_t index, uint32_t offset) {
    if (!b.data || index >= b.elements || offset % 4 != 0 || offset >= b.stride) return nullptr;
    return b.data + size_t(index) * b.stride + offset;
}

class Thread {
public:
    Thread(const Program &program, std::vector<uint32_t> &file, const Bound *srvs, const Bound *uavs)
        : p_(program), r_(file.data()), srvs_(srvs), uavs_(uavs) {}

    void run() {
        const Step *steps = p_.steps.data();
        const uint32_t count = uint32_t(p_.steps.size());
        for (uint32_t pc = 0; pc < count;) {
            const Step &s = steps[pc++];
            Vec a, b, c, out;
            switch (s.op) {
#define FLOAT1(OP, EXPR)                                                   \
    case StepOp::OP:                                                       \
        fetch(s.src[0], true, a);                                          \
        for (int i = 0; i < 4; ++i) out[i] = as_bits(EXPR(as_float(a[i]))); \
        write_float(s, out);                                               \
        break;
#define FLOAT2(OP, EXPR)                                                                  \
    case StepOp::OP:                                                                      \
        fetch(s.src[0], true, a);                                                         \
        fetch(s.src[1], true, b);                                                         \
        for (int i = 0; i < 4; ++i) out[i] = as_bits(EXPR(as_float(a[i]), as_float(b[i]))); \
        write_float(s, out);                                                              \
        break;
#define COMPARE(OP, EXPR)                                                                     \
    case StepOp::OP:                                                                          \
        fetch(s.src[0], true, a);                                                             \
        fetch(s.src[1], true, b);                                                             \
        for (int i = 0; i < 4; ++i) out[i] = EXPR(as_float(a[i]), as_float(b[i])) ? ~0u : 0u; \
        write(s.dst[0], out);                                                                 \
        break;
#define INT1(OP, EXPR)                                       \
    case StepOp::OP:                                         \
        fetch(s.src[0], false, a);                           \
        for (int i = 0; i < 4; ++i) out[i] = EXPR(a[i]);     \
        write(s.dst[0], out);                                \
        break;
#define INT2(OP, EXPR)                                          \
    case StepOp::OP:                                            \
        fetch(s.src[0], false, a);                              \
        fetch(s.src[1], false, b);                              \
        for (int i = 0; i < 4; ++i) out[i] = EXPR(a[i], b[i]);  \
        write(s.dst[0], out);                                   \
        break;
                FLOAT2(kAdd, [](float x, float y) { return x + y; })
                FLOAT2(kMul, [](float x, float y) { return x * y; })
                FLOAT2(kDiv, [](float x, float y) { return x / y; })
                FLOAT2(kMin, [](float x, float y) { return std::fmin(x, y); })
                FLOAT2(kMax, [](float x, float y) { return std::fmax(x, y); })
                COMPARE(kEq, [](float x, float y) { return x == y; })
                COMPARE(kNe, [](float x, float y) { return x != y; })
                COMPARE(kLt, [](float x, float y) { return x < y; })
                COMPARE(kGe, [](float x, float y) { return x >= y; })
                FLOAT1(kRoundNe, std::nearbyint)
                FLOAT1(kRoundNi, std::floor)
                FLOAT1(kRoundPi, std::ceil)
                FLOAT1(kRoundZ, std::trunc)
                INT2(kAnd, [](uint32_t x, uint32_t y) { return x & y; })
                INT2(kOr, [](uint32_t x, uint32_t y) { return x | y; })
                INT2(kXor, [](uint32_t x, uint32_t y) { return x ^ y; })
                INT1(kNot, [](uint32_t x) { return ~x; })
                INT1(kIneg, [](uint32_t x) { return 0u - x; })
                INT2(kIadd, [](uint32_t x, uint32_t y) { return x + y; })
                INT2(kIshl, [](uint32_t x, uint32_t y) { return x << (y & 31); })
                INT2(kIshr, [](uint32_t x, uint32_t y) { return uint32_t(int32_t(x) >> (y & 31)); })
                INT2(kUshr, [](uint32_t x, uint32_t y) { return x >> (y & 31); })
                INT2(kIeq, [](uint32_t x, uint32_t y) { return x == y ? ~0u : 0u; })
                INT2(kIne, [](uint32_t x, uint32_t y) { return x != y ? ~0u : 0u; })
                INT2(kIge, [](uint32_t x, uint32_t y) { return int32_t(x) >= int32_t(y) ? ~0u : 0u; })
                INT2(kIlt, [](uint32_t x, uint32_t y) { return int32_t(x) < int32_t(y) ? ~0u : 0u; })
                INT2(kUge, [](uint32_t x, uint32_t y) { return x >= y ? ~0u : 0u; })
                INT2(kUlt, [](uint32_t x, uint32_t y) { return x < y ? ~0u : 0u; })
                INT2(kImin, [](uint32_t x, uint32_t y) { return uint32_t(std::min(int32_t(x), int32_t(y))); })
                INT2(kImax, [](uint32_t x, uint32_t y) { return uint32_t(std::max(int32_t(x), int32_t(y))); })
                INT2(kUmin, [](uint32_t x, uint32_t y) { return std::min(x, y); })
                INT2(kUmax, [](uint32_t x, uint32_t y) { return std::max(x, y); })
                INT1(kUtof, [](uint32_t x) { return as_bits(float(x)); })
                INT1(kItof, [](uint32_t x) { return as_bits(float(int32_t(x))); })
#undef FLOAT1
#undef FLOAT2
#undef COMPARE
#undef INT1
#undef INT2
            case StepOp::kFtou:
                fetch(s.src[0], true, a);
                for (int i = 0; i < 4; ++i) out[i] = float_to_uint(as_float(a[i]));
                write(s.dst[0], out);
                break;
            case StepOp::kFtoi:
                fetch(s.src[0], true, a);
                for (int i = 0; i < 4; ++i) out[i] = float_to_int(as_float(a[i]));
                write(s.dst[0], out);
                break;
            case StepOp::kMad:
                fetch(s.src[0], true, a);
                fetch(s.src[1], true, b);
                fetch(s.src[2], true, c);
                for (int i = 0; i < 4; ++i) out[i] = as_bits(as_float(a[i]) * as_float(b[i]) + as_float(c[i]));
                write_float(s, out);
                break;
            case StepOp::kImad:
                fetch(s.src[0], false, a);
                fetch(s.src[1], false, b);
                fetch(s.src[2], false, c);
                for (int i = 0; i < 4; ++i) out[i] = a[i] * b[i] + c[i];
                write(s.dst[0], out);
                break;
            case StepOp::kImul:
                fetch(s.src[0], false, a);
                fetch(s.src[1], false, b);
                for (int i = 0; i < 4; ++i) {
                    const int64_t product = int64_t(int32_t(a[i])) * int32_t(b[i]);
                    out[i] = uint32_t(uint64_t(product) >> 32);
                    c[i] = uint32_t(product);
                }
                write(s.dst[0], out);
                write(s.dst[1], c);
                break;
            case StepOp::kUdiv:
                fetch(s.src[0], false, a);
                fetch(s.src[1], false, b);
                for (int i = 0; i < 4; ++i) {
                    out[i] = b[i] ? a[i] / b[i] : ~0u;
                    c[i] = b[i] ? a[i] % b[i] : ~0u;
                }
                write(s.dst[0], out);
                write(s.dst[1], c);
                break;
            case StepOp::kMov:
                fetch(s.src[0], true, out);
                write(s.dst[0], out);
                break;
            case StepOp::kMovc:
                fetch(s.src[0], false, a);
                fetch(s.src[1], true, b);
                fetch(s.src[2], true, c);
                for (int i = 0; i < 4; ++i) out[i] = a[i] ? b[i] : c[i];
                write(s.dst[0], out);
                break;
            case StepOp::kLd:
            case StepOp::kLdUavTyped: {
                fetch(s.src[0], false, a);
                const bool uav = s.op == StepOp::kLdUavTyped;
                if (!uav && a[3] != 0) {
                    b[0] = b[1] = b[2] = b[3] = 0;  // only mip 0 is bound
                } else {
                    load_texel(uav ? uavs_[s.resource] : srvs_[s.resource], a[0], a[1], uav, b);
                }
                for (int i = 0; i < 4; ++i) out[i] = b[s.src[2].swizzle[i]];
                write(s.dst[0], out);
                break;
            }
            case StepOp::kStoreUavTyped:
                fetch(s.src[0], false, a);
                fetch(s.src[1], false, b);
                store_texel(uavs_[s.resource], a[0], a[1], b);
                break;
            case StepOp::kLdStructured: {
                fetch(s.src[0], false, a);
                fetch(s.src[1], false, b);
                const Bound &view = s.from_uav ? uavs_[s.resource] : srvs_[s.resource];
                for (int i = 0; i < 4; ++i) {
                    const uint8_t *word = element_word(view, a[0], b[0] + 4u * s.src[2].swizzle[i]);
                    out[i] = 0;
                    if (word) std::memcpy(&out[i], word, 4);
                }
                write(s.dst[0], out);
                break;
            }
            case StepOp::kStoreStructured:
                fetch(s.src[0], false, a);
                fetch(s.src[1], false, b);
                fetch(s.src[2], false, c);
                for (int i = 0; i < 4; ++i) {
                    if (!(s.dst[0].mask & (1u << i))) continue;
                    if (uint8_t *word = element_word(uavs_[s.resource], a[0], b[0] + 4u * i))
                        std::memcpy(word, &c[i], 4);
                }
                break;
            case StepOp::kLoop:
            case StepOp::kEndif:
                break;
            case StepOp::kEndloop:
            case StepOp::kBreak:
            case StepOp::kContinue:
            case StepOp::kElse:
                pc = s.target;
                break;
            case StepOp::kBreakc:
            case StepOp::kContinuec:
                fetch(s.src[0], false, a);
                if ((a[0] != 0) == s.flag) pc = s.target;
                break;
            case StepOp::kIf:
                fetch(s.src[0], false, a);
                if ((a[0] != 0) != s.flag) pc = s.target;
                break;
            case StepOp::kRet:
                return;
            }
        }
    }

private:
    static uint32_t float_to_uint(float f) {
        if (!(f > 0.0f)) return 0;  // negative and NaN clamp to 0
        return f >= 4294967296.0f ? ~0u : uint32_t(f);
    }

    static uint32_t float_to_int(float f) {
        if (std::isnan(f)) return 0;
        if (f >= 2147483648.0f) return 0x7fffffffu;
        if (f <= -2147483648.0f) return 0x80000000u;
        return uint32_t(int32_t(f));
    }

    void fetch(const Source &src, bool is_float, Vec out) const {
        const uint32_t *reg = r_ + size_t(src.slot) * 4;
        for (int i = 0; i < 4; ++i) out[i] = reg[src.swizzle[i]];
        if (!src.modifier) return;
        for (int i = 0; i < 4; ++i) {
            if (!is_float) {
                out[i] = 0u - out[i];  // only negate is accepted on integer sources
                continue;
            }
            if (src.modifier & 2) out[i] &= 0x7fffffffu;
            if (src.modifier & 1) out[i] ^= 0x80000000u;
        }
    }

    void write(const Destination &dst, const Vec v) {
        uint32_t *reg = r_ + size_t(dst.slot) * 4;
        for (int i = 0; i < 4; ++i)
            if (dst.mask & (1u << i)) reg[i] = v[i];
    }

    void write_float(const Step &s, Vec v) {
        if (s.flag)
            for (int i = 0; i < 4; ++i) {
                const float f = as_float(v[i]);
                v[i] = as_bits(f > 0.0f ? std::min(f, 1.0f) : 0.0f);
            }
        write(s.dst[0], v);
    }

    const Program &p_;
    uint32_t *r_;
    const Bound *srvs_;
    const Bound *uavs_;
};

}  // namespace

void dispatch(const Program &program, const Bindings &bindings, uint32_t groups_x, uint32_t groups_y,
              uint32_t groups_z) {
    // Kept per thread so that a steady stream of dispatches allocates nothing once warm.
    thread_local std::vector<uint32_t> file;
    file.assign(size_t(program.slots) * 4, 0);
    for (int i = 0; i < Bindings::kConstantBufferSlots; ++i) {
        const ConstantBuffer &cb = bindings.constant_buffers[i];
        const size_t bytes = std::min<size_t>(size_t(program.cb_rows[i]) * 16, cb.data ? cb.byte_size : 0);
        if (bytes) std::memcpy(&file[size_t(program.cb_base[i]) * 4], cb.data, bytes);
    }
    std::copy(program.immediates.begin(), program.immediates.end(),
              file.begin() + size_t(program.immediate_base) * 4);
    std::array<Bound, Bindings::kResourceSlots> srvs;
    std::array<Bound, Bindings::kUavSlots> uavs;
    for (int i = 0; i < Bindings::kResourceSlots; ++i)
        srvs[size_t(i)] = bind(bindings.resources[i], program.resources[i]);
    for (int i = 0; i < Bindings::kUavSlots; ++i) uavs[size_t(i)] = bind(bindings.uavs[i], program.uavs[i]);
    Thread thread(program, file, srvs.data(), uavs.data());
    uint32_t *system = &file[size_t(program.system_base) * 4];
    const uint32_t *g = program.group;
    for (uint32_t gz = 0; gz < groups_z; ++gz)
        for (uint32_t gy = 0; gy < groups_y; ++gy)
            for (uint32_t gx = 0; gx < groups_x; ++gx)
                for (uint32_t tz = 0; tz < g[2]; ++tz)
                    for (uint32_t ty = 0; ty < g[1]; ++ty)
                        for (uint32_t tx = 0; tx < g[0]; ++tx) {
                            // Temps start at zero in every thread so that results never depend on thread order.
                            std::fill(file.begin(), file.begin() + size_t(program.temps) * 4, 0u);
                            const uint32_t values[kSystemValues][4] = {
                                {gx * g[0] + tx, gy * g[1] + ty, gz * g[2] + tz, 0},
                                {gx, gy, gz, 0},
                                {tx, ty, tz, 0},
                                {(tz * g[1] + ty) * g[0] + tx, 0, 0, 0}};
                            std::memcpy(system, values, sizeof values);
                            thread.run();
                        }
}

}  // namespace corvo::emu::shader
