// create_program: decodes and validates a DXBC compute program into the compact form of shader_program.h.
#include "platform/emulated/shader_executor.h"

#include <algorithm>
#include <new>
#include <string>

#include "platform/emulated/dxbc/opcodes.h"
#include "platform/emulated/dxbc/tokens.h"
#include "platform/emulated/shader_program.h"

namespace corvo::emu::shader {
namespace {

namespace d = corvo::dxbc;

constexpr uint32_t kTestNonZero = 1u << 7;
constexpr uint32_t kSaturate = 1u << 2;
constexpr uint32_t kDimensionTexture2D = 3;
constexpr uint32_t kReturnUnorm = 0x1111, kReturnUint = 0x4444, kReturnFloat = 0x5555;

struct Translation {
    StepOp op;
    uint32_t opcode;
};

// A table packed as written; the formatter would give it a line an entry.
// clang-format off
constexpr Translation kSteps[] = {
    {StepOp::kAdd, d::kAdd}, {StepOp::kMul, d::kMul}, {StepOp::kMad, d::kMad}, {StepOp::kDiv, d::kDiv},
    {StepOp::kMin, d::kMin}, {StepOp::kMax, d::kMax}, {StepOp::kEq, d::kEq}, {StepOp::kNe, d::kNe},
    {StepOp::kLt, d::kLt}, {StepOp::kGe, d::kGe}, {StepOp::kRoundNe, d::kRoundNe},
    {StepOp::kRoundNi, d::kRoundNi}, {StepOp::kRoundPi, d::kRoundPi}, {StepOp::kRoundZ, d::kRoundZ},
    {StepOp::kFtou, d::kFtou}, {StepOp::kFtoi, d::kFtoi}, {StepOp::kAnd, d::kAnd}, {StepOp::kOr, d::kOr},
    {StepOp::kLog, d::kLog}, {StepOp::kExp, d::kExp},
    {StepOp::kXor, d::kXor}, {StepOp::kNot, d::kNot}, {StepOp::kIadd, d::kIadd}, {StepOp::kImad, d::kImad},
    {StepOp::kImul, d::kImul}, {StepOp::kIneg, d::kIneg}, {StepOp::kIshl, d::kIshl}, {StepOp::kIshr, d::kIshr},
    {StepOp::kUshr, d::kUshr}, {StepOp::kIeq, d::kIeq}, {StepOp::kIne, d::kIne}, {StepOp::kIge, d::kIge},
    {StepOp::kIlt, d::kIlt}, {StepOp::kUge, d::kUge}, {StepOp::kUlt, d::kUlt}, {StepOp::kImin, d::kImin},
    {StepOp::kImax, d::kImax}, {StepOp::kUmin, d::kUmin}, {StepOp::kUmax, d::kUmax}, {StepOp::kUdiv, d::kUdiv},
    {StepOp::kUtof, d::kUtof}, {StepOp::kItof, d::kItof}, {StepOp::kMov, d::kMov}, {StepOp::kMovc, d::kMovc},
    {StepOp::kLd, d::kLd}, {StepOp::kLdUavTyped, d::kLdUavTyped}, {StepOp::kStoreUavTyped, d::kStoreUavTyped},
    {StepOp::kLdStructured, d::kLdStructured}, {StepOp::kStoreStructured, d::kStoreStructured},
    {StepOp::kLoop, d::kLoop}, {StepOp::kEndloop, d::kEndloop}, {StepOp::kBreak, d::kBreak},
    {StepOp::kBreakc, d::kBreakc}, {StepOp::kContinue, d::kContinue}, {StepOp::kContinuec, d::kContinuec},
    {StepOp::kIf, d::kIf}, {StepOp::kElse, d::kElse}, {StepOp::kEndif, d::kEndif}, {StepOp::kRet, d::kRet},
};
// clang-format on

class Builder {
public:
    explicit Builder(Program *program) : p_(*program) {}

