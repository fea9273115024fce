// Simulated windows and monitors: their pixels, and the handles hosts know them by.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/capture.h"
#include "platform/emulated/message_queue.h"

namespace corvo::emu {

// What a monitor shows: 8-bit sRGB, or in HDR mode FP16 scRGB with SDR content at sdr_white_nits.
struct Display {
    bool hdr = false;
    uint32_t sdr_white_nits = 80;
    uint32_t adapter = 0;  // the index of the adapter whose output shows the monitor
};

class Target {
public:
    enum class Kind { window, monitor };
    // `number` is a monitor's n in its device name, \\.\DISPLAYn; 0 for a window.
    Target(Kind kind, int32_t width, int32_t height, uint32_t number = 0);

    const Kind kind;
    const uint32_t number;
    // Messages posted to a window go to the thread that created it, while that thread lives.
    const std::weak_ptr<MessageQueue> thread_queue = MessageQueue::current();

    platform::SizeInt32 size() const;
    // A window's top-left corner on the desktop; a monitor's place follows from the monitors before it.
    POINT position() const;
    void move(int32_t x, int32_t y);
    // A window's non-client area: its thickness in pixels on each side (left, top, right, bottom).
    RECT non_client() const;
    void set_non_client(RECT thickness);
    bool minimised() const;
    void set_minimised(bool minimised);
    Display display() const;
    void set_display(Display display);
    bool closed() const;
    void fill(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t bgra);
    // Paints linear scRGB values, kept as FP16 as the compositor keeps them.
    void fill_scrgb(int32_t x, int32_t y, int32_t width, int32_t height, const float (&rgba)[4]);
    void write(int32_t x, int32_t y, int32_t width, int32_t height, const uint8_t *rows, uint32_t stride);
    void resize(int32_t width, int32_t height);
    void mark_closed();
    std::string title() const;  // UTF-8; empty for an untitled window and for monitors
    void set_title(std::string title);
    // Composes the top-left part that fits into rows of `row_pitch` bytes of a frame in `format` as `display`
    // shows it, and clears the rest of the destination; returns the content size (the target's size).
    platform::SizeInt32 copy_to(uint8_t *destination, uint32_t row_pitch, uint32_t width, uint32_t height,
                                DXGI_FORMAT format, Display display) const;

private:
    mutable std::mutex mutex_;
    int32_t width_;
    int32_t height_;
    POINT position_{0, 0};
    RECT non_client_{0, 0, 0, 0};
    bool minimised_ = false;
    Display display_;
    bool closed_ = false;
    // Pixels of 8-bit content no longer painted in scRGB: the plane of painted content goes once none is left.
    void unpaint(int32_t x, int32_t y, int32_t width, int32_t height);
    void drop_painted();

    std::string title_;
    std::vector<uint32_t> pixels_;  // BGRA, one word per pixel, rows of width_ pixels; painted content clipped
    // Content painted in scRGB, in the same layout: where painted_ is set, scrgb_ holds its R, G, B, A halves.
    // Both empty while nothing is painted so.
    std::vector<uint64_t> scrgb_;
    std::vector<uint8_t> painted_;
    size_t painted_count_ = 0;
};

// The target behind a handle, or null for a handle this system does not know.
std::shared_ptr<Target> find_target(const void *handle);
// Every target with its handle, in the order they were created.
std::vector<std::pair<void *, std::shared_ptr<Target>>> all_targets();
// The same without allocating: visit(context, handle, target) for each, under the lock of the list of targets,
// so visit must not reach that list.
void visit_targets(void (*visit)(void *context, void *handle, const std::shared_ptr<Target> &target), void *context);

}  // namespace corvo::emu
