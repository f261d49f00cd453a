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

namespace {

// With a learned static aircraft standing on the stand, its own option comes first; true when one
// of the ids is its option.
bool lf_preferOptionOf(std::vector<uint32_t>& IDS, const Stand& STAND, const SimAc& AC)
{
    for (size_t i = 0; i < IDS.size(); ++i) {
        for (const StandOption& opt : STAND.options) {
            if (opt.optionId != IDS[i] || !gf_sameKind(opt.kind, AC.kind)) {
                continue;
            }
            if (lf_starredName(AC.callsign, opt.callsign) || lf_starredName(AC.callsign, opt.furtherName)) {
                std::rotate(IDS.begin(), IDS.begin() + static_cast<std::ptrdiff_t>(i),
                            IDS.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                return true;
            }
        }
    }
    return false;
}

void lf_shuffleIds(std::vector<uint32_t>& IDS)
{
    for (size_t i = IDS.size() - 1; i > 0; --i) {
        std::swap(IDS[i], IDS[gf_randomIndex(i + 1)]);
    }
}

} // namespace

void lf_chooseOption(std::vector<uint32_t>& IDS, const Stand& STAND)
{
    if (IDS.size() < 2) {
        return;
    }
    for (const SimAc& ac : g_staticAcs) {
        if (ac.standId == STAND.standId && ac.notFromParkedTraffic == 1 && lf_preferOptionOf(IDS, STAND, ac)) {
            return;
        }
    }
    lf_shuffleIds(IDS);
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

namespace {

// Per stand, the largest half span that an aircraft on it may have without touching an active
// static aircraft on a neighbouring stand (infinite when there is none), as lf_optionFits tests it:
// the aircraft are looked up by the ids of the stand's neighbours.
void lf_slotClearances(OptionSlots& SLOTS)
{
    std::vector<std::pair<uint32_t, const SimAc*>> byStand;
    for (const SimAc& ac : g_staticAcs) {
        if (ac.state == AcState::active) {
            byStand.emplace_back(ac.standId, &ac);
        }
    }
    std::stable_sort(byStand.begin(), byStand.end(),
                     [](const auto& A, const auto& B) { return A.first < B.first; });
    SLOTS.clearance.assign(g_stands.size(), std::numeric_limits<double>::infinity());
    if (byStand.empty()) {
        return;
    }
    for (size_t i = 0; i < g_stands.size(); ++i) {
        const Stand& stand = g_stands[i];
        double& clearance = SLOTS.clearance[i];
        for (const uint32_t id : stand.adjacent) {
            if (id == stand.standId) {
                continue;
            }
            auto at = std::lower_bound(byStand.begin(), byStand.end(), id,
                                       [](const auto& E, uint32_t V) { return E.first < V; });
            for (; at != byStand.end() && at->first == id; ++at) {
                const SimAc& ac = *at->second;
                const double distance = gf_distanceNm(ac.lat, ac.lon, stand.latitude, stand.longitude);
                clearance = std::min(clearance, distance - hwsp(ac.kind.modelId));
            }
        }
    }
}

size_t lf_dayGroup(uint32_t DAY)
{
    return DAY >= 1 && DAY <= 7 ? DAY : 0;
}

// The pass's options of every stand, grouped by day in option order, with the half-hours each
// day's group covers.
void lf_slotEntries(OptionSlots& SLOTS, uint32_t REAL)
{
    constexpr size_t G = OptionSlots::kGroups;
    SLOTS.first.assign(g_stands.size() * G + 1, 0);
    SLOTS.dayHours.assign(g_stands.size() * G, 0);
    SLOTS.anyHours.assign(g_stands.size(), 0);
    size_t total = 0;
    for (size_t i = 0; i < g_stands.size(); ++i) {
        for (const StandOption& opt : g_stands[i].options) {
            if ((opt.real != 0) == (REAL == 1)) {
                ++SLOTS.first[i * G + lf_dayGroup(opt.day) + 1];
                ++total;
            }
        }
    }
    for (size_t k = 1; k < SLOTS.first.size(); ++k) {
        SLOTS.first[k] += SLOTS.first[k - 1];
    }
    SLOTS.entries.resize(total);
    std::vector<uint32_t> next(SLOTS.first.begin(), SLOTS.first.end() - 1);
    for (size_t i = 0; i < g_stands.size(); ++i) {
        const std::vector<StandOption>& options = g_stands[i].options;
        for (size_t k = 0; k < options.size(); ++k) {
            if ((options[k].real != 0) != (REAL == 1)) {
                continue;
            }
            const uint64_t hours = options[k].hours.to_ullong();
            const size_t group = i * G + lf_dayGroup(options[k].day);
            SLOTS.entries[next[group]++] = OptionSlots::Entry{hours, static_cast<uint32_t>(k)};
            SLOTS.dayHours[group] |= hours;
            SLOTS.anyHours[i] |= hours;
        }
    }
}

// The learned static aircraft by stand, each stand's in list order, for lf_chooseOption.
void lf_slotLearnedStatics(OptionSlots& SLOTS)
{
    for (const SimAc& ac : g_staticAcs) {
        if (ac.notFromParkedTraffic == 1) {
            SLOTS.learnedStatics.emplace_back(ac.standId, &ac);
        }
    }
    std::stable_sort(SLOTS.learnedStatics.begin(), SLOTS.learnedStatics.end(),
                     [](const auto& A, const auto& B) { return A.first < B.first; });
}

// lf_chooseOption with the learned static aircraft of the stand alone.
void lf_chooseOptionBySlots(std::vector<uint32_t>& IDS, const Stand& STAND, const OptionSlots& SLOTS)
{
    if (IDS.size() < 2) {
        return;
    }
    auto at = std::lower_bound(SLOTS.learnedStatics.begin(), SLOTS.learnedStatics.end(), STAND.standId,
                               [](const auto& E, uint32_t V) { return E.first < V; });
    for (; at != SLOTS.learnedStatics.end() && at->first == STAND.standId; ++at) {
        if (lf_preferOptionOf(IDS, STAND, *at->second)) {
            return;
        }
    }
    lf_shuffleIds(IDS);
}

// The names of lf_optionInUse that stand still through a pass: static and live parked aircraft.
void lf_indexAircraftNames(OptionSlots& SLOTS)
{
    for (const SimAc& ac : g_staticAcs) {
        if (!ac.callsignCopy.empty()) {
            SLOTS.byName.insert(ac.callsignCopy);
            SLOTS.byRegistration.insert(ac.callsignCopy);
        }
        if (ac.state == AcState::active && ac.notFromParkedTraffic == 0) {
            SLOTS.byRegistration.insert(ac.callsign);
            if (ac.callsign.size() > 1 && ac.callsign.back() == '*') {
                SLOTS.byName.insert(ac.callsign.substr(0, ac.callsign.size() - 1));
            }
        }
    }
    for (const LiveParked& live : g_liveParked) {
        SLOTS.byName.insert(live.callsign);
    }
}

// The positions added since the last fit step.
void lf_indexPositionNames(OptionSlots& SLOTS)
{
    if (g_staticPositions.size() < SLOTS.positionsIndexed) {
        // Positions were dropped: the sets cannot forget names, so they start again.
        gf_forgetPositionNames(SLOTS);
    }
    for (size_t i = SLOTS.positionsIndexed; i < g_staticPositions.size(); ++i) {
        const StaticPosition& pos = g_staticPositions[i];
        SLOTS.byRegistration.insert(pos.registration);
        SLOTS.byRegistration.insert(pos.callsign);
        SLOTS.byName.insert(pos.callsign);
    }
    SLOTS.positionsIndexed = g_staticPositions.size();
}

bool lf_namedIn(const NameSet& SET, const std::string& NAME)
{
    return !NAME.empty() && SET.contains(std::string_view(NAME));
}

// lf_optionInUse through the name sets.
bool lf_optionInUseBySlots(const StandOption& OPTION, const OptionSlots& SLOTS)
{
    return lf_namedIn(SLOTS.byName, OPTION.callsign) || lf_namedIn(SLOTS.byName, OPTION.furtherName) ||
           lf_namedIn(SLOTS.byRegistration, OPTION.registration) ||
           (!OPTION.callsign.empty() && lf_isRecentCallsign(OPTION.callsign)) ||
           (!OPTION.furtherName.empty() && lf_isRecentCallsign(OPTION.furtherName));
}

// The ids of the stand's options that fit the target, in option order, through the slots.
void lf_fittingIdsBySlots(const OptionSlots& SLOTS, size_t INDEX, uint32_t REAL, uint32_t DAY, WeekTime TARGET,
                          std::vector<uint32_t>& IDS)
{
    constexpr size_t G = OptionSlots::kGroups;
    if (TARGET.halfHour >= 48) {
        return;
    }
    const Stand& stand = g_stands[INDEX];
    // What lf_optionFitsHere asks of the stand, asked once for all its options.
    if (stand.blocked != 0 || (stand.heli != 0 && !HELICOPTERS.value())) {
        return;
    }
    const uint64_t bit = uint64_t{1} << TARGET.halfHour;
    const size_t group = INDEX * G + lf_dayGroup(TARGET.day);
    if (((DAY == 1 ? SLOTS.dayHours[group] : SLOTS.anyHours[INDEX]) & bit) == 0) {
        return;
    }
    // A day pass looks at the target day's group, a week pass at every group.
    const size_t from = DAY == 1 ? group : INDEX * G;
    const size_t to = DAY == 1 ? group + 1 : INDEX * G + G;
    for (uint32_t k = SLOTS.first[from]; k < SLOTS.first[to]; ++k) {
        const OptionSlots::Entry& e = SLOTS.entries[k];
        if ((e.hours & bit) == 0) {
            continue;
        }
        const StandOption& opt = stand.options[e.index];
        // Without static aircraft next to the stand the plain test asks no half span either.
        const double clearance = SLOTS.clearance[INDEX];
        if (lf_optionFitsHere(opt, REAL, DAY, TARGET, stand) &&
            (std::isinf(clearance) || hwsp(opt.kind.modelId) <= clearance)) {
            IDS.push_back(e.index);
        }
    }
    // The groups of a week pass come day by day: back to option order.
    if (DAY != 1) {
        std::sort(IDS.begin(), IDS.end());
    }
    for (uint32_t& id : IDS) {
        id = stand.options[id].optionId;
    }
}

void lf_fittingIds(size_t INDEX, uint32_t REAL, uint32_t DAY, WeekTime TARGET, std::vector<uint32_t>& IDS)
{
    const Stand& stand = g_stands[INDEX];
    for (const StandOption& opt : stand.options) {
        if (lf_optionFits(opt, REAL, DAY, TARGET, stand)) {
            IDS.push_back(opt.optionId);
        }
    }
}

} // namespace

OptionSlots gf_optionSlots(uint32_t REAL)
{
    OptionSlots slots;
    lf_slotEntries(slots, REAL);
    lf_slotClearances(slots);
    lf_slotLearnedStatics(slots);
    lf_indexAircraftNames(slots);
    return slots;
}

void gf_forgetPositionNames(OptionSlots& SLOTS)
{
    SLOTS.byName.clear();
    SLOTS.byRegistration.clear();
    SLOTS.positionsIndexed = 0;
    lf_indexAircraftNames(SLOTS);
}

void lf_searchStands(WeekTime TIME, uint32_t REAL, uint32_t DAY, uint32_t STEP, std::vector<StaticPosition>& OUT,
                     OptionSlots* SLOTS)
{
    const WeekTime target = TIME.minus(static_cast<int>(STEP));
    try {
        if (SLOTS != nullptr) {
            lf_indexPositionNames(*SLOTS);
        }
        std::vector<uint32_t> ids;
        for (size_t index = 0; index < g_stands.size(); ++index) {
            Stand& stand = g_stands[index];
            if (stand.reserved || stand.staticHere) {
                continue;
            }
            ids.clear();
            if (SLOTS != nullptr) {
                lf_fittingIdsBySlots(*SLOTS, index, REAL, DAY, target, ids);
            } else {
                lf_fittingIds(index, REAL, DAY, target, ids);
            }
            if (ids.empty()) {
                continue;
            }
            if (SLOTS != nullptr) {
                lf_chooseOptionBySlots(ids, stand, *SLOTS);
            } else {
                lf_chooseOption(ids, stand);
            }
            auto it = std::find_if(stand.options.begin(), stand.options.end(),
                                   [&ids](const StandOption& O) { return O.optionId == ids.front(); });
            if (it == stand.options.end()) {
                continue;
            }
            StandOption& opt = *it;
            if (SLOTS != nullptr ? lf_optionInUseBySlots(opt, *SLOTS) : lf_optionInUse(opt)) {
                opt.optionId = 0;
                continue;
            }
            OUT.push_back(StaticPosition{.sourceId = 0,
                                         .source = 1,
                                         .standId = stand.standId,
                                         .rank = static_cast<int32_t>(STEP),
                                         .kind = opt.kind,
                                         .callsign = opt.callsign,
                                         .furtherName = opt.furtherName,
                                         .registration = opt.registration,
                                         .preferCallsign = lf_preferCallsign(stand, opt, target)});
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
