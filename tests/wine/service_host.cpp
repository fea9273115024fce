// The test capture service driven through its COM interfaces, without the library, on a real window: how its
// pools render and announce frames. A pool made with Create announces through the creating thread's
// dispatcher queue, so a thread that does not dispatch keeps only the first pictures (as many as the pool has
// buffers) and the later ones are never rendered; a pool made with CreateFreeThreaded (reached through slot 6
// of its statics, as the platform's table gives it) raises FrameArrived on the service's thread, whose handler
// may take frames, recreate the pool or close it there, and the host may close it while a handler runs.
#include <d3d11.h>
#include <roapi.h>

#include <cstdio>

#include "../windows/check.h"
#include "com_object.h"

using namespace wine_wgc;

namespace {

using TicksFn = long(WINAPI *)();
TicksFn ticks = nullptr, dropped = nullptr, service_live_objects = nullptr;

long generation = 0;  // the window's picture: a solid colour that tells its number

constexpr COLORREF color_of(long number) { return RGB(0x5a, (number >> 8) & 0xff, number & 0xff); }

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_PAINT) return DefWindowProcW(window, message, wparam, lparam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area{};
    GetClientRect(window, &area);
    HBRUSH brush = CreateSolidBrush(color_of(generation));
    FillRect(dc, &area, brush);
    DeleteObject(brush);
    EndPaint(window, &paint);
    return 0;
}

// Paints picture `number` at once, without dispatching.
void paint(HWND window, long number) {
    generation = number;
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
}

// Paints picture `number` and waits until the service's clock has seen it (one pool capturing).
void present(HWND window, long number) {
    paint(window, number);
    const long target = ticks() + 2;  // the second tick from now began after the paint
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (ticks() < target && GetTickCount64() < deadline) Sleep(2);
    CHECK(ticks() >= target);
}

void dispatch() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// The picture number a frame shows (its first pixel, read through a staging copy), -1 for none.
long number_shown(ID3D11Device *device, IDirect3D11CaptureFrame *frame) {
    if (!frame) return -1;
    Ref<IDirect3DSurface> surface;
    Ref<IDirect3DDxgiInterfaceAccess> access;
    Ref<ID3D11Texture2D> texture;
    if (FAILED(frame->get_Surface(surface.put())) ||
        FAILED(
            surface->QueryInterface(IDirect3DDxgiInterfaceAccess::iid, reinterpret_cast<void **>(access.put()))) ||
        FAILED(access->GetInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void **>(texture.put()))))
        return -1;
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    desc.Width = desc.Height = 1;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    Ref<ID3D11Texture2D> staging;
    Ref<ID3D11DeviceContext> context;
    device->GetImmediateContext(context.put());
    if (FAILED(device->CreateTexture2D(&desc, nullptr, staging.put()))) return -1;
    const D3D11_BOX first{0, 0, 0, 1, 1, 1};
    context->CopySubresourceRegion(staging.get(), 0, 0, 0, 0, texture.get(), 0, &first);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(context->Map(staging.get(), 0, D3D11_MAP_READ, 0, &mapped))) return -1;
    const uint32_t pixel = *static_cast<const uint32_t *>(mapped.pData);
    context->Unmap(staging.get(), 0);
    return (pixel & 0x00ff0000u) == 0x005a0000u ? long(pixel & 0xffff) : -1;
}

Ref<IDirect3D11CaptureFrame> next_frame(IDirect3D11CaptureFramePool *pool) {
    Ref<IDirect3D11CaptureFrame> frame;
    CHECK(SUCCEEDED(pool->TryGetNextFrame(frame.put())));
    return frame;
}

template <class I>
Ref<I> factory(const wchar_t *class_name) {
    HSTRING_HEADER header;
    HSTRING name = nullptr;
    Ref<I> statics;
    if (SUCCEEDED(WindowsCreateStringReference(class_name, UINT32(wcslen(class_name)), &header, &name)))
        RoGetActivationFactory(name, I::iid, reinterpret_cast<void **>(statics.put()));
    return statics;
}

// A FrameArrived handler that counts its calls, checks its sender and its thread, and does what the case asks.
class Handler final : public Object<IFrameArrivedHandler> {
public:
    enum Action { Count, KeepNewest, Recreate, Close, Slow };

