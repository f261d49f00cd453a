#include "core/Clock.h"

#include <atomic>
#include <charconv>
#include <ctime>

#include <fmt/format.h>

#include "core/LoopClock.h"
#include "core/Text.h"

namespace qmt {
namespace {

std::atomic<bool> g_testClockOn{false};
std::atomic<std::int64_t> g_testClockNs{0};      // test clock, nanoseconds since 1970
std::atomic<std::int64_t> g_timeShiftSeconds{0}; // the user's time shift

constexpr std::string_view DAY_NAMES[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::string_view WDAY_NAMES[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::string_view MONTH_NAMES[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::tm lf_utc(std::int64_t seconds)
{
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tmv{};
    gmtime_r(&t, &tmv);
    return tmv;
}

std::optional<int> lf_slot(std::string_view text)
{
    const std::string t = gf_trim(text);
    if (t.empty()) return std::nullopt;
    int v = 0;
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || ptr != t.data() + t.size()) return std::nullopt;
    if (v < 0 || v >= WeekTime::kHalfHoursPerDay) return std::nullopt;
    return v;
}

std::string lf_runText(int first, int last)
{
    return first == last ? fmt::format("{}", first) : fmt::format("{}:{}", first, last);
}

} // namespace

TimePoint gf_unshiftedNow()
{
    if (g_testClockOn.load(std::memory_order_acquire))
        return TimePoint(std::chrono::duration_cast<SysClock::duration>(std::chrono::nanoseconds(g_testClockNs.load())));
    if (gf_virtualTimeOn())
        return gf_virtualWallNow();
    return SysClock::now();
}

TimePoint gf_now() { return gf_unshiftedNow() + std::chrono::seconds(g_timeShiftSeconds.load()); }

std::int64_t gf_nowSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(gf_now().time_since_epoch()).count();
}

void gf_setTimeShift(std::chrono::seconds shift) { g_timeShiftSeconds.store(shift.count()); }
std::chrono::seconds gf_timeShift() { return std::chrono::seconds(g_timeShiftSeconds.load()); }
bool gf_timeShiftOn() { return g_timeShiftSeconds.load() != 0; }

void gf_setClockForTests(TimePoint now)
{
    g_testClockNs.store(std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count());
    g_testClockOn.store(true, std::memory_order_release);
}

void gf_advanceClockForTests(std::chrono::milliseconds step)
{
    if (!g_testClockOn.load()) gf_setClockForTests(SysClock::now());
    g_testClockNs.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(step).count());
}

void gf_resetClockForTests()
{
    g_testClockOn.store(false);
    g_testClockNs.store(0);
    g_timeShiftSeconds.store(0);
}

std::string gf_timeText(std::int64_t secondsSince1970)
{
    const std::tm t = lf_utc(secondsSince1970);
    return fmt::format("{:3} {:3} {:02} {:02}:{:02}:{:02} {:4}", WDAY_NAMES[t.tm_wday % 7], MONTH_NAMES[t.tm_mon % 12],
                       t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
}

std::string gf_shiftedTimeText() { return gf_timeText(gf_nowSeconds()); }

std::string gf_fileTimeStamp(std::int64_t secondsSince1970)
{
    const std::tm t = lf_utc(secondsSince1970);
    return fmt::format("{:04}{:02}{:02}-{:02}{:02}{:02}", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                       t.tm_sec);
}

WeekTime gf_weekTimeOf(TimePoint tp)
{
    return gf_weekTimeOf(static_cast<std::int64_t>(
        std::chrono::floor<std::chrono::seconds>(tp.time_since_epoch()).count()));
}

WeekTime gf_weekTimeNow() { return gf_weekTimeOf(gf_now()); }

void gf_updateWeekTime() { g_weekTime = gf_weekTimeNow(); }

int gf_halfHourSlot() { return static_cast<int>(gf_weekTimeNow().halfHour); }

std::string_view gf_dayName(std::uint32_t day) { return day >= 1 && day <= 7 ? DAY_NAMES[day - 1] : "???"; }

HoursBitset gf_hours2bitset(std::string_view text)
{
    HoursBitset bits;
    for (const auto& item : gf_splitTrim(text, ',')) {
        const auto colon = item.find(':');
        if (colon == std::string::npos) {
            if (const auto s = lf_slot(item)) bits.set(static_cast<std::size_t>(*s));
            continue;
        }
        const auto a = lf_slot(std::string_view(item).substr(0, colon));
        const auto b = lf_slot(std::string_view(item).substr(colon + 1));
        if (!a || !b || *a > *b) continue; // malformed or reversed range: dropped
        for (int s = *a; s <= *b; ++s) bits.set(static_cast<std::size_t>(s));
    }
    return bits;
}

std::optional<std::string> gf_rangeText(const HoursBitset& bits)
{
    if (bits.none()) return std::nullopt;
    int first = -1, last = -1;
    for (int s = 0; s < WeekTime::kHalfHoursPerDay; ++s) {
        if (!bits.test(static_cast<std::size_t>(s))) continue;
        if (first < 0) first = s;
        else if (last != s - 1) return std::nullopt; // a second run
        last = s;
    }
    return lf_runText(first, last);
}

std::optional<std::string> gf_bitsetText(const HoursBitset& bits)
{
    if (bits.none()) return std::nullopt;
    std::string out;
    int s = 0;
    while (s < WeekTime::kHalfHoursPerDay) {
        if (!bits.test(static_cast<std::size_t>(s))) {
            ++s;
            continue;
        }
        int e = s;
        while (e + 1 < WeekTime::kHalfHoursPerDay && bits.test(static_cast<std::size_t>(e + 1))) ++e;
        if (!out.empty()) out += ',';
        out += lf_runText(s, e);
        s = e + 1;
    }
    return out;
}

} // namespace qmt
