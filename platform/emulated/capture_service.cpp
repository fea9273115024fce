#include "platform/emulated/capture_service.h"

#include <algorithm>
#include <array>
#include <thread>

#include <time.h>

#include "platform/emulated/displays.h"
#include "platform/emulated/graphics_access.h"
#include "platform/emulated/system.h"
#include "platform/emulated/throw.h"

namespace corvo::emu {
namespace {

// Live items and capture sessions, so that a target can reach the captures of it.
struct CaptureRegistry {
    std::mutex mutex;
    std::vector<CaptureItem *> items;
    std::vector<CaptureSession *> sessions;
};

CaptureRegistry &capture_registry() {
    static CaptureRegistry *r = new CaptureRegistry;
    return *r;
}

// The dispatcher queues that exist, by thread. A controller may be released on another thread than its own.
struct DispatcherThreads {
    std::mutex mutex;
    std::vector<std::pair<std::thread::id, uint64_t>> queues;  // the thread and the queue's id
    uint64_t next_id = 1;
};

DispatcherThreads &dispatcher_threads() {
    static DispatcherThreads *d = new DispatcherThreads;
    return *d;
}

template <class T>
void unregister(std::vector<T *> &list, T *object) {
    std::lock_guard lock(capture_registry().mutex);
    list.erase(std::remove(list.begin(), list.end(), object), list.end());
}

// The queue is gone: shut down, or its thread ended with the shutdown still queued.
void unregister_queue(void *id) {
    DispatcherThreads &d = dispatcher_threads();
    std::lock_guard lock(d.mutex);
    std::erase_if(d.queues, [id](const auto &queue) { return queue.second == reinterpret_cast<uintptr_t>(id); });
}

// Runs the handlers of an event of the weak source, if the source still exists.
template <class Source, HandlerList Source::*list>
void raise(IWeakReference &weak) {
    ComPtr<IUnknown> strong;
    weak.Resolve(__uuidof(IUnknown), reinterpret_cast<void **>(strong.put()));
    if (!strong) return;
    Source *source = static_cast<Source *>(strong.get());
    (source->*list).invoke();
}

// The message posted for an event: raises it on the source's thread.
template <class Source, HandlerList Source::*list>
void deliver(void *context) {
    ComPtr<IWeakReference> weak = ComPtr<IWeakReference>::attach(static_cast<IWeakReference *>(context));
    raise<Source, list>(*weak.get());
}

// An event message that is never dispatched still gives back its reference to the weak source.
void release_weak_source(void *context) { static_cast<IWeakReference *>(context)->Release(); }

template <class Source, HandlerList Source::*list>
void post_event(MessageQueue &queue, IWeakReference *weak_source) {
    weak_source->AddRef();
    queue.post(&deliver<Source, list>, weak_source, &release_weak_source);
}

// The emulated performance counter: CLOCK_MONOTONIC in 100 ns units.
int64_t monotonic_time() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 10'000'000 + now.tv_nsec / 100;
}

}  // namespace

platform::EventToken HandlerList::add(platform::EventHandler handler) {
    std::lock_guard lock(mutex_);
    handlers_.emplace_back(next_token_, std::move(handler));
    return next_token_++;
}

void HandlerList::remove(platform::EventToken token) {
    std::lock_guard lock(mutex_);
    handlers_.erase(std::remove_if(handlers_.begin(), handlers_.end(),
                                   [token](const auto &entry) { return entry.first == token; }),
                    handlers_.end());
}

void HandlerList::invoke() {
    // A fixed snapshot, so that handlers may add or remove handlers and nothing is allocated per event.
    std::array<platform::EventHandler, 8> snapshot;
    size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        for (const auto &entry : handlers_)
            if (count < snapshot.size()) snapshot[count++] = entry.second;
    }
    for (size_t i = 0; i < count; ++i) {
        try {
            snapshot[i].invoke(snapshot[i].context.get());
        } catch (...) {
            // The delegate hands the failure back to the event source, which goes on.
            add_count("handler_failures", 1);
        }
    }
}

void check_call(const char *operation) { throw_if_failed(call(operation), operation); }

DispatcherController::DispatcherController() {
    static const bool hooked =
        (on_reset([] {
             std::lock_guard lock(dispatcher_threads().mutex);
             dispatcher_threads().queues.clear();
         }),
         true);
    (void)hooked;
    std::lock_guard lock(dispatcher_threads().mutex);
    id_ = dispatcher_threads().next_id++;
    dispatcher_threads().queues.emplace_back(thread, id_);
}

void DispatcherController::shutdown() {
    check_call("ShutdownQueueAsync");
    if (shut_down_.exchange(true)) return;
    void *id = reinterpret_cast<void *>(uintptr_t(id_));
    queue_->post(&unregister_queue, id, &unregister_queue);
}

