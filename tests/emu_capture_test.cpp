// The simulated capture service where its behaviour is not obvious: buffer limits, content sizes, which
// thread runs events, weak sources and injected faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "corvo_emu.h"
#include "platform/capture.h"
#include "platform/emulated/graphics_access.h"

namespace {

using namespace corvo;
using namespace corvo::platform;

// A handler that counts its calls in `*count`, which the test keeps alive.
EventHandler counting(int *count) {
    return {[](void *c) { ++*static_cast<int *>(c); }, std::shared_ptr<void>(std::shared_ptr<void>(), count)};
}

int dispatch_all() {
    int dispatched = 0;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&msg);
        ++dispatched;
    }
    return dispatched;
}

class EmuCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        corvo_emu_reset();
        ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                    d3d.put(), nullptr, nullptr),
                  S_OK);
        ComPtr<IDXGIDevice> dxgi;
        ASSERT_EQ(d3d->QueryInterface(IID_PPV_ARGS(dxgi.put())), S_OK);
        ComPtr<IUnknown> inspectable;
        ASSERT_EQ(Direct3DDevice::from_dxgi_device(dxgi.get(), &inspectable), S_OK);
        device = Direct3DDevice::from(inspectable);
        window = corvo_emu_create_window(64, 48);
    }
    void TearDown() override {
        dispatch_all();
        device = Direct3DDevice();
        d3d.reset();
        EXPECT_EQ(corvo_emu_count("live_objects"), 0u);
        EXPECT_EQ(corvo_emu_count("validation_errors"), 0u);
    }

    GraphicsCaptureItem item_for(HWND target) {
        GraphicsCaptureItemInterop interop;
        EXPECT_EQ(GraphicsCaptureItemInterop::get(&interop), S_OK);
        GraphicsCaptureItem item;
        EXPECT_EQ(interop.CreateForWindow(target, &item), S_OK);
        return item;
    }

    // A started capture of `window` on the calling thread, which must own a dispatcher queue unless the pool is
    // free-threaded.
    struct Capture {
        GraphicsCaptureItem item;
        Direct3D11CaptureFramePool pool;
        GraphicsCaptureSession session;
    };
    Capture start_capture(SizeInt32 size, bool free_threaded = false) {
        Capture c;
        c.item = item_for(window);
        c.pool = free_threaded
                     ? Direct3D11CaptureFramePool::CreateFreeThreaded(device, DXGI_FORMAT_B8G8R8A8_UNORM, 2, size)
                     : Direct3D11CaptureFramePool::Create(device, DXGI_FORMAT_B8G8R8A8_UNORM, 2, size);
        c.session = c.pool.CreateCaptureSession(c.item);
        c.session.StartCapture();
        return c;
    }

    DispatcherQueueController dispatcher() {
        DispatcherQueueController controller;
        EXPECT_EQ(DispatcherQueueController::create({12, DQTYPE_THREAD_CURRENT, DQTAT_COM_NONE}, &controller), S_OK);
        return controller;
    }

    ComPtr<ID3D11Device> d3d;
    Direct3DDevice device;
    HWND window = nullptr;
};

TEST_F(EmuCaptureTest, FramePoolNeedsADispatcherQueueOnItsThreadAndAThreadHasOneAtMost) {
    try {
        Direct3D11CaptureFramePool::Create(device, DXGI_FORMAT_B8G8R8A8_UNORM, 2, {64, 48});
        ADD_FAILURE() << "created without a dispatcher queue";
    } catch (const PlatformError &error) {
        EXPECT_EQ(error.code(), static_cast<HRESULT>(0x8001010E));
    }
    DispatcherQueueController first = dispatcher();
    DispatcherQueueController second;
    EXPECT_EQ(DispatcherQueueController::create({12, DQTYPE_THREAD_CURRENT, DQTAT_COM_NONE}, &second),
              static_cast<HRESULT>(0x8001010E));
    EXPECT_EQ(DispatcherQueueController::create({8, DQTYPE_THREAD_CURRENT, DQTAT_COM_NONE}, &second), E_INVALIDARG);
}

