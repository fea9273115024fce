#include "platform/emulated/system.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#include "corvo_emu.h"
#include "platform/emulated/c_boundary.h"
#include "corvo_emu_d3d11.h"

namespace corvo::emu {
namespace {

struct Fault {
    HRESULT hr;
    uint32_t skip;
    uint32_t count;
};

struct System {
    std::mutex mutex;
    std::map<std::string, uint64_t, std::less<>> counters;
    std::map<std::string, Fault, std::less<>> faults;
    std::map<std::string, bool, std::less<>> properties;
    uint16_t contract_version = 19;
    bool capture_supported = true;
    bool frame_shader_readable = true;  // new frame-pool textures carry D3D11_BIND_SHADER_RESOURCE
    bool bgra_uav_store = true;
    std::vector<ResetHook> reset_hooks;
};

// Never destroyed: emulated objects may be released by static destructors of the host.
System &sys() {
    static System *s = new System;
    return *s;
}

std::string property_key(std::string_view type_name, std::string_view property) {
    return std::string(type_name) + "." + std::string(property);
}

// Back to a fresh system.
void reset_system() {
    std::vector<ResetHook> hooks;
    {
        System &s = sys();
        std::lock_guard lock(s.mutex);
        // The gauges of objects that exist are not counts of calls: they survive a reset.
        std::map<std::string, uint64_t, std::less<>> gauges;
        for (const char *gauge : {"live_objects", "weak_references", "resource_bytes"})
            if (auto found = s.counters.find(std::string_view(gauge)); found != s.counters.end() && found->second)
                gauges.emplace(gauge, found->second);
        // The high-water mark starts again from what is held now.
        if (auto held = gauges.find("resource_bytes"); held != gauges.end())
            gauges.emplace("resource_bytes_peak", held->second);
        s.counters.swap(gauges);
        s.faults.clear();
        s.properties.clear();
        s.contract_version = 19;
        s.capture_supported = true;
        s.frame_shader_readable = true;
        s.bgra_uav_store = true;
        hooks = s.reset_hooks;
    }
    for (ResetHook hook : hooks) hook();
}

}  // namespace

HRESULT call(std::string_view operation) noexcept {
    // A system without the memory to count a call fails it as Windows would.
    return or_failure<HRESULT>(E_OUTOFMEMORY, [&] {
        System &s = sys();
        std::lock_guard lock(s.mutex);
        auto counter = s.counters.find(operation);
        if (counter == s.counters.end()) counter = s.counters.emplace(std::string(operation), 0).first;
        ++counter->second;
        auto fault = s.faults.find(operation);
        if (fault == s.faults.end()) return S_OK;
        if (fault->second.skip > 0) {
            --fault->second.skip;
            return S_OK;
        }
        const HRESULT hr = fault->second.hr;
        if (--fault->second.count == 0) s.faults.erase(fault);
        return hr;
    });
}

void add_count(std::string_view name, int64_t delta) noexcept {
    or_nothing([&] {
        System &s = sys();
        std::lock_guard lock(s.mutex);
        auto counter = s.counters.find(name);
        if (counter == s.counters.end()) counter = s.counters.emplace(std::string(name), 0).first;
        counter->second += static_cast<uint64_t>(delta);
    });
}

void add_resource_bytes(int64_t delta) noexcept {
    or_nothing([&] {
        System &s = sys();
        std::lock_guard lock(s.mutex);
        uint64_t &held = s.counters["resource_bytes"];
        held += static_cast<uint64_t>(delta);
        uint64_t &peak = s.counters["resource_bytes_peak"];
        peak = std::max(peak, held);
    });
}

void refuse(const char *operation, const char *reason) {
    add_count("validation_errors", 1);
    std::fprintf(stderr, "corvo-emu: validation error: %s: %s\n", operation, reason);
}

uint16_t contract_version() {
    std::lock_guard lock(sys().mutex);
    return sys().contract_version;
}

bool capture_supported() {
    std::lock_guard lock(sys().mutex);
    return sys().capture_supported;
}

bool property_present(std::string_view type_name, std::string_view property) {
    System &s = sys();
    std::lock_guard lock(s.mutex);
    auto found = s.properties.find(property_key(type_name, property));
    if (found != s.properties.end()) return found->second;
    return type_name == "Windows.Graphics.Capture.GraphicsCaptureSession" &&
           (property == "IsCursorCaptureEnabled" || property == "IsBorderRequired" ||
            property == "MinUpdateInterval");
}

uint32_t frame_bind_flags() {
    std::lock_guard lock(sys().mutex);
    return D3D11_BIND_RENDER_TARGET | (sys().frame_shader_readable ? D3D11_BIND_SHADER_RESOURCE : 0u);
}

bool bgra_uav_store() {
    std::lock_guard lock(sys().mutex);
    return sys().bgra_uav_store;
}

void on_reset(ResetHook hook) {
    std::lock_guard lock(sys().mutex);
    sys().reset_hooks.push_back(hook);
}

}  // namespace corvo::emu

using namespace corvo::emu;

extern "C" {

void corvo_emu_set_frame_shader_readable(int32_t readable) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        std::lock_guard lock(sys().mutex);
        sys().frame_shader_readable = readable != 0;
    });
}

void corvo_emu_set_bgra_uav_store(int32_t supported) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        std::lock_guard lock(sys().mutex);
        sys().bgra_uav_store = supported != 0;
    });
}

void corvo_emu_set_contract_version(uint16_t major) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        std::lock_guard lock(sys().mutex);
        sys().contract_version = major;
    });
}

void corvo_emu_set_capture_supported(int32_t supported) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        std::lock_guard lock(sys().mutex);
        sys().capture_supported = supported != 0;
    });
}

void corvo_emu_set_property(const char *type_name, const char *property, int32_t present) CORVO_EMU_NOEXCEPT {
    if (!type_name || !property) return;
    or_nothing([&] {
        std::string key = property_key(type_name, property);
        std::lock_guard lock(sys().mutex);
        sys().properties[std::move(key)] = present != 0;
    });
}

void corvo_emu_fail(const char *operation, int32_t hr, uint32_t skip, uint32_t count) CORVO_EMU_NOEXCEPT {
    if (!operation) return;
    or_nothing([&] {
        std::lock_guard lock(sys().mutex);
        if (count == 0)
            sys().faults.erase(operation);
        else
            sys().faults[operation] = Fault{hr, skip, count};
    });
}

uint64_t corvo_emu_count(const char *name) CORVO_EMU_NOEXCEPT {
    if (!name) return 0;
    return or_failure<uint64_t>(0, [&] {
        std::lock_guard lock(sys().mutex);
        auto found = sys().counters.find(std::string_view(name));
        return found == sys().counters.end() ? 0 : found->second;
    });
}

void corvo_emu_reset(void) CORVO_EMU_NOEXCEPT { or_nothing(reset_system); }

}  // extern "C"
