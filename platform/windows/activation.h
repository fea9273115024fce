// Activation factories of runtime classes, and the HSTRINGs the ABI takes.
#pragma once

#include <atomic>
#include <string_view>

#include <winstring.h>

#include "platform/windows/abi_interfaces.h"

namespace corvo::platform {

// The activation factory of one runtime class, looked up on first success and kept for the process: releasing
// it at exit could run after COM has gone. A failed lookup is tried again at the next call.
class ActivationFactory {
public:
    constexpr ActivationFactory(const wchar_t *class_name, const GUID &iid) noexcept
        : class_name_(class_name), iid_(iid) {}
    ActivationFactory(const ActivationFactory &) = delete;
    ActivationFactory &operator=(const ActivationFactory &) = delete;

    // A counted reference to the factory's `iid` interface.
    HRESULT get(::IUnknown **out) noexcept;

private:
    const wchar_t *class_name_;  // NUL-terminated, static
    const GUID &iid_;
    std::atomic<::IUnknown *> factory_{nullptr};
};

// An HSTRING holding its own copy of the text.
class HString {
public:
    explicit HString(std::u16string_view text);
    HString(const HString &) = delete;
    HString &operator=(const HString &) = delete;
    ~HString() { WindowsDeleteString(string_); }
    HSTRING get() const noexcept { return string_; }

private:
    HSTRING string_ = nullptr;
};

}  // namespace corvo::platform
