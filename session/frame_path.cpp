// One read: forget the history when it no longer describes what the host holds, detect, bring the picture into
// the output, and move the history only when the output took the picture.
#include "session/frame_path.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace corvo {

void FramePath::init(ComPtr<ID3D11Device> device, ComPtr<ID3D11DeviceContext> context) noexcept {
    device_ = device;
    context_ = context;
    detector_.init(device, context);
    converts_ = converter_.init(std::move(device), std::move(context));
    conversion_failed_ = false;
}

void FramePath::release() noexcept {
    ++generation_;
    texture_output_.release();
    cpu_output_.release();
    converter_.shutdown();
    converts_ = false;
    detector_.shutdown();
    history_ = nullptr;
    read_change_ = handed_change_ = -1;
    handed_ = nullptr;
    context_.reset();
    device_.reset();
}

FrameOutput &FramePath::output(OutputMode mode) noexcept {
    if (mode == OutputMode::kTexture) return texture_output_;
    return cpu_output_;
}

HRESULT FramePath::show_nothing() noexcept {
    detector_.forget();
    history_ = nullptr;
    read_change_ = -1;
    outside_ = true;
    return S_OK;
}

HRESULT FramePath::read(ID3D11Texture2D *frame, const FrameInfo &frame_info, OutputMode mode, bool detect,
                        PixelFormat format) noexcept {
    FrameOutput &out = output(mode);
    FrameInfo info = frame_info;
    D3D11_TEXTURE2D_DESC desc;
    frame->GetDesc(&desc);
    // The picture: the output's part of the frame, or a region of the content that the texture holds (the
    // buffer's rule, for both outputs), read where it lies in the frame.
    PictureAt picture{frame};
    uint32_t width = 0, height = 0;
    if (info.region.on) {
        cpu_output_.picture_size(desc, info.content.Width, info.content.Height, &width, &height);
        info.region = clip_region(info.region, int32_t(width), int32_t(height));
        if (info.region.empty()) return show_nothing();
        picture = {frame, uint32_t(info.region.left), uint32_t(info.region.top)};
        width = uint32_t(info.region.right - info.region.left);
        height = uint32_t(info.region.bottom - info.region.top);
    } else {
        out.picture_size(desc, info.content.Width, info.content.Height, &width, &height);
    }
    // The host gets the format it asked for, also from a frame of the pool before a switch: an FP16 frame is
    // made 8-bit as the system would (SDR content exact, brighter content clipped); no kernel makes an 8-bit frame
    // FP16, so such a frame is left out.
    const bool fp16 = desc.Format == DXGI_FORMAT_R16G16B16A16_FLOAT;
    if (format == PixelFormat::kFp16 && !fp16) return E_FAIL;
    const bool convert = fp16 && format != PixelFormat::kFp16;
    if (convert && !converts()) return E_FAIL;
    const DXGI_FORMAT picture_format = convert ? converter_.format() : desc.Format;

    // The history is what the host holds only while it describes this output's picture of this size and format:
    // after a switch of mode or format, while detection is off, or once the output lost its picture, the picture
    // is wholly new.
    // A picture made from HDR at another SDR white is not the picture of this frame in the cells it shares.
    const bool other_white = convert && info.sdr_white_nits != read_info_[size_t(mode)].sdr_white_nits;
    // Nor is the picture of another region, or of the same region elsewhere in the frame.
    const bool other_region = info.region != read_info_[size_t(mode)].region;
    if (history_ != &out || !detect || other_white || other_region || !out.shows(width, height, picture_format))
        detector_.forget();
    history_ = &out;
    Detection detection;
    PictureAt source = picture;
    if (detect) {
        detection = detector_.detect(picture, width, height);
        // Read what was compared, so that the output and the history cannot disagree.
        if (const PictureAt compared = detector_.picture(); compared.texture) source = compared;
    }
    if (convert) {
        // The converted picture has a texture of its own.
        source = {converter_.convert(source, width, height, detection, info.sdr_white_nits)};
        if (!source.texture) {
            // Not tried again on every frame: the session takes the system's 8-bit frames instead.
            converter_.taken(false);
            conversion_failed_ = true;
            return E_FAIL;
        }
    }
    const uint32_t generation = generation_;
    const HRESULT hr = out.update(device_.get(), context_.get(), source, width, height, detection);
    // A logger that stopped the session on the line of a failed allocation released everything: touch nothing.
    if (generation != generation_) return hr;
    if (convert) converter_.taken(SUCCEEDED(hr));
    if (FAILED(hr)) return hr;
    detector_.accept();
    update_ratio_.store(detection.ratio);
    read_change_ = detection.change == Change::kNew ? -1 : int32_t(detection.rects.size());
    read_rects_.assign(detection.rects.begin(), detection.rects.end());
    read_info_[size_t(mode)] = info;
    outside_ = false;
    return hr;
}

