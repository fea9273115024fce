// Random masks, row widths and frame sizes through the changed-rectangle extraction; any broken invariant
// aborts, so libFuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "diff/extract_rects.h"

namespace {

void require(bool condition, const char *what) {
    if (condition) return;
    std::fprintf(stderr, "extract_rects: %s\n", what);
    std::abort();
}

uint32_t take32(const uint8_t *&data, size_t &size) {
    uint32_t v = 0;
    const size_t n = size < 4 ? size : 4;
    if (n == 0) return 0;  // an empty input may come without data
    std::memcpy(&v, data, n);
    data += n;
    size -= n;
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Frame sizes up to 2^20 pixels a side.
    const uint32_t width = take32(data, size) & 0xFFFFF;
    const uint32_t height = take32(data, size) & 0xFFFFF;
    const uint32_t words_per_row = 1 + take32(data, size) % 8;
    const uint32_t rows = static_cast<uint32_t>(size / 4 / words_per_row);
    std::vector<uint32_t> words(size_t(rows) * words_per_row);
    if (!words.empty()) std::memcpy(words.data(), data, words.size() * 4);

    std::vector<corvo::DirtyRect> rects(3, corvo::DirtyRect{7, 7, 7, 7, 7, 7});  // must be emptied first
    std::vector<uint32_t> open(5, 7u);  // scratch: its contents must not matter
    const uint64_t area = corvo::extract_rects(words.data(), rows, words_per_row, width, height, rects, open);

    uint64_t sum = 0;
    for (size_t i = 0; i < rects.size(); ++i) {
        const corvo::DirtyRect &r = rects[i];
        require(r.front == 0 && r.back == 0, "front and back are 0");
        require(r.left <= r.right && r.right <= width && r.top <= r.bottom && r.bottom <= height,
                "inside the frame");
        require(r.left < width && r.top < height, "starts inside the frame");
        require(r.left < r.right && r.top < r.bottom, "covers at least one pixel");
        require(r.top % 32 == 0 && r.left % 32 == 0, "aligned to cells");
        for (uint32_t cell_row = r.top / 32; cell_row * 32 < r.bottom; ++cell_row)
            for (uint32_t cell = r.left / 32; cell * 32 < r.right; ++cell) {
                const uint32_t word = words[size_t(cell_row) * words_per_row + cell / 32];
                require((word >> (cell % 32)) & 1, "covers changed cells only");
            }
        if (i > 0) {
            const corvo::DirtyRect &p = rects[i - 1];
            require(p.top < r.top || (p.top == r.top && p.right <= r.left), "sorted by top, then left; disjoint");
        }
        sum += uint64_t(r.right - r.left) * (r.bottom - r.top);
    }
    require(sum == area, "area is the sum of the rectangles' areas");
    const float ratio = corvo::update_ratio_of(area, width, height);
    require(ratio >= 0.0f && ratio <= 1.0f, "ratio in [0, 1]");
    return 0;
}