    bool declare(const d::Instruction &in) {
        const d::Operand *op = in.operands.empty() ? nullptr : &in.operands[0];
        switch (in.opcode) {
        case d::kDclGlobalFlags:
            return in.control == 1;  // refactoringAllowed only
        case d::kDclTemps:
            p_.temps = in.literals[0];
            return p_.temps <= 4096;
        case d::kDclThreadGroup:
            for (int i = 0; i < 3; ++i) p_.group[i] = in.literals[size_t(i)];
            return p_.group[0] && p_.group[1] && p_.group[2] && p_.group[2] <= 64 &&
                   uint64_t(p_.group[0]) * p_.group[1] * p_.group[2] <= 1024;
        case d::kDclInput:
            if (op->index_count != 0 || op->components != 4 || op->selection != d::kMask) return false;
            if (op->type < d::kThreadId || op->type > d::kThreadIdInGroupFlattened || op->type == 35) return false;
            inputs_ |= 1u << (op->type - d::kThreadId);
            return true;
        case d::kDclConstantBuffer:
            if (in.control != 0 || op->index_count != 2 || op->index[0] >= Bindings::kConstantBufferSlots ||
                op->index[1] == 0 || op->index[1] > 4096 || p_.cb_rows[op->index[0]] != 0)
                return false;
            p_.cb_rows[op->index[0]] = op->index[1];
            return true;
        case d::kDclResource:
        case d::kDclUavTyped: {
            const bool uav = in.opcode == d::kDclUavTyped;
            ResourceDecl *decl = slot_of(*op, uav);
            if (!decl || in.control != kDimensionTexture2D) return false;
            // Loads and stores convert by the view's format; the declared type only has to be one of these.
            if (in.literals[0] != kReturnUnorm && in.literals[0] != kReturnUint && in.literals[0] != kReturnFloat)
                return false;
            decl->kind = ResourceKind::kTexture2D;
            return true;
        }
        case d::kDclUavStructured:
        case d::kDclResourceStructured: {
            ResourceDecl *decl = slot_of(*op, in.opcode == d::kDclUavStructured);
            const uint32_t stride = in.literals[0];
            if (!decl || in.control != 0 || stride == 0 || stride % 4 != 0 || stride > 2048) return false;
            decl->kind = ResourceKind::kStructured;
            decl->stride = stride;
            return true;
        }
        default:
            return false;
        }
    }

    // Lays out the register file once the declarations are known.
    void lay_out() {
        p_.system_base = p_.temps;
        uint32_t next = p_.system_base + kSystemValues;
        for (int i = 0; i < Bindings::kConstantBufferSlots; ++i) {
            p_.cb_base[i] = next;
            next += p_.cb_rows[i];
        }
        p_.immediate_base = next;
    }

    bool translate(const d::Instruction &in, const d::OpcodeInfo &info) {
        Step step;
        const Translation *t = nullptr;
        for (const Translation &candidate : kSteps)
            if (candidate.opcode == in.opcode) t = &candidate;
        if (!t) return false;
        step.op = t->op;
        if (info.kind == d::OpKind::kConditional) {
            if (in.control & ~kTestNonZero) return false;
            step.flag = in.control != 0;
        } else if (d::takes_saturate(info) && in.control == kSaturate) {
            step.flag = true;
        } else if (in.control != 0) {
            return false;
        }
        const bool is_float = info.kind == d::OpKind::kFloat || in.opcode == d::kMov || in.opcode == d::kMovc;
        const bool memory = is_memory(step.op);
        size_t src = 0;
        for (size_t i = 0; i < in.operands.size(); ++i) {
            const d::Operand &op = in.operands[i];
            const bool last = i + 1 == in.operands.size();
            if (memory && is_store(step.op) && i == 0) {
                if (!resource(op,
                              step.op == StepOp::kStoreStructured ? ResourceKind::kStructured
                                                                  : ResourceKind::kTexture2D,
                              &step))
                    return false;
                step.dst[0].mask = uint8_t(op.select);
                if (step.op == StepOp::kStoreUavTyped && op.select != 0xf) return false;
            } else if (memory && !is_store(step.op) && last) {
                if (!resource(
                        op, step.op == StepOp::kLdStructured ? ResourceKind::kStructured : ResourceKind::kTexture2D,
                        &step))
                    return false;
                if (op.selection != d::kSwizzle) return false;
                step.src[2] = Source{};
                for (int c = 0; c < 4; ++c) step.src[2].swizzle[c] = uint8_t((op.select >> (2 * c)) & 3);
            } else if (i < info.destinations) {
                if (!destination(op, &step.dst[i])) return false;
            } else {
                if (op.modifier != 0 && (memory || (!is_float && op.modifier != d::kNegate))) return false;
                if (!source(op, &step.src[src++])) return false;
            }
        }
        if (!link(&step)) return false;
        p_.steps.push_back(step);
        return true;
    }

