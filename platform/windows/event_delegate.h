// The event handlers the capture objects call: small agile COM objects whose Invoke runs an EventHandler.
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include "platform/capture.h"
#include "platform/windows/abi_interfaces.h"

namespace corvo::platform {

// Implements a TypedEventHandler delegate interface `Interface` whose parameterized IID is `kIid`. Agile, so
// the event source may call it on any thread; it answers only its own IID, IUnknown and IAgileObject.
template <class Interface, const GUID &kIid, class Sender>
class EventDelegate final : public Interface {
public:
    explicit EventDelegate(EventHandler handler) noexcept : handler_(std::move(handler)) {}
    EventDelegate(const EventDelegate &) = delete;
    EventDelegate &operator=(const EventDelegate &) = delete;

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
        if (left == 0) delete this;
        return left;
    }

    // The handler's failures go back to the event source as an HRESULT; nothing may unwind into it.
    HRESULT STDMETHODCALLTYPE Invoke(Sender *, ::IInspectable *) override {
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
    ~EventDelegate() = default;

    EventHandler handler_;
    std::atomic<ULONG> refs_{1};
};

using FrameArrivedDelegate =
    EventDelegate<corvo_wgc_abi::IFrameArrivedHandler, corvo_wgc_abi::kIID_FrameArrivedHandler,
                  corvo_wgc_abi::IDirect3D11CaptureFramePool>;
using ClosedDelegate = EventDelegate<corvo_wgc_abi::IClosedHandler, corvo_wgc_abi::kIID_ClosedHandler,
                                     corvo_wgc_abi::IGraphicsCaptureItem>;

}  // namespace corvo::platform
