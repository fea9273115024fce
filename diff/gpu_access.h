// Small helpers over the immediate context shared by the detector and the session's outputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "diff/dirty_rect.h"
#include "platform/com_ptr.h"
#include "platform/graphics.h"

namespace corvo {

// A read mapping of subresource 0, unmapped on scope exit. It holds the context and the resource, so that a
// logger that destroys the session while a mapping is open (and so releases what was mapped) cannot leave the
// unmap to freed objects.
class Mapping {
public:
    explicit Mapping(ID3D11DeviceContext *context) noexcept
        : context_(ComPtr<ID3D11DeviceContext>::share(context)) {}
    Mapping(const Mapping &) = delete;
    Mapping &operator=(const Mapping &) = delete;
    ~Mapping() {
        if (mapped_) context_->Unmap(mapped_.get(), 0);
    }
    // Maps for reading; a success without a data pointer counts as E_POINTER.
    HRESULT map(ID3D11Resource *resource) noexcept {
        HRESULT hr = context_->Map(resource, 0, D3D11_MAP_READ, 0, &data);
        if (SUCCEEDED(hr)) mapped_ = ComPtr<ID3D11Resource>::share(resource);
        if (SUCCEEDED(hr) && !data.pData) hr = E_POINTER;
        return hr;
    }
    const uint8_t *bytes() const noexcept { return static_cast<const uint8_t *>(data.pData); }
    D3D11_MAPPED_SUBRESOURCE data{};

private:
    ComPtr<ID3D11DeviceContext> context_;
    ComPtr<ID3D11Resource> mapped_;
};

// A texture of one level and one slice, width x height, in the format and sampling of `like`.
inline D3D11_TEXTURE2D_DESC picture_desc(uint32_t width, uint32_t height, const D3D11_TEXTURE2D_DESC &like,
                                         D3D11_USAGE usage, UINT bind_flags, UINT cpu_access = 0) noexcept {
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = like.Format;
    desc.SampleDesc = like.SampleDesc;
    desc.Usage = usage;
    desc.BindFlags = bind_flags;
    desc.CPUAccessFlags = cpu_access;
    return desc;
}

// Where a picture lies in the texture that holds it: width x height pixels (given beside it) from (left, top).
// A region of a frame is read where it lies, with no copy of its own.
struct PictureAt {
    ID3D11Texture2D *texture = nullptr;
    uint32_t left = 0, top = 0;
};

// One region copy of `source` pixels [left, right) x [top, bottom) to (x, y) of `destination`.
inline void copy_region(ID3D11DeviceContext *context, ID3D11Texture2D *destination, uint32_t x, uint32_t y,
                        ID3D11Texture2D *source, uint32_t left, uint32_t top, uint32_t right,
                        uint32_t bottom) noexcept {
    const D3D11_BOX box{left, top, 0, right, bottom, 1};
    context->CopySubresourceRegion(destination, 0, x, y, 0, source, 0, &box);
}

// Copies the width x height picture of `source` to the top-left of `destination`: one whole-resource copy when
// both textures are the picture and have one layout, else a region copy.
inline void copy_picture(ID3D11DeviceContext *context, ID3D11Texture2D *destination, const PictureAt &source,
                         uint32_t width, uint32_t height) noexcept {
    D3D11_TEXTURE2D_DESC to, from;
    destination->GetDesc(&to);
    source.texture->GetDesc(&from);
    const bool same =
        source.left == 0 && source.top == 0 && to.Width == width && to.Height == height && from.Width == width &&
        from.Height == height && to.MipLevels == from.MipLevels && to.ArraySize == from.ArraySize &&
        to.SampleDesc.Count == from.SampleDesc.Count && to.SampleDesc.Quality == from.SampleDesc.Quality;
    if (same) {
        context->CopyResource(destination, source.texture);
        return;
    }
    copy_region(context, destination, 0, 0, source.texture, source.left, source.top, source.left + width,
                source.top + height);
}

// Copies the rectangles (relative to the picture) of `source` to the same places in `destination`, or the whole
// width x height picture in one copy when they cover all of it.
inline void copy_rects(ID3D11DeviceContext *context, ID3D11Texture2D *destination, const PictureAt &source,
                       std::span<const DirtyRect> rects, uint64_t area, uint32_t width, uint32_t height) noexcept {
    if (area >= uint64_t{width} * height) {
        copy_picture(context, destination, source, width, height);
        return;
    }
    for (const DirtyRect &rect : rects)
        copy_region(context, destination, rect.left, rect.top, source.texture, source.left + rect.left,
                    source.top + rect.top, source.left + rect.right, source.top + rect.bottom);
}

// Writes `bytes` into a dynamic buffer (constants); false when it cannot be mapped.
inline bool write_buffer(ID3D11DeviceContext *context, ID3D11Buffer *buffer, const void *data,
                         size_t bytes) noexcept {
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(context->Map(buffer, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped)) || !mapped.pData) return false;
    std::memcpy(mapped.pData, data, bytes);
    context->Unmap(buffer, 0);
    return true;
}

}  // namespace corvo
