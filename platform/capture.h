// The capture service as the system code sees it: a small projection of Windows.Graphics.Capture, the
// dispatcher queue and the API metadata. Declared once; platform/windows implements it over the WinRT ABI and
// platform/emulated over the simulated capture service. A failing call throws PlatformError.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "platform/com_ptr.h"
#include "platform/graphics.h"

namespace corvo::platform {

struct SizeInt32 {
    int32_t Width;
    int32_t Height;
};

using EventToken = int64_t;

// A failed capture-service call: its HRESULT and the platform's UTF-8 message (possibly empty).
class PlatformError : public std::exception {
public:
    PlatformError(HRESULT code, std::string message) : code_(code), message_(std::move(message)) {}
    HRESULT code() const noexcept { return code_; }
    const std::string &message() const noexcept { return message_; }
    const char *what() const noexcept override { return message_.c_str(); }

private:
    HRESULT code_;
    std::string message_;
};

// Called by a platform event delegate on the thread the event is delivered to. The delegate catches
// whatever the callback throws and hands its HRESULT back to the event source. The delegate holds the
// context for as long as the source may call it, which can be after the handler was removed.
struct EventHandler {
    void (*invoke)(void *context);
    std::shared_ptr<void> context;
};

// A weak reference to a platform object; resolving gives a strong reference while the object lives.
class WeakRef {
public:
    WeakRef() noexcept = default;
    static WeakRef of(IUnknown *object);
    ComPtr<IUnknown> resolve() const noexcept;
    explicit operator bool() const noexcept { return bool(ref_); }

private:
    explicit WeakRef(ComPtr<IUnknown> ref) noexcept : ref_(std::move(ref)) {}
    ComPtr<IUnknown> ref_;
};

// A handler registration: the weak source and its token. Revoking removes the handler only while the source
// still exists; assigning a new registration or destroying one revokes it first.
class EventRegistration {
public:
    using Remover = void (*)(IUnknown *source, EventToken token);

    EventRegistration() noexcept = default;
    EventRegistration(WeakRef source, EventToken token, Remover remove) noexcept
        : source_(std::move(source)), token_(token), remove_(remove) {}
    EventRegistration(EventRegistration &&other) noexcept;
    EventRegistration &operator=(EventRegistration &&other) noexcept;
    ~EventRegistration() { revoke(); }

