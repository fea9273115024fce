#include "platform/emulated/context.h"

#include <algorithm>

#include "platform/emulated/device.h"
#include "platform/emulated/system.h"

namespace corvo::emu {
namespace {

constexpr const char *kForeign = "an object of another device";

// Binds `count` objects from `start`, or refuses a call that reaches past the last slot or passes an object of
// another device, which the runtime drops.
template <class T, class I, size_t N>
void bind(const char *operation, ID3D11Device *device, ComPtr<T> (&slots)[N], UINT start, UINT count,
          I *const *objects) {
    if (!objects) return;
    if (start > N || count > N - start) return refuse(operation, "slots past the last");
    for (UINT i = 0; i < count; ++i)
        if (objects[i] && static_cast<T *>(objects[i])->owner() != device) return refuse(operation, kForeign);
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
    auto *ours = static_cast<ComputeShader *>(shader);
    if (ours && ours->owner() != &device_) return refuse("CSSetShader", kForeign);
    shader_ = ComPtr<ComputeShader>::share(ours);
}

void Context::CSSetConstantBuffers(UINT start_slot, UINT count, ID3D11Buffer *const *buffers) {
    bind("CSSetConstantBuffers", &device_, constant_buffers_, start_slot, count, buffers);
    // A buffer created without the constant-buffer flag binds as nothing.
    for (auto &slot : constant_buffers_)
        if (slot && !(slot->desc.BindFlags & D3D11_BIND_CONSTANT_BUFFER)) {
            refuse("CSSetConstantBuffers", "a buffer without D3D11_BIND_CONSTANT_BUFFER");
            slot.reset();
        }
}

void Context::CSGetConstantBuffers(UINT start_slot, UINT count, ID3D11Buffer **buffers) {
    if (!buffers) return;
    constexpr UINT kSlots = shader::Bindings::kConstantBufferSlots;
    if (start_slot > kSlots || count > kSlots - start_slot)
        return refuse("CSGetConstantBuffers", "slots past the last");
    for (UINT i = 0; i < count; ++i) {
        buffers[i] = constant_buffers_[start_slot + i].get();
        if (buffers[i]) buffers[i]->AddRef();
    }
}

void Context::CSSetShaderResources(UINT start_slot, UINT count, ID3D11ShaderResourceView *const *views) {
    bind("CSSetShaderResources", &device_, resources_, start_slot, count, views);
}

void Context::CSSetUnorderedAccessViews(UINT start_slot, UINT count, ID3D11UnorderedAccessView *const *views,
                                        const UINT *) {
    bind("CSSetUnorderedAccessViews", &device_, uavs_, start_slot, count, views);
}

bool Context::admit_dispatch() {
    const auto mapped = [](const auto &view) { return view && memory_of(view->resource.get()).mapped; };
    if (std::any_of(std::begin(constant_buffers_), std::end(constant_buffers_),
                    [](const ComPtr<Buffer> &buffer) { return buffer && buffer->memory.mapped; }) ||
        std::any_of(std::begin(resources_), std::end(resources_), mapped) ||
        std::any_of(std::begin(uavs_), std::end(uavs_), mapped)) {
        refuse("Dispatch", "a bound resource is mapped");
        return false;
    }
    // The runtime never lets a shader read what it writes: a resource's unordered access view unbinds its
    // shader resource views, whichever was bound first. So the dispatch runs without them.
    for (ComPtr<ShaderResourceView> &view : resources_) {
        const auto written = [&view](const ComPtr<UnorderedAccessView> &uav) {
            return uav && uav->resource.get() == view->resource.get();
        };
        if (view && std::any_of(std::begin(uavs_), std::end(uavs_), written)) {
            refuse("Dispatch", "a resource bound both as shader resource and for unordered access");
            view.reset();
        }
    }
    return true;
}

void Context::Dispatch(UINT x, UINT y, UINT z) {
    // An injected fault, like a removed device, loses the work.
    if (FAILED(call("Dispatch")) || device_.removed() || !shader_ || !admit_dispatch()) return;
    add_count("thread_groups", uint64_t{x} * y * z);
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

bool Context::foreign(ID3D11Resource *resource) const { return owner_of(resource) != &device_; }

void Context::CopyResource(ID3D11Resource *destination, ID3D11Resource *source) {
    constexpr const char *kCall = "CopyResource";
    if (FAILED(call(kCall)) || device_.removed()) return;
    if (!destination || !source) return refuse(kCall, "a null resource");
    if (foreign(destination) || foreign(source)) return refuse(kCall, kForeign);
    if (destination == source) return refuse(kCall, "the source is the destination");
    if (!copyable(destination, source)) return refuse(kCall, "the resources differ in type, size or format");
    Memory &to = memory_of(destination);
    const Memory &from = memory_of(source);
    if (to.usage == D3D11_USAGE_IMMUTABLE) return refuse(kCall, "the destination is immutable");
    if (to.mapped || from.mapped) return refuse(kCall, "a mapped resource");
    std::copy(from.bytes.begin(), from.bytes.end(), to.bytes.begin());
    const Texture *texture = texture_of(source);
    add_count("bytes_copied",
              texture ? int64_t{texture->desc.Width} * texture->desc.Height * format_size(texture->desc.Format)
                      : int64_t{buffer_of(source)->desc.ByteWidth});
}

void Context::CopySubresourceRegion(ID3D11Resource *destination, UINT destination_subresource, UINT x, UINT y,
                                    UINT z, ID3D11Resource *source, UINT source_subresource, const D3D11_BOX *box) {
    constexpr const char *kCall = "CopySubresourceRegion";
    if (FAILED(call(kCall)) || device_.removed()) return;
    if (!destination || !source) return refuse(kCall, "a null resource");
    if (foreign(destination) || foreign(source)) return refuse(kCall, kForeign);
    Texture *to = texture_of(destination);
    const Texture *from = texture_of(source);
    // Regions of buffers are not implemented: refused too, so that such a copy cannot be lost silently.
    if (!to || !from) return refuse(kCall, "a buffer (only texture regions are implemented)");
    if (to == from) return refuse(kCall, "the source is the destination");
    if (destination_subresource != 0 || source_subresource != 0) return refuse(kCall, "a subresource other than 0");
    if (to->desc.Format != from->desc.Format) return refuse(kCall, "the textures differ in format");
    const D3D11_BOX whole{0, 0, 0, from->desc.Width, from->desc.Height, 1};
    const D3D11_BOX &region = box ? *box : whole;
    // An empty box is a copy of nothing, not a mistake.
    if (region.left >= region.right || region.top >= region.bottom || region.front >= region.back) return;
    if (region.right > from->desc.Width || region.bottom > from->desc.Height || region.back > 1)
        return refuse(kCall, "the box reaches outside the source");
    const uint32_t width = region.right - region.left, height = region.bottom - region.top;
    if (z != 0 || x > to->desc.Width || width > to->desc.Width - x || y > to->desc.Height ||
        height > to->desc.Height - y)
        return refuse(kCall, "the region reaches outside the destination");
    if (to->memory.usage == D3D11_USAGE_IMMUTABLE) return refuse(kCall, "the destination is immutable");
    if (to->memory.mapped || from->memory.mapped) return refuse(kCall, "a mapped resource");
    const size_t pixel = format_size(from->desc.Format), row_bytes = width * pixel;
    for (uint32_t row = 0; row < height; ++row)
        std::copy_n(from->memory.bytes.data() + (region.top + row) * size_t{from->memory.row_pitch} +
                        region.left * pixel,
                    row_bytes, to->memory.bytes.data() + (y + row) * size_t{to->memory.row_pitch} + x * pixel);
    add_count("bytes_copied", int64_t(row_bytes) * height);
}

HRESULT Context::Map(ID3D11Resource *resource, UINT subresource, D3D11_MAP type, UINT flags,
                     D3D11_MAPPED_SUBRESOURCE *mapped) {
    const auto refused = [](const char *reason) {
        refuse("Map", reason);
        return E_INVALIDARG;
    };
    if (mapped) *mapped = {};
    if (const HRESULT hr = call("Map"); FAILED(hr)) return hr;
    if (device_.removed()) return DXGI_ERROR_DEVICE_REMOVED;
    if (!resource || !mapped) return refused("a null resource or mapped-subresource pointer");
    if (foreign(resource)) return refused(kForeign);
    if (subresource != 0) return refused("a subresource other than 0");
    if (flags != 0) return refused("map flags (none are implemented)");
    Memory &memory = memory_of(resource);
    if (memory.mapped) return refused("the resource is already mapped");
    if (!map_allowed(memory, type))
        return refused("the resource's usage or CPU access does not allow this map type");
    memory.mapped = true;
    mapped->pData = memory.bytes.data();
    mapped->RowPitch = memory.row_pitch;
    mapped->DepthPitch = static_cast<UINT>(memory.bytes.size());
    if (type == D3D11_MAP_READ || type == D3D11_MAP_READ_WRITE) add_count("bytes_mapped", mapped->DepthPitch);
    return S_OK;
}

void Context::Unmap(ID3D11Resource *resource, UINT subresource) {
    (void)call("Unmap");
    if (!resource) return refuse("Unmap", "a null resource");
    if (foreign(resource)) return refuse("Unmap", kForeign);
    Memory &memory = memory_of(resource);
    if (subresource != 0 || !memory.mapped) return refuse("Unmap", "the subresource is not mapped");
    memory.mapped = false;
}

void Context::ClearState() {
    shader_.reset();
    for (auto &slot : constant_buffers_) slot.reset();
    for (auto &slot : resources_) slot.reset();
    for (auto &slot : uavs_) slot.reset();
}

}  // namespace corvo::emu
