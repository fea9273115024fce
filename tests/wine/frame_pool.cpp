// The frame pool, its frames and their surfaces.
#include <roapi.h>

#include <algorithm>
#include <map>

#include "capture_service.h"

namespace wine_wgc {
namespace {

constexpr UINT kFrameIntervalMs = 33;  // about 30 frames a second

// The pools capturing now, by their thread timer; used only on the pools' own threads.
std::map<UINT_PTR, FramePool *> &capturing_pools() {
    static std::map<UINT_PTR, FramePool *> pools;
    return pools;
}

TimeSpan now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return {INT64(double(count.QuadPart) * 1e7 / double(frequency.QuadPart))};
}

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

class Surface final : public Object<IDirect3DSurface, IDirect3DDxgiInterfaceAccess, IClosable> {
public:
    explicit Surface(Ref<ID3D11Texture2D> texture) : texture_(std::move(texture)) {}

    HRESULT STDMETHODCALLTYPE get_Description(Direct3DSurfaceDescription *value) override {
        if (!value) return E_POINTER;
        if (!texture_) return kClosed;
        D3D11_TEXTURE2D_DESC desc;
        texture_->GetDesc(&desc);
        *value = {kPixelFormatB8G8R8A8, INT32(desc.Width), INT32(desc.Height), INT32(desc.SampleDesc.Count),
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

HRESULT FramePool::create(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers, SizeInt32 size,
                          IDirect3D11CaptureFramePool **pool) {
    if (!pool) return E_POINTER;
    *pool = nullptr;
    if (const HRESULT fault = take_fault(Fault::CreatePool); FAILED(fault)) return fault;
    Ref<FramePool> created = Ref<FramePool>::attach(new FramePool());
    // Frames of a pool made with Create are announced on the creating thread's dispatcher queue, so that thread
    // needs one. (The platform's code for a thread without one is not documented; this one is the dispatcher's
    // own "wrong thread".)
    created->queue_ = current_thread_queue();
    if (!created->queue_) return RPC_E_WRONG_THREAD;
    const HRESULT hr = created->allocate(device, pixel_format, buffers, size);
    if (FAILED(hr)) return hr;
    *pool = created.get();
    (*pool)->AddRef();
    return S_OK;
}

FramePool::~FramePool() { stop(); }

HRESULT FramePool::allocate(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers, SizeInt32 size) {
    if (!device) return E_POINTER;
    if (pixel_format != kPixelFormatB8G8R8A8 || buffers < 1 || size.Width < 1 || size.Height < 1)
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
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;  // as the platform's frames: no CPU access
    for (INT32 i = 0; i < buffers; ++i) {
        Ref<ID3D11Texture2D> texture;
        hr = d3d->CreateTexture2D(&desc, nullptr, texture.put());
        if (FAILED(hr)) return hr;
        set->textures.push_back(std::move(texture));
    }
    set->held.assign(size_t(buffers), false);

    device_ = std::move(d3d);
    context_ = nullptr;
    device_->GetImmediateContext(context_.put());
    buffers_ = std::move(set);
    size_ = size;
    ready_.clear();  // frames not yet taken belong to the old buffers
    return S_OK;
}

HRESULT FramePool::start(Ref<CaptureItem> item) {
    if (closed_) return kClosed;
    if (target_) return kIllegalMethodCall;
    target_ = std::move(item);
    if (!arm_timer()) {
        target_ = nullptr;
        return HRESULT_FROM_WIN32(GetLastError());
    }
    return S_OK;
}

bool FramePool::arm_timer() {
    // A one-shot timer, armed again after each frame: the next frame is due a frame interval after the last
    // one was made, so a slow capture (a whole screen through X11 takes about 100 ms) never leaves a timer
    // message waiting the moment the thread's dispatching ends. Frames come from outside the host's thread
    // on Windows; here they must not keep its message loop busy.
    timer_ = SetTimer(nullptr, 0, kFrameIntervalMs, on_timer);
    if (!timer_) return false;
    capturing_pools()[timer_] = this;
    return true;
}

void FramePool::stop() {
    if (timer_) {
        KillTimer(nullptr, timer_);
        capturing_pools().erase(timer_);
        timer_ = 0;
    }
    target_ = nullptr;
}

void CALLBACK FramePool::on_timer(HWND, UINT, UINT_PTR timer, DWORD) {
    const auto found = capturing_pools().find(timer);
    if (found == capturing_pools().end()) return;
    Ref<FramePool> pool = Ref<FramePool>::share(found->second);  // making the frame may stop the capture
    KillTimer(nullptr, timer);
    capturing_pools().erase(found);
    pool->timer_ = 0;
    pool->make_frame();
    if (pool->target_) pool->arm_timer();
}

void FramePool::make_frame() {
    const Target &target = target_->target();
    if (!target.alive()) {
        Ref<CaptureItem> item = target_;
        stop();
        item->close_target();
        return;
    }
    const SizeInt32 content = target.size();
    if (content.Width < 1 || content.Height < 1) return;  // minimised: nothing to show

    size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(buffers_->mutex);
        const auto free = std::find(buffers_->held.begin(), buffers_->held.end(), false);
        if (free == buffers_->held.end()) return;  // every buffer held by a frame: no frame this time
        index = size_t(free - buffers_->held.begin());
        *free = true;
    }
    Ref<IDirect3D11CaptureFrame> frame =
        Ref<IDirect3D11CaptureFrame>::attach(new Frame(buffers_, index, content, now()));
    const std::vector<uint8_t> pixels = target.pixels(content);
    if (pixels.empty()) return;  // the frame goes, giving its buffer back
    // The picture goes to the top-left corner; a picture larger than the pool's buffers is cut at their edges.
    const D3D11_BOX box{
        0, 0, 0, UINT(std::min(content.Width, size_.Width)), UINT(std::min(content.Height, size_.Height)), 1};
    context_->UpdateSubresource(buffers_->textures[index].get(), 0, &box, pixels.data(), UINT(content.Width) * 4, 0);
    ready_.push_back(std::move(frame));
    observed().frames.fetch_add(1);

    boolean queued = 0;
    Ref<IDispatcherQueueHandler> announcement =
        Ref<IDispatcherQueueHandler>::attach(new FrameAnnouncement(Ref<FramePool>::share(this)));
    queue_->TryEnqueue(announcement.get(), &queued);
}

void FramePool::raise_frame_arrived() {
    if (closed_) return;
    // A copy: a handler may remove itself, or close the pool.
    const auto handlers = handlers_;
    for (const auto &[token, handler] : handlers) handler->Invoke(this, nullptr);
}

HRESULT FramePool::Recreate(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers, SizeInt32 size) {
    if (closed_) return kClosed;
    return allocate(device, pixel_format, buffers, size);
}

HRESULT FramePool::TryGetNextFrame(IDirect3D11CaptureFrame **frame) {
    if (!frame) return E_POINTER;
    *frame = nullptr;
    if (closed_) return kClosed;
    if (ready_.empty()) return S_OK;  // no frame: S_OK with null
    *frame = ready_.front().get();
    (*frame)->AddRef();
    ready_.pop_front();
    return S_OK;
}

HRESULT FramePool::add_FrameArrived(IFrameArrivedHandler *handler, EventRegistrationToken *token) {
    if (!handler || !token) return E_POINTER;
    if (closed_) return kClosed;
    token->value = next_token_++;
    handlers_.emplace_back(token->value, Ref<IFrameArrivedHandler>::share(handler));
    return S_OK;
}

HRESULT FramePool::remove_FrameArrived(EventRegistrationToken token) {
    std::erase_if(handlers_, [&](const auto &entry) { return entry.first == token.value; });
    return S_OK;
}

HRESULT FramePool::CreateCaptureSession(IGraphicsCaptureItem *item, IGraphicsCaptureSession **session) {
    if (!item || !session) return E_POINTER;
    *session = nullptr;
    if (closed_) return kClosed;
    // Every item reaching this service was made by it.
    *session =
        new CaptureSession(Ref<FramePool>::share(this), Ref<CaptureItem>::share(static_cast<CaptureItem *>(item)));
    return S_OK;
}

HRESULT FramePool::get_DispatcherQueue(IInspectable **queue) {
    if (closed_) return kClosed;
    return hand_out<IInspectable>(queue_.get(), queue);
}

HRESULT FramePool::Close() {
    stop();
    closed_ = true;
    ready_.clear();
    handlers_.clear();
    buffers_.reset();
    context_ = nullptr;
    device_ = nullptr;
    queue_ = nullptr;
    return S_OK;
}

}  // namespace wine_wgc
