// Captures real Win32 windows under Wine through the DLL's exports, with the test capture service, dispatcher
// queue and device interop installed in the prefix. The cases named on the command line run in one process,
// in order; each ends with every object of the test modules released. The windows are painted by this
// program from a picture it keeps, so every captured pixel can be compared with what was painted.
#include <d3d11.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "../windows/check.h"
#include "com_object.h"

namespace {

wgc_test::Exports dll;

// What the service, the dispatcher queue and the device interop modules report to the tests.
struct Service {
    HMODULE module = nullptr;
    long(WINAPI *live_objects)() = nullptr;
    void(WINAPI *switches)(int *cursor, int *border) = nullptr;
    long(WINAPI *frames)() = nullptr;
    long(WINAPI *ticks)() = nullptr;
    long(WINAPI *dropped)() = nullptr;
    void(WINAPI *render_unchanged)(int on) = nullptr;
    void(WINAPI *fail_next)(int fault, HRESULT hr) = nullptr;
    void(WINAPI *set_contract)(int major) = nullptr;
    void(WINAPI *set_borderless_access)(int answer) = nullptr;
    void(WINAPI *set_supported)(int supported) = nullptr;
    long(WINAPI *faults_pending)() = nullptr;
    long long(WINAPI *interval)() = nullptr;
    void(WINAPI *set_sdr_white)(float nits) = nullptr;

    bool load(const wchar_t *path) {
        module = LoadLibraryW(path);
        if (!module) return false;
        resolve(live_objects, "corvo_test_live_objects");
        resolve(switches, "corvo_test_switches");
        resolve(frames, "corvo_test_frames");
        resolve(ticks, "corvo_test_ticks");
        resolve(dropped, "corvo_test_dropped");
        resolve(render_unchanged, "corvo_test_render_unchanged");
        resolve(fail_next, "corvo_test_fail_next");
        resolve(set_contract, "corvo_test_set_contract");
        resolve(set_borderless_access, "corvo_test_set_borderless_access");
        resolve(set_supported, "corvo_test_set_supported");
        resolve(faults_pending, "corvo_test_faults_pending");
        resolve(interval, "corvo_test_interval");
        resolve(set_sdr_white, "corvo_test_set_sdr_white");
        return live_objects && switches && frames && ticks && dropped && render_unchanged && fail_next &&
               set_contract && set_borderless_access && set_supported && faults_pending && interval && set_sdr_white;
    }
    template <class F>
    void resolve(F &function, const char *name) {
        function = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    }
} service;

// The fault points of the service (its Fault enumeration), of the prefix's d3d11.dll (DeviceFault) and of its
// dxgi.dll.
enum FaultPoint {
    kFailCreateForWindow = 0,
    kFailCreateForMonitor = 1,
    kFailCreatePool = 2,
    kFailCreateTexture = 3,
    kFailCreateSession = 4,
    kFailStartCapture = 5,
    kFailClosePool = 6,
    kFailItemFactory = 7,
    kFailTryGetNextFrame = 8,
    kFailSurface = 9,
    kFailSwitch = 10,
    kFailCreateDevice = 0,
    kFailDeviceInterop = 1,
    kFailStagingTexture = 2,
    kFailMap = 3,
    kFailDxgiDevice = 4,
    kFailCreateFactory = 0,
    kFailEnumAdapters = 1,
};

// An export of a test module the system loads (coremessaging.dll, d3d11.dll, dxgi.dll); null when there is none.
template <class F>
F *module_function(const wchar_t *module_name, const char *name) {
    HMODULE module = GetModuleHandleW(module_name);
    return module ? reinterpret_cast<F *>(reinterpret_cast<void *>(GetProcAddress(module, name))) : nullptr;
}

// Live objects of a test module loaded by the system; 0 when it is not loaded.
long module_live_objects(const wchar_t *name) {
    if (!GetModuleHandleW(name)) return 0;
    auto *count = module_function<long WINAPI()>(name, "corvo_test_live_objects");
    return count ? count() : -1;
}

// The next call of a module's fault point fails with `hr`: the service's (a null module) or a system module's.
void fail_next(const wchar_t *module, int point, HRESULT hr) {
    if (!module) return service.fail_next(point, hr);
    auto *arm = module_function<void WINAPI(int, HRESULT)>(module, "corvo_test_fail_next");
    CHECK(arm != nullptr);
    if (arm) arm(point, hr);
}

// Faults armed in a module that no call has taken yet.
long faults_pending(const wchar_t *module) {
    if (!module) return service.faults_pending();
    auto *pending = module_function<long WINAPI()>(module, "corvo_test_faults_pending");
    return pending ? pending() : -1;
}

// The pixel this program paints at (x, y) while `generation` is its picture's version, as B, G, R, A bytes.
uint32_t painted(int x, int y, int generation) {
    const uint32_t b = uint32_t(x) & 0xff, g = uint32_t(y) & 0xff,
                   r = uint32_t(x * 7 + y * 3 + generation * 40) & 0xff;
    return b | g << 8 | r << 16 | 0xff000000u;
}

// A top-level window without a frame whose client area shows `painted` for its generation, except the squares
// added with mark().
struct TestWindow {
    HWND handle = nullptr;
    int generation = 0;
    struct Mark {
        RECT area;
        uint32_t color;
    };
    std::vector<Mark> marks;

    uint32_t expected(int x, int y) const {
        for (const Mark &m : marks)
            if (x >= m.area.left && x < m.area.right && y >= m.area.top && y < m.area.bottom) return m.color;
        return painted(x, y, generation);
    }
    void mark(RECT area, uint32_t color) {
        marks.push_back({area, color});
        InvalidateRect(handle, nullptr, FALSE);
    }
    SIZE client() const {
        RECT r{};
        GetClientRect(handle, &r);
        return {r.right, r.bottom};
    }
};
TestWindow *painting = nullptr;  // the window being painted (one at a time in these cases)

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_PAINT || !painting) return DefWindowProcW(window, message, wparam, lparam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const SIZE size = painting->client();
    std::vector<uint32_t> pixels(size_t(size.cx) * size_t(size.cy));
    for (int y = 0; y < size.cy; ++y)
        for (int x = 0; x < size.cx; ++x) pixels[size_t(y) * size_t(size.cx) + size_t(x)] = painting->expected(x, y);
    BITMAPINFO format{};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), size.cx, -size.cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    SetDIBitsToDevice(dc, 0, 0, DWORD(size.cx), DWORD(size.cy), 0, 0, 0, UINT(size.cy), pixels.data(), &format,
                      DIB_RGB_COLORS);
    EndPaint(window, &paint);
    return 0;
}

// The side of the white square the service draws for the cursor while its capture is on.
constexpr int kCursorSize = 6;

// An odd size, so that a hardware driver's row pitch differs from width * 4 (Wine's software driver pads no
// rows, so the library copies them in one piece there).
constexpr int kWidth = 301, kHeight = 203;

