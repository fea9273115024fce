// GraphicsCaptureSession.IsSupported and the borderless consent of GraphicsCaptureAccess, as the tests set
// them: the consent's answer is given at once (an unpackaged program is never prompted), unless the tests hold it
// back (-2), and then a request completes once they give one.
#include "capture_service.h"

namespace wine_wgc {
namespace {

constexpr int kUnanswered = -2;

class AccessOperation final : public Object<IAccessStatusOperation, AsyncInfo> {
public:
    HRESULT STDMETHODCALLTYPE put_Completed(IUnknown *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Completed(IUnknown **handler) override {
        return hand_out<IUnknown>(nullptr, handler);
    }
    HRESULT STDMETHODCALLTYPE GetResults(INT32 *status) override {
        if (!status) return E_POINTER;
        const int answer = observed().borderless_access.load();
        if (answer == kUnanswered) return kIllegalMethodCall;
        *status = answer;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus *status) override {
        if (!status) return E_POINTER;
        *status = observed().borderless_access.load() == kUnanswered ? AsyncStarted : AsyncCompleted;
        return S_OK;
    }

private:
    const wchar_t *class_name() const override {
        return L"Windows.Foundation.IAsyncOperation`1<Windows.Security.Authorization.AppCapabilityAccess."
               L"AppCapabilityAccessStatus>";
    }
};

class AccessStatics final : public Factory<IGraphicsCaptureAccessStatics> {
public:
    HRESULT STDMETHODCALLTYPE RequestAccessAsync(INT32 kind, IAccessStatusOperation **operation) override {
        if (!operation) return E_POINTER;
        *operation = nullptr;
        if (kind != 0 && kind != 1) return E_INVALIDARG;
        *operation = new AccessOperation();
        return S_OK;
    }

private:
    const wchar_t *class_name() const override { return L"Windows.Graphics.Capture.GraphicsCaptureAccess"; }
};

class SessionStatics final : public Factory<IGraphicsCaptureSessionStatics> {
public:
    HRESULT STDMETHODCALLTYPE IsSupported(boolean *value) override {
        if (!value) return E_POINTER;
        const int supported = observed().supported.load();
        if (supported < 0) return HRESULT_FROM_WIN32(ERROR_SERVICE_DOES_NOT_EXIST);  // as for another user
        *value = supported != 0;
        return S_OK;
    }

private:
    const wchar_t *class_name() const override { return L"Windows.Graphics.Capture.GraphicsCaptureSession"; }
};

}  // namespace

IActivationFactory *capture_access_factory() {
    static AccessStatics statics;
    return observed().borderless_access.load() == -1 ? nullptr : &statics;
}

IActivationFactory *capture_session_factory() {
    static SessionStatics statics;
    return &statics;
}

}  // namespace wine_wgc
