// Loads libcorvo-wgc.dll at run time and checks what needs no capture service: the ordinals, the logger, the
// switches and reads of an unstarted session, its destruction, and what Start does. With
// --no-capture-service (Wine) the system must report no capture support and Start must fail after the device
// phase; otherwise Start must capture the program's own window.
#include <cstring>
#include <string>

#include "check.h"

namespace {

using wgc_test::log_lines;
using wgc_test::LogLine;

std::vector<LogLine> second_logger_lines;
void second_logger(int32_t level, const char *text, uint64_t length) {
    second_logger_lines.push_back({int(level), std::string(text, size_t(length))});
}

bool has_line(const std::vector<LogLine> &lines, int level, const char *text) {
    for (const LogLine &line : lines)
        if (line.level == level && line.text == text) return true;
    return false;
}

HWND create_window() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"corvo-wgc-export-host";
    RegisterClassW(&window_class);
    return CreateWindowExW(0, window_class.lpszClassName, L"export host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                           200, 100, nullptr, nullptr, window_class.hInstance, nullptr);
}

void check_ordinals(const wgc_test::Exports &dll) {
    // Ordinals 1 to 15 in the alphabetical order of the names, the later exports after them as listed.
    const void *by_name[] = {
#define WGC_TEST_ADDRESS(name) reinterpret_cast<const void *>(dll.name),
        WGC_TEST_EXPORTS(WGC_TEST_ADDRESS)
#undef WGC_TEST_ADDRESS
    };
    for (int ordinal = 1; ordinal <= 27; ++ordinal) {
        const void *by_ordinal =
            reinterpret_cast<const void *>(GetProcAddress(dll.module, MAKEINTRESOURCEA(ordinal)));
        CHECK(by_ordinal != nullptr && by_ordinal == by_name[ordinal - 1]);
    }
    CHECK(GetProcAddress(dll.module, MAKEINTRESOURCEA(28)) == nullptr);
}

void check_logger(const wgc_test::Exports &dll, wgc_session session) {
    log_lines().clear();
    dll.wgc_set_dirty_rect(session, 1);
    CHECK(log_lines().size() == 1 && has_line(log_lines(), WGC_LOG_INFO, "Set dirtyRect enable"));

    // A replaced logger receives nothing more.
    dll.wgc_register_logger(second_logger);
    dll.wgc_set_dirty_rect(session, 0);
    CHECK(log_lines().size() == 1);
    CHECK(second_logger_lines.size() == 1 && has_line(second_logger_lines, WGC_LOG_INFO, "Set dirtyRect disable"));

    dll.wgc_register_logger(nullptr);
    dll.wgc_set_dirty_rect(session, 1);
    CHECK(log_lines().size() == 1 && second_logger_lines.size() == 1);
    dll.wgc_register_logger(wgc_test::record_line);
}

void check_unstarted(const wgc_test::Exports &dll, wgc_session session) {
    CHECK(dll.wgc_get_status(session) == 0);
    CHECK(dll.wgc_get_update_ratio(session) == 0.0f);
    CHECK(dll.wgc_get_update_ratio(session) == 0.0f);
    CHECK(dll.wgc_get_device(session) == nullptr);
    void *frame = &frame;
    int32_t width = -1, height = -1;
    uint8_t cursor = 7;
    CHECK(dll.wgc_get_recent_frame(session, &frame, 0, &width, &height, &cursor) == 0);
    CHECK(width == 0 && height == 0 && cursor == 0);
}

void check_start(const wgc_test::Exports &dll, HWND window, bool no_capture_service) {
    wgc_session session = dll.wgc_session_create(window);
    CHECK(session != nullptr);
    if (!session) return;
    log_lines().clear();
    const uint8_t started = dll.wgc_session_start(session);
    const std::vector<LogLine> lines = log_lines();
    CHECK(!lines.empty() && lines[0].level == WGC_LOG_INFO && lines[0].text == "WgcCaptureSession::Start");
    // A start is all or nothing: the session keeps its Direct3D 11 device only when capture started.
    CHECK((dll.wgc_get_device(session) != nullptr) == (started == 1));
    if (no_capture_service) {
        CHECK(started == 0);
        CHECK(lines.size() >= 2 && lines[1].level == WGC_LOG_ERROR);
        CHECK(dll.wgc_get_status(session) == 0);
    } else {
        CHECK(started == 1);
        CHECK(has_line(lines, WGC_LOG_INFO, "Wgc session started."));
        CHECK(dll.wgc_get_status(session) == 1);
    }
    dll.wgc_session_destroy(session);
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) {
        std::printf("usage: export_host <path of libcorvo-wgc.dll> [--no-capture-service]\n");
        return 2;
    }
    const bool no_capture_service = argc > 2 && std::wcscmp(argv[2], L"--no-capture-service") == 0;
    wgc_test::Exports dll;
    if (!dll.load(argv[1])) return wgc_test::finish("export_host");
    check_ordinals(dll);

    dll.wgc_register_logger(wgc_test::record_line);
    CHECK(dll.wgc_session_create2(nullptr) == nullptr);
    CHECK(log_lines().empty());

    const HWND window = create_window();
    CHECK(window != nullptr);
    wgc_session session = dll.wgc_session_create(window);
    CHECK(session != nullptr);
    if (session) {
        check_logger(dll, session);
        check_unstarted(dll, session);
        log_lines().clear();
        dll.wgc_session_destroy(session);
        CHECK(has_line(log_lines(), WGC_LOG_INFO, "Try to exit wgc thread"));
        CHECK(has_line(log_lines(), WGC_LOG_INFO, "Wgc exit."));
        for (const LogLine &line : log_lines()) CHECK(line.level == WGC_LOG_INFO);
    }
    dll.wgc_session_destroy(nullptr);

    CHECK(dll.is_wgc_session_supported() == (no_capture_service ? 0 : 1));
    check_start(dll, window, no_capture_service);

    DestroyWindow(window);
    return wgc_test::finish("export_host");
}
