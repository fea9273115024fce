// Windows.Foundation.Metadata.ApiInformation: which contract version and properties the system offers.
#include <string>

#include "platform/capture.h"
#include "platform/emulated/com.h"
#include "platform/emulated/object.h"
#include "platform/emulated/system.h"
#include "platform/emulated/throw.h"

CORVO_EMU_IID(IApiInformationStatics, 0x997439fe, 0xf681, 0x4a11, 0xb4, 0x16, 0xc1, 0x3a, 0x47, 0xe8, 0xba, 0x36)
struct IApiInformationStatics : IUnknown {
protected:
    ~IApiInformationStatics() = default;
};

namespace corvo::platform {
namespace {

// The activation factory lives as long as the process, as factories do on Windows.
class Statics final : public IApiInformationStatics {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IApiInformationStatics)) {
            *out = static_cast<IApiInformationStatics *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

std::string narrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace

HRESULT ApiInformation::get(ApiInformation *out) noexcept {
    if (!out) return E_POINTER;
    if (const HRESULT hr = emu::call("RoGetActivationFactory"); FAILED(hr)) return hr;
    if (!emu::com_usable_on_this_thread()) return CO_E_NOTINITIALIZED;
    static Statics statics;
    *out = ApiInformation(ComPtr<IUnknown>::share(&statics));
    return S_OK;
}

bool ApiInformation::IsApiContractPresent(std::u16string_view contract, uint16_t major) const {
    emu::throw_if_failed(emu::call("IsApiContractPresent"), "IsApiContractPresent");
    return contract == u"Windows.Foundation.UniversalApiContract" && emu::contract_version() >= major;
}

bool ApiInformation::IsPropertyPresent(std::u16string_view type_name, std::u16string_view property) const {
    emu::throw_if_failed(emu::call("IsPropertyPresent"), "IsPropertyPresent");
    return emu::property_present(narrow(type_name), narrow(property));
}

}  // namespace corvo::platform
