// Everything one capture needs: target, device, capture objects, handler registrations, the outputs, the change
// detector and the host's switches. The handle the host holds is this object's address.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "corvo_wgc.h"
#include "diff/diff_detector.h"
#include "platform/capture.h"
#include "platform/com_ptr.h"
#include "platform/graphics.h"
#include "session/device_source.h"
#include "session/frame_path.h"
#include "session/frame_region.h"
#include "session/frame_slot.h"
#include "session/monitor_colour.h"
#include "session/session_lifetime.h"
#include "session/thread_queue.h"

namespace corvo {

// What the frame pool is created and recreated with: BGRA pixels (FP16 when the host asks for HDR), three buffers.
// The session holds at most two frames at once (the newest, kept by the handler, and the one a poll reads), and the
// service renders only into a free buffer: with one always free, no picture is dropped for want of a buffer.
inline constexpr int32_t kFrameBufferCount = 3;
// The detector keeps a view of each, so that a warm stream of frames makes none, however the service rotates them.
static_assert(kFrameBufferCount <= DiffDetector::kFrameViews);

// Initialises COM for the process once, on the first call that succeeds. False when COM cannot be used.
bool ensure_com_initialized() noexcept;

class WgcCaptureSession {
public:
    explicit WgcCaptureSession(HWND window) noexcept;
    explicit WgcCaptureSession(HMONITOR monitor) noexcept;
    WgcCaptureSession(const WgcCaptureSession &) = delete;
    WgcCaptureSession &operator=(const WgcCaptureSession &) = delete;
    // Releases what destroy() left, in the fixed teardown order.
    ~WgcCaptureSession() = default;

    // The host's destroy: stops the session and frees it, at once or, where calls of the session are running,
    // as the lifetime says (session/session_lifetime.h).
    static void destroy(WgcCaptureSession *session) noexcept;
    // Stops the session and frees it once the calls of other threads have returned; the caller's own call is
    // the last one in progress.
    static void tear_down(WgcCaptureSession *session) noexcept;
    // False when the session could not be made whole (no memory); the creator deletes it then.
    bool valid() const noexcept { return bool(slot_); }
    SessionLifetime &lifetime() noexcept { return lifetime_; }
    // Tells what the service's events recorded since the last call (the target closed); false when the
    // logger destroyed the session on that line.
    bool tell_events() noexcept;

    // All or nothing: on false nothing captures and nothing of this start is kept; may be called again.
    bool Start() noexcept;
    void Stop() noexcept;

    bool enable_cursor(uint8_t enable) noexcept;
    bool show_border(uint8_t show) noexcept;
    bool set_min_update_interval(uint32_t microseconds) noexcept;
    void set_dirty_rect(uint8_t enable) noexcept;
    bool set_pixel_format(int32_t format) noexcept;
    bool set_device(ID3D11Device *device) noexcept { return device_source_.set_host_device(device); }
    bool set_adapter(int32_t choice) noexcept { return device_source_.set_adapter(choice); }
    void set_recovery(uint8_t on) noexcept;
    bool set_region(const wgc_rect *region) noexcept;
    bool set_client_area(uint8_t on) noexcept;
    bool get_recent_frame(void **frame_out, int32_t *width_out, int32_t *height_out, uint8_t *cursor_out) noexcept;
    float take_update_ratio() noexcept { return frame_path_.take_update_ratio(); }
    // What the last poll handed out: false when it handed out nothing.
    bool frame_info(wgc_frame_info *info) const noexcept { return frame_path_.frame_info(info); }
    bool wait_for_frame(uint32_t timeout_ms) noexcept { return slot_->wait(timeout_ms); }
    int32_t last_error() const noexcept { return last_error_.load(); }
    std::atomic<int32_t> *last_error_record() noexcept { return &last_error_; }
    // The changed rectangles of the frame the last poll handed out: their count, 0, or -1 when unknown.
    int32_t dirty_rects(wgc_rect *rects, int32_t capacity) const noexcept {
        return frame_path_.dirty_rects(rects, capacity);
    }

    ID3D11Device *device() const noexcept { return d3d_device_.get(); }
    uint8_t status() const noexcept { return slot_->status(); }
    void set_capture_to_texture(uint8_t on) noexcept { capture_to_texture_.store(on); }

private:
    // Takes the device the source gives (the start, or a rebuild: `rebuild`) and binds the frame path to it.
    bool use_device(bool rebuild) noexcept;
    // A rebuild makes again only what belongs to the device, silently: not the thread's queue, the capture item
    // or its Closed registration, and it tells none of the start's lines.
    bool start_pipeline(bool rebuild) noexcept;
    // Lets go of everything a start made, silently; the CPU buffer, which belongs to no device, stays.
    void release_pipeline() noexcept;
    // Lets go of what belongs to the device, for a rebuild or a stop: the rest of the capture stays.
    void release_device_objects() noexcept;
    // While the own device is being rebuilt after a loss: one try when it is due. False when a line destroyed the
    // session.
    bool recover() noexcept;
    // Closes the frame pool and the capture session and lets go of them.
    void close_capture(bool log_errors) noexcept;

