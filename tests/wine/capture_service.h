// The test capture service: what its objects share, and what the tests may see and steer through its exports.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "com_object.h"

namespace wine_wgc {

// Calls the tests can make fail (the next one, once) with an HRESULT of their choosing.
enum class Fault : int { CreateForWindow = 0, CreateForMonitor = 1, CreatePool = 2, CreateTexture = 3, Count = 4 };
// The HRESULT to fail `fault` with this time, or S_OK; taking it clears it.
HRESULT take_fault(Fault fault);

// What the tests read back: the switches last set on any session, and the frames made.
struct Observed {
    std::atomic<int> cursor{-1};  // -1: never set
    std::atomic<int> border{-1};
    std::atomic<long> frames{0};          // frames handed to a pool
    std::atomic<int> contract_major{12};  // the newest UniversalApiContract the system offers
};
Observed &observed();

// A window or a monitor, as the item interop was given it.
struct Target {
    HWND window = nullptr;
    HMONITOR monitor = nullptr;

    bool alive() const;
    // The size of what is captured now: the window's client area or the monitor's area; {0, 0} when gone.
    SizeInt32 size() const;
    // The target's pixels now, rows of size().Width * 4 bytes of B, G, R, A (A = 255); empty when gone.
    std::vector<uint8_t> pixels(SizeInt32 size) const;
};

class CaptureItem final : public Object<IGraphicsCaptureItem> {
public:
    explicit CaptureItem(Target target) : target_(target) {}
    const Target &target() const { return target_; }
    // Raises Closed, once: the target is gone.
    void close_target();

    HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING *value) override;
    HRESULT STDMETHODCALLTYPE get_Size(SizeInt32 *value) override;
    HRESULT STDMETHODCALLTYPE add_Closed(IClosedHandler *handler, EventRegistrationToken *token) override;
    HRESULT STDMETHODCALLTYPE remove_Closed(EventRegistrationToken token) override;

private:
    const wchar_t *class_name() const override { return L"Windows.Graphics.Capture.GraphicsCaptureItem"; }

    const Target target_;
    std::mutex mutex_;
    std::vector<std::pair<INT64, Ref<IClosedHandler>>> handlers_;
    INT64 next_token_ = 1;
    bool closed_ = false;
};

class FramePool;

class CaptureSession final
    : public Object<IGraphicsCaptureSession, IGraphicsCaptureSession2, IGraphicsCaptureSession3, IClosable> {
public:
    CaptureSession(Ref<FramePool> pool, Ref<CaptureItem> item);
    ~CaptureSession() override;

    HRESULT STDMETHODCALLTYPE StartCapture() override;
    HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean *value) override;
    HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean value) override;
    HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean *value) override;
    HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean value) override;
    HRESULT STDMETHODCALLTYPE Close() override;

private:
    const wchar_t *class_name() const override { return L"Windows.Graphics.Capture.GraphicsCaptureSession"; }

    Ref<FramePool> pool_;  // null once closed
    Ref<CaptureItem> item_;
    bool started_ = false;
    boolean cursor_ = 1;
    boolean border_ = 1;
};

// The pool's textures; a frame holds one of them from its making until it is closed or released.
struct BufferSet {
    std::mutex mutex;
    std::vector<Ref<ID3D11Texture2D>> textures;
    std::vector<bool> held;
};

// Frames are made on the thread that created the pool, from a timer of that thread, and announced through that
// thread's dispatcher queue, so FrameArrived runs inside the thread's message dispatching.
class FramePool final : public Object<IDirect3D11CaptureFramePool, IClosable> {
public:
    static HRESULT create(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers, SizeInt32 size,
                          IDirect3D11CaptureFramePool **pool);
    ~FramePool() override;

    // From a capture session: frames of `item` from now on; kIllegalMethodCall while capturing already.
    HRESULT start(Ref<CaptureItem> item);
    void stop();
    void raise_frame_arrived();

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
    FramePool() = default;
    const wchar_t *class_name() const override { return L"Windows.Graphics.Capture.Direct3D11CaptureFramePool"; }
    HRESULT allocate(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers, SizeInt32 size);
    bool arm_timer();
    void make_frame();
    static void CALLBACK on_timer(HWND, UINT, UINT_PTR timer, DWORD);

    Ref<ID3D11Device> device_;
    Ref<ID3D11DeviceContext> context_;
    std::shared_ptr<BufferSet> buffers_;
    SizeInt32 size_{};
    std::deque<Ref<IDirect3D11CaptureFrame>> ready_;
    std::vector<std::pair<INT64, Ref<IFrameArrivedHandler>>> handlers_;
    INT64 next_token_ = 1;
    Ref<IDispatcherQueue> queue_;
    Ref<CaptureItem> target_;  // while capturing
    UINT_PTR timer_ = 0;
    bool closed_ = false;
};

}  // namespace wine_wgc
