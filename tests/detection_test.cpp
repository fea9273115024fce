// Change detection end to end: the kernels on the emulated device, the read-back of the mask and what the
// host sees of it.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "session_harness.h"

namespace {

constexpr uint64_t kPicture = 1920u * 1080u * 4u;

class DetectionTest : public CaptureTest {
protected:
    // Starts a capture with detection on and takes the first frame, which sizes the detector.
    void start_detecting(int32_t width, int32_t height) {
        open_window(width, height);
        wgc_set_dirty_rect(session, 1);
        first = present_and_poll();
        ASSERT_TRUE(first.ok);
        EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);
    }

    float ratio_of_next_frame() {
        last = present_and_poll();
        EXPECT_TRUE(last.ok);
        return wgc_get_update_ratio(session);
    }

    Poll first;
    Poll last;
};

TEST_F(DetectionTest, UnchangedFrameIsNotMappedAndReportsNothingNew) {
    start_detecting(1920, 1080);
    const uint64_t mapped_before = corvo_emu_count("bytes_mapped");
    const uint64_t dispatches_before = corvo_emu_count("Dispatch");
    const uint64_t copied_before = corvo_emu_count("bytes_copied");
    EXPECT_EQ(ratio_of_next_frame(), 0.0f);
    EXPECT_EQ(corvo_emu_count("bytes_mapped") - mapped_before, 34u * 16u);  // only the change mask
    EXPECT_EQ(corvo_emu_count("Dispatch") - dispatches_before, 3u);
    // The frame's own texture is compared: only the mask is copied.
    EXPECT_EQ(corvo_emu_count("bytes_copied") - copied_before, 34u * 16u);
    EXPECT_EQ(last.frame, first.frame);
    EXPECT_EQ(last.width, 1920);
    // The pool's three textures, one history and the staging texture; the cell texture and mask are small.
    EXPECT_EQ(corvo_emu_count("resource_bytes") / kPicture, 5u);
    EXPECT_EQ(corvo_emu_count("resource_bytes_peak") / kPicture, 5u);  // nor more at any moment so far

    // Dragged narrower and back: at most the pool being replaced beside its successor, with the history and the
    // staging texture; nothing of the pools before.
    for (int32_t step = 1; step <= 8; ++step) {
        corvo_emu_resize(window, 1920 - 16 * (step % 2) * (1 + step % 3), 1080);
        present_and_poll();
    }
    EXPECT_LE(corvo_emu_count("resource_bytes_peak") / kPicture, 8u);
    // Dragged lower only: once the pool is recreated, nothing of the old one is kept.
    corvo_emu_resize(window, 1920, 1000);
    present_and_poll();
    present_and_poll();
    EXPECT_EQ(corvo_emu_count("resource_bytes") / kPicture, 4u);  // five of 1920 x 1000
}

