#include "platform/emulated/dxbc/tokens.h"

#include <algorithm>

#include "platform/emulated/dxbc/container.h"
#include "platform/emulated/dxbc/opcodes.h"

namespace corvo::dxbc {
namespace {

constexpr uint32_t kMaxInstructionLength = 31;

bool fail(std::string *error, std::string why) {
    if (error) *error = std::move(why);
    return false;
}

bool encode_operand(const Operand &op, std::vector<uint32_t> *out, std::string *error) {
    if (op.type > 0xff || op.index_count > 3) return fail(error, "operand type or index count out of range");
    uint32_t token = (op.type << 12) | (op.index_count << 20);
    if (op.components == 1) {
        token |= 1;
    } else if (op.components == 4) {
        if (op.selection > kSelectOne) return fail(error, "bad selection mode");
        const uint32_t limit = op.selection == kMask ? 0xf : op.selection == kSwizzle ? 0xff : 3;
        if (op.select > limit) return fail(error, "component selection out of range");
        token |= 2 | (op.selection << 2) | (op.select << 4);
    } else if (op.components != 0) {
        return fail(error, "component count must be 0, 1 or 4");
    }
    if (op.modifier > kAbsoluteNegate) return fail(error, "bad modifier");
    if (op.modifier != kNoModifier) token |= 0x80000000u;
    out->push_back(token);
    if (op.modifier != kNoModifier) out->push_back(1 | (op.modifier << 6));
    for (uint32_t i = 0; i < op.index_count; ++i) out->push_back(op.index[i]);
    if (op.type == kImmediate32) {
        if (op.index_count != 0 || (op.components != 1 && op.components != 4))
            return fail(error, "immediate needs one or four values and no index");
        for (uint32_t i = 0; i < op.components; ++i) out->push_back(op.values[i]);
    }
    return true;
}

// Reads one operand at `*at`, not beyond `end`.
bool decode_operand(const uint32_t *tokens, size_t *at, size_t end, Operand *op, std::string *error) {
    if (*at >= end) return fail(error, "operand runs past the instruction");
    const uint32_t token = tokens[(*at)++];
    const uint32_t count = token & 3;
    if (count == 3) return fail(error, "N-component operands are not supported");
    op->components = count == 2 ? 4 : count;
    op->selection = count == 2 ? (token >> 2) & 3 : 0;
    op->select = count == 2 ? (token >> 4) & (op->selection == kMask      ? 0xf
                                              : op->selection == kSwizzle ? 0xff
                                                                          : 3)
                            : 0;
    op->type = (token >> 12) & 0xff;
    op->index_count = (token >> 20) & 3;
    op->modifier = kNoModifier;
    if (token & 0x80000000u) {
        if (*at >= end) return fail(error, "extended operand runs past the instruction");
        const uint32_t ext = tokens[(*at)++];
        if ((ext & 0x3f) != 1) return fail(error, "unsupported extended operand token");
        op->modifier = (ext >> 6) & 0xff;
    }
    if (end - *at < op->index_count) return fail(error, "operand index runs past the instruction");
    for (uint32_t i = 0; i < op->index_count; ++i) op->index[i] = tokens[(*at)++];
    if (op->type == kImmediate32) {
        if (end - *at < op->components) return fail(error, "immediate runs past the instruction");
        for (uint32_t i = 0; i < op->components; ++i) op->values[i] = tokens[(*at)++];
    }
    return true;
}

}  // namespace

bool encode_instruction(const Instruction &instruction, std::vector<uint32_t> *out, std::string *error) {
    const OpcodeInfo *info = find_opcode(instruction.opcode);
    if (!info) return fail(error, "unknown opcode " + std::to_string(instruction.opcode));
    const std::string name(info->name);
    if (instruction.operands.size() != size_t(info->destinations) + info->sources)
        return fail(error, name + ": wrong operand count");
    if (instruction.literals.size() != info->literals) return fail(error, name + ": wrong literal count");
    if (instruction.control > 0x1fff) return fail(error, name + ": control field out of range");
    const size_t start = out->size();
    out->push_back(0);
    for (const Operand &op : instruction.operands)
        if (!encode_operand(op, out, error)) return fail(error, name + ": " + *error);
    out->insert(out->end(), instruction.literals.begin(), instruction.literals.end());
    const size_t length = out->size() - start;
    if (length > kMaxInstructionLength) return fail(error, name + ": longer than 31 DWORDs");
    (*out)[start] = instruction.opcode | (instruction.control << 11) | uint32_t(length) << 24;
    return true;
}

bool encode_program(const ProgramTokens &program, std::vector<uint32_t> *out, std::string *error) {
    out->assign({program.version, 0});
    for (const Instruction &instruction : program.instructions)
        if (!encode_instruction(instruction, out, error)) return false;
    (*out)[1] = uint32_t(out->size());
    return true;
}

bool decode_program(const uint32_t *tokens, size_t count, ProgramTokens *out, std::string *error) {
    out->instructions.clear();
    if (count < 2) return fail(error, "program shorter than its version and length tokens");
    out->version = tokens[0];
    if (tokens[1] != count) return fail(error, "program length token differs from the chunk size");
    std::vector<uint32_t> again;
    for (size_t at = 2; at < count;) {
        const uint32_t token = tokens[at];
        const uint32_t length = (token >> 24) & 0x7f;
        const std::string where = "at DWORD " + std::to_string(at) + ": ";
        if (token & 0x80000000u) return fail(error, where + "extended opcode tokens are not supported");
        if (length == 0 || length > count - at) return fail(error, where + "bad instruction length");
        const OpcodeInfo *info = find_opcode(token & 0x7ff);
        if (!info) return fail(error, where + "unknown opcode " + std::to_string(token & 0x7ff));
        Instruction instruction;
        instruction.opcode = info->number;
        instruction.control = (token >> 11) & 0x1fff;
        size_t pos = at + 1;
        const size_t end = at + length;
        for (int i = 0; i < info->destinations + info->sources; ++i) {
            instruction.operands.emplace_back();
            if (!decode_operand(tokens, &pos, end, &instruction.operands.back(), error))
                return fail(error, where + *error);
        }
        if (end - pos != info->literals) return fail(error, where + "instruction length does not match operands");
        instruction.literals.assign(tokens + pos, tokens + end);
        again.clear();
        if (!encode_instruction(instruction, &again, error)) return fail(error, where + *error);
        if (again.size() != length || !std::equal(again.begin(), again.end(), tokens + at))
            return fail(error, where + "bits outside the known fields are set");
        out->instructions.push_back(std::move(instruction));
        at = end;
    }
    return true;
}

bool decode_container(const uint8_t *blob, size_t size, ProgramTokens *out, std::string *error) {
    std::vector<Chunk> chunks;
    if (!read_container(blob, size, &chunks, error)) return false;
    const Chunk *shex = nullptr;
    for (const Chunk &chunk : chunks) {
        if (chunk.fourcc != fourcc("SHEX")) continue;
        if (shex) return fail(error, "more than one SHEX chunk");
        shex = &chunk;
    }
    if (!shex) return fail(error, "no SHEX chunk");
    if (shex->data.size() % 4 != 0) return fail(error, "SHEX size is not a multiple of 4");
    std::vector<uint32_t> tokens(shex->data.size() / 4);
    for (size_t i = 0; i < tokens.size(); ++i)
        tokens[i] = uint32_t(shex->data[4 * i]) | uint32_t(shex->data[4 * i + 1]) << 8 |
                    uint32_t(shex->data[4 * i + 2]) << 16 | uint32_t(shex->data[4 * i + 3]) << 24;
    return decode_program(tokens.data(), tokens.size(), out, error);
}

}  // namespace corvo::dxbc
