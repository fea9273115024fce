// The capture-service projection over the WinRT ABI. Each projected object holds the object's default
// interface; the other interfaces are asked for when a call needs them.
#include "platform/capture.h"
#include "platform/windows/abi_interfaces.h"
#include "platform/windows/activation.h"
#include "platform/windows/error_text.h"
#include "platform/windows/event_delegate.h"

namespace corvo::platform {
namespace abi = corvo_wgc_abi;

namespace {

ActivationFactory item_factory(abi::kGraphicsCaptureItemClass, abi::kIID_IGraphicsCaptureItemInterop);
ActivationFactory pool_factory(abi::kFramePoolClass, abi::kIID_IDirect3D11CaptureFramePoolStatics);
ActivationFactory free_threaded_pool_factory(abi::kFramePoolClass, abi::kIID_IDirect3D11CaptureFramePoolStatics2);
ActivationFactory session_factory(abi::kCaptureSessionClass, abi::kIID_IGraphicsCaptureSessionStatics);
ActivationFactory access_factory(abi::kCaptureAccessClass, abi::kIID_IGraphicsCaptureAccessStatics);
constexpr int32_t kBorderlessAccess = 0;  // GraphicsCaptureAccessKind::Borderless

// The default interface a projected object was made from.
template <class I>
I *as(const Projected &projected) {
    if (!projected) throw PlatformError(E_POINTER, error_text(E_POINTER));
    return static_cast<I *>(projected.get());
}

template <class I>
ComPtr<I> query(::IUnknown *object, const GUID &iid) {
    ComPtr<I> result;
    check(object->QueryInterface(iid, reinterpret_cast<void **>(result.put())));
    return result;
}

template <class I>
ComPtr<IUnknown> holding(I *object) {
    return ComPtr<IUnknown>::attach(object);
}

abi::SizeInt32 to_abi(SizeInt32 size) { return {size.Width, size.Height}; }

// A module of the system directory, never from beside the host; kept loaded for the process.
template <class Function>
HRESULT system_function(const wchar_t *module_name, const char *name, Function *out) noexcept {
    HMODULE module = LoadLibraryExW(module_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    FARPROC address = GetProcAddress(module, name);
    if (!address) return HRESULT_FROM_WIN32(GetLastError());
    *out = reinterpret_cast<Function>(reinterpret_cast<void *>(address));
    return S_OK;
}

void close(::IUnknown *object) { check(query<abi::IClosable>(object, abi::kIID_IClosable)->Close()); }

void remove_closed(IUnknown *source, EventToken token) {
    check(query<abi::IGraphicsCaptureItem>(source, abi::kIID_IGraphicsCaptureItem)->remove_Closed({token}));
}

void remove_frame_arrived(IUnknown *source, EventToken token) {
    check(query<abi::IDirect3D11CaptureFramePool>(source, abi::kIID_IDirect3D11CaptureFramePool)
              ->remove_FrameArrived({token}));
}

}  // namespace

HRESULT Direct3DDevice::from_dxgi_device(IDXGIDevice *dxgi_device, ComPtr<IUnknown> *inspectable) noexcept {
    if (!dxgi_device || !inspectable) return E_INVALIDARG;
    abi::CreateDirect3D11DeviceFromDXGIDeviceFn create = nullptr;
    HRESULT hr = system_function(L"d3d11.dll", "CreateDirect3D11DeviceFromDXGIDevice", &create);
    if (FAILED(hr)) return hr;
    ::IInspectable *device = nullptr;
    hr = create(dxgi_device, &device);
    if (FAILED(hr)) return hr;
    *inspectable = holding(device);
    return S_OK;
}

Direct3DDevice Direct3DDevice::from(const ComPtr<IUnknown> &inspectable) {
    if (!inspectable) throw PlatformError(E_POINTER, error_text(E_POINTER));
    return Direct3DDevice(
        holding(query<abi::IDirect3DDevice>(inspectable.get(), abi::kIID_IDirect3DDevice).detach()));
}

HRESULT GraphicsCaptureItemInterop::get(GraphicsCaptureItemInterop *out) noexcept {
    if (!out) return E_POINTER;
    ::IUnknown *factory = nullptr;
    const HRESULT hr = item_factory.get(&factory);
    if (FAILED(hr)) return hr;
    *out = GraphicsCaptureItemInterop(ComPtr<IUnknown>::attach(factory));
    return S_OK;
}

namespace {
template <class Handle>
HRESULT create_item(const Projected &interop, Handle handle, GraphicsCaptureItem *item,
                    HRESULT (STDMETHODCALLTYPE abi::IGraphicsCaptureItemInterop::*create)(Handle, REFIID, void **)) {
    if (!item) return E_POINTER;
    if (!interop) return E_POINTER;
    auto *factory = static_cast<abi::IGraphicsCaptureItemInterop *>(interop.get());
    abi::IGraphicsCaptureItem *created = nullptr;
    const HRESULT hr =
        (factory->*create)(handle, abi::kIID_IGraphicsCaptureItem, reinterpret_cast<void **>(&created));
    if (FAILED(hr)) return hr;
    *item = GraphicsCaptureItem(holding(created));
    return S_OK;
}
}  // namespace

HRESULT GraphicsCaptureItemInterop::CreateForWindow(HWND window, GraphicsCaptureItem *item) const noexcept {
    return create_item(*this, window, item, &abi::IGraphicsCaptureItemInterop::CreateForWindow);
}

HRESULT GraphicsCaptureItemInterop::CreateForMonitor(HMONITOR monitor, GraphicsCaptureItem *item) const noexcept {
    return create_item(*this, monitor, item, &abi::IGraphicsCaptureItemInterop::CreateForMonitor);
}

SizeInt32 GraphicsCaptureItem::Size() const {
    abi::SizeInt32 size{};
    check(as<abi::IGraphicsCaptureItem>(*this)->get_Size(&size));
    return {size.Width, size.Height};
}

EventRegistration GraphicsCaptureItem::Closed(EventHandler handler) const {
    ComPtr<abi::IClosedHandler> delegate =
        ComPtr<abi::IClosedHandler>::attach(new ClosedDelegate(std::move(handler)));
    EventRegistrationToken token{};
    check(as<abi::IGraphicsCaptureItem>(*this)->add_Closed(delegate.get(), &token));
    return EventRegistration(WeakRef::of(get()), token.value, &remove_closed);
}

SizeInt32 Direct3D11CaptureFrame::ContentSize() const {
    abi::SizeInt32 size{};
    check(as<abi::IDirect3D11CaptureFrame>(*this)->get_ContentSize(&size));
    return {size.Width, size.Height};
}

int64_t Direct3D11CaptureFrame::SystemRelativeTime() const {
    abi::TimeSpan time{};
    check(as<abi::IDirect3D11CaptureFrame>(*this)->get_SystemRelativeTime(&time));
    return time.Duration;
}

ComPtr<ID3D11Texture2D> Direct3D11CaptureFrame::texture() const {
    ComPtr<::IInspectable> surface;
    check(as<abi::IDirect3D11CaptureFrame>(*this)->get_Surface(surface.put()));
    if (!surface) return nullptr;
    auto access = query<abi::IDirect3DDxgiInterfaceAccess>(surface.get(), abi::kIID_IDirect3DDxgiInterfaceAccess);
    ComPtr<ID3D11Texture2D> texture;
    check(access->GetInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void **>(texture.put())));
    return texture;
}

Direct3D11CaptureFramePool Direct3D11CaptureFramePool::Create(const Direct3DDevice &device, int32_t pixel_format,
                                                              int32_t buffer_count, SizeInt32 size) {
    ComPtr<::IUnknown> factory;
    check(pool_factory.get(factory.put()));
    auto *statics = static_cast<abi::IDirect3D11CaptureFramePoolStatics *>(factory.get());
    abi::IDirect3D11CaptureFramePool *pool = nullptr;
    check(statics->Create(as<abi::IDirect3DDevice>(device), pixel_format, buffer_count, to_abi(size), &pool));
    return Direct3D11CaptureFramePool(holding(pool));
}

Direct3D11CaptureFramePool Direct3D11CaptureFramePool::CreateFreeThreaded(
    const Direct3DDevice &device, int32_t pixel_format, int32_t buffer_count, SizeInt32 size) {
    ComPtr<::IUnknown> factory;
    check(free_threaded_pool_factory.get(factory.put()));
    auto *statics = static_cast<abi::IDirect3D11CaptureFramePoolStatics2 *>(factory.get());
    abi::IDirect3D11CaptureFramePool *pool = nullptr;
    check(statics->CreateFreeThreaded(as<abi::IDirect3DDevice>(device), pixel_format, buffer_count, to_abi(size),
                                      &pool));
    return Direct3D11CaptureFramePool(holding(pool));
}

void Direct3D11CaptureFramePool::Recreate(const Direct3DDevice &device, int32_t pixel_format, int32_t buffer_count,
                                          SizeInt32 size) const {
    check(as<abi::IDirect3D11CaptureFramePool>(*this)->Recreate(as<abi::IDirect3DDevice>(device), pixel_format,
                                                                buffer_count, to_abi(size)));
}

Direct3D11CaptureFrame Direct3D11CaptureFramePool::TryGetNextFrame() const {
    abi::IDirect3D11CaptureFrame *frame = nullptr;
    check(as<abi::IDirect3D11CaptureFramePool>(*this)->TryGetNextFrame(&frame));
    return Direct3D11CaptureFrame(holding(frame));  // empty when no frame is queued
}

EventRegistration Direct3D11CaptureFramePool::FrameArrived(EventHandler handler) const {
    ComPtr<abi::IFrameArrivedHandler> delegate =
        ComPtr<abi::IFrameArrivedHandler>::attach(new FrameArrivedDelegate(std::move(handler)));
    EventRegistrationToken token{};
    check(as<abi::IDirect3D11CaptureFramePool>(*this)->add_FrameArrived(delegate.get(), &token));
    return EventRegistration(WeakRef::of(get()), token.value, &remove_frame_arrived);
}

GraphicsCaptureSession Direct3D11CaptureFramePool::CreateCaptureSession(const GraphicsCaptureItem &item) const {
    abi::IGraphicsCaptureSession *session = nullptr;
    check(as<abi::IDirect3D11CaptureFramePool>(*this)->CreateCaptureSession(as<abi::IGraphicsCaptureItem>(item),
                                                                            &session));
    return GraphicsCaptureSession(holding(session));
}

void Direct3D11CaptureFramePool::Close() const { close(as<abi::IDirect3D11CaptureFramePool>(*this)); }

void GraphicsCaptureSession::StartCapture() const { check(as<abi::IGraphicsCaptureSession>(*this)->StartCapture()); }

void GraphicsCaptureSession::IsCursorCaptureEnabled(bool enabled) const {
    auto session = query<abi::IGraphicsCaptureSession2>(as<abi::IGraphicsCaptureSession>(*this),
                                                        abi::kIID_IGraphicsCaptureSession2);
    check(session->put_IsCursorCaptureEnabled(enabled ? 1 : 0));
}

void GraphicsCaptureSession::IsBorderRequired(bool required) const {
    auto session = query<abi::IGraphicsCaptureSession3>(as<abi::IGraphicsCaptureSession>(*this),
                                                        abi::kIID_IGraphicsCaptureSession3);
    check(session->put_IsBorderRequired(required ? 1 : 0));
}

void GraphicsCaptureSession::MinUpdateInterval(int64_t interval) const {
    auto session = query<abi::IGraphicsCaptureSession5>(as<abi::IGraphicsCaptureSession>(*this),
                                                        abi::kIID_IGraphicsCaptureSession5);
    check(session->put_MinUpdateInterval(abi::TimeSpan{interval}));
}

void GraphicsCaptureSession::Close() const { close(as<abi::IGraphicsCaptureSession>(*this)); }

HRESULT DispatcherQueueController::create(DispatcherQueueOptions options, DispatcherQueueController *out) noexcept {
    if (!out) return E_POINTER;
    abi::CreateDispatcherQueueControllerFn create = nullptr;
    HRESULT hr = system_function(L"CoreMessaging.dll", "CreateDispatcherQueueController", &create);
    if (FAILED(hr)) return hr;
    abi::IDispatcherQueueController *controller = nullptr;
    hr = create({options.dwSize, options.threadType, options.apartmentType}, &controller);
    if (FAILED(hr)) return hr;
    *out = DispatcherQueueController(holding(controller));
    return S_OK;
}

bool DispatcherQueueController::TryEnqueue(EventHandler work) const {
    ::IInspectable *queue = nullptr;
    check(as<abi::IDispatcherQueueController>(*this)->get_DispatcherQueue(&queue));
    const ComPtr<IUnknown> held = holding(queue);
    const ComPtr<abi::IDispatcherQueue> dispatcher =
        query<abi::IDispatcherQueue>(held.get(), abi::kIID_IDispatcherQueue);
    auto *delegate = new (std::nothrow) QueueWork(std::move(work));
    if (!delegate) check(E_OUTOFMEMORY);
    const auto handler = ComPtr<abi::IDispatcherQueueHandler>::attach(delegate);
    boolean queued = 0;
    check(dispatcher->TryEnqueue(handler.get(), &queued));
    return queued != 0;
}

QueueShutdown DispatcherQueueController::ShutdownQueueAsync() const {
    ::IInspectable *action = nullptr;
    check(as<abi::IDispatcherQueueController>(*this)->ShutdownQueueAsync(&action));
    return QueueShutdown(holding(action));
}

// Whether an asynchronous operation or action is no longer Started (0).
bool async_completed(const Projected &operation) {
    int32_t status = 0;
    check(query<abi::IAsyncInfo>(as<::IInspectable>(operation), abi::kIID_IAsyncInfo)->get_Status(&status));
    return status != 0;
}

bool QueueShutdown::completed() const { return async_completed(*this); }

void QueueShutdown::Completed(EventHandler handler) const {
    const ComPtr<abi::IAsyncAction> action =
        query<abi::IAsyncAction>(as<::IInspectable>(*this), abi::kIID_IAsyncAction);
    auto *delegate = new (std::nothrow) ActionCompleted(std::move(handler));
    if (!delegate) check(E_OUTOFMEMORY);
    const auto held = ComPtr<abi::IAsyncActionCompletedHandler>::attach(delegate);
    check(action->put_Completed(held.get()));
}

HRESULT GraphicsCaptureSession::IsSupported(bool *supported) noexcept {
    if (!supported) return E_POINTER;
    ::IUnknown *statics = nullptr;
    HRESULT hr = session_factory.get(&statics);
    if (FAILED(hr)) return hr;
    boolean result = 0;
    hr = static_cast<abi::IGraphicsCaptureSessionStatics *>(statics)->IsSupported(&result);
    statics->Release();
    *supported = SUCCEEDED(hr) && result != 0;
    return hr;
}

HRESULT BorderlessAccessRequest::request(BorderlessAccessRequest *out) noexcept {
    if (!out) return E_POINTER;
    ::IUnknown *statics = nullptr;
    HRESULT hr = access_factory.get(&statics);
    if (FAILED(hr)) return hr;
    abi::IAccessStatusOperation *operation = nullptr;
    hr = static_cast<abi::IGraphicsCaptureAccessStatics *>(statics)->RequestAccessAsync(
        kBorderlessAccess, &operation);
    statics->Release();
    if (FAILED(hr)) return hr;
    *out = BorderlessAccessRequest(holding(operation));
    return S_OK;
}

bool BorderlessAccessRequest::completed() const { return async_completed(*this); }

AccessStatus BorderlessAccessRequest::GetResults() const {
    int32_t status = 0;
    check(as<abi::IAccessStatusOperation>(*this)->GetResults(&status));
    return static_cast<AccessStatus>(status);
}

}  // namespace corvo::platform
