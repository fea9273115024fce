// The service module: the activation factories of the capture classes, and the exports the tests use to read
// what the library did and to make the service's own calls fail.
#include <iterator>
#include <string>

#include "capture_service.h"
#include "fault_points.h"

namespace wine_wgc {

IActivationFactory *api_information_factory();
IActivationFactory *capture_access_factory();
IActivationFactory *capture_session_factory();

namespace {

FaultPoints<int(Fault::Count)> faults;
constexpr const wchar_t *kFaultCalls[] = {
    L"CreateForWindow",
    L"CreateForMonitor",
    L"CreateFreeThreaded",
    L"CreateTexture2D",
    L"CreateCaptureSession",
    L"StartCapture",
    L"Close",
    L"DllGetActivationFactory",
    L"TryGetNextFrame",
    L"get_Surface",
    L"the switch"};
static_assert(std::size(kFaultCalls) == size_t(Fault::Count));

// The error object a failing call leaves on its thread; the library takes its text for the failure's message.
// Not counted among the live objects: the thread keeps the last one until it is taken or replaced.
class ErrorInfo final : public Implements<IRestrictedErrorInfo, IErrorInfoListed> {
public:
    ErrorInfo(HRESULT code, std::wstring text) : code_(code), text_(std::move(text)) {}

    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR *description, HRESULT *error, BSTR *restricted_description,
                                              BSTR *capability_sid) override {
        if (!description || !error || !restricted_description || !capability_sid) return E_POINTER;
        *description = SysAllocString(L"The call failed");
        *error = code_;
        *restricted_description = SysAllocString(text_.c_str());
        *capability_sid = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetReference(BSTR *reference) override {
        return reference ? (*reference = nullptr, S_OK) : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE GetGUID(GUID *guid) override { return guid ? (*guid = GUID{}, S_OK) : E_POINTER; }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR *source) override {
        return source ? (*source = SysAllocString(L"corvo_capture_service"), S_OK) : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR *description) override {
        return description ? (*description = SysAllocString(text_.c_str()), S_OK) : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR *file) override { return file ? (*file = nullptr, S_OK) : E_POINTER; }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD *context) override {
        return context ? (*context = 0, S_OK) : E_POINTER;
    }

private:
    const wchar_t *class_name() const override { return L"ErrorInfo"; }
    std::atomic<ULONG> refs_{1};
    const HRESULT code_;
    const std::wstring text_;
};

class ItemFactory final : public Factory<IGraphicsCaptureItemInterop> {
public:
    HRESULT STDMETHODCALLTYPE CreateForWindow(HWND window, REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (const HRESULT fault = take_fault(Fault::CreateForWindow); FAILED(fault)) return fault;
        // Any top-level window; not a child window, not one that is gone.
        if (!IsWindow(window) || GetAncestor(window, GA_ROOT) != window) return E_INVALIDARG;
        return make({window, nullptr}, iid, out);
    }
    HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR monitor, REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (const HRESULT fault = take_fault(Fault::CreateForMonitor); FAILED(fault)) return fault;
        const Target target{nullptr, monitor};
        if (!monitor || !target.alive()) return E_INVALIDARG;
        return make(target, iid, out);
    }

private:
    const wchar_t *class_name() const override { return L"Windows.Graphics.Capture.GraphicsCaptureItem"; }
    static HRESULT make(Target target, REFIID iid, void **out) {
        Ref<CaptureItem> item = Ref<CaptureItem>::attach(new CaptureItem(target));
        return item->QueryInterface(iid, out);
    }
};

class PoolFactory final : public Factory<IDirect3D11CaptureFramePoolStatics, IDirect3D11CaptureFramePoolStatics2> {
public:
    HRESULT STDMETHODCALLTYPE Create(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers, SizeInt32 size,
                                     IDirect3D11CaptureFramePool **pool) override {
        return FramePool::create(Delivery::Queue, device, pixel_format, buffers, size, pool);
    }
    HRESULT STDMETHODCALLTYPE CreateFreeThreaded(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers,
                                                 SizeInt32 size, IDirect3D11CaptureFramePool **pool) override {
        return FramePool::create(Delivery::FreeThreaded, device, pixel_format, buffers, size, pool);
    }

private:
    const wchar_t *class_name() const override { return L"Windows.Graphics.Capture.Direct3D11CaptureFramePool"; }
};

}  // namespace

