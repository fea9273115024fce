// The frame path: runs inside the start thread's message dispatching when the pool announces a frame, and
// reads the frame back into the CPU buffer or copies it into the session's frame texture.
#include <algorithm>

#include "api/log_sink.h"
#include "session/capture_session.h"
#include "session/frame_buffer.h"
#include "session/row_copy.h"

namespace corvo {
namespace {

constexpr int32_t kPixelFormat = DXGI_FORMAT_B8G8R8A8_UNORM;
constexpr int32_t kFrameBufferCount = 2;

bool means_device_lost(HRESULT hr) { return hr == DXGI_ERROR_DEVICE_REMOVED || hr == DXGI_ERROR_DEVICE_RESET; }

D3D11_TEXTURE2D_DESC staging_desc_of(const D3D11_TEXTURE2D_DESC &frame) {
    D3D11_TEXTURE2D_DESC desc = frame;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    return desc;
}

// The part of the texture to copy: the content size when it is positive and fits, else the whole texture.
struct CopySize {
    uint32_t width;
    uint32_t height;
    bool cropped;
};

CopySize copy_size_of(platform::SizeInt32 content, const D3D11_TEXTURE2D_DESC &desc) {
    if (content.Width > 0 && content.Height > 0 && uint32_t(content.Width) <= desc.Width &&
        uint32_t(content.Height) <= desc.Height) {
        const uint32_t w = uint32_t(content.Width), h = uint32_t(content.Height);
        return {w, h, w != desc.Width || h != desc.Height};
    }
    return {desc.Width, desc.Height, false};
}

// A read mapping of subresource 0, unmapped on scope exit.
class Mapping {
public:
    explicit Mapping(ID3D11DeviceContext *context) : context_(context) {}
    Mapping(const Mapping &) = delete;
    Mapping &operator=(const Mapping &) = delete;
    ~Mapping() {
        if (mapped_) context_->Unmap(mapped_, 0);
    }
    HRESULT map(ID3D11Resource *resource) {
        const HRESULT hr = context_->Map(resource, 0, D3D11_MAP_READ, 0, &data);
        if (SUCCEEDED(hr)) mapped_ = resource;
        return hr;
    }
    D3D11_MAPPED_SUBRESOURCE data{};

private:
    ID3D11DeviceContext *context_;
    ID3D11Resource *mapped_ = nullptr;
};

}  // namespace

void WgcCaptureSession::on_frame_arrived() {
    platform::Direct3D11CaptureFrame frame = frame_pool.TryGetNextFrame();
    if (!frame || frame_pending || device_lost) return;  // surplus frames are released unread

    const platform::SizeInt32 content = frame.ContentSize();
    ComPtr<ID3D11Texture2D> texture = frame.texture();
    if (!texture) return;
    if (note_device_lost(d3d_device->GetDeviceRemovedReason())) return;

    try {
        if (capture_to_texture)
            copy_to_frame_texture(texture.get());
        else if (read_back_frame(content, texture.get()))
            frame_pending = 1;
        if (device_lost) return;
        recreate_pool_if_resized(content);
    } catch (const platform::PlatformError &error) {
        if (!note_device_lost(error.code())) throw;
    }
}

void WgcCaptureSession::recreate_pool_if_resized(platform::SizeInt32 content) {
    if (content.Width == content_size.Width && content.Height == content_size.Height) return;
    frame_pool.Recreate(winrt_device, kPixelFormat, kFrameBufferCount, content);
    content_size = content;
}

bool WgcCaptureSession::note_device_lost(HRESULT hr) noexcept {
    if (!means_device_lost(hr)) return false;
    if (!device_lost) {
        device_lost = true;
        const HRESULT reason = d3d_device ? d3d_device->GetDeviceRemovedReason() : hr;
        log_message(kLogError, "Capture device lost, reason:%08x; the capture has ended",
                    static_cast<unsigned>(FAILED(reason) ? reason : hr));
        started.exchange(0);
    }
    return true;
}

bool WgcCaptureSession::read_back_frame(platform::SizeInt32 content, ID3D11Texture2D *texture) {
    if (copy_through_staging(content, texture)) return true;
    if (device_lost) return false;

    // Fallback: read the frame texture itself, or a one-shot staging copy of it.
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    const CopySize size = copy_size_of(content, desc);
    ComPtr<ID3D11Device> device;
    texture->GetDevice(device.put());

    ComPtr<ID3D11Texture2D> one_shot;  // outlives the mapping of it
    Mapping mapping(d3d_context.get());
    HRESULT hr = mapping.map(texture);
    if (hr == E_INVALIDARG) {
        const D3D11_TEXTURE2D_DESC one_shot_desc = staging_desc_of(desc);
        hr = device ? device->CreateTexture2D(&one_shot_desc, nullptr, one_shot.put()) : E_POINTER;
        if (FAILED(hr)) {
            note_device_lost(hr);
            return false;
        }
        d3d_context->CopyResource(one_shot.get(), texture);
        hr = mapping.map(one_shot.get());
    }
    if (FAILED(hr) || !mapping.data.pData) {
        note_device_lost(hr);
        return false;
    }
    if (!fit_frame_buffer(size.width, size.height)) return false;
    copy_rows(frame_buffer.get(), static_cast<const uint8_t *>(mapping.data.pData), mapping.data.RowPitch,
              frame_width, frame_height);
    buffer_width = frame_width;
    buffer_height = frame_height;
    // The fallback ran no detection: the host gets the whole frame as new.
    update_ratio = 1.0f;
    return true;
}

bool WgcCaptureSession::copy_through_staging(platform::SizeInt32 content, ID3D11Texture2D *texture) {
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    if (staging_texture) {
        D3D11_TEXTURE2D_DESC current;
        staging_texture->GetDesc(&current);
        if (current.Width != desc.Width || current.Height != desc.Height || current.Format != desc.Format)
            staging_texture.reset();
    }
    if (!staging_texture) {
        const D3D11_TEXTURE2D_DESC staging = staging_desc_of(desc);
        const HRESULT hr = d3d_device->CreateTexture2D(&staging, nullptr, staging_texture.put());
        if (FAILED(hr)) {
            staging_texture.reset();
            note_device_lost(hr);
            return false;
        }
    }

    const CopySize size = copy_size_of(content, desc);
    dirty_rects.clear();
    copy_mode = 2;
    update_ratio = 1.0f;
    d3d_context->CopyResource(staging_texture.get(), texture);

    if (dirty_rect_enabled.load() && !size.cropped) {
        if (detector.size_changed(desc.Width, desc.Height)) {
            if (!detector.resize(desc)) return false;
            detector.store_previous(texture);
        } else {
            if (detector.detect(texture, &dirty_rects, &update_ratio)) copy_mode = dirty_rects.empty() ? 0 : 2;
            detector.store_previous(texture);
        }
    }
    // The buffer must hold this frame's picture: an unchanged frame of another size than the buffer's picture
    // (after cropping, or after texture mode) is copied whole, as a new frame.
    if (copy_mode == 0 && (buffer_width != size.width || buffer_height != size.height || !frame_buffer)) {
        copy_mode = 2;
        update_ratio = 1.0f;
    }

    Mapping mapping(d3d_context.get());
    if (copy_mode != 0) {
        const HRESULT hr = mapping.map(staging_texture.get());
        if (FAILED(hr)) {
            note_device_lost(hr);
            return false;
        }
        if (!mapping.data.pData) copy_mode = 0;
    }
    if (!fit_frame_buffer(size.width, size.height)) return false;
    if (copy_mode == 2) {
        copy_rows(frame_buffer.get(), static_cast<const uint8_t *>(mapping.data.pData), mapping.data.RowPitch,
                  frame_width, frame_height);
        buffer_width = frame_width;
        buffer_height = frame_height;
    }
    recreate_pool_if_resized(content);
    return true;
}

bool WgcCaptureSession::fit_frame_buffer(uint32_t width, uint32_t height) {
    const uint64_t need = uint64_t(width) * height * 4;
    if (width != frame_width || height != frame_height || !frame_buffer || frame_buffer_size < need) {
        if (!ensure_frame_buffer(frame_buffer, frame_buffer_size, width, height)) {
            buffer_width = buffer_height = 0;
            return false;
        }
    }
    if (!frame_buffer) return false;
    frame_width = width;
    frame_height = height;
    return true;
}

void WgcCaptureSession::copy_to_frame_texture(ID3D11Texture2D *texture) {
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    if (!frame_texture || frame_texture_desc.Width != desc.Width || frame_texture_desc.Height != desc.Height ||
        frame_texture_desc.Format != desc.Format) {
        frame_texture_desc = desc;
        frame_texture_desc.MipLevels = 1;
        frame_texture_desc.ArraySize = 1;
        frame_texture_desc.Usage = D3D11_USAGE_DEFAULT;
        frame_texture_desc.BindFlags = D3D11_BIND_RENDER_TARGET;
        frame_texture_desc.CPUAccessFlags = 0;
        frame_texture_desc.MiscFlags = 0;
        frame_texture.reset();
        const HRESULT hr = d3d_device->CreateTexture2D(&frame_texture_desc, nullptr, frame_texture.put());
        if (FAILED(hr)) {
            frame_texture.reset();
            note_device_lost(hr);
            return;
        }
    }

    if (dirty_rect_enabled.load()) {
        dirty_rects.clear();
        update_ratio = 0.0f;
        bool detected = false;
        if (detector.size_changed(desc.Width, desc.Height))
            detector.resize(desc);
        else
            detected = detector.detect(texture, &dirty_rects, &update_ratio);
        // The detector's previous frame follows every frame, as in buffer mode.
        detector.store_previous(texture);
        // A frame that could not be compared is a whole new frame, never "nothing new".
        if (!detected) update_ratio = 1.0f;
    } else {
        update_ratio = 1.0f;
    }
    frame_width = desc.Width;
    frame_height = desc.Height;
    d3d_context->CopyResource(frame_texture.get(), texture);
}

}  // namespace corvo