void open_window(TestWindow &window, const wchar_t *title = L"corvo wine capture", int width = kWidth,
                 int height = kHeight, DWORD style = WS_POPUP) {
    static const ATOM window_class = [] {
        WNDCLASSW description{};
        description.lpfnWndProc = window_proc;
        description.hInstance = GetModuleHandleW(nullptr);
        description.lpszClassName = L"corvo-wine-capture-host";
        return RegisterClassW(&description);
    }();
    CHECK(window_class != 0);
    painting = &window;
    window.handle = CreateWindowExW(0, L"corvo-wine-capture-host", title, style | WS_VISIBLE, 40, 40, width, height,
                                    nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    CHECK(window.handle != nullptr);
    UpdateWindow(window.handle);
}

// A new size, with the next generation of the picture.
void resize_window(TestWindow &window, SIZE size) {
    ++window.generation;
    SetWindowPos(window.handle, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    InvalidateRect(window.handle, nullptr, FALSE);
}

struct Frame {
    bool got = false;
    void *data = nullptr;
    int32_t width = 0, height = 0;
};

Frame poll(wgc_session session) {
    Frame frame;
    uint8_t cursor = 0;
    frame.got = dll.wgc_get_recent_frame(session, &frame.data, 0, &frame.width, &frame.height, &cursor) != 0;
    return frame;
}

// Polls (which pumps this thread's messages: the window's painting and Closed) until `done` accepts a
// frame, for at most five seconds; the largest update ratio read meanwhile goes to `max_ratio`.
bool poll_until(wgc_session session, const std::function<bool(const Frame &)> &done, float *max_ratio = nullptr) {
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (GetTickCount64() < deadline) {
        const Frame frame = poll(session);
        const float ratio = dll.wgc_get_update_ratio(session);
        if (max_ratio && ratio > *max_ratio) *max_ratio = ratio;
        if (frame.got && done(frame)) return true;
        Sleep(5);
    }
    return false;
}

// Polls while the service makes `count` more frames; the largest update ratio read goes to `max_ratio`.
void poll_frames(wgc_session session, long count, float *max_ratio) {
    const long target = service.frames() + count;
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (service.frames() < target && GetTickCount64() < deadline) {
        poll(session);
        *max_ratio = std::max(*max_ratio, dll.wgc_get_update_ratio(session));
        Sleep(5);
    }
    poll(session);  // the last frame
    *max_ratio = std::max(*max_ratio, dll.wgc_get_update_ratio(session));
    CHECK(service.frames() >= target);
}

// Whether `pixels` (rows of `width` B, G, R, A pixels) show the window's picture, pixel for pixel, with the
// service's white cursor square over `cursor` (in client coordinates; empty: no cursor).
bool shows(const uint32_t *pixels, int width, int height, const TestWindow &window, RECT cursor = {}) {
    const SIZE size = window.client();
    if (width != size.cx || height != size.cy) return false;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool white = x >= cursor.left && x < cursor.right && y >= cursor.top && y < cursor.bottom;
            if (pixels[size_t(y) * size_t(width) + size_t(x)] != (white ? 0xffffffffu : window.expected(x, y)))
                return false;
        }
    return true;
}

// Whether the BGRA buffer picture shows the window's picture.
bool shows(const Frame &frame, const TestWindow &window, RECT cursor = {}) {
    return frame.got && shows(static_cast<const uint32_t *>(frame.data), frame.width, frame.height, window, cursor);
}

// Whether a picture of the whole screen shows the window at its place, pixel for pixel.
bool shows_on_screen(const Frame &frame, const TestWindow &window) {
    RECT area{};
    GetClientRect(window.handle, &area);
    MapWindowPoints(window.handle, nullptr, reinterpret_cast<POINT *>(&area), 2);
    if (!frame.got || area.left < 0 || area.top < 0 || area.right > frame.width || area.bottom > frame.height)
        return false;
    const auto *pixels = static_cast<const uint32_t *>(frame.data);
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            if (pixels[size_t(y) * size_t(frame.width) + size_t(x)] != window.expected(x - area.left, y - area.top))
                return false;
    return true;
}

// Whether the changed rectangles of the session's last poll are `expected` alone.
bool changed_only(wgc_session session, const wgc_rect &expected) {
    wgc_rect rects[4]{};
    const int32_t count = dll.wgc_get_dirty_rects(session, rects, 4);
    if (count != 1) std::printf("%d changed rectangles\n", int(count));
    return count == 1 && std::memcmp(&rects[0], &expected, sizeof expected) == 0;
}

// Waits, without polling, until the service's clock has seen what the window shows now (two ticks completed
// from now: the second one began after this call).
void wait_for_service_clock(long ticks = 2) {
    const long target = service.ticks() + ticks;
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (service.ticks() < target && GetTickCount64() < deadline) Sleep(2);
    CHECK(service.ticks() >= target);
}

// Paints the window's picture now, on this thread, without the library's poll.
void paint_now(TestWindow &window) {
    InvalidateRect(window.handle, nullptr, FALSE);
    UpdateWindow(window.handle);  // WM_PAINT, sent to the window procedure at once
}

// The texture's pixels read back through a staging copy on the texture's device, rows of width * 4 bytes.
std::vector<uint32_t> read_texture(ID3D11Texture2D *texture) {
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    ID3D11Device *device = nullptr;
    texture->GetDevice(&device);
    ID3D11Texture2D *staging = nullptr;
    std::vector<uint32_t> pixels;
    if (SUCCEEDED(device->CreateTexture2D(&desc, nullptr, &staging))) {
        ID3D11DeviceContext *context = nullptr;
        device->GetImmediateContext(&context);
        context->CopyResource(staging, texture);
        D3D11_MAPPED_SUBRESOURCE mapped{};
        if (SUCCEEDED(context->Map(staging, 0, D3D11_MAP_READ, 0, &mapped))) {
            pixels.resize(size_t(desc.Width) * desc.Height);
            for (UINT y = 0; y < desc.Height; ++y)
                std::memcpy(&pixels[size_t(y) * desc.Width],
                            static_cast<const uint8_t *>(mapped.pData) + y * mapped.RowPitch,
                            size_t(desc.Width) * 4);
            context->Unmap(staging, 0);
        }
        context->Release();
        staging->Release();
    }
    device->Release();
    return pixels;
}

// One poll's picture in either output, its pixels read back: the buffer's, or the texture's through a staging
// copy (the texture is released then).
struct Picture {
    bool got = false;
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

Picture poll_picture(wgc_session session, bool texture_mode) {
    Picture picture;
    const Frame frame = poll(session);
    if (!frame.got) return picture;
    picture.got = true;
    if (texture_mode) {
        auto *texture = static_cast<ID3D11Texture2D *>(frame.data);
        D3D11_TEXTURE2D_DESC desc;
        texture->GetDesc(&desc);
        picture.width = int(desc.Width);
        picture.height = int(desc.Height);
        picture.pixels = read_texture(texture);
        texture->Release();
    } else {
        picture.width = frame.width;
        picture.height = frame.height;
        const auto *pixels = static_cast<const uint32_t *>(frame.data);
        picture.pixels.assign(pixels, pixels + size_t(frame.width) * size_t(frame.height));
    }
    return picture;
}

bool shows(const Picture &picture, const TestWindow &window) {
    return picture.got && size_t(picture.width) * size_t(picture.height) == picture.pixels.size() &&
           shows(picture.pixels.data(), picture.width, picture.height, window);
}

// Polls until the picture of the output shows the window, for at most five seconds.
bool poll_until_shows(wgc_session session, bool texture_mode, const TestWindow &window) {
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (GetTickCount64() < deadline) {
        if (shows(poll_picture(session, texture_mode), window)) return true;
        Sleep(5);
    }
    return false;
}

// Whether the library logged `text`, at `level` unless that is 0.
bool logged(const std::string &text, int level = 0) {
    for (const wgc_test::LogLine &line : wgc_test::log_lines())
        if (line.text == text && (level == 0 || line.level == level)) return true;
    return false;
}

// A started session for `window`, with change detection as given; null (and a failed check) when it fails.
wgc_session start(const TestWindow &window, bool dirty_rect) {
    wgc_session session = dll.wgc_session_create(window.handle);
    CHECK(session != nullptr);
    if (!session) return nullptr;
    dll.wgc_set_dirty_rect(session, dirty_rect ? 1 : 0);
    CHECK(dll.wgc_session_start(session) == 1);
    return session;
}

// Once this thread has dispatched what waits (the host's loop, which completes a queue's shutdown and drops the
// work queued before a destruction), nothing of the service, the dispatcher queue or the device interop is left.
void all_released() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    CHECK(service.live_objects() == 0);
    CHECK(module_live_objects(L"coremessaging.dll") == 0);
    CHECK(module_live_objects(L"d3d11.dll") == 0);
}

// Destroys the session; then nothing of it is left.
void destroy(wgc_session session) {
    dll.wgc_session_destroy(session);
    all_released();
}

// What a host posts to its window and its thread, left for its own loop by every call but the poll.
constexpr UINT kHostMessage = WM_APP + 7;
void post_host_messages(HWND window) {
    CHECK(PostMessageW(window, kHostMessage, 1, 2));
    PostQuitMessage(3);
}
bool host_messages_kept(HWND window) {
    MSG posted{}, quit{};
    return PeekMessageW(&posted, window, kHostMessage, kHostMessage, PM_REMOVE) && posted.lParam == 2 &&
           PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && quit.wParam == 3;
}

// Paints the whole window from another thread at 60 pictures a second, each a solid colour that tells its
// number, until stopped.
class Presenter {
public:
    static uint32_t color_of(long number) {
        return uint32_t(number & 0xff) | uint32_t((number >> 8) & 0xff) << 8 | 0x5au << 16 | 0xff000000u;
    }
    // The picture number a pixel shows, or -1 for a pixel no presenter painted.
    static long number_of(uint32_t pixel) {
        return (pixel & 0xffff0000u) == 0xff5a0000u ? long(pixel & 0xff) | long((pixel >> 8) & 0xff) << 8 : -1;
    }

    explicit Presenter(HWND window) : thread_([this, window] { run(window); }) {}
    ~Presenter() {
        stop_ = true;
        thread_.join();
    }
    long presented() const { return presented_.load(); }

private:
    void run(HWND window) {
        const ULONGLONG began = GetTickCount64();
        for (long number = 1; !stop_; ++number) {
            RECT area{};
            GetClientRect(window, &area);
            HDC dc = GetDC(window);
            const uint32_t color = color_of(number);
            HBRUSH brush = CreateSolidBrush(RGB((color >> 16) & 0xff, (color >> 8) & 0xff, color & 0xff));
            FillRect(dc, &area, brush);
            DeleteObject(brush);
            GdiFlush();
            ReleaseDC(window, dc);
            presented_ = number;
            // Picture n is due at n * 1000 / 60 ms from the start; a late one is not caught up.
            const ULONGLONG due = began + ULONGLONG(number) * 1000 / 60;
            const ULONGLONG now = GetTickCount64();
            if (due > now) Sleep(DWORD(due - now));
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<long> presented_{0};
    std::thread thread_;
};

// ---- the cases ----

// The probe, the start's log lines, the device, and the pixels of a buffer-mode frame.
void buffer_mode() {
    // The contract is there; IsSupported says no, or fails as it does for another user.
    for (int supported : {0, -1}) {
        service.set_supported(supported);
        CHECK(dll.is_wgc_session_supported() == 0);
    }
    service.set_supported(1);
    CHECK(dll.is_wgc_session_supported() == 1);
    TestWindow window;
    open_window(window);
    wgc_session session = dll.wgc_session_create(window.handle);
    CHECK(session != nullptr);
    if (!session) return;
    wgc_test::log_lines().clear();
    CHECK(dll.wgc_session_start(session) == 1);
    const std::vector<std::string> expected_start = {"WgcCaptureSession::Start", "Wgc cursor Disable ",
                                                     "Wgc border Disable ", "Wgc session started."};
    std::vector<std::string> seen;
    for (const auto &line : wgc_test::log_lines()) seen.push_back(line.text);
    CHECK(seen == expected_start);
    CHECK(dll.wgc_get_status(session) == 1);
    CHECK(dll.wgc_get_device(session) != nullptr);
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    destroy(session);
}

// Change detection: a small repaint, no repaint, a change in the last row and column of cells.
void change_detection() {
    TestWindow window;
    open_window(window);
    wgc_session session = start(window, true);
    if (!session) return;
    float ratio = 0.0f;
    CHECK(poll_until(
        session, [&](const Frame &f) { return shows(f, window); }, &ratio));
    CHECK(ratio == 1.0f);

    // Unchanged frames (the service renders them only when asked): ratio 0 and no copy into the buffer. The test
    // marks the buffer's first pixel (the buffer is the host's to read; writing it here is how the test sees
    // whether the library copied).
    Frame frame = poll(session);
    CHECK(frame.got);
    if (!frame.got) return destroy(session);
    auto *first = static_cast<uint32_t *>(frame.data);
    const uint32_t original = *first;
    *first = 0x12345678;
    ratio = 0.0f;
    service.render_unchanged(1);
    poll_frames(session, 4, &ratio);
    service.render_unchanged(0);
    CHECK(ratio == 0.0f);
    CHECK(*first == 0x12345678);
    *first = original;

    // A 10 x 10 square inside one cell, then one in the last column and row of cells, which are partial
    // (301 x 203 is not a multiple of 32): the poll that shows it names that cell alone, clipped to the frame.
    const struct {
        RECT mark;
        wgc_rect cell;
    } changes[] = {{{100, 100, 110, 110}, {96, 96, 128, 128}},
                   {{kWidth - 3, kHeight - 2, kWidth, kHeight}, {288, 192, kWidth, kHeight}}};
    for (const auto &change : changes) {
        window.mark(change.mark, 0xff00ff00u);
        ratio = 0.0f;
        CHECK(poll_until(
            session, [&](const Frame &f) { return shows(f, window); }, &ratio));
        CHECK(ratio > 0.0f && ratio < 0.1f);
        CHECK(changed_only(session, change.cell));
    }
    // The changed cells' texture cannot be made (a band of two cell rows needs a larger one) or mapped, once:
    // the picture is read whole instead.
    const struct {
        int fault;
        RECT mark;
    } patch_faults[] = {{kFailStagingTexture, {0, 100, 300, 140}}, {kFailMap, {40, 40, 50, 50}}};
    for (const auto &failure : patch_faults) {
        fail_next(L"d3d11.dll", failure.fault, E_OUTOFMEMORY);
        window.mark(failure.mark, 0xff808080u);
        CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
        CHECK(faults_pending(L"d3d11.dll") == 0);
    }
    destroy(session);
}

// A device's reference count, read by adding one and taking it away again.
ULONG references(ID3D11Device *device) {
    device->AddRef();
    return device->Release();
}

// Texture mode on the library's device, then on the host's own (made with Wine's Direct3D 11, as a host makes it):
// a counted texture of the window's size on the session's device, showing the window, read back through the
// device's own context; a change of one cell takes the changed cells only. With the host's device, wgc_get_device
// is the host's, buffer mode is exact too, and once the session is gone the device has its references as before.
void texture_mode() {
    TestWindow window;
    open_window(window);
    for (const bool host : {false, true}) {
        ID3D11Device *host_device = nullptr;
        ULONG host_references = 0;
        if (host) {
            CHECK(SUCCEEDED(
                D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                  nullptr, 0, D3D11_SDK_VERSION, &host_device, nullptr, nullptr)));
            if (!host_device) return;
            host_references = references(host_device);
        }
        wgc_session session = dll.wgc_session_create(window.handle);
        if (!session) return;
        if (host) CHECK(dll.wgc_set_device(session, host_device) == 1);
        dll.wgc_set_capture_to_texture(session, 1);
        dll.wgc_set_dirty_rect(session, 1);
        CHECK(dll.wgc_session_start(session) == 1);
        ID3D11Device *const session_device = dll.wgc_get_device(session);
        CHECK(session_device != nullptr && (!host || session_device == host_device));
        bool matched = false;
        poll_until(session, [&](const Frame &f) {
            auto *texture = static_cast<ID3D11Texture2D *>(f.data);
            D3D11_TEXTURE2D_DESC desc;
            texture->GetDesc(&desc);
            ID3D11Device *device = nullptr;
            texture->GetDevice(&device);
            const bool on_session_device = device == session_device;
            device->Release();
            bool same = desc.Width == UINT(kWidth) && desc.Height == UINT(kHeight) && f.width == kWidth &&
                        f.height == kHeight && desc.Format == DXGI_FORMAT_B8G8R8A8_UNORM && on_session_device;
            if (same) {
                const std::vector<uint32_t> pixels = read_texture(texture);
                for (int y = 0; same && y < kHeight; ++y)
                    for (int x = 0; same && x < kWidth; ++x)
                        same = pixels[size_t(y) * kWidth + size_t(x)] == window.expected(x, y);
            }
            // The host's reference: the session keeps its own, so the texture outlives this release.
            const ULONG left = texture->Release();
            CHECK(left >= 1);
            matched = same;
            return same;
        });
        CHECK(matched);
        // A change of one cell: the texture takes the changed cells only.
        const int at = host ? 64 : 0;
        window.mark({150, 40 + at, 170, 60 + at}, 0xff0000ffu);
        CHECK(poll_until_shows(session, true, window));
        CHECK(changed_only(session, {128, 32 + at, 192, 64 + at}));
        if (host) {
            dll.wgc_set_capture_to_texture(session, 0);
            window.mark({20, 150, 30, 160}, 0xffff0000u);
            CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
            CHECK(dll.wgc_get_device(session) == host_device);
        }
        destroy(session);
        if (host) {
            CHECK(references(host_device) == host_references);
            host_device->Release();
        }
    }
}

// Resizing: frames of the new size (the pool recreated), larger and then smaller than the pool.
void resize() {
    TestWindow window;
    open_window(window);
    wgc_session session = start(window, true);
    if (!session) return;
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    for (const SIZE size : {SIZE{kWidth + 90, kHeight + 41}, SIZE{kWidth - 120, kHeight - 70}}) {
        resize_window(window, size);
        float ratio = 0.0f;
        CHECK(poll_until(
            session, [&](const Frame &f) { return f.width == size.cx && shows(f, window); }, &ratio));
        CHECK(ratio == 1.0f);  // a picture of a new size is new as a whole
    }
    destroy(session);
}

// The window destroyed while captured: status 0 and the closed line; the session's destruction then frees all.
// Then windows closed while a wait runs.
void window_closed() {
    TestWindow window;
    open_window(window);
    wgc_session session = start(window, true);
    if (!session) return;
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    // Between two frames: the next tick finds the window gone.
    DestroyWindow(window.handle);
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (dll.wgc_get_status(session) != 0 && GetTickCount64() < deadline) {
        poll(session);
        Sleep(5);
    }
    CHECK(dll.wgc_get_status(session) == 0);
    CHECK(logged("Wgc on_closed"));
    destroy(session);

    // Closed while a wait runs, with nothing dispatched: on the start thread (a window of another thread), and on
    // another thread (the start thread's window). The wait ends within 250 ms, and the closing is told before
    // the destroy's own lines.
    for (const bool on_start_thread : {true, false}) {
        TestWindow target;
        std::atomic<HWND> owned{nullptr};
        std::atomic<bool> made{false}, close_now{false};
        std::thread owner;
        if (on_start_thread) {
            owner = std::thread([&] {
                owned =
                    CreateWindowExW(0, L"corvo-wine-capture-host", L"corvo wine other thread", WS_POPUP | WS_VISIBLE,
                                    60, 60, 120, 90, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
                made = true;
                for (MSG message; !close_now; Sleep(2))
                    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
                DestroyWindow(owned);
            });
            while (!made) Sleep(1);
            target.handle = owned;
        } else {
            open_window(target);
        }
        session = target.handle ? start(target, false) : nullptr;
        if (!session) {
            close_now = true;
            if (owner.joinable()) owner.join();
            return;
        }
        CHECK(poll_until(session, [](const Frame &) { return true; }));
        while (dll.wgc_wait_for_frame(session, 100) == 1) poll(session);  // until the still window sends none
        ULONGLONG closed_at = 0, returned_at = 0;
        uint8_t waited = 9;
        if (on_start_thread) {
            std::thread closer([&] {
                Sleep(20);
                closed_at = GetTickCount64();
                close_now = true;
            });
            waited = dll.wgc_wait_for_frame(session, 5000);
            returned_at = GetTickCount64();
            closer.join();
            owner.join();
        } else {
            std::thread waiter([&] {
                waited = dll.wgc_wait_for_frame(session, 5000);
                returned_at = GetTickCount64();
            });
            Sleep(20);
            closed_at = GetTickCount64();
            DestroyWindow(target.handle);
            waiter.join();
        }
        CHECK(waited == 0);
        if (returned_at - closed_at >= 250)
            std::printf("the wait ended %llu ms after the close\n", returned_at - closed_at);
        CHECK(returned_at - closed_at < 250);
        wgc_test::log_lines().clear();
        destroy(session);
        const std::vector<wgc_test::LogLine> &lines = wgc_test::log_lines();
        CHECK(lines.size() >= 2 && lines[0].text == "Wgc on_closed" && lines[1].text == "Try to exit wgc thread");
    }
    painting = nullptr;
}

// The halves of an FP16 frame: the window's sRGB pixels decoded and scaled so that SDR white reads `white`,
// each within the half's precision; alpha 1.
bool shows_scrgb(const Frame &frame, const TestWindow &window, double white) {
    const SIZE size = window.client();
    if (!frame.got || frame.width != size.cx || frame.height != size.cy) return false;
    const auto *halves = static_cast<const uint16_t *>(frame.data);
    const auto close_to = [](uint16_t half, double expected) {
        const int exponent = (half >> 10) & 0x1f, fraction = half & 0x3ff;
        if ((half & 0x8000) || exponent == 0x1f) return false;
        const double value =
            exponent ? std::ldexp(1.0 + fraction / 1024.0, exponent - 15) : std::ldexp(fraction / 1024.0, -14);
        return std::fabs(value - expected) <= expected / 1024.0 + std::ldexp(1.0, -24);
    };
    const auto decoded = [white](uint32_t level) {
        const double v = level / 255.0;
        return white * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
    };
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const uint16_t *pixel = halves + (size_t(y) * size_t(frame.width) + size_t(x)) * 4;
            const uint32_t bgra = window.expected(x, y);
            if (!close_to(pixel[0], decoded((bgra >> 16) & 0xff)) ||
                !close_to(pixel[1], decoded((bgra >> 8) & 0xff)) || !close_to(pixel[2], decoded(bgra & 0xff)) ||
                pixel[3] != 0x3c00)
                return false;
        }
    return true;
}

// Whether each channel of the BGRA buffer picture is within 1 of the window's picture.
bool shows_within_one(const Frame &frame, const TestWindow &window) {
    const SIZE size = window.client();
    if (!frame.got || frame.width != size.cx || frame.height != size.cy) return false;
    const auto *pixels = static_cast<const uint8_t *>(frame.data);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const uint32_t expected = window.expected(x, y);
            for (int c = 0; c < 4; ++c) {
                const int got = pixels[(size_t(y) * size_t(frame.width) + size_t(x)) * 4 + size_t(c)];
                if (std::abs(got - int((expected >> (8 * c)) & 0xff)) > 1) return false;
            }
        }
    return true;
}

// The frame info of the session's last poll.
wgc_frame_info frame_info(wgc_session session) {
    wgc_frame_info info{};
    info.size = sizeof info;
    CHECK(dll.wgc_get_frame_info(session, &info) == 1);
    return info;
}

// A window of SDR content on a monitor DXGI reports in HDR mode (Wine reports every monitor as SDR): the SDR
// picture the library makes from the FP16 frames, and the FP16 frames themselves, through Wine's Direct3D.
// Wine's display configuration has no SDR white level, so the library reads 80 nits: the SDR picture is made at
// that white; the FP16 frames are checked at another, which the library hands on as the service rendered them.
void hdr_formats() {
    auto *report_hdr = reinterpret_cast<void(WINAPI *)(HMONITOR)>(
        reinterpret_cast<void *>(GetProcAddress(LoadLibraryW(L"dxgi.dll"), "corvo_test_report_hdr")));
    CHECK(report_hdr != nullptr);
    if (!report_hdr) return;
    TestWindow window;
    open_window(window);
    report_hdr(MonitorFromWindow(window.handle, MONITOR_DEFAULTTONEAREST));
    wgc_session session = dll.wgc_session_create(window.handle);
    CHECK(session != nullptr);
    if (session) {
        wgc_test::log_lines().clear();
        CHECK(dll.wgc_set_pixel_format(session, CORVO_WGC_FORMAT_SDR_FROM_HDR) == 1);
        CHECK(dll.wgc_session_start(session) == 1);
        CHECK(poll_until(session, [&](const Frame &f) { return shows_within_one(f, window); }));
        wgc_frame_info info = frame_info(session);
        CHECK(info.dxgi_format == 87 || info.dxgi_format == 28);
        CHECK(info.bytes_per_pixel == 4 && info.hdr == 1 && info.sdr_white_nits == 80.0f);

        service.set_sdr_white(200.0f);
        CHECK(dll.wgc_set_pixel_format(session, CORVO_WGC_FORMAT_FP16) == 1);
        // The format holds from the next frame the service renders: a frame of a changed picture.
        ++window.generation;
        paint_now(window);
        CHECK(poll_until(session, [&](const Frame &f) { return shows_scrgb(f, window, 200.0 / 80.0); }));
        info = frame_info(session);
        CHECK(info.dxgi_format == 10 && info.bytes_per_pixel == 8 && info.hdr == 1);
        CHECK(info.sdr_white_nits == 80.0f);  // what the library could read
        destroy(session);
    }
    service.set_sdr_white(80.0f);
    report_hdr(nullptr);
}

// A monitor: frames of the whole (virtual) screen, showing the window where it is.
void monitor() {
    TestWindow window;
    open_window(window);
    HMONITOR primary = MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
    wgc_session session = dll.wgc_session_create2(primary);
    CHECK(session != nullptr);
    if (!session) return;
    CHECK(dll.wgc_session_start(session) == 1);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    CHECK(poll_until(session, [&](const Frame &f) {
        return f.width == width && f.height == height && shows_on_screen(f, window);
    }));
    destroy(session);
}

// The switches reach the service's session, before and after the start, with their effects as the service
// models them: the cursor drawn into frames, the minimum update interval throttling frames of a window that
// changes 60 times a second. A running capture's switches from another thread take effect at once. Where the
// system lacks the properties, the start says so and the service's session is never asked.
void switches() {
    TestWindow window;
    open_window(window);
    const RECT cursor{50, 60, 50 + kCursorSize, 60 + kCursorSize};
    POINT at{cursor.left, cursor.top}, was{};
    ClientToScreen(window.handle, &at);
    GetCursorPos(&was);  // put back at the end: the X server keeps it for the programs that follow
    SetCursorPos(at.x, at.y);
    wgc_session session = dll.wgc_session_create(window.handle);
    if (!session) return;
    CHECK(dll.wgc_enable_cursor(session, 1) == 1);
    CHECK(dll.wgc_show_border(session, 0) == 1);
    CHECK(dll.wgc_session_start(session) == 1);
    int cursor_on = -1, border = -1;
    service.switches(&cursor_on, &border);
    CHECK(cursor_on == 1 && border == 0);
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window, cursor); }));
    CHECK(dll.wgc_enable_cursor(session, 0) == 1);
    CHECK(dll.wgc_show_border(session, 1) == 1);
    service.switches(&cursor_on, &border);
    CHECK(cursor_on == 0 && border == 1);
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    SetCursorPos(was.x, was.y);
    uint8_t cursor_set = 0, border_set = 0;
    std::thread([&] {
        cursor_set = dll.wgc_enable_cursor(session, 1);
        border_set = dll.wgc_show_border(session, 0);
    }).join();
    CHECK(cursor_set == 1 && border_set == 1);
    service.switches(&cursor_on, &border);
    CHECK(cursor_on == 1 && border == 0);
    destroy(session);

    service.set_contract(9);  // before the cursor property (10) and the border property (12)
    wgc_test::log_lines().clear();
    session = dll.wgc_session_create(window.handle);
    CHECK(dll.wgc_enable_cursor(session, 1) == 0);
    CHECK(dll.wgc_session_start(session) == 1);
    CHECK(logged("IsCursorToggleSupported: no"));
    CHECK(logged("IsBorderRequiredSupported: no"));
    CHECK(dll.wgc_show_border(session, 0) == 0);
    CHECK(dll.wgc_set_min_update_interval(session, 1000) == 0);
    CHECK(logged("Failed to set min update interval 1000us", 2));
    service.switches(&cursor_on, &border);
    CHECK(cursor_on == 1 && border == 0);  // unchanged since the first session
    destroy(session);

    service.set_contract(19);  // the minimum update interval's
    session = dll.wgc_session_create(window.handle);
    CHECK(dll.wgc_set_min_update_interval(session, 200000) == 1);
    CHECK(dll.wgc_session_start(session) == 1);
    CHECK(service.interval() == 2000000);
    {
        Presenter presenter(window.handle);
        const long frames = service.frames();
        for (const ULONGLONG end = GetTickCount64() + 1000; GetTickCount64() < end; Sleep(5)) poll(session);
        CHECK(service.frames() - frames <= 1000 / 200 + 2);  // one an interval, and the second's two edges
        uint8_t interval_set = 0;
        std::thread([&] { interval_set = dll.wgc_set_min_update_interval(session, 0); }).join();
        CHECK(interval_set == 1);
        CHECK(service.interval() == 0);
    }
    // The service's session refusing each switch once.
    const struct {
        const char *line;
        uint8_t (*set)(wgc_session);
    } refusals[] = {
        {"Failed to apply cursor switch, Winrt exception:-2147467259",
         [](wgc_session s) { return dll.wgc_enable_cursor(s, 1); }},
        {"Failed to apply border switch, Winrt exception:-2147467259",
         [](wgc_session s) { return dll.wgc_show_border(s, 1); }},
        {"Failed to apply min update interval switch, Winrt exception:-2147467259",
         [](wgc_session s) { return dll.wgc_set_min_update_interval(s, 5000); }},
    };
    for (const auto &refusal : refusals) {
        fail_next(nullptr, kFailSwitch, E_FAIL);
        CHECK(refusal.set(session) == 0);
        CHECK(logged(refusal.line, 3));
    }
    destroy(session);

    service.set_contract(12);
}

