// The simulated capture service where its behaviour is not obvious: buffer limits, content sizes, which
// thread runs events, weak sources and injected faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

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
    GraphicsCaptureItem item_for(HMONITOR target) {
        GraphicsCaptureItemInterop interop;
        EXPECT_EQ(GraphicsCaptureItemInterop::get(&interop), S_OK);
        GraphicsCaptureItem item;
        EXPECT_EQ(interop.CreateForMonitor(target, &item), S_OK);
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

// Closed comes through the dispatcher queue of the thread that made the item: not without one, nor once the
// queue's shutdown began.
TEST_F(EmuCaptureTest, ClosedIsRaisedOnEveryItemOfTheTargetMadeWhereADispatcherQueueTakesIt) {
    int closed = 0;
    GraphicsCaptureItem without_queue = item_for(window);
    EventRegistration r0 = without_queue.Closed(counting(&closed));
    DispatcherQueueController queue = dispatcher();
    GraphicsCaptureItem a = item_for(window), b = item_for(window);
    EventRegistration ra = a.Closed(counting(&closed));
    EventRegistration rb = b.Closed(counting(&closed));
    const HWND other = corvo_emu_create_window(8, 8);
    GraphicsCaptureItem shut = item_for(other);
    EventRegistration rs = shut.Closed(counting(&closed));
    QueueShutdown shutdown = queue.ShutdownQueueAsync();
    corvo_emu_close(other);
    EXPECT_FALSE(shutdown.completed());
    dispatch_all();
    EXPECT_TRUE(shutdown.completed());
    EXPECT_EQ(closed, 0);
    queue = dispatcher();
    a = item_for(window), b = item_for(window);
    ra = a.Closed(counting(&closed));
    rb = b.Closed(counting(&closed));
    corvo_emu_close(window);
    dispatch_all();
    EXPECT_EQ(closed, 2);
    queue.ShutdownQueueAsync();
    dispatch_all();
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

// Two monitors side by side, A (100 x 100) at 0 and B (200 x 100) at 100, and a 50 x 50 window: the monitor it is
// on by MonitorFromWindow's rules.
struct Placement {
    const char *name;
    int32_t x, y;
    DWORD flags;
    int expected;  // 0 A, 1 B, -1 none
};

TEST_F(EmuCaptureTest, AWindowIsOnTheMonitorItOverlapsMostElseAsTheFlagsSay) {
    const HMONITOR monitors[2] = {corvo_emu_create_monitor(100, 100), corvo_emu_create_monitor(200, 100)};
    corvo_emu_resize(window, 50, 50);
    const Placement placements[] = {
        {"InsideA", 0, 0, MONITOR_DEFAULTTONULL, 0},
        {"MoreOnB", 80, 10, MONITOR_DEFAULTTONULL, 1},
        {"MoreOnA", 60, -10, MONITOR_DEFAULTTONULL, 0},
        {"RightOfBNearest", 400, 0, MONITOR_DEFAULTTONEAREST, 1},
        {"RightOfBPrimary", 400, 0, MONITOR_DEFAULTTOPRIMARY, 0},
        {"RightOfBNull", 400, 0, MONITOR_DEFAULTTONULL, -1},
        {"BelowANearest", 0, 500, MONITOR_DEFAULTTONEAREST, 0},
        {"LeftOfANearest", -300, 20, MONITOR_DEFAULTTONEAREST, 0},
    };
    for (const Placement &p : placements) {
        SCOPED_TRACE(p.name);
        corvo_emu_move_window(window, p.x, p.y);
        EXPECT_EQ(MonitorFromWindow(window, p.flags), p.expected < 0 ? nullptr : monitors[p.expected]);
    }
    corvo_emu_target listed[3];
    ASSERT_EQ(corvo_emu_list_targets(listed, 3), 3);
    EXPECT_EQ(listed[0].x, -300);
    EXPECT_EQ(listed[0].y, 20);

    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetMonitorInfoW(monitors[1], &info));
    EXPECT_EQ(info.rcMonitor.left, 100);
    EXPECT_EQ(info.rcMonitor.right, 300);
    EXPECT_EQ(info.rcMonitor.bottom, 100);
    EXPECT_EQ(info.dwFlags, 0u);
    EXPECT_EQ(std::u16string(info.szDevice), u"\\\\.\\DISPLAY2");
    MONITORINFO plain{};
    plain.cbSize = sizeof plain;
    ASSERT_TRUE(GetMonitorInfoW(monitors[0], &plain));
    EXPECT_EQ(plain.dwFlags, MONITORINFOF_PRIMARY);
    plain.cbSize = sizeof plain + 4;
    EXPECT_FALSE(GetMonitorInfoW(monitors[0], &plain));
    EXPECT_FALSE(GetMonitorInfoW(reinterpret_cast<HMONITOR>(window), &info));

    // A closed monitor leaves its place to the next, which becomes the primary.
    corvo_emu_close(monitors[0]);
    EXPECT_FALSE(GetMonitorInfoW(monitors[0], &info));
    ASSERT_TRUE(GetMonitorInfoW(monitors[1], &info));
    EXPECT_EQ(info.rcMonitor.left, 0);
    EXPECT_EQ(info.dwFlags, MONITORINFOF_PRIMARY);
    corvo_emu_move_window(window, 0, 0);
    EXPECT_EQ(MonitorFromWindow(window, MONITOR_DEFAULTTONULL), monitors[1]);

    corvo_emu_fail("MonitorFromWindow", E_FAIL, 0, 1);
    corvo_emu_fail("GetMonitorInfoW", E_FAIL, 0, 1);
    EXPECT_EQ(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), nullptr);
    EXPECT_FALSE(GetMonitorInfoW(monitors[1], &info));
}

