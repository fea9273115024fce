// The texture output: the session's own texture that the poll hands out in texture mode, a copy of the whole
// frame texture.
#pragma once

#include <cstdint>

#include "diff/detection.h"
#include "platform/com_ptr.h"
#include "platform/graphics.h"

namespace corvo {

class TextureOutput {
public:
    // Brings the width x height picture of `source` into the texture (replaced when the size or format
    // changes): the changed cells only when the detection compared it with the texture's picture, nothing when
    // it is unchanged, else all of it. S_OK when the texture shows the picture.
    HRESULT update(ID3D11Device *device, ID3D11DeviceContext *context, ID3D11Texture2D *source, uint32_t width,
                   uint32_t height, const Detection &detection) noexcept;

    ID3D11Texture2D *texture() const noexcept { return texture_.get(); }
    // The size of the last picture copied, kept while a new texture cannot be created.
    uint32_t width() const noexcept { return width_; }
    uint32_t height() const noexcept { return height_; }
    void reset() noexcept;

private:
    ComPtr<ID3D11Texture2D> texture_;  // what the host gets a reference to; replaced, never rewritten in size
    bool has_picture_ = false;         // the texture shows a picture (a new one is empty)
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};

}  // namespace corvo
