#include "log_capture.h"

#include <mutex>

#include "corvo_wgc.h"

namespace {

std::mutex mutex;
std::vector<LogLine> captured;

}  // namespace

LogCapture::LogCapture() {
    clear();
    wgc_register_logger(&LogCapture::callback);
}

LogCapture::~LogCapture() { wgc_register_logger(nullptr); }

void LogCapture::callback(int32_t level, const char *text, uint64_t length) {
    std::lock_guard lock(mutex);
    captured.push_back({level, std::string(text), length});
}

std::vector<LogLine> LogCapture::lines() const {
    std::lock_guard lock(mutex);
    return captured;
}

std::vector<std::string> LogCapture::texts() const {
    std::vector<std::string> out;
    for (const LogLine &line : lines()) out.push_back(line.text);
    return out;
}

std::vector<std::string> LogCapture::at_level(int32_t level) const {
    std::vector<std::string> out;
    for (const LogLine &line : lines())
        if (line.level == level) out.push_back(line.text);
    return out;
}

void LogCapture::clear() {
    std::lock_guard lock(mutex);
    captured.clear();
}
