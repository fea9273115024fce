/* A minimal host: loads libcorvo-wgc, registers a logger, creates a session for a simulated window, sets its
 * switches, tries to start it and shows every line the library logs. */
#include <stdio.h>

#include "corvo_wgc.h"

static void print_line(int32_t level, const char *text, uint64_t length) {
    printf("[level %d] %.*s\n", (int)level, (int)length, text);
}

int main(void) {
    wgc_session session;
    wgc_register_logger(print_line);
    printf("capture supported: %s\n", is_wgc_session_supported() ? "yes" : "no");

    session = wgc_session_create((HWND)(uintptr_t)0x1);
    if (!session) {
        fprintf(stderr, "could not create a session\n");
        return 1;
    }
    wgc_enable_cursor(session, 1);
    wgc_show_border(session, 0);
    wgc_set_dirty_rect(session, 1);
    printf("start: %s\n", wgc_session_start(session) ? "capturing" : "failed");
    printf("status: %u\n", (unsigned)wgc_get_status(session));
    wgc_session_destroy(session);
    return 0;
}
