// The test capture service: what its objects share, and what the tests may see and steer through its exports.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "com_object.h"

namespace wine_wgc {

// Calls the tests can make fail (the next one, once) with an HRESULT of their choosing.
enum class Fault : int {
    CreateForWindow = 0,
    CreateForMonitor = 1,
    CreatePool = 2,
    CreateTexture = 3,
    CreateSession = 4,
    StartCapture = 5,
    ClosePool = 6,
    ItemFactory = 7,
    TryGetNextFrame = 8,
    Surface = 9,
    Switch = 10,  // a switch of a session: cursor, border or interval
    Count = 11
};
// The HRESULT to fail `fault` with this time, or S_OK; taking it clears it. A failure leaves an error object on
// the thread, as the platform's calls do.
HRESULT take_fault(Fault fault);

// What the tests read back: the switches last set on any session, and the frames made.
struct Observed {
    std::atomic<int> cursor{-1};  // -1: never set
    std::atomic<int> border{-1};
    std::atomic<long> frames{0};                // frames handed to a pool
    std::atomic<long> ticks{0};                 // rendering clock ticks completed, by all pools
    std::atomic<long> dropped{0};               // changed pictures not rendered: every buffer of the pool was held
    std::atomic<bool> render_unchanged{false};  // every tick renders, changed or not (as Windows 10 often does)
    std::atomic<int> contract_major{12};        // the newest UniversalApiContract the system offers
    std::atomic<int> borderless_access{4};      // the consent's answer (AppCapabilityAccessStatus); -1: no consent,
                                                // -2: not answered yet
    std::atomic<int> supported{1};              // IsSupported: 1 yes, 0 no, -1 fails
    std::atomic<INT64> interval{-1};            // the MinUpdateInterval last set, 100 ns units; -1: never set
    std::atomic<float> sdr_white{80.0f};        // the user's SDR white level in nits, for monitors in HDR mode
};
inline constexpr int kBorderlessAllowed = 4;
inline constexpr int kCursorSize = 6;
Observed &observed();

// A window or a monitor, as the item interop was given it.
struct Target {
    HWND window = nullptr;
    HMONITOR monitor = nullptr;

    bool alive() const;
    // The size of what is captured now: the window's visible bounds or the monitor's area; {0, 0} when gone.
    SizeInt32 size() const;
    // The target's pixels now, rows of size().Width * 4 bytes of B, G, R, A (A = 255); empty when gone. With
    // `cursor`, the cursor shows as a white kCursorSize square with its top-left corner at the cursor's position.
    std::vector<uint8_t> pixels(SizeInt32 size, bool cursor) const;
    // The monitor shown on: the one a window is mostly on.
    HMONITOR shown_on() const { return window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST) : monitor; }
};

// Whether DXGI reports `monitor` in HDR mode (HDR10's colour space), as the compositor knows it.
bool in_hdr_mode(HMONITOR monitor);
// B, G, R, A bytes of 8-bit sRGB as FP16 scRGB R, G, B, A halves, SDR white at `scale`.
std::vector<uint16_t> scrgb_halves(const std::vector<uint8_t> &bgra, float scale);

// Closed is raised on the thread that made the item, inside its message dispatching, as on Windows, where a
// thread that pumps no messages never sees it; the capture's worker only asks for it.
// The calling thread's dispatcher queue, or null when it has none.
Ref<IDispatcherQueue> current_thread_queue();

class CaptureItem final : public WeakSource<IGraphicsCaptureItem> {
public:
    explicit CaptureItem(Target target);
    const Target &target() const { return target_; }
    // From any thread: the target is gone; Closed follows, once, on the item's thread.
    void close_target();
    // On the item's thread: raises Closed.
    void raise_closed();

    HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING *value) override;
    HRESULT STDMETHODCALLTYPE get_Size(SizeInt32 *value) override;
    HRESULT STDMETHODCALLTYPE add_Closed(IClosedHandler *handler, EventRegistrationToken *token) override;
    HRESULT STDMETHODCALLTYPE remove_Closed(EventRegistrationToken token) override;

private:
    const wchar_t *class_name() const override { return L"Windows.Graphics.Capture.GraphicsCaptureItem"; }

    const Target target_;
    // The making thread's dispatcher queue, which raises Closed: not where that thread had none, nor once the
    // queue's shutdown began (it takes no more work), as the platform delivers it.
    const Ref<IDispatcherQueue> queue_;
    std::mutex mutex_;
    std::vector<std::pair<INT64, Ref<IClosedHandler>>> handlers_;
    INT64 next_token_ = 1;
    bool closed_ = false;
};

class FramePool;

class CaptureSession final : public Object<IGraphicsCaptureSession, IGraphicsCaptureSession2,
                                           IGraphicsCaptureSession3, IGraphicsCaptureSession5, IClosable> {
public:
    CaptureSession(Ref<FramePool> pool, Ref<CaptureItem> item);
    ~CaptureSession() override;

    HRESULT STDMETHODCALLTYPE StartCapture() override;
    HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean *value) override;
    HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean value) override;
    HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean *value) override;
    HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean value) override;
    HRESULT STDMETHODCALLTYPE get_MinUpdateInterval(TimeSpan *value) override;
    HRESULT STDMETHODCALLTYPE put_MinUpdateInterval(TimeSpan value) override;
    HRESULT STDMETHODCALLTYPE Close() override;

