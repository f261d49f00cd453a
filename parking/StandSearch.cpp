#include "parking/StandSearch.h"

#include "core/Geo.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Random.h"
#include "core/RefData.h"
#include "core/WeekTime.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "records/UserAircraft.h"
#include "stands/ApfSettings.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qmt {

namespace {

bool lf_covers(const StandOption& OPTION, uint32_t HALF_HOUR)
{
    return HALF_HOUR < 48 && OPTION.hours.test(HALF_HOUR);
}

// The option's aircraft is named by the option's callsign unless its stay ends now.
uint8_t lf_preferCallsign(const Stand& STAND, const StandOption& OPTION, WeekTime TARGET)
{
    if (OPTION.furtherName.empty()) {
        return 1;
    }
    if (TARGET.halfHour < 47) {
        return lf_covers(OPTION, TARGET.halfHour + 1) ? 1 : 0;
    }
    const uint32_t nextDay = TARGET.nextDay();
    for (const StandOption& other : STAND.options) {
        if (other.optionId >= 1 && other.day == nextDay && gf_sameKind(other.kind, OPTION.kind) &&
            lf_covers(other, 0)) {
            return 1;
        }
    }
    return 0;
}

bool lf_eqNonEmpty(const std::string& A, const std::string& B)
{
    return !A.empty() && A == B;
}

// Whether NAME (non-empty) is the option's callsign, further name or registration.
bool lf_namesOption(const std::string& NAME, const StandOption& OPTION, bool WITH_REGISTRATION)
{
    return lf_eqNonEmpty(OPTION.callsign, NAME) || lf_eqNonEmpty(OPTION.furtherName, NAME) ||
           (WITH_REGISTRATION && lf_eqNonEmpty(OPTION.registration, NAME));
}

bool lf_starredName(const std::string& CALLSIGN, const std::string& NAME)
{
    return !NAME.empty() && CALLSIGN == NAME + "*";
}

bool lf_optionForAircraft(const StandOption& OPTION, uint32_t DAY, const SimAc& AIRCRAFT)
{
    return OPTION.day == DAY && OPTION.registration == AIRCRAFT.registration && gf_sameKind(OPTION.kind, AIRCRAFT.kind);
}

} // namespace

void lf_markStandUsed(Stand& STAND)
{
    STAND.staticHere = 1;
    for (const uint32_t id : STAND.adjacent) {
        if (Stand* neighbour = gf_standById(id)) {
            neighbour->blocked = 1;
        }
    }
}

bool lf_isRecentCallsign(std::string_view TEXT)
{
    const std::string text(TEXT);
    return g_recentCallsigns.contains(text) || g_recentCallsigns.contains(text + "_");
}

namespace {

// lf_optionFits short of the static aircraft on the neighbouring stands.
bool lf_optionFitsHere(const StandOption& OPTION, uint32_t REAL, uint32_t DAY, WeekTime TARGET, const Stand& STAND)
{
    if (OPTION.optionId == 0) {
        return false;
    }
    if (DAY == 1 && OPTION.day != TARGET.day) {
        return false;
    }
    if ((REAL == 1) != (OPTION.real != 0)) {
        return false;
    }
    if (!lf_covers(OPTION, TARGET.halfHour)) {
        return false;
    }
    if (STAND.heli && !HELICOPTERS.value()) {
        return false;
    }
    return STAND.blocked == 0;
}

// The largest half span that an aircraft on the stand may have without touching an active static
// aircraft on a neighbouring stand (infinite when there is none).
double lf_clearance(const Stand& STAND)
{
    double clearance = std::numeric_limits<double>::infinity();
    for (const SimAc& ac : g_staticAcs) {
        if (ac.state != AcState::active || ac.standId == STAND.standId || !gf_isAdjacent(STAND, ac.standId)) {
            continue;
        }
        const double distance = gf_distanceNm(ac.lat, ac.lon, STAND.latitude, STAND.longitude);
        clearance = std::min(clearance, distance - hwsp(ac.kind.modelId));
    }
    return clearance;
}

} // namespace