    Handler(Action action, IDirect3DDevice *device) : action_(action), device_(Ref<IDirect3DDevice>::share(device)) {
        entered_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Handler() override { CloseHandle(entered_); }

    HRESULT STDMETHODCALLTYPE Invoke(IDirect3D11CaptureFramePool *sender, IInspectable *args) override {
        if (!sender || args || (pool_ && sender != pool_)) wrong_sender_ = true;
        if (GetCurrentThreadId() == host_thread_) ++on_host_thread_;
        ++calls_;
        SetEvent(entered_);
        switch (action_) {
        case Count:
            break;
        case KeepNewest:  // as a free-threaded host keeps it: take the frame, give back the one it replaces
            if (Ref<IDirect3D11CaptureFrame> frame = next_frame(sender)) newest_ = std::move(frame);
            break;
        case Recreate:
            recreated_ = sender->Recreate(device_.get(), kPixelFormatB8G8R8A8, 2, {64, 48});
            break;
        case Close:
            closed_ = Ref<IClosable>();
            sender->QueryInterface(IClosable::iid, reinterpret_cast<void **>(closed_.put()));
            if (closed_) closed_->Close();
            break;
        case Slow:
            Sleep(50);  // the host closes the pool meanwhile
            next_frame(sender);
            break;
        }
        ++returned_;
        return S_OK;
    }

    void watch(IDirect3D11CaptureFramePool *pool) { pool_ = pool; }
    const Action action_;
    Ref<IDirect3DDevice> device_;
    IDirect3D11CaptureFramePool *pool_ = nullptr;
    const DWORD host_thread_ = GetCurrentThreadId();
    HANDLE entered_;
    std::atomic<long> calls_{0}, returned_{0}, on_host_thread_{0};
    std::atomic<bool> wrong_sender_{false};
    Ref<IDirect3D11CaptureFrame> newest_;  // KeepNewest
    std::atomic<HRESULT> recreated_{E_FAIL};
    Ref<IClosable> closed_;

private:
    const wchar_t *class_name() const override { return L"FrameArrivedHandler"; }
};

struct Capture {
    Ref<IDirect3D11CaptureFramePool> pool;
    Ref<IGraphicsCaptureSession> session;
    Ref<Handler> handler;
    EventRegistrationToken token{};
};

// A pool of two buffers capturing `window`, `handler` registered, and the capture started.
Capture start(HWND window, IDirect3DDevice *device, bool free_threaded, Handler::Action action) {
    Capture capture;
    constexpr wchar_t kPool[] = L"Windows.Graphics.Capture.Direct3D11CaptureFramePool";
    Ref<IGraphicsCaptureItemInterop> interop =
        factory<IGraphicsCaptureItemInterop>(L"Windows.Graphics.Capture.GraphicsCaptureItem");
    Ref<IGraphicsCaptureItem> item;
    CHECK(interop && SUCCEEDED(interop->CreateForWindow(window, IGraphicsCaptureItem::iid,
                                                        reinterpret_cast<void **>(item.put()))));
    if (!item) return capture;
    SizeInt32 size{};
    item->get_Size(&size);
    if (free_threaded) {
        Ref<IDirect3D11CaptureFramePoolStatics2> statics = factory<IDirect3D11CaptureFramePoolStatics2>(kPool);
        CHECK(bool(statics));
        if (!statics) return capture;
        // CreateFreeThreaded by its slot in the platform's table, not by this header's declaration.
        using CreateFn = HRESULT(STDMETHODCALLTYPE *)(IDirect3D11CaptureFramePoolStatics2 *, IDirect3DDevice *,
                                                      INT32, INT32, SizeInt32, IDirect3D11CaptureFramePool **);
        const auto create = (*reinterpret_cast<CreateFn *const *>(statics.get()))[6];
        CHECK(SUCCEEDED(create(statics.get(), device, kPixelFormatB8G8R8A8, 2, size, capture.pool.put())));
    } else {
        Ref<IDirect3D11CaptureFramePoolStatics> statics = factory<IDirect3D11CaptureFramePoolStatics>(kPool);
        CHECK(statics && SUCCEEDED(statics->Create(device, kPixelFormatB8G8R8A8, 2, size, capture.pool.put())));
    }
    if (!capture.pool) return capture;
    capture.handler = Ref<Handler>::attach(new Handler(action, device));
    capture.handler->watch(capture.pool.get());
    CHECK(SUCCEEDED(capture.pool->add_FrameArrived(capture.handler.get(), &capture.token)));
    CHECK(SUCCEEDED(capture.pool->CreateCaptureSession(item.get(), capture.session.put())));
    CHECK(capture.session && SUCCEEDED(capture.session->StartCapture()));
    return capture;
}

void finish(Capture &capture) {
    if (capture.pool) capture.pool->remove_FrameArrived(capture.token);
    if (capture.session) {
        Ref<IClosable> closable;
        capture.session->QueryInterface(IClosable::iid, reinterpret_cast<void **>(closable.put()));
        if (closable) closable->Close();
    }
    capture = Capture();
    dispatch();  // announcements queued for a closed pool are run, and do nothing
    // A worker whose own handler closed its pool lets go of the pool as it ends, a moment later.
    const ULONGLONG deadline = GetTickCount64() + 1000;
    while (service_live_objects() != 0 && GetTickCount64() < deadline) Sleep(5);
    CHECK(service_live_objects() == 0);
}

// Create, on a thread that does not dispatch: the first two pictures fill both buffers and the three after
// them are never rendered, not even once the buffers are free again; only a later change is.
void queue_bound(HWND window, ID3D11Device *d3d, IDirect3DDevice *device) {
    paint(window, 1);
    Capture capture = start(window, device, false, Handler::Count);
    if (!capture.session) return;
    const long dropped_before = dropped();
    for (long number = 1; number <= 5; ++number) present(window, number);
    CHECK(capture.handler->calls_ == 0);     // announced, not yet dispatched
    CHECK(dropped() - dropped_before >= 3);  // more where a tick read a picture half painted
    dispatch();
    CHECK(capture.handler->calls_ == 2 && capture.handler->on_host_thread_ == 2 && !capture.handler->wrong_sender_);
    {
        Ref<IDirect3D11CaptureFrame> first = next_frame(capture.pool.get()), second = next_frame(capture.pool.get());
        CHECK(number_shown(d3d, first.get()) == 1);
        CHECK(number_shown(d3d, second.get()) == 2);
        CHECK(!next_frame(capture.pool.get()));
    }
    const long seen = ticks();
    while (ticks() < seen + 3) Sleep(2);
    dispatch();
    CHECK(!next_frame(capture.pool.get()));  // picture 5 was seen while every buffer was held: dropped
    present(window, 6);
    dispatch();
    CHECK(number_shown(d3d, next_frame(capture.pool.get()).get()) == 6);
    finish(capture);
}

// CreateFreeThreaded: the handler runs on the service's thread with the pool as its sender, so a host that
// keeps only the newest frame has picture 5 without dispatching; a handler may recreate and close the pool.
void free_threaded(HWND window, ID3D11Device *d3d, IDirect3DDevice *device) {
    Capture capture = start(window, device, true, Handler::KeepNewest);
    if (!capture.session) return;
    const long dropped_before = dropped();
    for (long number = 1; number <= 5; ++number) present(window, number);
    CHECK(capture.handler->calls_ >= 5 && capture.handler->on_host_thread_ == 0 && !capture.handler->wrong_sender_);
    CHECK(dropped() == dropped_before);
    CHECK(number_shown(d3d, capture.handler->newest_.get()) == 5);
    finish(capture);  // the handler's frame outlives the pool

    capture = start(window, device, true, Handler::Recreate);
    if (!capture.session) return;
    present(window, 7);
    CHECK(capture.handler->calls_ >= 1 && capture.handler->recreated_ == S_OK);
    const long calls = capture.handler->calls_;
    present(window, 8);  // frames keep coming from the recreated buffers
    CHECK(capture.handler->calls_ > calls);
    finish(capture);

    capture = start(window, device, true, Handler::Close);  // closes the pool at its first frame
    if (!capture.session) return;
    CHECK(WaitForSingleObject(capture.handler->entered_, 5000) == WAIT_OBJECT_0);
    Sleep(50);
    CHECK(capture.handler->calls_ == 1 && capture.handler->returned_ == 1 && capture.handler->closed_);
    Ref<IDirect3D11CaptureFrame> frame;
    CHECK(capture.pool->TryGetNextFrame(frame.put()) == kClosed);
    paint(window, 10);
    Sleep(100);
    CHECK(capture.handler->calls_ == 1);  // the close inside the handler stopped the capture
    finish(capture);

    // The host closes the pool while its handler runs: the close waits for it, and no call starts after.
    capture = start(window, device, true, Handler::Slow);  // slow from its first frame
    if (!capture.session) return;
    CHECK(WaitForSingleObject(capture.handler->entered_, 5000) == WAIT_OBJECT_0);
    {
        Ref<IClosable> closable;
        capture.pool->QueryInterface(IClosable::iid, reinterpret_cast<void **>(closable.put()));
        CHECK(closable && SUCCEEDED(closable->Close()));
    }
    const long calls_at_close = capture.handler->calls_;
    CHECK(capture.handler->returned_ == calls_at_close);
    paint(window, 11);
    Sleep(100);
    CHECK(capture.handler->calls_ == calls_at_close);
    finish(capture);
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) {
        std::printf("usage: service_host <corvo_capture_service.dll>\n");
        return 2;
    }
    HMODULE service = LoadLibraryW(argv[1]);
    HMODULE d3d11 = LoadLibraryW(L"d3d11.dll");
    HMODULE messaging = LoadLibraryW(L"coremessaging.dll");
    CHECK(service && d3d11 && messaging);
    if (!service || !d3d11 || !messaging) return wgc_test::finish("service_host");
    auto resolve = [](HMODULE module, const char *name) {
        return reinterpret_cast<void *>(GetProcAddress(module, name));
    };
    ticks = reinterpret_cast<TicksFn>(resolve(service, "corvo_test_ticks"));
    dropped = reinterpret_cast<TicksFn>(resolve(service, "corvo_test_dropped"));
    service_live_objects = reinterpret_cast<TicksFn>(resolve(service, "corvo_test_live_objects"));
    using DeviceFn = HRESULT(WINAPI *)(IDXGIDevice *, IInspectable **);
    using QueueFn = HRESULT(WINAPI *)(DispatcherQueueOptions, IDispatcherQueueController **);
    const auto make_device = reinterpret_cast<DeviceFn>(resolve(d3d11, "CreateDirect3D11DeviceFromDXGIDevice"));
    const auto make_queue = reinterpret_cast<QueueFn>(resolve(messaging, "CreateDispatcherQueueController"));
    CHECK(ticks && dropped && service_live_objects && make_device && make_queue);
    if (!ticks || !dropped || !service_live_objects || !make_device || !make_queue)
        return wgc_test::finish("service_host");

