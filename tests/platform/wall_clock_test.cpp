#include "platform/wall_clock.h"

#include <ctime>
#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(WallClock, IsUtcMillisecondsSince1970) {
    const int64_t before = int64_t(std::time(nullptr));
    const int64_t now = WallClockMs();
    const int64_t after = int64_t(std::time(nullptr));
    EXPECT_GE(now / 1000, before);
    EXPECT_LE(now / 1000, after);
}

TEST(WallClock, FrameTimeUsesTheSameScaleWithoutOverflow) {
    EXPECT_EQ(FrameTimeMs(0xFFFFFFFFu, 999999u), int64_t(0xFFFFFFFFu) * 1000 + 999);
    EXPECT_EQ(FrameTimeMs(1700000000u, 1500u), 1700000000001LL);
}

} // namespace
} // namespace qm
