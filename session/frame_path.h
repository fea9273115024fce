// The frame's way from the frame slot to the host: the change detector, the two outputs, what the last picture
// read changed and what the last poll handed out. A poll reads the mode and the detection switch once and
// passes them to read() and hand_out(), so that a switch from another thread gives the host one whole answer of
// one mode or the other. The poll's thread uses it; the ratio may be taken from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "corvo_wgc.h"
#include "diff/diff_detector.h"
#include "diff/sdr_from_hdr.h"
#include "platform/capture.h"
#include "session/cpu_output.h"
#include "session/frame_region.h"
#include "session/texture_output.h"

namespace corvo {

enum class OutputMode { kBuffer, kTexture };

// What the host asked to be handed out.
enum class PixelFormat : int32_t {
    kBgra8 = CORVO_WGC_FORMAT_BGRA8,
    kSdrFromHdr = CORVO_WGC_FORMAT_SDR_FROM_HDR,
    kFp16 = CORVO_WGC_FORMAT_FP16,
};

// The frame a picture came from, and the monitor it was on.
struct FrameInfo {
    uint64_t number = 0;  // among the frames of its capture, from 1
    int64_t system_time = 0;
    platform::SizeInt32 content{};
    bool hdr = false;
    float sdr_white_nits = 80.0f;
    uint32_t device_generation = 0;  // of the device that captured it
    // The part of the frame read, in the pixels of its content: asked for by the poll, clipped by the read.
    Region region;
};

class FramePath {
public:
    // Takes the device's objects; a path without working detection still reads every picture whole.
    void init(ComPtr<ID3D11Device> device, ComPtr<ID3D11DeviceContext> context) noexcept;
    // True when FP16 frames can be made into 8-bit pictures here: the kernel was made and has not failed since.
    bool converts() const noexcept { return converts_ && !conversion_failed_; }
    // True once the kernel failed to make a picture: FP16 frames are then no longer made 8-bit.
    bool conversion_failed() const noexcept { return conversion_failed_; }
    // Lets go of everything bound to the device and of what was handed out; the buffer's picture stays.
    void release() noexcept;

    // Brings the picture of `frame` (its region, when `info` has one, read where it lies) into the output of `mode`,
    // compared with what that output shows when `detect`; an FP16 frame is made 8-bit first when `format` asks for 8
    // bits, and an 8-bit frame (of the pool before a switch to FP16) is not read. S_OK when the output shows it, or
    // when the region lies wholly outside the content and nothing is shown; a failure leaves what the host holds as
    // it was.
    HRESULT read(ID3D11Texture2D *frame, const FrameInfo &info, OutputMode mode, bool detect,
                 PixelFormat format) noexcept;
    // What a poll hands out after reading (`read`: a new picture came in): the output of `mode` and its size.
    // Null when `frame_out` is null, there is no picture or it is not of `format`, and nothing at all (size 0)
    // while the last region read lay outside the content; a texture carries a reference for the host.
    bool hand_out(OutputMode mode, PixelFormat format, bool read, void **frame_out, int32_t *width_out,
                  int32_t *height_out) noexcept;

    // One exchange: a ratio the poll writes on another thread is either returned now or kept for the next read.
    float take_update_ratio() noexcept { return update_ratio_.exchange(0.0f); }
    // What the last poll handed out: false when it handed out nothing.
    bool frame_info(wgc_frame_info *info) const noexcept;
    // The changed rectangles of the picture the last poll handed out: their count, 0, or -1 when unknown.
    int32_t dirty_rects(wgc_rect *rects, int32_t capacity) const noexcept;

private:
    FrameOutput &output(OutputMode mode) noexcept;
    // The read of a region outside the content: nothing is shown until a picture of it is read again.
    HRESULT show_nothing() noexcept;

    ComPtr<ID3D11Device> device_;
    ComPtr<ID3D11DeviceContext> context_;
    CpuOutput cpu_output_;          // what the poll hands out in buffer mode
    TextureOutput texture_output_;  // what the poll hands out in texture mode
    DiffDetector detector_;
    SdrFromHdr converter_;
    bool converts_ = false;
    bool conversion_failed_ = false;  // until the next init
    bool outside_ = false;            // the last region read lay outside the content
    // The output whose picture the detector's history describes; none while it describes nothing the host has.
    const FrameOutput *history_ = nullptr;
    uint32_t generation_ = 0;  // counts releases, so that a read notices one made by a logger during it
    FrameInfo read_info_[2];   // of the picture each output shows, by mode
    // The change of the last picture read: -1 unknown, else the count of `read_rects_`.
    int32_t read_change_ = -1;
    std::vector<DirtyRect> read_rects_;
    // What the last poll handed out: from which output (none: nothing), its change and frame, whether new.
    const FrameOutput *handed_ = nullptr;
    int32_t handed_change_ = -1;
    FrameInfo handed_info_;
    DXGI_FORMAT handed_format_ = DXGI_FORMAT_UNKNOWN;
    bool handed_new_ = false;
    std::atomic<float> update_ratio_{0.0f};  // written by the poll, read and reset from any thread
};

}  // namespace corvo
