#include "platform/emulated/targets.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "corvo_emu.h"
#include "platform/emulated/c_boundary.h"
#include "platform/emulated/capture_service.h"
#include "platform/emulated/composition.h"
#include "platform/emulated/displays.h"
#include "platform/emulated/half.h"
#include "platform/emulated/system.h"

namespace corvo::emu {
namespace {

constexpr uint32_t kOpaqueBlack = 0xFF000000u;  // B, G, R = 0, A = 255
// The largest side of a Direct3D 11 texture: a target beyond it could not be captured, and its pixels alone
// would be more memory than a test machine has.
constexpr int32_t kMaxSide = 16384;

bool holdable(int32_t width, int32_t height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide;
}

struct Registry {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<Target>> targets;
    uintptr_t next_handle = 0x10000;
    uint32_t next_monitor_number = 1;
};

Registry &registry() {
    static Registry *r = [] {
        auto *created = new Registry;
        on_reset([] {
            {
                std::lock_guard lock(registry().mutex);
                registry().targets.clear();
                registry().next_monitor_number = 1;
            }
            display_changed();
        });
        return created;
    }();
    return *r;
}

void *add_target(Target::Kind kind, int32_t width, int32_t height) {
    if (!holdable(width, height)) return nullptr;
    Registry &r = registry();
    const bool monitor = kind == Target::Kind::monitor;
    uintptr_t handle;
    {
        std::lock_guard lock(r.mutex);
        handle = r.next_handle;
        r.targets.emplace(handle,
                          std::make_shared<Target>(kind, width, height, monitor ? r.next_monitor_number : 0));
        r.next_handle += 0x10;
        if (monitor) ++r.next_monitor_number;
    }
    if (monitor) display_changed();  // a new monitor is a new display configuration
    return reinterpret_cast<void *>(handle);
}

// Clips a rectangle to the target; false when nothing is left.
bool clip(int32_t target_width, int32_t target_height, int32_t &x, int32_t &y, int32_t &width, int32_t &height,
          int32_t &skip_x, int32_t &skip_y) {
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t(x) + width, target_width);
    const int64_t y1 = std::min<int64_t>(int64_t(y) + height, target_height);
    if (width <= 0 || height <= 0 || x0 >= x1 || y0 >= y1) return false;
    skip_x = int32_t(x0 - x);
    skip_y = int32_t(y0 - y);
    x = int32_t(x0);
    y = int32_t(y0);
    width = int32_t(x1 - x0);
    height = int32_t(y1 - y0);
    return true;
}

}  // namespace

Target::Target(Kind k, int32_t width, int32_t height, uint32_t n)
    : kind(k), number(n), width_(width), height_(height), pixels_(size_t(width) * size_t(height), kOpaqueBlack) {}

platform::SizeInt32 Target::size() const {
    std::lock_guard lock(mutex_);
    return {width_, height_};
}

POINT Target::position() const {
    std::lock_guard lock(mutex_);
    return position_;
}

void Target::move(int32_t x, int32_t y) {
    std::lock_guard lock(mutex_);
    position_ = {x, y};
}

RECT Target::non_client() const {
    const std::lock_guard lock(mutex_);
    return non_client_;
}

void Target::set_non_client(RECT thickness) {
    const std::lock_guard lock(mutex_);
    non_client_ = thickness;
}

bool Target::minimised() const {
    const std::lock_guard lock(mutex_);
    return minimised_;
}

void Target::set_minimised(bool minimised) {
    const std::lock_guard lock(mutex_);
    minimised_ = minimised;
}

Display Target::display() const {
    std::lock_guard lock(mutex_);
    return display_;
}

void Target::set_display(Display display) {
    std::lock_guard lock(mutex_);
    display_ = display;
}

bool Target::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void Target::fill(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t bgra) {
    std::lock_guard lock(mutex_);
    int32_t skip_x, skip_y;
    if (!clip(width_, height_, x, y, width, height, skip_x, skip_y)) return;
    for (int32_t row = y; row < y + height; ++row)
        std::fill_n(pixels_.begin() + ptrdiff_t(row) * width_ + x, width, bgra);
    unpaint(x, y, width, height);
}