// The user denied capture without the border (the answer is kept for the process, so this case runs in a
// process of its own). First a system without the consent's class: hiding the border is refused and the switch
// stays as it was. Then an answer that does not come at once: nothing waits for it, a hide is accepted, and the
// refusal that comes is told by the session's next call, once. Hiding it later is refused, leaving the switch
// shown, and a start again keeps the border.
void borderless_denied() {
    TestWindow window;
    open_window(window);
    wgc_session session = dll.wgc_session_create(window.handle);
    if (!session) return;
    CHECK(dll.wgc_show_border(session, 1) == 1);
    service.set_borderless_access(-1);
    wgc_test::log_lines().clear();
    CHECK(dll.wgc_show_border(session, 0) == 0);
    CHECK(logged("Failed to hide border: borderless capture access cannot be asked, hr:80040111", 2));
    CHECK(!logged("Set hide border"));
    service.set_borderless_access(-2);
    CHECK(dll.wgc_show_border(session, 0) == 1);
    CHECK(dll.wgc_session_start(session) == 1);
    int cursor = -1, border = -1;
    service.switches(&cursor, &border);
    CHECK(border == 1);                // not allowed, so far
    service.set_borderless_access(2);  // DeniedByUser
    wgc_test::log_lines().clear();
    CHECK(dll.wgc_get_status(session) == 1);
    CHECK(dll.wgc_get_status(session) == 1);
    int warnings = 0;
    for (const wgc_test::LogLine &line : wgc_test::log_lines())
        warnings +=
            line.level == 2 && line.text == "Failed to hide border: borderless capture access denied, status 2";
    CHECK(warnings == 1);
    CHECK(dll.wgc_show_border(session, 1) == 1);
    wgc_test::log_lines().clear();
    CHECK(dll.wgc_show_border(session, 0) == 0);
    CHECK(logged("Failed to hide border: borderless capture access denied, status 2", 2));
    CHECK(dll.wgc_session_start(session) == 1);
    CHECK(logged("Wgc border Enable "));
    service.switches(&cursor, &border);
    CHECK(border == 1);
    destroy(session);
    service.set_borderless_access(4);
}

