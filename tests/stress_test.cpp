// Thousands of frames under random resizes, switches, queued presents, closing targets, device removal and
// faults on every platform operation the library calls, and a logger that destroys the session on random lines,
// from seeded generators so that a failure replays.
// After every poll the frame must be readable and the ratio and status sane; after a round nothing is left.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <random>
#include <utility>

#include "known_lines.h"
#include "platform_operations.h"
#include "session_harness.h"

namespace {
// Live bytes of operator new, so that two equal rounds can be compared. Each block carries the size asked for
// in front of it: the allocator's usable size depends on the heap's layout, which threads vary from run to run.
std::atomic<int64_t> live_bytes{0};
constexpr size_t kHeader = alignof(std::max_align_t);

void *counted_allocation(size_t size, const std::nothrow_t &) noexcept {
    auto *block = static_cast<unsigned char *>(std::malloc(size + kHeader));
    if (!block) return nullptr;
    *reinterpret_cast<size_t *>(block) = size;
    live_bytes.fetch_add(static_cast<int64_t>(size), std::memory_order_relaxed);
    return block + kHeader;
}

void *counted_allocation(size_t size) {
    if (void *p = counted_allocation(size, std::nothrow)) return p;
    throw std::bad_alloc();
}

void counted_free(void *p) noexcept {
    if (!p) return;
    unsigned char *block = static_cast<unsigned char *>(p) - kHeader;
    live_bytes.fetch_sub(static_cast<int64_t>(*reinterpret_cast<size_t *>(block)), std::memory_order_relaxed);
    std::free(block);
}
}  // namespace