// DISPLAYCONFIG_SDR_WHITE_LEVEL's unit: thousandths of 80 nits.
uint32_t white_level(uint32_t nits) { return nits * 1000 / 80; }

TEST_F(EmuCaptureTest, DisplayConfigurationNamesEachSourceAndTellsEachTargetsSdrWhite) {
    const HMONITOR monitors[2] = {corvo_emu_create_monitor(64, 48), corvo_emu_create_monitor(32, 32)};
    corvo_emu_set_hdr(window, 1, 200);        // the window is on the first monitor
    corvo_emu_set_hdr(monitors[1], 0, 1000);  // held to 480 nits
    UINT32 path_count = 0, mode_count = 0;
    ASSERT_EQ(GetDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &path_count, &mode_count), ERROR_SUCCESS);
    ASSERT_EQ(path_count, 2u);
    std::vector<DISPLAYCONFIG_PATH_INFO> paths(path_count);
    std::vector<DISPLAYCONFIG_MODE_INFO> modes(mode_count);
    UINT32 too_few = 1;
    EXPECT_EQ(QueryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &too_few, paths.data(), &mode_count, modes.data(), nullptr),
              ERROR_INSUFFICIENT_BUFFER);
    ASSERT_EQ(QueryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &path_count, paths.data(), &mode_count, modes.data(),
                                 nullptr),
              ERROR_SUCCESS);
    const uint32_t whites[2] = {white_level(200), white_level(480)};
    for (UINT32 i = 0; i < path_count; ++i) {
        SCOPED_TRACE(testing::Message() << "path " << i);
        const DISPLAYCONFIG_PATH_INFO &path = paths[i];
        EXPECT_TRUE(path.flags & DISPLAYCONFIG_PATH_ACTIVE);
        DISPLAYCONFIG_SOURCE_DEVICE_NAME source{};
        source.header = {DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME, sizeof source, path.sourceInfo.adapterId,
                         path.sourceInfo.id};
        ASSERT_EQ(DisplayConfigGetDeviceInfo(&source.header), ERROR_SUCCESS);
        MONITORINFOEXW info{};
        info.cbSize = sizeof info;
        ASSERT_TRUE(GetMonitorInfoW(monitors[i], &info));
        EXPECT_EQ(std::u16string(source.viewGdiDeviceName), std::u16string(info.szDevice));

        DISPLAYCONFIG_SDR_WHITE_LEVEL white{};
        white.header = {DISPLAYCONFIG_DEVICE_INFO_GET_SDR_WHITE_LEVEL, sizeof white, path.targetInfo.adapterId,
                        path.targetInfo.id};
        ASSERT_EQ(DisplayConfigGetDeviceInfo(&white.header), ERROR_SUCCESS);
        EXPECT_EQ(white.SDRWhiteLevel, whites[i]);
        white.header.id = path.sourceInfo.id;  // the source where the target is due
        EXPECT_EQ(DisplayConfigGetDeviceInfo(&white.header), ERROR_INVALID_PARAMETER);
        white.header = {DISPLAYCONFIG_DEVICE_INFO_GET_SDR_WHITE_LEVEL, sizeof white.header,
                        path.targetInfo.adapterId, path.targetInfo.id};
        EXPECT_EQ(DisplayConfigGetDeviceInfo(&white.header), ERROR_INSUFFICIENT_BUFFER);
    }
    corvo_emu_fail("DisplayConfigGetDeviceInfo", ERROR_ACCESS_DENIED, 0, 1);
    DISPLAYCONFIG_SDR_WHITE_LEVEL white{};
    white.header = {DISPLAYCONFIG_DEVICE_INFO_GET_SDR_WHITE_LEVEL, sizeof white, paths[0].targetInfo.adapterId,
                    paths[0].targetInfo.id};
    EXPECT_EQ(DisplayConfigGetDeviceInfo(&white.header), ERROR_ACCESS_DENIED);
    EXPECT_EQ(DisplayConfigGetDeviceInfo(&white.header), ERROR_SUCCESS);
    EXPECT_EQ(white.SDRWhiteLevel, white_level(200));
}

