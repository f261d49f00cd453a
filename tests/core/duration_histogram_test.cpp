#include "core/DurationHistogram.h"

#include <gtest/gtest.h>

namespace qmt {
namespace {

using namespace std::chrono_literals;

TEST(DurationHistogramTest, PercentilesFallInTheirBucketsAcrossAllRanges)
{
    DurationHistogram h;
    EXPECT_EQ(h.percentile(0.5), 0us);
    // 98 short ones, one in the millisecond buckets, one beyond a second.
    for (int i = 0; i < 98; ++i)
        h.add(std::chrono::microseconds(10 + i % 2));
    h.add(7'400us);
    h.add(3s);
    EXPECT_EQ(h.count(), 100u);
    EXPECT_EQ(h.percentile(0.0), 10us);
    EXPECT_EQ(h.percentile(0.49), 10us);
    EXPECT_EQ(h.percentile(0.5), 11us);
    EXPECT_EQ(h.percentile(0.98), 11us);
    EXPECT_EQ(h.percentile(0.99), 7'000us);
    EXPECT_EQ(h.percentile(1.0), 1'000'000us);
    EXPECT_EQ(h.longest(), 3'000'000us);
    // A clock that went backwards counts as no delay.
    h.clear();
    h.add(-5us);
    EXPECT_EQ(h.percentile(1.0), 0us);
}

} // namespace
} // namespace qmt
