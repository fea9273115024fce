// The few helpers the Windows test programs share: a failure counter with readable output, and the DLL's
// exports resolved by name from a module loaded with LoadLibraryW.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "corvo_wgc.h"

namespace wgc_test {

inline int failures = 0;

inline void check(bool ok, const char *what, int line) {
    if (ok) return;
    ++failures;
    std::printf("FAILED (line %d): %s\n", line, what);
}
#define CHECK(condition) ::wgc_test::check((condition), #condition, __LINE__)

// The exports, packed as written; the formatter would give them a line each.
// clang-format off
#define WGC_TEST_EXPORTS(X) \
    X(is_wgc_session_supported) X(wgc_enable_cursor) X(wgc_free_recent_frame) X(wgc_get_device) \
    X(wgc_get_recent_frame) X(wgc_get_status) X(wgc_get_update_ratio) X(wgc_register_logger) \
    X(wgc_session_create) X(wgc_session_create2) X(wgc_session_destroy) X(wgc_session_start) \
    X(wgc_set_capture_to_texture) X(wgc_set_dirty_rect) X(wgc_show_border) X(wgc_get_dirty_rects) \
    X(wgc_set_min_update_interval) X(wgc_get_frame_info) X(wgc_wait_for_frame) X(wgc_get_last_error) X(wgc_get_version) \
    X(wgc_set_pixel_format) X(wgc_set_device) X(wgc_set_adapter) X(wgc_set_recovery) X(wgc_set_region) \
    X(wgc_set_client_area)
// clang-format on

// The exports as a host that loads the library at run time sees them.
struct Exports {
    HMODULE module = nullptr;
#define WGC_TEST_EXPORT(name) decltype(&::name) name = nullptr;
    WGC_TEST_EXPORTS(WGC_TEST_EXPORT)
#undef WGC_TEST_EXPORT

    // Loads the DLL and resolves every name; each one missing counts as a failure.
    bool load(const wchar_t *path) {
        module = LoadLibraryW(path);
        CHECK(module != nullptr);
        if (!module) return false;
        bool all = true;
#define WGC_TEST_RESOLVE(name)                                                                        \
    name = reinterpret_cast<decltype(name)>(reinterpret_cast<void *>(GetProcAddress(module, #name))); \
    if (!name) {                                                                                      \
        check(false, "GetProcAddress(\"" #name "\")", __LINE__);                                      \
        all = false;                                                                                  \
    }
        WGC_TEST_EXPORTS(WGC_TEST_RESOLVE)
#undef WGC_TEST_RESOLVE
        return all;
    }
};

// Every line the library logs, in order.
struct LogLine {
    int level;
    std::string text;
};

inline std::vector<LogLine> &log_lines() {
    static std::vector<LogLine> lines;
    return lines;
}

inline void record_line(int32_t level, const char *text, uint64_t length) {
    log_lines().push_back({int(level), std::string(text, size_t(length))});
}

inline void print_log() {
    for (const LogLine &line : log_lines()) std::printf("  [%d] %s\n", line.level, line.text.c_str());
}

inline int finish(const char *program) {
    if (failures) print_log();
    std::printf("%s: %s (%d failed checks)\n", program, failures ? "FAILED" : "passed", failures);
    return failures ? 1 : 0;
}

}  // namespace wgc_test