    bool finish() const { return open_.empty() && p_.group[0] != 0; }

private:
    struct Open {
        StepOp op;
        uint32_t index;
        std::vector<uint32_t> breaks, continues;
    };

    static bool is_memory(StepOp op) { return op >= StepOp::kLd && op <= StepOp::kStoreStructured; }
    static bool is_store(StepOp op) { return op == StepOp::kStoreUavTyped || op == StepOp::kStoreStructured; }

    ResourceDecl *slot_of(const d::Operand &op, bool uav) {
        if (op.index_count != 1 || op.components != 0 || op.type != (uav ? d::kUav : d::kResource)) return nullptr;
        if (op.index[0] >= uint32_t(uav ? Bindings::kUavSlots : Bindings::kResourceSlots)) return nullptr;
        ResourceDecl *decl = uav ? &p_.uavs[op.index[0]] : &p_.resources[op.index[0]];
        return decl->kind == ResourceKind::kNone ? decl : nullptr;
    }

    bool resource(const d::Operand &op, ResourceKind kind, Step *step) {
        const bool uav = op.type == d::kUav;
        const bool wants_uav = step->op != StepOp::kLd && step->op != StepOp::kLdStructured;
        if ((op.type != d::kUav && op.type != d::kResource) || op.index_count != 1 || op.components != 4)
            return false;
        if (op.modifier != 0 || (wants_uav && !uav) || (step->op == StepOp::kLd && uav)) return false;
        if (op.index[0] >= uint32_t(uav ? Bindings::kUavSlots : Bindings::kResourceSlots)) return false;
        const ResourceDecl &decl = uav ? p_.uavs[op.index[0]] : p_.resources[op.index[0]];
        if (decl.kind != kind) return false;
        step->resource = uint8_t(op.index[0]);
        step->from_uav = uav;
        return true;
    }

    bool destination(const d::Operand &op, Destination *dst) {
        if (op.type == d::kNull && op.components == 0 && op.index_count == 0) return true;
        if (op.type != d::kTemp || op.index_count != 1 || op.index[0] >= p_.temps || op.components != 4 ||
            op.selection != d::kMask || op.select == 0 || op.modifier != 0)
            return false;
        dst->slot = uint16_t(op.index[0]);
        dst->mask = uint8_t(op.select);
        return true;
    }

    bool source(const d::Operand &op, Source *src) {
        src->modifier = uint8_t(op.modifier);
        if (op.type == d::kImmediate32) {
            src->slot = uint16_t(p_.immediate_base + p_.immediates.size() / 4);
            for (int c = 0; c < 4; ++c) p_.immediates.push_back(op.values[op.components == 1 ? 0 : c]);
            return p_.immediate_base + p_.immediates.size() / 4 < 0xffff;
        }
        if (op.components != 4) return false;
        for (int c = 0; c < 4; ++c)
            src->swizzle[c] = uint8_t(op.selection == d::kSelectOne ? op.select
                                      : op.selection == d::kSwizzle ? (op.select >> (2 * c)) & 3
                                                                    : 0xff);
        if (op.selection == d::kMask) return false;
        switch (op.type) {
        case d::kTemp:
            if (op.index_count != 1 || op.index[0] >= p_.temps) return false;
            src->slot = uint16_t(op.index[0]);
            return true;
        case d::kConstantBuffer:
            if (op.index_count != 2 || op.index[0] >= Bindings::kConstantBufferSlots ||
                op.index[1] >= p_.cb_rows[op.index[0]])
                return false;
            src->slot = uint16_t(p_.cb_base[op.index[0]] + op.index[1]);
            return p_.cb_base[op.index[0]] + op.index[1] < 0xffff;
        case d::kThreadId:
        case d::kThreadGroupId:
        case d::kThreadIdInGroup:
        case d::kThreadIdInGroupFlattened:
            if (op.index_count != 0 || !(inputs_ & (1u << (op.type - d::kThreadId)))) return false;
            src->slot =
                uint16_t(p_.system_base +
                         (op.type == d::kThreadIdInGroupFlattened ? uint32_t(kFlattened) : op.type - d::kThreadId));
            return true;
        default:
            return false;
        }
    }

