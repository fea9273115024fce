// The three change-detection kernels as cs_5_0 DXBC containers, assembled from the listings next to this file
// (see README.md for how the detector must bind and dispatch them).
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvo::kernels {

extern const uint8_t kClearDiffBuffCS[];
extern const size_t kClearDiffBuffCSSize;
extern const uint8_t kDiffCellsCS[];
extern const size_t kDiffCellsCSSize;
extern const uint8_t kPackDiffBitsCS[];
extern const size_t kPackDiffBitsCSSize;

}  // namespace corvo::kernels
