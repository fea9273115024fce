// The executor's compact form of a compute program: declarations resolved into a register-file layout and the
// instructions into fixed-size steps with their jump targets, so a dispatch allocates nothing per thread.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/emulated/shader_executor.h"

namespace corvo::emu::shader {

// A table packed as written; the formatter would give it a line an entry.
// clang-format off
enum class StepOp : uint8_t {
    kAdd, kMul, kMad, kDiv, kMin, kMax, kEq, kNe, kLt, kGe, kRoundNe, kRoundNi, kRoundPi, kRoundZ, kFtou, kFtoi,
    kLog, kExp,
    kAnd, kOr, kXor, kNot, kIadd, kImad, kImul, kIneg, kIshl, kIshr, kUshr, kIeq, kIne, kIge, kIlt, kUge, kUlt,
    kImin, kImax, kUmin, kUmax, kUdiv, kUtof, kItof, kMov, kMovc,
    kLd, kLdUavTyped, kStoreUavTyped, kLdStructured, kStoreStructured,
    kLoop, kEndloop, kBreak, kBreakc, kContinue, kContinuec, kIf, kElse, kEndif, kRet,
};
// clang-format on

// Every operand reads or writes 4-DWORD slots of one register file: temps, then the thread's system values,
// then the declared constant-buffer rows, then the immediates.
struct Source {
    uint16_t slot = 0;
    uint8_t swizzle[4] = {0, 1, 2, 3};
    uint8_t modifier = 0;  // bit 0 negate, bit 1 absolute
};

struct Destination {
    uint16_t slot = 0;
    uint8_t mask = 0;  // 0: the result is dropped (null)
};

struct Step {
    StepOp op = StepOp::kRet;
    bool flag = false;      // `_sat` on float steps, `_nz` on conditional ones
    uint8_t resource = 0;   // t# or u# of memory steps
    bool from_uav = false;  // ld_structured reads u# rather than t#
    uint32_t target = 0;    // jump target of flow steps
    Destination dst[2];
    Source src[3];
};

enum class ResourceKind : uint8_t { kNone, kTexture2D, kStructured };

struct ResourceDecl {
    ResourceKind kind = ResourceKind::kNone;
    uint32_t stride = 0;
};

enum SystemValue : uint16_t { kThreadId, kGroupId, kThreadInGroup, kFlattened, kSystemValues };

class Program {
public:
    std::vector<Step> steps;
    uint32_t group[3] = {};
    uint32_t temps = 0;
    uint32_t system_base = 0;
    uint32_t cb_base[Bindings::kConstantBufferSlots] = {};
    uint32_t cb_rows[Bindings::kConstantBufferSlots] = {};
    uint32_t immediate_base = 0;
    std::vector<uint32_t> immediates;  // 4 DWORDs per immediate slot
    uint32_t slots = 0;                // size of the register file in 4-DWORD slots
    uint32_t depth = 0;                // deepest nesting of `if` and `loop` blocks
    ResourceDecl resources[Bindings::kResourceSlots];
    ResourceDecl uavs[Bindings::kUavSlots];
};

}  // namespace corvo::emu::shader
