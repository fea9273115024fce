#include "platform/windows/activation.h"

#include <roapi.h>
#include <string>

#include "platform/windows/error_text.h"

namespace corvo::platform {

HRESULT ActivationFactory::get(::IUnknown **out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    ::IUnknown *factory = factory_.load(std::memory_order_acquire);
    if (!factory) {
        // The name is static and NUL-terminated, so a reference string (no copy) is enough.
        HSTRING_HEADER header;
        HSTRING name = nullptr;
        HRESULT hr =
            WindowsCreateStringReference(class_name_, UINT32(std::char_traits<wchar_t>::length(class_name_)),
                                         &header, &name);
        if (FAILED(hr)) return hr;
        hr = RoGetActivationFactory(name, iid_, reinterpret_cast<void **>(&factory));
        if (FAILED(hr)) return hr;
        ::IUnknown *expected = nullptr;
        // Two threads may look it up at once; the first to store it wins and the other gives its reference back.
        if (!factory_.compare_exchange_strong(expected, factory, std::memory_order_acq_rel)) {
            factory->Release();
            factory = expected;
        }
    }
    factory->AddRef();
    *out = factory;
    return S_OK;
}

HString::HString(std::u16string_view text) {
    check(WindowsCreateString(reinterpret_cast<const wchar_t *>(text.data()), UINT32(text.size()), &string_));
}

}  // namespace corvo::platform