// The reference's formulas, written out here so that the expected pixels come from them and not from the code
// under test: the sRGB curves, Direct3D's float to UNORM8 rule, and a half by its fields.
double srgb_decode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double srgb_encode(double l) { return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055; }
uint8_t unorm(double x) { return std::isnan(x) ? 0 : uint8_t(std::floor(std::clamp(x, 0.0, 1.0) * 255 + 0.5)); }
double half_value(uint16_t h) {
    const int e = h >> 10 & 31, f = h & 1023;
    const double magnitude = e == 0 ? std::ldexp(f, -24) : std::ldexp(1 + f / 1024.0, e - 15);
    return h & 0x8000 ? -magnitude : magnitude;
}
// The half a GPU stores for a finite x: the one nearest toward zero, at most 65504.
uint16_t gpu_half(double x) {
    uint16_t low = 0, high = 0x7BFF;  // the largest finite half whose value is at most |x|
    while (low < high) {
        const auto middle = uint16_t((low + high + 1) / 2);
        if (half_value(middle) <= std::fabs(x))
            low = middle;
        else
            high = uint16_t(middle - 1);
    }
    return uint16_t(low | (x < 0 ? 0x8000 : 0));
}

// A monitor's mode, a pool format, and whether the monitor itself is captured or a window shown on it.
struct CompositionCase {
    const char *name;
    bool hdr;
    uint32_t white;
    DXGI_FORMAT format;
    bool monitor = false;
};