// A failure at each step of the start, injected in the service, the device interop and Direct3D, reaches the host
// as a failed start with the library's failure line and the injected HRESULT, and leaves nothing alive. The
// library keeps the item interop factory once it has it, so this case runs before any start succeeds. Then a
// failing Close at the session's destruction, told with the text of the error object the service left.
void service_failures() {
    TestWindow window;
    open_window(window);
    const wchar_t *const kService = nullptr;
    struct Case {
        const wchar_t *module;
        int fault;
        HRESULT hr;
        const char *line;
        bool monitor;
    };
    const Case cases[] = {
        {L"dxgi.dll", kFailCreateFactory, E_FAIL, "Failed to create dxgi factory1, hr:80004005", false},
        {L"dxgi.dll", kFailEnumAdapters, DXGI_ERROR_NOT_FOUND, "Failed to find any adapter to create d3d11 device",
         false},
        {L"d3d11.dll", kFailCreateDevice, DXGI_ERROR_UNSUPPORTED, "Failed to create d3d11 device,hr:887a0004",
         false},
        {L"d3d11.dll", kFailDxgiDevice, E_NOINTERFACE, "Failed to QueryInterface[IDXGIDevice]. hr:80004002", false},
        {L"d3d11.dll", kFailDeviceInterop, E_NOINTERFACE,
         "Failed to call CreateDirect3D11DeviceFromDXGIDevice, hr:80004002", false},
        {kService, kFailItemFactory, REGDB_E_CLASSNOTREG, "Failed to get IGraphicsCaptureItemInterop, hr:80040154",
         false},
        {kService, kFailCreateForWindow, E_ACCESSDENIED,
         "Failed to call IGraphicsCaptureItemInterop::CreateForWindow, hr:80070005", false},
        {kService, kFailCreateForMonitor, E_ACCESSDENIED,
         "Failed to call IGraphicsCaptureItemInterop::CreateForMonitor, hr:80070005", true},
        {kService, kFailCreatePool, E_OUTOFMEMORY, "Winrt exception:-2147024882", false},
        {kService, kFailCreateTexture, E_OUTOFMEMORY, "Winrt exception:-2147024882", false},  // the pool's buffers
        {kService, kFailCreateSession, E_FAIL, "Winrt exception:-2147467259", false},
        {kService, kFailStartCapture, E_ACCESSDENIED, "Winrt exception:-2147024891", false},
    };
    for (const Case &c : cases) {
        wgc_test::log_lines().clear();
        fail_next(c.module, c.fault, c.hr);
        wgc_session session = c.monitor ? dll.wgc_session_create2(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY))
                                        : dll.wgc_session_create(window.handle);
        CHECK(dll.wgc_session_start(session) == 0);
        CHECK(dll.wgc_get_status(session) == 0);
        CHECK(dll.wgc_get_last_error(session) == c.hr);
        CHECK(faults_pending(c.module) == 0);
        const bool told = logged(c.line, 3);
        if (!told) std::printf("no failure line \"%s\"\n", c.line);
        CHECK(told);
        destroy(session);
    }
    // A window that is gone before the start.
    TestWindow gone;
    open_window(gone);
    DestroyWindow(gone.handle);
    painting = &window;
    wgc_session session = dll.wgc_session_create(gone.handle);
    CHECK(dll.wgc_session_start(session) == 0);
    CHECK(logged("Failed to call IGraphicsCaptureItemInterop::CreateForWindow, hr:80070057", 3));
    destroy(session);

    session = start(window, false);
    if (!session) return;
    wgc_test::log_lines().clear();
    fail_next(kService, kFailClosePool, E_FAIL);
    destroy(session);
    CHECK(logged("Exception catced The test capture service failed Close", 3));
}