bool lf_optionFits(const StandOption& OPTION, uint32_t REAL, uint32_t DAY, WeekTime TARGET, const Stand& STAND)
{
    if (!lf_optionFitsHere(OPTION, REAL, DAY, TARGET, STAND)) {
        return false;
    }
    for (const SimAc& ac : g_staticAcs) {
        if (ac.state != AcState::active || ac.standId == STAND.standId || !gf_isAdjacent(STAND, ac.standId)) {
            continue;
        }
        const double distance = gf_distanceNm(ac.lat, ac.lon, STAND.latitude, STAND.longitude);
        if (hwsp(ac.kind.modelId) + hwsp(OPTION.kind.modelId) > distance) {
            return false;
        }
    }
    return true;
}

void lf_chooseOption(std::vector<uint32_t>& IDS, const Stand& STAND)
{
    if (IDS.size() < 2) {
        return;
    }
    for (const SimAc& ac : g_staticAcs) {
        if (ac.standId != STAND.standId || ac.notFromParkedTraffic != 1) {
            continue;
        }
        for (size_t i = 0; i < IDS.size(); ++i) {
            for (const StandOption& opt : STAND.options) {
                if (opt.optionId != IDS[i] || !gf_sameKind(opt.kind, ac.kind)) {
                    continue;
                }
                if (lf_starredName(ac.callsign, opt.callsign) || lf_starredName(ac.callsign, opt.furtherName)) {
                    std::rotate(IDS.begin(), IDS.begin() + static_cast<std::ptrdiff_t>(i),
                                IDS.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                    return;
                }
            }
        }
    }
    for (size_t i = IDS.size() - 1; i > 0; --i) {
        std::swap(IDS[i], IDS[gf_randomIndex(i + 1)]);
    }
}

bool lf_optionInUse(const StandOption& OPTION)
{
    for (const StaticPosition& pos : g_staticPositions) {
        if (lf_eqNonEmpty(OPTION.registration, pos.registration) || lf_namesOption(pos.callsign, OPTION, true)) {
            return true;
        }
    }
    if ((!OPTION.callsign.empty() && lf_isRecentCallsign(OPTION.callsign)) ||
        (!OPTION.furtherName.empty() && lf_isRecentCallsign(OPTION.furtherName))) {
        return true;
    }
    for (const SimAc& ac : g_staticAcs) {
        if (!ac.callsignCopy.empty() && lf_namesOption(ac.callsignCopy, OPTION, true)) {
            return true;
        }
    }
    for (const LiveParked& live : g_liveParked) {
        if (!live.callsign.empty() && lf_namesOption(live.callsign, OPTION, false)) {
            return true;
        }
    }
    for (const SimAc& ac : g_staticAcs) {
        if (ac.state != AcState::active || ac.notFromParkedTraffic != 0) {
            continue;
        }
        if (lf_starredName(ac.callsign, OPTION.callsign) || lf_starredName(ac.callsign, OPTION.furtherName) ||
            lf_eqNonEmpty(OPTION.registration, ac.callsign)) {
            return true;
        }
    }
    return false;
}

OptionSlots gf_optionSlots(uint32_t REAL)
{
    OptionSlots slots;
    slots.stands.resize(g_stands.size());
    slots.clearance.resize(g_stands.size());
    for (size_t i = 0; i < g_stands.size(); ++i) {
        slots.clearance[i] = lf_clearance(g_stands[i]);
        const std::vector<StandOption>& options = g_stands[i].options;
        for (size_t k = 0; k < options.size(); ++k) {
            if ((options[k].real != 0) == (REAL == 1)) {
                slots.stands[i].push_back(
                    OptionSlots::Entry{options[k].hours.to_ullong(), options[k].day, static_cast<uint32_t>(k)});
            }
        }
    }
    return slots;
}

void lf_searchStands(WeekTime TIME, uint32_t REAL, uint32_t DAY, uint32_t STEP, std::vector<StaticPosition>& OUT,
                     const OptionSlots* SLOTS)
{
    const WeekTime target = TIME.minus(static_cast<int>(STEP));
    try {
        std::vector<uint32_t> ids;
        for (size_t index = 0; index < g_stands.size(); ++index) {
            Stand& stand = g_stands[index];
            if (stand.reserved || stand.staticHere) {
                continue;
            }
            ids.clear();
            if (SLOTS != nullptr) {
                for (const OptionSlots::Entry& e : SLOTS->stands[index]) {
                    const StandOption& opt = stand.options[e.index];
                    if ((DAY != 1 || e.day == target.day) && ((e.hours >> target.halfHour) & 1) != 0 &&
                        lf_optionFitsHere(opt, REAL, DAY, target, stand) &&
                        hwsp(opt.kind.modelId) <= SLOTS->clearance[index]) {
                        ids.push_back(stand.options[e.index].optionId);
                    }
                }
            } else {
                for (const StandOption& opt : stand.options) {
                    if (lf_optionFits(opt, REAL, DAY, target, stand)) {
                        ids.push_back(opt.optionId);
                    }
                }
            }
            if (ids.empty()) {
                continue;
            }
            lf_chooseOption(ids, stand);
            auto it = std::find_if(stand.options.begin(), stand.options.end(),
                                   [&ids](const StandOption& O) { return O.optionId == ids.front(); });
            if (it == stand.options.end()) {
                continue;
            }
            StandOption& opt = *it;
            if (lf_optionInUse(opt)) {
                opt.optionId = 0;
                continue;
            }
            StaticPosition pos;
            pos.sourceId = 0;
            pos.source = 1;
            pos.standId = stand.standId;
            pos.rank = static_cast<int32_t>(STEP);
            pos.kind = opt.kind;
            pos.callsign = opt.callsign;
            pos.furtherName = opt.furtherName;
            pos.registration = opt.registration;
            pos.preferCallsign = lf_preferCallsign(stand, opt, target);
            OUT.push_back(std::move(pos));
            lf_markStandUsed(stand);
        }
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: day: {}, offset {}: {}", "lf_searchStands",
                                  fmt::format("[{},{}]", target.day, target.halfHour), STEP, e.what()));
    }
}

