#include "core/WeekTime.h"

#include <gtest/gtest.h>

namespace qmt::test {
namespace {

TEST(WeekTimeTest, FromUtcSeconds)
{
    // 1970-01-01 00:00 was a Thursday.
    EXPECT_EQ(gf_weekTimeOf(0), (WeekTime{4, 0}));
    // 2026-12-07 is a Monday; 13:45 UTC is half-hour 27.
    EXPECT_EQ(gf_weekTimeOf(1796651100), (WeekTime{1, 27}));
    // Sunday 23:59:59 before it.
    EXPECT_EQ(gf_weekTimeOf(1796601599), (WeekTime{7, 47}));
    // Before the epoch: Wednesday 1969-12-31 23:30.
    EXPECT_EQ(gf_weekTimeOf(-1800), (WeekTime{3, 47}));
}

// Every step and difference goes around the week, whatever its size.
TEST(WeekTimeTest, ArithmeticWrapsAroundTheWeek)
{
    EXPECT_EQ((WeekTime{1, 1}).minus(3), (WeekTime{7, 46}));
    EXPECT_EQ((WeekTime{7, 47}).ageAt({1, 0}), 1);
    EXPECT_EQ((WeekTime{7, 47}).next(), (WeekTime{1, 0}));
    EXPECT_EQ((WeekTime{3, 10}).minus(0), (WeekTime{3, 10}));
    // More than a day back: the plain "add 48 once" would land on the wrong day.
    EXPECT_EQ((WeekTime{3, 10}).minus(100), (WeekTime{1, 6}));
    EXPECT_EQ((WeekTime{3, 10}).minus(336), (WeekTime{3, 10}));
    EXPECT_EQ((WeekTime{3, 10}).minus(-2), (WeekTime{3, 12}));
    EXPECT_EQ((WeekTime{1, 6}).ageAt({3, 10}), 100);
    EXPECT_EQ((WeekTime{3, 10}).ageAt({3, 10}), 0);
    // A time just after now is not "in the future" but almost a week old.
    EXPECT_EQ((WeekTime{3, 11}).ageAt({3, 10}), 335);
    // An unset time has no age, and nothing has an age at an unset now.
    EXPECT_EQ((WeekTime{}).ageAt({1, 0}), std::nullopt);
    EXPECT_EQ((WeekTime{1, 0}).ageAt({}), std::nullopt);
    EXPECT_EQ((WeekTime{2, 5}) - (WeekTime{7, 40}), 61);
    EXPECT_EQ((WeekTime{1, 0}).previousDay(), 7u);
    EXPECT_EQ((WeekTime{7, 0}).nextDay(), 1u);
    for (int i = -700; i < 700; i += 7) {
        const WeekTime t = WeekTime::fromIndex(i);
        ASSERT_TRUE(t.isSet());
        EXPECT_EQ(t.index(), ((i % 336) + 336) % 336);
    }
    EXPECT_FALSE(WeekTime{}.isSet());
}

} // namespace
} // namespace qmt::test
