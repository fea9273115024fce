// HDR image files of FP16 frames.
#pragma once

#include <cstdint>
#include <string>

namespace capture_cli {

// The extension of the files write_hdr makes: OpenEXR, or JPEG XR on Windows.
extern const char *const kHdrExtension;

// Writes an FP16 scRGB frame (rows of width pixels of R, G, B, A halves, no gap) as a linear half-float RGBA
// image; an empty string on success, else why not.
std::string write_hdr(const std::string &path, const uint16_t *rgba_halves, int32_t width, int32_t height);

}  // namespace capture_cli
