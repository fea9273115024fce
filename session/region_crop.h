// A region of a frame, copied on the GPU into a texture of the region's size, which the detector, the converter
// and the outputs then read as their whole picture: their work, textures and traffic follow the region, not the
// target, with the kernels unchanged. The copy is one per frame read, of the region's pixels only.
#pragma once

#include "platform/com_ptr.h"
#include "platform/graphics.h"
#include "session/frame_region.h"

namespace corvo {

class RegionCrop {
public:
    // `region` (not empty, inside the frame) of `frame` in a texture of its size that kernels may read; null when
    // that texture cannot be made.
    ID3D11Texture2D *crop(ID3D11Device *device, ID3D11DeviceContext *context, ID3D11Texture2D *frame,
                          const Region &region) noexcept;
    void release() noexcept { texture_.reset(); }

private:
    ComPtr<ID3D11Texture2D> texture_;
};

}  // namespace corvo
