// The lane executor, on the calling thread and through engines with one and with three worker threads, against
// the one-thread-at-a-time reference executor: the change-detection kernels over random frames, sizes and
// bindings, and programs that use every instruction the executor implements over random inputs, NaN and
// infinities among them. Every byte the dispatches may write must come out the same.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "diff/kernels/kernel_bytecode.h"
#include "kernel_reference.h"
#include "platform/emulated/dxbc/container.h"
#include "platform/emulated/shader_engine.h"
#include "platform/emulated/shader_views.h"
#include "tools/listing.h"

namespace {

namespace shader = corvo::emu::shader;

std::shared_ptr<const shader::Program> program(const uint8_t *bytes, size_t size) {
    std::shared_ptr<const shader::Program> p;
    EXPECT_EQ(shader::create_program(bytes, size, &p), S_OK);
    return p;
}

std::shared_ptr<const shader::Program> assemble(const std::string &listing) {
    corvo::dxbc::ProgramTokens tokens;
    std::vector<uint32_t> words;
    std::string error;
    EXPECT_TRUE(corvo::dxbc::parse_listing(listing, &tokens, &error)) << error << "\n" << listing;
    EXPECT_TRUE(corvo::dxbc::encode_program(tokens, &words, &error)) << error;
    const std::vector<uint8_t> blob = corvo::dxbc::write_compute_shader(words);
    return program(blob.data(), blob.size());
}

// A view into one of a scenario's memory blocks, or unbound (block -1).
struct Binding {
    int block = -1;
    size_t offset = 0;
    shader::View view;
};

// One dispatch with everything it reads and writes. Each executor runs on its own copy of the blocks that a UAV
// points into; the others (frames, inputs) are shared.
struct Scenario {
    std::shared_ptr<const shader::Program> program;
    std::vector<std::vector<uint8_t>> memory;
    std::vector<uint32_t> constants;  // cb0
    std::array<Binding, 2> resources, uavs;
    uint32_t groups[3] = {1, 1, 1};
};

using Executor =
    std::function<void(const shader::Program &, const shader::Bindings &, uint32_t, uint32_t, uint32_t)>;

std::vector<std::vector<uint8_t>> run(const Scenario &s, const Executor &execute) {
    std::vector<bool> written(s.memory.size());
    for (const Binding &b : s.uavs)
        if (b.block >= 0) written[size_t(b.block)] = true;
    std::vector<std::vector<uint8_t>> copies(s.memory.size());
    for (size_t i = 0; i < s.memory.size(); ++i)
        if (written[i]) copies[i] = s.memory[i];
    auto place = [&](const Binding &b) {
        shader::View v = b.view;
        if (b.block < 0) return v;
        const auto i = size_t(b.block);
        v.data = const_cast<uint8_t *>((written[i] ? copies[i] : s.memory[i]).data()) + b.offset;
        return v;
    };
    shader::Bindings bindings;
    bindings.constant_buffers[0] = {reinterpret_cast<const uint8_t *>(s.constants.data()),
                                    uint32_t(s.constants.size() * 4)};
    for (size_t i = 0; i < 2; ++i) {
        bindings.resources[i] = place(s.resources[i]);
        bindings.uavs[i] = place(s.uavs[i]);
    }
    execute(*s.program, bindings, s.groups[0], s.groups[1], s.groups[2]);
    return copies;
}

// Runs the scenario on every executor and expects the reference's bytes from each.
void expect_same_results(const Scenario &s, const std::string &what) {
    static shader::Engine one_worker(1), three_workers(3);
    const auto want = run(s, shader::dispatch_reference);
    const std::pair<const char *, Executor> executors[] = {
        {"lanes on the calling thread", shader::dispatch},
        {"engine with one worker thread",
         [](auto &p, auto &b, uint32_t x, uint32_t y, uint32_t z) { one_worker.dispatch(p, b, x, y, z); }},
        {"engine with three worker threads",
         [](auto &p, auto &b, uint32_t x, uint32_t y, uint32_t z) { three_workers.dispatch(p, b, x, y, z); }},
    };
    for (const auto &[name, execute] : executors) {
        const auto got = run(s, execute);
        for (size_t i = 0; i < want.size(); ++i) {
            if (got[i] == want[i]) continue;
            size_t at = 0;
            while (got[i][at] == want[i][at]) ++at;
            ADD_FAILURE() << what << ", " << name << ": block " << i << " differs first at byte " << at;
        }
    }
}

shader::View texture(DXGI_FORMAT format, uint32_t width, uint32_t height, uint32_t pitch) {
    shader::View v;
    v.format = format;
    v.width = width;
    v.height = height;
    v.row_pitch = pitch;
    return v;
}

shader::View buffer(uint32_t first, uint32_t elements, uint32_t stride) {
    shader::View v;
    v.is_buffer = true;
    v.first_element = first;
    v.num_elements = elements;
    v.stride = stride;
    return v;
}

uint32_t ceil_div(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

// A seeded source of 32-bit numbers.
struct Random {
    explicit Random(uint32_t seed) : engine(seed) {}
    uint32_t operator()() { return uint32_t(engine()); }
    std::mt19937 engine;
};

std::vector<uint8_t> random_bytes(size_t n, Random &rng) {
    std::vector<uint8_t> bytes(n);
    for (auto &b : bytes) b = uint8_t(rng());
    return bytes;
}

// Kernels: frames of random pixels where most cells change at one random pixel, so that the threads of a group
// leave their loops at different times, and the rest (the slowest case) do not change at all.
class KernelCase {
public:
    KernelCase(uint32_t width, uint32_t height, uint32_t seed)
        : rng_(seed), w_(width), h_(height), grid_(cell_grid(width, height)), bendable_(width * height < 3000000) {
        now_ = random_bytes(size_t(w_) * h_ * 4, rng_);
        before_ = now_;
        for (uint32_t cy = 0; cy < grid_.rows; ++cy)
            for (uint32_t cx = 0; cx < grid_.columns; ++cx) {
                if (rng_() % 8 == 0) continue;
                const uint32_t x = std::min(w_ - 1, cx * 32 + rng_() % 32),
                               y = std::min(h_ - 1, cy * 32 + rng_() % 32);
                before_[(size_t(y) * w_ + x) * 4 + rng_() % 4] ^= uint8_t(1 + rng_() % 255);  // alpha too
            }
    }

    // Which way a binding is bent: 0 as the detector binds it, else one of a few faults. The largest frames are
    // bound as the detector binds them, which keeps the reference executor's time in bounds.
    uint32_t bend() { return bendable_ && rng_() % 3 == 0 ? 1 + rng_() % 4 : 0; }

    Scenario cells() {
        static const auto kernel = program(corvo::kernels::kDiffCellsCS, corvo::kernels::kDiffCellsCSSize);
        Scenario s;
        s.program = kernel;
        s.memory = {now_, before_, random_bytes(size_t(grid_.columns + 3) * (grid_.rows + 3) * 4, rng_)};
        s.constants = {w_, h_, 32, 32};
        if (bend() == 1) s.constants[0] = rng_() % (2 * w_ + 1);
        if (bend() == 1) s.constants[1] = rng_() % (2 * h_ + 1);
        if (bend() == 1) s.constants[2] = rng_() % 48;
        if (bend() == 1) s.constants[3] = rng_() % 48;
        if (bend() == 1) s.constants.resize(rng_() % 4);  // a short buffer reads 0 past its end
        for (int i = 0; i < 2; ++i) {
            Binding &t = s.resources[size_t(i)];
            t = {i, 0, texture(DXGI_FORMAT_B8G8R8A8_UNORM, w_, h_, w_ * 4)};
            switch (bend()) {
            case 1:
                t.view.format = DXGI_FORMAT_R8G8B8A8_UNORM;
                break;
            case 2:
                t.view.format = rng_() % 2 ? DXGI_FORMAT_R32_UINT : DXGI_FORMAT_R8_UINT;
                break;  // odd floats
            case 3:
                t.view.width = rng_() % (w_ + 1);
                t.view.height = rng_() % (h_ + 1);
                break;
            case 4:
                t.block = -1;
                break;
            }
        }
        Binding &u = s.uavs[0];
        u = {2, 0, texture(DXGI_FORMAT_R32_UINT, grid_.columns, grid_.rows, (grid_.columns + 3) * 4)};
        switch (bend()) {
        case 1:
            u.view.format = DXGI_FORMAT_B8G8R8A8_UNORM;
            break;
        case 2:
            u.view.format = DXGI_FORMAT_R8_UINT;
            break;
        case 3:
            u.view.width = rng_() % (grid_.columns + 3);
            u.view.height = rng_() % (grid_.rows + 3);
            break;
        case 4:
            u.view = buffer(0, grid_.columns, 4);
            break;  // a buffer where a texture is declared
        }
        s.groups[0] = ceil_div(w_, 512) + (bend() == 1);
        s.groups[1] = ceil_div(h_, 512) + (bend() == 1);
        return s;
    }

    Scenario pack() {
        static const auto kernel = program(corvo::kernels::kPackDiffBitsCS, corvo::kernels::kPackDiffBitsCSSize);
        Scenario s;
        s.program = kernel;
        const uint32_t words = grid_.row_words * grid_.rows;
        // Cells mostly zero, some with a difference value, as the cell kernel leaves them.
        std::vector<uint8_t> cells(size_t(grid_.columns) * grid_.rows * 4);
        for (size_t i = 0; i < cells.size(); i += 4) cells[i] = rng_() % 4 ? 0 : uint8_t(rng_());
        s.memory = {cells, random_bytes(size_t(words + 40) * 4, rng_)};
        s.constants = {grid_.row_words, grid_.rows, grid_.columns, ceil_div(grid_.columns, 32)};
        for (uint32_t &c : s.constants)
            if (bend() == 1) c = c + rng_() % 5 - 2;
        s.uavs[0] = {0, 0, texture(DXGI_FORMAT_R32_UINT, grid_.columns, grid_.rows, grid_.columns * 4)};
        if (bend() == 1) s.uavs[0].view.format = DXGI_FORMAT_B8G8R8A8_UNORM;  // typed loads of it give 0
        s.uavs[1] = {1, 0, buffer(0, words, 4)};
        switch (bend()) {
        case 1:
            s.uavs[1].view.first_element = rng_() % 20;
            break;
        case 2:
            s.uavs[1].view.num_elements = rng_() % (words + 20);
            break;
        case 3:
            s.uavs[1].view.stride = 8;
            break;  // not the declared stride: unbound
        case 4:
            s.uavs[1].block = -1;
            break;
        }
        s.groups[0] = ceil_div(grid_.row_words, 16) + (bend() == 1);
        s.groups[1] = ceil_div(grid_.rows, 16) + (bend() == 1);
        return s;
    }

    Scenario clear() {
        static const auto kernel = program(corvo::kernels::kClearDiffBuffCS, corvo::kernels::kClearDiffBuffCSSize);
        Scenario s;
        s.program = kernel;
        const uint32_t words = grid_.row_words * grid_.rows;
        s.memory = {random_bytes(size_t(words + 40) * 4, rng_)};
        s.uavs[0] = {0, 0, buffer(rng_() % 2 ? 0 : rng_() % 20, words + rng_() % 20, 4)};
        s.groups[0] = ceil_div(words, 16) + rng_() % 2;
        return s;
    }

private:
    Random rng_;
    uint32_t w_, h_;
    CellGrid grid_;
    bool bendable_;
    std::vector<uint8_t> now_, before_;
};

TEST(LaneExecutor, ChangeDetectionKernelsMatchTheReferenceOverRandomFramesSizesAndBindings) {
    std::vector<std::pair<uint32_t, uint32_t>> sizes = {
        {1, 1}, {2, 3}, {33, 31}, {511, 513}, {1000, 700}, {1920, 1080}, {4100, 37}, {5120, 64}, {7680, 4320}};
    Random rng(14);
    for (int i = 0; i < 12; ++i) sizes.emplace_back(1 + rng() % 2000, 1 + rng() % 1200);
    uint32_t seed = 0;
    for (const auto &[w, h] : sizes) {
        KernelCase c(w, h, ++seed);
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        expect_same_results(c.clear(), "clear " + size);
        expect_same_results(c.cells(), "cells " + size);
        expect_same_results(c.pack(), "pack " + size);
    }
}

// Inputs that reach every rule of the float and integer instructions.
std::vector<uint8_t> special_words(size_t count, Random &rng) {
    static const uint32_t kSpecial[] = {
        0x00000000, 0x80000000, 0x3f800000, 0xbf800000, 0x3f000000, 0xbf000000, 0x3fc00000, 0xc0200000,
        0x7f800000, 0xff800000, 0x7fc00000, 0xffc00001, 0x7f800001, 0x00000001, 0x807fffff, 0x4b000000,
        0x4affffff, 0xcb000001, 0x4f000000, 0x4f7fffff, 0x4f800000, 0xcf000000, 0xcf000001, 0x7f7fffff,
        0xffffffff, 0x7fffffff, 0x00000020, 0x0000001f, 0x00000003, 0xfffffffd, 0x3f7fffff, 0x3f800001};
    std::vector<uint8_t> bytes(count * 4);
    for (size_t i = 0; i < count; ++i) {
        uint32_t v;
        switch (rng() % 4) {
        case 0:
            v = kSpecial[rng() % std::size(kSpecial)];
            break;
        case 1:
            v = std::bit_cast<uint32_t>(std::uniform_real_distribution<float>(-300.0f, 300.0f)(rng.engine));
            break;
        case 2:
            v = std::bit_cast<uint32_t>(float(int(rng() % 64) - 32) * 0.25f);
            break;
        default:
            v = rng();
            break;
        }
        std::memcpy(&bytes[i * 4], &v, 4);
    }
    return bytes;
}

// A program over two input elements (r0, r1) per thread that writes element vThreadID.x of u0, words of `outputs`
// four at a time; `body` computes r2 before each store.
std::string program_text(const char *group, uint32_t outputs, const std::vector<std::string> &bodies) {
    std::string text =
        "cs_5_0\ndcl_globalFlags refactoringAllowed\ndcl_resource_structured t0, 32\n"
        "dcl_uav_structured u0, " +
        std::to_string(outputs * 4) +
        "\n"
        "dcl_input vThreadID.x\ndcl_temps 4\ndcl_thread_group " +
        group +
        "\n"
        "ld_structured r0.xyzw, vThreadID.x, l(0), t0.xyzw\n"
        "ld_structured r1.xyzw, vThreadID.x, l(16), t0.xyzw\n"
        "mov r2.xyzw, l(0, 0, 0, 0)\n";
    for (size_t i = 0; i < bodies.size(); ++i)
        text += bodies[i] + "\nstore_structured u0.xyzw, vThreadID.x, l(" + std::to_string(16 * i) + "), r2.xyzw\n";
    return text + "ret\n";
}

// Runs `text` over random inputs for every thread of `groups` groups of `threads` threads.
void expect_program_matches(const std::string &text, uint32_t threads, uint32_t groups, uint32_t outputs,
                            uint32_t seed) {
    Random rng(seed);
    Scenario s;
    s.program = assemble(text);
    ASSERT_TRUE(s.program);
    const uint32_t elements = threads * groups;
    s.memory = {special_words(size_t(elements) * 8, rng), random_bytes(size_t(elements) * outputs * 4, rng)};
    s.resources[0] = {0, 0, buffer(0, elements - elements / 9, 32)};  // the last threads read past the view
    s.uavs[0] = {1, 0, buffer(0, elements, outputs * 4)};
    s.groups[0] = groups;
    expect_same_results(s, text);
}

TEST(LaneExecutor, EveryInstructionMatchesTheReferenceBitForBit) {
    // One store per line, so the groups of 7 x 3 x 2 threads (not a multiple of the vector width) compare each
    // instruction's four components, with modifiers, saturation, and sources that are also the destination.
    const std::vector<std::string> bodies = {
        "add r2.xyzw, r0.xyzw, -r1.wzyx", "add_sat r2.xyzw, |r0.xyzw|, r1.xyzw", "mul r2.xyzw, -|r0.yxwz|, r1.xyzw",
        "div r2.xyzw, r0.xyzw, r1.xyzw", "min r2.xyzw, r0.xyzw, r1.xyzw", "max r2.xyzw, r0.xyzw, -r1.zzzz",
        "mad r2.xyzw, r0.xyzw, r1.xyzw, r0.wzyx", "mad_sat r2.xyzw, r0.xyzw, l(0.5), -r1.xyzw",
        "eq r2.xyzw, r0.xyzw, r1.xyzw", "ne r2.xyzw, r0.xyzw, r0.xyzw", "lt r2.xyzw, r0.xyzw, r1.xyzw",
        "ge r2.xyzw, r0.xyzw, -r1.xyzw", "round_ne r2.xyzw, r0.xyzw", "round_ni r2.xyzw, r0.xyzw",
        "round_pi r2.xyzw, -r0.xyzw", "round_z r2.xyzw, |r1.xyzw|", "round_pi_sat r2.xyzw, r1.xyzw",
        "ftou r2.xyzw, r0.xyzw", "ftoi r2.xyzw, r1.xyzw", "ftou r2.xyzw, -r1.xyzw", "and r2.xyzw, r0.xyzw, r1.xyzw",
        "or r2.xyzw, r0.xyzw, r1.wzyx", "xor r2.xyzw, r0.xyzw, -r1.xyzw", "not r2.xyzw, r0.xyzw",
        "ineg r2.xyzw, r1.xyzw", "iadd r2.xyzw, r0.xyzw, -r1.xyzw", "imad r2.xyzw, r0.xyzw, r1.xyzw, -r0.yyyy",
        "imul r3.xyzw, r2.xyzw, r0.xyzw, r1.xyzw", "imul null, r2.xyzw, r0.xyzw, r1.xyzw",
        "udiv r2.xyzw, r3.xyzw, r0.xyzw, r1.xyzw", "udiv r3.xyzw, r2.xyzw, r0.xyzw, r1.xxxx",
        "ishl r2.xyzw, r0.xyzw, r1.xyzw", "ishr r2.xyzw, r0.xyzw, r1.xyzw", "ushr r2.xyzw, r0.xyzw, r1.xyzw",
        "ieq r2.xyzw, r0.xyzw, r1.xyzw", "ine r2.xyzw, r0.xyzw, r1.xyzw", "ige r2.xyzw, r0.xyzw, r1.xyzw",
        "ilt r2.xyzw, r0.xyzw, r1.xyzw", "uge r2.xyzw, r0.xyzw, r1.xyzw", "ult r2.xyzw, r0.xyzw, r1.xyzw",
        "imin r2.xyzw, r0.xyzw, r1.xyzw", "imax r2.xyzw, r0.xyzw, -r1.xyzw", "umin r2.xyzw, r0.xyzw, r1.xyzw",
        "umax r2.xyzw, r0.xyzw, r1.xyzw", "utof r2.xyzw, r0.xyzw", "itof r2.xyzw, -r1.xyzw",
        "mov r2.xyzw, -|r0.wxyz|", "movc r2.xyzw, r0.xyzw, r1.xyzw, -r0.wzyx",
        "movc r2.xyzw, -r1.xyzw, |r0.xyzw|, r1.xyzw", "mov_sat r2.xyzw, -r0.xyzw", "log r2.xyzw, r0.xyzw",
        "log_sat r2.xyzw, |r1.xyzw|", "exp r2.xyzw, r0.xyzw", "exp r2.xyzw, -|r1.wzyx|",
        // A destination that is also a source, read before it is written in every component.
        "mov r2.xyzw, r0.xyzw\nadd r2.xyzw, r2.wxyz, r2.yzwx",
        "mov r2.xyzw, r1.xyzw\niadd r2.xy, r2.yxxx, l(1, 2, 3, 4)",
        // Typed loads of a structured view do not exist; structured loads past the element or unaligned read 0.
        "ld_structured r2.xyzw, vThreadID.x, l(20), t0.zwxy", "ld_structured r2.xyzw, vThreadID.x, l(2), t0.xyzw",
        "ld_structured r2.xz, r0.x, l(0), t0.yyyy"};
    const uint32_t outputs = 4 * uint32_t(bodies.size());
    expect_program_matches(program_text("7, 3, 2", outputs, bodies), 42, 5, outputs, 1);
}

// log and exp, which Direct3D leaves approximate and both executors compute with the same functions: within a
// unit in the last place of the exact value (denormals flushed), and Direct3D's results for the special inputs.
TEST(LaneExecutor, LogAndExpAreWithinAUnitInTheLastPlace) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    // How many floats apart the result is from `want`; a NaN matches only a NaN.
    const auto ulps = [](uint32_t got, float want) {
        const auto key = [](uint32_t b) { return b >> 31 ? -int64_t(b & 0x7fffffff) : int64_t(b); };
        if (shader::as_float(got) != shader::as_float(got) || want != want)
            return shader::as_float(got) != shader::as_float(got) && want != want ? 0ll : 1ll << 40;
        return std::llabs(key(got) - key(std::bit_cast<uint32_t>(want)));
    };
    const auto log = [](float x) { return shader::float_log2(std::bit_cast<uint32_t>(x)); };
    const auto exp = [](float x) { return shader::float_exp2(std::bit_cast<uint32_t>(x)); };
    const float logs[][2] = {{0.0f, -inf}, {-0.0f, -inf}, {0x1p-140f, -inf}, {-1.0f, nan}, {inf, inf}, {nan, nan}};
    const float exps[][2] = {{-inf, 0.0f}, {inf, inf}, {nan, nan}, {128.0f, inf}, {-126.5f, 0.0f}};
    for (const auto &[x, want] : logs) EXPECT_EQ(ulps(log(x), want), 0) << "log " << x;
    for (const auto &[x, want] : exps) EXPECT_EQ(ulps(exp(x), want), 0) << "exp " << x;
    Random rng(15);
    for (int i = 0; i < 100000; ++i) {
        const float x = std::bit_cast<float>(0x00800000u + rng() % 0x7f000000u);  // a positive normal float
        const float y = float(int(rng() % 260001) - 130000) / 1000;
        const double e = std::exp2(double(y));
        EXPECT_LE(ulps(log(x), float(std::log2(double(x)))), 1) << "log " << x;
        EXPECT_LE(ulps(exp(y), e < 0x1p-126 ? 0.0f : float(e)), 1) << "exp " << y;
    }
}

// Per-thread trip counts, nested if/else, continue and break in both loops, a return from inside a loop, and
// conditions on zero and on non-zero, so that the lanes of a group split and join in every way.
const char *const kDivergentFlow = R"(and r0.xyzw, r0.xyzw, l(15, 7, 13, 5)
mov r2.xyzw, l(0, 0, 0, 0)
and r3.x, r1.x, l(7)
if_z r3.x
  store_structured u0.x, vThreadID.x, l(4), r0.y
  ret
endif
loop
  uge r3.x, r2.y, r0.x
  breakc_nz r3.x
  iadd r2.y, r2.y, l(1)
  and r3.y, r2.y, l(1)
  if_nz r3.y
    iadd r2.x, r2.x, r2.y
    ieq r3.z, r2.y, r0.y
    if_nz r3.z
      store_structured u0.xy, vThreadID.x, l(8), r2.xyxx
      ret
    endif
    continue
  else
    imul null, r3.w, r2.y, l(3)
    iadd r2.x, r2.x, r3.w
  endif
  mov r2.z, l(0)
  loop
    uge r3.x, r2.z, r0.z
    breakc_nz r3.x
    iadd r2.z, r2.z, l(1)
    and r3.x, r2.z, l(3)
    continuec_z r3.x
    xor r2.w, r2.w, r2.z
    ieq r3.x, r2.z, r0.w
    if_nz r3.x
      break
    else
      ishl r3.y, r2.z, l(2)
      iadd r2.w, r2.w, r3.y
    endif
    ult r3.x, r2.w, l(40)
    breakc_z r3.x
  endloop
  iadd r2.x, r2.x, r2.w
  and r3.x, r1.y, l(3)
  if_z r3.x
    break
  endif
endloop
movc r2.w, r3.x, r2.w, l(99))";

