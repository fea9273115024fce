// Read-back into the CPU buffer: whole pictures through the staging texture (or, when that cannot be used, a
// mapping of the picture's own texture), changed cells through the patch texture.
#include "session/cpu_output.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "diff/gpu_access.h"
#include "session/frame_buffer.h"
#include "session/row_copy.h"

namespace corvo {
namespace {

// The patch texture is kPatchWidth pixels wide and holds rows of patches 32 pixels high, at most
// kMaxPatchRows of them (2 MB); a change that needs more is read back whole.
constexpr uint32_t kPatchWidth = 512;
constexpr uint32_t kPatchHeight = 32;
constexpr uint32_t kMaxPatchRows = 128;

D3D11_TEXTURE2D_DESC staging_desc(uint32_t width, uint32_t height, const D3D11_TEXTURE2D_DESC &like) {
    return picture_desc(width, height, like, D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_READ);
}

bool fits(ID3D11Texture2D *texture, uint32_t width, uint32_t height, DXGI_FORMAT format) {
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    return desc.Width == width && desc.Height == height && desc.Format == format;
}

}  // namespace

void CpuOutput::picture_size(const D3D11_TEXTURE2D_DESC &frame, int32_t content_width, int32_t content_height,
                             uint32_t *width, uint32_t *height) const noexcept {
    *width = content_width > 0 && uint32_t(content_width) <= frame.Width ? uint32_t(content_width) : frame.Width;
    *height =
        content_height > 0 && uint32_t(content_height) <= frame.Height ? uint32_t(content_height) : frame.Height;
}

HRESULT CpuOutput::update(ID3D11Device *device, ID3D11DeviceContext *context, const PictureAt &source,
                          uint32_t width, uint32_t height, const Detection &detection) noexcept {
    if (detection.change == Change::kUnchanged) return S_OK;
    HRESULT hr = S_OK;
    if (detection.change == Change::kChanged && copy_changed(device, context, source, detection, &hr)) return hr;
    return copy_whole(device, context, source, width, height);
}

void CpuOutput::release() noexcept {
    patches_.reset();
    patch_rows_ = 0;
    staging_.reset();
}

bool CpuOutput::fit_buffer(uint32_t width, uint32_t height, uint32_t pixel_bytes) noexcept {
    if (ensure_frame_buffer(buffer_, buffer_capacity_, width, height, pixel_bytes) && buffer_) return true;
    width_ = height_ = 0;
    return false;
}

HRESULT CpuOutput::copy_whole(ID3D11Device *device, ID3D11DeviceContext *context, const PictureAt &source,
                              uint32_t width, uint32_t height) noexcept {
    D3D11_TEXTURE2D_DESC desc;
    source.texture->GetDesc(&desc);
    if (staging_ && !fits(staging_.get(), width, height, desc.Format)) staging_.reset();
    if (!staging_) {
        const D3D11_TEXTURE2D_DESC staging_description = staging_desc(width, height, desc);
        if (FAILED(device->CreateTexture2D(&staging_description, nullptr, staging_.put()))) {
            staging_.reset();
            return copy_without_staging(context, source, width, height);
        }
    }
    copy_picture(context, staging_.get(), source, width, height);
    Mapping mapping(context);
    if (FAILED(mapping.map(staging_.get()))) return copy_without_staging(context, source, width, height);
    return take_whole(mapping, mapping.bytes(), width, height, desc.Format);
}

HRESULT CpuOutput::copy_without_staging(ID3D11DeviceContext *context, const PictureAt &source, uint32_t width,
                                        uint32_t height) noexcept {
    // The source itself when the CPU may read it, else a one-shot staging copy of its picture. Its description
    // says which: a map of a texture the CPU may not read is an error to the runtime, not a question.
    ComPtr<ID3D11Texture2D> one_shot;  // outlives the mapping of it
    Mapping mapping(context);
    D3D11_TEXTURE2D_DESC desc;
    source.texture->GetDesc(&desc);
    PictureAt mapped = source;
    HRESULT hr = S_OK;
    if (desc.CPUAccessFlags & D3D11_CPU_ACCESS_READ) {
        hr = mapping.map(source.texture);
    } else {
        const D3D11_TEXTURE2D_DESC one_shot_description = staging_desc(width, height, desc);
        ComPtr<ID3D11Device> device;
        source.texture->GetDevice(device.put());
        hr = device ? device->CreateTexture2D(&one_shot_description, nullptr, one_shot.put()) : E_POINTER;
        if (FAILED(hr)) return hr;
        copy_picture(context, one_shot.get(), source, width, height);
        mapped = {one_shot.get()};
        hr = mapping.map(one_shot.get());
    }
    if (FAILED(hr)) return hr;
    const uint8_t *first = mapping.bytes() + size_t{mapped.top} * mapping.data.RowPitch +
                           size_t{mapped.left} * bytes_per_pixel(desc.Format);
    return take_whole(mapping, first, width, height, desc.Format);
}

HRESULT CpuOutput::take_whole(const Mapping &mapping, const uint8_t *first, uint32_t width, uint32_t height,
                              DXGI_FORMAT format) noexcept {
    const uint32_t pixel_bytes = bytes_per_pixel(format);
    if (!fit_buffer(width, height, pixel_bytes)) return E_OUTOFMEMORY;
    if (format == DXGI_FORMAT_R8G8B8A8_UNORM) {
        for (uint32_t y = 0; y < height; ++y)
            copy_swapping_red_blue(buffer_.get() + size_t{y} * width * 4, first + size_t{y} * mapping.data.RowPitch,
                                   width);
    } else {
        copy_rows(buffer_.get(), first, mapping.data.RowPitch, width, height, pixel_bytes);
    }
    width_ = width;
    height_ = height;
    source_format_ = format;
    return S_OK;
}

bool CpuOutput::copy_changed(ID3D11Device *device, ID3D11DeviceContext *context, const PictureAt &source,
                             const Detection &detection, HRESULT *result) noexcept {
    // Past half of the picture one whole copy costs less than gathering the cells.
    if (detection.changed_area * 2 > uint64_t{width_} * height_) return false;
    // Lay the rectangles out in rows of the patch texture, cut into bands of at most one patch height and into
    // pieces where a row of patches ends, so that no space is left between them.
    layout_.clear();
    uint32_t x = 0, row = 0;
    for (const DirtyRect &rect : detection.rects) {
        if (rect.right > width_ || rect.bottom > height_ || rect.left >= rect.right || rect.top >= rect.bottom)
            return false;
        for (uint32_t top = rect.top; top < rect.bottom; top += kPatchHeight) {
            const uint32_t band = std::min(kPatchHeight, rect.bottom - top);
            for (uint32_t left = rect.left; left < rect.right;) {
                const uint32_t take = std::min(rect.right - left, kPatchWidth - x);
                layout_.push_back({left, top, take, band, x, row * kPatchHeight});
                left += take;
                x += take;
                if (x == kPatchWidth) {
                    x = 0;
                    if (++row > kMaxPatchRows) return false;
                }
            }
        }
    }
    const uint32_t rows = row + (x > 0);
    if (rows > kMaxPatchRows) return false;

    D3D11_TEXTURE2D_DESC desc;
    source.texture->GetDesc(&desc);
    if (patches_ &&
        (patch_rows_ < rows || !fits(patches_.get(), kPatchWidth, patch_rows_ * kPatchHeight, desc.Format))) {
        patches_.reset();
        patch_rows_ = 0;
    }
    if (!patches_) {
        // Grown in powers of two, so that a change of some other size rarely needs a new one.
        const uint32_t grown = std::bit_ceil(std::max(rows, 1u));
        const D3D11_TEXTURE2D_DESC patch_description = staging_desc(kPatchWidth, grown * kPatchHeight, desc);
        if (FAILED(device->CreateTexture2D(&patch_description, nullptr, patches_.put()))) {
            patches_.reset();
            return false;
        }
        patch_rows_ = grown;
    }
    for (const Patch &p : layout_)
        copy_region(context, patches_.get(), p.x, p.y, source.texture, source.left + p.left, source.top + p.top,
                    source.left + p.left + p.width, source.top + p.top + p.height);
    Mapping mapping(context);
    if (FAILED(mapping.map(patches_.get()))) return false;
    const uint32_t pixel_bytes = bytes_per_pixel(source_format_);
    for (const Patch &p : layout_)
        for (uint32_t r = 0; r < p.height; ++r) {
            uint8_t *to = buffer_.get() + ((size_t{p.top} + r) * width_ + p.left) * pixel_bytes;
            const uint8_t *from =
                mapping.bytes() + (size_t{p.y} + r) * mapping.data.RowPitch + size_t{p.x} * pixel_bytes;
            if (source_format_ == DXGI_FORMAT_R8G8B8A8_UNORM)
                copy_swapping_red_blue(to, from, p.width);
            else
                std::memcpy(to, from, size_t{p.width} * pixel_bytes);
        }
    *result = S_OK;
    return true;
}

}  // namespace corvo
