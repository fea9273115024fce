// Fiber-local storage, for threads: the values of a thread live in a thread_local table whose destructor runs the
// indexes' callbacks as the thread ends.
#include <mutex>
#include <vector>

#include "corvo_emu_win32.h"

namespace {

// The callbacks by index; a freed index keeps its place without a callback. Never destroyed: libraries free
// their indexes as the process ends.
struct Indexes {
    std::mutex mutex;
    std::vector<PFLS_CALLBACK_FUNCTION> callbacks;
    std::vector<bool> used;
};
Indexes &indexes() {
    static Indexes *i = new Indexes;
    return *i;
}

PFLS_CALLBACK_FUNCTION callback_of(DWORD index) {
    std::lock_guard lock(indexes().mutex);
    return index < indexes().callbacks.size() ? indexes().callbacks[index] : nullptr;
}

struct ThreadValues {
    std::vector<void *> values;
    ~ThreadValues() {
        for (DWORD index = 0; index < values.size(); ++index)
            if (void *value = values[index]) {
                values[index] = nullptr;
                if (const PFLS_CALLBACK_FUNCTION callback = callback_of(index)) callback(value);
            }
    }
};
thread_local ThreadValues thread_values;

}  // namespace

extern "C" {

DWORD WINAPI FlsAlloc(PFLS_CALLBACK_FUNCTION callback) {
    try {
        std::lock_guard lock(indexes().mutex);
        indexes().callbacks.push_back(callback);
        indexes().used.push_back(true);
        return DWORD(indexes().callbacks.size() - 1);
    } catch (...) {
        return FLS_OUT_OF_INDEXES;
    }
}

BOOL WINAPI FlsFree(DWORD index) {
    std::lock_guard lock(indexes().mutex);
    if (index >= indexes().used.size() || !indexes().used[index]) return 0;
    indexes().used[index] = false;
    indexes().callbacks[index] = nullptr;
    return 1;
}

BOOL WINAPI FlsSetValue(DWORD index, void *value) {
    {
        std::lock_guard lock(indexes().mutex);
        if (index >= indexes().used.size() || !indexes().used[index]) return 0;
    }
    try {
        if (thread_values.values.size() <= index) thread_values.values.resize(index + 1);
        thread_values.values[index] = value;
        return 1;
    } catch (...) {
        return 0;
    }
}

void *WINAPI FlsGetValue(DWORD index) {
    return index < thread_values.values.size() ? thread_values.values[index] : nullptr;
}

}  // extern "C"