TEST(LaneExecutor, DivergentFlowMatchesTheReference) {
    expect_program_matches(program_text("16, 4, 1", 8, {kDivergentFlow}), 64, 6, 8, 2);
    for (uint32_t seed = 3; seed < 6; ++seed)
        expect_program_matches(program_text("5, 1, 3", 8, {kDivergentFlow}), 15, 7, 8, seed);
    // Groups larger than the executor's batch of lanes, whole multiples of it and not: masks, loops, breaks and
    // returns that split the lanes differently in each batch, and a last batch that is partly empty.
    expect_program_matches(program_text("13, 11, 1", 8, {kDivergentFlow}), 143, 3, 8, 6);
    expect_program_matches(program_text("8, 8, 3", 8, {kDivergentFlow}), 192, 2, 8, 7);
    expect_program_matches(program_text("65, 1, 1", 8, {kDivergentFlow}), 65, 4, 8, 8);
    expect_program_matches(program_text("129, 1, 1", 8, {kDivergentFlow}), 129, 3, 8, 11);
    expect_program_matches(program_text("16, 16, 1", 8, {kDivergentFlow}), 256, 2, 8, 12);
    expect_program_matches(program_text("1024, 1, 1", 8, {kDivergentFlow}), 1024, 1, 8, 9);
}

