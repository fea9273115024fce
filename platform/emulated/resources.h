// Textures, buffers, views and compute shaders of the emulated Direct3D 11 device. Each holds a reference to
// its device, as device children do on Windows. Only subresource 0 has memory.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/emulated/object.h"
#include "platform/emulated/shader_executor.h"

namespace corvo::emu {

// An emulated object that belongs to a device; `implements` covers ID3D11DeviceChild.
template <class I>
class Child : public Object<I> {
public:
    void STDMETHODCALLTYPE GetDevice(ID3D11Device **device) override {
        if (!device) return;
        device_->AddRef();
        *device = device_.get();
    }
    // The device it belongs to, without a reference.
    ID3D11Device *owner() const noexcept { return device_.get(); }

protected:
    explicit Child(ID3D11Device *device) : device_(ComPtr<ID3D11Device>::share(device)) {}

private:
    ComPtr<ID3D11Device> device_;
};

// What a texture or buffer keeps of its one subresource, and who may touch it from the CPU. The gauge
// "resource_bytes" holds the bytes of all that exist, so that what a session keeps on the GPU can be measured,
// and "resource_bytes_peak" the most it held at once since the last reset.
struct Memory {
    Memory(uint32_t row_pitch, uint32_t rows, D3D11_USAGE usage, UINT cpu_access);
    ~Memory();
    Memory(const Memory &) = delete;
    Memory &operator=(const Memory &) = delete;

    std::vector<uint8_t> bytes;  // row_pitch * rows, zero-filled when created
    const uint32_t row_pitch;
    const D3D11_USAGE usage;
    const UINT cpu_access;
    bool mapped = false;
};

// Bytes per element of an implemented format, or 0 for every other format.
uint32_t format_size(DXGI_FORMAT format);

// What a device does with a format, as CheckFormatSupport (D3D11_FORMAT_SUPPORT) and CheckFeatureSupport
// (D3D11_FORMAT_SUPPORT2) report it: only what this device implements. Both 0 for a format it does not.
struct FormatSupport {
    UINT support = 0;
    UINT support2 = 0;
};
FormatSupport format_support(DXGI_FORMAT format, bool bgra_uav_store);

class Texture final : public Child<ID3D11Texture2D> {
public:
    Texture(ID3D11Device *device, const D3D11_TEXTURE2D_DESC &desc);

    void STDMETHODCALLTYPE GetType(D3D11_RESOURCE_DIMENSION *dimension) override;
    void STDMETHODCALLTYPE GetDesc(D3D11_TEXTURE2D_DESC *desc) override;

    const D3D11_TEXTURE2D_DESC desc;
    Memory memory;

private:
    bool implements(REFIID iid) const noexcept override;
};

class Buffer final : public Child<ID3D11Buffer> {
public:
    Buffer(ID3D11Device *device, const D3D11_BUFFER_DESC &desc);

    void STDMETHODCALLTYPE GetType(D3D11_RESOURCE_DIMENSION *dimension) override;
    void STDMETHODCALLTYPE GetDesc(D3D11_BUFFER_DESC *desc) override;

    const D3D11_BUFFER_DESC desc;
    Memory memory;

private:
    bool implements(REFIID iid) const noexcept override;
};

// Our own object behind a resource interface (every resource on this platform is ours).
Texture *texture_of(ID3D11Resource *resource);  // null for a buffer
Buffer *buffer_of(ID3D11Resource *resource);    // null for a texture
Memory &memory_of(ID3D11Resource *resource);
ID3D11Device *owner_of(ID3D11Resource *resource);

class ShaderResourceView final : public Child<ID3D11ShaderResourceView> {
public:
    ShaderResourceView(ID3D11Device *device, ID3D11Resource *resource, const D3D11_SHADER_RESOURCE_VIEW_DESC &desc);

    void STDMETHODCALLTYPE GetResource(ID3D11Resource **resource) override;
    void STDMETHODCALLTYPE GetDesc(D3D11_SHADER_RESOURCE_VIEW_DESC *desc) override;

    const ComPtr<ID3D11Resource> resource;
    const D3D11_SHADER_RESOURCE_VIEW_DESC desc;

private:
    bool implements(REFIID iid) const noexcept override;
};

class UnorderedAccessView final : public Child<ID3D11UnorderedAccessView> {
public:
    UnorderedAccessView(ID3D11Device *device, ID3D11Resource *resource,
                        const D3D11_UNORDERED_ACCESS_VIEW_DESC &desc);

    void STDMETHODCALLTYPE GetResource(ID3D11Resource **resource) override;
    void STDMETHODCALLTYPE GetDesc(D3D11_UNORDERED_ACCESS_VIEW_DESC *desc) override;

    const ComPtr<ID3D11Resource> resource;
    const D3D11_UNORDERED_ACCESS_VIEW_DESC desc;

private:
    bool implements(REFIID iid) const noexcept override;
};

class ComputeShader final : public Child<ID3D11ComputeShader> {
public:
    ComputeShader(ID3D11Device *device, std::shared_ptr<const shader::Program> program)
        : Child(device), program(std::move(program)) {}

    const std::shared_ptr<const shader::Program> program;

private:
    bool implements(REFIID iid) const noexcept override;
};

// Validation as the runtime does it, then the new object. `out` null only validates (S_FALSE), as on Windows.
HRESULT make_texture(ID3D11Device *device, const D3D11_TEXTURE2D_DESC *desc, const D3D11_SUBRESOURCE_DATA *initial,
                     ID3D11Texture2D **out);
HRESULT make_buffer(ID3D11Device *device, const D3D11_BUFFER_DESC *desc, const D3D11_SUBRESOURCE_DATA *initial,
                    ID3D11Buffer **out);
HRESULT make_srv(ID3D11Device *device, ID3D11Resource *resource, const D3D11_SHADER_RESOURCE_VIEW_DESC *desc,
                 ID3D11ShaderResourceView **out);
HRESULT make_uav(ID3D11Device *device, ID3D11Resource *resource, const D3D11_UNORDERED_ACCESS_VIEW_DESC *desc,
                 ID3D11UnorderedAccessView **out);

}  // namespace corvo::emu
