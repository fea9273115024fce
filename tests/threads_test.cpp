// Several sessions, each started and polled on a thread of its own while a compositor thread presents to
// their windows, and a logger that is replaced and removed while they log; a compositor that presents on its
// own clock while the host sleeps, restarts and destroys. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "known_lines.h"
#include "picture.h"
#include "session_harness.h"

namespace {

constexpr int kSessions = 4;
constexpr int kLoggers = 3;
constexpr int kSwaps = 24;
constexpr int kMinimumPolls = 50;

// What one registered logger received; each logger is a function of its own so that lines can be told apart.
struct Received {
    std::atomic<uint64_t> switch_lines{0};  // "Set dirtyRect ..." lines
    std::atomic<uint64_t> lines{0};
    std::atomic<uint64_t> bad_lines{0};
};
Received received[kLoggers];

template <int Index>
void logger(int32_t level, const char *text, uint64_t length) {
    Received &r = received[Index];
    r.lines.fetch_add(1);
    if (!known_lines::is_valid(level, text, length)) r.bad_lines.fetch_add(1);
    if (std::string_view(text, length).starts_with("Set dirtyRect ")) r.switch_lines.fetch_add(1);
}
constexpr wgc_log_callback kLoggerFunctions[kLoggers] = {&logger<0>, &logger<1>, &logger<2>};

uint64_t switch_lines_received() {
    uint64_t sum = 0;
    for (const Received &r : received) sum += r.switch_lines.load();
    return sum;
}

class Threads : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        for (Received &r : received) r.switch_lines = r.lines = r.bad_lines = 0;
    }
    void TearDown() override {
        wgc_register_logger(nullptr);
        EmuTest::TearDown();
    }

    // Runs the sessions while the logger rotates through `rotation` (null: logging off) `kSwaps` times. Before
    // each swap, the lines counted as produced advance by twice the number of threads: at most one line per
    // thread was formatted before the previous swap and counted after it, so every logger in the rotation
    // receives lines however the threads are scheduled.
    void run(const std::vector<wgc_log_callback> &rotation) {
        wgc_register_logger(rotation[0]);
        std::vector<HWND> windows;
        for (int i = 0; i < kSessions; ++i) windows.push_back(corvo_emu_create_window(96 + 40 * i, 64 + 24 * i));

        std::atomic<bool> stop{false};
        std::atomic<int> running{kSessions};
        // Presents to a window once its host has polled since the last present, as a display paces frames; an
        // unpaced stream could keep a slow poll dispatching for ever.
        std::atomic<int> polls[kSessions] = {};
        std::thread compositor([&] {
            uint32_t color = 0;
            int presented_at[kSessions] = {};
            for (std::fill_n(presented_at, kSessions, -1); running.load() > 0; std::this_thread::yield())
                for (int i = 0; i < kSessions; ++i) {
                    if (polls[i].load() == presented_at[i]) continue;
                    presented_at[i] = polls[i].load();
                    ++color;
                    corvo_emu_fill(windows[size_t(i)], int32_t(color % 64), 0, 16, 16, 0xFF000000u | color);
                    corvo_emu_present(windows[size_t(i)]);
                }
        });
        std::vector<std::thread> hosts;
        for (int i = 0; i < kSessions; ++i)
            hosts.emplace_back([&, i] {
                wgc_session session = wgc_session_create(windows[size_t(i)]);
                if (i % 2) wgc_set_capture_to_texture(session, 1);
                if (wgc_session_start(session) != 1) failures.fetch_add(1);
                for (int n = 0; n < kMinimumPolls || !stop.load(); ++n) {
                    wgc_set_dirty_rect(session, static_cast<uint8_t>(n % 2));
                    switch_lines_produced.fetch_add(1);
                    const Poll p = poll(session);
                    polls[i].fetch_add(1);
                    if (p.ok && i % 2) static_cast<ID3D11Texture2D *>(p.frame)->Release();
                    const float ratio = wgc_get_update_ratio(session);
                    if (!(ratio >= 0.0f && ratio <= 1.0f)) failures.fetch_add(1);
                }
                wgc_session_destroy(session);
                running.fetch_sub(1);
            });

        for (int swap = 1; swap <= kSwaps; ++swap) {
            const uint64_t produced = switch_lines_produced.load();
            while (switch_lines_produced.load() < produced + 2 * kSessions) std::this_thread::yield();
            wgc_register_logger(rotation[size_t(swap) % rotation.size()]);
        }
        stop = true;
        for (std::thread &host : hosts) host.join();
        compositor.join();
        for (HWND window : windows) corvo_emu_close(window);
        EXPECT_EQ(failures.load(), 0);
        for (const Received &r : received) EXPECT_EQ(r.bad_lines.load(), 0u);
    }

    std::atomic<uint64_t> switch_lines_produced{0};
    std::atomic<int> failures{0};
};

