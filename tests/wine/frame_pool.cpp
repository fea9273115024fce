// The frame pool, its frames and their surfaces, and the worker that renders the frames.
#include <roapi.h>

#include <algorithm>
#include <system_error>

#include "capture_service.h"

namespace wine_wgc {
namespace {

// The rendering clock: about the refresh period of a 60 Hz monitor.
constexpr std::chrono::milliseconds kTickInterval{16};

TimeSpan now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return {INT64(double(count.QuadPart) * 1e7 / double(frequency.QuadPart))};
}

class Surface final : public Object<IDirect3DSurface, IDirect3DDxgiInterfaceAccess, IClosable> {
public:
    explicit Surface(Ref<ID3D11Texture2D> texture) : texture_(std::move(texture)) {}

    HRESULT STDMETHODCALLTYPE get_Description(Direct3DSurfaceDescription *value) override {
        if (!value) return E_POINTER;
        if (!texture_) return kClosed;
        D3D11_TEXTURE2D_DESC desc;
        texture_->GetDesc(&desc);
        // DirectXPixelFormat values are those of the DXGI formats of the same names.
        *value = {INT32(desc.Format), INT32(desc.Width), INT32(desc.Height), INT32(desc.SampleDesc.Count),
                  INT32(desc.SampleDesc.Quality)};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!texture_) return kClosed;
        return texture_->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        texture_ = nullptr;
        return S_OK;
    }

private:
    const wchar_t *class_name() const override { return L"Windows.Graphics.DirectX.Direct3D11.IDirect3DSurface"; }
    Ref<ID3D11Texture2D> texture_;
};

// Holds buffer `index` of its pool until it is closed or released.
class Frame final : public Object<IDirect3D11CaptureFrame, IClosable> {
public:
    Frame(std::shared_ptr<BufferSet> buffers, size_t index, SizeInt32 content, TimeSpan time)
        : buffers_(std::move(buffers)), index_(index), content_(content), time_(time) {}
    ~Frame() override { Close(); }

