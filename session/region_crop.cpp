#include "session/region_crop.h"

#include "diff/gpu_access.h"

namespace corvo {

ID3D11Texture2D *RegionCrop::crop(ID3D11Device *device, ID3D11DeviceContext *context, ID3D11Texture2D *frame,
                                  const Region &region) noexcept {
    const auto width = uint32_t(region.right - region.left), height = uint32_t(region.bottom - region.top);
    D3D11_TEXTURE2D_DESC desc, made{};
    frame->GetDesc(&desc);
    if (texture_) texture_->GetDesc(&made);
    if (!texture_ || made.Width != width || made.Height != height || made.Format != desc.Format) {
        texture_.reset();
        const D3D11_TEXTURE2D_DESC wanted =
            picture_desc(width, height, desc, D3D11_USAGE_DEFAULT, D3D11_BIND_SHADER_RESOURCE);
        if (FAILED(device->CreateTexture2D(&wanted, nullptr, texture_.put()))) {
            texture_.reset();
            return nullptr;
        }
    }
    copy_region(context, texture_.get(), 0, 0, frame, uint32_t(region.left), uint32_t(region.top),
                uint32_t(region.right), uint32_t(region.bottom));
    return texture_.get();
}

}  // namespace corvo