TEST(LaneExecutor, EveryInstructionMatchesTheReferenceInGroupsLargerThanABatch) {
    const std::vector<std::string> bodies = {
        "add r2.xyzw, r0.xyzw, -r1.wzyx",
        "mad_sat r2.xyzw, r0.xyzw, l(0.5), -r1.xyzw",
        "round_pi r2.xyzw, -r0.xyzw",
        "log r2.xyzw, r0.xyzw",
        "exp r2.xyzw, r1.xyzw",
        "ftou r2.xyzw, r0.xyzw",
        "imul r3.xyzw, r2.xyzw, r0.xyzw, r1.xyzw",
        "udiv r2.xyzw, r3.xyzw, r0.xyzw, r1.xyzw",
        "movc r2.xyzw, r0.xyzw, r1.xyzw, -r0.wzyx",
        "mov r2.xyzw, r0.xyzw\nadd r2.xyzw, r2.wxyz, r2.yzwx",
        "mov r2.xyzw, r1.xyzw\niadd r2.xy, r2.yxxx, l(1, 2, 3, 4)",
        "mov r2.xyzw, r0.xyzw\niadd r2.xyzw, r2.xyzw, r2.xyzw",
        "mov r2.xyzw, r1.xyzw\nimad r2.yzw, r2.xxyz, r2.yzww, r2.wwww",
        "ld_structured r2.xyzw, vThreadID.x, l(20), t0.zwxy",
        "ld_structured r2.xz, r0.x, l(0), t0.yyyy"};
    const uint32_t outputs = 4 * uint32_t(bodies.size());
    expect_program_matches(program_text("9, 5, 3", outputs, bodies), 135, 3, outputs, 10);
}

