#include "session/log_sink.h"
#include "platform/win32.h"
#include "session/capture_session.h"

namespace corvo {
namespace {

// Throws on failure so that the one-time guard tries again at the next session. The process's apartment is
// left to the end of the process: a CoUninitialize at unload would run on whatever thread unloads the library,
// unbalanced for that thread.
bool initialize_com_once() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (hr == RPC_E_CHANGED_MODE) return true;  // the thread has another apartment and is usable as it is
    if (FAILED(hr)) {
        log_failure(hr, "Failed to initialize COM, hr:%08x", static_cast<unsigned>(hr));
        throw hr;
    }
    return true;
}

}  // namespace

bool ensure_com_initialized() noexcept {
    try {
        static const bool initialized = initialize_com_once();
        return initialized;
    } catch (...) {
        return false;
    }
}

}  // namespace corvo