TEST_F(EmuCaptureTest, QueueOutlivesItsControllerUntilAShutdownIsDispatched) {
    { DispatcherQueueController first = dispatcher(); }
    DispatcherQueueController second;
    EXPECT_EQ(DispatcherQueueController::create({12, DQTYPE_THREAD_CURRENT, DQTAT_COM_NONE}, &second),
              static_cast<HRESULT>(0x8001010E));  // released, as on Windows, the queue stays on its thread
    corvo_emu_reset();
    DispatcherQueueController controller = dispatcher();
    controller.ShutdownQueueAsync();
    EXPECT_EQ(DispatcherQueueController::create({12, DQTYPE_THREAD_CURRENT, DQTAT_COM_NONE}, &second),
              static_cast<HRESULT>(0x8001010E));  // until the thread dispatches the shutdown
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    controller.ShutdownQueueAsync();  // a second shutdown has nothing left to do
    EXPECT_EQ(DispatcherQueueController::create({12, DQTYPE_THREAD_CURRENT, DQTAT_COM_NONE}, &second), S_OK);
}

TEST_F(EmuCaptureTest, PoolHoldsBackFramesWhileAllItsBuffersAreHeld) {
    DispatcherQueueController queue = dispatcher();
    Capture c = start_capture({64, 48});
    EXPECT_EQ(corvo_emu_present(window), 1);
    EXPECT_EQ(corvo_emu_present(window), 1);
    EXPECT_EQ(corvo_emu_present(window), 0);  // both buffers queued
    Direct3D11CaptureFrame held = c.pool.TryGetNextFrame();
    ASSERT_TRUE(held);
    EXPECT_EQ(corvo_emu_present(window), 0);  // one held by us, one still queued
    c.pool.TryGetNextFrame();                 // taken and released at once
    EXPECT_EQ(corvo_emu_present(window), 1);
    EXPECT_TRUE(c.pool.TryGetNextFrame());
}

TEST_F(EmuCaptureTest, FramesKeepThePoolSizeAndCarryTheTargetsContentSize) {
    DispatcherQueueController queue = dispatcher();
    Capture c = start_capture({64, 48});
    corvo_emu_fill(window, 0, 0, 64, 48, 0xFF112233u);
    corvo_emu_resize(window, 80, 20);  // wider and shorter: the new area is black
    corvo_emu_present(window);
    Direct3D11CaptureFrame frame = c.pool.TryGetNextFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame.ContentSize().Width, 80);
    EXPECT_EQ(frame.ContentSize().Height, 20);
    ComPtr<ID3D11Texture2D> texture = frame.texture();
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 64u);
    EXPECT_EQ(desc.Height, 48u);
    uint32_t pitch = 0;
    const uint8_t *texels = emu::texels(texture.get(), &pitch);
    auto pixel = [&](uint32_t x, uint32_t y) {
        const uint8_t *p = texels + y * pitch + x * 4;
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    };
    EXPECT_EQ(pixel(0, 0), 0xFF112233u);
    EXPECT_EQ(pixel(63, 19), 0xFF112233u);
    EXPECT_EQ(pixel(0, 20), 0u);  // below the content

    c.pool.Recreate(device, DXGI_FORMAT_B8G8R8A8_UNORM, 2, {80, 20});
    frame = Direct3D11CaptureFrame();
    texture.reset();
    corvo_emu_present(window);
    c.pool.TryGetNextFrame().texture()->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 80u);
    EXPECT_EQ(desc.Height, 20u);
}

