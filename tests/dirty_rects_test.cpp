// Where a frame changed, through wgc_get_dirty_rects: the rectangles of the frame the last poll handed out,
// 0 when it did not change, -1 when nothing is known.
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "session_harness.h"

// Found by argument-dependent lookup, as wgc_rect lives in the global namespace.
bool operator==(const wgc_rect &a, const wgc_rect &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

void PrintTo(const wgc_rect &r, std::ostream *out) {
    *out << '{' << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << '}';
}

namespace {

class DirtyRects : public CaptureTest {
protected:
    void start(int32_t width, int32_t height, bool detect = true) {
        open_window(width, height);
        wgc_set_dirty_rect(session, detect ? 1 : 0);
        present_and_poll();
    }
    // The rectangles after presenting and polling; `count` gets what the export returned.
    std::vector<wgc_rect> next() {
        const Poll p = present_and_poll();
        if (p.ok && texture_mode) static_cast<ID3D11Texture2D *>(p.frame)->Release();
        return current();
    }
    std::vector<wgc_rect> current() {
        count = wgc_get_dirty_rects(session, nullptr, 0);
        std::vector<wgc_rect> rects(size_t(std::max(count, 0)));
        EXPECT_EQ(wgc_get_dirty_rects(session, rects.data(), int32_t(rects.size())), count);
        return rects;
    }
    int32_t count = 0;
    bool texture_mode = false;
};

TEST_F(DirtyRects, OneCellAndTheLastColumnAndRowOfAFrame) {
    start(100, 70);
    EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), -1);  // the first frame is all new
    corvo_emu_fill(window, 40, 40, 2, 2, 0xFFFFFFFFu);
    EXPECT_EQ(next(), (std::vector<wgc_rect>{{32, 32, 64, 64}}));
    corvo_emu_fill(window, 99, 69, 1, 1, 0xFF0000FFu);
    EXPECT_EQ(next(), (std::vector<wgc_rect>{{96, 64, 100, 70}}));  // clipped to the frame
    EXPECT_TRUE(next().empty());
    EXPECT_EQ(count, 0);  // unchanged
}

TEST_F(DirtyRects, ChangesBeyondFourThousandPixelsAndSeveralRunsInARow) {
    start(4200, 40);
    corvo_emu_fill(window, 10, 5, 1, 1, 0xFFFFFFFFu);
    corvo_emu_fill(window, 100, 5, 40, 1, 0xFFFFFFFFu);
    corvo_emu_fill(window, 4150, 35, 1, 1, 0xFFFFFFFFu);
    EXPECT_EQ(next(), (std::vector<wgc_rect>{{0, 0, 32, 32}, {96, 0, 160, 32}, {4128, 32, 4160, 40}}));
}

TEST_F(DirtyRects, StableBetweenPollsAndDescribeTheFrameHandedOut) {
    start(64, 64);
    corvo_emu_fill(window, 0, 0, 1, 1, 0xFFFFFFFFu);
    next();
    EXPECT_EQ(current(), (std::vector<wgc_rect>{{0, 0, 32, 32}}));
    EXPECT_EQ(current(), (std::vector<wgc_rect>{{0, 0, 32, 32}}));
    corvo_emu_fill(window, 40, 40, 1, 1, 0xFFFFFFFFu);
    corvo_emu_present(window);  // a newer frame waits: the answer is still the handed-out frame's
    EXPECT_EQ(current(), (std::vector<wgc_rect>{{0, 0, 32, 32}}));
    poll(session);
    EXPECT_EQ(current(), (std::vector<wgc_rect>{{32, 32, 64, 64}}));
    poll(session);  // nothing new
    EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), 0);
}

TEST_F(DirtyRects, UnknownWithoutDetectionAfterAResizeAndAfterASwitchOfMode) {
    start(64, 64, false);
    EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), -1);
    next();
    EXPECT_EQ(count, -1);  // detection off
    wgc_set_dirty_rect(session, 1);
    next();
    EXPECT_EQ(count, -1);  // nothing to compare with yet
    next();
    EXPECT_EQ(count, 0);
    corvo_emu_resize(window, 48, 48);
    next();
    EXPECT_EQ(count, -1);  // a new size
    texture_mode = true;
    wgc_set_capture_to_texture(session, 1);
    next();
    EXPECT_EQ(count, -1);  // the texture starts anew
    corvo_emu_fill(window, 47, 0, 1, 1, 0xFFFFFFFFu);
    EXPECT_EQ(next(), (std::vector<wgc_rect>{{32, 0, 48, 32}}));
}

TEST_F(DirtyRects, BadArgumentsWriteNothingAndGiveADefinedAnswer) {
    EXPECT_EQ(wgc_get_dirty_rects(nullptr, nullptr, 0), -1);
    start(128, 64);
    EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), -1);
    wgc_session never_polled = wgc_session_create(window);
    EXPECT_EQ(wgc_get_dirty_rects(never_polled, nullptr, 0), -1);
    wgc_session_destroy(never_polled);

    corvo_emu_fill(window, 0, 0, 1, 1, 0xFFFFFFFFu);
    corvo_emu_fill(window, 80, 0, 1, 1, 0xFFFFFFFFu);
    corvo_emu_fill(window, 40, 40, 1, 1, 0xFFFFFFFFu);
    next();
    ASSERT_EQ(count, 3);
    EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 5), 3);  // null rects: only the count
    wgc_rect rects[3] = {{-1, -1, -1, -1}, {-1, -1, -1, -1}, {-1, -1, -1, -1}};
    EXPECT_EQ(wgc_get_dirty_rects(session, rects, -4), 3);
    EXPECT_EQ(rects[0].left, -1);
    EXPECT_EQ(wgc_get_dirty_rects(session, rects, 1), 3);  // only the first written
    EXPECT_EQ(rects[0], (wgc_rect{0, 0, 32, 32}));
    EXPECT_EQ(rects[1].left, -1);
}

}  // namespace