// Two sessions started on one thread share its dispatcher queue: both capture, destroying one leaves the other
// capturing, the last one's destroy leaves the host's messages in its queue, and once the host's loop has run
// nothing of the queue is left and a new session starts; a session started right after a destroy is told its
// target's closing; a thread that exits after its last destroy leaves no queue behind.
void second_session() {
    TestWindow window;
    open_window(window);
    wgc_session first = start(window, false);
    if (!first) return;
    wgc_session second = start(window, true);
    CHECK(poll_until(first, [&](const Frame &f) { return shows(f, window); }));
    CHECK(poll_until(second, [&](const Frame &f) { return shows(f, window); }));
    dll.wgc_session_destroy(second);
    window.mark({200, 150, 210, 160}, 0xff00ffffu);
    CHECK(poll_until(first, [&](const Frame &f) { return shows(f, window); }));
    post_host_messages(window.handle);
    dll.wgc_session_destroy(first);  // the thread's last session
    CHECK(host_messages_kept(window.handle));
    all_released();

    wgc_session third = start(window, false);
    if (!third) return;
    CHECK(poll_until(third, [&](const Frame &f) { return shows(f, window); }));

    // Destroyed and another started at once, before the thread dispatches (a host switching targets): the new
    // capture goes through the thread's live queue, and its target's closing comes through it (the status alone
    // does not look at the window).
    dll.wgc_session_destroy(third);
    TestWindow other;
    open_window(other);
    wgc_session fourth = start(other, false);
    if (!fourth) return;
    DestroyWindow(other.handle);
    const ULONGLONG deadline = GetTickCount64() + 5000;
    for (MSG message; dll.wgc_get_status(fourth) != 0 && GetTickCount64() < deadline; Sleep(5))
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    CHECK(dll.wgc_get_status(fourth) == 0);
    destroy(fourth);

    // A thread that starts, polls, destroys and exits without a loop of its own shuts its queue down as it goes.
    std::thread([&] {
        wgc_session fifth = start(window, false);
        if (!fifth) return;
        CHECK(poll_until(fifth, [&](const Frame &f) { return shows(f, window); }));
        dll.wgc_session_destroy(fifth);
    }).join();
    CHECK(module_live_objects(L"coremessaging.dll") == 0);
    all_released();
}

