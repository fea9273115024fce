#include "platform/emulated/resources.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "platform/emulated/device.h"
#include "platform/emulated/system.h"

namespace corvo::emu {
namespace {

constexpr UINT kMaxTextureSize = 16384;
constexpr UINT kMaxConstantBufferSize = 65536;
constexpr UINT kMaxStructureStride = 2048;
constexpr UINT kPitchAlignment = 256;  // drivers pad texture rows; code that ignores the pitch must fail here too

uint32_t mip_chain_length(UINT width, UINT height) {
    uint32_t levels = 1;
    for (UINT size = std::max(width, height); size > 1; size /= 2) ++levels;
    return levels;
}

// The rules the runtime applies to every resource: who may read and write it, and how it may be bound.
bool usage_allowed(D3D11_USAGE usage, UINT bind_flags, UINT cpu_access) {
    if (cpu_access & ~UINT(D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE)) return false;
    switch (usage) {
    case D3D11_USAGE_DEFAULT:
        return cpu_access == 0;
    case D3D11_USAGE_IMMUTABLE:
        return cpu_access == 0 && !(bind_flags & D3D11_BIND_UNORDERED_ACCESS);
    case D3D11_USAGE_DYNAMIC:
        return cpu_access == D3D11_CPU_ACCESS_WRITE &&
               !(bind_flags & (D3D11_BIND_UNORDERED_ACCESS | D3D11_BIND_RENDER_TARGET | D3D11_BIND_STREAM_OUTPUT));
    case D3D11_USAGE_STAGING:
        return bind_flags == 0 && cpu_access != 0;
    }
    return false;
}

HRESULT check(const D3D11_TEXTURE2D_DESC &d) {
    if (d.Width == 0 || d.Height == 0 || d.Width > kMaxTextureSize || d.Height > kMaxTextureSize)
        return E_INVALIDARG;
    if (d.Format == DXGI_FORMAT_UNKNOWN || format_size(d.Format) == 0) return E_INVALIDARG;
    // Arrays and multisampling are not implemented.
    if (d.ArraySize != 1 || d.SampleDesc.Count != 1 || d.SampleDesc.Quality != 0) return E_INVALIDARG;
    if (d.MipLevels > mip_chain_length(d.Width, d.Height)) return E_INVALIDARG;
    const UINT binds = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET | D3D11_BIND_UNORDERED_ACCESS;
    if (d.BindFlags & ~binds) return E_INVALIDARG;
    if (d.MiscFlags & ~UINT(D3D11_RESOURCE_MISC_GENERATE_MIPS)) return E_INVALIDARG;
    const UINT mip_binds = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
    if ((d.MiscFlags & D3D11_RESOURCE_MISC_GENERATE_MIPS) && (d.BindFlags & mip_binds) != mip_binds)
        return E_INVALIDARG;
    return usage_allowed(d.Usage, d.BindFlags, d.CPUAccessFlags) ? S_OK : E_INVALIDARG;
}

HRESULT check(const D3D11_BUFFER_DESC &d) {
    if (d.ByteWidth == 0) return E_INVALIDARG;
    if (d.BindFlags & D3D11_BIND_DEPTH_STENCIL) return E_INVALIDARG;
    const UINT misc = D3D11_RESOURCE_MISC_BUFFER_ALLOW_RAW_VIEWS | D3D11_RESOURCE_MISC_BUFFER_STRUCTURED;
    if ((d.MiscFlags & ~misc) || d.MiscFlags == misc) return E_INVALIDARG;
    if (d.BindFlags & D3D11_BIND_CONSTANT_BUFFER) {
        if (d.BindFlags != D3D11_BIND_CONSTANT_BUFFER || d.MiscFlags != 0) return E_INVALIDARG;
        if (d.ByteWidth % 16 != 0 || d.ByteWidth > kMaxConstantBufferSize) return E_INVALIDARG;
    }
    if (d.MiscFlags & D3D11_RESOURCE_MISC_BUFFER_STRUCTURED) {
        const UINT stride = d.StructureByteStride;
        if (stride == 0 || stride % 4 != 0 || stride > kMaxStructureStride || d.ByteWidth % stride != 0)
            return E_INVALIDARG;
    }
    return usage_allowed(d.Usage, d.BindFlags, d.CPUAccessFlags) ? S_OK : E_INVALIDARG;
}

bool is_structured(const Buffer &buffer) { return buffer.desc.MiscFlags & D3D11_RESOURCE_MISC_BUFFER_STRUCTURED; }

// A buffer view's elements: structured views use the buffer's stride and no format, typed views their format.
bool buffer_range_valid(const Buffer &buffer, DXGI_FORMAT format, UINT first, UINT count) {
    const uint32_t stride = is_structured(buffer) ? buffer.desc.StructureByteStride : format_size(format);
    if (is_structured(buffer) != (format == DXGI_FORMAT_UNKNOWN) || stride == 0 || count == 0) return false;
    return (uint64_t(first) + count) * stride <= buffer.desc.ByteWidth;
}

// A texture view of mip 0 in the texture's own format: the only one with memory behind it.
bool texture_view_valid(const Texture &texture, DXGI_FORMAT format, UINT mip) {
    return format == texture.desc.Format && mip == 0;
}

// A new object, or null when memory runs out (its memory is allocated in the constructor).
template <class T, class... Args>
T *allocate(Args &&...args) noexcept {
    try {
        return new T(std::forward<Args>(args)...);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

// The runtime's first checks of a view: a resource of this device, created to be bound that way.
HRESULT admit_view(const char *operation, ID3D11Device *device, ID3D11Resource *resource, UINT bind_flag) {
    if (!resource) return E_INVALIDARG;
    if (owner_of(resource) != device) {
        refuse(operation, "the resource belongs to another device");
        return E_INVALIDARG;
    }
    const Texture *texture = texture_of(resource);
    if (!((texture ? texture->desc.BindFlags : buffer_of(resource)->desc.BindFlags) & bind_flag)) {
        refuse(operation, bind_flag == D3D11_BIND_SHADER_RESOURCE
                              ? "the resource lacks D3D11_BIND_SHADER_RESOURCE"
                              : "the resource lacks D3D11_BIND_UNORDERED_ACCESS");
        return E_INVALIDARG;
    }
    return S_OK;
}

template <class T, class I>
HRESULT hand_out(T *object, I **out) {
    if (!object) return E_OUTOFMEMORY;
    *out = object;
    return S_OK;
}

uint32_t padded_row_pitch(const D3D11_TEXTURE2D_DESC &d) {
    const uint32_t row = d.Width * format_size(d.Format);
    return (row + kPitchAlignment - 1) / kPitchAlignment * kPitchAlignment;
}

}  // namespace

uint32_t format_size(DXGI_FORMAT format) {
    switch (format) {
    case DXGI_FORMAT_R32G32B32A32_FLOAT:
        return 16;
    case DXGI_FORMAT_R16G16B16A16_FLOAT:
        return 8;
    case DXGI_FORMAT_R8G8B8A8_UNORM:
    case DXGI_FORMAT_B8G8R8A8_UNORM:
    case DXGI_FORMAT_R32_UINT:
        return 4;
    case DXGI_FORMAT_R8_UINT:
        return 1;
    case DXGI_FORMAT_UNKNOWN:
        break;
    }
    return 0;
}

FormatSupport format_support(DXGI_FORMAT format, bool bgra_uav_store) {
    if (!format_size(format)) return {};
    FormatSupport s{D3D11_FORMAT_SUPPORT_TEXTURE2D | D3D11_FORMAT_SUPPORT_RENDER_TARGET |
                    D3D11_FORMAT_SUPPORT_CPU_LOCKABLE};
    if (format == DXGI_FORMAT_R32G32B32A32_FLOAT) return s;  // memory only: the executor does not convert it
    s.support |= D3D11_FORMAT_SUPPORT_SHADER_LOAD;
    if (format == DXGI_FORMAT_B8G8R8A8_UNORM && !bgra_uav_store) return s;
    s.support |= D3D11_FORMAT_SUPPORT_TYPED_UNORDERED_ACCESS_VIEW;
    s.support2 = D3D11_FORMAT_SUPPORT2_UAV_TYPED_STORE;
    // The one format every device loads from a typed UAV that the executor implements.
    if (format == DXGI_FORMAT_R32_UINT) s.support2 |= D3D11_FORMAT_SUPPORT2_UAV_TYPED_LOAD;
    return s;
}

Memory::Memory(uint32_t pitch, uint32_t rows, D3D11_USAGE use, UINT access)
    : bytes(size_t(pitch) * rows, 0), row_pitch(pitch), usage(use), cpu_access(access) {
    add_resource_bytes(int64_t(bytes.size()));
}

Memory::~Memory() { add_resource_bytes(-int64_t(bytes.size())); }

Texture::Texture(ID3D11Device *device, const D3D11_TEXTURE2D_DESC &d)
    : Child(device), desc(d), memory(padded_row_pitch(d), d.Height, d.Usage, d.CPUAccessFlags) {}

void Texture::GetType(D3D11_RESOURCE_DIMENSION *dimension) {
    if (dimension) *dimension = D3D11_RESOURCE_DIMENSION_TEXTURE2D;
}

void Texture::GetDesc(D3D11_TEXTURE2D_DESC *out) {
    if (out) *out = desc;
}

bool Texture::implements(REFIID iid) const noexcept {
    return iid == __uuidof(ID3D11DeviceChild) || iid == __uuidof(ID3D11Resource) || iid == __uuidof(ID3D11Texture2D);
}

Buffer::Buffer(ID3D11Device *device, const D3D11_BUFFER_DESC &d)
    : Child(device), desc(d), memory(d.ByteWidth, 1, d.Usage, d.CPUAccessFlags) {}

void Buffer::GetType(D3D11_RESOURCE_DIMENSION *dimension) {
    if (dimension) *dimension = D3D11_RESOURCE_DIMENSION_BUFFER;
}

void Buffer::GetDesc(D3D11_BUFFER_DESC *out) {
    if (out) *out = desc;
}

bool Buffer::implements(REFIID iid) const noexcept {
    return iid == __uuidof(ID3D11DeviceChild) || iid == __uuidof(ID3D11Resource) || iid == __uuidof(ID3D11Buffer);
}

Texture *texture_of(ID3D11Resource *resource) {
    D3D11_RESOURCE_DIMENSION dimension = D3D11_RESOURCE_DIMENSION_UNKNOWN;
    resource->GetType(&dimension);
    if (dimension != D3D11_RESOURCE_DIMENSION_TEXTURE2D) return nullptr;
    return static_cast<Texture *>(static_cast<ID3D11Texture2D *>(resource));
}

Buffer *buffer_of(ID3D11Resource *resource) {
    D3D11_RESOURCE_DIMENSION dimension = D3D11_RESOURCE_DIMENSION_UNKNOWN;
    resource->GetType(&dimension);
    if (dimension != D3D11_RESOURCE_DIMENSION_BUFFER) return nullptr;
    return static_cast<Buffer *>(static_cast<ID3D11Buffer *>(resource));
}

Memory &memory_of(ID3D11Resource *resource) {
    if (Texture *texture = texture_of(resource)) return texture->memory;
    return buffer_of(resource)->memory;
}

ID3D11Device *owner_of(ID3D11Resource *resource) {
    if (Texture *texture = texture_of(resource)) return texture->owner();
    return buffer_of(resource)->owner();
}

ShaderResourceView::ShaderResourceView(ID3D11Device *device, ID3D11Resource *r,
                                       const D3D11_SHADER_RESOURCE_VIEW_DESC &d)
    : Child(device), resource(ComPtr<ID3D11Resource>::share(r)), desc(d) {}

void ShaderResourceView::GetResource(ID3D11Resource **out) {
    if (!out) return;
    resource->AddRef();
    *out = resource.get();
}

void ShaderResourceView::GetDesc(D3D11_SHADER_RESOURCE_VIEW_DESC *out) {
    if (out) *out = desc;
}

bool ShaderResourceView::implements(REFIID iid) const noexcept {
    return iid == __uuidof(ID3D11DeviceChild) || iid == __uuidof(ID3D11View) ||
           iid == __uuidof(ID3D11ShaderResourceView);
}

UnorderedAccessView::UnorderedAccessView(ID3D11Device *device, ID3D11Resource *r,
                                         const D3D11_UNORDERED_ACCESS_VIEW_DESC &d)
    : Child(device), resource(ComPtr<ID3D11Resource>::share(r)), desc(d) {}

void UnorderedAccessView::GetResource(ID3D11Resource **out) {
    if (!out) return;
    resource->AddRef();
    *out = resource.get();
}

void UnorderedAccessView::GetDesc(D3D11_UNORDERED_ACCESS_VIEW_DESC *out) {
    if (out) *out = desc;
}

bool UnorderedAccessView::implements(REFIID iid) const noexcept {
    return iid == __uuidof(ID3D11DeviceChild) || iid == __uuidof(ID3D11View) ||
           iid == __uuidof(ID3D11UnorderedAccessView);
}

bool ComputeShader::implements(REFIID iid) const noexcept {
    return iid == __uuidof(ID3D11DeviceChild) || iid == __uuidof(ID3D11ComputeShader);
}

HRESULT make_texture(ID3D11Device *device, const D3D11_TEXTURE2D_DESC *desc, const D3D11_SUBRESOURCE_DATA *initial,
                     ID3D11Texture2D **out) {
    if (!desc) return E_INVALIDARG;
    D3D11_TEXTURE2D_DESC d = *desc;
    if (const HRESULT hr = check(d); FAILED(hr)) return hr;
    if ((d.BindFlags & D3D11_BIND_UNORDERED_ACCESS) &&
        !(static_cast<Device *>(device)->format_support(d.Format).support &
          D3D11_FORMAT_SUPPORT_TYPED_UNORDERED_ACCESS_VIEW)) {
        refuse("CreateTexture2D", "the device cannot bind the format for unordered access");
        return E_INVALIDARG;
    }
    if (initial && !initial->pSysMem) return E_INVALIDARG;
    if (d.Usage == D3D11_USAGE_IMMUTABLE && !initial) return E_INVALIDARG;
    if (!out) return S_FALSE;
    if (d.MipLevels == 0) d.MipLevels = mip_chain_length(d.Width, d.Height);
    Texture *texture = allocate<Texture>(device, d);
    if (texture && initial) {
        const auto *source = static_cast<const uint8_t *>(initial->pSysMem);
        const size_t row = size_t(d.Width) * format_size(d.Format);
        for (UINT y = 0; y < d.Height; ++y)
            std::memcpy(texture->memory.bytes.data() + size_t(y) * texture->memory.row_pitch,
                        source + size_t(y) * initial->SysMemPitch, row);
    }
    return hand_out(texture, out);
}

HRESULT make_buffer(ID3D11Device *device, const D3D11_BUFFER_DESC *desc, const D3D11_SUBRESOURCE_DATA *initial,
                    ID3D11Buffer **out) {
    if (!desc) return E_INVALIDARG;
    if (const HRESULT hr = check(*desc); FAILED(hr)) return hr;
    if (initial && !initial->pSysMem) return E_INVALIDARG;
    if (desc->Usage == D3D11_USAGE_IMMUTABLE && !initial) return E_INVALIDARG;
    if (!out) return S_FALSE;
    Buffer *buffer = allocate<Buffer>(device, *desc);
    if (buffer && initial) std::memcpy(buffer->memory.bytes.data(), initial->pSysMem, desc->ByteWidth);
    return hand_out(buffer, out);
}

HRESULT make_srv(ID3D11Device *device, ID3D11Resource *resource, const D3D11_SHADER_RESOURCE_VIEW_DESC *desc,
                 ID3D11ShaderResourceView **out) {
    if (const HRESULT hr = admit_view("CreateShaderResourceView", device, resource, D3D11_BIND_SHADER_RESOURCE);
        FAILED(hr))
        return hr;
    D3D11_SHADER_RESOURCE_VIEW_DESC d{};
    if (Texture *texture = texture_of(resource)) {
        if (desc) {
            d = *desc;
        } else {
            d.Format = texture->desc.Format;
            d.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
            d.Texture2D = {0, texture->desc.MipLevels};
        }
        const UINT mips = d.Texture2D.MipLevels;
        if (d.ViewDimension != D3D11_SRV_DIMENSION_TEXTURE2D ||
            !texture_view_valid(*texture, d.Format, d.Texture2D.MostDetailedMip) ||
            (mips != UINT(-1) && (mips == 0 || mips > texture->desc.MipLevels)))
            return E_INVALIDARG;
    } else {
        Buffer &buffer = *buffer_of(resource);
        if (desc) {
            d = *desc;
        } else {
            // Only a structured buffer says enough about itself to be viewed without a description.
            if (!is_structured(buffer)) return E_INVALIDARG;
            d.Format = DXGI_FORMAT_UNKNOWN;
            d.ViewDimension = D3D11_SRV_DIMENSION_BUFFER;
            d.Buffer.FirstElement = 0;
            d.Buffer.NumElements = buffer.desc.ByteWidth / buffer.desc.StructureByteStride;
        }
        if (d.ViewDimension != D3D11_SRV_DIMENSION_BUFFER ||
            !buffer_range_valid(buffer, d.Format, d.Buffer.FirstElement, d.Buffer.NumElements))
            return E_INVALIDARG;
    }
    if (!out) return S_FALSE;
    return hand_out(allocate<ShaderResourceView>(device, resource, d), out);
}

HRESULT make_uav(ID3D11Device *device, ID3D11Resource *resource, const D3D11_UNORDERED_ACCESS_VIEW_DESC *desc,
                 ID3D11UnorderedAccessView **out) {
    if (const HRESULT hr = admit_view("CreateUnorderedAccessView", device, resource, D3D11_BIND_UNORDERED_ACCESS);
        FAILED(hr))
        return hr;
    D3D11_UNORDERED_ACCESS_VIEW_DESC d{};
    if (Texture *texture = texture_of(resource)) {
        if (desc) {
            d = *desc;
        } else {
            d.Format = texture->desc.Format;
            d.ViewDimension = D3D11_UAV_DIMENSION_TEXTURE2D;
            d.Texture2D.MipSlice = 0;
        }
        if (d.ViewDimension != D3D11_UAV_DIMENSION_TEXTURE2D ||
            !texture_view_valid(*texture, d.Format, d.Texture2D.MipSlice))
            return E_INVALIDARG;
    } else {
        Buffer &buffer = *buffer_of(resource);
        if (desc) {
            d = *desc;
        } else {
            if (!is_structured(buffer)) return E_INVALIDARG;
            d.Format = DXGI_FORMAT_UNKNOWN;
            d.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
            d.Buffer = {0, buffer.desc.ByteWidth / buffer.desc.StructureByteStride, 0};
        }
        // Raw, append and counter views are not implemented.
        if (d.ViewDimension != D3D11_UAV_DIMENSION_BUFFER || d.Buffer.Flags != 0 ||
            !buffer_range_valid(buffer, d.Format, d.Buffer.FirstElement, d.Buffer.NumElements))
            return E_INVALIDARG;
    }
    if (!out) return S_FALSE;
    return hand_out(allocate<UnorderedAccessView>(device, resource, d), out);
}

}  // namespace corvo::emu