    void revoke() noexcept;
    bool empty() const noexcept { return !source_; }

private:
    WeakRef source_;
    EventToken token_ = 0;
    Remover remove_ = nullptr;
};

// Base of the projected runtime classes: one counted reference to the platform object, or none.
class Projected {
public:
    Projected() noexcept = default;
    explicit Projected(ComPtr<IUnknown> object) noexcept : object_(std::move(object)) {}
    explicit operator bool() const noexcept { return bool(object_); }
    IUnknown *get() const noexcept { return object_.get(); }

protected:
    ComPtr<IUnknown> object_;
};

// Windows.Graphics.DirectX.Direct3D11.IDirect3DDevice.
class Direct3DDevice : public Projected {
public:
    using Projected::Projected;
    // The capture service's view of a DXGI device (CreateDirect3D11DeviceFromDXGIDevice).
    static HRESULT from_dxgi_device(IDXGIDevice *dxgi_device, ComPtr<IUnknown> *inspectable) noexcept;
    // Queries the object made by from_dxgi_device for IDirect3DDevice.
    static Direct3DDevice from(const ComPtr<IUnknown> &inspectable);
};

class GraphicsCaptureItem : public Projected {
public:
    using Projected::Projected;
    SizeInt32 Size() const;
    EventRegistration Closed(EventHandler handler) const;
};

// IGraphicsCaptureItemInterop on the activation factory of GraphicsCaptureItem.
class GraphicsCaptureItemInterop : public Projected {
public:
    using Projected::Projected;
    static HRESULT get(GraphicsCaptureItemInterop *out) noexcept;
    HRESULT CreateForWindow(HWND window, GraphicsCaptureItem *item) const noexcept;
    HRESULT CreateForMonitor(HMONITOR monitor, GraphicsCaptureItem *item) const noexcept;
};

class Direct3D11CaptureFrame : public Projected {
public:
    using Projected::Projected;
    SizeInt32 ContentSize() const;
    // When the frame was rendered: its SystemRelativeTime, the performance counter's time in 100 ns units.
    int64_t SystemRelativeTime() const;
    // The frame's ID3D11Texture2D, through its Surface and IDirect3DDxgiInterfaceAccess::GetInterface.
    ComPtr<ID3D11Texture2D> texture() const;
};

class GraphicsCaptureSession : public Projected {
public:
    using Projected::Projected;
    void StartCapture() const;
    void IsCursorCaptureEnabled(bool enabled) const;
    void IsBorderRequired(bool required) const;
    // The shortest interval between frames, in 100 ns units (a TimeSpan); 0 is the system's default.
    void MinUpdateInterval(int64_t interval) const;
    void Close() const;
    // GraphicsCaptureSession.IsSupported(): whether the device can capture at all. A failure is an HRESULT.
    static HRESULT IsSupported(bool *supported) noexcept;
};

class Direct3D11CaptureFramePool : public Projected {
public:
    using Projected::Projected;
    // FrameArrived is raised on the calling thread's dispatcher queue, so only while that thread dispatches.
    static Direct3D11CaptureFramePool Create(const Direct3DDevice &device, int32_t pixel_format,
                                             int32_t buffer_count, SizeInt32 size);
    // FrameArrived is raised on a thread of the capture service, as soon as a frame is rendered.
    static Direct3D11CaptureFramePool CreateFreeThreaded(const Direct3DDevice &device, int32_t pixel_format,
                                                         int32_t buffer_count, SizeInt32 size);
    void Recreate(const Direct3DDevice &device, int32_t pixel_format, int32_t buffer_count, SizeInt32 size) const;
    Direct3D11CaptureFrame TryGetNextFrame() const;
    EventRegistration FrameArrived(EventHandler handler) const;
    GraphicsCaptureSession CreateCaptureSession(const GraphicsCaptureItem &item) const;
    void Close() const;
};

struct DispatcherQueueOptions {
    uint32_t dwSize;
    int32_t threadType;
    int32_t apartmentType;
};
constexpr int32_t DQTYPE_THREAD_CURRENT = 2;
constexpr int32_t DQTAT_COM_NONE = 0;  // what a queue of the current thread is documented to be made with

// The action ShutdownQueueAsync returns.
class QueueShutdown : public Projected {
public:
    using Projected::Projected;
    // Once the queue's thread has dispatched the shutdown.
    bool completed() const;
    // Its Completed handler: runs on the queue's thread as the shutdown completes, or at once if it has.
    void Completed(EventHandler handler) const;
};

class DispatcherQueueController : public Projected {
public:
    using Projected::Projected;
    // Fails with RPC_E_WRONG_THREAD when the calling thread has a queue already.
    static HRESULT create(DispatcherQueueOptions options, DispatcherQueueController *out) noexcept;
    // Its queue's TryEnqueue, from any thread: `work` runs on the queue's thread, inside its message dispatching.
    // False, and nothing queued, once the queue's shutdown began.
    bool TryEnqueue(EventHandler work) const;
    // Starts the shutdown of the queue, from any thread: it takes no more work, and the shutdown completes when
    // the owning thread next dispatches its messages; until then the thread has its queue.
    QueueShutdown ShutdownQueueAsync() const;
};

// Windows.Security.Authorization.AppCapabilityAccess.AppCapabilityAccessStatus.
enum class AccessStatus : int32_t {
    DeniedBySystem = 0,
    NotDeclaredByApp = 1,
    DeniedByUser = 2,
    UserPromptRequired = 3,
    Allowed = 4,
};

// The user's answer to GraphicsCaptureAccess.RequestAccessAsync(Borderless): an
// IAsyncOperation<AppCapabilityAccessStatus>, seen through its IAsyncInfo.
class BorderlessAccessRequest : public Projected {
public:
    using Projected::Projected;
    // Asks; fails where the system has no GraphicsCaptureAccess.
    static HRESULT request(BorderlessAccessRequest *out) noexcept;
    // Answered, cancelled or failed.
    bool completed() const;
    // The answer of a completed request; throws where it was cancelled or failed.
    AccessStatus GetResults() const;
};

// The statics of Windows.Foundation.Metadata.ApiInformation.
class ApiInformation : public Projected {
public:
    using Projected::Projected;
    // The activation-factory lookup; CO_E_NOTINITIALIZED when neither this thread nor the process has COM.
    static HRESULT get(ApiInformation *out) noexcept;
    bool IsApiContractPresent(std::u16string_view contract, uint16_t major) const;
    bool IsPropertyPresent(std::u16string_view type_name, std::u16string_view property) const;
};

}  // namespace corvo::platform
