#include "platform/emulated/context.h"

#include <algorithm>

#include "platform/emulated/device.h"
#include "platform/emulated/system.h"

namespace corvo::emu {
namespace {

// Binds `count` objects from `start`; the runtime drops a call that reaches past the last slot.
template <class T, class I, size_t N>
void bind(ComPtr<T> (&slots)[N], UINT start, UINT count, I *const *objects) {
    if (!objects || start > N || count > N - start) return;
    for (UINT i = 0; i < count; ++i) slots[start + i] = ComPtr<T>::share(static_cast<T *>(objects[i]));
}

// What the executor needs of a bound view (D3D11_SHADER_RESOURCE_VIEW_DESC or D3D11_UNORDERED_ACCESS_VIEW_DESC).
template <class Desc>
shader::View describe(ID3D11Resource *resource, const Desc &desc) {
    shader::View view;
    view.format = desc.Format;
    if (Texture *texture = texture_of(resource)) {
        view.data = texture->memory.bytes.data();
        view.width = texture->desc.Width;
        view.height = texture->desc.Height;
        view.row_pitch = texture->memory.row_pitch;
        return view;
    }
    Buffer &buffer = *buffer_of(resource);
    view.data = buffer.memory.bytes.data();
    view.is_buffer = true;
    view.first_element = desc.Buffer.FirstElement;
    view.num_elements = desc.Buffer.NumElements;
    view.stride = desc.Format == DXGI_FORMAT_UNKNOWN ? buffer.desc.StructureByteStride : format_size(desc.Format);
    return view;
}

bool same_layout(const D3D11_TEXTURE2D_DESC &a, const D3D11_TEXTURE2D_DESC &b) {
    return a.Width == b.Width && a.Height == b.Height && a.Format == b.Format && a.MipLevels == b.MipLevels &&
           a.ArraySize == b.ArraySize && a.SampleDesc.Count == b.SampleDesc.Count &&
           a.SampleDesc.Quality == b.SampleDesc.Quality;
}

// Whether two resources are of one type and size, so that the runtime performs a copy between them.
bool copyable(ID3D11Resource *destination, ID3D11Resource *source) {
    const Texture *to = texture_of(destination);
    const Texture *from = texture_of(source);
    if (to || from) return to && from && same_layout(to->desc, from->desc);
    return buffer_of(destination)->desc.ByteWidth == buffer_of(source)->desc.ByteWidth;
}

bool map_allowed(const Memory &memory, D3D11_MAP type) {
    const bool read = memory.cpu_access & D3D11_CPU_ACCESS_READ;
    const bool write = memory.cpu_access & D3D11_CPU_ACCESS_WRITE;
    switch (type) {
    case D3D11_MAP_READ:
        return read;
    case D3D11_MAP_WRITE:
        return write && memory.usage == D3D11_USAGE_STAGING;
    case D3D11_MAP_READ_WRITE:
        return read && write && memory.usage == D3D11_USAGE_STAGING;
    case D3D11_MAP_WRITE_DISCARD:
    case D3D11_MAP_WRITE_NO_OVERWRITE:
        return memory.usage == D3D11_USAGE_DYNAMIC;
    }
    return false;
}

}  // namespace

ULONG Context::AddRef() { return device_.AddRef(); }

ULONG Context::Release() { return device_.Release(); }

HRESULT Context::query(REFIID iid, void **out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != __uuidof(IUnknown) && !implements(iid)) return E_NOINTERFACE;
    device_.AddRef();
    *out = static_cast<ID3D11DeviceContext *>(this);
    return S_OK;
}

bool Context::implements(REFIID iid) const noexcept {
    return iid == __uuidof(ID3D11DeviceChild) || iid == __uuidof(ID3D11DeviceContext);
}

void Context::GetDevice(ID3D11Device **device) {
    if (!device) return;
    device_.AddRef();
    *device = &device_;
}

