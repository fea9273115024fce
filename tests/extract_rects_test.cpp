#include "diff/extract_rects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <ostream>
#include <vector>

namespace corvo {

// Found by argument-dependent lookup from the comparisons and printers of vectors.
bool operator==(const DirtyRect &a, const DirtyRect &b) {
    return a.left == b.left && a.top == b.top && a.front == b.front && a.right == b.right && a.bottom == b.bottom &&
           a.back == b.back;
}

void PrintTo(const DirtyRect &r, std::ostream *out) {
    *out << '{' << r.left << ", " << r.top << ", " << r.front << ", " << r.right << ", " << r.bottom << ", "
         << r.back << '}';
}

}  // namespace corvo

namespace {

using corvo::DirtyRect;

// A 1920 x 1080 frame: 34 rows of cells, four words per row, cell columns 0 to 59.
class Extract1080 : public ::testing::Test {
protected:
    uint64_t extract() { return corvo::extract_rects(mask.data(), 34, 4, 1920, 1080, rects, open); }
    uint32_t &word(uint32_t row, uint32_t j) { return mask[row * 4 + j]; }

    std::vector<uint32_t> mask = std::vector<uint32_t>(34 * 4, 0);
    std::vector<DirtyRect> rects;
    std::vector<uint32_t> open;
};

TEST_F(Extract1080, EmptyMaskGivesNothing) {
    rects.push_back({1, 2, 0, 3, 4, 0});  // left over from an earlier frame
    EXPECT_EQ(extract(), 0u);
    EXPECT_TRUE(rects.empty());
    EXPECT_EQ(corvo::update_ratio_of(0, 1920, 1080), 0.0f);
}

TEST_F(Extract1080, RunsWithinAWordBecomeOneRectangleEach) {
    word(0, 0) = 0x00000001;
    EXPECT_EQ(extract(), 1024u);
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{0, 0, 0, 32, 32, 0}}));
    EXPECT_EQ(corvo::update_ratio_of(1024, 1920, 1080), 4.9382716e-4f);

    word(0, 0) = 0x0000000E;
    EXPECT_EQ(extract(), 3072u);
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{32, 0, 0, 128, 32, 0}}));

    word(0, 0) = 0x80000001;
    EXPECT_EQ(extract(), 2048u);
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{0, 0, 0, 32, 32, 0}, {992, 0, 0, 1024, 32, 0}}));

    word(0, 0) = 0xFFFFFFFF;
    EXPECT_EQ(extract(), 32768u);
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{0, 0, 0, 1024, 32, 0}}));
}

TEST_F(Extract1080, RunsContinueAcrossWords) {
    word(0, 0) = 0x80000000;
    word(0, 1) = 0x00000001;
    extract();
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{992, 0, 0, 1056, 32, 0}}));
}

// A run right below a rectangle with the same left and right extends it; any other run starts its own.
TEST_F(Extract1080, RunsBelowWithTheSameEdgesJoinTheRectangleAbove) {
    struct Case {
        const char *name;
        std::vector<std::pair<uint32_t, uint32_t>> rows_and_bits;  // cell row, bits of word 0
        std::vector<DirtyRect> expected;
    };
    const Case cases[] = {
        {"a tile of 3 x 2 cells", {{4, 0x7}, {5, 0x7}}, {{0, 128, 0, 96, 192, 0}}},
        {"a moved tile: its old and new place",
         {{1, 0x3}, {2, 0x3}, {2, 0x30}, {3, 0x30}},
         {{0, 32, 0, 64, 96, 0}, {128, 64, 0, 192, 128, 0}}},
        {"a wider run below", {{0, 0x2}, {1, 0x7}}, {{32, 0, 0, 64, 32, 0}, {0, 32, 0, 96, 64, 0}}},
        {"a gap of one row", {{0, 0x1}, {2, 0x1}}, {{0, 0, 0, 32, 32, 0}, {0, 64, 0, 32, 96, 0}}},
        {"two columns, one ending early",
         {{0, 0x9}, {1, 0x9}, {2, 0x8}},
         {{0, 0, 0, 32, 64, 0}, {96, 0, 0, 128, 96, 0}}},
        {"a run that meets the one above only in part",
         {{0, 0x3}, {1, 0x6}},
         {{0, 0, 0, 64, 32, 0}, {32, 32, 0, 96, 64, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::fill(mask.begin(), mask.end(), 0u);
        uint64_t cells = 0;
        for (const auto &[row, bits] : c.rows_and_bits) {
            word(row, 0) |= bits;
            cells += uint64_t(std::popcount(bits));
        }
        EXPECT_EQ(extract(), cells * 1024);
        EXPECT_EQ(rects, c.expected);
    }
}

TEST_F(Extract1080, AlternatingBitsGiveSixteenRectangles) {
    word(0, 0) = 0x55555555;
    EXPECT_EQ(extract(), 16u * 1024);
    ASSERT_EQ(rects.size(), 16u);
    for (uint32_t k = 0; k < 16; ++k) EXPECT_EQ(rects[k], (DirtyRect{64 * k, 0, 0, 64 * k + 32, 32, 0}));
}

TEST_F(Extract1080, BottomRowEndsAtTheEdge) {
    word(33, 0) = 0x00000001;
    EXPECT_EQ(extract(), 768u);  // the 24 rows of the last cell row inside the frame
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{0, 1056, 0, 32, 1080, 0}}));
}