// Direct3D failing under a running capture: the staging texture or its map fails once, and the picture is read
// through a copy of its own, whole and exact; the pool's buffers cannot be made at a resize, which is told once
// and tried again with the next frame; then the device is removed, which ends the capture with its line, and a
// start on a new device captures again; removed once more with recovery on, the capture is rebuilt by the polls.
void device_faults() {
    TestWindow window;
    open_window(window);
    wgc_session session = start(window, false);
    if (!session) return;
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    fail_next(L"d3d11.dll", kFailStagingTexture, E_OUTOFMEMORY);  // the staging texture of the new size
    resize_window(window, {kWidth + 30, kHeight + 20});
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    fail_next(L"d3d11.dll", kFailMap, DXGI_ERROR_WAS_STILL_DRAWING);
    window.mark({10, 10, 20, 20}, 0xff00ff00u);
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    CHECK(faults_pending(L"d3d11.dll") == 0);
    // Taking the frame fails once (it stays queued for the next call), then reading its surface (that frame
    // is dropped, and the next change read as usual).
    for (const int fault : {kFailTryGetNextFrame, kFailSurface}) {
        const int at = (fault - kFailTryGetNextFrame) * 15;  // marks of their own: an earlier one would hide them
        fail_next(nullptr, fault, E_FAIL);
        window.mark({10, 30 + at, 20, 40 + at}, 0xff00ff00u);
        for (const ULONGLONG deadline = GetTickCount64() + 5000;
             faults_pending(nullptr) != 0 && GetTickCount64() < deadline; Sleep(5))
            poll(session);
        window.mark({25 + at, 10, 30 + at, 15}, 0xff000000u);
        CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    }

    wgc_test::log_lines().clear();
    fail_next(nullptr, kFailCreateTexture, E_OUTOFMEMORY);
    resize_window(window, {kWidth + 60, kHeight + 40});
    CHECK(poll_until(session, [&](const Frame &) {
        return logged("Failed to recreate the frame pool at 361x243, hr:8007000e", 3);
    }));
    window.mark({70, 70, 80, 80}, 0xff00ffffu);  // its frame has the pool made again, whose first frame is whole
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));

    // Removed while the start thread waits: the wait ends within 250 ms and the status reads 0 at once; the
    // next poll tells the loss.
    wgc_test::log_lines().clear();
    while (dll.wgc_wait_for_frame(session, 100) == 1) poll(session);  // until the still window sends none
    ULONGLONG removed_at = 0;
    std::thread remover([&] {
        Sleep(20);
        removed_at = GetTickCount64();
        module_function<void WINAPI()>(L"d3d11.dll", "corvo_test_remove_device")();
    });
    CHECK(dll.wgc_wait_for_frame(session, 5000) == 0);
    const ULONGLONG returned_at = GetTickCount64();
    remover.join();
    CHECK(returned_at - removed_at < 250);
    CHECK(dll.wgc_get_status(session) == 0);
    poll(session);
    CHECK(logged("Capture device lost, reason:887a0005; the capture has ended", 3));
    CHECK(dll.wgc_session_start(session) == 1);
    window.mark({50, 50, 60, 60}, 0xff0000ffu);
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));

    // With recovery on, the polls after a removal rebuild the capture on a new device: the status stays 1, the
    // loss and the capture again are told once each, and exact frames of the new device come within seconds. The
    // test holds the removed device, so that the new one cannot take its address.
    CHECK(frame_info(session).device_generation == 1);
    CHECK(dll.wgc_set_recovery(session, 1) == 1);
    ID3D11Device *lost = dll.wgc_get_device(session);
    lost->AddRef();
    wgc_test::log_lines().clear();
    module_function<void WINAPI()>(L"d3d11.dll", "corvo_test_remove_device")();
    window.mark({80, 50, 90, 60}, 0xffff00ffu);
    bool status_kept = true, rebuilt = false;
    for (const ULONGLONG deadline = GetTickCount64() + 5000; !rebuilt && GetTickCount64() < deadline; Sleep(5)) {
        const Frame frame = poll(session);
        status_kept = status_kept && dll.wgc_get_status(session) == 1;
        rebuilt = frame.got && frame_info(session).device_generation == 2 && shows(frame, window);
    }
    CHECK(status_kept);
    CHECK(rebuilt);
    CHECK(dll.wgc_get_device(session) != nullptr && dll.wgc_get_device(session) != lost);
    const auto count = [](const std::string &text, int level) {
        const std::vector<wgc_test::LogLine> &lines = wgc_test::log_lines();
        return std::count_if(lines.begin(), lines.end(), [&](const wgc_test::LogLine &line) {
            return line.text == text && line.level == level;
        });
    };
    CHECK(count("Capture device lost, reason:887a0005; rebuilding", 2) == 1);
    CHECK(count("Wgc capture rebuilt, device generation 2", 1) == 1);
    CHECK(!logged("Capture device lost, reason:887a0005; the capture has ended"));
    lost->Release();
    destroy(session);
}

