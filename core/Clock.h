#pragma once
// Time: gf_now with the user's time shift, a clock tests can set, time texts, half-hour slots
// of the week and the HoursBitset helpers.

#include <bitset>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/WeekTime.h"

namespace qmt {

using SysClock = std::chrono::system_clock;
using TimePoint = SysClock::time_point;

// The current time, shifted while the time shift is on.
TimePoint gf_now();
// The current time without the shift (the system clock, or the test clock when set).
TimePoint gf_unshiftedNow();
// Seconds since 1970 of gf_now().
std::int64_t gf_nowSeconds();

// Time shift (0: off). Any thread.
void gf_setTimeShift(std::chrono::seconds shift);
std::chrono::seconds gf_timeShift();
bool gf_timeShiftOn();

// Tests: the clock stands at this time until advanced or reset.
void gf_setClockForTests(TimePoint now);
void gf_advanceClockForTests(std::chrono::milliseconds step);
// Back to the system clock and no time shift.
void gf_resetClockForTests();

// "{:3} {:3} {:02} {:02}:{:02}:{:02} {:4}" in UTC ("Mon Dec 07 04:37:01 2026").
std::string gf_timeText(std::int64_t secondsSince1970);
// gf_timeText of gf_now().
std::string gf_shiftedTimeText();
// "YYYYMMDD-HHMMSS" in UTC, for file names ("20261207-043701").
std::string gf_fileTimeStamp(std::int64_t secondsSince1970);

// The time of week of a point in time, and of gf_now.
WeekTime gf_weekTimeOf(TimePoint t);
WeekTime gf_weekTimeNow();
// The current half-hour slot 0..47 of gf_now.
int gf_halfHourSlot();
// Three-letter day name, "???" outside 1..7.
std::string_view gf_dayName(std::uint32_t day);

// 48 half-hour slots of a day in the low bits of a 64-bit word.
using HoursBitset = std::bitset<WeekTime::kHalfHoursPerDay>;

// Slot text to bitset: comma-separated items, each a slot 0..47 or a range "a:b" of slots;
// out-of-range or malformed items are dropped; an empty text gives an empty set.
HoursBitset gf_hours2bitset(std::string_view text);
// "a:b" or "a" for one contiguous run; nothing for an empty set or several runs.
std::optional<std::string> gf_rangeText(const HoursBitset& bits);
// Comma-separated slots and ranges ("1,3:5"); nothing for an empty set.
std::optional<std::string> gf_bitsetText(const HoursBitset& bits);

} // namespace qmt