void Target::fill_scrgb(int32_t x, int32_t y, int32_t width, int32_t height, const float (&rgba)[4]) {
    std::lock_guard lock(mutex_);
    int32_t skip_x, skip_y;
    if (!clip(width_, height_, x, y, width, height, skip_x, skip_y)) return;
    uint64_t halves = 0;
    float kept[4];  // the values as FP16 keeps them
    for (int c = 0; c < 4; ++c) {
        const uint16_t half = half_toward_zero(rgba[c]);
        halves |= uint64_t(half) << (16 * c);
        kept[c] = half_to_float(half);
    }
    const uint32_t clipped = uint32_t(scrgb_to_srgb8(kept[2], 80)) | uint32_t(scrgb_to_srgb8(kept[1], 80)) << 8 |
                             uint32_t(scrgb_to_srgb8(kept[0], 80)) << 16 | uint32_t(unorm8(kept[3])) << 24;
    if (scrgb_.empty()) {
        std::vector<uint64_t> scrgb(pixels_.size(), 0);
        std::vector<uint8_t> painted(pixels_.size(), 0);
        scrgb_.swap(scrgb);
        painted_.swap(painted);
    }
    for (int32_t row = y; row < y + height; ++row) {
        const size_t first = size_t(row) * size_t(width_) + size_t(x);
        std::fill_n(pixels_.begin() + ptrdiff_t(first), width, clipped);
        std::fill_n(scrgb_.begin() + ptrdiff_t(first), width, halves);
        for (size_t i = first; i < first + size_t(width); ++i) {
            painted_count_ += !painted_[i];
            painted_[i] = 1;
        }
    }
}

void Target::unpaint(int32_t x, int32_t y, int32_t width, int32_t height) {
    if (!painted_count_) return;
    for (int32_t row = y; row < y + height; ++row)
        for (size_t i = size_t(row) * size_t(width_) + size_t(x), end = i + size_t(width); i < end; ++i) {
            painted_count_ -= painted_[i];
            painted_[i] = 0;
        }
    if (!painted_count_) drop_painted();
}

void Target::drop_painted() {
    std::vector<uint64_t>().swap(scrgb_);
    std::vector<uint8_t>().swap(painted_);
}

void Target::write(int32_t x, int32_t y, int32_t width, int32_t height, const uint8_t *rows, uint32_t stride) {
    if (!rows) return;
    std::lock_guard lock(mutex_);
    int32_t skip_x, skip_y;
    if (!clip(width_, height_, x, y, width, height, skip_x, skip_y)) return;
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(&pixels_[size_t(y + row) * size_t(width_) + size_t(x)],
                    rows + size_t(row + skip_y) * stride + size_t(skip_x) * 4, size_t(width) * 4);
    unpaint(x, y, width, height);
}

// The top-left part of rows of `width` values that fits rows of `new_width`; the new area holds `fresh`.
template <class T>
std::vector<T> cropped(const std::vector<T> &values, int32_t width, int32_t height, int32_t new_width,
                       int32_t new_height, T fresh) {
    std::vector<T> resized(size_t(new_width) * size_t(new_height), fresh);
    const int32_t keep_width = std::min(width, new_width), keep_height = std::min(height, new_height);
    for (int32_t row = 0; row < keep_height; ++row)
        std::copy_n(values.begin() + ptrdiff_t(row) * width, keep_width,
                    resized.begin() + ptrdiff_t(row) * new_width);
    return resized;
}

void Target::resize(int32_t width, int32_t height) {
    if (!holdable(width, height)) return;
    std::lock_guard lock(mutex_);
    std::vector<uint32_t> pixels = cropped(pixels_, width_, height_, width, height, kOpaqueBlack);
    if (painted_count_) {
        std::vector<uint64_t> scrgb = cropped(scrgb_, width_, height_, width, height, uint64_t(0));
        std::vector<uint8_t> painted = cropped(painted_, width_, height_, width, height, uint8_t(0));
        scrgb_.swap(scrgb);
        painted_.swap(painted);
        painted_count_ = size_t(std::count(painted_.begin(), painted_.end(), uint8_t(1)));
    }
    pixels_.swap(pixels);
    width_ = width;
    height_ = height;
    if (!painted_count_) drop_painted();
}

void Target::mark_closed() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

std::string Target::title() const {
    std::lock_guard lock(mutex_);
    return title_;
}

void Target::set_title(std::string title) {
    std::lock_guard lock(mutex_);
    title_.swap(title);
}

