// A steady stream of same-size frames allocates nothing on the heap once warm: every operator new of the
// process is counted while the host polls.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "session_harness.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<uint64_t> allocations{0};
}  // namespace

namespace {
void *counted_allocation(size_t size, const std::nothrow_t &) noexcept {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}

void *counted_allocation(size_t size) {
    if (void *p = counted_allocation(size, std::nothrow)) return p;
    throw std::bad_alloc();
}
}  // namespace

void *operator new(size_t size) { return counted_allocation(size); }
void *operator new[](size_t size) { return counted_allocation(size); }
// The nothrow forms too, which the emulated platform uses: every form must pair with the free below.
void *operator new(size_t size, const std::nothrow_t &tag) noexcept { return counted_allocation(size, tag); }
void *operator new[](size_t size, const std::nothrow_t &tag) noexcept { return counted_allocation(size, tag); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
void operator delete[](void *p, size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }

namespace {

class SteadyState : public CaptureTest {
protected:
    // Allocations made by the polls of `frames` frames that each change one cell.
    uint64_t allocations_while_polling(int frames) {
        allocations = 0;
        for (int i = 0; i < frames; ++i) {
            corvo_emu_fill(window, (i * 40) % 600, 100, 1, 1, 0xFF000000u | uint32_t(i));
            corvo_emu_present(window);
            counting = true;
            const Poll p = poll(session);
            counting = false;
            EXPECT_TRUE(p.ok);
            if (p.ok && wgc_get_status(session) && texture_mode) static_cast<ID3D11Texture2D *>(p.frame)->Release();
            wgc_get_update_ratio(session);
        }
        return allocations.load();
    }

    bool texture_mode = false;
};

TEST_F(SteadyState, BufferModeWithDetectionAllocatesNothingOnceWarm) {
    open_window(640, 480);
    wgc_set_dirty_rect(session, 1);
    allocations_while_polling(4);
    EXPECT_EQ(allocations_while_polling(20), 0u);
}

TEST_F(SteadyState, TextureModeWithDetectionAllocatesNothingOnceWarm) {
    open_window(640, 480);
    wgc_set_dirty_rect(session, 1);
    wgc_set_capture_to_texture(session, 1);
    texture_mode = true;
    allocations_while_polling(4);
    EXPECT_EQ(allocations_while_polling(20), 0u);
}

}  // namespace
