#include "platform/emulated/device.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "corvo_emu.h"
#include "platform/emulated/c_boundary.h"
#include "platform/emulated/context.h"
#include "platform/emulated/dxgi.h"
#include "platform/emulated/graphics_access.h"
#include "platform/emulated/resources.h"
#include "platform/emulated/system.h"

namespace corvo::emu {
namespace {

// Every living device, so that corvo_emu_remove_devices reaches them all.
struct Registry {
    std::mutex mutex;
    std::vector<Device *> devices;
};

// Never destroyed: devices may be released by static destructors of the host.
Registry &registry() {
    static Registry *r = new Registry;
    return *r;
}

bool supported(D3D_FEATURE_LEVEL level) {
    return level == D3D_FEATURE_LEVEL_10_0 || level == D3D_FEATURE_LEVEL_10_1 || level == D3D_FEATURE_LEVEL_11_0;
}

Device &device_of(ID3D11Device *device) { return *static_cast<Device *>(device); }

}  // namespace

Device::Device(IDXGIAdapter *adapter, D3D_FEATURE_LEVEL level, UINT flags)
    : adapter_(ComPtr<IDXGIAdapter>::share(adapter)),
      level_(level),
      flags_(flags),
      bgra_uav_store_(bgra_uav_store()),
      context_(std::make_unique<Context>(*this)) {
    std::lock_guard lock(registry().mutex);
    registry().devices.push_back(this);
}

Device::~Device() {
    std::lock_guard lock(registry().mutex);
    std::erase(registry().devices, this);
}

HRESULT Device::admit(const char *operation) const {
    if (const HRESULT hr = call(operation); FAILED(hr)) return hr;
    return removed() ? DXGI_ERROR_DEVICE_REMOVED : S_OK;
}

HRESULT Device::CreateBuffer(const D3D11_BUFFER_DESC *desc, const D3D11_SUBRESOURCE_DATA *initial,
                             ID3D11Buffer **buffer) {
    if (buffer) *buffer = nullptr;
    if (const HRESULT hr = admit("CreateBuffer"); FAILED(hr)) return hr;
    return make_buffer(this, desc, initial, buffer);
}

HRESULT Device::CreateTexture2D(const D3D11_TEXTURE2D_DESC *desc, const D3D11_SUBRESOURCE_DATA *initial,
                                ID3D11Texture2D **texture) {
    if (texture) *texture = nullptr;
    if (const HRESULT hr = admit("CreateTexture2D"); FAILED(hr)) return hr;
    return make_texture(this, desc, initial, texture);
}

HRESULT Device::CreateShaderResourceView(ID3D11Resource *resource, const D3D11_SHADER_RESOURCE_VIEW_DESC *desc,
                                         ID3D11ShaderResourceView **view) {
    if (view) *view = nullptr;
    if (const HRESULT hr = admit("CreateShaderResourceView"); FAILED(hr)) return hr;
    return make_srv(this, resource, desc, view);
}

HRESULT Device::CreateUnorderedAccessView(ID3D11Resource *resource, const D3D11_UNORDERED_ACCESS_VIEW_DESC *desc,
                                          ID3D11UnorderedAccessView **view) {
    if (view) *view = nullptr;
    if (const HRESULT hr = admit("CreateUnorderedAccessView"); FAILED(hr)) return hr;
    return make_uav(this, resource, desc, view);
}

HRESULT Device::CreateComputeShader(const void *bytecode, SIZE_T length, ID3D11ClassLinkage *,
                                    ID3D11ComputeShader **shader) {
    if (shader) *shader = nullptr;
    if (const HRESULT hr = admit("CreateComputeShader"); FAILED(hr)) return hr;
    if (!bytecode || length == 0) return E_INVALIDARG;
    // Shader model 5 compute shaders, the only kind there is here, need feature level 11_0.
    if (level_ < D3D_FEATURE_LEVEL_11_0) return E_INVALIDARG;
    try {
        std::shared_ptr<const shader::Program> program;
        if (FAILED(shader::create_program(bytecode, length, &program)) || !program) return E_INVALIDARG;
        if (!shader) return S_FALSE;
        *shader = new ComputeShader(this, std::move(program));
        return S_OK;
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Device::CheckFormatSupport(DXGI_FORMAT format, UINT *support) {
    if (const HRESULT hr = call("CheckFormatSupport"); FAILED(hr)) return hr;
    if (!support) return E_INVALIDARG;
    *support = format_support(format).support;
    return *support ? S_OK : E_FAIL;
}

HRESULT Device::CheckFeatureSupport(D3D11_FEATURE feature, void *data, UINT size) {
    if (const HRESULT hr = call("CheckFeatureSupport"); FAILED(hr)) return hr;
    if (feature == D3D11_FEATURE_FORMAT_SUPPORT && data && size == sizeof(D3D11_FEATURE_DATA_FORMAT_SUPPORT)) {
        auto &answer = *static_cast<D3D11_FEATURE_DATA_FORMAT_SUPPORT *>(data);
        answer.OutFormatSupport = format_support(answer.InFormat).support;
        return answer.OutFormatSupport ? S_OK : E_FAIL;
    }
    if (feature == D3D11_FEATURE_FORMAT_SUPPORT2 && data && size == sizeof(D3D11_FEATURE_DATA_FORMAT_SUPPORT2)) {
        auto &answer = *static_cast<D3D11_FEATURE_DATA_FORMAT_SUPPORT2 *>(data);
        const FormatSupport found = format_support(answer.InFormat);
        answer.OutFormatSupport2 = found.support2;
        return found.support ? S_OK : E_FAIL;
    }
    return E_INVALIDARG;  // other features are not implemented
}

void Device::GetImmediateContext(ID3D11DeviceContext **context) {
    if (!context) return;
    add_ref();
    *context = context_.get();
}

HRESULT Device::query(REFIID iid, void **out) noexcept {
    if (out && (iid == __uuidof(IDXGIObject) || iid == __uuidof(IDXGIDevice))) {
        add_ref();
        *out = &dxgi_face_;
        return S_OK;
    }
    return Object::query(iid, out);
}

void Device::remove(HRESULT reason) noexcept {
    HRESULT working = S_OK;
    removed_.compare_exchange_strong(working, reason);
}

HRESULT Device::DxgiFace::GetParent(REFIID riid, void **parent) {
    if (!parent) return E_INVALIDARG;
    return owner->adapter_->QueryInterface(riid, parent);
}

HRESULT Device::DxgiFace::GetAdapter(IDXGIAdapter **adapter) {
    if (!adapter) return E_INVALIDARG;
    owner->adapter_->AddRef();
    *adapter = owner->adapter_.get();
    return S_OK;
}

HRESULT create_texture(ID3D11Device *device, const D3D11_TEXTURE2D_DESC &desc, ID3D11Texture2D **texture) {
    if (!device || !texture) return E_INVALIDARG;
    *texture = nullptr;
    if (device_of(device).removed()) return DXGI_ERROR_DEVICE_REMOVED;
    return make_texture(device, &desc, nullptr, texture);
}

uint8_t *texels(ID3D11Texture2D *texture, uint32_t *row_pitch) {
    if (!texture) return nullptr;
    Memory &memory = static_cast<Texture *>(texture)->memory;
    if (row_pitch) *row_pitch = memory.row_pitch;
    return memory.bytes.data();
}

HRESULT removed_reason(ID3D11Device *device) { return device ? device->GetDeviceRemovedReason() : E_INVALIDARG; }

}  // namespace corvo::emu

using namespace corvo::emu;

extern "C" {

HRESULT WINAPI D3D11CreateDevice(IDXGIAdapter *adapter, D3D_DRIVER_TYPE driver_type, HMODULE software, UINT flags,
                                 const D3D_FEATURE_LEVEL *feature_levels, UINT feature_level_count, UINT sdk_version,
                                 ID3D11Device **device, D3D_FEATURE_LEVEL *feature_level,
                                 ID3D11DeviceContext **context) {
    if (device) *device = nullptr;
    if (context) *context = nullptr;
    if (const HRESULT hr = call("D3D11CreateDevice"); FAILED(hr)) return hr;
    // An explicit adapter goes with the unknown driver type, no adapter with a named one; only hardware exists.
    if (adapter ? driver_type != D3D_DRIVER_TYPE_UNKNOWN : driver_type != D3D_DRIVER_TYPE_HARDWARE)
        return E_INVALIDARG;
    if (software || sdk_version != D3D11_SDK_VERSION || (!feature_levels && feature_level_count))
        return E_INVALIDARG;
    D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;  // the highest, when the caller names none
    if (feature_levels) {
        const D3D_FEATURE_LEVEL *end = feature_levels + feature_level_count;
        const D3D_FEATURE_LEVEL *found = std::find_if(feature_levels, end, supported);
        if (found == end) return DXGI_ERROR_UNSUPPORTED;
        level = *found;
    }
    const corvo::ComPtr<IDXGIAdapter> chosen =
        adapter ? corvo::ComPtr<IDXGIAdapter>::share(adapter) : first_adapter();
    if (!chosen) return DXGI_ERROR_UNSUPPORTED;
    if (feature_level) *feature_level = level;
    if (!device && !context) return S_FALSE;
    Device *created;
    try {
        created = new Device(chosen.get(), level, flags);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    if (context) created->GetImmediateContext(context);
    if (device)
        *device = created;
    else
        created->Release();
    return S_OK;
}

void corvo_emu_remove_devices(int32_t reason) CORVO_EMU_NOEXCEPT {
    if (SUCCEEDED(reason)) return;
    or_nothing([&] {
        std::lock_guard lock(registry().mutex);
        for (Device *device : registry().devices) device->remove(reason);
    });
}

}  // extern "C"
