// The dxgi.dll of the test prefix: Wine's own exports, forwarded to the renamed original by the module
// definition, except CreateDXGIFactory1, which may fail, and whose factories' adapter enumeration may fail
// (through a hook in the vtable of Wine's factory, named from the C declarations). Wine reports every output as
// SDR; a hook in the vtable of its outputs reports the monitor the tests choose in HDR mode instead.
#define CINTERFACE
#define COBJMACROS
#include <dxgi1_6.h>

#include <atomic>
#include <mutex>

#include "fault_points.h"

namespace wine_wgc {
namespace {

enum class DxgiFault : int { CreateFactory = 0, EnumAdapters = 1, Count = 2 };
FaultPoints<int(DxgiFault::Count)> faults;
std::atomic<HMONITOR> hdr_monitor{nullptr};  // the monitor reported in HDR mode; null: none

decltype(IDXGIFactory1Vtbl::EnumAdapters1) wine_enum_adapters = nullptr;
decltype(IDXGIOutput6Vtbl::GetDesc1) wine_get_desc1 = nullptr;

HRESULT STDMETHODCALLTYPE enum_adapters(IDXGIFactory1 *factory, UINT index, IDXGIAdapter1 **adapter) {
    if (const HRESULT fault = faults.take(int(DxgiFault::EnumAdapters)); FAILED(fault)) {
        if (adapter) *adapter = nullptr;
        return fault;
    }
    return wine_enum_adapters(factory, index, adapter);
}

// What Windows reports for an output in HDR mode: HDR10's colour space at 10 bits a channel.
HRESULT STDMETHODCALLTYPE get_desc1(IDXGIOutput6 *output, DXGI_OUTPUT_DESC1 *desc) {
    const HRESULT hr = wine_get_desc1(output, desc);
    if (SUCCEEDED(hr) && desc->Monitor && desc->Monitor == hdr_monitor.load()) {
        desc->ColorSpace = DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020;
        desc->BitsPerColor = 10;
    }
    return hr;
}

// Points `slot` of a vtable in Wine's read-only data at `replacement`, keeping what it held in `wine`.
template <class Method>
void hook(const Method *slot, Method replacement, Method *wine) {
    auto *writable = const_cast<Method *>(slot);
    DWORD protection = 0;
    if (!VirtualProtect(writable, sizeof *writable, PAGE_READWRITE, &protection)) return;
    *wine = *writable;
    *writable = replacement;
    VirtualProtect(writable, sizeof *writable, protection, &protection);
}

// Every factory of Wine's dxgi shares one vtable, and every output another: hooked once, at the first factory,
// through its first output.
void hook_vtables(IDXGIFactory1 *factory) {
    static std::once_flag once;
    std::call_once(once, [factory] {
        hook(&factory->lpVtbl->EnumAdapters1, &enum_adapters, &wine_enum_adapters);
        IDXGIAdapter1 *adapter = nullptr;
        if (FAILED(wine_enum_adapters(factory, 0, &adapter))) return;
        IDXGIOutput *output = nullptr;
        if (SUCCEEDED(IDXGIAdapter1_EnumOutputs(adapter, 0, &output))) {
            IDXGIOutput6 *output6 = nullptr;
            if (SUCCEEDED(
                    IDXGIOutput_QueryInterface(output, IID_IDXGIOutput6, reinterpret_cast<void **>(&output6)))) {
                hook(&output6->lpVtbl->GetDesc1, &get_desc1, &wine_get_desc1);
                IDXGIOutput6_Release(output6);
            }
            IDXGIOutput_Release(output);
        }
        IDXGIAdapter1_Release(adapter);
    });
}

}  // namespace
}  // namespace wine_wgc

extern "C" {

HRESULT WINAPI CreateDXGIFactory1(REFIID iid, void **factory) {
    using namespace wine_wgc;
    if (factory) *factory = nullptr;
    if (const HRESULT fault = faults.take(int(DxgiFault::CreateFactory)); FAILED(fault)) return fault;
    static const auto wine_create = reinterpret_cast<decltype(&CreateDXGIFactory1)>(
        reinterpret_cast<void *>(GetProcAddress(LoadLibraryW(L"dxgi_wine.dll"), "CreateDXGIFactory1")));
    if (!wine_create) return E_NOTIMPL;
    IDXGIFactory1 *made = nullptr;
    HRESULT hr = wine_create(IID_IDXGIFactory1, reinterpret_cast<void **>(&made));
    if (FAILED(hr)) return hr;
    hook_vtables(made);
    hr = IDXGIFactory1_QueryInterface(made, iid, factory);
    IDXGIFactory1_Release(made);
    return hr;
}

// The next call of `fault` (0: CreateDXGIFactory1, 1: EnumAdapters1) fails with `hr`; how many armed faults no
// call has taken.
void WINAPI corvo_test_fail_next(int fault, HRESULT hr) { wine_wgc::faults.arm(fault, hr); }
long WINAPI corvo_test_faults_pending() { return wine_wgc::faults.pending(); }

// The outputs of `monitor` report HDR mode from now on, and every other output SDR (null: all SDR). Wine's
// display configuration has no SDR white level, so readers of it fall back to 80 nits.
void WINAPI corvo_test_report_hdr(HMONITOR monitor) { wine_wgc::hdr_monitor = monitor; }
}
