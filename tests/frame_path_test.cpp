// The frame path's promise through the exports: the picture handed out is the target's, the ratio is 0 only
// when that picture did not change, and changed cells alone are brought to the CPU.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "picture.h"
#include "session_harness.h"

namespace {

class FramePathTest : public CaptureTest {
protected:
    void open(int32_t width, int32_t height, bool detect = true, int32_t format = CORVO_WGC_FORMAT_BGRA8) {
        open_window(width, height, false);
        wgc_set_pixel_format(session, format);
        ASSERT_EQ(wgc_session_start(session), 1);
        model = Picture(width, height);
        wgc_set_dirty_rect(session, detect ? 1 : 0);
    }

    // Presents, polls and returns what was handed out; the ratio read after the poll goes to `ratio`.
    Picture frame() {
        corvo_emu_present(window);
        return take();
    }
    Picture take() {
        const Poll p = poll(session);
        ratio = wgc_get_update_ratio(session);
        if (!p.ok) return {};
        if (!texture_mode) return picture_of_buffer(p.frame, p.width, p.height);
        auto *texture = static_cast<ID3D11Texture2D *>(p.frame);
        Picture picture = picture_of_texture(texture);
        texture->Release();
        return picture;
    }
    void set_texture_mode(bool on) {
        texture_mode = on;
        wgc_set_capture_to_texture(session, on ? 1 : 0);
    }

    Picture model;
    float ratio = 0.0f;
    bool texture_mode = false;
};

TEST_F(FramePathTest, BufferAfterASpellInTextureModeShowsTheNewPicture) {
    open(64, 64);
    EXPECT_EQ(frame(), model);
    set_texture_mode(true);
    paint(window, model, 5, 5, 10, 10, 0xFF3060A0u);
    EXPECT_EQ(frame(), model);
    set_texture_mode(false);
    EXPECT_EQ(frame(), model);  // the buffer still held the picture from before the spell
    EXPECT_EQ(ratio, 1.0f);
    EXPECT_EQ(frame(), model);
    EXPECT_EQ(ratio, 0.0f);
}

TEST_F(FramePathTest, DetectionBackOnWithThePictureOfTheSwitchOffIsNotUnchanged) {
    open(64, 64);
    EXPECT_EQ(frame(), model);
    wgc_set_dirty_rect(session, 0);
    const Picture before = model;
    paint(window, model, 0, 0, 64, 64, 0xFF112233u);
    EXPECT_EQ(frame(), model);
    paint(window, model, 0, 0, 64, 64, 0xFF000000u);  // back to the picture at the switch
    ASSERT_EQ(model, before);
    wgc_set_dirty_rect(session, 1);
    EXPECT_EQ(frame(), model);
    EXPECT_EQ(ratio, 1.0f);
}

// Also made from HDR (SDR content at levels 0 and 255 comes back exact), where the picture converted for the
// failed frame must not outlive it.
TEST_F(FramePathTest, FailedReadBackIsNotTakenAsThePictureTheHostHolds) {
    corvo_emu_set_hdr(corvo_emu_create_monitor(64, 64), 1, 200);
    for (const int32_t format : {CORVO_WGC_FORMAT_BGRA8, CORVO_WGC_FORMAT_SDR_FROM_HDR}) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        open(64, 64, true, format);
        const Picture first = frame();
        paint(window, model, 40, 40, 4, 4, 0xFF00FF00u);
        // The mask reads (and the conversion writes its two lists); the patch, staging, direct and one-shot maps
        // all fail.
        const uint32_t skip = format == CORVO_WGC_FORMAT_BGRA8 ? 1 : 3;
        corvo_emu_fail("Map", static_cast<int32_t>(0x80004005), skip, 4);
        EXPECT_EQ(frame(), first);
        EXPECT_EQ(ratio, 0.0f);     // nothing new reached the host
        EXPECT_EQ(frame(), model);  // the same picture again is still a change for the host
        EXPECT_GT(ratio, 0.0f);
        // Failed again, then that cell back as it was and three quarters changed: read back whole.
        const Picture held = model;
        paint(window, model, 40, 40, 4, 4, 0xFFFF0000u);
        corvo_emu_fail("Map", static_cast<int32_t>(0x80004005), skip, 3);  // the next mask reads
        EXPECT_EQ(frame(), held);
        paint(window, model, 40, 40, 4, 4, 0xFF00FF00u);
        paint(window, model, 0, 0, 64, 32, 0xFFFFFFFFu);
        paint(window, model, 0, 32, 8, 8, 0xFFFFFFFFu);
        EXPECT_EQ(frame(), model);
        wgc_session_destroy(session);
        session = nullptr;
        corvo_emu_close(window);
    }
}

TEST_F(FramePathTest, TextureModeRatioComparesWithTheTextureLastHandedOut) {
    open(64, 64);
    set_texture_mode(true);
    EXPECT_EQ(frame(), model);
    paint(window, model, 0, 0, 8, 8, 0xFF0000FFu);
    corvo_emu_present(window);
    corvo_emu_present(window);  // the same picture twice before the poll
    EXPECT_EQ(take(), model);
    EXPECT_FLOAT_EQ(ratio, 1024.0f / 4096.0f);
}

