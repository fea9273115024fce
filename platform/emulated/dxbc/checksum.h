// The 16-byte checksum a DXBC container carries at offset 4: MD5 over bytes 20..end, with the container's own
// final padding (bit count at the start of the last block, 2L+1 in its last word).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace corvo::dxbc {

using Checksum = std::array<uint8_t, 16>;

// `blob` is the whole container; `size` at least 20.
Checksum compute_checksum(const uint8_t *blob, size_t size);

}  // namespace corvo::dxbc
