// Shader model 5 token streams (the SHEX chunk) as a list of decoded instructions, and back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvo::dxbc {

// A table packed as written; the formatter would give it a line an entry.
// clang-format off
enum OperandType : uint32_t {
    kTemp = 0, kImmediate32 = 4, kResource = 7, kConstantBuffer = 8, kNull = 13, kUav = 30, kThreadId = 32,
    kThreadGroupId = 33, kThreadIdInGroup = 34, kThreadIdInGroupFlattened = 36,
};
// clang-format on

enum Selection : uint32_t { kMask = 0, kSwizzle = 1, kSelectOne = 2 };

enum Modifier : uint32_t { kNoModifier = 0, kNegate = 1, kAbsolute = 2, kAbsoluteNegate = 3 };

struct Operand {
    uint32_t type = kNull;
    uint32_t components = 0;     // 0, 1 or 4
    uint32_t selection = kMask;  // four-component operands only
    uint32_t select = 0;         // mask bits (x = 1), swizzle (2 bits per position) or the selected component
    uint32_t modifier = kNoModifier;
    uint32_t index_count = 0;  // immediate 32-bit indices only
    uint32_t index[3] = {};
    uint32_t values[4] = {};  // immediates: `components` values
};

struct Instruction {
    uint32_t opcode = 0;
    uint32_t control = 0;  // token bits 11-23, opcode specific
    std::vector<Operand> operands;
    std::vector<uint32_t> literals;  // declarations: the plain DWORDs after the operands
};

struct ProgramTokens {
    uint32_t version = 0x00050050;  // cs_5_0
    std::vector<Instruction> instructions;
};

// Appends the instruction with its length computed; false when it cannot be encoded (unknown opcode, wrong
// operand or literal count, a field out of range, or longer than 31 DWORDs).
bool encode_instruction(const Instruction &instruction, std::vector<uint32_t> *out, std::string *error);
bool encode_program(const ProgramTokens &program, std::vector<uint32_t> *out, std::string *error);

// Strict: an instruction decodes only when re-encoding it gives back exactly its DWORDs, so no bit that the
// model ignores can pass unnoticed.
bool decode_program(const uint32_t *tokens, size_t count, ProgramTokens *out, std::string *error);

// The SHEX chunk of a container, decoded.
bool decode_container(const uint8_t *blob, size_t size, ProgramTokens *out, std::string *error);

}  // namespace corvo::dxbc
