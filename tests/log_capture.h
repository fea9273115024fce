// A log callback that keeps every line it receives, for assertions.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct LogLine {
    int32_t level;
    std::string text;
    uint64_t length;
    bool operator==(const LogLine &other) const = default;
};

inline void PrintTo(const LogLine &line, std::ostream *out) {
    *out << "{" << line.level << ", \"" << line.text << "\", " << line.length << "}";
}

class LogCapture {
public:
    // Registers the capture as the library's logger; unregisters on destruction.
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::vector<LogLine> lines() const;
    std::vector<std::string> texts() const;
    // Lines at the given level.
    std::vector<std::string> at_level(int32_t level) const;
    void clear();

    static void callback(int32_t level, const char *text, uint64_t length);
};
