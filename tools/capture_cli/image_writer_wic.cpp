// PNG and JPEG XR files through the Windows Imaging Component, the system's own encoders, so the Windows build of
// the command line needs no library besides the system's.
#include <windows.h>
#include <wincodec.h>

#include "tools/capture_cli/hdr_writer.h"
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

// Writes one frame of rows of width * bytes_per_pixel bytes in a container, in exactly the pixel format given.
std::string encode(const std::string &path, const GUID &container, const WICPixelFormatGUID &pixel_format,
                   UINT bytes_per_pixel, const void *pixels, int32_t width, int32_t height) {
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
    hr = factory.p->CreateEncoder(container, nullptr, &encoder.p);
    if (SUCCEEDED(hr)) hr = encoder.p->Initialize(stream.p, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder.p->CreateNewFrame(&frame.p, nullptr);
    if (SUCCEEDED(hr)) hr = frame.p->Initialize(nullptr);
    if (SUCCEEDED(hr)) hr = frame.p->SetSize(UINT(width), UINT(height));
    WICPixelFormatGUID format = pixel_format;
    if (SUCCEEDED(hr)) hr = frame.p->SetPixelFormat(&format);
    // The encoder answers with the nearest format it has; the rows are only in the one asked for.
    if (SUCCEEDED(hr) && format != pixel_format) hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (FAILED(hr)) return failed(path, "setting up the encoder", hr);
    const UINT stride = UINT(width) * bytes_per_pixel;
    hr = frame.p->WritePixels(UINT(height), stride, stride * UINT(height),
                              static_cast<BYTE *>(const_cast<void *>(pixels)));
    if (SUCCEEDED(hr)) hr = frame.p->Commit();
    if (SUCCEEDED(hr)) hr = encoder.p->Commit();
    if (FAILED(hr)) return failed(path, "writing", hr);
    return "";
}

}  // namespace

const char *const kHdrExtension = ".jxr";

std::string write_png(const std::string &path, const uint8_t *bgra, int32_t width, int32_t height) {
    return encode(path, GUID_ContainerFormatPng, GUID_WICPixelFormat32bppBGRA, 4, bgra, width, height);
}

std::string write_hdr(const std::string &path, const uint16_t *rgba_halves, int32_t width, int32_t height) {
    return encode(path, GUID_ContainerFormatWmp, GUID_WICPixelFormat64bppRGBAHalf, 8, rgba_halves, width, height);
}

}  // namespace capture_cli
