// The DXGI factory, adapters and outputs of the emulated system. The adapters are the list set by
// corvo_emu_set_adapters; each monitor is an output of the adapter corvo_emu_set_monitor_adapter names (the first
// by default), in the order of the monitors. As on Windows, a factory keeps the display
// configuration it was made in: its outputs describe that one, and IsCurrent says FALSE once it has changed.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/emulated/object.h"

namespace corvo::emu {

// An output as the factory saw it when it was made.
struct OutputState {
    HMONITOR monitor;
    RECT rect;
    uint32_t number;
    bool hdr;
    uint32_t adapter;  // the index of the adapter it belongs to
};

class Factory final : public Object<IDXGIFactory1> {
public:
    Factory(std::vector<OutputState> outputs, uint64_t generation)
        : outputs(std::move(outputs)), generation_(generation) {}

    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void **parent) override;
    HRESULT STDMETHODCALLTYPE EnumAdapters1(UINT index, IDXGIAdapter1 **adapter) override;
    BOOL STDMETHODCALLTYPE IsCurrent() override;

    const std::vector<OutputState> outputs;

private:
    bool implements(REFIID iid) const noexcept override;

    const uint64_t generation_;
};

class Adapter final : public Object<IDXGIAdapter1> {
public:
    Adapter(IDXGIFactory1 *factory, UINT index, uint32_t vendor_id);

    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void **parent) override;
    HRESULT STDMETHODCALLTYPE EnumOutputs(UINT index, IDXGIOutput **output) override;
    HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_ADAPTER_DESC1 *desc) override;

private:
    bool implements(REFIID iid) const noexcept override;

    ComPtr<IDXGIFactory1> factory_;
    UINT index_;
    uint32_t vendor_id_;
};

class Output final : public Object<IDXGIOutput6> {
public:
    Output(IDXGIAdapter *adapter, const OutputState &state)
        : adapter_(ComPtr<IDXGIAdapter>::share(adapter)), state_(state) {}

    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void **parent) override;
    HRESULT STDMETHODCALLTYPE GetDesc(DXGI_OUTPUT_DESC *desc) override;
    HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_OUTPUT_DESC1 *desc) override;
    // IDXGIOutput6 is asked for as the operation "IDXGIOutput6", so that a system without it can be had.
    HRESULT query(REFIID iid, void **out) noexcept override;

private:
    bool implements(REFIID iid) const noexcept override;

    ComPtr<IDXGIAdapter> adapter_;
    const OutputState state_;
};

// The system's first adapter, which a device created without one runs on; null when there is none.
ComPtr<IDXGIAdapter> first_adapter();

}  // namespace corvo::emu
