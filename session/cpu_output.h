// The CPU output: the frame buffer the host reads (rows of BGRA or FP16 pixels back to back) and the textures that
// bring pictures into it: a staging texture of the picture's size for whole pictures, and a small patch
// texture into which only the changed cells of a picture are gathered.
#pragma once

#include <cstdint>
#include <vector>

#include "diff/gpu_access.h"
#include "platform/com_ptr.h"
#include "platform/frame_memory.h"
#include "platform/graphics.h"
#include "session/frame_output.h"

namespace corvo {

class CpuOutput final : public FrameOutput {
public:
    // The content, cropped in each dimension to the texture.
    void picture_size(const D3D11_TEXTURE2D_DESC &frame, int32_t content_width, int32_t content_height,
                      uint32_t *width, uint32_t *height) const noexcept override;
    bool shows(uint32_t width, uint32_t height, DXGI_FORMAT format) const noexcept override {
        return pixels() && width == width_ && height == height_ && format == source_format_;
    }
    // A failed growth leaves the buffer without a picture.
    HRESULT update(ID3D11Device *device, ID3D11DeviceContext *context, const PictureAt &source, uint32_t width,
                   uint32_t height, const Detection &detection) noexcept override;
    // The host reads the buffer; it is the session's, and the host never writes it.
    void *hand_out() noexcept override { return const_cast<uint8_t *>(pixels()); }
    uint32_t width() const noexcept override { return width_; }
    uint32_t height() const noexcept override { return height_; }
    // FP16 pixels as they came; 8-bit ones as BGRA, whatever order the texture they came from had.
    DXGI_FORMAT format() const noexcept override {
        return source_format_ == DXGI_FORMAT_R16G16B16A16_FLOAT ? source_format_ : DXGI_FORMAT_B8G8R8A8_UNORM;
    }
    // Releases the textures, which belong to the device; the buffer and its picture stay.
    void release() noexcept override;

private:
    // The picture: null until one has been read back, and after a failed growth.
    const uint8_t *pixels() const noexcept { return width_ ? buffer_.get() : nullptr; }

    // Where a piece of a changed rectangle (left, top, width x height of the picture) lies in the patch texture.
    struct Patch {
        uint32_t left, top, width, height, x, y;
    };
    HRESULT copy_whole(ID3D11Device *device, ID3D11DeviceContext *context, const PictureAt &source, uint32_t width,
                       uint32_t height) noexcept;
    HRESULT copy_without_staging(ID3D11DeviceContext *context, const PictureAt &source, uint32_t width,
                                 uint32_t height) noexcept;
    // False when the changed cells are better read back whole (too many, or no patch texture).
    bool copy_changed(ID3D11Device *device, ID3D11DeviceContext *context, const PictureAt &source,
                      const Detection &detection, HRESULT *result) noexcept;
    // Takes the whole mapped picture of `format`, whose first pixel is at `first`, into the buffer.
    HRESULT take_whole(const Mapping &mapping, const uint8_t *first, uint32_t width, uint32_t height,
                       DXGI_FORMAT format) noexcept;
    bool fit_buffer(uint32_t width, uint32_t height, uint32_t pixel_bytes) noexcept;

    platform::FrameBuffer buffer_;
    uint64_t buffer_capacity_ = 0;  // bytes
    uint32_t width_ = 0;            // the size of the picture the buffer holds; 0 while it holds none
    uint32_t height_ = 0;
    DXGI_FORMAT source_format_ = DXGI_FORMAT_B8G8R8A8_UNORM;  // of the texture the picture came from
    ComPtr<ID3D11Texture2D> staging_;                         // the size and format of the last whole picture
    ComPtr<ID3D11Texture2D> patches_;                         // kPatchWidth wide, rows of patches 32 pixels high
    uint32_t patch_rows_ = 0;
    std::vector<Patch> layout_;
};

}  // namespace corvo
