// The time of week: day 1..7 from Monday and half-hour 0..47, 336 half hours a week. Every time of
// week of the program (the main loop's current one, a parked aircraft's, an option's) is one of these,
// and all arithmetic on them wraps around the week, so that Sunday 23:30 is one half hour before
// Monday 00:00 and never "later".
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

namespace qmt {

// Aligned to its size so that its atomic is a plain eight-byte one with every compiler (clang
// calls the atomic library for an underaligned struct).
struct alignas(8) WeekTime {
    std::uint32_t day = 0;       // 1..7, 1 is Monday; 0 while not set
    std::uint32_t halfHour = 0;  // 0..47

    static constexpr int kHalfHoursPerDay = 48;
    static constexpr int kHalfHoursPerWeek = 336;

    // The time of a week index; any whole number counts modulo the week.
    static constexpr WeekTime fromIndex(std::int64_t INDEX)
    {
        std::int64_t i = INDEX % kHalfHoursPerWeek;
        if (i < 0)
            i += kHalfHoursPerWeek;
        return WeekTime{static_cast<std::uint32_t>(i / kHalfHoursPerDay + 1),
                        static_cast<std::uint32_t>(i % kHalfHoursPerDay)};
    }
    constexpr bool isSet() const { return day >= 1 && day <= 7 && halfHour < kHalfHoursPerDay; }
    // (day - 1) x 48 + half-hour: 0..335.
    constexpr int index() const
    {
        return static_cast<int>(day - 1) * kHalfHoursPerDay + static_cast<int>(halfHour);
    }
    constexpr WeekTime minus(int HALF_HOURS) const { return fromIndex(index() - static_cast<std::int64_t>(HALF_HOURS)); }
    constexpr WeekTime next() const { return fromIndex(index() + 1); }
    // The day before and after this one (1 follows 7).
    constexpr std::uint32_t previousDay() const { return day <= 1 ? 7u : day - 1; }
    constexpr std::uint32_t nextDay() const { return day >= 7 ? 1u : day + 1; }
    // Half hours from this time to NOW, 0..335: a time is never "after" now, only young or old.
    // None when either time is unset: an unset day would give ages beyond the week.
    constexpr std::optional<int> ageAt(WeekTime NOW) const
    {
        if (!isSet() || !NOW.isSet())
            return std::nullopt;
        return NOW - *this;
    }

    // Half hours from EARLIER to LATER going forward through the week, 0..335.
    friend constexpr int operator-(WeekTime LATER, WeekTime EARLIER)
    {
        int d = LATER.index() - EARLIER.index();
        if (d < 0)
            d += kHalfHoursPerWeek;
        return d;
    }
    constexpr bool operator==(const WeekTime&) const = default;
};
// Two 32-bit halves, day first: it fits one atomic word.
static_assert(sizeof(WeekTime) == 8);

// The current time of week, kept up to date by the main loop from the (shifted) current time;
// any thread may read it.
extern std::atomic<WeekTime> g_weekTime;
static_assert(std::atomic<WeekTime>::is_always_lock_free);
// Sets g_weekTime from the current (shifted) time.
void gf_updateWeekTime();

// The time of week of a point in time (seconds since the Unix epoch, UTC).
WeekTime gf_weekTimeOf(std::int64_t UNIX_SECONDS);

}  // namespace qmt
