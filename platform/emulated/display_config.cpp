// The display configuration as user32 reports it: one active path per open monitor, from a source (the GDI
// device \\.\DISPLAYn) to a target (the monitor), and per target its SDR white level. Paths and modes are read
// from the system at each call; an injected fault is answered as the call's Win32 error code.
#include <algorithm>
#include <vector>

#include "corvo_emu.h"
#include "platform/emulated/c_boundary.h"
#include "platform/emulated/displays.h"
#include "platform/emulated/system.h"

namespace corvo::emu {
namespace {

static_assert(sizeof(DISPLAYCONFIG_DEVICE_INFO_HEADER) == 20 && sizeof(DISPLAYCONFIG_SDR_WHITE_LEVEL) == 24 &&
              sizeof(DISPLAYCONFIG_SOURCE_DEVICE_NAME) == 84);
static_assert(sizeof(DISPLAYCONFIG_PATH_INFO) == 72 && sizeof(DISPLAYCONFIG_MODE_INFO) == 64);

// The monitors hang on the system's first adapter, whose LUID DXGI reports as {1, 0}.
constexpr LUID kAdapter{1, 0};
// Source and target ids of monitor n. Targets are numbered apart from sources, as on Windows, so that a caller
// who gives one where the other is due is refused.
uint32_t source_id(const Monitor &m) { return m.target->number - 1; }
uint32_t target_id(const Monitor &m) { return 0x1100 + m.target->number; }

bool same(const LUID &a, const LUID &b) { return a.LowPart == b.LowPart && a.HighPart == b.HighPart; }

// Every path is active, so both give the same paths. Other flags (the database, virtual modes) are refused.
bool flags_known(UINT32 flags) { return flags == QDC_ALL_PATHS || flags == QDC_ONLY_ACTIVE_PATHS; }

// A failure injected into the operation, or ERROR_SUCCESS.
LONG injected(const char *operation) { return LONG(call(operation)); }

LONG buffer_sizes(UINT32 flags, UINT32 *path_count, UINT32 *mode_count) {
    if (const LONG error = injected("GetDisplayConfigBufferSizes")) return error;
    if (!path_count || !mode_count || !flags_known(flags)) return ERROR_INVALID_PARAMETER;
    const auto count = UINT32(monitors().size());
    *path_count = count;
    *mode_count = 2 * count;  // a source mode and a target mode per path
    return ERROR_SUCCESS;
}

LONG query(UINT32 flags, UINT32 *path_count, DISPLAYCONFIG_PATH_INFO *paths, UINT32 *mode_count,
           DISPLAYCONFIG_MODE_INFO *modes) {
    if (const LONG error = injected("QueryDisplayConfig")) return error;
    if (!path_count || !mode_count || (!paths && *path_count) || (!modes && *mode_count) || !flags_known(flags))
        return ERROR_INVALID_PARAMETER;
    const std::vector<Monitor> all = monitors();
    if (*path_count < all.size() || *mode_count < 2 * all.size()) return ERROR_INSUFFICIENT_BUFFER;
    for (size_t i = 0; i < all.size(); ++i) {
        const Monitor &m = all[i];
        const auto width = UINT32(m.rect.right - m.rect.left), height = UINT32(m.rect.bottom - m.rect.top);
        DISPLAYCONFIG_PATH_INFO &path = paths[i];
        path = {};
        path.sourceInfo = {kAdapter, source_id(m), UINT32(2 * i), DISPLAYCONFIG_SOURCE_IN_USE};
        path.targetInfo.adapterId = kAdapter;
        path.targetInfo.id = target_id(m);
        path.targetInfo.modeInfoIdx = UINT32(2 * i + 1);
        path.targetInfo.outputTechnology = DISPLAYCONFIG_OUTPUT_TECHNOLOGY_DISPLAYPORT_EXTERNAL;
        path.targetInfo.rotation = DISPLAYCONFIG_ROTATION_IDENTITY;
        path.targetInfo.scaling = DISPLAYCONFIG_SCALING_IDENTITY;
        path.targetInfo.refreshRate = {60, 1};
        path.targetInfo.scanLineOrdering = DISPLAYCONFIG_SCANLINE_ORDERING_PROGRESSIVE;
        path.targetInfo.targetAvailable = 1;
        path.targetInfo.statusFlags = DISPLAYCONFIG_TARGET_IN_USE;
        path.flags = DISPLAYCONFIG_PATH_ACTIVE;

        DISPLAYCONFIG_MODE_INFO &source = modes[2 * i];
        source = {};
        source.infoType = DISPLAYCONFIG_MODE_INFO_TYPE_SOURCE;
        source.id = source_id(m);
        source.adapterId = kAdapter;
        source.sourceMode = {width, height, DISPLAYCONFIG_PIXELFORMAT_32BPP, {m.rect.left, m.rect.top}};
        DISPLAYCONFIG_MODE_INFO &target = modes[2 * i + 1];
        target = {};
        target.infoType = DISPLAYCONFIG_MODE_INFO_TYPE_TARGET;
        target.id = target_id(m);
        target.adapterId = kAdapter;
        DISPLAYCONFIG_VIDEO_SIGNAL_INFO &signal = target.targetMode.targetVideoSignalInfo;
        signal.pixelRate = UINT64(width) * height * 60;
        signal.hSyncFreq = {height * 60, 1};
        signal.vSyncFreq = {60, 1};
        signal.activeSize = signal.totalSize = {width, height};
        signal.scanLineOrdering = DISPLAYCONFIG_SCANLINE_ORDERING_PROGRESSIVE;
    }
    *path_count = UINT32(all.size());
    *mode_count = UINT32(2 * all.size());
    return ERROR_SUCCESS;
}

LONG device_info(DISPLAYCONFIG_DEVICE_INFO_HEADER *request) {
    if (const LONG error = injected("DisplayConfigGetDeviceInfo")) return error;
    if (!request) return ERROR_INVALID_PARAMETER;
    const bool source = request->type == DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME;
    if (!source && request->type != DISPLAYCONFIG_DEVICE_INFO_GET_SDR_WHITE_LEVEL) return ERROR_NOT_SUPPORTED;
    if (request->size < (source ? sizeof(DISPLAYCONFIG_SOURCE_DEVICE_NAME) : sizeof(DISPLAYCONFIG_SDR_WHITE_LEVEL)))
        return ERROR_INSUFFICIENT_BUFFER;
    const std::vector<Monitor> all = monitors();
    const auto found = std::find_if(all.begin(), all.end(), [&](const Monitor &m) {
        return same(request->adapterId, kAdapter) && request->id == (source ? source_id(m) : target_id(m));
    });
    if (found == all.end()) return ERROR_INVALID_PARAMETER;
    if (source) {
        device_name(found->target->number,
                    reinterpret_cast<DISPLAYCONFIG_SOURCE_DEVICE_NAME *>(request)->viewGdiDeviceName);
        return ERROR_SUCCESS;
    }
    // Thousandths of 80 nits, to the nearest.
    const uint32_t nits = found->target->display().sdr_white_nits;
    reinterpret_cast<DISPLAYCONFIG_SDR_WHITE_LEVEL *>(request)->SDRWhiteLevel = (nits * 1000 + 40) / 80;
    return ERROR_SUCCESS;
}

}  // namespace
}  // namespace corvo::emu

using namespace corvo::emu;

extern "C" {

LONG WINAPI GetDisplayConfigBufferSizes(UINT32 flags, UINT32 *path_count, UINT32 *mode_count) {
    return or_failure<LONG>(ERROR_GEN_FAILURE, [&] { return buffer_sizes(flags, path_count, mode_count); });
}

LONG WINAPI QueryDisplayConfig(UINT32 flags, UINT32 *path_count, DISPLAYCONFIG_PATH_INFO *paths, UINT32 *mode_count,
                               DISPLAYCONFIG_MODE_INFO *modes, DISPLAYCONFIG_TOPOLOGY_ID *) {
    return or_failure<LONG>(ERROR_GEN_FAILURE, [&] { return query(flags, path_count, paths, mode_count, modes); });
}

LONG WINAPI DisplayConfigGetDeviceInfo(DISPLAYCONFIG_DEVICE_INFO_HEADER *request) {
    return or_failure<LONG>(ERROR_GEN_FAILURE, [&] { return device_info(request); });
}

}  // extern "C"
