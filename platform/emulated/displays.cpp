#include "platform/emulated/displays.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <string>

#include "corvo_emu.h"
#include "platform/emulated/c_boundary.h"
#include "platform/emulated/system.h"

namespace corvo::emu {
namespace {

// The range of Windows' SDR brightness slider.
constexpr uint32_t kLowestWhite = 80, kHighestWhite = 480;

std::atomic<uint64_t> generation{1};

// Calls f(monitor) for each open monitor in order, under the lock of the list of targets.
template <class F>
void each_monitor(F &&f) {
    struct Walk {
        F *f;
        LONG x = 0;
        bool first = true;
    } walk{&f};
    visit_targets(
        [](void *context, void *handle, const std::shared_ptr<Target> &target) {
            auto &w = *static_cast<Walk *>(context);
            if (target->kind != Target::Kind::monitor || target->closed()) return;
            const platform::SizeInt32 size = target->size();
            const Monitor monitor{handle, target, {w.x, 0, w.x + size.Width, size.Height}, w.first};
            w.x += size.Width;
            w.first = false;
            (*w.f)(monitor);
        },
        &walk);
}

}  // namespace

std::vector<Monitor> monitors() {
    std::vector<Monitor> all;
    each_monitor([&](const Monitor &m) { all.push_back(m); });
    return all;
}

Monitor monitor_named(const void *handle) {
    Monitor found;
    each_monitor([&](const Monitor &m) {
        if (m.handle == handle) found = m;
    });
    return found;
}

Monitor monitor_of(const Target &window, DWORD flags) {
    const POINT at = window.position();
    const platform::SizeInt32 size = window.size();
    const int64_t left = at.x, top = at.y, right = left + size.Width, bottom = top + size.Height;
    Monitor most, nearest, primary;
    int64_t most_area = 0;
    double nearest_distance = std::numeric_limits<double>::infinity();
    each_monitor([&](const Monitor &m) {
        if (m.primary) primary = m;
        const int64_t width = std::min<int64_t>(right, m.rect.right) - std::max<int64_t>(left, m.rect.left);
        const int64_t height = std::min<int64_t>(bottom, m.rect.bottom) - std::max<int64_t>(top, m.rect.top);
        if (width > 0 && height > 0 && width * height > most_area) {
            most = m;
            most_area = width * height;
        }
        const double dx = double(std::max<int64_t>({0, m.rect.left - right, left - m.rect.right}));
        const double dy = double(std::max<int64_t>({0, m.rect.top - bottom, top - m.rect.bottom}));
        if (dx * dx + dy * dy < nearest_distance) {
            nearest = m;
            nearest_distance = dx * dx + dy * dy;
        }
    });
    if (most.handle) return most;
    if (flags == MONITOR_DEFAULTTONEAREST) return nearest;
    if (flags == MONITOR_DEFAULTTOPRIMARY) return primary;
    return {};
}

Display display_of(const Target &target) {
    if (target.kind == Target::Kind::monitor) return target.display();
    const Monitor shown_on = monitor_of(target, MONITOR_DEFAULTTONEAREST);
    return shown_on.target ? shown_on.target->display() : Display{};
}

uint64_t display_generation() { return generation.load(); }

void display_changed() { ++generation; }

void device_name(uint32_t number, WCHAR (&name)[32]) {
    const std::string text = "\\\\.\\DISPLAY" + std::to_string(number);
    std::fill(std::begin(name), std::end(name), WCHAR(0));
    std::copy_n(text.begin(), std::min<size_t>(text.size(), 31), name);
}

}  // namespace corvo::emu

using namespace corvo::emu;

extern "C" {

void corvo_emu_set_hdr(void *target, int32_t hdr, uint32_t sdr_white_nits) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        std::shared_ptr<Target> t = find_target(target);
        if (t && t->kind == Target::Kind::window) t = monitor_of(*t, MONITOR_DEFAULTTONEAREST).target;
        if (!t || t->closed()) return;
        const Display was = t->display();
        t->set_display({hdr != 0, std::clamp(sdr_white_nits, kLowestWhite, kHighestWhite), was.adapter});
        if (was.hdr != (hdr != 0)) display_changed();
    });
}

void corvo_emu_set_monitor_adapter(HMONITOR monitor, uint32_t adapter_index) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        const std::shared_ptr<Target> t = find_target(monitor);
        if (!t || t->kind != Target::Kind::monitor || t->closed()) return;
        Display display = t->display();
        if (display.adapter == adapter_index) return;
        display.adapter = adapter_index;
        t->set_display(display);
        display_changed();  // the outputs moved: factories made before list them where they were
    });
}

HMONITOR WINAPI MonitorFromWindow(HWND window, DWORD flags) {
    return or_failure<HMONITOR>(nullptr, [&]() -> HMONITOR {
        if (FAILED(call("MonitorFromWindow"))) return nullptr;
        const std::shared_ptr<Target> t = find_target(window);
        if (!t || t->kind != Target::Kind::window || t->closed()) return nullptr;
        return static_cast<HMONITOR>(monitor_of(*t, flags).handle);
    });
}

BOOL WINAPI GetMonitorInfoW(HMONITOR monitor, LPMONITORINFO info) {
    return or_failure<BOOL>(0, [&]() -> BOOL {
        if (FAILED(call("GetMonitorInfoW")) || !info) return 0;
        if (info->cbSize != sizeof(MONITORINFO) && info->cbSize != sizeof(MONITORINFOEXW)) return 0;
        const Monitor found = monitor_named(monitor);
        if (!found.handle) return 0;
        info->rcMonitor = info->rcWork = found.rect;  // no task bar takes space from the work area
        info->dwFlags = found.primary ? MONITORINFOF_PRIMARY : 0u;
        if (info->cbSize == sizeof(MONITORINFOEXW))
            device_name(found.target->number, static_cast<MONITORINFOEXW *>(info)->szDevice);
        return 1;
    });
}

}  // extern "C"
