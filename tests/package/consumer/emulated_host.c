/* Captures a simulated window through the installed library and checks one pixel. */
#include <stdio.h>
#include <string.h>

#include "corvo_emu.h"
#include "corvo_wgc.h"

static int lines;

static void on_log(int32_t level, const char *text, uint64_t length) {
    (void)length;
    printf("%d %s\n", level, text);
    ++lines;
}

int main(void) {
    const uint32_t colour = 0xFF112233u;
    void *frame = NULL;
    int32_t width = 0, height = 0;
    uint8_t cursor = 0;
    uint32_t pixel = 0;
    wgc_session session;
    HWND window = corvo_emu_create_window(64, 32);

    wgc_register_logger(on_log);
    corvo_emu_fill(window, 0, 0, 64, 32, colour);
    session = wgc_session_create(window);
    if (!session || !wgc_session_start(session)) return 1;
    corvo_emu_present(window);
    if (wgc_get_recent_frame(session, &frame, 0, &width, &height, &cursor)) memcpy(&pixel, frame, sizeof pixel);
    wgc_session_destroy(session);
    printf("frame %d x %d, first pixel %08x\n", (int)width, (int)height, (unsigned)pixel);
    return width == 64 && height == 32 && pixel == colour && lines > 0 ? 0 : 2;
}
