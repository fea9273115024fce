#include "session/log_sink.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace corvo {
namespace {

// One pointer-sized slot; a line formatted while it is replaced goes to the old or the new callback.
std::atomic<wgc_log_callback> log_sink{nullptr};

constexpr int kLineBufferSize = 1024;
// The formatter gets one byte less than the buffer, so a line holds at most 1022 characters.
constexpr int kFormatCapacity = kLineBufferSize - 1;
constexpr int kMaxLineLength = kFormatCapacity - 1;

thread_local std::atomic<int32_t> *failure_record = nullptr;

void deliver(int32_t level, const char *format, va_list args) noexcept {
    char line[kLineBufferSize] = {};
    const int n = std::vsnprintf(line, kFormatCapacity, format, args);
    const wgc_log_callback callback = log_sink.load(std::memory_order_acquire);
    if (callback == nullptr || n <= 0) return;
    callback(level, line, static_cast<uint64_t>(n < kMaxLineLength ? n : kMaxLineLength));
}

}  // namespace

void set_log_sink(wgc_log_callback callback) noexcept { log_sink.store(callback, std::memory_order_release); }

void log_message(int32_t level, const char *format, ...) noexcept {
    va_list args;
    va_start(args, format);
    deliver(level, format, args);
    va_end(args);
}

void log_failure(HRESULT hr, const char *format, ...) noexcept {
    // Recorded first: the logger may destroy the session on this line.
    if (failure_record) failure_record->store(static_cast<int32_t>(hr));
    va_list args;
    va_start(args, format);
    deliver(kLogError, format, args);
    va_end(args);
}

FailureRecord::FailureRecord(std::atomic<int32_t> *last_error) noexcept : previous_(failure_record) {
    failure_record = last_error;
}

FailureRecord::~FailureRecord() { failure_record = previous_; }

}  // namespace corvo