bool FramePath::hand_out(OutputMode mode, PixelFormat format, bool read, void **frame_out, int32_t *width_out,
                         int32_t *height_out) noexcept {
    FrameOutput &out = output(mode);
    if (outside_) {
        if (width_out) *width_out = 0;
        if (height_out) *height_out = 0;
        handed_change_ = -1;
        handed_ = nullptr;
        handed_new_ = false;
        return false;
    }
    if (width_out) *width_out = static_cast<int32_t>(out.width());
    if (height_out) *height_out = static_cast<int32_t>(out.height());
    // A picture of the format before a switch is never handed out, also not again. Format 1 is the system's
    // 8-bit pictures where no kernel makes them.
    const DXGI_FORMAT held = out.format();
    const bool fits = format == PixelFormat::kFp16         ? held == DXGI_FORMAT_R16G16B16A16_FLOAT
                      : format == PixelFormat::kSdrFromHdr ? held != DXGI_FORMAT_R16G16B16A16_FLOAT
                                                           : held == DXGI_FORMAT_B8G8R8A8_UNORM;
    void *frame = frame_out && fits ? out.hand_out() : nullptr;
    // Compared with the picture the previous poll handed out: no new picture is no change, unless it came from
    // the other output.
    handed_change_ = !frame || &out != handed_ ? -1 : read ? read_change_ : 0;
    handed_ = frame ? &out : nullptr;
    handed_new_ = frame && read;
    if (!frame) return false;
    handed_info_ = read_info_[size_t(mode)];
    handed_format_ = out.format();
    *frame_out = frame;
    return true;
}

bool FramePath::frame_info(wgc_frame_info *info) const noexcept {
    // Hosts built before the struct grew set the size they know; they get the fields that fit.
    constexpr uint32_t kFirstSize = offsetof(wgc_frame_info, dxgi_format);
    if (!info || info->size < kFirstSize || !handed_) return false;
    wgc_frame_info full{};
    full.size = info->size;
    full.is_new = handed_new_ ? 1 : 0;
    full.frame_number = handed_info_.number;
    full.system_time = handed_info_.system_time;
    full.content_width = handed_info_.content.Width;
    full.content_height = handed_info_.content.Height;
    full.dxgi_format = int32_t(handed_format_);
    full.bytes_per_pixel = bytes_per_pixel(handed_format_);
    full.hdr = handed_info_.hdr ? 1 : 0;
    full.sdr_white_nits = handed_info_.sdr_white_nits;
    full.device_generation = handed_info_.device_generation;
    std::memcpy(info, &full, std::min<size_t>(info->size, sizeof full));
    return true;
}

int32_t FramePath::dirty_rects(wgc_rect *rects, int32_t capacity) const noexcept {
    if (handed_change_ > 0 && rects)
        for (int32_t i = 0; i < std::min(handed_change_, capacity); ++i) {
            const DirtyRect &r = read_rects_[size_t(i)];
            rects[i] = {int32_t(r.left), int32_t(r.top), int32_t(r.right), int32_t(r.bottom)};
        }
    return handed_change_;
}

}  // namespace corvo