// On an HDR monitor, in each format: the same change gives the same ratio and rectangles; made from HDR, an
// unchanged frame costs no conversion and no copy of the picture, and a changed cell is converted and copied
// alone; FP16 frames hold no more than six frames' worth of textures.
TEST_F(DetectionTest, HdrFramesAreComparedConvertedAndCopiedCellByCell) {
    std::vector<wgc_rect> rects_of_bgra8;
    float ratio_of_bgra8 = 0.0f;
    for (const int32_t format : {CORVO_WGC_FORMAT_BGRA8, CORVO_WGC_FORMAT_SDR_FROM_HDR, CORVO_WGC_FORMAT_FP16}) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        const HMONITOR monitor = corvo_emu_create_monitor(1920, 1080);
        corvo_emu_set_hdr(monitor, 1, 200);
        open_window(1920, 1080, false);
        wgc_set_pixel_format(session, format);
        ASSERT_EQ(wgc_session_start(session), 1);
        wgc_set_dirty_rect(session, 1);
        ASSERT_TRUE(present_and_poll().ok);
        const uint64_t dispatches = corvo_emu_count("Dispatch"), copied = corvo_emu_count("bytes_copied");
        const uint64_t groups = corvo_emu_count("thread_groups");
        EXPECT_EQ(ratio_of_next_frame(), 0.0f);
        const uint64_t detection_groups = corvo_emu_count("thread_groups") - groups;
        EXPECT_EQ(corvo_emu_count("Dispatch") - dispatches, 3u);         // the detection's passes alone
        EXPECT_EQ(corvo_emu_count("bytes_copied") - copied, 34u * 16u);  // the change mask alone
        corvo_emu_fill(window, 100, 100, 1, 1, 0xFF102030u);
        const uint64_t dispatches_changed = corvo_emu_count("Dispatch"),
                       copied_changed = corvo_emu_count("bytes_copied");
        const uint64_t groups_changed = corvo_emu_count("thread_groups");
        const float ratio = ratio_of_next_frame();
        std::vector<wgc_rect> rects(size_t(wgc_get_dirty_rects(session, nullptr, 0)));
        wgc_get_dirty_rects(session, rects.data(), int32_t(rects.size()));
        if (format == CORVO_WGC_FORMAT_BGRA8) {
            ratio_of_bgra8 = ratio;
            rects_of_bgra8 = rects;
        } else {
            EXPECT_EQ(ratio, ratio_of_bgra8);
            ASSERT_EQ(rects.size(), rects_of_bgra8.size());
            for (size_t i = 0; i < rects.size(); ++i)
                EXPECT_TRUE(std::memcmp(&rects[i], &rects_of_bgra8[i], sizeof(wgc_rect)) == 0) << "rectangle " << i;
        }
        if (format == CORVO_WGC_FORMAT_SDR_FROM_HDR) {
            EXPECT_EQ(corvo_emu_count("Dispatch") - dispatches_changed, 4u);  // and one conversion, of one cell
            EXPECT_EQ(corvo_emu_count("thread_groups") - groups_changed, detection_groups + 1);
            // Into the history (8 bytes a pixel) and into the buffer (4), the cell alone, and the mask.
            EXPECT_EQ(corvo_emu_count("bytes_copied") - copied_changed, 32u * 32u * 12u + 34u * 16u);
            // The white moves while a cell elsewhere changes: a cell whose FP16 values stayed is made anew too.
            corvo_emu_fill_scrgb(window, 0, 0, 32, 32, 1.0f, 1.0f, 1.0f, 1.0f);  // 80 nits: 170 at 200
            ASSERT_EQ(pixel_at(present_and_poll(), 0, 0), 0xFFAAAAAAu);
            corvo_emu_set_hdr(monitor, 1, 80);
            corvo_emu_advance_clock(kColourReadInterval);  // the slider is read on the frames' clock
            corvo_emu_fill(window, 500, 500, 1, 1, 0xFF102030u);
            EXPECT_EQ(pixel_at(present_and_poll(), 0, 0), 0xFFFFFFFFu);
        }
        if (format == CORVO_WGC_FORMAT_FP16) {
            EXPECT_LE(corvo_emu_count("resource_bytes") / (kPicture * 2), 6u);
        }
        wgc_session_destroy(session);
        session = nullptr;
        corvo_emu_close(window);
        corvo_emu_close(monitor);
    }
}

TEST_F(DetectionTest, FramesThatCannotBeBoundAreCopiedOnceAndComparedAsWell) {
    corvo_emu_set_frame_shader_readable(0);
    start_detecting(1920, 1080);
    const uint64_t mapped_before = corvo_emu_count("bytes_mapped");
    const uint64_t copied_before = corvo_emu_count("bytes_copied");
    EXPECT_EQ(ratio_of_next_frame(), 0.0f);
    EXPECT_EQ(corvo_emu_count("bytes_mapped") - mapped_before, 34u * 16u);
    EXPECT_EQ(corvo_emu_count("bytes_copied") - copied_before, kPicture + 34u * 16u);  // one picture copy
    corvo_emu_fill(window, 1919, 1079, 1, 1, 0xFF0000FEu);
    EXPECT_GT(ratio_of_next_frame(), 0.0f);
    EXPECT_EQ(corvo_emu_count("validation_errors"), 0u);          // no view of a texture without the bind flag
    EXPECT_EQ(corvo_emu_count("resource_bytes") / kPicture, 6u);  // and the copy of the frame
}

