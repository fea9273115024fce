#include "platform/emulated/dxbc/opcodes.h"

namespace corvo::dxbc {
namespace {

using K = OpKind;

constexpr OpcodeInfo kOpcodes[] = {
    {kAdd, "add", K::kFloat, 1, 2, 0},
    {kAnd, "and", K::kInteger, 1, 2, 0},
    {kBreak, "break", K::kFlow, 0, 0, 0},
    {kBreakc, "breakc", K::kConditional, 0, 1, 0},
    {kContinue, "continue", K::kFlow, 0, 0, 0},
    {kContinuec, "continuec", K::kConditional, 0, 1, 0},
    {kDiv, "div", K::kFloat, 1, 2, 0},
    {kElse, "else", K::kFlow, 0, 0, 0},
    {kEndif, "endif", K::kFlow, 0, 0, 0},
    {kEndloop, "endloop", K::kFlow, 0, 0, 0},
    {kEq, "eq", K::kFloat, 1, 2, 0},
    {kExp, "exp", K::kFloat, 1, 1, 0},
    {kFtoi, "ftoi", K::kFloat, 1, 1, 0},
    {kFtou, "ftou", K::kFloat, 1, 1, 0},
    {kGe, "ge", K::kFloat, 1, 2, 0},
    {kIadd, "iadd", K::kInteger, 1, 2, 0},
    {kIf, "if", K::kConditional, 0, 1, 0},
    {kIeq, "ieq", K::kInteger, 1, 2, 0},
    {kIge, "ige", K::kInteger, 1, 2, 0},
    {kIlt, "ilt", K::kInteger, 1, 2, 0},
    {kImad, "imad", K::kInteger, 1, 3, 0},
    {kImax, "imax", K::kInteger, 1, 2, 0},
    {kImin, "imin", K::kInteger, 1, 2, 0},
    {kImul, "imul", K::kInteger, 2, 2, 0},
    {kIne, "ine", K::kInteger, 1, 2, 0},
    {kIneg, "ineg", K::kInteger, 1, 1, 0},
    {kIshl, "ishl", K::kInteger, 1, 2, 0},
    {kIshr, "ishr", K::kInteger, 1, 2, 0},
    {kItof, "itof", K::kInteger, 1, 1, 0},
    {kLd, "ld", K::kUntyped, 1, 2, 0},
    {kLog, "log", K::kFloat, 1, 1, 0},
    {kLoop, "loop", K::kFlow, 0, 0, 0},
    {kLt, "lt", K::kFloat, 1, 2, 0},
    {kMad, "mad", K::kFloat, 1, 3, 0},
    {kMin, "min", K::kFloat, 1, 2, 0},
    {kMax, "max", K::kFloat, 1, 2, 0},
    {kMov, "mov", K::kUntyped, 1, 1, 0},
    {kMovc, "movc", K::kUntyped, 1, 3, 0},
    {kMul, "mul", K::kFloat, 1, 2, 0},
    {kNe, "ne", K::kFloat, 1, 2, 0},
    {kNot, "not", K::kInteger, 1, 1, 0},
    {kOr, "or", K::kInteger, 1, 2, 0},
    {kRet, "ret", K::kFlow, 0, 0, 0},
    {kRoundNe, "round_ne", K::kFloat, 1, 1, 0},
    {kRoundNi, "round_ni", K::kFloat, 1, 1, 0},
    {kRoundPi, "round_pi", K::kFloat, 1, 1, 0},
    {kRoundZ, "round_z", K::kFloat, 1, 1, 0},
    {kUdiv, "udiv", K::kInteger, 2, 2, 0},
    {kUlt, "ult", K::kInteger, 1, 2, 0},
    {kUge, "uge", K::kInteger, 1, 2, 0},
    {kUmax, "umax", K::kInteger, 1, 2, 0},
    {kUmin, "umin", K::kInteger, 1, 2, 0},
    {kUshr, "ushr", K::kInteger, 1, 2, 0},
    {kUtof, "utof", K::kInteger, 1, 1, 0},
    {kXor, "xor", K::kInteger, 1, 2, 0},
    {kDclResource, "dcl_resource", K::kDeclaration, 0, 1, 1},
    {kDclConstantBuffer, "dcl_constantbuffer", K::kDeclaration, 0, 1, 0},
    {kDclInput, "dcl_input", K::kDeclaration, 0, 1, 0},
    {kDclTemps, "dcl_temps", K::kDeclaration, 0, 0, 1},
    {kDclGlobalFlags, "dcl_globalFlags", K::kDeclaration, 0, 0, 0},
    {kDclThreadGroup, "dcl_thread_group", K::kDeclaration, 0, 0, 3},
    {kDclUavTyped, "dcl_uav_typed", K::kDeclaration, 0, 1, 1},
    {kDclUavStructured, "dcl_uav_structured", K::kDeclaration, 0, 1, 1},
    {kDclResourceStructured, "dcl_resource_structured", K::kDeclaration, 0, 1, 1},
    {kLdUavTyped, "ld_uav_typed", K::kUntyped, 1, 2, 0},
    {kStoreUavTyped, "store_uav_typed", K::kUntyped, 1, 2, 0},
    {kLdStructured, "ld_structured", K::kUntyped, 1, 3, 0},
    {kStoreStructured, "store_structured", K::kUntyped, 1, 3, 0},
};

}  // namespace

const OpcodeInfo *find_opcode(uint32_t number) {
    for (const OpcodeInfo &info : kOpcodes)
        if (info.number == number) return &info;
    return nullptr;
}

const OpcodeInfo *find_opcode(std::string_view name) {
    for (const OpcodeInfo &info : kOpcodes)
        if (info.name == name) return &info;
    return nullptr;
}

}  // namespace corvo::dxbc
