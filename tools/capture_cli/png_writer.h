// PNG files of captured frames.
#pragma once

#include <cstdint>
#include <string>

namespace capture_cli {

// Writes a BGRA frame (rows of width * 4 bytes, no gap) as an RGBA PNG; an empty string on success, else why not.
std::string write_png(const std::string &path, const uint8_t *bgra, int32_t width, int32_t height);

}  // namespace capture_cli