// A C host gets a null target, or a target that keeps its size, for sizes the system cannot hold; nothing is
// thrown through the control API.
TEST_F(EmuCaptureTest, SizesTheSystemCannotHoldAreRefused) {
    const SizeInt32 refused[] = {{0, 1}, {1, 0}, {-1, 5}, {16385, 1}, {1, 16385}, {INT32_MAX, INT32_MAX}};
    for (const SizeInt32 size : refused) {
        SCOPED_TRACE(testing::Message() << size.Width << "x" << size.Height);
        EXPECT_EQ(corvo_emu_create_window(size.Width, size.Height), nullptr);
        EXPECT_EQ(corvo_emu_create_monitor(size.Width, size.Height), nullptr);
        corvo_emu_resize(window, size.Width, size.Height);
        const SizeInt32 kept = item_for(window).Size();
        EXPECT_EQ(kept.Width, 64);
        EXPECT_EQ(kept.Height, 48);
    }
    HWND widest = corvo_emu_create_window(16384, 1);
    EXPECT_NE(widest, nullptr);
    corvo_emu_close(widest);
}

TEST_F(EmuCaptureTest, FrameArrivedRunsAtThePresentWhenFreeThreadedElseWhenThePoolsThreadDispatches) {
    for (const bool free_threaded : {false, true}) {
        SCOPED_TRACE(free_threaded ? "CreateFreeThreaded" : "Create");
        struct Arrivals {
            int count = 0;
            std::thread::id thread;
        } arrivals;
        std::thread capture_thread([&] {
            DispatcherQueueController queue;
            if (!free_threaded) queue = dispatcher();  // a free-threaded pool needs none
            Capture c = start_capture({64, 48}, free_threaded);
            EventRegistration registration = c.pool.FrameArrived(
                {[](void *a) {
                     auto &arrived = *static_cast<Arrivals *>(a);
                     ++arrived.count;
                     arrived.thread = std::this_thread::get_id();
                 },
                 std::shared_ptr<void>(std::shared_ptr<void>(), &arrivals)});
            // Presented from another thread, as a compositor does.
            std::thread presenter([&] { EXPECT_EQ(corvo_emu_present(window), 1); });
            const std::thread::id presenting = presenter.get_id();
            presenter.join();
            EXPECT_EQ(arrivals.count, free_threaded ? 1 : 0);
            EXPECT_EQ(dispatch_all(), free_threaded ? 0 : 1);
            EXPECT_EQ(arrivals.count, 1);
            EXPECT_EQ(arrivals.thread, free_threaded ? presenting : std::this_thread::get_id());
        });
        capture_thread.join();
        EXPECT_EQ(dispatch_all(), 0);  // nothing was queued to this thread
    }
}

// Like Windows, the service renders only into a free buffer: a queue-bound pool whose thread does not dispatch
// keeps its first pictures and drops the later ones, while a free-threaded handler that keeps only the newest
// frame always has the last picture.
TEST_F(EmuCaptureTest, OnlyAHandlerThatRunsAtThePresentKeepsTheNewestPicture) {
    DispatcherQueueController queue = dispatcher();
    for (const bool free_threaded : {false, true}) {
        SCOPED_TRACE(free_threaded ? "CreateFreeThreaded" : "Create");
        Capture c = start_capture({64, 48}, free_threaded);
        struct Newest {
            Direct3D11CaptureFramePool pool;
            Direct3D11CaptureFrame frame;
        } newest{c.pool, {}};
        EventRegistration registration = c.pool.FrameArrived(
            {[](void *n) {
                 auto &kept = *static_cast<Newest *>(n);
                 while (Direct3D11CaptureFrame frame = kept.pool.TryGetNextFrame()) kept.frame = std::move(frame);
             },
             std::shared_ptr<void>(std::shared_ptr<void>(), &newest)});
        int rendered = 0;
        for (uint32_t picture = 1; picture <= 5; ++picture) {
            corvo_emu_fill(window, 0, 0, 64, 48, 0xFF000000u | picture);
            rendered += corvo_emu_present(window);
        }
        EXPECT_EQ(rendered, free_threaded ? 5 : 2);
        dispatch_all();
        ASSERT_TRUE(newest.frame);
        uint32_t pitch = 0;
        const uint8_t *texels = emu::texels(newest.frame.texture().get(), &pitch);
        EXPECT_EQ(texels[0], free_threaded ? 5 : 2);
        registration.revoke();
        newest = {};
        c.pool.Close();
    }
}