    HRESULT STDMETHODCALLTYPE get_Surface(IDirect3DSurface **value) override {
        if (!value) return E_POINTER;
        *value = nullptr;
        if (!buffers_) return kClosed;
        if (const HRESULT fault = take_fault(Fault::Surface); FAILED(fault)) return fault;
        *value = new Surface(buffers_->textures[index_]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(TimeSpan *value) override {
        if (!value) return E_POINTER;
        *value = time_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ContentSize(SizeInt32 *value) override {
        if (!value) return E_POINTER;
        *value = content_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        if (!buffers_) return S_OK;
        {
            std::lock_guard<std::mutex> lock(buffers_->mutex);
            buffers_->held[index_] = false;
        }
        buffers_.reset();
        return S_OK;
    }

private:
    const wchar_t *class_name() const override { return L"Windows.Graphics.Capture.Direct3D11CaptureFrame"; }

    std::shared_ptr<BufferSet> buffers_;  // null once closed
    const size_t index_;
    const SizeInt32 content_;
    const TimeSpan time_;
};

// Queued on the pool's dispatcher queue for each frame made.
class FrameAnnouncement final : public Object<IDispatcherQueueHandler> {
public:
    explicit FrameAnnouncement(Ref<FramePool> pool) : pool_(std::move(pool)) {}
    HRESULT STDMETHODCALLTYPE Invoke() override {
        pool_->raise_frame_arrived();
        return S_OK;
    }

private:
    const wchar_t *class_name() const override { return L"Windows.System.DispatcherQueueHandler"; }
    Ref<FramePool> pool_;
};

}  // namespace

// The calling thread's dispatcher queue, or null when it has none.
Ref<IDispatcherQueue> current_thread_queue() {
    HSTRING_HEADER header;
    HSTRING name = nullptr;
    static constexpr wchar_t kClass[] = L"Windows.System.DispatcherQueue";
    Ref<IDispatcherQueueStatics> statics;
    Ref<IDispatcherQueue> queue;
    if (SUCCEEDED(WindowsCreateStringReference(kClass, UINT32(std::size(kClass) - 1), &header, &name)) &&
        SUCCEEDED(
            RoGetActivationFactory(name, IDispatcherQueueStatics::iid, reinterpret_cast<void **>(statics.put()))))
        statics->GetForCurrentThread(queue.put());
    return queue;
}

HRESULT FramePool::create(Delivery delivery, IDirect3DDevice *device, INT32 pixel_format, INT32 buffers,
                          SizeInt32 size, IDirect3D11CaptureFramePool **pool) {
    if (!pool) return E_POINTER;
    *pool = nullptr;
    if (const HRESULT fault = take_fault(Fault::CreatePool); FAILED(fault)) return fault;
    Ref<FramePool> created = Ref<FramePool>::attach(new FramePool(delivery));
    // Frames of a pool made with Create are announced on the creating thread's dispatcher queue, so that thread
    // needs one. (The platform's code for a thread without one is not documented; this one is the dispatcher's
    // own "wrong thread".)
    if (delivery == Delivery::Queue) {
        created->queue_ = current_thread_queue();
        if (!created->queue_) return RPC_E_WRONG_THREAD;
    }
    const HRESULT hr = created->allocate(device, pixel_format, buffers, size);
    if (FAILED(hr)) return hr;
    *pool = created.get();
    (*pool)->AddRef();
    return S_OK;
}

FramePool::~FramePool() { stop(); }

HRESULT FramePool::allocate(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers, SizeInt32 size) {
    if (!device) return E_POINTER;
    if ((pixel_format != kPixelFormatB8G8R8A8 && pixel_format != kPixelFormatR16G16B16A16Float) || buffers < 1 ||
        size.Width < 1 || size.Height < 1)
        return E_INVALIDARG;
    Ref<IDirect3DDxgiInterfaceAccess> access;
    HRESULT hr = device->QueryInterface(IDirect3DDxgiInterfaceAccess::iid, reinterpret_cast<void **>(access.put()));
    if (FAILED(hr)) return hr;
    Ref<ID3D11Device> d3d;
    hr = access->GetInterface(__uuidof(ID3D11Device), reinterpret_cast<void **>(d3d.put()));
    if (FAILED(hr)) return hr;
    if (const HRESULT fault = take_fault(Fault::CreateTexture); FAILED(fault)) return fault;

    auto set = std::make_shared<BufferSet>();
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = UINT(size.Width);
    desc.Height = UINT(size.Height);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT(pixel_format);
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;  // as the platform's frames: no CPU access
    for (INT32 i = 0; i < buffers; ++i) {
        Ref<ID3D11Texture2D> texture;
        hr = d3d->CreateTexture2D(&desc, nullptr, texture.put());
        if (FAILED(hr)) return hr;
        set->textures.push_back(std::move(texture));
    }
    set->pixel_format = pixel_format;
    set->held.assign(size_t(buffers), false);
    Ref<ID3D11DeviceContext> context;
    d3d->GetImmediateContext(context.put());

    // What is replaced goes after the lock: releasing frames takes their buffer set's lock.
    std::deque<Ref<IDirect3D11CaptureFrame>> old_ready;
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return kClosed;
    device_ = std::move(d3d);
    context_ = std::move(context);
    buffers_ = std::move(set);
    size_ = size;
    old_ready.swap(ready_);  // frames not yet taken belong to the old buffers
    // The new buffers hold no picture yet: the next tick renders the target's, changed or not.
    seen_size_ = {};
    seen_pixels_.clear();
    return S_OK;
}

HRESULT FramePool::start(Ref<CaptureItem> item) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return kClosed;
    if (target_) return kIllegalMethodCall;
    if (worker_.joinable()) worker_.detach();  // the previous capture's worker, ended by its target's closing
    target_ = std::move(item);
    seen_size_ = {};  // a capture begins with the target's picture
    seen_pixels_.clear();
    const unsigned long long capture = ++capture_;
    try {
        worker_ = std::thread(&FramePool::run, Ref<FramePool>::share(this), capture);
    } catch (const std::system_error &) {
        target_ = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void FramePool::stop() {
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++capture_;
        target_ = nullptr;
        worker = std::move(worker_);
    }
    wake_.notify_all();
    if (!worker.joinable()) return;
    // A handler that stops its own capture runs on the worker: the worker ends once the handler returns.
    if (worker.get_id() == std::this_thread::get_id())
        worker.detach();
    else
        worker.join();
}

void FramePool::run(Ref<FramePool> pool, unsigned long long capture) {
    auto due = std::chrono::steady_clock::now() + kTickInterval;
    Shown shown;
    while (pool->tick(capture, due, shown)) {
        due += kTickInterval;
        // A tick that took longer than the clock's period (a whole screen read through X11) is not caught up.
        due = std::max(due, std::chrono::steady_clock::now());
    }
    // `pool` goes last: where it is the last reference, the pool is destroyed here, on this thread.
}

bool FramePool::tick(unsigned long long capture, std::chrono::steady_clock::time_point due, Shown &shown) {
    Ref<CaptureItem> item;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_until(lock, due, [&] { return !capturing(capture); });
        if (!capturing(capture)) return false;
        item = target_;
    }
    const Target &target = item->target();
    if (!target.alive()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (capturing(capture)) target_ = nullptr;
        }
        item->close_target();
        observed().ticks.fetch_add(1);
        return false;
    }
    // The target is read without the lock: a whole screen takes long, and handlers must not wait for it.
    const SizeInt32 content = target.size();
    std::vector<uint8_t> pixels;
    if (content.Width > 0 && content.Height > 0) pixels = target.pixels(content, cursor);  // else minimised

