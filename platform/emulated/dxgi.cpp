#include "platform/emulated/dxgi.h"

#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "corvo_emu.h"
#include "platform/emulated/c_boundary.h"
#include "platform/emulated/displays.h"
#include "platform/emulated/system.h"

namespace corvo::emu {
namespace {

constexpr uint32_t kDefaultVendor = 0x10DE;
constexpr char16_t kDescription[] = u"Emulated software adapter";

struct AdapterList {
    std::mutex mutex;
    std::vector<uint32_t> vendor_ids{kDefaultVendor};
};

// Never destroyed: adapters may be enumerated from static destructors of the host.
AdapterList &adapters() {
    static AdapterList *list = new AdapterList;
    return *list;
}

std::optional<uint32_t> vendor_at(UINT index) {
    AdapterList &list = adapters();
    std::lock_guard lock(list.mutex);
    if (index >= list.vendor_ids.size()) return std::nullopt;
    return list.vendor_ids[index];
}

void reset_adapters() {
    AdapterList &list = adapters();
    std::lock_guard lock(list.mutex);
    list.vendor_ids.assign(1, kDefaultVendor);
}

[[maybe_unused]] const bool registered = (on_reset(reset_adapters), true);

// A factory of the display configuration now, or null when memory runs out.
ComPtr<IDXGIFactory1> make_factory() noexcept {
    try {
        const uint64_t generation = display_generation();  // before the look, so that a change during it shows
        std::vector<OutputState> outputs;
        for (const Monitor &m : monitors()) {
            const Display display = m.target->display();
            outputs.push_back(
                {static_cast<HMONITOR>(m.handle), m.rect, m.target->number, display.hdr, display.adapter});
        }
        return ComPtr<IDXGIFactory1>::attach(new Factory(std::move(outputs), generation));
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

HRESULT Factory::GetParent(REFIID, void **parent) {
    if (!parent) return E_INVALIDARG;
    *parent = nullptr;
    return E_NOINTERFACE;  // a factory has no parent
}

HRESULT Factory::EnumAdapters1(UINT index, IDXGIAdapter1 **adapter) {
    if (const HRESULT hr = call("EnumAdapters1"); FAILED(hr)) return hr;
    if (!adapter) return E_INVALIDARG;
    *adapter = nullptr;
    const std::optional<uint32_t> vendor = vendor_at(index);
    if (!vendor) return DXGI_ERROR_NOT_FOUND;
    *adapter = new (std::nothrow) Adapter(this, index, *vendor);
    return *adapter ? S_OK : E_OUTOFMEMORY;
}

BOOL Factory::IsCurrent() {
    if (FAILED(call("IsCurrent"))) return 0;
    return generation_ == display_generation();
}

bool Factory::implements(REFIID iid) const noexcept {
    return iid == __uuidof(IDXGIObject) || iid == __uuidof(IDXGIFactory) || iid == __uuidof(IDXGIFactory1);
}

Adapter::Adapter(IDXGIFactory1 *factory, UINT index, uint32_t vendor_id)
    : factory_(ComPtr<IDXGIFactory1>::share(factory)), index_(index), vendor_id_(vendor_id) {}

HRESULT Adapter::GetParent(REFIID riid, void **parent) {
    if (!parent) return E_INVALIDARG;
    return factory_->QueryInterface(riid, parent);
}

HRESULT Adapter::EnumOutputs(UINT index, IDXGIOutput **output) {
    if (const HRESULT hr = call("EnumOutputs"); FAILED(hr)) return hr;
    if (!output) return E_INVALIDARG;
    *output = nullptr;
    // The outputs of this adapter, in the order of the monitors.
    for (const OutputState &state : static_cast<Factory *>(factory_.get())->outputs) {
        if (state.adapter != index_) continue;
        if (index-- != 0) continue;
        *output = new (std::nothrow) Output(this, state);
        return *output ? S_OK : E_OUTOFMEMORY;
    }
    return DXGI_ERROR_NOT_FOUND;
}

HRESULT Adapter::GetDesc1(DXGI_ADAPTER_DESC1 *desc) {
    if (const HRESULT hr = call("GetDesc1"); FAILED(hr)) return hr;
    if (!desc) return E_INVALIDARG;
    *desc = {};
    static_assert(
        sizeof kDescription / sizeof *kDescription + 10 <= sizeof desc->Description / sizeof *desc->Description);
    size_t length = 0;
    for (; kDescription[length]; ++length) desc->Description[length] = kDescription[length];
    // Told apart by their index, as the adapters of one machine have their own names.
    desc->Description[length] = u' ';
    for (const char digit : std::to_string(index_)) desc->Description[++length] = char16_t(digit);
    desc->VendorId = vendor_id_;
    desc->SharedSystemMemory = SIZE_T(1) << 30;
    desc->AdapterLuid = {index_ + 1, 0};  // unique per adapter, never zero
    return S_OK;
}

bool Adapter::implements(REFIID iid) const noexcept {
    return iid == __uuidof(IDXGIObject) || iid == __uuidof(IDXGIAdapter) || iid == __uuidof(IDXGIAdapter1);
}

HRESULT Output::GetParent(REFIID riid, void **parent) {
    if (!parent) return E_INVALIDARG;
    return adapter_->QueryInterface(riid, parent);
}

namespace {

// The fields DXGI_OUTPUT_DESC and DXGI_OUTPUT_DESC1 share, under the same names.
template <class Desc>
void describe(const OutputState &state, Desc *desc) {
    *desc = {};
    device_name(state.number, desc->DeviceName);
    desc->DesktopCoordinates = state.rect;
    desc->AttachedToDesktop = 1;
    desc->Rotation = DXGI_MODE_ROTATION_IDENTITY;
    desc->Monitor = state.monitor;
}

}  // namespace

HRESULT Output::GetDesc(DXGI_OUTPUT_DESC *desc) {
    if (const HRESULT hr = call("GetDesc"); FAILED(hr)) return hr;
    if (!desc) return E_INVALIDARG;
    describe(state_, desc);
    return S_OK;
}

// The monitors report no primaries or luminances (0), as Wine's outputs do.
HRESULT Output::GetDesc1(DXGI_OUTPUT_DESC1 *desc) {
    if (const HRESULT hr = call("IDXGIOutput6::GetDesc1"); FAILED(hr)) return hr;
    if (!desc) return E_INVALIDARG;
    describe(state_, desc);
    desc->BitsPerColor = state_.hdr ? 10 : 8;
    desc->ColorSpace =
        state_.hdr ? DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020 : DXGI_COLOR_SPACE_RGB_FULL_G22_NONE_P709;
    return S_OK;
}

HRESULT Output::query(REFIID iid, void **out) noexcept {
    if (iid == __uuidof(IDXGIOutput6)) {
        if (const HRESULT hr = call("IDXGIOutput6"); FAILED(hr)) {
            if (out) *out = nullptr;
            return hr;
        }
    }
    return Object::query(iid, out);
}

bool Output::implements(REFIID iid) const noexcept {
    return iid == __uuidof(IDXGIObject) || iid == __uuidof(IDXGIOutput) || iid == __uuidof(IDXGIOutput6);
}

ComPtr<IDXGIAdapter> first_adapter() {
    const std::optional<uint32_t> vendor = vendor_at(0);
    if (!vendor) return nullptr;
    const ComPtr<IDXGIFactory1> factory = make_factory();
    if (!factory) return nullptr;
    return ComPtr<IDXGIAdapter>::attach(new (std::nothrow) Adapter(factory.get(), 0, *vendor));
}

}  // namespace corvo::emu

using namespace corvo::emu;

extern "C" {

HRESULT WINAPI CreateDXGIFactory1(REFIID riid, void **factory) {
    if (!factory) return E_INVALIDARG;
    *factory = nullptr;
    if (const HRESULT hr = call("CreateDXGIFactory1"); FAILED(hr)) return hr;
    const corvo::ComPtr<IDXGIFactory1> created = make_factory();
    if (!created) return E_OUTOFMEMORY;
    return created->QueryInterface(riid, factory);
}

void corvo_emu_set_adapters(const uint32_t *vendor_ids, size_t count) CORVO_EMU_NOEXCEPT {
    if (!vendor_ids && count) return;
    or_nothing([&] {  // without the memory for the new list, the list stays as it was
        std::vector<uint32_t> vendors(vendor_ids, vendor_ids + count);
        AdapterList &list = adapters();
        std::lock_guard lock(list.mutex);
        list.vendor_ids.swap(vendors);
    });
}

}  // extern "C"
