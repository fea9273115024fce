// corvo-capture.exe end to end: this program opens a window with a title and known content, runs the command
// line on it by that title with change detection and PNG output for a few seconds (as a user on Windows would),
// moves a square in the window now and then, and checks the exit status, the summary and the PNGs.
#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../windows/check.h"

namespace {

constexpr wchar_t kTitle[] = L"corvo capture target";
constexpr int kWidth = 320, kHeight = 200, kSquare = 20;
constexpr COLORREF kLeft = RGB(200, 30, 30), kRight = RGB(30, 30, 200), kMark = RGB(30, 200, 30);
int step = 0;  // the square's position; each step is a new picture

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_PAINT) return DefWindowProcW(window, message, wparam, lparam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    auto fill = [&](RECT r, COLORREF color) {
        HBRUSH brush = CreateSolidBrush(color);
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    };
    fill({0, 0, kWidth / 2, kHeight}, kLeft);
    fill({kWidth / 2, 0, kWidth, kHeight}, kRight);
    const int x = 40 + (step % 8) * 30;
    fill({x, 90, x + kSquare, 90 + kSquare}, kMark);
    EndPaint(window, &paint);
    return 0;
}

std::string read_file(const std::wstring &path) {
    std::string text;
    if (FILE *file = _wfopen(path.c_str(), L"rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
        std::fclose(file);
    }
    return text;
}

// The number after `label` in the summary, or -1.
long long summary_value(const std::string &text, const char *label) {
    const size_t at = text.find(label);
    if (at == std::string::npos) return -1;
    return std::strtoll(text.c_str() + at + std::strlen(label), nullptr, 10);
}

std::vector<std::wstring> frame_files(const std::wstring &folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\frame-*.png").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(folder + L"\\" + found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// A PNG decoded to B, G, R, A rows; empty when it does not decode.
struct Picture {
    UINT width = 0, height = 0;
    std::vector<uint8_t> pixels;
    bool has(int x, int y, COLORREF color) const {
        if (x < 0 || y < 0 || UINT(x) >= width || UINT(y) >= height) return false;
        const uint8_t *p = &pixels[(size_t(y) * width + size_t(x)) * 4];
        return p[2] == GetRValue(color) && p[1] == GetGValue(color) && p[0] == GetBValue(color) && p[3] == 255;
    }
};

Picture decode(IWICImagingFactory *factory, const std::wstring &path) {
    Picture picture;
    IWICBitmapDecoder *decoder = nullptr;
    IWICBitmapFrameDecode *frame = nullptr;
    IWICFormatConverter *converter = nullptr;
    if (SUCCEEDED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                        WICBitmapPaletteTypeCustom)) &&
        SUCCEEDED(converter->GetSize(&picture.width, &picture.height))) {
        picture.pixels.resize(size_t(picture.width) * picture.height * 4);
        if (FAILED(converter->CopyPixels(nullptr, picture.width * 4, UINT(picture.pixels.size()),
                                         picture.pixels.data())))
            picture.pixels.clear();
    }
    if (converter) converter->Release();
    if (frame) frame->Release();
    if (decoder) decoder->Release();
    return picture;
}

