// What the frame path asks of an output (the CPU buffer, the texture): bring a picture in, say whether it shows
// one of a size, and hand it out.
#pragma once

#include <cstdint>

#include "diff/detection.h"
#include "diff/gpu_access.h"
#include "platform/graphics.h"

namespace corvo {

// FP16 pixels take 8 bytes, the 8-bit formats 4.
inline uint32_t bytes_per_pixel(DXGI_FORMAT format) noexcept {
    return format == DXGI_FORMAT_R16G16B16A16_FLOAT ? 8 : 4;
}

class FrameOutput {
public:
    virtual ~FrameOutput() = default;

    // The size a frame is shown at: the texture output shows the whole texture, the buffer the content.
    virtual void picture_size(const D3D11_TEXTURE2D_DESC &frame, int32_t content_width, int32_t content_height,
                              uint32_t *width, uint32_t *height) const noexcept = 0;
    // True when the output holds a picture of this size and format, the only one a detection can compare with.
    virtual bool shows(uint32_t width, uint32_t height, DXGI_FORMAT format) const noexcept = 0;
    // Brings the width x height picture of `source` in, read where it lies: the changed cells only when the
    // detection compared it with the output's picture, nothing when it is unchanged, else all of it. S_OK when the
    // output shows the picture; otherwise it keeps its picture, or has none.
    virtual HRESULT update(ID3D11Device *device, ID3D11DeviceContext *context, const PictureAt &source,
                           uint32_t width, uint32_t height, const Detection &detection) noexcept = 0;
    // What the host is handed: the buffer, or the texture with a reference of the host's; null without a picture.
    virtual void *hand_out() noexcept = 0;
    virtual uint32_t width() const noexcept = 0;
    virtual uint32_t height() const noexcept = 0;
    // The format of what the host is handed.
    virtual DXGI_FORMAT format() const noexcept = 0;
    // Lets go of what belongs to the device.
    virtual void release() noexcept = 0;
};

}  // namespace corvo