// A thread whose dispatcher queue is the host's own: the library captures through it, leaves it running when the
// session goes, and the host shuts it down, pumping messages until its shutdown completes.
void host_queue() {
    TestWindow window;
    open_window(window);  // painted by this thread, before the other one captures it
    std::thread([&] {
        using namespace wine_wgc;
        auto *create = reinterpret_cast<HRESULT(WINAPI *)(DispatcherQueueOptions, IDispatcherQueueController **)>(
            reinterpret_cast<void *>(
                GetProcAddress(LoadLibraryW(L"coremessaging.dll"), "CreateDispatcherQueueController")));
        const DispatcherQueueOptions options{sizeof(DispatcherQueueOptions), kThreadCurrent, 0};
        Ref<IDispatcherQueueController> controller;
        CHECK(create && SUCCEEDED(create(options, controller.put())));
        if (!controller) return;
        if (wgc_session session = start(window, false)) {
            CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
            dll.wgc_session_destroy(session);
        }
        Ref<IDispatcherQueueController> second;
        CHECK(create(options, second.put()) == RPC_E_WRONG_THREAD);  // the host's queue is still the thread's
        Ref<IAsyncAction> shutdown;
        Ref<IAsyncInfo> info;
        CHECK(SUCCEEDED(controller->ShutdownQueueAsync(shutdown.put())) && shutdown &&
              SUCCEEDED(shutdown->QueryInterface(IAsyncInfo::iid, reinterpret_cast<void **>(info.put()))));
        AsyncStatus status = AsyncStarted;
        for (const ULONGLONG deadline = GetTickCount64() + 5000;
             info && SUCCEEDED(info->get_Status(&status)) && status == AsyncStarted && GetTickCount64() < deadline;
             Sleep(1))
            for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&message);
        CHECK(status == AsyncCompleted);
    }).join();
    CHECK(service.live_objects() == 0);
    CHECK(module_live_objects(L"coremessaging.dll") == 0);
    CHECK(module_live_objects(L"d3d11.dll") == 0);
}

// One session started twice on its thread: the second start replaces the device and the whole pipeline, leaving
// the host's messages alone, and frames of the new device keep coming, in buffer mode and then in texture mode.
void restart() {
    TestWindow window;
    open_window(window);
    wgc_session session = start(window, false);
    if (!session) return;
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    post_host_messages(window.handle);
    CHECK(dll.wgc_session_start(session) == 1);
    CHECK(host_messages_kept(window.handle));
    window.mark({200, 150, 210, 160}, 0xff00ffffu);
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    dll.wgc_set_capture_to_texture(session, 1);
    window.mark({100, 100, 110, 110}, 0xffff00ffu);  // a texture is handed out from a frame read in texture mode
    CHECK(poll_until(session, [&](const Frame &f) {
        static_cast<ID3D11Texture2D *>(f.data)->Release();
        return true;
    }));
    CHECK(dll.wgc_session_start(session) == 1);
    window.mark({0, 0, 5, 5}, 0xff0000ffu);
    CHECK(poll_until(session, [&](const Frame &f) {
        auto *texture = static_cast<ID3D11Texture2D *>(f.data);
        ID3D11Device *device = nullptr;
        texture->GetDevice(&device);
        const bool current = device == dll.wgc_get_device(session);
        device->Release();
        const std::vector<uint32_t> pixels = read_texture(texture);
        texture->Release();
        return current && pixels.size() == size_t(kWidth) * kHeight && shows(pixels.data(), kWidth, kHeight, window);
    }));
    destroy(session);
}

