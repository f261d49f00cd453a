#include "CoreTestSupport.h"
#include "core/Clock.h"
#include "core/LoopClock.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace qmt::test {
namespace {

using ClockTest = CoreTest;

// Monday 7 December 2026 04:17:01 UTC.
const TimePoint kMonday = SysClock::from_time_t(1796617021);

TEST_F(ClockTest, SettableClockAndTimeShift)
{
    gf_setClockForTests(kMonday);
    EXPECT_EQ(gf_now(), kMonday);
    gf_advanceClockForTests(std::chrono::minutes(30));
    EXPECT_EQ(gf_now(), kMonday + std::chrono::minutes(30));
    EXPECT_FALSE(gf_timeShiftOn());
    gf_setTimeShift(std::chrono::hours(-6));
    EXPECT_TRUE(gf_timeShiftOn());
    EXPECT_EQ(gf_now(), kMonday + std::chrono::minutes(30) - std::chrono::hours(6));
    EXPECT_EQ(gf_unshiftedNow(), kMonday + std::chrono::minutes(30));
    EXPECT_EQ(gf_shiftedTimeText(), "Sun Dec 06 22:47:01 2026");
    gf_resetClockForTests();
    EXPECT_FALSE(gf_timeShiftOn());
}

TEST_F(ClockTest, TimeTexts)
{
    EXPECT_EQ(gf_timeText(0), "Thu Jan 01 00:00:00 1970");
    EXPECT_EQ(gf_timeText(1796617021), "Mon Dec 07 04:17:01 2026");
    EXPECT_EQ(gf_timeText(1796617021).substr(11, 8), "04:17:01");
}

TEST_F(ClockTest, WeekTime)
{
    gf_setClockForTests(kMonday);
    EXPECT_EQ(gf_weekTimeNow().day, 1u);
    EXPECT_EQ(gf_halfHourSlot(), 8);
    gf_advanceClockForTests(std::chrono::minutes(13)); // 04:30:01
    EXPECT_EQ(gf_halfHourSlot(), 9);
    gf_setTimeShift(std::chrono::hours(-5)); // Sunday 23:30
    EXPECT_EQ(gf_weekTimeNow().day, 7u);
    EXPECT_EQ(gf_weekTimeNow().halfHour, 47u);
    EXPECT_EQ(gf_dayName(1), "Mon");
    EXPECT_EQ(gf_dayName(7), "Sun");
    EXPECT_EQ(gf_dayName(0), "???");
    EXPECT_EQ(gf_dayName(8), "???");
}

TEST_F(ClockTest, SlotTextsRoundTripIncludingMixedLists)
{
    EXPECT_TRUE(gf_hours2bitset("").none());
    EXPECT_EQ(gf_hours2bitset("3:5").to_ullong(), 0b111000u);
    EXPECT_EQ(gf_hours2bitset("0,2,47").count(), 3u);
    const HoursBitset mixed = gf_hours2bitset("1,3:5, 10 ,20:21");
    EXPECT_EQ(mixed.count(), 7u);
    EXPECT_EQ(gf_bitsetText(mixed), std::optional<std::string>("1,3:5,10,20:21"));
    // Every text the writer makes reads back to the same set.
    for (const char* text : {"0", "47", "0:47", "1,3:5", "0,2,4:6,46:47", "12:13,15"}) {
        const HoursBitset b = gf_hours2bitset(text);
        ASSERT_TRUE(gf_bitsetText(b).has_value()) << text;
        EXPECT_EQ(*gf_bitsetText(b), text);
        EXPECT_EQ(gf_hours2bitset(*gf_bitsetText(b)), b) << text;
    }
    EXPECT_FALSE(gf_bitsetText(HoursBitset()).has_value());
}

TEST_F(ClockTest, BadSlotItemsAreDroppedNotFatal)
{
    EXPECT_EQ(gf_hours2bitset("48").count(), 0u);
    EXPECT_EQ(gf_hours2bitset("-1,2").count(), 1u);
    EXPECT_EQ(gf_hours2bitset("40:60").count(), 0u);
    EXPECT_EQ(gf_hours2bitset("7:3").count(), 0u);
    EXPECT_EQ(gf_hours2bitset("a,b:c,:,1:,4x,5").count(), 1u);
    EXPECT_EQ(gf_hours2bitset("99999999999999999999,6").count(), 1u);
    EXPECT_EQ(gf_hours2bitset(",,,").count(), 0u);
}

TEST_F(ClockTest, RangeText)
{
    EXPECT_FALSE(gf_rangeText(HoursBitset()).has_value());
    EXPECT_EQ(gf_rangeText(gf_hours2bitset("7")), std::optional<std::string>("7"));
    EXPECT_EQ(gf_rangeText(gf_hours2bitset("7:12")), std::optional<std::string>("7:12"));
    EXPECT_FALSE(gf_rangeText(gf_hours2bitset("1,3")).has_value());
}

} // namespace
TEST_F(ClockTest, VirtualTimeStandsWhileAThreadWorksAndJumpsToTheNextWakeUpWhenAllSleep)
{
    using namespace std::chrono_literals;
    const TimePoint wallStart = SysClock::from_time_t(1796637600);
    gf_startVirtualTime(0.0, 1796637600.0);
    const LoopTime start = gf_loopNow();
    const auto sinceStart = [start] { return std::chrono::duration_cast<std::chrono::milliseconds>(gf_loopNow() - start); };
    std::vector<std::chrono::milliseconds> ticks;
    std::mutex mutex;
    std::condition_variable posted;
    bool message = false;
    std::chrono::milliseconds waiterWoke{0};
    LoopThread::announce();
    LoopThread::announce();
    std::thread ticker([&] {
        const LoopThread keepsTime;
        for (int i = 0; i < 5; ++i) {
            gf_loopSleepFor(10ms);
            ticks.push_back(sinceStart());
        }
        {
            std::lock_guard lock(mutex);
            message = true;
        }
        posted.notify_all();
        gf_loopWake();
    });
    std::thread waiter([&] {
        const LoopThread keepsTime;
        std::unique_lock lock(mutex);
        EXPECT_TRUE(gf_loopWaitFor(lock, posted, 10s, [&] { return message; }));
        waiterWoke = sinceStart();
    });
    ticker.join();
    waiter.join();
    // The waiter's ten seconds never came: it woke with the message, at the ticker's time.
    EXPECT_EQ(ticks, (std::vector<std::chrono::milliseconds>{10ms, 20ms, 30ms, 40ms, 50ms}));
    EXPECT_EQ(waiterWoke, 50ms);
    EXPECT_EQ(gf_unshiftedNow(), wallStart + 50ms);
    gf_useRealLoopClock();
    EXPECT_FALSE(gf_virtualTimeOn());
}

} // namespace qmt::test