TEST_F(FramePathTest, EdgeCellsCountWholeAndAWholeChangeIsOne) {
    struct Case {
        int32_t width, height, x, y;
        float ratio;
    };
    const Case cases[] = {
        {33, 32, 32, 0, 32.0f / (33 * 32)},     // the last column of a 33-wide frame
        {31, 33, 0, 32, 31.0f / (31 * 33)},     // the last row of a 31 x 33 frame
        {4097, 8, 4096, 3, 8.0f / (4097 * 8)},  // x = 4096 of a 4097-wide frame
        {1, 1, 0, 0, 1.0f},                     // a one-pixel frame
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        open(c.width, c.height);
        frame();
        paint(window, model, c.x, c.y, 1, 1, 0xFFFFFFFFu);
        EXPECT_EQ(frame(), model);
        EXPECT_FLOAT_EQ(ratio, c.ratio);
        wgc_session_destroy(session);
        session = nullptr;
    }
    open(64, 64);
    frame();
    paint(window, model, 0, 0, 64, 64, 0xFF404040u);
    EXPECT_EQ(frame(), model);
    EXPECT_EQ(ratio, 1.0f);
}

TEST_F(FramePathTest, EachDimensionIsCroppedToTheContentOnItsOwn) {
    open(100, 70);
    paint(window, model, 0, 0, 100, 70, 0xFF808080u);
    frame();
    corvo_emu_resize(window, 130, 50);  // wider and lower: the pool's texture is still 100 x 70
    model.resize(130, 50);
    const Picture p = frame();
    EXPECT_EQ(p.width, 100);
    EXPECT_EQ(p.height, 50);  // rows 50 to 69 are outside the window
    EXPECT_EQ(p, model.crop(100, 50));
    EXPECT_EQ(frame(), model);  // the recreated pool gives the whole window
}

TEST_F(FramePathTest, PollReadsAtMostOneFrameHoweverFastTheSourcePresents) {
    open(256, 256);
    set_texture_mode(true);
    std::atomic<bool> stop{false};
    std::thread presenter([&] {
        while (!stop.load()) corvo_emu_present(window);
    });
    const uint64_t views = corvo_emu_count("CreateShaderResourceView");
    for (int i = 0; i < 50; ++i) {
        wgc_wait_for_frame(session, 1000);
        const uint64_t dispatches = corvo_emu_count("Dispatch");
        const Poll p = poll(session);
        if (p.ok) static_cast<ID3D11Texture2D *>(p.frame)->Release();
        EXPECT_LE(corvo_emu_count("Dispatch") - dispatches, 3u);  // one detection at most
    }
    stop = true;
    presenter.join();
    // One view of each of the pool's three textures and one of the history, whichever buffers the frames use.
    EXPECT_LE(corvo_emu_count("CreateShaderResourceView") - views, 4u);
}

TEST_F(FramePathTest, ChangedCellsAloneAreCopiedAndMapped) {
    open(1920, 1080);
    frame();
    const uint64_t mapped = corvo_emu_count("bytes_mapped"), copied = corvo_emu_count("bytes_copied");
    paint(window, model, 1900, 1070, 5, 5, 0xFF00FFFFu);  // one edge cell
    EXPECT_EQ(frame(), model);
    const uint64_t frame_bytes = 1920u * 1080u * 4u, mask = 34u * 16u;
    // The frame compared in place; the cell gathered into one row of the patch texture and into the history.
    EXPECT_EQ(corvo_emu_count("bytes_copied") - copied, mask + 2 * 32u * 24u * 4u);
    EXPECT_LE(corvo_emu_count("bytes_mapped") - mapped - mask, frame_bytes / 100);
    wgc_session_destroy(session);
    session = nullptr;

    // Past half of a picture whose cells would fit the patch texture, one whole read-back is cheaper.
    open(640, 480);
    frame();
    const uint64_t mapped_small = corvo_emu_count("bytes_mapped");
    paint(window, model, 0, 0, 640, 260, 0xFF00FF00u);
    EXPECT_EQ(frame(), model);
    EXPECT_EQ(corvo_emu_count("bytes_mapped") - mapped_small, 640u * 480u * 4u + 15u * 16u);
    // Exactly half is still gathered: 150 cells in ten rows of a patch texture that has sixteen.
    const uint64_t mapped_half = corvo_emu_count("bytes_mapped");
    paint(window, model, 0, 0, 320, 480, 0xFF0000FFu);
    EXPECT_EQ(frame(), model);
    EXPECT_EQ(corvo_emu_count("bytes_mapped") - mapped_half, 16u * 512u * 32u * 4u + 15u * 16u);
}

TEST_F(FramePathTest, PartialReadBackGivesThePixelsOfAWholeCopy) {
    std::mt19937 random(7);
    for (const auto &[width, height] : {std::pair{1920, 1080}, std::pair{4100, 40}, std::pair{70, 33}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        open(width, height);
        EXPECT_EQ(frame(), model);
        for (int round = 0; round < 12; ++round) {
            const int rects = 1 + int(random() % 6);
            for (int i = 0; i < rects; ++i) {
                const int32_t x = int32_t(random() % uint32_t(width)), y = int32_t(random() % uint32_t(height));
                const int32_t w = 1 + int32_t(random() % 80), h = 1 + int32_t(random() % 50);
                paint(window, model, x, y, w, h, 0xFF000000u | (random() & 0xFFFFFFu));
            }
            ASSERT_EQ(frame(), model) << "round " << round;
            EXPECT_GT(ratio, 0.0f);
        }
        wgc_session_destroy(session);
        session = nullptr;
    }
}

TEST_F(FramePathTest, HistoryFollowsResizesAndModeSwitches) {
    open(96, 64);
    frame();
    for (int step = 0; step < 6; ++step) {
        const int32_t w = 40 + 13 * step, h = 30 + 7 * step;
        corvo_emu_resize(window, w, h);
        model.resize(w, h);
        paint(window, model, step, step, 3, 3, 0xFF102030u + uint32_t(step));
        set_texture_mode(step % 3 == 1);
        frame();                    // still the old pool size
        const Picture p = frame();  // the recreated pool
        EXPECT_EQ(p, model) << "step " << step;
        EXPECT_EQ(frame(), model);
        EXPECT_EQ(ratio, 0.0f);
    }
}

}  // namespace
