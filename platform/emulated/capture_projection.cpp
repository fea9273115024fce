// The capture-service projection over the simulated service.
#include "platform/capture.h"

#include "corvo_emu.h"
#include "platform/emulated/c_boundary.h"
#include "platform/emulated/capture_service.h"
#include "platform/emulated/graphics_access.h"
#include "platform/emulated/system.h"
#include "platform/emulated/throw.h"

namespace corvo::platform {
namespace {

using emu::check_call;

constexpr HRESULT kWrongThread = RPC_E_WRONG_THREAD;

template <class T, class I>
T &object_of(const Projected &projected) {
    return *static_cast<T *>(static_cast<I *>(projected.get()));
}

emu::CaptureItem &item_of(const Projected &p) { return object_of<emu::CaptureItem, IEmuCaptureItem>(p); }
emu::FramePool &pool_of(const Projected &p) { return object_of<emu::FramePool, IEmuFramePool>(p); }
emu::Frame &frame_of(const Projected &p) { return object_of<emu::Frame, IEmuFrame>(p); }
emu::CaptureSession &session_of(const Projected &p) { return object_of<emu::CaptureSession, IEmuCaptureSession>(p); }

template <class T>
ComPtr<IUnknown> as_unknown(T *object) {
    return ComPtr<IUnknown>::attach(object->unknown());
}

void throw_if_closed(bool closed) {
    if (closed) throw PlatformError(RO_E_CLOSED, "The object has been closed.");
}

// The formats frame pools are known to take. Windows does not document the list, nor the error for another
// format; it is refused here as every bad argument is, with E_INVALIDARG.
bool pool_format(int32_t format) {
    return format == DXGI_FORMAT_B8G8R8A8_UNORM || format == DXGI_FORMAT_R8G8B8A8_UNORM ||
           format == DXGI_FORMAT_R16G16B16A16_FLOAT;
}

// Makes the pool's buffers for a device and size; throws like the real service on bad arguments.
void make_buffers(emu::PoolState &pool, const Direct3DDevice &device, int32_t pixel_format, int32_t buffer_count,
                  SizeInt32 size) {
    if (!device || buffer_count <= 0 || size.Width <= 0 || size.Height <= 0 || !pool_format(pixel_format))
        throw PlatformError(E_INVALIDARG, "The parameter is incorrect.");
    ComPtr<ID3D11Device> d3d = object_of<emu::Direct3DDevice, IEmuDirect3DDevice>(device).device;
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = UINT(size.Width);
    desc.Height = UINT(size.Height);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT(pixel_format);
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = emu::frame_bind_flags();
    std::vector<ComPtr<ID3D11Texture2D>> buffers(static_cast<size_t>(buffer_count));
    for (auto &buffer : buffers)
        emu::throw_if_failed(emu::create_texture(d3d.get(), desc, buffer.put()), "Recreate");

    std::lock_guard lock(pool.mutex);
    pool.device = std::move(d3d);
    pool.format = desc.Format;
    pool.size = size;
    pool.buffers = std::move(buffers);
    pool.held.assign(size_t(buffer_count), false);
    ++pool.generation;
}

void remove_closed(IUnknown *source, EventToken token) {
    static_cast<emu::CaptureItem *>(static_cast<IEmuCaptureItem *>(source))->closed.remove(token);
}

void remove_frame_arrived(IUnknown *source, EventToken token) {
    static_cast<emu::FramePool *>(static_cast<IEmuFramePool *>(source))->frame_arrived.remove(token);
}

}  // namespace

HRESULT Direct3DDevice::from_dxgi_device(IDXGIDevice *dxgi_device, ComPtr<IUnknown> *inspectable) noexcept {
    if (!dxgi_device || !inspectable) return E_INVALIDARG;
    if (const HRESULT hr = emu::call("CreateDirect3D11DeviceFromDXGIDevice"); FAILED(hr)) return hr;
    ComPtr<ID3D11Device> device;
    if (const HRESULT hr = dxgi_device->QueryInterface(IID_PPV_ARGS(device.put())); FAILED(hr)) return hr;
    auto *created = new (std::nothrow) emu::Direct3DDevice(std::move(device));
    if (!created) return E_OUTOFMEMORY;
    *inspectable = as_unknown(created);
    return S_OK;
}

Direct3DDevice Direct3DDevice::from(const ComPtr<IUnknown> &inspectable) {
    ComPtr<IEmuDirect3DDevice> device;
    if (!inspectable) throw PlatformError(E_POINTER, "Invalid pointer");
    emu::throw_if_failed(inspectable->QueryInterface(IID_PPV_ARGS(device.put())), "QueryInterface");
    return Direct3DDevice(ComPtr<IUnknown>::attach(device.detach()));
}

HRESULT GraphicsCaptureItemInterop::get(GraphicsCaptureItemInterop *out) noexcept {
    if (!out) return E_POINTER;
    if (const HRESULT hr = emu::call("IGraphicsCaptureItemInterop"); FAILED(hr)) return hr;
    *out = GraphicsCaptureItemInterop();
    return S_OK;
}

namespace {
HRESULT create_item(const char *operation, const void *handle, emu::Target::Kind kind, GraphicsCaptureItem *item) {
    if (!item) return E_POINTER;
    if (const HRESULT hr = emu::call(operation); FAILED(hr)) return hr;
    std::shared_ptr<emu::Target> target = emu::find_target(handle);
    if (!target || target->kind != kind || target->closed()) return E_INVALIDARG;
    auto *created = new (std::nothrow) emu::CaptureItem(std::move(target));
    if (!created) return E_OUTOFMEMORY;
    *item = GraphicsCaptureItem(as_unknown(created));
    return S_OK;
}
}  // namespace

HRESULT GraphicsCaptureItemInterop::CreateForWindow(HWND window, GraphicsCaptureItem *item) const noexcept {
    return create_item("CreateForWindow", window, emu::Target::Kind::window, item);
}

HRESULT GraphicsCaptureItemInterop::CreateForMonitor(HMONITOR monitor, GraphicsCaptureItem *item) const noexcept {
    return create_item("CreateForMonitor", monitor, emu::Target::Kind::monitor, item);
}

SizeInt32 GraphicsCaptureItem::Size() const { return item_of(*this).target->size(); }

EventRegistration GraphicsCaptureItem::Closed(EventHandler handler) const {
    check_call("add_Closed");
    const EventToken token = item_of(*this).closed.add(handler);
    return EventRegistration(WeakRef::of(get()), token, &remove_closed);
}

SizeInt32 Direct3D11CaptureFrame::ContentSize() const { return frame_of(*this).content_size; }

int64_t Direct3D11CaptureFrame::SystemRelativeTime() const { return frame_of(*this).system_time; }

ComPtr<ID3D11Texture2D> Direct3D11CaptureFrame::texture() const { return frame_of(*this).texture; }

namespace {
Direct3D11CaptureFramePool make_pool(bool free_threaded, const Direct3DDevice &device, int32_t pixel_format,
                                     int32_t buffer_count, SizeInt32 size) {
    auto *pool = new emu::FramePool(free_threaded);
    Direct3D11CaptureFramePool projected(as_unknown(pool));
    make_buffers(*pool->state, device, pixel_format, buffer_count, size);
    return projected;
}
}  // namespace

Direct3D11CaptureFramePool Direct3D11CaptureFramePool::Create(const Direct3DDevice &device, int32_t pixel_format,
                                                              int32_t buffer_count, SizeInt32 size) {
    check_call("Create");
    if (!emu::thread_has_dispatcher_queue())
        throw PlatformError(kWrongThread, "The calling thread has no DispatcherQueue.");
    return make_pool(false, device, pixel_format, buffer_count, size);
}

Direct3D11CaptureFramePool Direct3D11CaptureFramePool::CreateFreeThreaded(
    const Direct3DDevice &device, int32_t pixel_format, int32_t buffer_count, SizeInt32 size) {
    check_call("CreateFreeThreaded");
    return make_pool(true, device, pixel_format, buffer_count, size);
}

void Direct3D11CaptureFramePool::Recreate(const Direct3DDevice &device, int32_t pixel_format, int32_t buffer_count,
                                          SizeInt32 size) const {
    check_call("Recreate");
    emu::PoolState &pool = *pool_of(*this).state;
    {
        std::lock_guard lock(pool.mutex);
        throw_if_closed(pool.closed);
    }
    make_buffers(pool, device, pixel_format, buffer_count, size);
}

Direct3D11CaptureFrame Direct3D11CaptureFramePool::TryGetNextFrame() const {
    emu::PoolState &pool = *pool_of(*this).state;
    std::lock_guard lock(pool.mutex);
    throw_if_closed(pool.closed);
    if (pool.ready.empty()) return Direct3D11CaptureFrame();
    emu::Frame *frame = pool.ready.front();
    pool.ready.pop_front();
    return Direct3D11CaptureFrame(ComPtr<IUnknown>::attach(frame->unknown()));
}

EventRegistration Direct3D11CaptureFramePool::FrameArrived(EventHandler handler) const {
    check_call("add_FrameArrived");
    const EventToken token = pool_of(*this).frame_arrived.add(handler);
    return EventRegistration(WeakRef::of(get()), token, &remove_frame_arrived);
}

GraphicsCaptureSession Direct3D11CaptureFramePool::CreateCaptureSession(const GraphicsCaptureItem &item) const {
    check_call("CreateCaptureSession");
    if (!item) throw PlatformError(E_POINTER, "Invalid pointer");
    emu::FramePool &pool = pool_of(*this);
    {
        std::lock_guard lock(pool.state->mutex);
        throw_if_closed(pool.state->closed);
    }
    return GraphicsCaptureSession(as_unknown(new emu::CaptureSession(pool, item_of(item).target)));
}

void Direct3D11CaptureFramePool::Close() const {
    check_call("Close");
    emu::PoolState &pool = *pool_of(*this).state;
    {
        std::lock_guard lock(pool.mutex);
        pool.closed = true;
    }
    pool.drop_ready();
}

void GraphicsCaptureSession::StartCapture() const {
    check_call("StartCapture");
    emu::CaptureSession &session = session_of(*this);
    throw_if_closed(session.closed);
    if (session.started) throw PlatformError(E_ILLEGAL_METHOD_CALL, "The capture has already started.");
    session.started = true;
}

void GraphicsCaptureSession::IsCursorCaptureEnabled(bool enabled) const {
    check_call("put_IsCursorCaptureEnabled");
    session_of(*this).cursor_capture_enabled = enabled;
}

void GraphicsCaptureSession::IsBorderRequired(bool required) const {
    check_call("put_IsBorderRequired");
    session_of(*this).border_required = required || !emu::borderless_allowed();
}

void GraphicsCaptureSession::MinUpdateInterval(int64_t interval) const {
    check_call("put_MinUpdateInterval");
    session_of(*this).min_update_interval = interval;
}

void GraphicsCaptureSession::Close() const {
    check_call("Close");
    session_of(*this).closed = true;
}

HRESULT GraphicsCaptureSession::IsSupported(bool *supported) noexcept {
    if (!supported) return E_POINTER;
    if (const HRESULT hr = emu::call("IsSupported"); FAILED(hr)) return hr;
    *supported = emu::capture_supported();
    return S_OK;
}

bool DispatcherQueueController::TryEnqueue(EventHandler work) const {
    check_call("TryEnqueue");
    return object_of<emu::DispatcherController, IEmuDispatcherController>(*this).enqueue(std::move(work));
}

QueueShutdown DispatcherQueueController::ShutdownQueueAsync() const {
    return QueueShutdown(
        as_unknown(object_of<emu::DispatcherController, IEmuDispatcherController>(*this).shutdown()));
}

bool QueueShutdown::completed() const {
    return object_of<emu::QueueShutdown, IEmuQueueShutdown>(*this).queue->shut_down();
}

void QueueShutdown::Completed(EventHandler handler) const {
    check_call("put_Completed");
    object_of<emu::QueueShutdown, IEmuQueueShutdown>(*this).queue->on_shut_down(std::move(handler));
}

HRESULT DispatcherQueueController::create(DispatcherQueueOptions options, DispatcherQueueController *out) noexcept {
    if (!out || options.dwSize != sizeof(DispatcherQueueOptions) || options.threadType != DQTYPE_THREAD_CURRENT)
        return E_INVALIDARG;
    if (const HRESULT hr = emu::call("CreateDispatcherQueueController"); FAILED(hr)) return hr;
    // One dispatcher queue per thread, as on Windows.
    if (emu::thread_has_dispatcher_queue()) return kWrongThread;
    auto *created = new (std::nothrow) emu::DispatcherController();
    if (!created) return E_OUTOFMEMORY;
    *out = DispatcherQueueController(as_unknown(created));
    return S_OK;
}

}  // namespace corvo::platform

namespace corvo::emu {
namespace {

int32_t capture_property(void *target, const char *property) {
    std::shared_ptr<Target> t = find_target(target);
    if (!t || !property) return -1;
    ComPtr<IUnknown> latest = latest_session_of(*t);
    if (!latest) return -1;
    auto &session = *static_cast<CaptureSession *>(static_cast<IEmuCaptureSession *>(latest.get()));
    const std::string_view name(property);
    if (name == "IsCursorCaptureEnabled") return session.cursor_capture_enabled;
    if (name == "IsBorderRequired") return session.border_required;
    if (name == "MinUpdateInterval") return static_cast<int32_t>(session.min_update_interval / 10);
    if (name == "started") return session.started;
    return -1;
}

}  // namespace
}  // namespace corvo::emu

extern "C" int32_t corvo_emu_capture_property(void *target, const char *property) CORVO_EMU_NOEXCEPT {
    return corvo::emu::or_failure<int32_t>(-1, [&] { return corvo::emu::capture_property(target, property); });
}
