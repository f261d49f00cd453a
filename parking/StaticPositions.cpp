#include "parking/StaticPositions.h"

#include "core/Clock.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Random.h"
#include "core/RefData.h"
#include "core/Text.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "engine/Commands.h"
#include "engine/Profile.h"
#include "feed/TrafficFeed.h"
#include "parking/ParkAirport.h"
#include "parking/StandSearch.h"
#include "records/UserAircraft.h"
#include "stands/StandTable.h"

#include <fmt/format.h>

#include <algorithm>
#include <mutex>

namespace qmt {

std::vector<StaticRemoval> g_staticRemovals;
std::vector<LiveParked> g_liveParked;
std::vector<KeptStatic> g_keptStatics;
std::unordered_set<std::string> g_recentCallsigns;
std::unordered_set<uint32_t> g_recentHexIds;
int32_t g_realFitStep = -1;
int32_t g_softFitStep = -1;

namespace {

// A parked aircraft of the service is looked for on the stands within 110 m of its position.
constexpr double kParkedStandReachNm = 0.05939524838012959;

size_t lf_usedStandCount()
{
    return static_cast<size_t>(
        std::count_if(g_stands.begin(), g_stands.end(), [](const Stand& S) { return S.staticHere != 0; }));
}

// The parked aircraft is flying or taxiing now: it has no place among the static ones.
bool lf_isLiveNow(const ParkedTrafficRecord& RECORD)
{
    for (const LiveAc& live : g_liveAcs) {
        if (live.id == RECORD.hexId || live.callsign == RECORD.callsign || live.callsign == RECORD.callsign + "_" ||
            (!RECORD.registration.empty() && live.registration == RECORD.registration)) {
            return true;
        }
    }
    return false;
}

// Another aircraft of the parked traffic that stands on the stand now.
SimAc* lf_otherParkedStatic(uint32_t STAND_ID, const std::string& CALLSIGN)
{
    for (SimAc& ac : g_staticAcs) {
        if (ac.state == AcState::active && ac.notFromParkedTraffic == 0 && ac.standId == STAND_ID &&
            ac.callsign != CALLSIGN + "*" && !lf_isListedForRemoval(ac.callsign, ac.standId)) {
            return &ac;
        }
    }
    return nullptr;
}

const char* lf_passName(uint32_t REAL, uint32_t DAY)
{
    if (REAL == 1) {
        return DAY == 1 ? "real" : "week/real";
    }
    return DAY == 1 ? "soft" : "week/soft";
}

void lf_clearStandMarks()
{
    for (Stand& stand : g_stands) {
        stand.staticHere = 0;
        stand.reserved = 0;
        stand.blocked = 0;
    }
}

} // namespace

std::optional<size_t> gf_positionTooNear(const Stand& STAND, double LATITUDE, double LONGITUDE, double HALF_SPAN)
{
    for (size_t i = 0; i < g_staticPositions.size(); ++i) {
        const StaticPosition& pos = g_staticPositions[i];
        const Stand* other = gf_isAdjacent(STAND, pos.standId) ? gf_standById(pos.standId) : nullptr;
        if (other != nullptr &&
            hwsp(pos.kind.modelId) + HALF_SPAN > gf_distanceNm(LATITUDE, LONGITUDE, other->latitude, other->longitude)) {
            return i;
        }
    }
    return std::nullopt;
}

WeekTime lf_logDayAndHour()
{
    const WeekTime now = g_weekTime.load();
    gf_logLine("\n{} (utc) It is day {} ({}), {:.1F} hours", gf_shiftedTimeText(), now.day, gf_dayName(now.day),
               gf_dropdownValue(static_cast<int32_t>(now.halfHour)));
    return now;
}

void lf_startStaticPass()
{
    g_staticPositions.clear();
    g_keptStatics.clear();
    g_liveParked.clear();
    g_staticRemovals.clear();
    lf_takeOverRecentTraffic();
    lf_clearStandMarks();
    // Options switched off by an earlier calculation are learned data like any other.
    gf_renumberAllOptions();
    lf_markReservedStands();
}

void lf_takeOverRecentTraffic()
{
    gf_takeGatheredTraffic(g_recentCallsigns, g_recentHexIds);
}

void lf_markReservedStands()
{
    std::string userStand;
    if (g_userAc.dataArrived) {
        userStand = gf_standAtPosition(g_userAc.latitude, g_userAc.longitude);
    }
    for (Stand& stand : g_stands) {
        if ((!g_reservedStand.empty() && stand.name == g_reservedStand) || (!userStand.empty() && stand.name == userStand)) {
            stand.reserved = 1;
        }
    }
}

void lf_positionsFromParkedTraffic()
{
    const bool parkedOnly = RT_PARKTRAFFIC_ONLY.value();
    const int64_t n = lf_wantedStaticCount();
    if (n == 0 && !parkedOnly) {
        return;
    }
    const WeekTime now = g_weekTime.load();
    for (const ParkedTrafficRecord& record : g_parkedTraffic) {
        if (!parkedOnly && static_cast<int64_t>(g_staticPositions.size()) >= n) {
            break;
        }
        if (record.callsign.empty() || g_recentHexIds.contains(record.hexId) || lf_isRecentCallsign(record.callsign) ||
            lf_isLiveNow(record)) {
            continue;
        }
        TrafficRecordHead head = record;
        if (!gf_isIcaoAirline(gf_airlineCode(head.kind.airlineId))) {
            const std::optional<std::string> airline = gf_normalizeCallsign(record.callsign);
            head.kind.airlineId = gf_airlineId(airline ? *airline : "PVT");
        }
        AcProfile profile;
        gf_makeParkedAc(profile, head);
        Stand* stand = gf_findStandNear(record.lat, record.lon, profile, kParkedStandReachNm, false);
        if (stand == nullptr) {
            gf_logContinuation("[{:10}: {:8x} {:8} {:12}, hh:{} ===> no stand for PT {}", record.stand, record.hexId,
                               record.callsign, gf_modelCode(record.kind.modelId), record.halfHour,
                               fmt::format("{:.6f},{:.6f}", record.lat, record.lon));
            continue;
        }
        if (stand->reserved != 0 || stand->staticHere != 0) {
            continue;
        }
        if (stand->blocked != 0 &&
            gf_positionTooNear(*stand, stand->latitude, stand->longitude, profile.halfSpan).has_value()) {
            continue;
        }
        if (SimAc* other = lf_otherParkedStatic(stand->standId, record.callsign)) {
            // Without a time of its own the one standing there cannot be shown to be the newer.
            const std::optional<int> otherAge = other->timeStamp.ageAt(now);
            if (otherAge && record.age > *otherAge) {
                // The one standing there parked later than this report: it stays.
                g_staticPositions.push_back(StaticPosition{
                    .sourceId = other->parkedTrafficId,
                    .source = 0,
                    .standId = other->standId,
                    .rank = *otherAge,
                    .kind = other->kind,
                    .callsign = other->callsign.substr(0, other->callsign.empty() ? 0 : other->callsign.size() - 1),
                    .furtherName = {},
                    .registration = other->registration,
                    .preferCallsign = 1});
                // Its stand is planned now: no second position may be put there.
                lf_markStandUsed(*stand);
                continue;
            }
            lf_listStaticRemoval(other->callsign, other->standId);
        }
        g_staticPositions.push_back(StaticPosition{.sourceId = record.hexId,
                                                   .source = 0,
                                                   .standId = stand->standId,
                                                   .rank = record.age,
                                                   .kind = head.kind,
                                                   .callsign = record.callsign,
                                                   .furtherName = {},
                                                   .registration = record.registration,
                                                   .preferCallsign = 1});
        lf_markStandUsed(*stand);
    }
}

bool lf_fitPositions(WeekTime TIME, uint32_t REAL, uint32_t DAY, int64_t N, std::vector<StaticPosition>& OUT,
                     int32_t& STEP, OptionSlots& SLOTS)
{
    STEP = 0;
    if (N == 0) {
        return true;
    }
    const int32_t maxFit = MAX_FIT.value();
    // The last pass left other positions than these.
    gf_forgetPositionNames(SLOTS);
    for (int32_t step = 0;; ++step) {
        STEP = step;
        lf_searchStands(TIME, REAL, DAY, static_cast<uint32_t>(step), OUT, &SLOTS);
        if (static_cast<int64_t>(lf_usedStandCount()) >= N) {
            return true;
        }
        std::move(OUT.begin(), OUT.end(), std::back_inserter(g_staticPositions));
        OUT.clear();
        if (step + 1 > maxFit) {
            return false;
        }
    }
}

void lf_addPositionsPass(WeekTime TIME, int64_t N, int64_t OFFSET, uint32_t REAL, uint32_t DAY, OptionSlots& SLOTS)
{
    const size_t usedBefore = lf_usedStandCount();
    std::vector<StaticPosition> found;
    int32_t step = 0;
    if (lf_fitPositions(TIME, REAL, DAY, N, found, step, SLOTS)) {
        // The last fit step found more than wanted: which of them stay is drawn, not the stand order.
        const int64_t excess = static_cast<int64_t>(g_staticPositions.size() + found.size()) + OFFSET - N;
        if (excess >= 1 && !found.empty()) {
            for (size_t i = found.size() - 1; i > 0; --i) {
                std::swap(found[i], found[gf_randomIndex(i + 1)]);
            }
            found.resize(found.size() - static_cast<size_t>(std::min<int64_t>(excess, static_cast<int64_t>(found.size()))));
        }
        std::move(found.begin(), found.end(), std::back_inserter(g_staticPositions));
        const int64_t over = static_cast<int64_t>(g_staticPositions.size()) + OFFSET - N;
        if (over >= 1) {
            g_staticPositions.resize(g_staticPositions.size() -
                                     static_cast<size_t>(std::min<int64_t>(over, static_cast<int64_t>(g_staticPositions.size()))));
        }
    }
    if (REAL == 1) {
        g_realFitStep = step;
        g_softFitStep = -1;
    } else {
        g_softFitStep = step;
    }
    const size_t marked = lf_usedStandCount() - usedBefore;
    if (marked == 0) {
        return;
    }
    gf_logLine("{} {} position{} found, Max fit={:.1F} hours{}{}", marked, lf_passName(REAL, DAY), gf_plural(marked),
               MAX_FIT_FL.value(), fmt::format(", day {}", TIME.day),
               fmt::format(", hh:{} or {:.1F} hrs, fit: {:.1F} hour", TIME.halfHour,
                           gf_dropdownValue(static_cast<int32_t>(TIME.halfHour)), gf_dropdownValue(step)));
    gf_updateWindowValues([REAL, DAY](WindowValues& V) {
        V.softMark = V.softMark || REAL == 0;
        V.weekMark = V.weekMark || DAY == 0;
    });
}

void lf_addPositions(WeekTime TIME, int64_t N, int64_t OFFSET)
{
    g_realFitStep = 0;
    g_softFitStep = -1;
    const auto wanting = [&] { return N > static_cast<int64_t>(g_staticPositions.size()) + OFFSET; };
    // The day and the week pass of the observed or the soft options share their slots: nothing
    // that the slots hold changes between the passes.
    std::optional<OptionSlots> slots[2];
    const auto pass = [&](uint32_t REAL, uint32_t DAY) {
        std::optional<OptionSlots>& own = slots[REAL];
        if (!own) {
            own = gf_optionSlots(REAL);
        }
        lf_addPositionsPass(TIME, N, OFFSET, REAL, DAY, *own);
    };
    if (wanting()) {
        pass(1, 1);
    }
    if (wanting() && WEEK.value()) {
        pass(1, 0);
    }
    if (wanting() && PARK_SOFT.value()) {
        pass(0, 1);
    }
    if (wanting() && WEEK.value() && PARK_SOFT.value()) {
        pass(0, 0);
    }
}

void lf_calculateStaticPositions()
{
    const WeekTime now = lf_logDayAndHour();
    gf_disableParkControls();
    gf_updateWindowValues([](WindowValues& V) {
        V.meanAgeStatic = -1.0f;
        V.meanAgeLiveParked = -1.0f;
        V.softMark = false;
        V.weekMark = false;
    });
    lf_startStaticPass();

    const bool parkedOnly = RT_PARKTRAFFIC_ONLY.value();
    if (MAX_PARK_SEL.value() > 0 && gf_getParkedTraffic()) {
        lf_positionsFromParkedTraffic();
    }
    if (!parkedOnly) {
        gf_logLine("{} parking position{} from PT", g_staticPositions.size(), gf_plural(g_staticPositions.size()));
        const int64_t n = lf_wantedStaticCount();
        if (n > static_cast<int64_t>(g_staticPositions.size())) {
            lf_addPositions(now, n, 0);
        }
        std::stable_sort(g_staticPositions.begin(), g_staticPositions.end(),
                         [](const StaticPosition& A, const StaticPosition& B) { return A.rank < B.rank; });
        if (static_cast<int64_t>(g_staticPositions.size()) > n) {
            g_staticPositions.resize(static_cast<size_t>(std::max<int64_t>(n, 0)));
        }
    }
    if (!g_staticPositions.empty()) {
        const size_t count = g_staticPositions.size();
        const int32_t share = gf_percent(static_cast<double>(count), static_cast<double>(g_stands.size()));
        if (parkedOnly) {
            gf_logLine("{} positions from RT parktraffic only\n", count);
        } else {
            gf_logLine("{} positions ({}% vs wanted {}%, with Max fit={:.1F} hours)\n", count, share,
                       parking_percentage.value(), MAX_FIT_FL.value());
        }
        // The best position last: the creation takes positions from the back.
        std::stable_sort(g_staticPositions.begin(), g_staticPositions.end(),
                         [](const StaticPosition& A, const StaticPosition& B) { return A.rank > B.rank; });
    } else {
        gf_logLine("no parking positions found");
        gf_enableParkControls();
    }
    lf_removeListedStatics();
}

void lf_listStaticRemoval(const std::string& CALLSIGN, uint32_t STAND_ID)
{
    if (!lf_isListedForRemoval(CALLSIGN, STAND_ID)) {
        g_staticRemovals.push_back(StaticRemoval{CALLSIGN, STAND_ID});
    }
}

bool lf_isListedForRemoval(const std::string& CALLSIGN, uint32_t STAND_ID)
{
    return std::any_of(g_staticRemovals.begin(), g_staticRemovals.end(), [&](const StaticRemoval& R) {
        return R.standId == STAND_ID && R.callsign == CALLSIGN;
    });
}

void lf_removeListedStatics()
{
    for (const StaticRemoval& removal : g_staticRemovals) {
        for (SimAc& ac : g_staticAcs) {
            // One already on its way out needs no second removal.
            if (ac.standId == removal.standId && ac.callsign == removal.callsign && ac.state == AcState::active) {
                removeAircraftFromSim(ac, "listed for removal");
                break;
            }
        }
    }
    g_staticRemovals.clear();
}

void gf_resetStaticPositionsForTests()
{
    g_staticPositions.clear();
    g_staticRemovals.clear();
    g_liveParked.clear();
    g_keptStatics.clear();
    g_recentCallsigns.clear();
    g_recentHexIds.clear();
    g_realFitStep = -1;
    g_softFitStep = -1;
}

} // namespace qmt