// A 256 x 256 region of a 4K HDR monitor, in each mode and format: cells counted from the region's top-left,
// rectangles and ratio relative to it, a change outside it no change. The region is read where it lies in the
// frame: an unchanged frame, or one changed only outside the region, copies and maps the mask alone; a changed
// cell is copied into the history and into the output alone; the kernels' thread groups are those of a 256 x 256
// picture, and the library's own textures are the region's size.
TEST_F(DetectionTest, ARegionIsComparedAloneAndItsTrafficIsTheRegions) {
    const HMONITOR monitor = corvo_emu_create_monitor(3840, 2160);
    corvo_emu_set_hdr(monitor, 1, 200);
    uint32_t run = 0;
    for (const bool texture_mode : {false, true})
        for (const int32_t format : {CORVO_WGC_FORMAT_BGRA8, CORVO_WGC_FORMAT_SDR_FROM_HDR, CORVO_WGC_FORMAT_FP16}) {
            SCOPED_TRACE(testing::Message() << "texture " << texture_mode << ", format " << format);
            // Colours no earlier run left on the monitor, so that each fill is a change.
            const uint32_t colour = 0xFF000000u | 0x102030u * ++run;
            session = wgc_session_create2(monitor);
            const wgc_rect region{1000, 600, 1256, 856};
            ASSERT_EQ(wgc_set_region(session, &region), 1);
            ASSERT_EQ(wgc_set_pixel_format(session, format), 1);
            wgc_set_capture_to_texture(session, texture_mode ? 1 : 0);
            ASSERT_EQ(wgc_session_start(session), 1);
            wgc_set_dirty_rect(session, 1);
            auto next = [&](float *ratio) {
                corvo_emu_present(monitor);
                last = poll(session);
                if (texture_mode && last.ok) static_cast<ID3D11Texture2D *>(last.frame)->Release();
                *ratio = wgc_get_update_ratio(session);
                return last.ok;
            };
            float ratio = 0.0f;
            ASSERT_TRUE(next(&ratio));
            EXPECT_EQ(ratio, 1.0f);
            // Bytes a pixel of the pool's frames and of the picture handed out.
            const uint64_t frame_pixel = format == CORVO_WGC_FORMAT_BGRA8 ? 4u : 8u,
                           picture_pixel = format == CORVO_WGC_FORMAT_FP16 ? 8u : 4u;
            const uint64_t region_bytes = 256u * 256u * picture_pixel, mask = 8u * 16u, cell = 32u * 32u;
            struct Counts {
                uint64_t mapped = corvo_emu_count("bytes_mapped"), copied = corvo_emu_count("bytes_copied"),
                         groups = corvo_emu_count("thread_groups");
            };

            // Unchanged, then changed only outside the region: everything above it and the column just right of it.
            for (const bool outside : {false, true}) {
                SCOPED_TRACE(outside ? "changed outside" : "unchanged");
                if (outside) {
                    corvo_emu_fill(monitor, 0, 0, 3840, 599, colour);
                    corvo_emu_fill(monitor, 1256, 600, 1, 256, colour);
                }
                const Counts before;
                ASSERT_TRUE(next(&ratio));
                EXPECT_EQ(ratio, 0.0f);
                EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), 0);
                EXPECT_EQ(corvo_emu_count("bytes_mapped") - before.mapped, mask);
                EXPECT_EQ(corvo_emu_count("bytes_copied") - before.copied, mask);
                EXPECT_EQ(corvo_emu_count("thread_groups") - before.groups, 2u + 1u + 1u);  // clear, cells, pack
            }

            // At (31, 33) of the region: its cell (0, 1), which straddles two cells of the monitor's grid.
            corvo_emu_fill(monitor, 1031, 633, 1, 1, colour);
            const Counts before;
            ASSERT_TRUE(next(&ratio));
            EXPECT_EQ(ratio, 1.0f / 64.0f);
            wgc_rect rect{};
            ASSERT_EQ(wgc_get_dirty_rects(session, &rect, 1), 1);
            EXPECT_EQ(rect.left, 0);
            EXPECT_EQ(rect.top, 32);
            EXPECT_EQ(rect.right, 32);
            EXPECT_EQ(rect.bottom, 64);
            if (!texture_mode && format == CORVO_WGC_FORMAT_BGRA8) {
                EXPECT_EQ(pixel_at(last, 31, 33), colour);
            }
            // The buffer maps its patch texture, the texture output nothing.
            EXPECT_LE(corvo_emu_count("bytes_mapped") - before.mapped, (texture_mode ? 0 : region_bytes) + mask);
            // The changed cell into the history (as the frame has it) and into the output, and the mask.
            EXPECT_EQ(corvo_emu_count("bytes_copied") - before.copied,
                      cell * frame_pixel + cell * picture_pixel + mask);
            // The library's own textures are the region's size: beside the pool's three 4K ones, a few regions'.
            EXPECT_LT(corvo_emu_count("resource_bytes") - 3u * 3840u * 2160u * frame_pixel, 8 * region_bytes);
            wgc_session_destroy(session);
            session = nullptr;
        }
    corvo_emu_close(monitor);
}