TEST_F(EmuCaptureTest, ClosedIsRaisedOnEveryItemOfTheTarget) {
    int closed = 0;
    GraphicsCaptureItem a = item_for(window), b = item_for(window);
    EventRegistration ra = a.Closed(counting(&closed));
    EventRegistration rb = b.Closed(counting(&closed));
    corvo_emu_close(window);
    dispatch_all();
    EXPECT_EQ(closed, 2);
    GraphicsCaptureItem late;
    GraphicsCaptureItemInterop interop;
    GraphicsCaptureItemInterop::get(&interop);
    EXPECT_EQ(interop.CreateForWindow(window, &late), E_INVALIDARG);
}

TEST_F(EmuCaptureTest, RegistrationsHoldTheirSourceWeakly) {
    int fired = 0;
    EventRegistration registration;
    const uint64_t before = corvo_emu_count("live_objects");
    {
        GraphicsCaptureItem item = item_for(window);
        registration = item.Closed(counting(&fired));
        EXPECT_EQ(corvo_emu_count("live_objects"), before + 1);
    }
    EXPECT_EQ(corvo_emu_count("live_objects"), before);  // the registration did not keep the item
    registration.revoke();  // the source is gone: nothing to remove, nothing to crash on
    EXPECT_TRUE(registration.empty());

    GraphicsCaptureItem item = item_for(window);
    registration = item.Closed(counting(&fired));
    registration = EventRegistration();  // revokes
    corvo_emu_close(window);
    dispatch_all();
    EXPECT_EQ(fired, 0);
}

// Found under LeakSanitizer: an event message left in the queue of a thread that ended kept its reference to
// the event's weak source for ever.
TEST_F(EmuCaptureTest, EventsNeverDispatchedReleaseTheirSourceWhenTheThreadEnds) {
    std::thread([this] {
        DispatcherQueueController queue = dispatcher();
        Capture c = start_capture({64, 48});
        EXPECT_EQ(corvo_emu_present(window), 1);
        corvo_emu_close(window);
    }).join();  // FrameArrived and Closed still queued
    EXPECT_EQ(corvo_emu_count("weak_references"), 0u);
}

TEST_F(EmuCaptureTest, InjectedFaultsThrowThePlatformErrorByName) {
    DispatcherQueueController queue = dispatcher();
    corvo_emu_fail("Create", static_cast<int32_t>(0x80004005), 1, 1);
    Direct3D11CaptureFramePool::Create(device, DXGI_FORMAT_B8G8R8A8_UNORM, 2, {8, 8});  // skipped
    try {
        Direct3D11CaptureFramePool::Create(device, DXGI_FORMAT_B8G8R8A8_UNORM, 2, {8, 8});
        ADD_FAILURE() << "the fault did not fire";
    } catch (const PlatformError &error) {
        EXPECT_EQ(error.code(), static_cast<HRESULT>(0x80004005));
        EXPECT_EQ(error.message(), "Create failed");
    }
    EXPECT_NO_THROW(Direct3D11CaptureFramePool::Create(device, DXGI_FORMAT_B8G8R8A8_UNORM, 2, {8, 8}));
    EXPECT_EQ(corvo_emu_count("Create"), 3u);
}

TEST_F(EmuCaptureTest, ClosedPoolDeliversNothingAndRefusesCalls) {
    DispatcherQueueController queue = dispatcher();
    Capture c = start_capture({64, 48});
    corvo_emu_present(window);
    c.pool.Close();
    EXPECT_EQ(corvo_emu_present(window), 0);
    EXPECT_THROW(c.pool.TryGetNextFrame(), PlatformError);
}

}  // namespace
