// The event handlers the capture objects call: small agile COM objects whose Invoke runs an EventHandler.
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include "platform/capture.h"
#include "platform/windows/abi_interfaces.h"

namespace corvo::platform {

// A delegate `Interface` whose IID is `kIid`, running an EventHandler. Agile, so the source may call it on any
// thread; it answers only its own IID, IUnknown and IAgileObject.
template <class Derived, class Interface, const GUID &kIid>
class Delegate : public Interface {
public:
    explicit Delegate(EventHandler handler) noexcept : handler_(std::move(handler)) {}
    Delegate(const Delegate &) = delete;
    Delegate &operator=(const Delegate &) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        if (iid == kIid || iid == corvo_wgc_abi::kIID_IUnknown || iid == corvo_wgc_abi::kIID_IAgileObject) {
            AddRef();
            *out = static_cast<Interface *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete static_cast<Derived *>(this);
        return left;
    }

protected:
    ~Delegate() = default;

    // The handler's failures go back to the source as an HRESULT; nothing may unwind into it.
    HRESULT run() noexcept {
        try {
            handler_.invoke(handler_.context.get());
            return S_OK;
        } catch (const PlatformError &error) {
            return error.code();
        } catch (const std::bad_alloc &) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }

private:
    EventHandler handler_;
    std::atomic<ULONG> refs_{1};
};

// A TypedEventHandler<Sender, Object> delegate.
template <class Interface, const GUID &kIid, class Sender>
class EventDelegate final : public Delegate<EventDelegate<Interface, kIid, Sender>, Interface, kIid> {
public:
    using Delegate<EventDelegate, Interface, kIid>::Delegate;
    HRESULT STDMETHODCALLTYPE Invoke(Sender *, ::IInspectable *) override { return this->run(); }
};

// Work for a dispatcher queue.
class QueueWork final : public Delegate<QueueWork, corvo_wgc_abi::IDispatcherQueueHandler,
                                        corvo_wgc_abi::kIID_DispatcherQueueHandler> {
public:
    using Delegate::Delegate;
    HRESULT STDMETHODCALLTYPE Invoke() override { return run(); }
};

// The Completed handler of an asynchronous action.
class ActionCompleted final : public Delegate<ActionCompleted, corvo_wgc_abi::IAsyncActionCompletedHandler,
                                              corvo_wgc_abi::kIID_AsyncActionCompletedHandler> {
public:
    using Delegate::Delegate;
    HRESULT STDMETHODCALLTYPE Invoke(::IInspectable *, int32_t) override { return run(); }
};

using FrameArrivedDelegate =
    EventDelegate<corvo_wgc_abi::IFrameArrivedHandler, corvo_wgc_abi::kIID_FrameArrivedHandler,
                  corvo_wgc_abi::IDirect3D11CaptureFramePool>;
using ClosedDelegate = EventDelegate<corvo_wgc_abi::IClosedHandler, corvo_wgc_abi::kIID_ClosedHandler,
                                     corvo_wgc_abi::IGraphicsCaptureItem>;

}  // namespace corvo::platform