TEST_F(DetectionTest, ChangeInTheLastRowAndColumnOfCellsIsFound) {
    start_detecting(1920, 1080);
    corvo_emu_fill(window, 1919, 1079, 1, 1, 0xFF0000FEu);  // bottom-right pixel: the taskbar clock's corner
    const float ratio = ratio_of_next_frame();
    EXPECT_FLOAT_EQ(ratio, float(32.0 * 24.0 / (1920.0 * 1080.0)));  // the corner cell's pixels inside the frame
    EXPECT_EQ(pixel_at(last, 1919, 1079), 0xFF0000FEu);

    corvo_emu_fill(window, 1900, 10, 1, 1, 0xFF010101u);  // last column, first row
    EXPECT_GT(ratio_of_next_frame(), 0.0f);
    corvo_emu_fill(window, 5, 1060, 1, 1, 0xFF010101u);  // first column, last row
    EXPECT_GT(ratio_of_next_frame(), 0.0f);
}

TEST_F(DetectionTest, ChangeBeyondFourThousandPixelsIsFound) {
    start_detecting(5120, 64);
    corvo_emu_fill(window, 5000, 40, 1, 1, 0xFF00FF00u);
    EXPECT_FLOAT_EQ(ratio_of_next_frame(), float(32.0 * 32.0 / (5120.0 * 64.0)));
    EXPECT_EQ(pixel_at(last, 5000, 40), 0xFF00FF00u);
}

TEST_F(DetectionTest, SmallestStepIsAChangeAndAlphaIsNot) {
    start_detecting(256, 256);
    corvo_emu_fill(window, 100, 100, 1, 1, 0x00000000u);  // only alpha differs from opaque black
    EXPECT_EQ(ratio_of_next_frame(), 0.0f);
    corvo_emu_fill(window, 100, 100, 1, 1, 0xFF000100u);  // green one step up
    EXPECT_FLOAT_EQ(ratio_of_next_frame(), 1024.0f / 65536.0f);
}

TEST_F(DetectionTest, SwitchedOffEveryFrameIsNewAndBackOnTheFirstFrameIsNewToo) {
    start_detecting(128, 128);
    wgc_set_dirty_rect(session, 0);
    const uint64_t dispatches = corvo_emu_count("Dispatch");
    corvo_emu_fill(window, 0, 0, 10, 10, 0xFF0000FFu);
    EXPECT_EQ(ratio_of_next_frame(), 1.0f);
    EXPECT_EQ(ratio_of_next_frame(), 1.0f);
    EXPECT_EQ(corvo_emu_count("Dispatch"), dispatches);
    wgc_set_dirty_rect(session, 1);
    // The buffer changed while detection was off: nothing before the switch may be compared with.
    EXPECT_EQ(ratio_of_next_frame(), 1.0f);
    EXPECT_EQ(ratio_of_next_frame(), 0.0f);
}

TEST_F(DetectionTest, ResizedTargetResizesTheDetector) {
    start_detecting(256, 128);
    corvo_emu_resize(window, 128, 64);
    EXPECT_EQ(ratio_of_next_frame(), 1.0f);  // the cropped picture is a new size
    EXPECT_EQ(last.width, 128);
    EXPECT_EQ(ratio_of_next_frame(), 0.0f);  // the recreated pool's frame shows the same picture
    EXPECT_EQ(ratio_of_next_frame(), 0.0f);
    corvo_emu_fill(window, 127, 63, 1, 1, 0xFFFFFFFFu);
    EXPECT_GT(ratio_of_next_frame(), 0.0f);
}

