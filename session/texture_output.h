// The texture output: the session's own texture that the poll hands out in texture mode, a copy of the whole
// frame texture or of its region.
#pragma once

#include <cstdint>

#include "platform/com_ptr.h"
#include "platform/graphics.h"
#include "session/frame_output.h"

namespace corvo {

class TextureOutput final : public FrameOutput {
public:
    // The whole frame texture.
    void picture_size(const D3D11_TEXTURE2D_DESC &frame, int32_t, int32_t, uint32_t *width,
                      uint32_t *height) const noexcept override {
        *width = frame.Width;
        *height = frame.Height;
    }
    bool shows(uint32_t width, uint32_t height, DXGI_FORMAT format) const noexcept override;
    // The texture is replaced when the size or format changes; a reference the host holds keeps the old one.
    HRESULT update(ID3D11Device *device, ID3D11DeviceContext *context, const PictureAt &source, uint32_t width,
                   uint32_t height, const Detection &detection) noexcept override;
    void *hand_out() noexcept override;
    // The size of the picture the texture shows; 0 while there is none (a new texture could not be created).
    uint32_t width() const noexcept override { return width_; }
    uint32_t height() const noexcept override { return height_; }
    DXGI_FORMAT format() const noexcept override;
    void release() noexcept override;

private:
    ComPtr<ID3D11Texture2D> texture_;  // what the host gets a reference to; replaced, never rewritten in size
    bool has_picture_ = false;         // the texture shows a picture (a new one is empty)
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};

}  // namespace corvo
