// The DXGI factory and adapters of the emulated system. The adapters are the list set by
// corvo_emu_set_adapters.
#pragma once

#include <cstdint>

#include "platform/com_ptr.h"
#include "platform/emulated/object.h"

namespace corvo::emu {

class Factory final : public Object<IDXGIFactory1> {
public:
    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void **parent) override;
    HRESULT STDMETHODCALLTYPE EnumAdapters1(UINT index, IDXGIAdapter1 **adapter) override;

private:
    bool implements(REFIID iid) const noexcept override;
};

class Adapter final : public Object<IDXGIAdapter1> {
public:
    Adapter(IDXGIFactory1 *factory, UINT index, uint32_t vendor_id);

    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void **parent) override;
    HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_ADAPTER_DESC1 *desc) override;

private:
    bool implements(REFIID iid) const noexcept override;

    ComPtr<IDXGIFactory1> factory_;
    UINT index_;
    uint32_t vendor_id_;
};

// The system's first adapter, which a device created without one runs on; null when there is none.
ComPtr<IDXGIAdapter> first_adapter();

}  // namespace corvo::emu
