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

class Target {
public:
    enum class Kind { window, monitor };
    Target(Kind kind, int32_t width, int32_t height);

    const Kind kind;
    // Messages posted to a window go to the thread that created it, while that thread lives.
    const std::weak_ptr<MessageQueue> thread_queue = MessageQueue::current();

    platform::SizeInt32 size() const;
    bool closed() const;
    void fill(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t bgra);
    void write(int32_t x, int32_t y, int32_t width, int32_t height, const uint8_t *rows, uint32_t stride);
    void resize(int32_t width, int32_t height);
    void mark_closed();
    std::string title() const;  // UTF-8; empty for an untitled window and for monitors
    void set_title(std::string title);
    // Copies the top-left part that fits into rows of `row_pitch` bytes and clears the rest of the
    // destination; returns the content size (the target's size).
    platform::SizeInt32 copy_to(uint8_t *destination, uint32_t row_pitch, uint32_t width, uint32_t height) const;

private:
    mutable std::mutex mutex_;
    int32_t width_;
    int32_t height_;
    bool closed_ = false;
    std::string title_;
    std::vector<uint32_t> pixels_;  // BGRA, one word per pixel, rows of width_ pixels
};

// The target behind a handle, or null for a handle this system does not know.
std::shared_ptr<Target> find_target(const void *handle);
// Every target with its handle, in the order they were created.
std::vector<std::pair<void *, std::shared_ptr<Target>>> all_targets();

}  // namespace corvo::emu
