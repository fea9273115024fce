// The statics of Windows.Foundation.Metadata.ApiInformation.
#include "platform/capture.h"
#include "platform/windows/abi_interfaces.h"
#include "platform/windows/activation.h"
#include "platform/windows/error_text.h"

namespace corvo::platform {
namespace abi = corvo_wgc_abi;

namespace {

ActivationFactory api_information_factory(abi::kApiInformationClass, abi::kIID_IApiInformationStatics);

abi::IApiInformationStatics *statics_of(const Projected &projected) {
    if (!projected) throw PlatformError(E_POINTER, error_text(E_POINTER));
    return static_cast<abi::IApiInformationStatics *>(projected.get());
}

}  // namespace

HRESULT ApiInformation::get(ApiInformation *out) noexcept {
    if (!out) return E_POINTER;
    ::IUnknown *statics = nullptr;
    const HRESULT hr = api_information_factory.get(&statics);
    if (FAILED(hr)) return hr;
    *out = ApiInformation(ComPtr<IUnknown>::attach(statics));
    return S_OK;
}

bool ApiInformation::IsApiContractPresent(std::u16string_view contract, uint16_t major) const {
    const HString name(contract);
    boolean present = 0;
    check(statics_of(*this)->IsApiContractPresentByMajor(name.get(), major, &present));
    return present != 0;
}

bool ApiInformation::IsPropertyPresent(std::u16string_view type_name, std::u16string_view property) const {
    const HString type(type_name);
    const HString name(property);
    boolean present = 0;
    check(statics_of(*this)->IsPropertyPresent(type.get(), name.get(), &present));
    return present != 0;
}

}  // namespace corvo::platform
