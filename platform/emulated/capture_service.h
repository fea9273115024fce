// The simulated capture service: capture items, frame pools and their frames, capture sessions, the
// Direct3D device wrapper and the dispatcher queue controller. Closed, and FrameArrived of a pool made with
// Create, are queued to the thread that created their source and run only when that thread dispatches its
// messages; FrameArrived of a free-threaded pool runs on the presenting thread, at the present.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/capture.h"
#include "platform/emulated/message_queue.h"
#include "platform/emulated/object.h"
#include "platform/emulated/targets.h"

#define CORVO_EMU_INTERFACE(name, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7) \
    CORVO_EMU_IID(name, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7)           \
    struct name : IUnknown {                                                  \
    protected:                                                                \
        ~name() = default;                                                    \
    };

// Private interfaces of the emulated runtime classes.
CORVO_EMU_INTERFACE(IEmuCaptureItem, 0x5f3e1a01, 0x6c1d, 0x4b7e, 0x9a, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x01)
CORVO_EMU_INTERFACE(IEmuFramePool, 0x5f3e1a02, 0x6c1d, 0x4b7e, 0x9a, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x02)
CORVO_EMU_INTERFACE(IEmuFrame, 0x5f3e1a03, 0x6c1d, 0x4b7e, 0x9a, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x03)
CORVO_EMU_INTERFACE(IEmuCaptureSession, 0x5f3e1a04, 0x6c1d, 0x4b7e, 0x9a, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x04)
CORVO_EMU_INTERFACE(IEmuDirect3DDevice, 0x5f3e1a05, 0x6c1d, 0x4b7e, 0x9a, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x05)
CORVO_EMU_INTERFACE(IEmuDispatcherController, 0x5f3e1a06, 0x6c1d, 0x4b7e, 0x9a, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55,
                    0x06)
CORVO_EMU_INTERFACE(IEmuQueueShutdown, 0x5f3e1a0a, 0x6c1d, 0x4b7e, 0x9a, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x0a)
CORVO_EMU_INTERFACE(IEmuItemInterop, 0x5f3e1a07, 0x6c1d, 0x4b7e, 0x9a, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x07)

namespace corvo::emu {

// Handlers of one event with their tokens. Each handler runs inside a delegate that catches what it throws.
class HandlerList {
public:
    platform::EventToken add(platform::EventHandler handler);
    void remove(platform::EventToken token);
    void invoke();

private:
    std::mutex mutex_;
    std::vector<std::pair<platform::EventToken, platform::EventHandler>> handlers_;
    platform::EventToken next_token_ = 1;
};

// Throws the platform error for a failed call of the named operation.
void check_call(const char *operation);

class Direct3DDevice final : public Object<IEmuDirect3DDevice> {
public:
    explicit Direct3DDevice(ComPtr<ID3D11Device> d) : device(std::move(d)) {}
    const ComPtr<ID3D11Device> device;

private:
    bool implements(REFIID iid) const noexcept override { return iid == __uuidof(IEmuDirect3DDevice); }
};

// A thread's dispatcher queue. Work posted to it runs when its thread dispatches its messages. Once its shutdown
// began it takes no more work, and the shutdown completes when the thread dispatches it; the queue also goes
// with its thread. A thread has at most one.
class DispatcherQueue : public std::enable_shared_from_this<DispatcherQueue> {
public:
    // The calling thread's queue, null when it has none.
    static std::shared_ptr<DispatcherQueue> current();
    // A new queue for the calling thread, which has none.
    static std::shared_ptr<DispatcherQueue> make();

    // Posts `task` as MessageQueue::post does; false, and nothing posted, once the shutdown began.
    bool post(Task task, void *context, Task discard);
    void shutdown();
    bool shut_down() const { return done_.load(); }
    // Runs `handler` on the queue's thread as the shutdown completes, or at once if it has.
    void on_shut_down(platform::EventHandler handler);

private:
    static void complete(void *queue);
    static void release(void *queue);

    const std::shared_ptr<MessageQueue> messages_ = MessageQueue::current();
    uint64_t epoch_ = 0;  // of the emulated system it was made in: a reset forgets every queue
    std::mutex mutex_;
    bool closing_ = false;
    std::atomic<bool> done_{false};
    std::vector<platform::EventHandler> on_shut_down_;
};

// The controller of the calling thread's queue. As on Windows, releasing the controller leaves the queue on
// its thread; only a completed shutdown takes it away.
class DispatcherController final : public Object<IEmuDispatcherController> {
public:
    DispatcherController() = default;

    bool enqueue(platform::EventHandler work);
    // Begins the shutdown; the action tells when it completed.
    class QueueShutdown *shutdown();