// The poll hands out the newest picture however long the host did not poll, in both outputs: pictures 1 to 5
// painted, each seen by the service's clock, then one poll shows picture 5; one change followed by ticks that
// see no change, then one poll shows it; a window painted at 60 pictures a second while the host sleeps
// 500 ms, then one poll shows a picture at most two presenter periods old. No picture is dropped for want of
// a free buffer meanwhile.
void newest_picture() {
    for (const bool texture_mode : {false, true}) {
        TestWindow window;
        open_window(window);
        wgc_session session = dll.wgc_session_create(window.handle);
        if (!session) return;
        dll.wgc_set_capture_to_texture(session, texture_mode ? 1 : 0);
        CHECK(dll.wgc_session_start(session) == 1);
        CHECK(poll_until(session, [&](const Frame &f) {
            if (texture_mode) static_cast<ID3D11Texture2D *>(f.data)->Release();
            return true;
        }));
        const long dropped = service.dropped(), frames = service.frames();
        wgc_frame_info before{};
        before.size = sizeof before;
        CHECK(dll.wgc_get_frame_info(session, &before) == 1);

        for (window.generation = 1; window.generation <= 5; ++window.generation) {
            paint_now(window);
            wait_for_service_clock();
        }
        --window.generation;
        CHECK(service.frames() - frames >= 5);              // rendered while the host did not poll
        CHECK(dll.wgc_wait_for_frame(session, 5000) == 1);  // waiting already: no dispatching needed
        CHECK(shows(poll_picture(session, texture_mode), window));
        // The frames never handed out show as a gap in the numbers; the service's clock moved on.
        wgc_frame_info after{};
        after.size = sizeof after;
        CHECK(dll.wgc_get_frame_info(session, &after) == 1);
        CHECK(after.is_new == 1 && after.frame_number >= before.frame_number + 5);
        CHECK(after.system_time > before.system_time);
        CHECK(dll.wgc_wait_for_frame(session, 50) == 0);  // a still window renders nothing new

        window.mark({20, 30, 60, 50}, 0xff102030u);
        UpdateWindow(window.handle);
        wait_for_service_clock(10);
        CHECK(shows(poll_picture(session, texture_mode), window));

        {
            Presenter presenter(window.handle);
            Sleep(500);
            const long newest = presenter.presented();
            const Picture picture = poll_picture(session, texture_mode);
            CHECK(picture.got && !picture.pixels.empty());
            const long shown = picture.pixels.empty() ? -1 : Presenter::number_of(picture.pixels[0]);
            if (newest - shown > 2 || shown < 1)
                std::printf("presented %ld pictures, the poll showed picture %ld\n", newest, shown);
            CHECK(shown >= 1 && newest - shown <= 2);
        }
        CHECK(service.dropped() == dropped);
        destroy(session);
    }
}

struct NamedCase {
    const wchar_t *name;
    void (*run)();
};
// A window with a title bar and borders, whose frames show them: with the client area on, exactly the client
// pixels, also after a resize; a region of a monitor, the client area's place on the screen, exactly those pixels.
void client_area() {
    TestWindow window;
    open_window(window, L"corvo wine client area", kWidth, kHeight, WS_OVERLAPPEDWINDOW);
    RECT bounds{}, area{};
    GetWindowRect(window.handle, &bounds);
    GetClientRect(window.handle, &area);
    CHECK(bounds.right - bounds.left > area.right && bounds.bottom - bounds.top > area.bottom);  // it has a frame
    wgc_session session = dll.wgc_session_create(window.handle);
    CHECK(session != nullptr);
    if (!session) return;
    CHECK(dll.wgc_set_client_area(session, 1) == 1);
    CHECK(dll.wgc_session_start(session) == 1);
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    resize_window(window, {kWidth + 40, kHeight + 30});
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));

    // Minimised, it has no client area: whatever frames still come, every poll hands out the picture before;
    // restored, its client area again.
    const Frame last = poll(session);
    const auto *first = static_cast<const uint32_t *>(last.data);
    const std::vector<uint32_t> before(first, first + size_t(last.width) * size_t(last.height));
    const long frames = service.frames();
    ShowWindow(window.handle, SW_MINIMIZE);
    CHECK(IsIconic(window.handle));
    // At least 300 ms, and until the service made a frame of the minimised window's rectangle.
    bool kept = true;
    const ULONGLONG since = GetTickCount64();
    while (GetTickCount64() < since + 300 || (service.frames() == frames && GetTickCount64() < since + 5000)) {
        const Frame f = poll(session);
        kept = kept && f.got && f.width == last.width && f.height == last.height &&
               std::equal(before.begin(), before.end(), static_cast<const uint32_t *>(f.data));
        Sleep(5);
    }
    CHECK(kept && service.frames() > frames);
    ShowWindow(window.handle, SW_RESTORE);
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    destroy(session);

    GetClientRect(window.handle, &area);
    MapWindowPoints(window.handle, nullptr, reinterpret_cast<POINT *>(&area), 2);
    session = dll.wgc_session_create2(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY));
    CHECK(session != nullptr);
    if (!session) return;
    CHECK(dll.wgc_set_client_area(session, 1) == 0);  // a monitor has none
    const wgc_rect region{area.left, area.top, area.right, area.bottom};
    CHECK(dll.wgc_set_region(session, &region) == 1);
    CHECK(dll.wgc_session_start(session) == 1);
    CHECK(poll_until(session, [&](const Frame &f) { return shows(f, window); }));
    destroy(session);
    DestroyWindow(window.handle);
}

constexpr NamedCase kCases[] = {
    {L"service_failures", service_failures},
    {L"buffer_mode", buffer_mode},
    {L"change_detection", change_detection},
    {L"texture_mode", texture_mode},
    {L"resize", resize},
    {L"window_closed", window_closed},
    {L"monitor", monitor},
    {L"hdr_formats", hdr_formats},
    {L"switches", switches},
    {L"second_session", second_session},
    {L"host_queue", host_queue},
    {L"restart", restart},
    {L"device_faults", device_faults},
    {L"newest_picture", newest_picture},
    {L"borderless_denied", borderless_denied},
    {L"client_area", client_area},
};

}  // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc < 4) {
        std::printf("usage: capture_host <libcorvo-wgc.dll> <corvo_capture_service.dll> <case>...\n");
        return 2;
    }
    if (!dll.load(argv[1])) return wgc_test::finish("capture_host");
    if (!service.load(argv[2])) {
        std::printf("cannot load the capture service's test exports from %ls\n", argv[2]);
        return 2;
    }
    dll.wgc_register_logger(wgc_test::record_line);
    for (int i = 3; i < argc; ++i) {
        const auto found = std::find_if(std::begin(kCases), std::end(kCases), [&](const NamedCase &c) {
            return std::wcscmp(c.name, argv[i]) == 0;
        });
        if (found == std::end(kCases)) {
            std::printf("no case %ls\n", argv[i]);
            return 2;
        }
        const int failures_before = wgc_test::failures;
        const ULONGLONG began = GetTickCount64();
        found->run();
        std::printf("%ls: %s (%llu ms)\n", found->name, wgc_test::failures == failures_before ? "passed" : "FAILED",
                    GetTickCount64() - began);
    }
    std::printf("frames made by the capture service: %ld\n", service.frames());
    return wgc_test::finish("capture_host");
}
