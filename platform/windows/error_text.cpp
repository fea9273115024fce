#include "platform/windows/error_text.h"

#include "platform/windows/abi_interfaces.h"

namespace corvo::platform {
namespace {

using corvo_wgc_abi::IRestrictedErrorInfo;
using corvo_wgc_abi::kIID_IRestrictedErrorInfo;

// Frees the BSTRs an error object hands out.
struct Bstr {
    BSTR text = nullptr;
    Bstr() = default;
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    ~Bstr() { SysFreeString(text); }
    bool empty() const { return !text || !*text; }
};

std::string utf8(const wchar_t *text, int length) {
    if (length <= 0) return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
    return out;
}

// Taking the thread's error object also clears it, so a stale one never describes a later failure.
std::string restricted_text(HRESULT code) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
    ComPtr<IRestrictedErrorInfo> restricted;
    if (FAILED(info->QueryInterface(kIID_IRestrictedErrorInfo, reinterpret_cast<void **>(restricted.put()))))
        return {};
    Bstr description, restricted_description, capability_sid;
    HRESULT reported = S_OK;
    if (FAILED(restricted->GetErrorDetails(&description.text, &reported, &restricted_description.text,
                                           &capability_sid.text)) ||
        reported != code)
        return {};
    const Bstr &best = restricted_description.empty() ? description : restricted_description;
    return best.empty() ? std::string() : utf8(best.text, int(SysStringLen(best.text)));
}

std::string system_text(HRESULT code) {
    wchar_t *text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, DWORD(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                       reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    if (!text) return {};
    DWORD end = length;
    while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n' || text[end - 1] == L' ')) --end;
    std::string out = utf8(text, int(end));
    LocalFree(text);
    return out;
}

}  // namespace

std::string error_text(HRESULT code) {
    std::string text = restricted_text(code);
    return text.empty() ? system_text(code) : text;
}

void throw_error(HRESULT code) { throw PlatformError(code, error_text(code)); }

}  // namespace corvo::platform
