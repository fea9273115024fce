// What change detection says about a picture, compared with the picture the host holds.
#pragma once

#include <cstdint>
#include <span>

#include "diff/dirty_rect.h"

namespace corvo {

enum class Change {
    kNew,        // nothing to compare with (first picture, new size, detection off or failed): all of it is new
    kUnchanged,  // no cell differs: the host's copy already shows it
    kChanged,    // the cells in `rects` differ
};

struct Detection {
    Change change = Change::kNew;
    // The share of the picture that changed, what the host reads as the update ratio: 1 when new, 0 when
    // unchanged, the changed cells' area over the picture's otherwise.
    float ratio = 1.0f;
    // kChanged: runs of changed cells, clipped to the picture; they stay valid until the next detection.
    std::span<const DirtyRect> rects;
    uint64_t changed_area = 0;  // pixels covered by `rects`
};

}  // namespace corvo