    // Reads the newest frame the handler kept, if any, into the output of `mode`; true when that output shows
    // a new picture.
    bool read_newest_frame(OutputMode mode, bool detect, PixelFormat format) noexcept;
    // At start (and, `quiet`, at a rebuild): sets the interval the host asked for; a platform error is thrown.
    void apply_min_update_interval(bool quiet);
    // Recreates the pool when the content size or the format its frames should come in changed.
    void recreate_pool_if_changed(platform::SizeInt32 content, DXGI_FORMAT format) noexcept;
    // The format the pool's frames should come in for what the host asked and the monitor the target is on.
    DXGI_FORMAT pool_format_for(PixelFormat format, const MonitorState &monitor) const noexcept;
    // Tells, with a line, when the capture starts or stops making 8-bit pictures from HDR frames.
    void tell_converting(PixelFormat format, const MonitorState &monitor) noexcept;
    // Tells each HDR failure once, with what is used instead: a mode or white that cannot be read, a converter the
    // device lacks or one that failed to make a picture.
    void tell_hdr_failures(PixelFormat format, const MonitorState &monitor) noexcept;
    // True when the device has been removed, for whatever reason; the first time, ends the capture with a line.
    bool device_removed() noexcept;
    // The target's closing, recorded by the Closed handler or the wait, once.
    void tell_closed() noexcept;
    // A hide of the border accepted while the user's consent was pending: once the answer has come and the
    // capture runs, sets the border again, or tells the refusal.
    void tell_borderless_answer() noexcept;
    // True after a logger destroyed the session on a line of the call in progress: the call then touches
    // nothing more of it.
    bool destroyed() const noexcept { return lifetime_.destroy_requested(); }

    // Declaration order is teardown order, reversed. Each group says which thread writes it.

    // Any thread: the device's origin, the adapter choice and the recovery switch; the host's device goes last.
    DeviceSource device_source_;

    // The start, and the stop of a destroy (on whichever thread calls them; never while a poll runs on another).
    ComPtr<ID3D11Device> d3d_device_;
    ComPtr<IDXGIFactory1> dxgi_factory_;
    ComPtr<IDXGIAdapter1> adapter_;
    platform::GraphicsCaptureItem capture_item_;
    platform::Direct3DDevice winrt_device_;  // the device as the capture service takes it
    ComPtr<ID3D11DeviceContext> d3d_context_;
    // The poll: the frame's way to the host; made and released with the device by the start.
    FramePath frame_path_;
    // The start; the poll recreates the pool at a new content size.
    platform::Direct3D11CaptureFramePool frame_pool_;
    platform::GraphicsCaptureSession capture_session_;
    // The poll; cleared by the start.
    platform::SizeInt32 content_size_{};  // the size the pool was last created or recreated with
    struct {
        platform::SizeInt32 size;
        DXGI_FORMAT format;
    } failed_recreate_{};  // what the Recreate that failed last was for, logged once; cleared by one that succeeds
    DXGI_FORMAT pool_format_ = DXGI_FORMAT_B8G8R8A8_UNORM;  // the format the pool was last made with
    bool converting_ = false;                               // FP16 frames are made 8-bit, as last told
    MonitorColour monitor_colour_;
    struct {
        HMONITOR mode = nullptr;   // the monitor whose unreadable mode was told
        HMONITOR white = nullptr;  // the monitor whose unreadable white was told
        bool no_converter = false;
        bool conversion_failed = false;
    } told_{};                  // the HDR failures told, until the device objects are released
    bool device_lost_ = false;  // the device was removed or reset: the frame path no longer uses it
    // The start and the poll: whose device it is, its rebuilds, and when the next try of one is due.
    bool host_device_ = false;
    uint32_t device_generation_ = 0;  // 1 for the device of the start, one more at each rebuild
    bool recovering_ = false;
    HRESULT lost_reason_ = S_OK;
    uint32_t rebuild_tries_ = 0;
    std::chrono::steady_clock::time_point next_rebuild_{};
    // The start.
    platform::EventRegistration closed_revoker_;
    platform::EventRegistration frame_arrived_revoker_;
    ThreadQueue::Lease thread_queue_;  // the start thread's dispatcher queue, shared; Closed is raised through it
    // The constructor; the service's threads write inside it (the newest frame, the status).
    const std::shared_ptr<FrameSlot> slot_;
    HWND target_window_ = nullptr;
    HMONITOR target_monitor_ = nullptr;
    // Any thread: the host's switches, read by the frame path and the start, and the call bookkeeping.
    std::atomic<uint8_t> cursor_enabled_{0};
    std::atomic<uint8_t> capture_to_texture_{0};
    std::atomic<uint8_t> dirty_rect_enabled_{0};
    std::atomic<uint8_t> border_shown_{0};
    std::atomic<uint32_t> min_update_interval_{0};  // microseconds; 0 is the system's default
    std::atomic<int32_t> pixel_format_{CORVO_WGC_FORMAT_BGRA8};
    RegionRequest region_;                // read by the poll once per frame
    std::atomic<int32_t> last_error_{0};  // the HRESULT of the latest failure this session logged
    // Any thread's switches, and the start and the stop: `capture_session_` is made, closed and set to the
    // switches' stored values only under this lock, so the capture runs with the value stored last.
    std::mutex switch_mutex_;
    // Set by a hide of the border, or a start that hides it, while the consent is pending; cleared by the
    // call of any thread that acts on the answer.
    std::atomic<bool> consent_pending_{false};
    SessionLifetime lifetime_;
};

}  // namespace corvo