    const std::shared_ptr<DispatcherQueue> queue = DispatcherQueue::make();

private:
    bool implements(REFIID iid) const noexcept override { return iid == __uuidof(IEmuDispatcherController); }
};

// What ShutdownQueueAsync returns: completed once the queue's thread has dispatched the shutdown.
class QueueShutdown final : public Object<IEmuQueueShutdown> {
public:
    explicit QueueShutdown(std::shared_ptr<DispatcherQueue> q) : queue(std::move(q)) {}
    const std::shared_ptr<DispatcherQueue> queue;

private:
    bool implements(REFIID iid) const noexcept override { return iid == __uuidof(IEmuQueueShutdown); }
};

// Whether the calling thread owns a dispatcher queue.
bool thread_has_dispatcher_queue();

// Whether the user allows capture without the border now; hiding it takes effect only then.
bool borderless_allowed();

class CaptureItem final : public Object<IEmuCaptureItem> {
public:
    explicit CaptureItem(std::shared_ptr<Target> t);
    ~CaptureItem() override;

    const std::shared_ptr<Target> target;
    // Closed runs on the thread that created the item, through its dispatcher queue: not at all where that thread
    // had none, or once the queue's shutdown began.
    const std::shared_ptr<DispatcherQueue> dispatcher = DispatcherQueue::current();
    HandlerList closed;

private:
    bool implements(REFIID iid) const noexcept override { return iid == __uuidof(IEmuCaptureItem); }
};

class Frame;

// What a pool shares with its frames: the buffers and which of them are held.
struct PoolState {
    std::mutex mutex;
    ComPtr<ID3D11Device> device;
    DXGI_FORMAT format = DXGI_FORMAT_B8G8R8A8_UNORM;
    platform::SizeInt32 size{};
    std::vector<ComPtr<ID3D11Texture2D>> buffers;
    std::vector<bool> held;
    std::deque<Frame *> ready;  // each holds one reference
    uint64_t generation = 0;    // bumped by Recreate: buffers of older generations are not returned
    bool closed = false;

    void drop_ready();
};

class Frame final : public Object<IEmuFrame> {
public:
    Frame(std::shared_ptr<PoolState> pool, size_t buffer, uint64_t generation, ComPtr<ID3D11Texture2D> texture,
          platform::SizeInt32 content_size, int64_t system_time);
    ~Frame() override;

    const ComPtr<ID3D11Texture2D> texture;
    const platform::SizeInt32 content_size;
    const int64_t system_time;  // when it was presented: CLOCK_MONOTONIC in 100 ns units

private:
    bool implements(REFIID iid) const noexcept override { return iid == __uuidof(IEmuFrame); }

    std::shared_ptr<PoolState> pool_;
    size_t buffer_;
    uint64_t generation_;
};

class FramePool final : public Object<IEmuFramePool> {
public:
    explicit FramePool(bool free_threaded);
    ~FramePool() override;

    const std::shared_ptr<PoolState> state = std::make_shared<PoolState>();
    // FrameArrived runs on the presenting thread when free-threaded, else on the thread that created the pool.
    const bool free_threaded;
    const std::shared_ptr<DispatcherQueue> queue = DispatcherQueue::current();  // of a pool made with Create
    HandlerList frame_arrived;

private:
    bool implements(REFIID iid) const noexcept override { return iid == __uuidof(IEmuFramePool); }
};

class CaptureSession final : public Object<IEmuCaptureSession> {
public:
    CaptureSession(FramePool &pool, std::shared_ptr<Target> target);
    ~CaptureSession() override;

    const std::shared_ptr<Target> target;
    const std::shared_ptr<PoolState> pool_state;
    const std::shared_ptr<DispatcherQueue> pool_queue;
    const bool pool_free_threaded;
    const ComPtr<IWeakReference> pool;
    // Read by presents from any thread while the owner starts and closes the capture.
    std::atomic<bool> started{false};
    std::atomic<bool> closed{false};
    std::atomic<bool> cursor_capture_enabled{true};  // the system's defaults until the host sets them
    std::atomic<bool> border_required{true};
    std::atomic<int64_t> min_update_interval{0};  // 100 ns units; 0 is the system's default

private:
    bool implements(REFIID iid) const noexcept override { return iid == __uuidof(IEmuCaptureSession); }
};

// Delivers one frame of the target to every started capture of it that has a free buffer, and raises
// FrameArrived: at once on this thread for a free-threaded pool, else through the pool's thread's queue.
int32_t present(const Target &target);
// Raises Closed on every item of the target.
void raise_closed(const Target &target);
// The latest capture session of a target, for observing its switches; null if none.
ComPtr<IUnknown> latest_session_of(const Target &target);

}  // namespace corvo::emu