TEST_F(EmuCaptureTest, FramesAreComposedAsWindowsComposesForTheMonitorsModeInThePoolsFormat) {
    // Row 0: 8-bit content of every level in each channel; row 1: HDR content in the first four pixels.
    const float painted[4][4] = {{12.5f, 5.0f, 1.25f, 1.0f},
                                 {1.0f, 0.5f, 0.25f, 0.5f},
                                 {-0.5f, 131008.0f, NAN, 1.0f},
                                 {2.5f, 6.0f, 0.0125f, 1.0f}};
    const HMONITOR sdr = corvo_emu_create_monitor(256, 2), shown_on = corvo_emu_create_monitor(256, 2);
    corvo_emu_resize(window, 256, 2);
    corvo_emu_move_window(window, 300, 0);  // mostly on the second monitor
    std::vector<uint8_t> ramp(256 * 4);
    for (uint32_t v = 0; v < 256; ++v) {
        const uint8_t bgra[4] = {uint8_t(v), uint8_t(v * 7 + 3), uint8_t(255 - v), uint8_t(v * 3)};
        std::copy(bgra, bgra + 4, &ramp[v * 4]);
    }
    for (void *target : {static_cast<void *>(window), static_cast<void *>(shown_on)}) {
        corvo_emu_write(target, 0, 0, 256, 1, ramp.data(), 256 * 4);
        for (int i = 0; i < 4; ++i)
            corvo_emu_fill_scrgb(target, i, 1, 1, 1, painted[i][0], painted[i][1], painted[i][2], painted[i][3]);
    }
    const CompositionCase cases[] = {
        {"Sdr", false, 200, DXGI_FORMAT_B8G8R8A8_UNORM},
        {"Sdr", false, 200, DXGI_FORMAT_R16G16B16A16_FLOAT},
        {"Sdr", false, 200, DXGI_FORMAT_R8G8B8A8_UNORM},
        {"Hdr80", true, 80, DXGI_FORMAT_B8G8R8A8_UNORM},
        {"Hdr80", true, 80, DXGI_FORMAT_R16G16B16A16_FLOAT},
        {"Hdr200", true, 200, DXGI_FORMAT_B8G8R8A8_UNORM},
        {"Hdr200", true, 200, DXGI_FORMAT_R16G16B16A16_FLOAT},
        {"Hdr200", true, 200, DXGI_FORMAT_R8G8B8A8_UNORM},
        {"Hdr480", true, 480, DXGI_FORMAT_B8G8R8A8_UNORM},
        {"Hdr480", true, 480, DXGI_FORMAT_R16G16B16A16_FLOAT},
        {"Hdr200Monitor", true, 200, DXGI_FORMAT_B8G8R8A8_UNORM, true},
        {"Hdr480Monitor", true, 480, DXGI_FORMAT_R16G16B16A16_FLOAT, true},
    };
    // The two rows of a frame of the window (or of the monitor) in a pool of that format.
    const auto capture = [&](bool monitor, DXGI_FORMAT format) {
        const GraphicsCaptureItem item = monitor ? item_for(shown_on) : item_for(window);
        const auto pool = Direct3D11CaptureFramePool::CreateFreeThreaded(device, format, 1, {256, 2});
        const GraphicsCaptureSession session = pool.CreateCaptureSession(item);
        session.StartCapture();
        EXPECT_EQ(corvo_emu_present(monitor ? static_cast<void *>(shown_on) : static_cast<void *>(window)), 1);
        const Direct3D11CaptureFrame frame = pool.TryGetNextFrame();
        D3D11_TEXTURE2D_DESC desc{};
        frame.texture()->GetDesc(&desc);
        EXPECT_EQ(desc.Format, format);
        uint32_t pitch = 0;
        const uint8_t *texels = emu::texels(frame.texture().get(), &pitch);
        std::vector<uint8_t> rows(texels, texels + pitch * 2);
        return std::pair(rows, pitch);
    };
    const auto half_at = [](const std::vector<uint8_t> &texels, size_t at) {
        uint16_t half;
        std::memcpy(&half, &texels[at], 2);
        return half;
    };
    for (const CompositionCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << ", format " << c.format);
        corvo_emu_set_hdr(shown_on, c.hdr, c.white);
        const auto [frame, pitch] = capture(c.monitor, c.format);
        const uint8_t *texels = frame.data();
        const double white = c.hdr ? c.white : 80;  // where SDR white sits, in nits
        for (uint32_t x = 0; x < 256; ++x) {
            // What the content is, as the 8-bit B, G, R, A an SDR monitor shows and as scRGB R, G, B, A.
            uint8_t bgra[4];
            double scrgb[4];
            std::copy(&ramp[x * 4], &ramp[x * 4 + 4], bgra);
            for (int ch = 0; ch < 3; ++ch) scrgb[ch] = srgb_decode(bgra[2 - ch] / 255.0) * white / 80;
            scrgb[3] = bgra[3] / 255.0;
            for (uint32_t y = 0; y < 2; ++y) {
                const bool hdr_content = y == 1 && x < 4;
                if (y == 1) {
                    if (hdr_content) {
                        for (int ch = 0; ch < 4; ++ch) scrgb[ch] = half_value(gpu_half(painted[x][ch]));
                        for (int ch = 0; ch < 3; ++ch)
                            bgra[2 - ch] = unorm(srgb_encode(std::clamp(scrgb[ch], 0.0, 1.0)));
                        bgra[3] = unorm(scrgb[3]);
                    } else {
                        bgra[0] = bgra[1] = bgra[2] = 0, bgra[3] = 255;
                        scrgb[0] = scrgb[1] = scrgb[2] = 0, scrgb[3] = 1;
                    }
                }
                const uint8_t *p = texels + y * pitch;
                if (c.format != DXGI_FORMAT_R16G16B16A16_FLOAT) {
                    uint8_t want[4];
                    std::copy(bgra, bgra + 4, want);
                    if (hdr_content && c.hdr)
                        for (int ch = 0; ch < 3; ++ch)
                            want[2 - ch] = std::isnan(painted[x][ch])
                                               ? 0
                                               : unorm(srgb_encode(std::clamp(scrgb[ch] * 80 / white, 0.0, 1.0)));
                    if (c.format == DXGI_FORMAT_R8G8B8A8_UNORM) std::swap(want[0], want[2]);
                    for (int byte = 0; byte < 4; ++byte)
                        ASSERT_EQ(p[x * 4 + byte], want[byte]) << "pixel " << x << ", " << y << " byte " << byte;
                    continue;
                }
                for (int ch = 0; ch < 4; ++ch) {
                    uint16_t half;
                    std::memcpy(&half, p + x * 8 + ch * 2, 2);
                    if (hdr_content && c.hdr && std::isnan(painted[x][ch])) {
                        EXPECT_TRUE((half & 0x7C00) == 0x7C00 && (half & 0x3FF)) << std::hex << half;
                        continue;
                    }
                    // On an SDR monitor HDR content is what was shown: the clipped 8-bit pixel, decoded.
                    const double value =
                        hdr_content && !c.hdr ? (ch < 3 ? srgb_decode(bgra[2 - ch] / 255.0) : bgra[3] / 255.0)
                                              : scrgb[ch];
                    ASSERT_EQ(half, gpu_half(value)) << "pixel " << x << ", " << y << " channel " << ch;
                }
            }
        }
    }

    // The vectors: SDR white at 2.5 for 200 nits, and (12.5, 5, 1.25) clipped in 8 bits to (255, 255, 188).
    corvo_emu_set_hdr(shown_on, 1, 200);
    const auto [fp16, fp16_pitch] = capture(false, DXGI_FORMAT_R16G16B16A16_FLOAT);
    EXPECT_EQ(half_at(fp16, 0), 0x4100);  // R of pixel (0, 0): 255
    const uint16_t bright[4] = {0x4A40, 0x4500, 0x3D00, 0x3C00};
    for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(half_at(fp16, fp16_pitch + 2 * size_t(ch)), bright[ch]);
    const auto [bgra8, bgra8_pitch] = capture(false, DXGI_FORMAT_B8G8R8A8_UNORM);
    EXPECT_EQ(bgra8[bgra8_pitch + 0], 188);
    EXPECT_EQ(bgra8[bgra8_pitch + 1], 255);
    EXPECT_EQ(bgra8[bgra8_pitch + 2], 255);

    // 8-bit content over HDR content is SDR content again; a window moved to the SDR monitor is shown as SDR.
    corvo_emu_fill(window, 0, 1, 1, 1, 0xFF0000FFu);  // blue 255
    EXPECT_EQ(half_at(capture(false, DXGI_FORMAT_R16G16B16A16_FLOAT).first, fp16_pitch + 4), 0x4100);
    corvo_emu_move_window(window, -100, 0);
    EXPECT_EQ(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), sdr);
    EXPECT_EQ(half_at(capture(false, DXGI_FORMAT_R16G16B16A16_FLOAT).first, 0), 0x3C00);

    // Pools take the formats known to work, and no other.
    for (const int32_t format : {0, 24, 2}) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        try {
            Direct3D11CaptureFramePool::CreateFreeThreaded(device, format, 1, {8, 8});
            ADD_FAILURE() << "a pool of that format was made";
        } catch (const PlatformError &error) {
            EXPECT_EQ(error.code(), E_INVALIDARG);
        }
    }
    const auto pool =
        Direct3D11CaptureFramePool::CreateFreeThreaded(device, DXGI_FORMAT_R16G16B16A16_FLOAT, 1, {8, 8});
    EXPECT_THROW(pool.Recreate(device, 24, 1, {8, 8}), PlatformError);
}

}  // namespace