TEST(LaneExecutor, TextureLoadsAndStoresMatchTheReferenceInEveryFormat) {
    // Each thread loads from random coordinates and mips of t0 and u1 (some past the edge), stores one texel of u0
    // at its own coordinates, converted to the view's format, and reads it back. No thread reads what another
    // writes, so the order of threads does not matter.
    const std::string text = R"(cs_5_0
dcl_globalFlags refactoringAllowed
dcl_resource_texture2d (float,float,float,float) t0
dcl_uav_typed_texture2d (float,float,float,float) u0
dcl_uav_typed_texture2d (uint,uint,uint,uint) u1
dcl_resource_structured t1, 32
dcl_input vThreadID.xy
dcl_input vThreadIDInGroup.xy
dcl_input vThreadGroupID.xy
dcl_temps 4
dcl_thread_group 8, 4, 1
imad r3.x, vThreadID.y, l(64), vThreadID.x
ld_structured r0.xyzw, r3.x, l(0), t1.xyzw
ld_structured r1.xyzw, r3.x, l(16), t1.xyzw
and r0.xy, r0.xyxx, l(127, 63, 0, 0)
and r1.xy, r1.xyxx, l(63, 63, 0, 0)
imad r0.w, vThreadIDInGroup.x, vThreadGroupID.y, r0.w
and r0.w, r0.w, l(1)
ld r2.xyzw, r0.xyzw, t0.zyxw
ld_uav_typed r3.xyzw, r1.xyzw, u1.wzyx
add r2.xyzw, r2.xyzw, r3.xyzw
mad r2.xyzw, r2.xyzw, r1.xyzw, l(0.25, 0.5, 0.75, 1.0)
store_uav_typed u0.xyzw, vThreadID.xyyy, r2.xyzw
ld_uav_typed r2.xyzw, vThreadID.xyyy, u0.yxzw
iadd r2.xyzw, r2.xyzw, vThreadIDInGroup.yxyx
store_uav_typed u0.xyzw, vThreadID.xyyy, r2.yxwz
ret
)";
    const DXGI_FORMAT formats[] = {DXGI_FORMAT_B8G8R8A8_UNORM, DXGI_FORMAT_R8G8B8A8_UNORM,     DXGI_FORMAT_R32_UINT,
                                   DXGI_FORMAT_R8_UINT,        DXGI_FORMAT_R16G16B16A16_FLOAT, DXGI_FORMAT_UNKNOWN};
    Random rng(7);
    const auto kernel = assemble(text);
    ASSERT_TRUE(kernel);
    for (int i = 0; i < 13; ++i) {
        Scenario s;
        s.program = kernel;
        // 64 x 32 threads; the views are a little smaller or larger than that.
        const uint32_t w = 56 + rng() % 16, h = 28 + rng() % 8;
        const size_t bytes = size_t(w * 8 + 12) * h;
        s.memory = {random_bytes(bytes, rng), special_words(64 * 32 * 8, rng), random_bytes(bytes, rng),
                    random_bytes(bytes, rng)};
        auto format = [&] { return formats[rng() % std::size(formats)]; };
        DXGI_FORMAT f0 = format(), f1 = format();
        const DXGI_FORMAT f2 = format();
        // The last reads t0 in half floats, into the one format whose typed loads show u0's first store.
        if (i == 12) f0 = DXGI_FORMAT_R16G16B16A16_FLOAT, f1 = DXGI_FORMAT_R32_UINT;
        auto pitch = [&](DXGI_FORMAT f) {
            return (f == DXGI_FORMAT_R8_UINT              ? w
                    : f == DXGI_FORMAT_R16G16B16A16_FLOAT ? w * 8
                                                          : w * 4) +
                   rng() % 2 * 12;
        };
        s.resources[0] = {0, 0, texture(f0, w, h, pitch(f0))};
        s.resources[1] = {1, 0, buffer(0, 64 * 32, 32)};
        s.uavs[0] = {2, 0, texture(f1, w, h, pitch(f1))};
        s.uavs[1] = {3, 0, texture(f2, w / 2, h, pitch(f2))};
        s.groups[0] = 8;
        s.groups[1] = 8;
        expect_same_results(s, "texture formats " + std::to_string(i));
    }
}

// Also run by the ThreadSanitizer lane: engines that start their workers with the first dispatch, share the
// groups out and join the workers when they go, while engines on other threads do the same.
TEST(EngineThreads, EnginesOnSeveralThreadsGiveTheReferenceResults) {
    Random rng(9);
    Scenario s;
    s.program = assemble(program_text("16, 4, 1", 8, {kDivergentFlow}));
    ASSERT_TRUE(s.program);
    const uint32_t groups = 24, elements = 64 * groups;
    s.memory = {special_words(size_t(elements) * 8, rng), std::vector<uint8_t>(size_t(elements) * 32)};
    s.resources[0] = {0, 0, buffer(0, elements, 32)};
    s.uavs[0] = {1, 0, buffer(0, elements, 32)};
    s.groups[0] = groups;
    const auto want = run(s, shader::dispatch_reference);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            for (unsigned round = 0; round < 4; ++round) {
                shader::Engine engine(1 + (t + round) % 3);
                for (int i = 0; i < 3; ++i)
                    if (run(s, [&engine](auto &p, auto &b, uint32_t x, uint32_t y, uint32_t z) {
                            engine.dispatch(p, b, x, y, z);
                        }) != want)
                        ++mismatches;
            }
        });
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
