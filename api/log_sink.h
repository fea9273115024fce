// The process-wide log callback slot and the one formatter every diagnostic line goes through.
#pragma once

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

}  // namespace corvo
