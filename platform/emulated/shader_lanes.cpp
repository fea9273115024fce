#include "platform/emulated/shader_lanes.h"

namespace corvo::emu::shader {
namespace {

using Decoder = LaneDecoder;

Decoder decoder(const Bound &view, bool typed_uav, uint8_t component) {
    switch (view.format) {
    case DXGI_FORMAT_B8G8R8A8_UNORM:
    case DXGI_FORMAT_R8G8B8A8_UNORM: {
        if (typed_uav) return {};
        const bool bgra = view.format == DXGI_FORMAT_B8G8R8A8_UNORM;
        const uint8_t byte = bgra && (component == 0 || component == 2) ? uint8_t(2 - component) : component;
        return {Decoder::kUnorm, uint8_t(8 * byte)};
    }
    case DXGI_FORMAT_R8_UINT:
        if (typed_uav) return {};
        [[fallthrough]];
    case DXGI_FORMAT_R32_UINT:
        return {component == 0 ? Decoder::kRaw : component == 3 ? Decoder::kOne : Decoder::kZero};
    case DXGI_FORMAT_R16G16B16A16_FLOAT:
        if (typed_uav) return {};
        return {Decoder::kHalf, uint8_t(16 * component)};
    default:
        return {};
    }
}

constexpr unsigned kFloats = 0b111;

// Which sources of a step are floats, for their modifiers.
unsigned float_sources(StepOp op) {
    switch (op) {
    case StepOp::kAdd:
    case StepOp::kMul:
    case StepOp::kMad:
    case StepOp::kDiv:
    case StepOp::kMin:
    case StepOp::kMax:
    case StepOp::kEq:
    case StepOp::kNe:
    case StepOp::kLt:
    case StepOp::kGe:
    case StepOp::kRoundNe:
    case StepOp::kRoundNi:
    case StepOp::kRoundPi:
    case StepOp::kRoundZ:
    case StepOp::kFtou:
    case StepOp::kFtoi:
    case StepOp::kLog:
    case StepOp::kExp:
    case StepOp::kMov:
        return kFloats;
    case StepOp::kMovc:  // an integer condition between two float values
        return 0b110;
    default:
        return 0;
    }
}

// How many sources an arithmetic step reads.
int source_count(StepOp op) {
    switch (op) {
    case StepOp::kRoundNe:
    case StepOp::kRoundNi:
    case StepOp::kRoundPi:
    case StepOp::kRoundZ:
    case StepOp::kFtou:
    case StepOp::kFtoi:
    case StepOp::kLog:
    case StepOp::kExp:
    case StepOp::kNot:
    case StepOp::kIneg:
    case StepOp::kUtof:
    case StepOp::kItof:
    case StepOp::kMov:
        return 1;
    case StepOp::kMad:
    case StepOp::kImad:
    case StepOp::kMovc:
        return 3;
    default:
        return 2;
    }
}

LaneModifier modifier_of(uint8_t modifier, bool is_float) {
    LaneModifier m;
    if (!modifier) return m;
    if (!is_float) {
        m.flip = m.subtract = ~0u;  // (v ^ ~0) - ~0 == -v
        return m;
    }
    if (modifier & 2) m.keep = kMagnitude;
    if (modifier & 1) m.flip = kSign;
    return m;
}

}  // namespace

LaneDispatch::LaneDispatch(const Program &p, const Bindings &b, uint32_t groups_x, uint32_t groups_y,
                           uint32_t groups_z)
    : program(p),
      bindings(b),
      views(bind_views(p, b)),
      groups{groups_x, groups_y, groups_z},
      tasks(uint64_t(groups_x) * groups_y * groups_z) {}

void LaneFile::prepare(const LaneDispatch &d) {
    const Program &p = d.program;
    const uint32_t *size = p.group;
    stride = std::min(kBatch, (size[0] * size[1] * size[2] + kChunk - 1) / kChunk * kChunk);
    registers.resize(size_t(p.slots) * 4 * stride);
    masks.resize((2 + 2 * size_t(p.depth)) * stride);
    scratch.resize(kScratchRows * stride);
    frames.resize(p.depth);
    // Constant-buffer rows and immediates, the same in every lane.
    const uint32_t first = p.cb_base[0];
    uniforms.resize(size_t(p.slots - first) * 4);
    fill_uniforms(p, d.bindings, uniforms.data());
    for (size_t w = 0; w < uniforms.size(); ++w)
        std::fill_n(registers.data() + (size_t(first) * 4 + w) * stride, stride, uniforms[w]);
    plan_steps(d);
    // System values: the rows no id fills stay zero; the ids are filled per group and batch.
    std::fill_n(registers.data() + size_t(p.system_base) * 4 * stride, size_t(kSystemValues) * 4 * stride, 0u);
}

void LaneFile::plan_steps(const LaneDispatch &d) {
    const Program &p = d.program;
    const auto row = [this](uint32_t slot, uint32_t c) {
        return registers.data() + (size_t(slot) * 4 + c) * stride;
    };
    plans.resize(p.steps.size());
    for (size_t i = 0; i < p.steps.size(); ++i) {
        const Step &s = p.steps[i];
        LanePlan &pl = plans[i];
        pl = LanePlan{};
        if (s.op >= StepOp::kLoop) {  // flow steps read the x of their condition only
            pl.src[0][0] = row(s.src[0].slot, s.src[0].swizzle[0]);
            continue;
        }
        const bool memory = s.op >= StepOp::kLd && s.op <= StepOp::kStoreStructured;
        const bool store = s.op == StepOp::kStoreUavTyped || s.op == StepOp::kStoreStructured;
        const int sources = memory ? (s.op == StepOp::kStoreStructured ? 3 : 2) : source_count(s.op);
        const unsigned floats = float_sources(s.op);
        for (int n = 0; n < sources; ++n) {
            if (memory && !store && n == 1 && s.op != StepOp::kLdStructured) break;  // the resource's swizzle
            for (int c = 0; c < 4; ++c) pl.src[n][c] = row(s.src[n].slot, s.src[n].swizzle[c]);
            pl.modifier[n] = modifier_of(s.src[n].modifier, (floats >> n) & 1);
            pl.modified = pl.modified || s.src[n].modifier;
        }
        if (!store)
            for (int k = 0; k < 2; ++k)
                for (uint32_t c = 0; c < 4; ++c)
                    if (s.dst[k].mask & (1u << c)) pl.dst[k][c] = row(s.dst[k].slot, c);
        // Components are computed in order x, y, z, w: one overwrites a row that a later one still reads.
        for (int c = 0; c < 4; ++c)
            for (int later = c + 1; later < 4; ++later)
                for (int n = 0; n < sources && !memory; ++n)
                    pl.staged = pl.staged || (pl.dst[0][c] && pl.dst[0][later] && pl.src[n][later] == pl.dst[0][c]);
        if (!memory) continue;
        const bool uav = s.op != StepOp::kLd && (s.op != StepOp::kLdStructured || s.from_uav);
        pl.view = uav ? &d.views.uavs[s.resource] : &d.views.srvs[s.resource];
        if (s.op == StepOp::kLd || s.op == StepOp::kLdUavTyped) {
            pl.unorm = pl.view->texel_size == 4;
            for (uint32_t c = 0; c < 4; ++c) {
                pl.decoder[c] = decoder(*pl.view, s.op == StepOp::kLdUavTyped, s.src[2].swizzle[c]);
                if (pl.dst[0][c]) pl.unorm = pl.unorm && pl.decoder[c].kind == Decoder::kUnorm;
            }
        }
    }
}

void LaneFile::run(const LaneDispatch &d, uint64_t task) {
    const uint32_t group[3] = {uint32_t(task % d.groups[0]), uint32_t(task / d.groups[0] % d.groups[1]),
                               uint32_t(task / d.groups[0] / d.groups[1])};
    static void (*const run_group)(LaneFile &, const LaneDispatch &, const uint32_t *) = [] {
#if CORVO_LANES_VECTOR_SETS
        if (__builtin_cpu_supports("avx512f")) return run_lane_group_avx512;
        if (__builtin_cpu_supports("avx2")) return run_lane_group_avx2;
#endif
        return run_lane_group_baseline;
    }();
    run_group(*this, d, group);
}

}  // namespace corvo::emu::shader