private:
    const wchar_t *class_name() const override { return L"Windows.Graphics.Capture.GraphicsCaptureSession"; }

    Ref<FramePool> pool_;  // null once closed
    Ref<CaptureItem> item_;
    bool started_ = false;
    boolean cursor_ = 1;
    boolean border_ = 1;
    TimeSpan interval_{0};
};

// The pool's textures; a frame holds one of them from its making until it is closed or released.
struct BufferSet {
    INT32 pixel_format = 0;  // a DirectXPixelFormat
    std::mutex mutex;
    std::vector<Ref<ID3D11Texture2D>> textures;
    std::vector<bool> held;
};

// How a pool announces its frames: through the creating thread's dispatcher queue (Create), or by raising
// FrameArrived on the rendering thread itself (CreateFreeThreaded).
enum class Delivery { Queue, FreeThreaded };

// Frames are rendered on a worker thread of the pool's own, on its own clock: each tick reads the target and,
// when its picture changed since the last tick (or the capture or the buffers are new), renders it into a free
// buffer. A change seen while every buffer is held is dropped, not kept for later: whether Windows renders it
// once a buffer frees is not known, and the library must not count on it. Pool state is under one lock, never
// held while a handler runs, so a handler may take frames, recreate or close the pool; stopping joins the
// worker unless the worker itself stops it. A change seen sooner than the minimum update interval after the last
// frame waits for a later tick; the cursor is drawn into frames while its capture is on (as on Windows, by
// default). A pool is 8-bit BGRA or FP16; FP16 frames hold the picture as the compositor of the target's monitor
// makes it from SDR content.
class FramePool final : public WeakSource<IDirect3D11CaptureFramePool, IClosable> {
public:
    static HRESULT create(Delivery delivery, IDirect3DDevice *device, INT32 pixel_format, INT32 buffers,
                          SizeInt32 size, IDirect3D11CaptureFramePool **pool);
    ~FramePool() override;

    // From a capture session: frames of `item` from now on; kIllegalMethodCall while capturing already.
    HRESULT start(Ref<CaptureItem> item);
    void stop();
    void raise_frame_arrived();
    std::atomic<bool> cursor{true};
    std::atomic<INT64> min_interval{0};  // 100 ns units

    HRESULT STDMETHODCALLTYPE Recreate(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers,
                                       SizeInt32 size) override;
    HRESULT STDMETHODCALLTYPE TryGetNextFrame(IDirect3D11CaptureFrame **frame) override;
    HRESULT STDMETHODCALLTYPE add_FrameArrived(IFrameArrivedHandler *handler,
                                               EventRegistrationToken *token) override;
    HRESULT STDMETHODCALLTYPE remove_FrameArrived(EventRegistrationToken token) override;
    HRESULT STDMETHODCALLTYPE CreateCaptureSession(IGraphicsCaptureItem *item,
                                                   IGraphicsCaptureSession **session) override;
    HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable **queue) override;
    HRESULT STDMETHODCALLTYPE Close() override;

private:
    explicit FramePool(Delivery delivery) : delivery_(delivery) {}
    const wchar_t *class_name() const override { return L"Windows.Graphics.Capture.Direct3D11CaptureFramePool"; }
    HRESULT allocate(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers, SizeInt32 size);
    static void run(Ref<FramePool> pool, unsigned long long capture);
    // The monitor a capture's worker last rendered an FP16 frame for, and its mode.
    struct Shown {
        HMONITOR monitor = nullptr;
        bool hdr = false;
    };
    // One tick of capture `capture`, at `due`: false once that capture has stopped.
    bool tick(unsigned long long capture, std::chrono::steady_clock::time_point due, Shown &shown);
    bool capturing(unsigned long long capture) const { return capture == capture_ && target_; }

    const Delivery delivery_;
    std::mutex mutex_;
    std::condition_variable wake_;  // a stop ends the worker's wait for its next tick
    Ref<ID3D11Device> device_;
    Ref<ID3D11DeviceContext> context_;
    std::shared_ptr<BufferSet> buffers_;
    SizeInt32 size_{};
    std::deque<Ref<IDirect3D11CaptureFrame>> ready_;
    std::vector<std::pair<INT64, Ref<IFrameArrivedHandler>>> handlers_;
    INT64 next_token_ = 1;
    Ref<IDispatcherQueue> queue_;     // Delivery::Queue only
    Ref<CaptureItem> target_;         // while capturing
    unsigned long long capture_ = 0;  // counts starts and stops; a worker runs while its capture is current
    std::thread worker_;
    SizeInt32 seen_size_{};  // the target as the last tick saw it
    std::vector<uint8_t> seen_pixels_;
    std::chrono::steady_clock::time_point last_frame_{};
    bool closed_ = false;
};

}  // namespace wine_wgc