TEST_F(DetectionTest, TextureModeComparesWithTheTextureLastHandedOut) {
    start_detecting(128, 128);
    wgc_set_capture_to_texture(session, 1);
    auto next_texture_ratio = [&] {
        const Poll p = present_and_poll();
        EXPECT_TRUE(p.ok);
        if (p.ok) static_cast<ID3D11Texture2D *>(p.frame)->Release();
        return wgc_get_update_ratio(session);
    };
    EXPECT_EQ(next_texture_ratio(), 1.0f);  // the texture never held a picture
    EXPECT_EQ(next_texture_ratio(), 0.0f);
    corvo_emu_fill(window, 0, 0, 1, 1, 0xFFFFFFFFu);
    EXPECT_FLOAT_EQ(next_texture_ratio(), 1024.0f / 16384.0f);
    EXPECT_EQ(next_texture_ratio(), 0.0f);  // compared with the frame just before, not an older one
    corvo_emu_fill(window, 0, 0, 128, 128, 0xFF102030u);
    const uint64_t region_copies = corvo_emu_count("CopySubresourceRegion");
    EXPECT_EQ(next_texture_ratio(), 1.0f);
    EXPECT_EQ(corvo_emu_count("CopySubresourceRegion"), region_copies);  // a whole copy, not one per rectangle
    corvo_emu_resize(window, 64, 64);
    next_texture_ratio();                   // still the old texture size; the pool is recreated
    EXPECT_EQ(next_texture_ratio(), 1.0f);  // a new size cannot be compared: a whole new frame
}

TEST_F(DetectionTest, FailedResizeFallsBackAndIsTriedAgain) {
    open_window(64, 64);
    wgc_set_dirty_rect(session, 1);
    corvo_emu_fail("CreateTexture2D", static_cast<int32_t>(0x8007000E), 0, 1);  // the detector's cell texture
    const Poll p = present_and_poll();
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);
    const uint64_t creates = corvo_emu_count("CreateTexture2D");
    present_and_poll();
    EXPECT_GT(corvo_emu_count("CreateTexture2D"), creates);  // the detector's resources are made again
    EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);
    EXPECT_EQ(ratio_of_next_frame(), 0.0f);
}

// A frame the detector could not compare reaches the host whole, and the history follows it: going back to the
// picture before is a change.
TEST_F(DetectionTest, FrameThatCouldNotBeComparedLeavesNoStaleHistory) {
    const struct {
        const char *operation;
        bool readable;
    } cases[] = {
        {"Map", true},               // the mask's read-back
        {"CreateTexture2D", false},  // the detector's copy of a frame that cannot be bound
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.operation);
        corvo_emu_set_frame_shader_readable(c.readable ? 1 : 0);
        start_detecting(64, 64);
        const uint32_t original = pixel_at(first, 0, 0);
        corvo_emu_fill(window, 0, 0, 64, 64, 0xFF203040u);
        corvo_emu_fail(c.operation, static_cast<int32_t>(0x8007000E), 0, 1);
        EXPECT_EQ(ratio_of_next_frame(), 1.0f);
        EXPECT_EQ(pixel_at(last, 0, 0), 0xFF203040u);
        corvo_emu_fill(window, 0, 0, 64, 64, original);
        EXPECT_EQ(ratio_of_next_frame(), 1.0f);
        EXPECT_EQ(pixel_at(last, 0, 0), original);
        wgc_session_destroy(session);
        session = nullptr;
    }
}

TEST_F(DetectionTest, DetectorWithoutKernelsStillCapturesWholeFrames) {
    corvo_emu_fail("CreateComputeShader", static_cast<int32_t>(0x80070057), 0, 1);
    open_window(64, 64);
    wgc_set_dirty_rect(session, 1);
    present_and_poll();
    EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);
    EXPECT_EQ(ratio_of_next_frame(), 1.0f);  // no pass is possible
    EXPECT_EQ(corvo_emu_count("Dispatch"), 0u);
}

}  // namespace
