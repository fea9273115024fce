// dispatch_reference: runs every thread of a compiled program, one after the other, over the bound views. The
// plain form of the executor, which the lane executor is checked against.
#include <vector>

#include "platform/emulated/shader_views.h"

namespace corvo::emu::shader {
namespace {

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
#define FLOAT1(OP, EXPR)                                                    \
    case StepOp::OP:                                                        \
        fetch(s.src[0], true, a);                                           \
        for (int i = 0; i < 4; ++i) out[i] = as_bits(EXPR(as_float(a[i]))); \
        write_float(s, out);                                                \
        break;
#define FLOAT2(OP, EXPR)                                                                               \
    case StepOp::OP:                                                                                   \
        fetch(s.src[0], true, a);                                                                      \
        fetch(s.src[1], true, b);                                                                      \
        for (int i = 0; i < 4; ++i) out[i] = canonical(as_bits(EXPR(as_float(a[i]), as_float(b[i])))); \
        write_float(s, out);                                                                           \
        break;
#define COMPARE(OP, EXPR)                                                                     \
    case StepOp::OP:                                                                          \
        fetch(s.src[0], true, a);                                                             \
        fetch(s.src[1], true, b);                                                             \
        for (int i = 0; i < 4; ++i) out[i] = EXPR(as_float(a[i]), as_float(b[i])) ? ~0u : 0u; \
        write(s.dst[0], out);                                                                 \
        break;
#define INT1(OP, EXPR)                                   \
    case StepOp::OP:                                     \
        fetch(s.src[0], false, a);                       \
        for (int i = 0; i < 4; ++i) out[i] = EXPR(a[i]); \
        write(s.dst[0], out);                            \
        break;
#define INT2(OP, EXPR)                                         \
    case StepOp::OP:                                           \
        fetch(s.src[0], false, a);                             \
        fetch(s.src[1], false, b);                             \
        for (int i = 0; i < 4; ++i) out[i] = EXPR(a[i], b[i]); \
        write(s.dst[0], out);                                  \
        break;
                FLOAT2(kAdd, [](float x, float y) { return x + y; })
                FLOAT2(kMul, [](float x, float y) { return x * y; })
                FLOAT2(kDiv, [](float x, float y) { return x / y; })
                FLOAT2(kMin, float_min)
                FLOAT2(kMax, float_max)
                COMPARE(kEq, [](float x, float y) { return x == y; })
                COMPARE(kNe, [](float x, float y) { return x != y; })
                COMPARE(kLt, [](float x, float y) { return x < y; })
                COMPARE(kGe, [](float x, float y) { return x >= y; })
                // A NaN comes back as it is; C libraries differ on whether they quiet a signaling one.
                FLOAT1(kRoundNe, [](float x) { return x != x ? x : std::nearbyint(x); })
                FLOAT1(kRoundNi, [](float x) { return x != x ? x : std::floor(x); })
                FLOAT1(kRoundPi, [](float x) { return x != x ? x : std::ceil(x); })
                FLOAT1(kRoundZ, [](float x) { return x != x ? x : std::trunc(x); })
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
            case StepOp::kLog:
            case StepOp::kExp:
                fetch(s.src[0], true, a);
                for (int i = 0; i < 4; ++i) out[i] = s.op == StepOp::kLog ? float_log2(a[i]) : float_exp2(a[i]);
                write_float(s, out);
                break;
            case StepOp::kMad:
                fetch(s.src[0], true, a);
                fetch(s.src[1], true, b);
                fetch(s.src[2], true, c);
                for (int i = 0; i < 4; ++i)
                    out[i] = canonical(as_bits(as_float(a[i]) * as_float(b[i]) + as_float(c[i])));
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
                write_float(s, out);
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

void dispatch_reference(const Program &program, const Bindings &bindings, uint32_t groups_x, uint32_t groups_y,
                        uint32_t groups_z) {
    // Kept per thread so that a steady stream of dispatches allocates nothing once warm.
    thread_local std::vector<uint32_t> file;
    file.assign(size_t(program.slots) * 4, 0);
    fill_uniforms(program, bindings, &file[size_t(program.cb_base[0]) * 4]);
    const BoundViews views = bind_views(program, bindings);
    Thread thread(program, file, views.srvs.data(), views.uavs.data());
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