    RoInitialize(RO_INIT_MULTITHREADED);
    Ref<ID3D11Device> d3d;
    CHECK(SUCCEEDED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                      nullptr, 0, D3D11_SDK_VERSION, d3d.put(), nullptr, nullptr)));
    Ref<IDXGIDevice> dxgi;
    Ref<IInspectable> inspectable;
    Ref<IDirect3DDevice> device;
    if (d3d) d3d->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void **>(dxgi.put()));
    if (dxgi) make_device(dxgi.get(), inspectable.put());
    if (inspectable) inspectable->QueryInterface(IDirect3DDevice::iid, reinterpret_cast<void **>(device.put()));
    Ref<IDispatcherQueueController> controller;
    CHECK(SUCCEEDED(make_queue({sizeof(DispatcherQueueOptions), kThreadCurrent, 0}, controller.put())));

    WNDCLASSW window_class{};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"corvo-service-host";
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, L"corvo service host", WS_POPUP | WS_VISIBLE, 40,
                                  40, 160, 120, nullptr, nullptr, window_class.hInstance, nullptr);
    CHECK(window && device && controller);
    if (window && device && controller) {
        queue_bound(window, d3d.get(), device.get());
        free_threaded(window, d3d.get(), device.get());
    }
    DestroyWindow(window);
    return wgc_test::finish("service_host");
}
