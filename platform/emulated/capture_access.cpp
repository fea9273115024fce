// GraphicsCaptureAccess: the user's consent to capture without the border. The answer is the system's
// setting; a request asked while the user has not answered completes when the control API gives an answer.
#include <mutex>
#include <optional>
#include <vector>

#include "corvo_emu.h"
#include "platform/emulated/c_boundary.h"
#include "platform/emulated/capture_service.h"
#include "platform/emulated/system.h"
#include "platform/emulated/throw.h"

CORVO_EMU_INTERFACE(IEmuAccessRequest, 0x5f3e1a09, 0x6c1d, 0x4b7e, 0x9a, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x09)

namespace corvo::emu {
namespace {

constexpr int32_t kAbsent = -1;
constexpr int32_t kUnanswered = -2;
constexpr int32_t kAllowed = static_cast<int32_t>(platform::AccessStatus::Allowed);

class AccessRequest;

struct Consent {
    std::mutex mutex;
    int32_t answer = kAllowed;
    std::vector<AccessRequest *> unanswered;
};

Consent &consent() {
    static Consent *c = new Consent;  // never destroyed, like the rest of the system
    return *c;
}

class AccessRequest final : public Object<IEmuAccessRequest> {
public:
    // Under the consent lock.
    explicit AccessRequest(int32_t answer) {
        if (answer == kUnanswered)
            consent().unanswered.push_back(this);
        else
            answer_ = answer;
    }
    ~AccessRequest() override {
        std::lock_guard lock(consent().mutex);
        std::erase(consent().unanswered, this);
    }
    std::optional<int32_t> answer() {
        std::lock_guard lock(consent().mutex);
        return answer_;
    }
    // Under the consent lock.
    void answer_with(int32_t answer) { answer_ = answer; }
    // The request's error from its first failure on.
    HRESULT end_with(HRESULT failure) {
        std::lock_guard lock(consent().mutex);
        if (SUCCEEDED(error_)) error_ = failure;
        return error_;
    }

private:
    bool implements(REFIID iid) const noexcept override { return iid == __uuidof(IEmuAccessRequest); }
    std::optional<int32_t> answer_;
    HRESULT error_ = S_OK;
};

AccessRequest &request_of(const platform::Projected &p) {
    return *static_cast<AccessRequest *>(static_cast<IEmuAccessRequest *>(p.get()));
}

[[maybe_unused]] const bool registered =
    (on_reset([] {
         std::lock_guard lock(consent().mutex);
         consent().answer = kAllowed;
     }),
     true);

}  // namespace

bool borderless_allowed() {
    std::lock_guard lock(consent().mutex);
    return consent().answer == kAllowed;
}

}  // namespace corvo::emu

namespace corvo::platform {

HRESULT BorderlessAccessRequest::request(BorderlessAccessRequest *out) noexcept {
    if (!out) return E_POINTER;
    std::lock_guard lock(emu::consent().mutex);
    if (emu::consent().answer == emu::kAbsent) return REGDB_E_CLASSNOTREG;
    if (const HRESULT hr = emu::call("RequestAccessAsync"); FAILED(hr)) return hr;
    auto *made = new (std::nothrow) emu::AccessRequest(emu::consent().answer);
    if (!made) return E_OUTOFMEMORY;
    *out = BorderlessAccessRequest(ComPtr<IUnknown>::attach(made->unknown()));
    return S_OK;
}

bool BorderlessAccessRequest::completed() const { return emu::request_of(*this).answer().has_value(); }

AccessStatus BorderlessAccessRequest::GetResults() const {
    // A failing GetResults is a request that ended in an error or was cancelled: it stays so.
    emu::throw_if_failed(emu::request_of(*this).end_with(emu::call("GetResults")), "GetResults");
    const std::optional<int32_t> answer = emu::request_of(*this).answer();
    if (!answer) throw PlatformError(E_ILLEGAL_METHOD_CALL, "A method was called at an unexpected time.");
    return static_cast<AccessStatus>(*answer);
}

}  // namespace corvo::platform

extern "C" void corvo_emu_set_borderless_access(int32_t answer) CORVO_EMU_NOEXCEPT {
    using namespace corvo::emu;
    or_nothing([&] {
        std::lock_guard lock(consent().mutex);
        consent().answer = answer;
        if (answer < 0) return;
        for (AccessRequest *request : consent().unanswered) request->answer_with(answer);
        consent().unanswered.clear();
    });
}