TEST_F(Threads, EveryLineReachesTheLoggerBeingReplacedOrItsSuccessor) {
    run({kLoggerFunctions[0], kLoggerFunctions[1], kLoggerFunctions[2]});
    // A logger was registered all along, so not one line is lost, and each logger got its turn.
    EXPECT_EQ(switch_lines_received(), switch_lines_produced.load());
    for (const Received &r : received) EXPECT_GT(r.switch_lines.load(), 0u);
}

TEST_F(Threads, RemovingTheLoggerWhileSessionsLogDropsLinesButNeverTearsThem) {
    run({kLoggerFunctions[0], nullptr, kLoggerFunctions[1], nullptr});
    EXPECT_LE(switch_lines_received(), switch_lines_produced.load());
    EXPECT_GT(received[0].lines.load() + received[1].lines.load(), 0u);
    EXPECT_EQ(received[2].lines.load(), 0u);  // never registered
}

// A destroy on the start thread while another thread is inside wgc_set_dirty_rect: 1 the other call is logging,
// 2 its logger returns, -1 the destroy stopped the session before that.
std::atomic<int> destroy_step{0};

void stepping_logger(int32_t, const char *text, uint64_t) {
    const std::string_view line(text);
    if (line.starts_with("Set dirtyRect") && destroy_step.load() == 0) {
        destroy_step = 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the destroy has begun meanwhile
        // A teardown told meanwhile (-1) stays told.
        int inside = 1;
        destroy_step.compare_exchange_strong(inside, 2);
    } else if (line == "Try to exit wgc thread" && destroy_step.load() != 2) {
        destroy_step = -1;
    }
}

TEST_F(Threads, ADestroyStopsTheSessionOnlyOnceTheCallsOfOtherThreadsHaveReturned) {
    const HWND window = corvo_emu_create_window(32, 32);
    wgc_session session = wgc_session_create(window);
    ASSERT_EQ(wgc_session_start(session), 1);
    wgc_register_logger(stepping_logger);
    std::thread other([session] { wgc_set_dirty_rect(session, 1); });
    while (destroy_step.load() < 1) std::this_thread::yield();
    wgc_session_destroy(session);
    other.join();
    EXPECT_EQ(destroy_step.load(), 2);
}

// A call ending on one thread while a destroy begins on another, thousands of times: each session is torn down
// and freed once (the sanitizer lanes run it).
std::atomic<bool> racing_call_inside{false};

void racing_logger(int32_t, const char *text, uint64_t) {
    if (std::string_view(text).starts_with("Set dirtyRect")) racing_call_inside = true;
}

TEST_F(Threads, CallsEndingWhileADestroyBeginsFreeTheSessionOnce) {
    const HWND window = corvo_emu_create_window(16, 16);
    wgc_register_logger(racing_logger);
    for (int n = 0; n < 3000; ++n) {
        racing_call_inside = false;
        wgc_session session = wgc_session_create(window);
        std::thread other([session] {
            wgc_set_dirty_rect(session, 1);
            wgc_get_status(session);  // begun before the destroy: the host saw the line first
        });
        while (!racing_call_inside.load()) std::this_thread::yield();
        wgc_session_destroy(session);
        other.join();
    }
}

// A logger destroys the session on "Wgc on_closed", told by a status call, while another thread is inside a poll:
// the poll finishes on a whole session, which is freed after it.
struct PollInside {
    std::atomic<int> step{0};  // 1 the poll dispatches, 2 the destroy was asked for
    wgc_session session = nullptr;
} poll_inside;

