#include "session/texture_output.h"

#include "diff/gpu_access.h"

namespace corvo {

bool TextureOutput::shows(uint32_t width, uint32_t height, DXGI_FORMAT format) const noexcept {
    if (!has_picture_) return false;
    D3D11_TEXTURE2D_DESC current;
    texture_->GetDesc(&current);
    return current.Width == width && current.Height == height && current.Format == format;
}

HRESULT TextureOutput::update(ID3D11Device *device, ID3D11DeviceContext *context, const PictureAt &source,
                              uint32_t width, uint32_t height, const Detection &detection) noexcept {
    D3D11_TEXTURE2D_DESC desc;
    source.texture->GetDesc(&desc);
    D3D11_TEXTURE2D_DESC current{};
    if (texture_) texture_->GetDesc(&current);
    if (!texture_ || current.Width != width || current.Height != height || current.Format != desc.Format) {
        const D3D11_TEXTURE2D_DESC created =
            picture_desc(width, height, desc, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET);
        texture_.reset();
        has_picture_ = false;
        if (const HRESULT hr = device->CreateTexture2D(&created, nullptr, texture_.put()); FAILED(hr)) {
            texture_.reset();
            return hr;
        }
    }
    if (detection.change == Change::kUnchanged) return S_OK;
    if (detection.change == Change::kChanged) {
        copy_rects(context, texture_.get(), source, detection.rects, detection.changed_area, width, height);
    } else {
        copy_picture(context, texture_.get(), source, width, height);
    }
    has_picture_ = true;
    width_ = width;
    height_ = height;
    return S_OK;
}

void *TextureOutput::hand_out() noexcept {
    if (texture_) texture_->AddRef();
    return texture_.get();
}

DXGI_FORMAT TextureOutput::format() const noexcept {
    D3D11_TEXTURE2D_DESC desc{};
    if (texture_) texture_->GetDesc(&desc);
    return desc.Format;
}

void TextureOutput::release() noexcept {
    texture_.reset();
    has_picture_ = false;
    width_ = height_ = 0;
}

}  // namespace corvo