HRESULT take_fault(Fault fault) {
    const HRESULT hr = faults.take(int(fault));
    if (FAILED(hr)) {
        auto *info = new ErrorInfo(hr, std::wstring(L"The test capture service failed ") + kFaultCalls[int(fault)]);
        SetErrorInfo(0, static_cast<IErrorInfoListed *>(info));
        info->Release();
    }
    return hr;
}

Observed &observed() {
    static Observed values;
    return values;
}

// The module's exports: C names, inside the namespace only so that its names come first.
extern "C" {

HRESULT WINAPI DllGetActivationFactory(HSTRING class_id, IActivationFactory **factory) {
    if (!factory) return E_POINTER;
    static ItemFactory items;
    static PoolFactory pools;
    *factory = nullptr;
    const std::wstring_view name = text_of(class_id);
    if (name == L"Windows.Graphics.Capture.GraphicsCaptureItem") {
        if (const HRESULT fault = take_fault(Fault::ItemFactory); FAILED(fault)) return fault;
        *factory = &items;
    } else if (name == L"Windows.Graphics.Capture.Direct3D11CaptureFramePool")
        *factory = &pools;
    else if (name == L"Windows.Foundation.Metadata.ApiInformation")
        *factory = api_information_factory();
    else if (name == L"Windows.Graphics.Capture.GraphicsCaptureAccess")
        *factory = capture_access_factory();
    else if (name == L"Windows.Graphics.Capture.GraphicsCaptureSession")
        *factory = capture_session_factory();
    return *factory ? S_OK : CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

// Service objects alive now (items, pools, frames, surfaces, sessions, queued announcements).
long WINAPI corvo_test_live_objects() { return live_objects.load(); }

// The switches last set on any session: 1 on, 0 off, -1 never set.
void WINAPI corvo_test_switches(int *cursor, int *border) {
    *cursor = observed().cursor.load();
    *border = observed().border.load();
}

// Frames made since the service was loaded.
long WINAPI corvo_test_frames() { return observed().frames.load(); }

// Ticks of the rendering clocks completed since the service was loaded. With one pool capturing, a picture
// painted before this count was read is seen by the tick that completes the count two ahead of it.
long WINAPI corvo_test_ticks() { return observed().ticks.load(); }

// Changed pictures not rendered because every buffer of their pool was held.
long WINAPI corvo_test_dropped() { return observed().dropped.load(); }

// 1: every tick renders a frame, whether the picture changed or not (frames of an unchanged picture, as
// Windows 10 often delivers them); 0: only changes are rendered.
void WINAPI corvo_test_render_unchanged(int on) { observed().render_unchanged = on != 0; }

// The next call of `fault` (a Fault value) fails with `hr`.
void WINAPI corvo_test_fail_next(int fault, HRESULT hr) { faults.arm(fault, hr); }

// Faults armed that no call has taken yet.
long WINAPI corvo_test_faults_pending() { return faults.pending(); }

// The answer to a request for capture without the border (an AppCapabilityAccessStatus; -1: no
// GraphicsCaptureAccess; -2: not answered yet, until another is set), and what IsSupported says (1 yes, 0 no, -1 it
// fails).
void WINAPI corvo_test_set_borderless_access(int answer) { observed().borderless_access = answer; }
void WINAPI corvo_test_set_supported(int supported) { observed().supported = supported; }

// The MinUpdateInterval last set on any session, in 100 ns units; -1 when never set.
long long WINAPI corvo_test_interval() { return observed().interval.load(); }

// The newest UniversalApiContract major version the system reports.
void WINAPI corvo_test_set_contract(int major) { observed().contract_major = major; }

// The user's SDR white level in nits, which FP16 frames of a monitor in HDR mode show SDR white at.
void WINAPI corvo_test_set_sdr_white(float nits) { observed().sdr_white = nits; }
}

}  // namespace wine_wgc
