#include <gtest/gtest.h>

#include <random>

#include "kernel_reference.h"

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

}  // namespace
