/* Calls the installed DLL through its import library, without capturing (Wine has no capture service). */
#include <stdio.h>
#include <string.h>

#include "corvo_wgc.h"

static int dirty_rect_lines;

static void on_log(int32_t level, const char *text, uint64_t length) {
    (void)length;
    printf("%d %s\n", level, text);
    if (level == WGC_LOG_INFO && strcmp(text, "Set dirtyRect enable") == 0) ++dirty_rect_lines;
}

int main(void) {
    wgc_session session;

    printf("capture supported: %u\n", (unsigned)is_wgc_session_supported());
    wgc_register_logger(on_log);
    session = wgc_session_create(GetDesktopWindow());
    if (!session) return 1;
    wgc_set_dirty_rect(session, 1);
    wgc_session_destroy(session);
    wgc_register_logger(NULL);
    return dirty_rect_lines == 1 ? 0 : 2;
}
