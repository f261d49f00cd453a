#include "parking/StaticAircraft.h"

#include "core/AcKind.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/WeekTime.h"
#include "engine/AcLists.h"
#include "engine/BirthSpawn.h"
#include "engine/Commands.h"
#include "engine/Profile.h"
#include "engine/Tick.h"
#include "liveries/Matching.h"
#include "parking/ParkAirport.h"
#include "parking/StandSearch.h"
#include "parking/StaticPositions.h"
#include "simlink/SimClient.h"
#include "stands/StandTable.h"

#include <fmt/format.h>

#include <algorithm>

namespace qmt {

namespace {

constexpr uint64_t kTicks100nsPerMinute = 600000000;
constexpr int64_t kLongestParkedMinutes = 90;
constexpr int64_t kLongestParkedHeavyMinutes = 180;

// The last static id given.
uint32_t s_staticIdCounter = 0;

bool lf_isLeaving(const SimAc& AC)
{
    return AC.state == AcState::removingfromsim || AC.removeWhenCreated != 0 || AC.removed != 0;
}

bool lf_nextTo(const Stand* STAND, uint32_t OTHER_STAND)
{
    return STAND != nullptr && OTHER_STAND >= 1 && gf_isAdjacent(*STAND, OTHER_STAND);
}

// A live aircraft parking or parked on the stand or next to it; logs the refusal when asked.
bool lf_liveAircraftInTheWay(const StaticPosition& POS, const Stand* STAND, const std::string& STAND_NAME, bool LOG)
{
    for (const LiveAc& live : g_liveAcs) {
        if (live.flightState != FlightState::parking && live.flightState != FlightState::parked) {
            continue;
        }
        if (live.standId == POS.standId) {
            if (LOG) {
                gf_logLine("{:8}: no static parking for {}, live aircraft {} standing here", STAND_NAME, POS.callsign,
                           live.callsign);
            }
            return true;
        }
        if (POS.standId >= 1 && lf_nextTo(STAND, live.standId)) {
            if (LOG) {
                gf_logLine("{:8}: no static parking for {}, live aircraft {} is adjacent at {}, possibly colliding",
                           STAND_NAME, POS.callsign, live.callsign, gf_standName(live.standId));
            }
            return true;
        }
    }
    return false;
}

// The static aircraft on the stand or next to it; WAIT tells that every one of them is leaving.
const SimAc* lf_staticInTheWay(const StaticPosition& POS, const Stand* STAND, bool& WAIT)
{
    const SimAc* first = nullptr;
    WAIT = true;
    for (const SimAc& ac : g_staticAcs) {
        if (ac.standId != POS.standId && !lf_nextTo(STAND, ac.standId)) {
            continue;
        }
        if (!lf_isLeaving(ac)) {
            WAIT = false;
            return &ac;
        }
        if (first == nullptr) {
            first = &ac;
        }
    }
    return first;
}

std::string lf_chooseCallsign(const StaticPosition& POS, uint32_t ID)
{
    if (POS.callsign.empty()) {
        return fmt::format("{}{}{}", gf_airlineCode(POS.kind.airlineId), ID, "*");
    }
    const std::string& preferred = POS.preferCallsign == 1 ? POS.callsign : POS.furtherName;
    const std::string& other = POS.preferCallsign == 1 ? POS.furtherName : POS.callsign;
    if (!preferred.empty()) {
        return lf_staticCallsign(preferred);
    }
    if (!other.empty()) {
        return lf_staticCallsign(other);
    }
    gf_logWarning("{} callsign is empty..", "lf_detcs");
    return {};
}

} // namespace

std::string lf_staticCallsign(std::string_view TEXT)
{
    while (!TEXT.empty() && TEXT.back() == '_') {
        TEXT.remove_suffix(1);
    }
    std::string callsign(TEXT);
    if (callsign.empty() || callsign.back() != '*') {
        callsign.push_back('*');
    }
    return callsign;
}

uint32_t lf_nextStaticId()
{
    // Ids wrap at 10000; 0 and the ids of statics still alive are never given out.
    for (uint32_t tries = 0; tries < kMaxStaticId; ++tries) {
        s_staticIdCounter = (s_staticIdCounter + 1) % kMaxStaticId;
        if (s_staticIdCounter != 0 && gf_findStaticAc(s_staticIdCounter) == nullptr) {
            return s_staticIdCounter;
        }
    }
    return 0;
}

namespace {

// A replacement whose stand is still being left by the aircraft it replaces waits for it, up to
// its time limit (set on its first look).
bool lf_waitsForLeaver(StaticPosition& POS, int64_t TICK)
{
    const Stand* stand = gf_standById(POS.standId);
    if (lf_liveAircraftInTheWay(POS, stand, {}, false)) {
        return false;
    }
    bool wait = false;
    if (lf_staticInTheWay(POS, stand, wait) == nullptr || !wait) {
        return false;
    }
    if (POS.retryUntilTick == 0) {
        POS.retryUntilTick = static_cast<int32_t>(TICK + kReplacementWaitTicks);
    }
    return TICK < POS.retryUntilTick;
}

} // namespace

void lf_detcs()
{
    if (g_staticPositions.empty() || g_stands.empty()) {
        return;
    }
    // The last position that is not waiting for its stand to clear is taken; the waiting ones keep
    // their places and are looked at again at the next pass.
    const int64_t tick = g_tickCounter.load(std::memory_order_relaxed);
    size_t index = g_staticPositions.size();
    while (index > 0 && lf_waitsForLeaver(g_staticPositions[index - 1], tick)) {
        --index;
    }
    if (index == 0) {
        return;
    }
    StaticPosition pos = std::move(g_staticPositions[index - 1]);
    g_staticPositions.erase(g_staticPositions.begin() + static_cast<std::ptrdiff_t>(index - 1));
    const std::string standName = gf_standName(pos.standId);
    const Stand* stand = gf_standById(pos.standId);

    if (lf_liveAircraftInTheWay(pos, stand, standName, true)) {
        return;
    }
    bool wait = false;
    if (const SimAc* blocker = lf_staticInTheWay(pos, stand, wait)) {
        gf_logLine("{:8}: no static parking for {}, static aircraft {} is adjacent at {}, possibly colliding",
                   standName, pos.callsign, blocker->callsign, gf_standName(blocker->standId));
        return;
    }
    if (stand == nullptr) {
        gf_logWarning("stand with id {} not found", standName);
        return;
    }
    if (stand->liveHere != 0) {
        gf_logLine("{:8}: no static parking for {}, live aircraft occupies the stand", standName, pos.callsign);
        return;
    }
    const uint32_t id = lf_nextStaticId();
    if (id == 0) {
        gf_logWarning("{}: no static id left for {}", "lf_detcs", pos.callsign);
        return;
    }
    TrafficRecordHead head;
    head.kind = pos.kind;
    head.callsign = lf_chooseCallsign(pos, id);
    head.callsignCopy = pos.callsign;
    head.extraText = pos.furtherName;
    head.registration = pos.registration;
    AcProfile profile;
    gf_makeParkedAc(profile, head);
    profile.id = id;
    SimAc& ac = gf_addStaticAc(profile, stand->standId, stand->latitude, stand->longitude, stand->heading,
                               stand->cargo != 0);
    if (!gf_matchStaticAcLivery(ac, *stand)) {
        lf_eraseStaticAc(ac);
        return;
    }
    ac.notFromParkedTraffic = pos.source;
    // The rank is the age the aircraft had when its position was made: it keeps its parking time.
    ac.timeStamp = g_weekTime.load().minus(pos.rank);
    ac.parkedTrafficId = pos.sourceId;
    ac.state = AcState::adding2sim;
    AiCreateRequest request;
    request.initPos.Latitude = stand->latitude;
    request.initPos.Longitude = stand->longitude;
    request.initPos.Altitude = 0.0;
    request.initPos.Pitch = 0.0;
    request.initPos.Bank = 0.0;
    request.initPos.Heading = stand->heading * kRadToDeg;
    request.initPos.OnGround = 1;
    request.initPos.Airspeed = 0;
    request.callsign = ac.callsign;
    request.liveryTitle = ac.liveryTitle;
    request.aircraftId = id;
    gf_queueStaticCreate(std::move(request));
}

void gf_removeAllStaticAc()
{
    for (SimAc& ac : g_staticAcs) {
        if (ac.state == AcState::active || ac.state == AcState::adding2sim) {
            removeAircraftFromSim(ac, "all static aircraft removed");
        }
    }
    // Those whose create request was still queued never reached the simulator.
    gf_eraseWithdrawnStaticAcs();
}

void gf_collectLiveParked()
{
    g_liveParked.clear();
    const uint64_t now = gf_nowTicks100ns();
    for (LiveAc& live : g_liveAcs) {
        if (live.flightState != FlightState::parked || live.state != AcState::active) {
            continue;
        }
        if (live.keepParked != 0) {
            g_liveParked.push_back(LiveParked{live.callsign, live.standId, 0});
            continue;
        }
        const auto minutes =
            static_cast<int64_t>(now > live.parkStart ? (now - live.parkStart) / kTicks100nsPerMinute : 0);
        const int64_t limit = live.category == static_cast<uint32_t>(AcCategory::Heavy) ? kLongestParkedHeavyMinutes
                                                                                       : kLongestParkedMinutes;
        if (INITIAL_LOAD_ONLY.value() || minutes <= limit) {
            g_liveParked.push_back(LiveParked{live.callsign, live.standId, static_cast<int32_t>(minutes)});
        } else {
            removeAircraftFromSim(live, "parked too long");
        }
    }
    std::stable_sort(g_liveParked.begin(), g_liveParked.end(),
                     [](const LiveParked& A, const LiveParked& B) { return A.minutesParked < B.minutesParked; });
}

void gf_attachStaticParking()
{
    gf_setStaticCreationStep(&lf_detcs);
    gf_setUserParkNote(&gf_noteUserParkAirport);
}

void gf_resetStaticAircraftForTests()
{
    s_staticIdCounter = 0;
}

} // namespace qmt