bool thread_has_dispatcher_queue() {
    std::lock_guard lock(dispatcher_threads().mutex);
    return std::any_of(dispatcher_threads().queues.begin(), dispatcher_threads().queues.end(),
                       [](const auto &queue) { return queue.first == std::this_thread::get_id(); });
}

CaptureItem::CaptureItem(std::shared_ptr<Target> t) : Object(true), target(std::move(t)) {
    std::lock_guard lock(capture_registry().mutex);
    capture_registry().items.push_back(this);
}

CaptureItem::~CaptureItem() { unregister(capture_registry().items, this); }

void PoolState::drop_ready() {
    std::deque<Frame *> dropped;
    {
        std::lock_guard lock(mutex);
        dropped.swap(ready);
    }
    for (Frame *frame : dropped) frame->Release();  // returns the buffer, which takes the lock again
}

Frame::Frame(std::shared_ptr<PoolState> pool, size_t buffer, uint64_t generation, ComPtr<ID3D11Texture2D> t,
             platform::SizeInt32 size, int64_t time)
    : texture(std::move(t)),
      content_size(size),
      system_time(time),
      pool_(std::move(pool)),
      buffer_(buffer),
      generation_(generation) {}

Frame::~Frame() {
    std::lock_guard lock(pool_->mutex);
    if (pool_->generation == generation_ && buffer_ < pool_->held.size()) pool_->held[buffer_] = false;
}

FramePool::FramePool(bool threaded) : Object(true), free_threaded(threaded) {}

FramePool::~FramePool() { state->drop_ready(); }

CaptureSession::CaptureSession(FramePool &p, std::shared_ptr<Target> t)
    : Object(true),
      target(std::move(t)),
      pool_state(p.state),
      pool_queue(p.queue),
      pool_free_threaded(p.free_threaded),
      pool([&p] {
          ComPtr<IWeakReference> weak = ComPtr<IWeakReference>::attach(p.weak_reference());
          return weak;
      }()) {
    std::lock_guard lock(capture_registry().mutex);
    capture_registry().sessions.push_back(this);
}

CaptureSession::~CaptureSession() { unregister(capture_registry().sessions, this); }

// Strong references to the registered objects of a target, taken under the registry's lock and used (and
// released) outside it, since releasing the last reference unregisters the object.
template <class T>
std::vector<ComPtr<IUnknown>> live_objects_of(const std::vector<T *> &list, const Target &target) {
    std::vector<ComPtr<IUnknown>> found;
    std::lock_guard lock(capture_registry().mutex);
    for (T *object : list)
        if (object->target.get() == &target && object->try_add_ref())
            found.push_back(ComPtr<IUnknown>::attach(object->unknown()));
    return found;
}

int32_t present(const Target &target) {
    int32_t delivered = 0;
    const Display display = display_of(target);
    for (const ComPtr<IUnknown> &held : live_objects_of(capture_registry().sessions, target)) {
        auto *session = static_cast<CaptureSession *>(static_cast<IEmuCaptureSession *>(held.get()));
        if (!session->started || session->closed || !session->pool) continue;

        PoolState &pool = *session->pool_state;
        std::unique_lock lock(pool.mutex);
        if (pool.closed || FAILED(removed_reason(pool.device.get()))) continue;
        const auto free = std::find(pool.held.begin(), pool.held.end(), false);
        if (free == pool.held.end()) continue;  // every buffer is queued or held by the host
        const size_t index = size_t(free - pool.held.begin());
        uint32_t row_pitch = 0;
        uint8_t *texels = emu::texels(pool.buffers[index].get(), &row_pitch);
        if (!texels) continue;
        const platform::SizeInt32 content = target.copy_to(texels, row_pitch, uint32_t(pool.size.Width),
                                                           uint32_t(pool.size.Height), pool.format, display);
        pool.held[index] = true;
        pool.ready.push_back(
            new Frame(session->pool_state, index, pool.generation, pool.buffers[index], content, monotonic_time()));
        lock.unlock();
        if (session->pool_free_threaded)
            raise<FramePool, &FramePool::frame_arrived>(*session->pool.get());
        else
            post_event<FramePool, &FramePool::frame_arrived>(*session->pool_queue, session->pool.get());
        ++delivered;
    }
    return delivered;
}

void raise_closed(const Target &target) {
    for (const ComPtr<IUnknown> &held : live_objects_of(capture_registry().items, target)) {
        auto *item = static_cast<CaptureItem *>(static_cast<IEmuCaptureItem *>(held.get()));
        ComPtr<IWeakReference> weak = ComPtr<IWeakReference>::attach(item->weak_reference());
        if (weak) post_event<CaptureItem, &CaptureItem::closed>(*item->queue, weak.get());
    }
}

ComPtr<IUnknown> latest_session_of(const Target &target) {
    std::vector<ComPtr<IUnknown>> sessions = live_objects_of(capture_registry().sessions, target);
    return sessions.empty() ? nullptr : sessions.back();
}

}  // namespace corvo::emu
