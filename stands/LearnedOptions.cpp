#include "stands/LearnedOptions.h"

#include "core/Log.h"
#include "core/RefData.h"
#include "records/AcRecords.h"
#include "stands/ApfSettings.h"

#include <algorithm>
#include <exception>
#include <optional>

namespace qmt {

namespace {

bool lf_covers(const StandOption& OPTION, WeekTime TIME)
{
    return OPTION.day == TIME.day && TIME.halfHour < WeekTime::kHalfHoursPerDay && OPTION.hours.test(TIME.halfHour);
}

// Half-hours a stay may go unseen and still be one stay: cargo aircraft and heavies stand longer.
int lf_stayWindow(const AcProfile& AC)
{
    if (AC.kind.cargo != 0) {
        return 12;
    }
    return AC.category == static_cast<uint32_t>(AcCategory::Heavy) ? 8 : 6;
}

// Ghost callsigns and registrations carry one trailing '_'.
std::string lf_withoutGhostMark(std::string_view TEXT)
{
    if (!TEXT.empty() && TEXT.back() == '_') {
        TEXT.remove_suffix(1);
    }
    return std::string(TEXT);
}

// An option this registration learned (SOURCE 0) or the airport file holds for it (SOURCE 1).
// Its id does not matter: a calculation switches off the option of an aircraft that is on its way
// in, and the stay it then makes is still this option's.
bool lf_observedOption(const StandOption& OPTION, uint32_t DAY, const std::string& REGISTRATION, uint32_t SOURCE)
{
    return OPTION.day == DAY && OPTION.registration == REGISTRATION && OPTION.real == 1 && OPTION.source == SOURCE;
}

// The highest slot of the option at or before LIMIT; -1 when it has none there.
int lf_lastSlotUpTo(const StandOption& OPTION, uint32_t LIMIT)
{
    for (int h = static_cast<int>(std::min<uint32_t>(LIMIT, WeekTime::kHalfHoursPerDay - 1)); h >= 0; --h) {
        if (OPTION.hours.test(static_cast<size_t>(h))) {
            return h;
        }
    }
    return -1;
}

// The option a stay goes on in and the last half-hour it was seen there.
struct StayOption {
    size_t index = 0;
    uint32_t lastSlot = 0;
};

// The learned option of the registration on DAY that the stay seen now goes on in: one that
// covers NOW, else the one whose last slot at or before LIMIT is youngest. (An earlier stay of the
// day, or one of an earlier week later in the day, can never be extended: taking it would make
// every half-hour of this stay an option of its own.)
std::optional<StayOption> lf_stayOption(const Stand& STAND, uint32_t DAY, const std::string& REGISTRATION,
                                        uint32_t LIMIT, WeekTime NOW)
{
    std::optional<StayOption> youngest;
    for (size_t i = 0; i < STAND.options.size(); ++i) {
        const StandOption& opt = STAND.options[i];
        if (!lf_observedOption(opt, DAY, REGISTRATION, 0)) {
            continue;
        }
        if (lf_covers(opt, NOW)) {
            return StayOption{i, NOW.halfHour};
        }
        const int last = lf_lastSlotUpTo(opt, LIMIT);
        if (last >= 0 && (!youngest || static_cast<uint32_t>(last) > youngest->lastSlot)) {
            youngest = StayOption{i, static_cast<uint32_t>(last)};
        }
    }
    return youngest;
}

StandOption* lf_optionById(Stand& STAND, uint32_t OPTION_ID)
{
    if (OPTION_ID == 0) {
        return nullptr;
    }
    for (StandOption& opt : STAND.options) {
        if (opt.optionId == OPTION_ID) {
            return &opt;
        }
    }
    return nullptr;
}

// A callsign recorded on the option: the callsign when it has none, else the further name.
void lf_nameOption(StandOption& OPTION, std::string_view NAME)
{
    const std::string name = lf_withoutGhostMark(NAME);
    if (name.empty()) {
        return;
    }
    if (OPTION.callsign.empty()) {
        OPTION.callsign = name;
    } else if (name != OPTION.callsign && name != OPTION.furtherName) {
        OPTION.furtherName = name;
    }
}

bool lf_setHalfHours(StandOption& OPTION, const std::vector<uint32_t>& HALF_HOURS)
{
    try {
        for (const uint32_t h : HALF_HOURS) {
            OPTION.hours.set(h);
        }
    } catch (const std::exception& e) {
        gf_logWarning("{} exception:{}", "updateOptions", e.what());
        return false;
    }
    return true;
}

// The list runs newest first across midnight: its oldest end belongs to the day before, up to 47;
// the newest half-hour is already in the new option.
bool lf_setHalfHoursWrapped(StandOption& EARLIER, StandOption& NEWER, const std::vector<uint32_t>& HALF_HOURS)
{
    try {
        size_t rest = HALF_HOURS.size();
        if (!HALF_HOURS.empty() && HALF_HOURS.back() != 0) {
            while (rest > 0) {
                const uint32_t h = HALF_HOURS[--rest];
                EARLIER.hours.set(h);
                if (h == WeekTime::kHalfHoursPerDay - 1) {
                    break;
                }
            }
        }
        for (size_t i = rest; i-- > 1;) {
            NEWER.hours.set(HALF_HOURS[i]);
        }
    } catch (const std::exception& e) {
        gf_logWarning("{} exception:{}", "updateOptionsWrapped", e.what());
        return false;
    }
    return true;
}

void lf_newStandOption(Stand& STAND, const LiveAc& AC, WeekTime NOW, const std::string& REGISTRATION, uint8_t CPL)
{
    AddedOption added;
    lf_addStandOption(STAND, added, AC.kind, NOW, AC.callsign, REGISTRATION, CPL);
}

} // namespace

void lf_addRealStandOption(int32_t STAND_ID, LiveAc& AC, int32_t EVENT)
{
    const WeekTime now = g_weekTime.load();
    // Before the main loop has a time of week there is no day to learn for.
    if (!now.isSet()) {
        return;
    }
    try {
        const std::string registration = lf_withoutGhostMark(AC.registration);
        if (registration.empty()) {
            return;
        }
        const std::optional<AcKind> kind = gf_findRegRecord(registration);
        if (!kind) {
            return;
        }
        AC.kind = *kind;
        Stand* stand = gf_standById(STAND_ID);
        if (stand == nullptr) {
            return;
        }
        // The airport file knows this aircraft here at other times of today: not ours to learn.
        for (const StandOption& opt : stand->options) {
            if (lf_observedOption(opt, now.day, registration, 1) && !lf_covers(opt, now)) {
                return;
            }
        }
        const uint8_t cpl = EVENT == kStandEventLeaving || EVENT == kStandEventGone ? 1 : 0;
        std::optional<StayOption> found = lf_stayOption(*stand, now.day, registration, now.halfHour, now);
        // A stay that began before midnight goes on in yesterday's option.
        if (!found && static_cast<int>(now.halfHour) < lf_stayWindow(AC)) {
            found = lf_stayOption(*stand, now.previousDay(), registration, WeekTime::kHalfHoursPerDay - 1, now);
        }
        if (!found) {
            lf_newStandOption(*stand, AC, now, registration, cpl);
            return;
        }
        StandOption& opt = stand->options[found->index];
        if (lf_covers(opt, now)) {
            opt.cpl = opt.cpl != 0 || cpl != 0 ? 1 : 0;
            return;
        }
        if (opt.cpl != 0) {
            lf_newStandOption(*stand, AC, now, registration, cpl);
            return;
        }
        size_t index = found->index;
        WeekTime lastSeen{opt.day, found->lastSlot};
        // The call may append to the options: no reference into them survives it.
        if (lf_standOptionSlots(now, *stand, index, lastSeen, AC, registration, cpl)) {
            gf_countLearnedUpdate();
        } else {
            lf_newStandOption(*stand, AC, now, registration, cpl);
        }
        if (cpl != 0) {
            stand->options[found->index].cpl = 1;
        }
    } catch (const std::exception& e) {
        gf_logWarning("{}: hh_now: {}, {}", "lf_addRealStandOption", now.halfHour, e.what());
    }
}

bool lf_standOptionSlots(WeekTime NOW, Stand& STAND, size_t& OPTION_INDEX, WeekTime& LAST, const LiveAc& AC,
                         const std::string& REGISTRATION, uint8_t CPL)
{
    if (OPTION_INDEX >= STAND.options.size() || LAST == NOW) {
        return true;
    }
    const int gap = NOW - LAST;
    if (gap < 1 || gap >= lf_stayWindow(AC)) {
        return false;
    }
    if (LAST.day == NOW.day) {
        StandOption& opt = STAND.options[OPTION_INDEX];
        if (lf_setHalfHours(opt, lf_precedingSlots(NOW, gap))) {
            lf_nameOption(opt, AC.callsign);
        }
        LAST = NOW;
        return true;
    }
    // The stay crossed midnight: today's part goes into an option of its own.
    AddedOption added;
    lf_addStandOption(STAND, added, AC.kind, NOW, AC.callsign, REGISTRATION, CPL);
    if (added.added == 0) {
        return false;
    }
    const size_t newIndex = STAND.options.size() - 1;
    StandOption& earlier = STAND.options[OPTION_INDEX];
    StandOption& newer = STAND.options[newIndex];
    lf_setHalfHoursWrapped(earlier, newer, lf_precedingSlots(NOW, gap));
    lf_nameOption(earlier, AC.callsign);
    lf_nameOption(newer, AC.callsign);
    LAST = NOW;
    OPTION_INDEX = newIndex;
    return true;
}

void lf_addStandOption(Stand& STAND, AddedOption& OUT, AcKind KIND, WeekTime NOW, std::string_view CALLSIGN,
                       const std::string& REGISTRATION, uint8_t CPL)
{
    OUT = AddedOption{};
    if (REGISTRATION.empty()) {
        return;
    }
    HoursBitset hours;
    hours.set(NOW.halfHour);
    if (const std::optional<AcKind> known = gf_findRegRecord(REGISTRATION)) {
        KIND = *known;
    }
    for (const StandOption& opt : STAND.options) {
        if (opt.registration == REGISTRATION && opt.day == NOW.day && opt.hours == hours) {
            return;
        }
    }
    StandOption opt;
    opt.kind = KIND;
    opt.registration = REGISTRATION;
    opt.callsign = lf_withoutGhostMark(CALLSIGN);
    opt.hours = hours;
    opt.optionId = static_cast<uint32_t>(STAND.options.size() + 1);
    opt.day = NOW.day;
    opt.source = 0;
    opt.real = 1;
    opt.cpl = CPL;
    STAND.options.push_back(std::move(opt));
    gf_countLearnedUpdate();
    OUT = AddedOption{STAND.options.back().optionId, 1};
}

void lf_addStandOptionName(Stand& STAND, uint32_t OPTION_ID, std::string_view NAME)
{
    if (StandOption* opt = lf_optionById(STAND, OPTION_ID)) {
        lf_nameOption(*opt, NAME);
    }
}

bool updateOptions(Stand& STAND, const std::vector<uint32_t>& HALF_HOURS, uint32_t OPTION_ID)
{
    StandOption* opt = lf_optionById(STAND, OPTION_ID);
    return opt != nullptr && lf_setHalfHours(*opt, HALF_HOURS);
}

bool updateOptionsWrapped(Stand& STAND, const std::vector<uint32_t>& HALF_HOURS, uint32_t EARLIER_ID,
                          uint32_t NEW_ID)
{
    StandOption* earlier = lf_optionById(STAND, EARLIER_ID);
    StandOption* newer = lf_optionById(STAND, NEW_ID);
    return earlier != nullptr && newer != nullptr && lf_setHalfHoursWrapped(*earlier, *newer, HALF_HOURS);
}

std::vector<uint32_t> lf_precedingSlots(WeekTime NOW, int COUNT)
{
    std::vector<uint32_t> slots;
    slots.reserve(static_cast<size_t>(std::max(COUNT, 0)));
    for (int k = 0; k < COUNT; ++k) {
        slots.push_back(NOW.minus(k).halfHour);
    }
    return slots;
}

void gf_findLearnedStand(WeekTime NOW, LiveAc& AC)
{
    const int reach = AC.category == static_cast<uint32_t>(AcCategory::Heavy) ? 14 : 10;
    const int hh = static_cast<int>(NOW.halfHour);
    HoursBitset window;
    for (int h = std::max(hh - reach, 0); h <= std::min(hh + reach, WeekTime::kHalfHoursPerDay - 1); ++h) {
        window.set(static_cast<size_t>(h));
    }
    const std::string callsign = lf_withoutGhostMark(AC.callsign);
    if (callsign.empty()) {
        return;
    }
    const auto named = [&](const std::string& NAME) { return NAME == callsign || NAME == AC.callsign; };
    for (const Stand& stand : g_stands) {
        for (const StandOption& opt : stand.options) {
            if (opt.optionId != 0 && opt.day == NOW.day && opt.kind.airlineId == AC.kind.airlineId &&
                !opt.furtherName.empty() && (opt.hours & window).any() &&
                (named(opt.callsign) || named(opt.furtherName))) {
                AC.callsignCopy = opt.callsign;
                AC.extraText = opt.furtherName;
                return;
            }
        }
    }
}

} // namespace qmt
