// The immediate context of an emulated device. Single-threaded, as on Windows. It lives as long as its
// device: references to it are references to the device. Bound objects stay referenced until unbound or
// ClearState.
#pragma once

#include "platform/com_ptr.h"
#include "platform/emulated/object.h"
#include "platform/emulated/resources.h"

namespace corvo::emu {

class Device;

class Context final : public Object<ID3D11DeviceContext> {
public:
    explicit Context(Device &device) : device_(device) {}

    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT query(REFIID iid, void **out) noexcept override;

    void STDMETHODCALLTYPE GetDevice(ID3D11Device **device) override;
    void STDMETHODCALLTYPE CSSetShader(ID3D11ComputeShader *shader, ID3D11ClassInstance *const *instances,
                                       UINT instance_count) override;
    void STDMETHODCALLTYPE CSSetConstantBuffers(UINT start_slot, UINT count, ID3D11Buffer *const *buffers) override;
    void STDMETHODCALLTYPE CSGetConstantBuffers(UINT start_slot, UINT count, ID3D11Buffer **buffers) override;
    void STDMETHODCALLTYPE CSSetShaderResources(UINT start_slot, UINT count,
                                                ID3D11ShaderResourceView *const *views) override;
    void STDMETHODCALLTYPE CSSetUnorderedAccessViews(
        UINT start_slot, UINT count, ID3D11UnorderedAccessView *const *views, const UINT *initial_counts) override;
    void STDMETHODCALLTYPE Dispatch(UINT x, UINT y, UINT z) override;
    void STDMETHODCALLTYPE CopyResource(ID3D11Resource *destination, ID3D11Resource *source) override;
    void STDMETHODCALLTYPE CopySubresourceRegion(ID3D11Resource *destination, UINT destination_subresource, UINT x,
                                                 UINT y, UINT z, ID3D11Resource *source, UINT source_subresource,
                                                 const D3D11_BOX *box) override;
    HRESULT STDMETHODCALLTYPE Map(ID3D11Resource *resource, UINT subresource, D3D11_MAP type, UINT flags,
                                  D3D11_MAPPED_SUBRESOURCE *mapped) override;
    void STDMETHODCALLTYPE Unmap(ID3D11Resource *resource, UINT subresource) override;
    void STDMETHODCALLTYPE ClearState() override;
    void STDMETHODCALLTYPE Flush() override {}

private:
    bool implements(REFIID iid) const noexcept override;
    bool foreign(ID3D11Resource *resource) const;
    // Refuses a dispatch that would use a mapped resource, and unbinds what the runtime would have unbound.
    bool admit_dispatch();

    Device &device_;
    ComPtr<ComputeShader> shader_;
    ComPtr<Buffer> constant_buffers_[shader::Bindings::kConstantBufferSlots];
    ComPtr<ShaderResourceView> resources_[shader::Bindings::kResourceSlots];
    ComPtr<UnorderedAccessView> uavs_[shader::Bindings::kUavSlots];
};

}  // namespace corvo::emu
