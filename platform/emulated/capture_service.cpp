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
struct Registry {
    std::mutex mutex;
    std::vector<CaptureItem *> items;
    std::vector<CaptureSession *> sessions;
};

Registry &registry() {
    static Registry *r = new Registry;
    return *r;
}

// Bumped by a reset, which forgets the queues of every thread.
std::atomic<uint64_t> dispatcher_epoch{0};

// The calling thread's queue; it ends with the thread.
thread_local std::shared_ptr<DispatcherQueue> thread_dispatcher;

template <class T>
void unregister(std::vector<T *> &list, T *object) {
    std::lock_guard lock(registry().mutex);
    list.erase(std::remove(list.begin(), list.end(), object), list.end());
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

template <class Source, HandlerList Source::*list, class Queue>
void post_event(Queue &queue, IWeakReference *weak_source) {
    weak_source->AddRef();
    if (!queue.post(&deliver<Source, list>, weak_source, &release_weak_source)) weak_source->Release();
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

std::shared_ptr<DispatcherQueue> DispatcherQueue::current() {
    const std::shared_ptr<DispatcherQueue> &queue = thread_dispatcher;
    return queue && queue->epoch_ == dispatcher_epoch.load() && !queue->shut_down() ? queue : nullptr;
}

std::shared_ptr<DispatcherQueue> DispatcherQueue::make() {
    static const bool hooked = (on_reset([] { dispatcher_epoch.fetch_add(1); }), true);
    (void)hooked;
    thread_dispatcher = std::make_shared<DispatcherQueue>();
    thread_dispatcher->epoch_ = dispatcher_epoch.load();
    return thread_dispatcher;
}

bool DispatcherQueue::post(Task task, void *context, Task discard) {
    std::lock_guard lock(mutex_);
    if (closing_) return false;
    messages_->post(task, context, discard);
    return true;
}

void DispatcherQueue::shutdown() {
    std::lock_guard lock(mutex_);
    if (closing_) return;
    closing_ = true;
    // After the work queued before it, on the queue's thread.
    messages_->post(&complete, new std::shared_ptr<DispatcherQueue>(shared_from_this()), &release);
}

void DispatcherQueue::complete(void *queue) {
    const std::unique_ptr<std::shared_ptr<DispatcherQueue>> held(
        static_cast<std::shared_ptr<DispatcherQueue> *>(queue));
    std::vector<platform::EventHandler> handlers;
    {
        std::lock_guard lock((*held)->mutex_);
        (*held)->done_.store(true);
        handlers.swap((*held)->on_shut_down_);
    }
    if (thread_dispatcher == *held) thread_dispatcher.reset();
    for (const platform::EventHandler &handler : handlers) {
        try {
            handler.invoke(handler.context.get());
        } catch (...) {
            add_count("handler_failures", 1);  // the delegate hands the failure back to the action
        }
    }
}

void DispatcherQueue::on_shut_down(platform::EventHandler handler) {
    {
        std::lock_guard lock(mutex_);
        if (!done_.load()) {
            on_shut_down_.push_back(std::move(handler));
            return;
        }
    }
    handler.invoke(handler.context.get());
}

void DispatcherQueue::release(void *queue) { delete static_cast<std::shared_ptr<DispatcherQueue> *>(queue); }

bool DispatcherController::enqueue(platform::EventHandler work) {
    auto *held = new platform::EventHandler(std::move(work));
    const bool queued = queue->post(
        [](void *context) {
            const std::unique_ptr<platform::EventHandler> handler(static_cast<platform::EventHandler *>(context));
            handler->invoke(handler->context.get());
        },
        held, [](void *context) { delete static_cast<platform::EventHandler *>(context); });
    if (!queued) delete held;
    return queued;
}

QueueShutdown *DispatcherController::shutdown() {
    check_call("ShutdownQueueAsync");
    queue->shutdown();
    return new QueueShutdown(queue);
}

bool thread_has_dispatcher_queue() { return DispatcherQueue::current() != nullptr; }

CaptureItem::CaptureItem(std::shared_ptr<Target> t) : Object(true), target(std::move(t)) {
    std::lock_guard lock(registry().mutex);
    registry().items.push_back(this);
}

CaptureItem::~CaptureItem() { unregister(registry().items, this); }

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
    std::lock_guard lock(registry().mutex);
    registry().sessions.push_back(this);
}

CaptureSession::~CaptureSession() { unregister(registry().sessions, this); }

// Strong references to the registered objects of a target, taken under the registry's lock and used (and
// released) outside it, since releasing the last reference unregisters the object.
template <class T>
std::vector<ComPtr<IUnknown>> live_objects_of(const std::vector<T *> &list, const Target &target) {
    std::vector<ComPtr<IUnknown>> found;
    std::lock_guard lock(registry().mutex);
    for (T *object : list)
        if (object->target.get() == &target && object->try_add_ref())
            found.push_back(ComPtr<IUnknown>::attach(object->unknown()));
    return found;
}

int32_t present(const Target &target) {
    int32_t delivered = 0;
    const Display display = display_of(target);
    for (const ComPtr<IUnknown> &held : live_objects_of(registry().sessions, target)) {
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
        else if (session->pool_queue)
            post_event<FramePool, &FramePool::frame_arrived>(*session->pool_queue, session->pool.get());
        ++delivered;
    }
    return delivered;
}

void raise_closed(const Target &target) {
    for (const ComPtr<IUnknown> &held : live_objects_of(registry().items, target)) {
        auto *item = static_cast<CaptureItem *>(static_cast<IEmuCaptureItem *>(held.get()));
        ComPtr<IWeakReference> weak = ComPtr<IWeakReference>::attach(item->weak_reference());
        if (weak && item->dispatcher) post_event<CaptureItem, &CaptureItem::closed>(*item->dispatcher, weak.get());
    }
}

ComPtr<IUnknown> latest_session_of(const Target &target) {
    std::vector<ComPtr<IUnknown>> sessions = live_objects_of(registry().sessions, target);
    return sessions.empty() ? nullptr : sessions.back();
}

}  // namespace corvo::emu
