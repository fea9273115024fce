// The dxgi.dll of the test prefix: Wine's own exports, forwarded to the renamed original by the module
// definition, except CreateDXGIFactory1, which may fail, and whose factories' adapter enumeration may fail
// (through a hook in the vtable of Wine's factory, named from the C declarations).
#define CINTERFACE
#define COBJMACROS
#include <dxgi.h>

#include <mutex>

#include "fault_points.h"

namespace wine_wgc {
namespace {

enum class DxgiFault : int { CreateFactory = 0, EnumAdapters = 1, Count = 2 };
FaultPoints<int(DxgiFault::Count)> faults;

decltype(IDXGIFactory1Vtbl::EnumAdapters1) wine_enum_adapters = nullptr;

HRESULT STDMETHODCALLTYPE enum_adapters(IDXGIFactory1 *factory, UINT index, IDXGIAdapter1 **adapter) {
    if (const HRESULT fault = faults.take(int(DxgiFault::EnumAdapters)); FAILED(fault)) {
        if (adapter) *adapter = nullptr;
        return fault;
    }
    return wine_enum_adapters(factory, index, adapter);
}

// Every factory of Wine's dxgi shares one vtable: hooked once, at the first factory.
void hook_vtable(IDXGIFactory1 *factory) {
    static std::once_flag once;
    std::call_once(once, [factory] {
        auto *slot = const_cast<decltype(wine_enum_adapters) *>(&factory->lpVtbl->EnumAdapters1);
        DWORD protection = 0;
        if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) return;
        wine_enum_adapters = *slot;
        *slot = &enum_adapters;
        VirtualProtect(slot, sizeof *slot, protection, &protection);
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
    hook_vtable(made);
    hr = IDXGIFactory1_QueryInterface(made, iid, factory);
    IDXGIFactory1_Release(made);
    return hr;
}

// The next call of `fault` (0: CreateDXGIFactory1, 1: EnumAdapters1) fails with `hr`; how many armed faults no
// call has taken.
void WINAPI corvo_test_fail_next(int fault, HRESULT hr) { wine_wgc::faults.arm(fault, hr); }
long WINAPI corvo_test_faults_pending() { return wine_wgc::faults.pending(); }
}
