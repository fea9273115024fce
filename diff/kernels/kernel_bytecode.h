// The kernels as cs_5_0 DXBC containers, assembled from the listings next to this file (see README.md for how
// they must be bound and dispatched): change detection of 8-bit and of FP16 frames, and the SDR picture of an
// FP16 frame.
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
extern const uint8_t kDiffBitsCS[];
extern const size_t kDiffBitsCSSize;
extern const uint8_t kSdrFromHdrCS[];
extern const size_t kSdrFromHdrCSSize;

}  // namespace corvo::kernels