void destroy_on_closed(int32_t, const char *text, uint64_t) {
    if (std::string_view(text) != "Wgc on_closed" || !poll_inside.session) return;
    wgc_session_destroy(std::exchange(poll_inside.session, nullptr));
    poll_inside.step = 2;
}

TEST_F(Threads, ALoggerDestroyingOnAClosingToldElsewhereWaitsForAPollOfAnotherThread) {
    const HWND window = corvo_emu_create_window(32, 32);
    wgc_session session = wgc_session_create(window);
    ASSERT_EQ(wgc_session_start(session), 1);
    poll_inside.session = session;
    std::thread poller([session] {
        // Dispatched inside the poll: it holds the poll there until the destroy was asked for.
        corvo_emu_post(
            [](void *) {
                poll_inside.step = 1;
                while (poll_inside.step.load() < 2) std::this_thread::yield();
            },
            nullptr);
        EXPECT_EQ(poll(session).ok, false);
    });
    while (poll_inside.step.load() < 1) std::this_thread::yield();
    wgc_register_logger(destroy_on_closed);
    corvo_emu_close(window);
    dispatch_thread_messages();             // Closed runs on the start thread
    EXPECT_EQ(wgc_get_status(session), 0);  // tells the closing; the logger destroys
    poller.join();
    EXPECT_EQ(poll_inside.step.load(), 2);
}

// Sessions capture several windows at once, some sharing a thread, with restarts, while a compositor presents
// and another thread flips their detection and cursor switches: each must keep handing out its own window's
// pixels, and capture with the cursor switch set last, whichever of a start and a switch ran first.
class SessionsAtOnce : public EmuTest {
protected:
    static constexpr int kWindows = 4;
    static constexpr int kRounds = 60;

    void SetUp() override {
        EmuTest::SetUp();
        for (int i = 0; i < kWindows; ++i) {
            windows[i] = corvo_emu_create_window(40 + 8 * i, 24 + 4 * i);
            corvo_emu_fill(windows[i], 0, 0, 64, 64, colour_of(i));
        }
    }
    static uint32_t colour_of(int i) { return 0xFF000000u | (0x30u << (8 * (i % 3))) | uint32_t(i); }

    // Starts, polls and restarts sessions of the given windows, all on the calling thread.
    void capture(std::vector<int> which) {
        std::vector<wgc_session> sessions;
        for (int i : which) {
            sessions.push_back(wgc_session_create(windows[i]));
            if (wgc_session_start(sessions.back()) != 1) failures.fetch_add(1);
            published[i].store(sessions.back());
        }
        // Each session has a frame before the rounds: on a loaded machine the compositor may not have run yet.
        for (wgc_session s : sessions) wgc_wait_for_frame(s, 10000);
        for (int round = 0; round < kRounds; ++round)
            for (size_t k = 0; k < which.size(); ++k) {
                if (round % 20 == 10 + int(k) && wgc_session_start(sessions[k]) != 1) failures.fetch_add(1);
                const Poll p = poll(sessions[k]);
                if (p.ok && pixel_at(p, 0, 0) != colour_of(which[k])) failures.fetch_add(1);
                if (p.ok) frames.fetch_add(1);
                std::this_thread::yield();
            }
        hosts_done.fetch_add(1);
        while (!flipper_stopped.load()) std::this_thread::yield();
        for (int i : which)
            if (cursor_set[i].load() >= 0 &&
                corvo_emu_capture_property(windows[i], "IsCursorCaptureEnabled") != cursor_set[i].load())
                failures.fetch_add(1);
        for (wgc_session s : sessions) wgc_session_destroy(s);
    }

