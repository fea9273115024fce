#include "session/frame_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "session/log_sink.h"
#include "corvo_emu.h"
#include "log_capture.h"
#include "session/row_copy.h"

namespace {

using corvo::ensure_frame_buffer;

constexpr int32_t kOutOfMemory = static_cast<int32_t>(0x8007000E);

class FrameBufferSizing : public ::testing::Test {
protected:
    void SetUp() override { corvo_emu_reset(); }
    void TearDown() override { corvo_emu_reset(); }

    bool ensure(uint32_t width, uint32_t height) { return ensure_frame_buffer(buffer, capacity, width, height); }
    // Starts from a buffer of the given capacity, as an earlier growth would have left it.
    void start_with(uint64_t bytes) {
        buffer.reset(corvo::platform::allocate_frame_buffer(bytes));
        capacity = bytes;
    }
    bool all_zero() const {
        return std::all_of(buffer.get(), buffer.get() + capacity, [](uint8_t b) { return b == 0; });
    }

    LogCapture log;
    corvo::platform::FrameBuffer buffer;
    uint64_t capacity = 0;
};

TEST_F(FrameBufferSizing, FirstAllocationIsExactThenGrowsByTierAndNeverShrinks) {
    ASSERT_TRUE(ensure(1920, 1080));
    EXPECT_EQ(capacity, 8294400u);
    std::memset(buffer.get(), 0xAB, capacity);

    ASSERT_TRUE(ensure(1921, 1080));
    EXPECT_EQ(capacity, 14745600u);
    EXPECT_TRUE(all_zero());

    const uint8_t *grown = buffer.get();
    const uint64_t allocations = corvo_emu_count("allocate");
    ASSERT_TRUE(ensure(800, 600));
    EXPECT_EQ(buffer.get(), grown);
    EXPECT_EQ(capacity, 14745600u);
    EXPECT_EQ(corvo_emu_count("allocate"), allocations);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(FrameBufferSizing, NeedEqualToATierTakesTheNextTier) {
    start_with(5000000);
    ASSERT_TRUE(ensure(1920, 1080));  // 8294400 bytes
    EXPECT_EQ(capacity, 14745600u);
    EXPECT_TRUE(all_zero());
}

TEST_F(FrameBufferSizing, NeedBeyondTheLastTierIsAllocatedExactly) {
    start_with(5000000);
    ASSERT_TRUE(ensure(5000, 2000));  // 40000000 bytes
    EXPECT_EQ(capacity, 40000000u);
}

TEST_F(FrameBufferSizing, FailedFirstAllocationLogsTheNeed) {
    corvo_emu_fail("allocate", kOutOfMemory, 0, 1);
    EXPECT_FALSE(ensure(1920, 1080));
    EXPECT_FALSE(buffer);
    EXPECT_EQ(capacity, 0u);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{corvo::kLogError, "Failed to allocate 8100KB", 25}}));

    ASSERT_TRUE(ensure(1920, 1080));  // the next frame tries again
    EXPECT_EQ(capacity, 8294400u);
}

TEST_F(FrameBufferSizing, FailedGrowthLeavesNoBufferAndLogsTheTierItAskedFor) {
    ASSERT_TRUE(ensure(1920, 1080));
    corvo_emu_fail("allocate", kOutOfMemory, 0, 1);
    EXPECT_FALSE(ensure(1921, 1080));
    EXPECT_FALSE(buffer);
    EXPECT_EQ(capacity, 0u);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{corvo::kLogError, "Failed to allocate 14400KB", 26}}));
}

TEST_F(FrameBufferSizing, NeedIsNotWrappedTo32Bits) {
    // 40000 x 30000 x 4 = 4800000000 bytes; in 32 bits it would wrap to 505032704 (493196KB).
    corvo_emu_fail("allocate", kOutOfMemory, 0, 1);
    EXPECT_FALSE(ensure(40000, 30000));
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Failed to allocate 4687500KB"});

    // 32768 x 32769 x 4 wraps to 524288 bytes, which the grown buffer would seem to hold.
    start_with(14745600);
    corvo_emu_fail("allocate", kOutOfMemory, 0, 1);
    EXPECT_FALSE(ensure(32768, 32769));
    EXPECT_FALSE(buffer);
    EXPECT_EQ(capacity, 0u);
}

TEST_F(FrameBufferSizing, NeedBeyondAnyObjectIsRefusedWithoutAllocating) {
    EXPECT_FALSE(ensure(UINT32_MAX, UINT32_MAX));
    EXPECT_FALSE(buffer);
    EXPECT_EQ(corvo_emu_count("allocate"), 0u);
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Failed to allocate 4294967295KB"});
}

TEST(RowCopy, DropsThePaddingOfEachRow) {
    const uint32_t width = 3, height = 4, pitch = 16;  // 12 bytes of pixels and 4 of padding per row
    std::vector<uint8_t> src(pitch * height);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> dst(width * 4 * height + 1, 0xEE);
    corvo::copy_rows(dst.data(), src.data(), pitch, width, height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width * 4; ++x) EXPECT_EQ(dst[y * width * 4 + x], src[y * pitch + x]);
    EXPECT_EQ(dst.back(), 0xEE);  // nothing written past the last row
}

TEST(RowCopy, UnpaddedRowsAreCopiedWhole) {
    const uint32_t width = 3, height = 4;
    std::vector<uint8_t> src(width * 4 * height);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i + 1);
    std::vector<uint8_t> dst(src.size() + 1, 0xEE);
    corvo::copy_rows(dst.data(), src.data(), width * 4, width, height);
    EXPECT_EQ(std::vector<uint8_t>(dst.begin(), dst.end() - 1), src);
    EXPECT_EQ(dst.back(), 0xEE);
}

}  // namespace