void *operator new(size_t size) { return counted_allocation(size); }
void *operator new[](size_t size) { return counted_allocation(size); }
void *operator new(size_t size, const std::nothrow_t &tag) noexcept { return counted_allocation(size, tag); }
void *operator new[](size_t size, const std::nothrow_t &tag) noexcept { return counted_allocation(size, tag); }
void operator delete(void *p) noexcept { counted_free(p); }
void operator delete[](void *p) noexcept { counted_free(p); }
void operator delete(void *p, size_t) noexcept { counted_free(p); }
void operator delete[](void *p, size_t) noexcept { counted_free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { counted_free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { counted_free(p); }

namespace {

constexpr int32_t kFailures[] = {
    static_cast<int32_t>(0x80004005),  // E_FAIL
    static_cast<int32_t>(0x8007000E),  // E_OUTOFMEMORY
    static_cast<int32_t>(0x80070057),  // E_INVALIDARG: a map of a texture the CPU cannot read
    static_cast<int32_t>(0x887A0005),  // DXGI_ERROR_DEVICE_REMOVED
};

std::atomic<uint64_t> lines_seen{0};
std::atomic<uint64_t> bad_lines{0};
// The session the logger destroys on one line in kDestroyOneIn, drawn from a generator seeded with the round.
wgc_session *destroyable = nullptr;
std::minstd_rand destroy_draw;
constexpr uint32_t kDestroyOneIn = 40;
uint64_t destroyed_by_logger = 0;

void checking_logger(int32_t level, const char *text, uint64_t length) {
    lines_seen.fetch_add(1, std::memory_order_relaxed);
    if (!known_lines::is_valid(level, text, length)) bad_lines.fetch_add(1, std::memory_order_relaxed);
    if (destroyable && *destroyable && destroy_draw() % kDestroyOneIn == 0) {
        wgc_session_destroy(std::exchange(*destroyable, nullptr));  // the calls that follow get a null session
        ++destroyed_by_logger;
    }
}

class Stress : public ::testing::Test {
protected:
    void SetUp() override {
        corvo_emu_reset();
        destroyable = &session;
        wgc_register_logger(&checking_logger);
    }
    void TearDown() override {
        wgc_register_logger(nullptr);
        destroyable = nullptr;
    }

    // One round: `steps` random actions on a chain of sessions; every target, session and fault is gone after.
    void round(uint32_t seed, int steps) {
        corvo_emu_reset();  // drops the targets of earlier rounds
        std::mt19937 rng(seed);
        destroy_draw.seed(seed);
        auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
        auto random_size = [&] { return pick(8) == 0 ? 1 + pick(2200) : 1 + pick(400); };
        for (int step = 0; step < steps; ++step) {
            if (!session) {
                close_session();  // the logger may have destroyed it
                open(random_size(), random_size(), pick);
            }
            switch (pick(20)) {
            case 0:
                corvo_emu_resize(window, random_size(), random_size());
                break;
            case 1:
                texture_mode = pick(2);
                wgc_set_capture_to_texture(session, texture_mode);
                break;
            case 2:
                wgc_set_dirty_rect(session, static_cast<uint8_t>(pick(2)));
                break;
            case 3:
                wgc_enable_cursor(session, static_cast<uint8_t>(pick(2)));
                wgc_show_border(session, static_cast<uint8_t>(pick(2)));
                break;
            case 4:
            case 5:
                corvo_emu_fail(kPlatformOperations[pick(std::size(kPlatformOperations))],
                               kFailures[pick(std::size(kFailures))], static_cast<uint32_t>(pick(4)),
                               static_cast<uint32_t>(1 + pick(2)));
                break;
            case 6:
                if (pick(10) == 0) corvo_emu_remove_devices(static_cast<int32_t>(0x887A0006));  // DEVICE_HUNG
                break;
            case 7:
                if (pick(8) == 0) {
                    corvo_emu_close(window);
                    check(poll(session));
                    EXPECT_EQ(wgc_get_status(session), 0) << "step " << step;
                    close_session();
                }
                break;
            default: {
                corvo_emu_fill(window, pick(500) - 50, pick(500) - 50, 1 + pick(300), 1 + pick(300),
                               0xFF000000u | rng());
                for (int n = pick(4); n > 0; --n) corvo_emu_present(window);
                check(poll(session));
                break;
            }
            }
        }
        close_session();
        for (const char *operation : kPlatformOperations) corvo_emu_fail(operation, 0, 0, 0);
        EXPECT_EQ(corvo_emu_count("live_objects"), 0u) << "seed " << seed;
        EXPECT_EQ(corvo_emu_count("validation_errors"), 0u) << "seed " << seed;
    }

    template <typename Pick>
    void open(int32_t width, int32_t height, Pick &pick) {
        window = corvo_emu_create_window(width, height);
        session = wgc_session_create(window);
        ASSERT_NE(session, nullptr);
        texture_mode = pick(3) == 0;
        wgc_set_capture_to_texture(session, texture_mode);
        wgc_set_dirty_rect(session, static_cast<uint8_t>(pick(3) != 0));
        wgc_enable_cursor(session, static_cast<uint8_t>(pick(2)));
        wgc_show_border(session, static_cast<uint8_t>(pick(2)));
        wgc_session_start(session);  // may fail under an injected fault: the session must still poll safely
    }

    void close_session() {
        if (session) wgc_session_destroy(session);
        session = nullptr;
        if (window) corvo_emu_close(window);
        window = nullptr;
    }

    void check(const Poll &p) {
        const float ratio = wgc_get_update_ratio(session);
        EXPECT_TRUE(ratio >= 0.0f && ratio <= 1.0f) << ratio;
        const uint8_t status = wgc_get_status(session);
        EXPECT_TRUE(status == 0 || status == 1) << int(status);
        if (!p.ok) return;
        ASSERT_NE(p.frame, nullptr);
        ASSERT_GT(p.width, 0);
        ASSERT_GT(p.height, 0);
        if (texture_mode) {
            auto *texture = static_cast<ID3D11Texture2D *>(p.frame);
            D3D11_TEXTURE2D_DESC desc;
            texture->GetDesc(&desc);
            EXPECT_EQ(desc.Width, uint32_t(p.width));
            EXPECT_EQ(desc.Height, uint32_t(p.height));
            texture->Release();
            return;
        }
        // Both ends of the picture must be readable; AddressSanitizer reports a buffer that is too small.
        const volatile uint8_t *bytes = static_cast<const uint8_t *>(p.frame);
        const size_t last = size_t(p.width) * size_t(p.height) * 4 - 1;
        touched += bytes[0] + bytes[last];
    }

    HWND window = nullptr;
    wgc_session session = nullptr;
    bool texture_mode = false;
    uint64_t touched = 0;
};

TEST_F(Stress, RandomFramesSwitchesAndFaultsKeepEveryPollSafeAndLeaveNothingBehind) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        round(seed, 600);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(lines_seen.load(), 0u);
    EXPECT_EQ(bad_lines.load(), 0u);
    EXPECT_GT(destroyed_by_logger, 6u);
}

TEST_F(Stress, TwoEqualRoundsLeaveTheSameHeap) {
    round(77, 400);  // warms the caches of the process and of the emulated system
    const int64_t before = live_bytes.load();
    round(77, 400);
    EXPECT_LE(live_bytes.load(), before);  // equal, or less where a container of the first round kept spare room
}

}  // namespace
