#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "diff/kernel_grid.h"
#include "kernel_reference.h"
#include "platform/emulated/half.h"

namespace {

Frame random_frame(uint32_t w, uint32_t h, uint32_t seed) {
    Frame f(w, h);
    std::mt19937 rng(seed);
    for (auto &byte : f.bgra) byte = uint8_t(rng());
    return f;
}

// Runs both versions and checks that they agree and that nothing was written outside the views.
KernelResult run_and_compare(const Frame &now, const Frame &before) {
    bool guards_intact = false;
    const KernelResult got = executor_kernels(now, before, &guards_intact);
    const KernelResult want = reference_kernels(now, before);
    EXPECT_TRUE(guards_intact);
    EXPECT_EQ(got.cells, want.cells);
    EXPECT_EQ(got.mask, want.mask);
    return got;
}

size_t bits_set(const std::vector<uint32_t> &mask) {
    size_t n = 0;
    for (uint32_t w : mask) n += size_t(__builtin_popcount(w));
    return n;
}

TEST(DiffKernels, IdenticalFramesGiveAnEmptyMask) {
    const Frame a = random_frame(800, 600, 1);
    const KernelResult r = run_and_compare(a, a);
    EXPECT_EQ(bits_set(r.mask), 0u);
    ASSERT_EQ(r.mask.size(), 4u * 19u);
}

TEST(DiffKernels, AlphaOnlyChangeIsNoChange) {
    const Frame a = random_frame(256, 128, 2);
    Frame b = a;
    for (size_t i = 3; i < b.bgra.size(); i += 4) b.bgra[i] ^= 0xff;
    EXPECT_EQ(bits_set(run_and_compare(b, a).mask), 0u);
}

TEST(DiffKernels, OneStepInOneChannelSetsExactlyItsBit) {
    const Frame a = random_frame(800, 600, 3);
    Frame b = a;
    uint8_t *green = b.pixel(100 + 32 * 20, 70) + 1;  // cell (23, 2)
    *green = *green == 255 ? 254 : *green + 1;
    const KernelResult r = run_and_compare(b, a);
    EXPECT_EQ(bits_set(r.mask), 1u);
    EXPECT_EQ(r.mask[2 * 4 + 0], 1u << 23);
    EXPECT_EQ(r.cells[2 * 25 + 23], 230u);
}

TEST(DiffKernels, ChangesInTheEdgeCellsOfA1080pFrameAreFound) {
    const Frame a = random_frame(1920, 1080, 4);
    Frame b = a;
    b.pixel(1919, 1079)[0] ^= 1;  // last column and last (partial) row
    b.pixel(1888, 3)[2] ^= 0x80;  // last column
    b.pixel(5, 1056)[1] ^= 0x10;  // last row
    const KernelResult r = run_and_compare(b, a);
    EXPECT_EQ(bits_set(r.mask), 3u);
    EXPECT_EQ(r.mask[33 * 4 + 1], 1u << 27);  // cell 59 of row 33
    EXPECT_EQ(r.mask[0 * 4 + 1], 1u << 27);
    EXPECT_EQ(r.mask[33 * 4 + 0], 1u);
}

TEST(DiffKernels, ChangesBeyond4096PixelsUseTheWiderRowPitch) {
    const Frame a = random_frame(5120, 64, 5);
    Frame b = a;
    b.pixel(5000, 40)[2] ^= 4;  // cell 156 of row 1: word 4, bit 28
    b.pixel(4100, 0)[0] ^= 4;   // cell 128 of row 0: word 4, bit 0
    const KernelResult r = run_and_compare(b, a);
    ASSERT_EQ(r.mask.size(), 2u * 5u);
    EXPECT_EQ(r.mask[1 * 5 + 4], 1u << 28);
    EXPECT_EQ(r.mask[0 * 5 + 4], 1u);
    EXPECT_EQ(bits_set(r.mask), 2u);
}

TEST(DiffKernels, SizesThatAreNotMultiplesOfTheCellOrGroupAgreeWithTheReference) {
    for (const auto &[w, h] : {std::pair{1000u, 700u}, {33u, 31u}, {1u, 1u}, {545u, 1030u}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const Frame a = random_frame(w, h, w * h);
        Frame b = a;
        std::mt19937 rng(w + h);
        for (int i = 0; i < 12; ++i) b.pixel(rng() % w, rng() % h)[rng() % 3] ^= uint8_t(1 + rng() % 255);
        EXPECT_GT(bits_set(run_and_compare(b, a).mask), 0u);
    }
}

TEST(DiffKernels, EveryCellDifferentFillsTheGridAndTheMaskTail) {
    const Frame a(1300, 90);
    Frame b = a;
    for (size_t i = 0; i < b.bgra.size(); i += 4) b.bgra[i + 2] = 255;  // red 0 -> 1 everywhere
    const KernelResult r = run_and_compare(b, a);
    // 41 cell columns: word 0 full, word 1 holds 9 bits, words 2 and 3 stay 0.
    EXPECT_EQ(r.mask[0], 0xffffffffu);
    EXPECT_EQ(r.mask[1], 0x1ffu);
    EXPECT_EQ(r.mask[2], 0u);
    EXPECT_EQ(r.cells[0], 230u);
}

// Random halves, a quarter of them special (signed zeros, subnormals, infinities, NaNs); with a white, also SDR
// content scaled to it and highlights above it.
HalfFrame random_half_frame(uint32_t w, uint32_t h, uint32_t seed, float white_nits = 0) {
    static constexpr uint16_t kSpecial[] = {0x0000, 0x8000, 0x0001, 0x03ff, 0x8001, 0x7c00, 0xfc00,
                                            0x7e00, 0x7c01, 0xfe00, 0x7fff, 0x3c00, 0x4100, 0x7bff};
    HalfFrame f(w, h);
    std::mt19937 rng(seed);
    for (auto &half : f.rgba) {
        const uint32_t kind = rng() % 4;
        half = kind == 0 ? kSpecial[rng() % std::size(kSpecial)] : uint16_t(rng());
        if (kind == 1 && white_nits > 0)
            half = half_from_float(float(srgb_decode(uint8_t(rng())) * white_nits / 80));
        if (kind == 2 && white_nits > 0) half = half_from_float(float(rng() % 20000) / 1000);
    }
    return f;
}

// diffBitsCS: random bit flips in red, green, blue and alpha; then values equal as numbers but not as bits, or
// the other way round, in cells of their own, with an alpha-only change in the row above.
TEST(DiffBitsKernel, FindsTheCellsWhereABitOfAColourChanged) {
    for (const auto &[w, h] : {std::pair{1920u, 1080u}, {5120u, 64u}, {1000u, 700u}, {33u, 31u}, {1u, 1u}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const HalfFrame a = random_half_frame(w, h, w + h);
        HalfFrame b = a;
        std::mt19937 rng(w * h);
        for (int i = 0; i < 16; ++i) b.pixel(rng() % w, rng() % h)[rng() % 4] ^= uint16_t(1u << (rng() % 16));
        bool guards_intact = false;
        const KernelResult got = executor_kernels(b, a, &guards_intact), want = reference_kernels(b, a);
        EXPECT_TRUE(guards_intact);
        EXPECT_EQ(got.cells, want.cells);
        EXPECT_EQ(got.mask, want.mask);
    }
    const struct {
        uint16_t before, after;
        bool changed;
    } rows[] = {{0x0000, 0x8000, true}, {0x7e00, 0x7e00, false}, {0x7e00, 0x7e01, true}, {0x7e00, 0xfe00, true},
                {0x7c00, 0x7bff, true}, {0x0001, 0x0000, true},  {0x3c00, 0x3c00, false}};
    const auto n = uint32_t(std::size(rows));
    HalfFrame a(32 * n, 40), b = a;
    for (uint32_t i = 0; i < n; ++i) {
        a.pixel(32 * i + 31, 39)[i % 3] = rows[i].before;  // the last pixel of a partial cell, in each channel
        b.pixel(32 * i + 31, 39)[i % 3] = rows[i].after;
        b.pixel(32 * i, 0)[3] = 0xfe00;
    }
    bool guards_intact = false;
    const KernelResult r = executor_kernels(b, a, &guards_intact);
    EXPECT_TRUE(guards_intact);
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(r.cells[n + i], rows[i].changed ? ~0u : 0u) << "row " << i;
        EXPECT_EQ(r.cells[i], 0u) << "alpha, row " << i;
    }
}

// The executor's picture against the reference's, both made from `before`: a byte the kernel wrote may be 1 off
// (a level between the two that a device may give), every other byte must be as it was.
void expect_close(const Picture &got, const Picture &want, const Picture &before) {
    for (size_t i = 0; i < want.bytes.size(); ++i) {
        if (got.bytes[i] == want.bytes[i]) continue;
        ASSERT_TRUE(want.bytes[i] != before.bytes[i] && std::abs(got.bytes[i] - want.bytes[i]) == 1) << "byte " << i;
    }
}

// sdrFromHdrCS: random lists of cells (one twice, some outside the frame) into pictures of random bytes.
TEST(SdrFromHdrKernel, ListedCellsMatchTheReferenceAndNothingElseChanges) {
    const struct {
        uint32_t width, height;
        float white;
        bool bgra;
    } rows[] = {{100, 70, 200, true}, {100, 70, 80, false},   {33, 31, 480, true},
                {1, 1, 203, false},   {1000, 300, 200, true}, {545, 97, 120, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
        std::mt19937 rng(row.width + row.height);
        const HalfFrame frame = random_half_frame(row.width, row.height, row.width, row.white);
        std::vector<uint32_t> cells = {0, 0};
        for (uint32_t cy = 0; cy <= corvo::ceil_div(row.height, 32); ++cy)
            for (uint32_t cx = 0; cx <= corvo::ceil_div(row.width, 32); ++cx)
                if (rng() % 2 && cx + cy > 0) cells.push_back(corvo::sdr_cell_entry(cx, cy));
        std::shuffle(cells.begin(), cells.end(), rng);
        Picture before(row.bgra, row.width, row.height, 0);
        for (auto &byte : before.bytes) byte = uint8_t(rng());
        Picture want = before, got = before;
        reference_sdr(frame, cells, row.white, want);
        executor_sdr(frame, cells, row.white, got);
        expect_close(got, want, before);
        EXPECT_NE(got.bytes, before.bytes);
    }
    // A list longer than a row of groups: groups (0, 0) and (0, 1) convert entries 0 and 32768.
    const HalfFrame frame = random_half_frame(64, 32, 7, 200);
    std::vector<uint32_t> cells(corvo::kSdrListRow + 1, corvo::sdr_cell_entry(5, 5));
    cells[0] = corvo::sdr_cell_entry(0, 0);
    cells.back() = corvo::sdr_cell_entry(1, 0);
    const Picture before(true, 64, 32, 0x5a);
    Picture want = before, got = before;
    reference_sdr(frame, {cells.front(), cells.back()}, 200, want);
    executor_sdr(frame, cells, 200, got, 1);
    expect_close(got, want, before);
}

// The conversion maths: half-float bit patterns, scRGB through the kernel at an SDR white, and the round trip of
// every 8-bit level through an HDR display's FP16 frame.
TEST(ConversionMaths, HalvesSdrPixelsAndTheRoundTripOfEveryLevel) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const std::pair<uint16_t, float> halves[] = {
        {0x3c00, 1.0f},        {0xc000, -2.0f},    {0x3800, 0.5f},     {0x4100, 2.5f},       {0x4a40, 12.5f},
        {0x3555, 0.33325195f}, {0x7bff, 65504.0f}, {0x0400, 0x1p-14f}, {0x03ff, 0x3ffp-24f}, {0x0001, 0x1p-24f},
        {0x8000, -0.0f},       {0x7c00, inf},      {0xfc00, -inf}};
    for (const auto &[half, value] : halves) {
        EXPECT_EQ(std::bit_cast<uint32_t>(corvo::emu::half_to_float(half)), std::bit_cast<uint32_t>(value)) << half;
        EXPECT_EQ(half_from_float(value), half) << value;
    }
    EXPECT_TRUE(std::isnan(corvo::emu::half_to_float(0x7e00)));
    EXPECT_EQ(half_from_float(nan) & 0x7e00, 0x7e00);
    const std::pair<float, uint16_t> ties[] = {{1.0f + 0x1p-11f, 0x3c00}, {1.0f + 3 * 0x1p-11f, 0x3c02},
                                               {65519.0f, 0x7bff},        {65520.0f, 0x7c00},
                                               {0x1p-25f, 0x0000},        {std::nextafter(0x1p-25f, 1.0f), 0x0001}};
    for (const auto &[value, half] : ties) EXPECT_EQ(half_from_float(value), half) << value;

    // scRGB (R, G, B, A) at a white in nits, and the levels R, G, B, A. A coloured highlight keeps its hue rather
    // than clipping per channel to (255, 255, 188); a grey above SDR white is white; +inf is the largest half.
    const struct {
        float e[4], white;
        uint8_t levels[4];
    } pixels[] = {{{12.5f, 5, 1.25f, 1}, 200, {255, 170, 89, 255}},
                  {{5, 5, 5, 2}, 200, {255, 255, 255, 255}},
                  {{1, 0.5f, 0.25f, 0.5f}, 80, {255, 188, 137, 128}},
                  {{2.5f, 1.25f, 0x1p-6f, 0.25f}, 200, {255, 188, 18, 64}},
                  {{0x1p-7f, 0x1p-9f, -3, -1}, 200, {10, 3, 0, 0}},
                  {{inf, 1, 0.5f, inf}, 480, {255, 0, 0, 255}},
                  {{nan, -inf, 0x1p-24f, nan}, 80, {0, 0, 0, 0}},
                  {{0x1p-5f, 12, 3, 0}, 480, {9, 255, 137, 0}},
                  {{0.1875f, 0.1875f, 0.1875f, 1}, 80, {120, 120, 120, 255}}};
    for (const auto &p : pixels) {
        HalfFrame frame(1, 1);
        for (int c = 0; c < 4; ++c) frame.rgba[size_t(c)] = half_from_float(p.e[c]);
        const std::array<uint8_t, 4> want = {p.levels[0], p.levels[1], p.levels[2], p.levels[3]};
        EXPECT_EQ(sdr_pixel(frame.rgba.data(), 80 / p.white), want) << p.e[0];
        Picture picture(false, 1, 1, 0x5a), expected = picture;
        std::copy_n(want.begin(), 4, expected.bytes.begin());
        executor_sdr(frame, {0}, p.white, picture);
        EXPECT_EQ(picture.bytes, expected.bytes) << p.e[0];
    }

    // Every level of each channel, sRGB-decoded, scaled to the white and made a half, comes back exactly: the maths
    // promise it and the executor keeps it (a device may be 1 off).
    for (const float white : {80.0f, 200.0f, 480.0f}) {
        HalfFrame frame(256, 1);
        std::vector<uint8_t> levels;
        for (uint32_t v = 0; v < 256; ++v)
            levels.insert(levels.end(), {uint8_t(v), uint8_t(255 - v), uint8_t(v * 7), 255});
        for (size_t i = 0; i < levels.size(); ++i)
            frame.rgba[i] = i % 4 == 3 ? 0x3c00 : half_from_float(float(srgb_decode(levels[i]) * white / 80));
        std::vector<uint32_t> cells;
        for (uint32_t cx = 0; cx < 8; ++cx) cells.push_back(corvo::sdr_cell_entry(cx, 0));
        Picture picture(false, 256, 1, 0);
        executor_sdr(frame, cells, white, picture);
        EXPECT_TRUE(std::equal(levels.begin(), levels.end(), picture.bytes.begin())) << "white " << white;
    }
}

}  // namespace