bool gf_optionStillFits(WeekTime TIME, int32_t STAND_ID, const SimAc& AIRCRAFT)
{
    const Stand* stand = gf_standById(STAND_ID);
    if (!stand) {
        return false;
    }
    const int w = std::clamp(std::max(g_realFitStep, g_softFitStep), 0, 47);
    const int current = static_cast<int>(TIME.halfHour);
    bool today = false;
    for (const StandOption& opt : stand->options) {
        if (!lf_optionForAircraft(opt, TIME.day, AIRCRAFT)) {
            continue;
        }
        today = true;
        for (int h = current; h >= std::max(current - w, 0); --h) {
            if (lf_covers(opt, static_cast<uint32_t>(h))) {
                return true;
            }
        }
    }
    if (!today || current - w >= 0) {
        return false;
    }
    const int r = std::min(w - current, 46);
    const uint32_t previousDay = TIME.previousDay();
    for (const StandOption& opt : stand->options) {
        if (!lf_optionForAircraft(opt, previousDay, AIRCRAFT)) {
            continue;
        }
        for (int h = 47; h >= std::max(47 - r, 0); --h) {
            if (lf_covers(opt, static_cast<uint32_t>(h))) {
                return true;
            }
        }
    }
    return false;
}

uint32_t gf_countStaticAc(bool WITH_MEAN)
{
    uint32_t count = 0;
    int64_t sum = 0;
    const WeekTime now = g_weekTime.load();
    for (const SimAc& ac : g_staticAcs) {
        if (ac.state != AcState::active && ac.state != AcState::removingfromsim) {
            continue;
        }
        ++count;
        sum += ac.timeStamp.ageAt(now).value_or(0);
    }
    if (WITH_MEAN && !gf_windowValues().weekMark) {
        const float mean = count == 0 ? 0.0f : static_cast<float>(static_cast<double>(sum) / (2.0 * count) + 0.5);
        gf_updateWindowValues([mean](WindowValues& V) { V.meanAgeStatic = mean; });
    }
    return count;
}

} // namespace qmt
