// The process-wide log callback slot and the one formatter every diagnostic line goes through.
#pragma once

#include <atomic>
#include <cstdint>

#include "corvo_wgc.h"

namespace corvo {

enum LogLevel : int32_t {
    kLogInfo = WGC_LOG_INFO,        // progress, and switches that were applied
    kLogWarning = WGC_LOG_WARNING,  // a switch the running system cannot apply
    kLogError = WGC_LOG_ERROR,      // failures and caught errors
};

void set_log_sink(wgc_log_callback callback) noexcept;

// Formats into a zeroed 1024-byte stack buffer (at most 1022 characters) and hands the line to the
// registered callback. Empty lines and formatting errors are not delivered. Never allocates.
void log_message(int32_t level, const char *format, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// A failure line (level 3) and the HRESULT it stands for, which the session whose call is running on this
// thread keeps as its last error.
void log_failure(HRESULT hr, const char *format, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// While it lives, the failures logged on this thread are recorded in `last_error`: a session's calls hold
// one. A logger that calls another session's function records that session's failures in its own.
class FailureRecord {
public:
    explicit FailureRecord(std::atomic<int32_t> *last_error) noexcept;
    FailureRecord(const FailureRecord &) = delete;
    FailureRecord &operator=(const FailureRecord &) = delete;
    ~FailureRecord();

private:
    std::atomic<int32_t> *previous_;
};

}  // namespace corvo