platform::SizeInt32 Target::copy_to(uint8_t *destination, uint32_t row_pitch, uint32_t width, uint32_t height,
                                    DXGI_FORMAT format, Display display) const {
    const Composer composer(format, display);
    const size_t pixel = composer.bytes_per_pixel();
    std::lock_guard lock(mutex_);
    const uint32_t copy_width = std::min<uint32_t>(width, uint32_t(width_));
    const uint32_t copy_height = std::min<uint32_t>(height, uint32_t(height_));
    for (uint32_t row = 0; row < height; ++row) {
        uint8_t *out = destination + size_t(row) * row_pitch;
        size_t copied = 0;
        if (row < copy_height) {
            const size_t first = size_t(row) * size_t(width_);
            composer.row(&pixels_[first], painted_count_ ? &scrgb_[first] : nullptr,
                         painted_count_ ? &painted_[first] : nullptr, copy_width, out);
            copied = copy_width * pixel;
        }
        std::memset(out + copied, 0, width * pixel - copied);
    }
    return {width_, height_};
}

std::shared_ptr<Target> find_target(const void *handle) {
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.targets.find(reinterpret_cast<uintptr_t>(handle));
    return found == r.targets.end() ? nullptr : found->second;
}

void visit_targets(void (*visit)(void *context, void *handle, const std::shared_ptr<Target> &target),
                   void *context) {
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    for (const auto &[handle, target] : r.targets) visit(context, reinterpret_cast<void *>(handle), target);
}

std::vector<std::pair<void *, std::shared_ptr<Target>>> all_targets() {
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    std::vector<std::pair<void *, std::shared_ptr<Target>>> targets;
    for (const auto &[handle, target] : r.targets) targets.emplace_back(reinterpret_cast<void *>(handle), target);
    return targets;
}

}  // namespace corvo::emu

using namespace corvo::emu;

extern "C" {

HWND corvo_emu_create_window(int32_t width, int32_t height) CORVO_EMU_NOEXCEPT {
    return or_failure<HWND>(nullptr, [&] {
        return static_cast<HWND>(add_target(Target::Kind::window, width, height));
    });
}

HMONITOR corvo_emu_create_monitor(int32_t width, int32_t height) CORVO_EMU_NOEXCEPT {
    return or_failure<HMONITOR>(nullptr, [&] {
        return static_cast<HMONITOR>(add_target(Target::Kind::monitor, width, height));
    });
}

void corvo_emu_fill(void *target, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t bgra) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        if (auto t = find_target(target)) t->fill(x, y, width, height, bgra);
    });
}

void corvo_emu_fill_scrgb(void *target, int32_t x, int32_t y, int32_t width, int32_t height, float r, float g,
                          float b, float a) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        const float rgba[4] = {r, g, b, a};
        if (auto t = find_target(target)) t->fill_scrgb(x, y, width, height, rgba);
    });
}

void corvo_emu_write(void *target, int32_t x, int32_t y, int32_t width, int32_t height, const void *bgra_rows,
                     uint32_t stride) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        if (auto t = find_target(target))
            t->write(x, y, width, height, static_cast<const uint8_t *>(bgra_rows), stride);
    });
}

void corvo_emu_resize(void *target, int32_t width, int32_t height) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        auto t = find_target(target);
        if (!t) return;
        const corvo::platform::SizeInt32 before = t->size();
        t->resize(width, height);
        const corvo::platform::SizeInt32 after = t->size();
        if (t->kind == Target::Kind::monitor && (after.Width != before.Width || after.Height != before.Height))
            display_changed();
    });
}

void corvo_emu_move_window(HWND window, int32_t x, int32_t y) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        auto t = find_target(window);
        if (t && t->kind == Target::Kind::window) t->move(x, y);
    });
}

void corvo_emu_close(void *target) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        if (auto t = find_target(target)) {
            const bool was_open = !t->closed();
            t->mark_closed();
            raise_closed(*t);
            if (was_open && t->kind == Target::Kind::monitor) display_changed();
        }
    });
}

int32_t corvo_emu_present(void *target) CORVO_EMU_NOEXCEPT {
    return or_failure<int32_t>(0, [&] {
        auto t = find_target(target);
        return t && !t->closed() ? present(*t) : 0;
    });
}

}  // extern "C"
