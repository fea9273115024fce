// Everything one capture needs: target, device, capture objects, handler registrations, the latest frame,
// the change detector and the host's switches. The handle the host holds is this object's address.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "diff/diff_detector.h"
#include "diff/dirty_rect.h"
#include "platform/capture.h"
#include "platform/com_ptr.h"
#include "platform/frame_memory.h"
#include "platform/graphics.h"

namespace corvo {

// Initialises COM for the process once, on the first call that succeeds. False when COM cannot be used.
bool ensure_com_initialized() noexcept;

class WgcCaptureSession {
public:
    explicit WgcCaptureSession(HWND window) noexcept;
    explicit WgcCaptureSession(HMONITOR monitor) noexcept;
    WgcCaptureSession(const WgcCaptureSession &) = delete;
    WgcCaptureSession &operator=(const WgcCaptureSession &) = delete;
    // Stop, then release everything in the fixed teardown order.
    ~WgcCaptureSession();

    bool Start() noexcept;
    void Stop() noexcept;
    void on_closed() noexcept;

    bool enable_cursor(uint8_t enable) noexcept;
    bool show_border(uint8_t show) noexcept;
    void set_dirty_rect(uint8_t enable) noexcept;
    bool get_recent_frame(void **frame_out, int32_t *width_out, int32_t *height_out, uint8_t *cursor_out) noexcept;
    float take_update_ratio() noexcept;

    ID3D11Device *device() const noexcept { return d3d_device.get(); }
    uint8_t status() const noexcept { return started.load(std::memory_order_relaxed); }
    void set_capture_to_texture(uint8_t on) noexcept { capture_to_texture = on; }

private:
    void release_all() noexcept;
    bool start_pipeline() noexcept;

    // The frame path; runs on the start thread inside its message dispatching. A platform error leaves it
    // for the event delegate to catch.
    void on_frame_arrived();
    void recreate_pool_if_resized(platform::SizeInt32 content);
    bool read_back_frame(platform::SizeInt32 content, ID3D11Texture2D *texture);
    bool copy_through_staging(platform::SizeInt32 content, ID3D11Texture2D *texture);
    void copy_to_frame_texture(ID3D11Texture2D *texture);
    // Makes the buffer fit a picture of that size and records the size; false when it cannot.
    bool fit_frame_buffer(uint32_t width, uint32_t height);
    // True when hr says the device is gone; the first time, ends the capture with a log line.
    bool note_device_lost(HRESULT hr) noexcept;

    // Declaration order is teardown order, reversed.
    ComPtr<ID3D11Device> d3d_device;
    ComPtr<IDXGIFactory1> dxgi_factory;
    ComPtr<IDXGIAdapter1> adapter;
    platform::GraphicsCaptureItem capture_item;
    platform::Direct3DDevice winrt_device;
    ComPtr<ID3D11DeviceContext> d3d_context;
    ComPtr<ID3D11Texture2D> staging_texture;
    D3D11_TEXTURE2D_DESC frame_texture_desc{};
    ComPtr<ID3D11Texture2D> frame_texture;
    platform::Direct3D11CaptureFramePool frame_pool;
    platform::GraphicsCaptureSession capture_session;
    platform::SizeInt32 content_size{};
    platform::EventRegistration closed_revoker;
    platform::EventRegistration frame_arrived_revoker;
    platform::DispatcherQueueController dispatcher_controller;
    std::atomic<uint8_t> started{0};
    DiffDetector detector;
    HWND target_window = nullptr;
    HMONITOR target_monitor = nullptr;
    int32_t copy_mode = 2;
    std::vector<DirtyRect> dirty_rects;
    platform::FrameBuffer frame_buffer;
    uint64_t frame_buffer_size = 0;
    uint32_t frame_width = 0;
    uint32_t frame_height = 0;
    float update_ratio = 0.0f;
    uint8_t cursor_enabled = 0;
    uint8_t capture_to_texture = 0;
    std::atomic<uint8_t> dirty_rect_enabled{0};
    uint8_t border_shown = 0;
    uint8_t frame_pending = 0;
    // The size of the picture the buffer holds, which texture mode does not change.
    uint32_t buffer_width = 0;
    uint32_t buffer_height = 0;
    // The device was removed or reset: the frame path no longer uses it.
    bool device_lost = false;
};

}  // namespace corvo
