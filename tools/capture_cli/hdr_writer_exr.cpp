// OpenEXR files: the half-float format that HDR tools read.
#include <ImfHeader.h>
#include <ImfRgbaFile.h>
#include <ImfStandardAttributes.h>

#include <exception>

#include "tools/capture_cli/hdr_writer.h"

namespace capture_cli {

const char *const kHdrExtension = ".exr";

std::string write_hdr(const std::string &path, const uint16_t *rgba_halves, int32_t width, int32_t height) {
    // Imf::Rgba is four halves in this order, as the frame holds them.
    static_assert(sizeof(Imf::Rgba) == 8);
    try {
        Imf::Header header(width, height);
        Imf::addWhiteLuminance(header, 80.0f);  // scRGB: 1.0 is 80 nits
        Imf::RgbaOutputFile file(path.c_str(), header, Imf::WRITE_RGBA);
        file.setFrameBuffer(reinterpret_cast<const Imf::Rgba *>(rgba_halves), 1, size_t(width));
        file.writePixels(height);
        return {};
    } catch (const std::exception &error) {
        return path + ": " + error.what();
    }
}

}  // namespace capture_cli
