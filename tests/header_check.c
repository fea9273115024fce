/* Includes the public headers and uses each export once. */
#include "corvo_wgc.h"
#ifndef _WIN32
#include "corvo_emu.h"
#endif

static void on_log(int32_t level, const char *text, uint64_t length) {
    (void)level;
    (void)text;
    (void)length;
}

int main(void) {
    wgc_session session;
    void *frame = 0;
    int32_t width = 0, height = 0;
    uint8_t cursor = 0;
    wgc_register_logger(on_log);
#ifndef _WIN32
    corvo_emu_reset();
#endif
    if (!is_wgc_session_supported()) return 1;
    session = wgc_session_create2((HMONITOR)0);
    wgc_enable_cursor(session, 1);
    wgc_show_border(session, 0);
    wgc_set_capture_to_texture(session, 0);
    wgc_set_dirty_rect(session, 1);
    wgc_session_start(session);
    wgc_get_recent_frame(session, &frame, 0, &width, &height, &cursor);
    wgc_free_recent_frame(frame);
    (void)wgc_get_device(session);
    (void)wgc_get_status(session);
    (void)wgc_get_update_ratio(session);
    wgc_session_destroy(session);
    (void)wgc_session_create((HWND)0);
    return 0;
}