    Ref<IDirect3D11CaptureFrame> frame;
    std::shared_ptr<BufferSet> set;
    Ref<ID3D11DeviceContext> context;
    SizeInt32 size{};
    size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!capturing(capture)) return false;
        const bool changed =
            content.Width != seen_size_.Width || content.Height != seen_size_.Height || pixels != seen_pixels_;
        const auto since = std::chrono::steady_clock::now() - last_frame_;
        if (since < std::chrono::nanoseconds(min_interval.load() * 100)) {  // seen again by a later tick
            observed().ticks.fetch_add(1);
            return true;
        }
        if (FAILED(device_->GetDeviceRemovedReason())) {  // as on Windows, a removed device's pool delivers nothing
            observed().ticks.fetch_add(1);
            return true;
        }
        seen_size_ = content;
        seen_pixels_ = pixels;
        if (pixels.empty() || (!changed && !observed().render_unchanged.load())) {
            observed().ticks.fetch_add(1);
            return true;
        }
        {
            std::lock_guard<std::mutex> held(buffers_->mutex);
            const auto free = std::find(buffers_->held.begin(), buffers_->held.end(), false);
            if (free == buffers_->held.end()) {  // every buffer held: the change is not rendered
                observed().dropped.fetch_add(1);
                observed().ticks.fetch_add(1);
                return true;
            }
            index = size_t(free - buffers_->held.begin());
            *free = true;
        }
        last_frame_ = std::chrono::steady_clock::now();
        set = buffers_;
        context = context_;
        size = size_;
        frame = Ref<IDirect3D11CaptureFrame>::attach(new Frame(set, index, content, now()));
    }
    // The picture goes to the top-left corner; a picture larger than the buffers is cut at their edges. Wine's
    // Direct3D takes its own lock around each call, so this thread may use the library's device context; the
    // buffer written is free, so nothing reads it meanwhile. (On Windows the compositor has a device of its own.)
    const D3D11_BOX box{
        0, 0, 0, UINT(std::min(content.Width, size.Width)), UINT(std::min(content.Height, size.Height)), 1};
    if (set->pixel_format == kPixelFormatR16G16B16A16Float) {
        // The mode is asked of DXGI when the target comes to another monitor; the white, the user's slider, at
        // every frame.
        if (const HMONITOR now = target.shown_on(); now != shown.monitor) shown = {now, in_hdr_mode(now)};
        const std::vector<uint16_t> halves =
            scrgb_halves(pixels, shown.hdr ? observed().sdr_white.load() / 80.0f : 1.0f);
        context->UpdateSubresource(set->textures[index].get(), 0, &box, halves.data(), UINT(content.Width) * 8, 0);
    } else {
        context->UpdateSubresource(set->textures[index].get(), 0, &box, pixels.data(), UINT(content.Width) * 4, 0);
    }

    std::vector<std::pair<INT64, Ref<IFrameArrivedHandler>>> handlers;
    Ref<IDispatcherQueue> queue;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!capturing(capture)) return false;  // the frame goes, giving its buffer back
        ready_.push_back(std::move(frame));
        observed().frames.fetch_add(1);
        if (delivery_ == Delivery::FreeThreaded)
            handlers = handlers_;  // a copy: a handler may remove itself, or close the pool
        else
            queue = queue_;
    }
    if (queue) {
        boolean queued = 0;
        Ref<IDispatcherQueueHandler> announcement =
            Ref<IDispatcherQueueHandler>::attach(new FrameAnnouncement(Ref<FramePool>::share(this)));
        queue->TryEnqueue(announcement.get(), &queued);
    }
    for (const auto &[token, handler] : handlers) handler->Invoke(this, nullptr);
    observed().ticks.fetch_add(1);
    return true;
}

