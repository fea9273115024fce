// Faults of the prefix's d3d11.dll: device creation, and, through hooks in the vtables of Wine's device and
// immediate context, its IDXGIDevice, staging textures, maps and the device's removal. The hooks pass every call
// through to Wine's own methods unless a fault is armed or the device was removed. Wine's devices report no
// creation flags: a hook reports those they were made with, as Windows does. Written against the C declarations,
// so that each hooked slot is named, not counted.
#define CINTERFACE
#define COBJMACROS
#include <d3d11.h>

#include <atomic>
#include <map>
#include <mutex>

#include "device_faults.h"

namespace wine_wgc {
namespace {

FaultPoints<int(DeviceFault::Count)> faults;
std::atomic<ID3D11Device *> newest{nullptr};   // the device made last
std::atomic<ID3D11Device *> removed{nullptr};  // the device the tests removed; not held
std::mutex flags_mutex;
std::map<ID3D11Device *, UINT> creation_flags;  // of each device made, by its address; guarded by flags_mutex

decltype(ID3D11DeviceVtbl::QueryInterface) wine_query_interface = nullptr;
decltype(ID3D11DeviceVtbl::CreateTexture2D) wine_create_texture = nullptr;
decltype(ID3D11DeviceVtbl::GetDeviceRemovedReason) wine_removed_reason = nullptr;
decltype(ID3D11DeviceVtbl::GetCreationFlags) wine_creation_flags = nullptr;
decltype(ID3D11DeviceContextVtbl::Map) wine_map = nullptr;

bool is_removed(ID3D11Device *device) { return device && device == removed.load(); }

// Only for a device already handed out: Wine's own calls while making one pass.
HRESULT STDMETHODCALLTYPE query_interface(ID3D11Device *device, REFIID iid, void **out) {
    if (device == newest.load() && IsEqualGUID(iid, IID_IDXGIDevice))
        if (const HRESULT fault = faults.take(int(DeviceFault::DxgiDevice)); FAILED(fault)) {
            if (out) *out = nullptr;
            return fault;
        }
    return wine_query_interface(device, iid, out);
}

HRESULT STDMETHODCALLTYPE create_texture(ID3D11Device *device, const D3D11_TEXTURE2D_DESC *desc,
                                         const D3D11_SUBRESOURCE_DATA *data, ID3D11Texture2D **texture) {
    if (is_removed(device)) return DXGI_ERROR_DEVICE_REMOVED;
    if (desc && desc->Usage == D3D11_USAGE_STAGING)
        if (const HRESULT fault = faults.take(int(DeviceFault::StagingTexture)); FAILED(fault)) return fault;
    return wine_create_texture(device, desc, data, texture);
}

HRESULT STDMETHODCALLTYPE removed_reason(ID3D11Device *device) {
    return is_removed(device) ? DXGI_ERROR_DEVICE_REMOVED : wine_removed_reason(device);
}

UINT STDMETHODCALLTYPE get_creation_flags(ID3D11Device *device) {
    const std::lock_guard<std::mutex> lock(flags_mutex);
    const auto found = creation_flags.find(device);
    return found != creation_flags.end() ? found->second : wine_creation_flags(device);
}

HRESULT STDMETHODCALLTYPE map(ID3D11DeviceContext *context, ID3D11Resource *resource, UINT subresource,
                              D3D11_MAP type, UINT flags, D3D11_MAPPED_SUBRESOURCE *mapped) {
    ID3D11Device *device = nullptr;
    ID3D11DeviceContext_GetDevice(context, &device);
    const bool gone = is_removed(device);
    if (device) ID3D11Device_Release(device);
    if (gone) return DXGI_ERROR_DEVICE_REMOVED;
    if (const HRESULT fault = faults.take(int(DeviceFault::Map)); FAILED(fault)) return fault;
    return wine_map(context, resource, subresource, type, flags, mapped);
}

// Points `slot` of a vtable in Wine's read-only data at `hook`, keeping what it held in `wine`.
template <class Method>
void hook(const Method *slot, Method replacement, Method *wine) {
    auto *writable = const_cast<Method *>(slot);
    DWORD protection = 0;
    if (!VirtualProtect(writable, sizeof *writable, PAGE_READWRITE, &protection)) return;
    *wine = *writable;
    *writable = replacement;
    VirtualProtect(writable, sizeof *writable, protection, &protection);
}

// Every device and immediate context of Wine's d3d11 shares one vtable each: hooked once, at the first device.
void hook_vtables(ID3D11Device *device) {
    static std::once_flag once;
    std::call_once(once, [device] {
        hook(&device->lpVtbl->QueryInterface, &query_interface, &wine_query_interface);
        hook(&device->lpVtbl->CreateTexture2D, &create_texture, &wine_create_texture);
        hook(&device->lpVtbl->GetDeviceRemovedReason, &removed_reason, &wine_removed_reason);
        hook(&device->lpVtbl->GetCreationFlags, &get_creation_flags, &wine_creation_flags);
        ID3D11DeviceContext *context = nullptr;
        ID3D11Device_GetImmediateContext(device, &context);
        if (!context) return;
        hook(&context->lpVtbl->Map, &map, &wine_map);
        ID3D11DeviceContext_Release(context);
    });
}

}  // namespace

HRESULT take_device_fault(DeviceFault fault) { return faults.take(int(fault)); }

}  // namespace wine_wgc

extern "C" {

HRESULT WINAPI D3D11CreateDevice(IDXGIAdapter *adapter, D3D_DRIVER_TYPE driver, HMODULE software, UINT flags,
                                 const D3D_FEATURE_LEVEL *levels, UINT level_count, UINT sdk_version,
                                 ID3D11Device **device, D3D_FEATURE_LEVEL *level, ID3D11DeviceContext **context) {
    using namespace wine_wgc;
    if (device) *device = nullptr;
    if (context) *context = nullptr;
    if (const HRESULT fault = take_device_fault(DeviceFault::CreateDevice); FAILED(fault)) return fault;
    static const auto wine_create = reinterpret_cast<decltype(&D3D11CreateDevice)>(
        reinterpret_cast<void *>(GetProcAddress(LoadLibraryW(L"d3d11_wine.dll"), "D3D11CreateDevice")));
    if (!wine_create) return E_NOTIMPL;
    const HRESULT hr =
        wine_create(adapter, driver, software, flags, levels, level_count, sdk_version, device, level, context);
    if (SUCCEEDED(hr) && device && *device) {
        {
            const std::lock_guard<std::mutex> lock(flags_mutex);
            creation_flags[*device] = flags;
        }
        hook_vtables(*device);
        ID3D11Device *made = *device;
        removed.compare_exchange_strong(made, nullptr);  // a new device at a removed one's address
        newest = *device;
    }
    return hr;
}

// The next call of `fault` (a DeviceFault value) fails with `hr`; how many armed faults no call has taken.
void WINAPI corvo_test_fail_next(int fault, HRESULT hr) { wine_wgc::faults.arm(fault, hr); }
long WINAPI corvo_test_faults_pending() { return wine_wgc::faults.pending(); }

// The device made last is removed: its removed reason, textures and maps fail with DXGI_ERROR_DEVICE_REMOVED.
void WINAPI corvo_test_remove_device() { wine_wgc::removed = wine_wgc::newest.load(); }
}
