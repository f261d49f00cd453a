#include "core/WeekTime.h"

namespace qmt {

std::atomic<WeekTime> g_weekTime{WeekTime{}};

WeekTime gf_weekTimeOf(std::int64_t UNIX_SECONDS)
{
    // 1970-01-01 was a Thursday (day 4 when Monday is 1).
    std::int64_t days = UNIX_SECONDS / 86400;
    std::int64_t secondOfDay = UNIX_SECONDS % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    std::int64_t weekday = (days + 3) % 7;
    if (weekday < 0)
        weekday += 7;
    return WeekTime{static_cast<std::uint32_t>(weekday + 1), static_cast<std::uint32_t>(secondOfDay / 1800)};
}

}  // namespace qmt
