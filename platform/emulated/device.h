// The emulated Direct3D 11 device. It is free-threaded: its create methods touch no shared state but the
// removal reason, which is atomic. The immediate context shares its reference count.
#pragma once

#include <atomic>
#include <memory>

#include "platform/com_ptr.h"
#include "platform/emulated/object.h"
#include "platform/emulated/resources.h"
#include "platform/emulated/shader_engine.h"

namespace corvo::emu {

class Context;

class Device final : public Object<ID3D11Device> {
public:
    Device(IDXGIAdapter *adapter, D3D_FEATURE_LEVEL level, UINT flags);
    ~Device() override;

    HRESULT STDMETHODCALLTYPE CreateBuffer(const D3D11_BUFFER_DESC *desc, const D3D11_SUBRESOURCE_DATA *initial,
                                           ID3D11Buffer **buffer) override;
    HRESULT STDMETHODCALLTYPE CreateTexture2D(
        const D3D11_TEXTURE2D_DESC *desc, const D3D11_SUBRESOURCE_DATA *initial, ID3D11Texture2D **texture) override;
    HRESULT STDMETHODCALLTYPE CreateShaderResourceView(ID3D11Resource *resource,
                                                       const D3D11_SHADER_RESOURCE_VIEW_DESC *desc,
                                                       ID3D11ShaderResourceView **view) override;
    HRESULT STDMETHODCALLTYPE CreateUnorderedAccessView(ID3D11Resource *resource,
                                                        const D3D11_UNORDERED_ACCESS_VIEW_DESC *desc,
                                                        ID3D11UnorderedAccessView **view) override;
    HRESULT STDMETHODCALLTYPE CreateComputeShader(const void *bytecode, SIZE_T length, ID3D11ClassLinkage *linkage,
                                                  ID3D11ComputeShader **shader) override;
    void STDMETHODCALLTYPE GetImmediateContext(ID3D11DeviceContext **context) override;
    HRESULT STDMETHODCALLTYPE GetDeviceRemovedReason() override { return removed_.load(); }
    D3D_FEATURE_LEVEL STDMETHODCALLTYPE GetFeatureLevel() override { return level_; }
    UINT STDMETHODCALLTYPE GetCreationFlags() override { return flags_; }
    HRESULT STDMETHODCALLTYPE CheckFormatSupport(DXGI_FORMAT format, UINT *support) override;
    HRESULT STDMETHODCALLTYPE CheckFeatureSupport(D3D11_FEATURE feature, void *data, UINT size) override;

    // The device answers for IDXGIDevice too, through a second face sharing its count.
    HRESULT query(REFIID iid, void **out) noexcept override;

    bool removed() const noexcept { return FAILED(removed_.load()); }
    FormatSupport format_support(DXGI_FORMAT format) const { return emu::format_support(format, bgra_uav_store_); }
    shader::Engine &engine() noexcept { return engine_; }
    // The first reason sticks: a removed device stays removed.
    void remove(HRESULT reason) noexcept;

private:
    struct DxgiFace final : IDXGIDevice {
        explicit DxgiFace(Device *owner) : owner(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override { return owner->query(iid, out); }
        ULONG STDMETHODCALLTYPE AddRef() override { return owner->add_ref(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner->release(); }
        HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void **parent) override;
        HRESULT STDMETHODCALLTYPE GetAdapter(IDXGIAdapter **adapter) override;
        Device *owner;
    };

    bool implements(REFIID iid) const noexcept override { return iid == __uuidof(ID3D11Device); }
    // Counts the call and answers an injected fault, or DXGI_ERROR_DEVICE_REMOVED once removed.
    HRESULT admit(const char *operation) const;

    const ComPtr<IDXGIAdapter> adapter_;
    const D3D_FEATURE_LEVEL level_;
    const UINT flags_;           // as the creator passed them
    const bool bgra_uav_store_;  // what the system offered when the device was created
    std::atomic<HRESULT> removed_{S_OK};
    DxgiFace dxgi_face_{this};
    shader::Engine engine_;  // its worker threads start with the first dispatch
    std::unique_ptr<Context> context_;
};

}  // namespace corvo::emu