TEST_F(Extract1080, RightmostCellsEndAtTheEdge) {
    word(0, 1) = 1u << 27;  // cell column 59
    EXPECT_EQ(extract(), 1024u);
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{1888, 0, 0, 1920, 32, 0}}));

    word(0, 1) = 0xFE000000;  // columns 57 to 63: the run starts inside the frame
    extract();
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{1824, 0, 0, 1920, 32, 0}}));
}

TEST_F(Extract1080, CellsRightOfTheFrameGiveNothing) {
    word(0, 1) = 1u << 28;  // cell column 60, left 1920
    word(0, 2) = 0xFFFFFFFF;
    word(0, 3) = 0xFFFFFFFF;
    EXPECT_EQ(extract(), 0u);
    EXPECT_TRUE(rects.empty());
}

TEST_F(Extract1080, FullMaskIsOneRectangle) {
    for (uint32_t r = 0; r < 34; ++r) {
        word(r, 0) = 0xFFFFFFFF;
        word(r, 1) = 0x0FFFFFFF;
    }
    const uint64_t area = extract();
    EXPECT_EQ(area, 1920u * 1080u);
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{0, 0, 0, 1920, 1080, 0}}));
    EXPECT_EQ(corvo::update_ratio_of(area, 1920, 1080), 1.0f);
}

TEST(ExtractRects, SingleCellFrame) {
    const uint32_t mask[4] = {1, 0, 0, 0};
    std::vector<DirtyRect> rects;
    std::vector<uint32_t> open;
    const uint64_t area = corvo::extract_rects(mask, 1, 4, 32, 32, rects, open);
    EXPECT_EQ(area, 1024u);
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{0, 0, 0, 32, 32, 0}}));
    EXPECT_EQ(corvo::update_ratio_of(area, 32, 32), 1.0f);

    // A one-pixel frame is one whole cell.
    EXPECT_EQ(corvo::extract_rects(mask, 1, 4, 1, 1, rects, open), 1u);
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{0, 0, 0, 1, 1, 0}}));
}

TEST(ExtractRects, RowsBelowTheFrameGiveNothing) {
    std::vector<uint32_t> mask(3 * 4, 0);
    mask[2 * 4] = 1;  // row 2, top 64, of a frame 64 pixels high
    std::vector<DirtyRect> rects;
    std::vector<uint32_t> open;
    EXPECT_EQ(corvo::extract_rects(mask.data(), 3, 4, 1920, 64, rects, open), 0u);
    EXPECT_TRUE(rects.empty());
}

TEST(ExtractRects, WideFrameReportsCellsBeyond4096) {
    // 7680 x 4320: 240 cell columns in 8 words per row, 135 rows.
    const uint32_t words_per_row = 8;
    std::vector<uint32_t> mask(135 * words_per_row, 0);
    mask[1 * words_per_row + 4] = 1u << 3;      // row 1, cell column 131: x 4192
    mask[134 * words_per_row + 7] = 1u << 15;   // last row, cell column 239: the bottom-right cell
    mask[134 * words_per_row + 7] |= 1u << 16;  // cell column 240 lies right of the frame
    std::vector<DirtyRect> rects;
    std::vector<uint32_t> open;
    const uint64_t area = corvo::extract_rects(mask.data(), 135, words_per_row, 7680, 4320, rects, open);
    EXPECT_EQ(rects, (std::vector<DirtyRect>{{4192, 32, 0, 4224, 64, 0}, {7648, 4288, 0, 7680, 4320, 0}}));
    EXPECT_EQ(area, 2048u);
}

TEST(ExtractRects, KeepsTheListsCapacity) {
    const uint32_t mask[4] = {0x55555555, 0, 0, 0};
    std::vector<DirtyRect> rects;
    std::vector<uint32_t> open;
    corvo::extract_rects(mask, 1, 4, 1920, 1080, rects, open);
    const DirtyRect *storage = rects.data();
    const size_t capacity = rects.capacity();
    corvo::extract_rects(mask, 1, 4, 1920, 1080, rects, open);
    EXPECT_EQ(rects.data(), storage);
    EXPECT_EQ(rects.capacity(), capacity);
}

TEST(UpdateRatio, FrameAreaBeyond32BitsDoesNotWrap) {
    // 65536 x 65536 is 2^32 pixels: a 32-bit area would be 0 and the ratio infinite.
    EXPECT_EQ(corvo::update_ratio_of(1u << 31, 65536, 65536), 0.5f);
    // 70000 x 70000 = 4900000000 pixels, which 32 bits would wrap to 605032704.
    EXPECT_EQ(corvo::update_ratio_of(490000000, 70000, 70000), 0.1f);
}

// Found by the extraction fuzzer: a frame of zero width or height gave 0 / 0, a NaN ratio.
TEST(UpdateRatio, FrameWithoutPixelsChangedNothing) {
    EXPECT_EQ(corvo::update_ratio_of(0, 0, 1080), 0.0f);
    EXPECT_EQ(corvo::update_ratio_of(0, 1920, 0), 0.0f);
    EXPECT_EQ(corvo::update_ratio_of(0, 0, 0), 0.0f);
}

}  // namespace
