// The shader model 5 opcodes this toolchain knows: number, listing name and operand layout.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvo::dxbc {

// A table packed as written; the formatter would give it a line an entry.
// clang-format off
enum Opcode : uint32_t {
    kAdd = 0, kAnd = 1, kBreak = 2, kBreakc = 3, kContinue = 7, kContinuec = 8, kDiv = 14, kElse = 18,
    kEndif = 21, kEndloop = 22, kEq = 24, kExp = 25, kFtoi = 27, kFtou = 28, kGe = 29, kIadd = 30, kIf = 31, kIeq = 32,
    kIge = 33, kIlt = 34, kImad = 35, kImax = 36, kImin = 37, kImul = 38, kIne = 39, kIneg = 40, kIshl = 41,
    kIshr = 42, kItof = 43, kLd = 45, kLog = 47, kLoop = 48, kLt = 49, kMad = 50, kMin = 51, kMax = 52, kMov = 54,
    kMovc = 55, kMul = 56, kNe = 57, kNot = 59, kOr = 60, kRet = 62, kRoundNe = 64, kRoundNi = 65,
    kRoundPi = 66, kRoundZ = 67, kUdiv = 78, kUlt = 79, kUge = 80, kUmax = 83, kUmin = 84, kUshr = 85,
    kUtof = 86, kXor = 87, kDclResource = 88, kDclConstantBuffer = 89, kDclInput = 95, kDclTemps = 104,
    kDclGlobalFlags = 106, kDclThreadGroup = 155, kDclUavTyped = 156, kDclUavStructured = 158,
    kDclResourceStructured = 162, kLdUavTyped = 163, kStoreUavTyped = 164, kLdStructured = 167,
    kStoreStructured = 168,
};
// clang-format on

enum class OpKind : uint8_t {
    kFloat,        // float arithmetic: source modifiers act on the float sign, `_sat` allowed
    kInteger,      // integer arithmetic: negate is two's complement
    kUntyped,      // mov (which takes `_sat` as well), movc and memory access
    kConditional,  // one source tested for zero (`_z`) or non-zero (`_nz`)
    kFlow,         // no operands
    kDeclaration,  // operands and trailing literal DWORDs, see `literals`
};

struct OpcodeInfo {
    uint32_t number;
    std::string_view name;
    OpKind kind;
    uint8_t destinations;
    uint8_t sources;   // for declarations: the number of operands
    uint8_t literals;  // declarations: plain DWORDs after the operands
};

// Whether the instruction takes `_sat`: float arithmetic, and mov of a float.
inline bool takes_saturate(const OpcodeInfo &info) { return info.kind == OpKind::kFloat || info.number == kMov; }

// Null when the number is not one this toolchain handles.
const OpcodeInfo *find_opcode(uint32_t number);
const OpcodeInfo *find_opcode(std::string_view name);

}  // namespace corvo::dxbc
