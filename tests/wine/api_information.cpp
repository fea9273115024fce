// ApiInformation as a system with the capture interfaces answers it: the universal contract up to the major
// version the tests choose (12 by default), and the session's cursor, border and minimum update interval
// properties where the contract that brought them is present.
#include <string_view>

#include "capture_service.h"

namespace wine_wgc {
namespace {

constexpr std::wstring_view kUniversalContract = L"Windows.Foundation.UniversalApiContract";
constexpr std::wstring_view kSession = L"Windows.Graphics.Capture.GraphicsCaptureSession";

// The contract version that brought a capture type's member, or 0 for one this service does not know.
int contract_of(std::wstring_view type, std::wstring_view member) {
    if (type != kSession) return 0;
    if (member == L"IsCursorCaptureEnabled") return 10;
    if (member == L"IsBorderRequired") return 12;
    if (member == L"MinUpdateInterval") return 19;
    return 0;
}

HRESULT answer(boolean *value, bool present) {
    if (!value) return E_POINTER;
    *value = present ? 1 : 0;
    return S_OK;
}

bool offered(int contract) { return contract > 0 && contract <= observed().contract_major.load(); }

}  // namespace

class ApiInformation final : public Factory<IApiInformationStatics> {
public:
    HRESULT STDMETHODCALLTYPE IsTypePresent(HSTRING type, boolean *value) override {
        return answer(value, std::wstring_view(text_of(type)).starts_with(L"Windows.Graphics.Capture."));
    }
    HRESULT STDMETHODCALLTYPE IsMethodPresent(HSTRING, HSTRING, boolean *value) override {
        return answer(value, false);
    }
    HRESULT STDMETHODCALLTYPE IsMethodPresentWithArity(HSTRING, HSTRING, UINT32, boolean *value) override {
        return answer(value, false);
    }
    HRESULT STDMETHODCALLTYPE IsEventPresent(HSTRING, HSTRING, boolean *value) override {
        return answer(value, false);
    }
    HRESULT STDMETHODCALLTYPE IsPropertyPresent(HSTRING type, HSTRING property, boolean *value) override {
        return answer(value, offered(contract_of(text_of(type), text_of(property))));
    }
    HRESULT STDMETHODCALLTYPE IsReadOnlyPropertyPresent(HSTRING, HSTRING, boolean *value) override {
        return answer(value, false);
    }
    HRESULT STDMETHODCALLTYPE IsWriteablePropertyPresent(HSTRING type, HSTRING property, boolean *value) override {
        return IsPropertyPresent(type, property, value);
    }
    HRESULT STDMETHODCALLTYPE IsEnumNamedValuePresent(HSTRING, HSTRING, boolean *value) override {
        return answer(value, false);
    }
    HRESULT STDMETHODCALLTYPE IsApiContractPresentByMajor(HSTRING contract, UINT16 major, boolean *value) override {
        return answer(value, text_of(contract) == kUniversalContract && offered(major));
    }
    HRESULT STDMETHODCALLTYPE IsApiContractPresentByMajorAndMinor(HSTRING contract, UINT16 major, UINT16,
                                                                  boolean *value) override {
        return IsApiContractPresentByMajor(contract, major, value);
    }

private:
    const wchar_t *class_name() const override { return L"Windows.Foundation.Metadata.ApiInformation"; }
};

IActivationFactory *api_information_factory() {
    static ApiInformation statics;
    return &statics;
}

}  // namespace wine_wgc
