// The d3d11.dll of the test prefix: Wine's own exports, forwarded to the renamed original by the module
// definition, plus the WinRT device interop that Wine's lacks, and device creation with its faults
// (device_faults.cpp).
#include <dxgi.h>

#include "com_object.h"
#include "device_faults.h"

namespace wine_wgc {
namespace {

// An IDirect3DDevice over a DXGI device; its interface access answers whatever the DXGI device answers
// (ID3D11Device, IDXGIDevice, ...).
class Direct3DDevice final : public Object<IDirect3DDevice, IDirect3DDxgiInterfaceAccess, IClosable> {
public:
    explicit Direct3DDevice(IDXGIDevice *device) : device_(Ref<IDXGIDevice>::share(device)) {}

    HRESULT STDMETHODCALLTYPE Trim() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!device_) return kClosed;
        return device_->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        device_ = nullptr;
        return S_OK;
    }

private:
    const wchar_t *class_name() const override { return L"Windows.Graphics.DirectX.Direct3D11.IDirect3DDevice"; }
    Ref<IDXGIDevice> device_;
};

}  // namespace
}  // namespace wine_wgc

extern "C" {

HRESULT WINAPI CreateDirect3D11DeviceFromDXGIDevice(IDXGIDevice *device, IInspectable **out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!device) return E_INVALIDARG;
    if (const HRESULT fault = wine_wgc::take_device_fault(wine_wgc::DeviceFault::DeviceInterop); FAILED(fault))
        return fault;
    *out = static_cast<wine_wgc::IDirect3DDevice *>(new wine_wgc::Direct3DDevice(device));
    return S_OK;
}

// Device interop objects alive now, for the tests' leak checks.
long WINAPI corvo_test_live_objects() { return wine_wgc::live_objects.load(); }
}
