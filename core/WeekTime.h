// The time of week (day 1..7 from Monday, half-hour 0..47), kept up to date by the main loop from the
// (shifted) current time.
#pragma once

#include <atomic>
#include <cstdint>

namespace qmt {

// Day of the week 1..7 (1 is Monday) in the low 32 bits, half-hour 0..47 in the high 32 bits.
extern std::atomic<std::uint64_t> g_weekTime;

constexpr std::uint64_t gf_packWeekTime(std::uint32_t DAY, std::uint32_t HALF_HOUR)
{
    return static_cast<std::uint64_t>(DAY) | (static_cast<std::uint64_t>(HALF_HOUR) << 32);
}
constexpr std::uint32_t gf_weekDay(std::uint64_t WEEK_TIME)
{
    return static_cast<std::uint32_t>(WEEK_TIME & 0xFFFFFFFFu);
}
constexpr std::uint32_t gf_weekHalfHour(std::uint64_t WEEK_TIME)
{
    return static_cast<std::uint32_t>(WEEK_TIME >> 32);
}
// The week time of a point in time (seconds since the Unix epoch, UTC).
std::uint64_t gf_weekTimeOf(std::int64_t UNIX_SECONDS);

}  // namespace qmt
