// One changed run of cells, in the field order of D3D11_BOX.
#pragma once

#include <cstdint>

namespace corvo {

struct DirtyRect {
    uint32_t left;
    uint32_t top;
    uint32_t front;
    uint32_t right;
    uint32_t bottom;
    uint32_t back;
};
static_assert(sizeof(DirtyRect) == 24);

}  // namespace corvo
