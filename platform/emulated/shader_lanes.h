// The lane executor: runs each step of a program for all threads of a thread group at once. Registers are
// kept as structure of arrays, one lane per thread, and `if`, loops, `break`, `continue` and `ret` act on
// per-lane execution masks, so a step is decoded once per group and its per-lane work is a loop the compiler
// vectorises. It gives the results of dispatch_reference.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/emulated/shader_views.h"

// AVX2 doubles the lanes per instruction and AVX-512 doubles them again: a thread group's steps are built, all
// inlined, for the x86-64 baseline, AVX2 and AVX-512, each in a file of its own so that the three compile side by
// side, and the first dispatch picks one for the machine. Clang builds and the sanitizer builds keep the baseline
// (which the sanitizer lanes thereby test).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && \
    !defined(__SANITIZE_ADDRESS__)
#define CORVO_LANES_VECTOR_SETS 1
#else
#define CORVO_LANES_VECTOR_SETS 0
#endif

namespace corvo::emu::shader {

// Lane ranges start and end on multiples of this, so that the rows' vector loops run whole.
constexpr uint32_t kChunk = 8;

// Lanes of a batch: a group's threads run this many at a time, so that the rows a step touches stay in the first-
// level cache and the texels the batch's threads load next stay in the second. Measured on the 1080p cell pass:
// 128 lanes beat 32, 64, 96 and 256; a step's own cost, paid once a batch, grows with fewer.
constexpr uint32_t kBatch = 128;

// Scratch rows: four results, then four second results (imul, udiv) or lane masks, then a loaded texel's bits.
constexpr size_t kResult = 0, kSecond = 4, kTexel = 8, kScratchRows = 10;

// A float's sign bit, and the bits of its magnitude.
constexpr uint32_t kSign = 0x80000000u, kMagnitude = 0x7fffffffu;

// One dispatch: the program, its views and uniform values, and its thread groups as numbered tasks.
struct LaneDispatch {
    LaneDispatch(const Program &program, const Bindings &bindings, uint32_t groups_x, uint32_t groups_y,
                 uint32_t groups_z);

    const Program &program;
    const Bindings &bindings;
    const BoundViews views;
    const uint32_t groups[3];
    const uint64_t tasks;  // thread groups
};

// A source modifier as bit operations: abs and negate of floats clear and flip the sign, negate of an integer
// (the only one accepted) subtracts from 0.
struct LaneModifier {
    uint32_t keep = ~0u, flip = 0, subtract = 0;
    uint32_t operator()(uint32_t v) const { return ((v & keep) ^ flip) - subtract; }
};

// How one component of a loaded texel comes from the texel's bits: what load_texel does, per component.
struct LaneDecoder {
    enum Kind : uint8_t { kZero, kOne, kRaw, kUnorm, kHalf } kind = kZero;
    uint8_t shift = 0;  // of the component's byte, for kUnorm, or of its half, for kHalf
};

// A step resolved once per dispatch against a prepared file: the rows each operand component reads and
// writes, its modifiers, and for texture loads how each component comes from the bound view's texels.
struct LanePlan {
    const uint32_t *src[3][4] = {};
    uint32_t *dst[2][4] = {};  // null where the component is not written
    LaneModifier modifier[3];
    bool modified = false;        // a source has a modifier
    bool staged = false;          // a component's result would overwrite a row that a later component reads
    bool unorm = false;           // a texture load whose written components are all UNORM8 bytes
    LaneDecoder decoder[4];       // of texture loads
    const Bound *view = nullptr;  // of memory steps
};

// One worker's registers and masks. Sized by the first dispatch that needs them and kept, so that a warm
// stream of dispatches allocates nothing.
class LaneFile {
public:
    // Sizes the file for the dispatch and fills the values that are the same in every group.
    void prepare(const LaneDispatch &dispatch);
    // Runs thread group `task` of the prepared dispatch.
    void run(const LaneDispatch &dispatch, uint64_t task);
    // Resolves each step of the prepared dispatch into its plan.
    void plan_steps(const LaneDispatch &dispatch);

    struct Frame {
        bool loop = false;
        bool left = false;        // of a loop: a lane left it during the current pass
        uint32_t exit = 0;        // the step that closes or splits the block: else, endif or endloop
        uint32_t lo = 0, hi = 0;  // lanes where the block's saved mask may be set
    };

    uint32_t stride = 0;              // lanes per row: a batch of a group's threads, rounded up to a chunk
    std::vector<uint32_t> registers;  // a row per component of every register-file slot
    std::vector<uint32_t> masks;      // the active lanes, the lanes that did not return, two rows per block
    std::vector<uint32_t> scratch;    // the current step's results, lane masks and loaded texels
    std::vector<uint32_t> uniforms;   // constant-buffer rows and immediates, before they fill their rows
    std::vector<Frame> frames;
    std::vector<LanePlan> plans;  // a plan per step of the prepared dispatch
};

// Runs thread group `group` (x, y, z) of a prepared dispatch; one per instruction set, in lane_group_*.cpp.
void run_lane_group_baseline(LaneFile &file, const LaneDispatch &dispatch, const uint32_t *group);
void run_lane_group_avx2(LaneFile &file, const LaneDispatch &dispatch, const uint32_t *group);
void run_lane_group_avx512(LaneFile &file, const LaneDispatch &dispatch, const uint32_t *group);

}  // namespace corvo::emu::shader