void Context::CSSetShader(ID3D11ComputeShader *shader, ID3D11ClassInstance *const *, UINT) {
    shader_ = ComPtr<ComputeShader>::share(static_cast<ComputeShader *>(shader));
}

void Context::CSSetConstantBuffers(UINT start_slot, UINT count, ID3D11Buffer *const *buffers) {
    bind(constant_buffers_, start_slot, count, buffers);
    // A buffer created without the constant-buffer flag binds as nothing.
    for (auto &slot : constant_buffers_)
        if (slot && !(slot->desc.BindFlags & D3D11_BIND_CONSTANT_BUFFER)) slot.reset();
}

void Context::CSSetShaderResources(UINT start_slot, UINT count, ID3D11ShaderResourceView *const *views) {
    bind(resources_, start_slot, count, views);
}

void Context::CSSetUnorderedAccessViews(UINT start_slot, UINT count, ID3D11UnorderedAccessView *const *views,
                                        const UINT *) {
    bind(uavs_, start_slot, count, views);
}

void Context::Dispatch(UINT x, UINT y, UINT z) {
    // An injected fault, like a removed device, loses the work.
    if (FAILED(call("Dispatch")) || device_.removed() || !shader_) return;
    shader::Bindings bindings;
    for (int i = 0; i < shader::Bindings::kConstantBufferSlots; ++i)
        if (const Buffer *buffer = constant_buffers_[i].get())
            bindings.constant_buffers[i] = {buffer->memory.bytes.data(), buffer->desc.ByteWidth};
    for (int i = 0; i < shader::Bindings::kResourceSlots; ++i)
        if (const ShaderResourceView *view = resources_[i].get())
            bindings.resources[i] = describe(view->resource.get(), view->desc);
    for (int i = 0; i < shader::Bindings::kUavSlots; ++i)
        if (const UnorderedAccessView *view = uavs_[i].get())
            bindings.uavs[i] = describe(view->resource.get(), view->desc);
    device_.engine().dispatch(*shader_->program, bindings, x, y, z);
}

void Context::CopyResource(ID3D11Resource *destination, ID3D11Resource *source) {
    if (FAILED(call("CopyResource")) || device_.removed()) return;
    if (!destination || !source || destination == source || !copyable(destination, source)) return;
    Memory &to = memory_of(destination);
    const Memory &from = memory_of(source);
    if (to.usage == D3D11_USAGE_IMMUTABLE || to.mapped || from.mapped) return;
    std::copy(from.bytes.begin(), from.bytes.end(), to.bytes.begin());
}

HRESULT Context::Map(ID3D11Resource *resource, UINT subresource, D3D11_MAP type, UINT flags,
                     D3D11_MAPPED_SUBRESOURCE *mapped) {
    if (mapped) *mapped = {};
    if (const HRESULT hr = call("Map"); FAILED(hr)) return hr;
    if (device_.removed()) return DXGI_ERROR_DEVICE_REMOVED;
    if (!resource || !mapped || subresource != 0 || flags != 0) return E_INVALIDARG;
    Memory &memory = memory_of(resource);
    if (memory.mapped || !map_allowed(memory, type)) return E_INVALIDARG;
    memory.mapped = true;
    mapped->pData = memory.bytes.data();
    mapped->RowPitch = memory.row_pitch;
    mapped->DepthPitch = static_cast<UINT>(memory.bytes.size());
    if (type == D3D11_MAP_READ || type == D3D11_MAP_READ_WRITE) add_count("bytes_mapped", mapped->DepthPitch);
    return S_OK;
}

void Context::Unmap(ID3D11Resource *resource, UINT subresource) {
    (void)call("Unmap");
    if (resource && subresource == 0) memory_of(resource).mapped = false;
}

void Context::ClearState() {
    shader_.reset();
    for (auto &slot : constant_buffers_) slot.reset();
    for (auto &slot : resources_) slot.reset();
    for (auto &slot : uavs_) slot.reset();
}

}  // namespace corvo::emu