    void run(const std::vector<std::vector<int>> &threads) {
        std::atomic<bool> stop{false};
        std::thread compositor([&] {
            while (!stop.load())
                for (HWND window : windows) corvo_emu_present(window);
        });
        // The detection and cursor switches may be flipped, and the ratio read, from any thread while the
        // sessions capture.
        std::thread flipper([&] {
            for (uint8_t on = 1; hosts_done.load() < int(threads.size()); on ^= 1)
                for (int i = 0; i < kWindows; ++i)
                    if (wgc_session s = published[i].load()) {
                        wgc_set_dirty_rect(s, on);
                        if (wgc_enable_cursor(s, on) != 1) failures.fetch_add(1);
                        cursor_set[i] = on;
                        // Read and reset while the host's poll writes it: one exchange, so no ratio is torn.
                        const float ratio = wgc_get_update_ratio(s);
                        if (!(ratio >= 0.0f && ratio <= 1.0f)) failures.fetch_add(1);
                    }
            flipper_stopped = true;
        });
        std::vector<std::thread> hosts;
        for (const std::vector<int> &which : threads) hosts.emplace_back([&, which] { capture(which); });
        for (std::thread &host : hosts) host.join();
        flipper.join();
        stop = true;
        compositor.join();
        EXPECT_EQ(failures.load(), 0);
        EXPECT_GT(frames.load(), uint64_t(kWindows));
    }

    HWND windows[kWindows] = {};
    std::atomic<wgc_session> published[kWindows] = {};
    std::atomic<int> cursor_set[kWindows] = {-1, -1, -1, -1};  // the cursor switch the flipper set last
    std::atomic<int> hosts_done{0};
    std::atomic<bool> flipper_stopped{false};
    std::atomic<int> failures{0};
    std::atomic<uint64_t> frames{0};
};

TEST_F(SessionsAtOnce, FourSessionsOnOneThread) { run({{0, 1, 2, 3}}); }

TEST_F(SessionsAtOnce, FourSessionsOnFourThreads) { run({{0}, {1}, {2}, {3}}); }

// The frame handler runs on the compositor's thread, at each present, whatever the host is doing.
class Compositor : public EmuTest {
protected:
    // Presents numbered pictures until stopped, flat out or one every `period`.
    void start(HWND target, std::chrono::milliseconds period) {
        thread_ = std::thread([this, target, period] {
            for (uint32_t n = 1; !stop_.load(); ++n) {
                corvo_emu_fill(target, 0, 0, 64, 64, 0xFF000000u | n);
                corvo_emu_present(target);
                latest_.store(n);
                if (period.count()) std::this_thread::sleep_for(period);
            }
        });
    }
    void TearDown() override {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        EmuTest::TearDown();
    }

