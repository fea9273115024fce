// The CPU output: the frame buffer the host reads (rows of BGRA pixels back to back) and the textures that
// bring pictures into it: a staging texture of the picture's size for whole pictures, and a small patch
// texture into which only the changed cells of a picture are gathered.
#pragma once

#include <cstdint>
#include <vector>

#include "diff/detection.h"
#include "platform/com_ptr.h"
#include "platform/frame_memory.h"
#include "platform/graphics.h"

namespace corvo {

class CpuOutput {
public:
    // Brings the top-left width x height picture of `source` into the buffer: the changed cells only when the
    // detection compared it with the buffer's picture, nothing when it is unchanged, else all of it. S_OK when
    // the buffer shows the picture; otherwise the buffer keeps its picture (or has none after a failed growth).
    HRESULT update(ID3D11Device *device, ID3D11DeviceContext *context, ID3D11Texture2D *source, uint32_t width,
                   uint32_t height, const Detection &detection) noexcept;

    // The picture: null until one has been read back, and after a failed growth.
    const uint8_t *pixels() const noexcept { return width_ ? buffer_.get() : nullptr; }
    uint32_t width() const noexcept { return width_; }
    uint32_t height() const noexcept { return height_; }
    // Releases the textures, which belong to the device; the buffer and its picture stay.
    void release_textures() noexcept;

private:
    // Where a piece of a changed rectangle (left, top, width x height of the picture) lies in the patch texture.
    struct Patch {
        uint32_t left, top, width, height, x, y;
    };
    HRESULT copy_whole(ID3D11Device *device, ID3D11DeviceContext *context, ID3D11Texture2D *source, uint32_t width,
                       uint32_t height) noexcept;
    HRESULT copy_without_staging(ID3D11DeviceContext *context, ID3D11Texture2D *source, uint32_t width,
                                 uint32_t height) noexcept;
    // False when the changed cells are better read back whole (too many, or no patch texture).
    bool copy_changed(ID3D11Device *device, ID3D11DeviceContext *context, ID3D11Texture2D *source,
                      const Detection &detection, HRESULT *result) noexcept;
    bool fit_buffer(uint32_t width, uint32_t height) noexcept;

    platform::FrameBuffer buffer_;
    uint64_t buffer_capacity_ = 0;  // bytes
    uint32_t width_ = 0;            // the size of the picture the buffer holds; 0 while it holds none
    uint32_t height_ = 0;
    ComPtr<ID3D11Texture2D> staging_;  // the size and format of the last whole picture
    ComPtr<ID3D11Texture2D> patches_;  // kPatchWidth wide, rows of patches 32 pixels high
    uint32_t patch_rows_ = 0;
    std::vector<Patch> layout_;
};

}  // namespace corvo