// Runs corvo-capture.exe with `arguments`, dispatching this program's messages meanwhile; its exit code, and its
// output in `output`.
DWORD run_cli(const std::wstring &program, const std::wstring &arguments, const std::wstring &log_path,
              std::string &output) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE log = CreateFileW(log_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::wstring command = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = log;
    startup.hStdError = log;
    PROCESS_INFORMATION process{};
    const bool started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(log);
    DWORD exit_code = DWORD(-1);
    if (started) {
        while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        }
        GetExitCodeProcess(process.hProcess, &exit_code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    output = read_file(log_path);
    DeleteFileW(log_path.c_str());
    std::printf("corvo-capture %ls said:\n%s", arguments.c_str(), output.c_str());
    return exit_code;
}

// The line --list prints for a window, without its end (which the console's text mode makes \r\n).
std::string listed(HWND window, const char *size, const char *title) {
    char line[160];
    std::snprintf(line, sizeof line, "  0x%llx %s \"%s\"",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)), size, title);
    return line;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) {
        std::printf("usage: capture_cli_host <corvo-capture.exe>\n");
        return 2;
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"corvo-capture-e2e-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring log_path = folder + L".log";

    WNDCLASSW window_class{};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"corvo-capture-e2e";
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, kTitle, WS_POPUP | WS_VISIBLE, 60, 60, kWidth,
                                  kHeight, nullptr, nullptr, window_class.hInstance, nullptr);
    CHECK(window != nullptr);
    UpdateWindow(window);

    // The command line's output goes to a file this program reads afterwards.
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE log = CreateFileW(log_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::wstring command = L"\"" + std::wstring(argv[1]) + L"\" --window \"" + kTitle +
                           L"\" --dirty-rect --seconds 6 --out \"" + folder + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = log;
    startup.hStdError = log;
    PROCESS_INFORMATION process{};
    const bool started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CHECK(started);
    CloseHandle(log);
    if (!started) return wgc_test::finish("capture_cli_host");

    // This window paints while the command line captures it: a new picture about every 400 ms, with unchanged
    // frames in between.
    ULONGLONG next_step = GetTickCount64() + 400;
    while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 20, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        if (GetTickCount64() >= next_step) {
            ++step;
            InvalidateRect(window, nullptr, FALSE);
            next_step += 400;
        }
    }
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    const std::string output = read_file(log_path);
    std::printf("corvo-capture said:\n%s", output.c_str());
    CHECK(exit_code == 0);

    // The summary counts new frames (each a PNG) and frames skipped as unchanged.
    const long long new_frames = summary_value(output, "new frames");
    const long long skipped = summary_value(output, "skipped as unchanged");
    const long long written = summary_value(output, "wrote ");
    CHECK(new_frames >= 3);
    CHECK(skipped >= 1);
    CHECK(written == new_frames);
    CHECK(summary_value(output, "frames polled") == new_frames + skipped);
    CHECK(read_file(folder + L"\\summary.json").find("\"new_frames\": " + std::to_string(new_frames)) !=
          std::string::npos);

    // Every PNG decodes to the window's picture: its size, both halves, the square somewhere on its row.
    const std::vector<std::wstring> files = frame_files(folder);
    CHECK(static_cast<long long>(files.size()) == written);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IWICImagingFactory *factory = nullptr;
    CHECK(SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                     reinterpret_cast<void **>(&factory))));
    int squares_seen = 0;
    int last_square = -1;
    for (const std::wstring &file : files) {
        if (!factory) break;
        const Picture picture = decode(factory, file);
        CHECK(picture.width == UINT(kWidth) && picture.height == UINT(kHeight));
        CHECK(picture.has(5, 5, kLeft) && picture.has(kWidth - 5, kHeight - 5, kRight));
        for (int x = 40; x < kWidth; x += 30)
            if (picture.has(x + kSquare / 2, 100, kMark) && x != last_square) {
                ++squares_seen;
                last_square = x;
            }
        DeleteFileW(file.c_str());
    }
    CHECK(squares_seen >= 2);  // the PNGs follow the window as it changes
    if (factory) factory->Release();
    DeleteFileW((folder + L"\\summary.json").c_str());
    RemoveDirectoryW(folder.c_str());
    DeleteFileW(log_path.c_str());

    // --list offers the visible, titled, unminimised windows and the monitor; --window takes a part of a title
    // that one window has, and names the candidates when several have it.
    auto make_window = [&](const wchar_t *title, DWORD style) {
        return CreateWindowExW(0, window_class.lpszClassName, title, WS_POPUP | style, 400, 60, 100, 80, nullptr,
                               nullptr, window_class.hInstance, nullptr);
    };
    HWND second = make_window(L"corvo capture target two", WS_VISIBLE);
    HWND hidden = make_window(L"corvo capture hidden", 0);
    HWND minimised = make_window(L"corvo capture minimised", WS_VISIBLE);
    ShowWindow(minimised, SW_MINIMIZE);
    CHECK(second && hidden && minimised && IsIconic(minimised));
    std::string listing;
    CHECK(run_cli(argv[1], L"--list", log_path, listing) == 0);
    CHECK(listing.find(listed(window, "320x200", "corvo capture target")) != std::string::npos);
    CHECK(listing.find(listed(second, "100x80", "corvo capture target two")) != std::string::npos);
    CHECK(listing.find("corvo capture hidden") == std::string::npos);
    CHECK(listing.find("corvo capture minimised") == std::string::npos);
    const std::string monitor = "  0 at 0,0 " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
                                std::to_string(GetSystemMetrics(SM_CYSCREEN));
    CHECK(listing.find("1 monitor:") != std::string::npos && listing.find(monitor) != std::string::npos);
    std::string ambiguous;
    CHECK(run_cli(argv[1], L"--window \"Capture Target\" --frames 1", log_path, ambiguous) == 1);
    CHECK(ambiguous.find("2 windows have \"Capture Target\" in their title") != std::string::npos);
    CHECK(ambiguous.find(listed(second, "100x80", "corvo capture target two")) != std::string::npos);
    std::string unique;
    CHECK(run_cli(argv[1], L"--window \"TARGET TWO\" --frames 1", log_path, unique) == 0);
    CHECK(summary_value(unique, "frames polled") == 1);
    DestroyWindow(minimised);
    DestroyWindow(hidden);
    DestroyWindow(second);
    DestroyWindow(window);
    return wgc_test::finish("capture_cli_host");
}
