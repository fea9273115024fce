#include <atomic>
#include <mutex>

#include "session/log_sink.h"
#include "platform/win32.h"
#include "session/capture_session.h"

namespace corvo {

// Once per process, on the first call that succeeds; a failure is tried again at the next session. The failure is
// told after the lock is let go, so that a logger may create a session on that line. The process's apartment is
// left to the end of the process: a CoUninitialize at unload would run on whatever thread unloads the library,
// unbalanced for that thread.
bool ensure_com_initialized() noexcept {
    static std::atomic<bool> initialized{false};
    static std::mutex mutex;
    if (initialized.load()) return true;
    HRESULT hr = S_OK;
    {
        const std::lock_guard lock(mutex);
        if (initialized.load()) return true;
        hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        // RPC_E_CHANGED_MODE: the thread has another apartment and is usable as it is.
        if (SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE) {
            initialized.store(true);
            return true;
        }
    }
    log_failure(hr, "Failed to initialize COM, hr:%08x", static_cast<unsigned>(hr));
    return false;
}

}  // namespace corvo
