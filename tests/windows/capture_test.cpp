// Captures a window of its own with known content through the exports, on a system with a capture service:
// pixels and change ratios in buffer mode with change detection on, the texture in texture mode, a resize and
// the window's closing. Frames arrive when the window is repainted, so each step waits for the picture it
// caused (up to a deadline; this is an integration program, not a unit test).
#include <d3d11.h>

#include "check.h"

namespace {

constexpr int kWidth = 320, kHeight = 240;
constexpr COLORREF kLeft = RGB(255, 0, 0), kRight = RGB(0, 0, 255), kMark = RGB(0, 255, 0);

wgc_test::Exports dll;
bool marked = false;  // a 10 x 10 square at (100, 100), inside one cell

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_PAINT) return DefWindowProcW(window, message, wparam, lparam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    auto fill = [&](RECT r, COLORREF color) {
        HBRUSH brush = CreateSolidBrush(color);
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    };
    fill({0, 0, client.right / 2, client.bottom}, kLeft);
    fill({client.right / 2, 0, client.right, client.bottom}, kRight);
    if (marked) fill({100, 100, 110, 110}, kMark);
    EndPaint(window, &paint);
    return 0;
}

struct Picture {
    const uint8_t *pixels = nullptr;
    int32_t width = 0, height = 0;
    bool has(int x, int y, COLORREF color) const {
        if (!pixels || x >= width || y >= height) return false;
        const uint8_t *p = pixels + (size_t(y) * size_t(width) + size_t(x)) * 4;  // B G R A
        return p[2] == GetRValue(color) && p[1] == GetGValue(color) && p[0] == GetBValue(color);
    }
};

// Polls (which pumps this thread's messages) until `done` accepts the buffer picture; the largest update ratio
// seen meanwhile goes to `max_ratio`.
template <class Done>
bool poll_buffer(wgc_session session, Done done, float *max_ratio = nullptr) {
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (GetTickCount64() < deadline) {
        Picture picture;
        void *frame = nullptr;
        uint8_t cursor = 0;
        const bool got = dll.wgc_get_recent_frame(session, &frame, 0, &picture.width, &picture.height, &cursor);
        const float ratio = dll.wgc_get_update_ratio(session);
        if (max_ratio && ratio > *max_ratio) *max_ratio = ratio;
        picture.pixels = static_cast<const uint8_t *>(frame);
        if (got && done(picture)) return true;
        Sleep(10);
    }
    return false;
}

// The texture's pixel at (x, y), read through a staging copy on the session's device.
bool texture_pixel(ID3D11Device *device, ID3D11Texture2D *texture, int x, int y, COLORREF color) {
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    ID3D11Texture2D *staging = nullptr;
    if (FAILED(device->CreateTexture2D(&desc, nullptr, &staging))) return false;
    ID3D11DeviceContext *context = nullptr;
    device->GetImmediateContext(&context);
    context->CopyResource(staging, texture);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    bool ok = false;
    if (SUCCEEDED(context->Map(staging, 0, D3D11_MAP_READ, 0, &mapped))) {
        const uint8_t *p = static_cast<const uint8_t *>(mapped.pData) + size_t(y) * mapped.RowPitch + size_t(x) * 4;
        ok = p[2] == GetRValue(color) && p[1] == GetGValue(color) && p[0] == GetBValue(color);
        context->Unmap(staging, 0);
    }
    context->Release();
    staging->Release();
    return ok;
}