    std::atomic<uint32_t> latest_{0};

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A picture handed out in either mode, as the number the compositor painted.
uint32_t picture_number(const Poll &p, bool texture_mode) {
    const Picture picture = texture_mode ? picture_of_texture(static_cast<ID3D11Texture2D *>(p.frame))
                                         : picture_of_buffer(p.frame, p.width, p.height);
    if (texture_mode) static_cast<ID3D11Texture2D *>(p.frame)->Release();
    return picture.pixels.empty() ? 0 : picture.at(0, 0) & 0xFFFFFFu;
}

TEST_F(Compositor, AHostThatSleepsHalfASecondGetsAPictureAtMostTwoPresentsOld) {
    const HWND window = corvo_emu_create_window(64, 64);
    start(window, std::chrono::milliseconds(16));  // about 60 a second
    for (const bool texture_mode : {false, true}) {
        SCOPED_TRACE(texture_mode ? "texture" : "buffer");
        wgc_session session = wgc_session_create(window);
        wgc_set_capture_to_texture(session, texture_mode);
        ASSERT_EQ(wgc_session_start(session), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const uint32_t presented = latest_.load();
        const Poll p = poll(session);
        ASSERT_TRUE(p.ok);
        EXPECT_GE(picture_number(p, texture_mode) + 1, presented);
        wgc_session_destroy(session);
    }
}

// A thread flips the texture switch while the host polls: each answer is wholly of one mode, the buffer with
// the content's size or the texture with its own, never one with the other's size.
TEST_F(Compositor, ASwitchOfModeFromAnotherThreadNeverMixesTheAnswer) {
    const HWND window = corvo_emu_create_window(96, 64);
    wgc_session session = wgc_session_create(window);
    ASSERT_EQ(wgc_session_start(session), 1);
    corvo_emu_resize(window, 48, 32);  // the buffer is cropped to it; the pool's textures stay 96 x 64
    corvo_emu_fail("Recreate", int32_t(0x80004005), 0, 1u << 30);
    start(window, std::chrono::milliseconds(0));
    Poll buffer;
    while (!(buffer = poll(session)).ok) std::this_thread::yield();
    std::atomic<bool> done{false};
    std::thread flipper([&] {
        for (uint8_t on = 1; !done.load(); on ^= 1) wgc_set_capture_to_texture(session, on);
    });
    int answers[2] = {};  // buffer, texture
    for (int n = 0; n < 1000000 && (answers[0] < 500 || answers[1] < 500); ++n) {
        const Poll p = poll(session);
        if (!p.ok) continue;
        const bool texture = p.frame != buffer.frame;
        EXPECT_EQ(p.width, texture ? 96 : 48);
        EXPECT_EQ(p.height, texture ? 64 : 32);
        if (texture) static_cast<ID3D11Texture2D *>(p.frame)->Release();
        ++answers[texture];
    }
    done = true;
    flipper.join();
    wgc_session_destroy(session);
}

// A thread moves the region between two places of different sizes while the host polls: each picture is wholly
// one region's, its size with its pixels, never one region's size at the other's place.
TEST_F(Compositor, ARegionChangedFromAnotherThreadNeverMixesTwoRegions) {
    const HWND window = corvo_emu_create_window(96, 64);  // the compositor paints the left 64 x 64
    corvo_emu_fill(window, 64, 0, 32, 16, 0xFF123456u);
    corvo_emu_fill(window, 64, 16, 32, 48, 0xFFABCDEFu);
    wgc_session session = wgc_session_create(window);
    EXPECT_EQ(wgc_session_start(session), 1);
    wgc_set_dirty_rect(session, 1);
    const wgc_rect regions[2] = {{0, 0, 48, 16}, {64, 16, 96, 64}};
    start(window, std::chrono::milliseconds(0));
    std::atomic<bool> done{false};
    wgc_set_region(session, &regions[0]);  // before the first poll, however late the mover starts
    std::thread mover([&] {
        for (int which = 1; !done.load(); which ^= 1) wgc_set_region(session, &regions[which]);
    });
    int answers[2] = {};
    for (int n = 0; n < 1000000 && (answers[0] < 300 || answers[1] < 300); ++n) {
        const Poll p = poll(session);
        if (!p.ok) continue;
        const Picture got = picture_of_buffer(p.frame, p.width, p.height);
        const bool second = p.width == 32;
        EXPECT_EQ(p.width, second ? 32 : 48);
        EXPECT_EQ(p.height, second ? 48 : 16);
        const uint32_t first_pixel = got.at(0, 0);
        if (second) {
            EXPECT_EQ(first_pixel, 0xFFABCDEFu);
        }
        EXPECT_NE(first_pixel & 0xFFFFFFu, 0x123456u);
        EXPECT_EQ(got, Picture(got.width, got.height, first_pixel)) << "a picture of two regions";
        if (HasFailure()) break;  // the mover is joined below
        ++answers[second];
    }
    done = true;
    mover.join();
    wgc_session_destroy(session);
}

TEST_F(Compositor, PresentingFlatOutWhileTheHostRestartsAndDestroysSessions) {
    const HWND window = corvo_emu_create_window(96, 64);
    start(window, std::chrono::milliseconds(0));
    int handed_out = 0;  // rounds in which a frame was handed out
    for (int round = 0; round < 100; ++round) {
        const bool texture_mode = round % 2;
        wgc_session session = wgc_session_create(window);
        wgc_set_capture_to_texture(session, texture_mode);
        wgc_set_dirty_rect(session, uint8_t(round / 2 % 2));
        ASSERT_EQ(wgc_session_start(session), 1);
        // Polls until a frame is handed out (or for a while), with a restart on some rounds in between.
        for (int n = 0; n < 100000; ++n) {
            if (round % 4 == 3 && n == 1) {
                ASSERT_EQ(wgc_session_start(session), 1);  // a restart while frames arrive
            }
            const Poll p = poll(session);
            if (p.ok && picture_number(p, texture_mode) > 0 && n > 1) {
                ++handed_out;
                break;
            }
            std::this_thread::yield();
        }
        wgc_session_destroy(session);
    }
    EXPECT_EQ(handed_out, 100);
}

}  // namespace