    // Records nesting and fills in jump targets.
    bool link(Step *step) {
        const uint32_t here = uint32_t(p_.steps.size());
        switch (step->op) {
        case StepOp::kLoop:
        case StepOp::kIf:
            open_.push_back({step->op, here, {}, {}});
            p_.depth = std::max(p_.depth, uint32_t(open_.size()));
            return true;
        case StepOp::kElse:
            if (open_.empty() || open_.back().op != StepOp::kIf) return false;
            p_.steps[open_.back().index].target = here + 1;
            open_.back() = {StepOp::kElse, here, {}, {}};
            return true;
        case StepOp::kEndif:
            if (open_.empty() || (open_.back().op != StepOp::kIf && open_.back().op != StepOp::kElse)) return false;
            p_.steps[open_.back().index].target = here + 1;
            open_.pop_back();
            return true;
        case StepOp::kBreak:
        case StepOp::kBreakc:
        case StepOp::kContinue:
        case StepOp::kContinuec: {
            Open *loop = innermost_loop();
            if (!loop) return false;
            const bool brk = step->op == StepOp::kBreak || step->op == StepOp::kBreakc;
            (brk ? loop->breaks : loop->continues).push_back(here);
            return true;
        }
        case StepOp::kEndloop: {
            if (open_.empty() || open_.back().op != StepOp::kLoop) return false;
            step->target = open_.back().index + 1;
            p_.steps[open_.back().index].target = here + 1;
            for (uint32_t b : open_.back().breaks) p_.steps[b].target = here + 1;
            for (uint32_t c : open_.back().continues) p_.steps[c].target = here;
            open_.pop_back();
            return true;
        }
        default:
            return true;
        }
    }

    Open *innermost_loop() {
        for (auto it = open_.rbegin(); it != open_.rend(); ++it)
            if (it->op == StepOp::kLoop) return &*it;
        return nullptr;
    }

    Program &p_;
    uint32_t inputs_ = 0;
    std::vector<Open> open_;
};

}  // namespace

HRESULT create_program(const void *bytecode, size_t length, std::shared_ptr<const Program> *out) {
    if (!out) return E_INVALIDARG;
    out->reset();
    d::ProgramTokens tokens;
    std::string error;
    if (!bytecode || !d::decode_container(static_cast<const uint8_t *>(bytecode), length, &tokens, &error))
        return E_INVALIDARG;
    if (tokens.version != 0x00050050) return E_INVALIDARG;  // cs_5_0 only
    auto program = std::make_shared<Program>();
    Builder builder(program.get());
    size_t first_instruction = 0;
    for (; first_instruction < tokens.instructions.size(); ++first_instruction) {
        const d::Instruction &in = tokens.instructions[first_instruction];
        if (d::find_opcode(in.opcode)->kind != d::OpKind::kDeclaration) break;
        if (!builder.declare(in)) return E_INVALIDARG;
    }
    builder.lay_out();
    for (size_t i = first_instruction; i < tokens.instructions.size(); ++i) {
        const d::Instruction &in = tokens.instructions[i];
        if (!builder.translate(in, *d::find_opcode(in.opcode))) return E_INVALIDARG;
    }
    if (!builder.finish()) return E_INVALIDARG;
    program->slots = program->immediate_base + uint32_t(program->immediates.size() / 4);
    *out = std::move(program);
    return S_OK;
}

}  // namespace corvo::emu::shader
