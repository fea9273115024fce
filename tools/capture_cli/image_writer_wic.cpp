// PNG files through the Windows Imaging Component, the system's own encoder, so the Windows build of the
// command line needs no library besides the system's.
#include <windows.h>
#include <wincodec.h>

#include "tools/capture_cli/png_writer.h"

namespace capture_cli {
namespace {

template <class I>
struct Released {
    I *p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
};

std::wstring widen(const std::string &utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), length);
    return wide;
}

std::string failed(const std::string &path, const char *step, HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "%08lx", static_cast<unsigned long>(hr));
    return path + ": " + step + " failed, hr:" + code;
}

}  // namespace

std::string write_png(const std::string &path, const uint8_t *bgra, int32_t width, int32_t height) {
    // The capture library may have set this thread's apartment already; any apartment serves the encoder.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    struct Uninitialize {
        bool owned;
        ~Uninitialize() {
            if (owned) CoUninitialize();
        }
    } uninitialize{SUCCEEDED(com)};

    Released<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void **>(&factory.p));
    if (FAILED(hr)) return failed(path, "creating the imaging factory", hr);
    Released<IWICStream> stream;
    Released<IWICBitmapEncoder> encoder;
    Released<IWICBitmapFrameEncode> frame;
    hr = factory.p->CreateStream(&stream.p);
    if (SUCCEEDED(hr)) hr = stream.p->InitializeFromFilename(widen(path).c_str(), GENERIC_WRITE);
    if (FAILED(hr)) return failed(path, "opening", hr);
    hr = factory.p->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder.p);
    if (SUCCEEDED(hr)) hr = encoder.p->Initialize(stream.p, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder.p->CreateNewFrame(&frame.p, nullptr);
    if (SUCCEEDED(hr)) hr = frame.p->Initialize(nullptr);
    if (SUCCEEDED(hr)) hr = frame.p->SetSize(UINT(width), UINT(height));
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (SUCCEEDED(hr)) hr = frame.p->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat32bppBGRA) hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (FAILED(hr)) return failed(path, "setting up the PNG encoder", hr);
    const UINT stride = UINT(width) * 4;
    hr = frame.p->WritePixels(UINT(height), stride, stride * UINT(height), const_cast<BYTE *>(bgra));
    if (SUCCEEDED(hr)) hr = frame.p->Commit();
    if (SUCCEEDED(hr)) hr = encoder.p->Commit();
    if (FAILED(hr)) return failed(path, "writing", hr);
    return "";
}

}  // namespace capture_cli