void check_texture_mode(wgc_session session, HWND window) {
    dll.wgc_set_capture_to_texture(session, 1);
    marked = false;
    InvalidateRect(window, nullptr, FALSE);
    ID3D11Texture2D *texture = nullptr;
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (!texture && GetTickCount64() < deadline) {
        void *frame = nullptr;
        int32_t width = 0, height = 0;
        uint8_t cursor = 0;
        if (dll.wgc_get_recent_frame(session, &frame, 0, &width, &height, &cursor)) {
            auto *candidate = static_cast<ID3D11Texture2D *>(frame);
            if (!texture_pixel(dll.wgc_get_device(session), candidate, 105, 105, kMark)) {
                CHECK(width == kWidth && height == kHeight);
                texture = candidate;
                break;
            }
            candidate->Release();
        }
        Sleep(10);
    }
    CHECK(texture != nullptr);
    if (!texture) return;
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    CHECK(desc.Width == UINT(kWidth) && desc.Height == UINT(kHeight));
    CHECK(desc.Format == DXGI_FORMAT_B8G8R8A8_UNORM);
    CHECK(texture_pixel(dll.wgc_get_device(session), texture, 10, 10, kLeft));
    CHECK(texture_pixel(dll.wgc_get_device(session), texture, kWidth - 10, 10, kRight));
    texture->Release();
    dll.wgc_set_capture_to_texture(session, 0);
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) {
        std::printf("usage: capture_test <path of libcorvo-wgc.dll>\n");
        return 2;
    }
    // Physical pixels, so the captured size is the window's size at any display scale.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    if (!dll.load(argv[1])) return wgc_test::finish("capture_test");
    dll.wgc_register_logger(wgc_test::record_line);
    CHECK(dll.is_wgc_session_supported() == 1);

    WNDCLASSW window_class{};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"corvo-wgc-capture-test";
    RegisterClassW(&window_class);
    // A popup has no frame, so the captured picture is exactly the client area.
    HWND window = CreateWindowExW(WS_EX_TOPMOST, window_class.lpszClassName, L"capture test", WS_POPUP | WS_VISIBLE,
                                  50, 50, kWidth, kHeight, nullptr, nullptr, window_class.hInstance, nullptr);
    CHECK(window != nullptr);
    UpdateWindow(window);

    wgc_session session = dll.wgc_session_create(window);
    CHECK(session != nullptr);
    if (!session) return wgc_test::finish("capture_test");
    dll.wgc_set_dirty_rect(session, 1);
    CHECK(dll.wgc_session_start(session) == 1);
    CHECK(dll.wgc_get_status(session) == 1);
    CHECK(dll.wgc_get_device(session) != nullptr);

    // The first picture is new as a whole.
    float ratio = 0.0f;
    CHECK(poll_buffer(
        session,
        [](const Picture &p) {
            return p.width == kWidth && p.height == kHeight && p.has(10, 10, kLeft) &&
                   p.has(kWidth - 10, 10, kRight);
        },
        &ratio));
    CHECK(ratio == 1.0f);

    // A small change: some of the picture, far from all of it; reading the ratio resets it.
    marked = true;
    InvalidateRect(window, nullptr, FALSE);
    ratio = 0.0f;
    CHECK(poll_buffer(
        session, [](const Picture &p) { return p.has(105, 105, kMark); }, &ratio));
    CHECK(ratio > 0.0f && ratio < 0.5f);
    CHECK(dll.wgc_get_update_ratio(session) == 0.0f);

    check_texture_mode(session, window);

    // A resize reaches the host as a picture of the new size.
    SetWindowPos(window, nullptr, 0, 0, kWidth + 80, kHeight + 60, SWP_NOMOVE | SWP_NOZORDER);
    InvalidateRect(window, nullptr, FALSE);
    CHECK(poll_buffer(session, [](const Picture &p) {
        return p.width == kWidth + 80 && p.height == kHeight + 60 && p.has(kWidth + 70, 10, kRight);
    }));

    // Closing the window ends the capture.
    DestroyWindow(window);
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (dll.wgc_get_status(session) != 0 && GetTickCount64() < deadline) {
        void *frame = nullptr;
        int32_t width = 0, height = 0;
        uint8_t cursor = 0;
        dll.wgc_get_recent_frame(session, &frame, 0, &width, &height, &cursor);
        Sleep(10);
    }
    CHECK(dll.wgc_get_status(session) == 0);
    dll.wgc_session_destroy(session);
    return wgc_test::finish("capture_test");
}