void FramePool::raise_frame_arrived() {
    std::vector<std::pair<INT64, Ref<IFrameArrivedHandler>>> handlers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        handlers = handlers_;  // a copy: a handler may remove itself, or close the pool
    }
    for (const auto &[token, handler] : handlers) handler->Invoke(this, nullptr);
}

HRESULT FramePool::Recreate(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers, SizeInt32 size) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return kClosed;
    }
    return allocate(device, pixel_format, buffers, size);
}

HRESULT FramePool::TryGetNextFrame(IDirect3D11CaptureFrame **frame) {
    if (!frame) return E_POINTER;
    *frame = nullptr;
    if (const HRESULT fault = take_fault(Fault::TryGetNextFrame); FAILED(fault)) return fault;  // the frame stays
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return kClosed;
    if (ready_.empty()) return S_OK;  // no frame: S_OK with null
    *frame = ready_.front().get();
    (*frame)->AddRef();
    ready_.pop_front();
    return S_OK;
}

HRESULT FramePool::add_FrameArrived(IFrameArrivedHandler *handler, EventRegistrationToken *token) {
    if (!handler || !token) return E_POINTER;
    // The platform calls an agile handler on its own threads and marshals any other to the thread that added
    // it; this service cannot marshal, so it refuses a handler that is not agile rather than call it wrongly.
    if (!agile(handler)) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return kClosed;
    token->value = next_token_++;
    handlers_.emplace_back(token->value, Ref<IFrameArrivedHandler>::share(handler));
    return S_OK;
}

HRESULT FramePool::remove_FrameArrived(EventRegistrationToken token) {
    std::vector<std::pair<INT64, Ref<IFrameArrivedHandler>>> removed;  // released after the lock
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto entry = handlers_.begin(); entry != handlers_.end();)
        if (entry->first == token.value) {
            removed.push_back(std::move(*entry));
            entry = handlers_.erase(entry);
        } else {
            ++entry;
        }
    return S_OK;
}

HRESULT FramePool::CreateCaptureSession(IGraphicsCaptureItem *item, IGraphicsCaptureSession **session) {
    if (!item || !session) return E_POINTER;
    *session = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return kClosed;
    }
    if (const HRESULT fault = take_fault(Fault::CreateSession); FAILED(fault)) return fault;
    // Every item reaching this service was made by it.
    *session =
        new CaptureSession(Ref<FramePool>::share(this), Ref<CaptureItem>::share(static_cast<CaptureItem *>(item)));
    return S_OK;
}

HRESULT FramePool::get_DispatcherQueue(IInspectable **queue) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return kClosed;
    return hand_out<IInspectable>(queue_.get(), queue);  // null for a free-threaded pool
}

HRESULT FramePool::Close() {
    stop();
    // Released after the lock: frames take their buffers' lock, handlers may hold the pool.
    std::deque<Ref<IDirect3D11CaptureFrame>> ready;
    std::vector<std::pair<INT64, Ref<IFrameArrivedHandler>>> handlers;
    std::shared_ptr<BufferSet> buffers;
    Ref<ID3D11DeviceContext> context;
    Ref<ID3D11Device> device;
    Ref<IDispatcherQueue> queue;
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    ready.swap(ready_);
    handlers.swap(handlers_);
    buffers.swap(buffers_);
    context = std::move(context_);
    device = std::move(device_);
    queue = std::move(queue_);
    return take_fault(Fault::ClosePool);  // a failing Close still closes: nothing may be left running
}

}  // namespace wine_wgc
