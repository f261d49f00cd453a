#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "core/AcKind.h"
#include "core/Clock.h"
#include "core/Airports.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/RefData.h"
#include "core/WeekTime.h"
#include "engine/BirthSpawn.h"
#include "engine/Commands.h"
#include "engine/Motion.h"
#include "engine/RemovalRules.h"
#include "engine/RespawnGhosts.h"
#include "engine/StandRules.h"
#include "liveries/Matching.h"
#include "records/ParkAirportIdentity.h"
#include "records/StaticPosition.h"
#include "records/UserAircraft.h"
#include "stands/LearnedOptions.h"
#include "stands/StandTable.h"

namespace qmt {

namespace {

constexpr double kUserGroundClearanceNm = 0.08099352051835854; // 150 m
constexpr double kFarthestMarginNm = 0.1;
constexpr std::size_t kMaxWaitingCreates = 10;
constexpr double kStandAirportReachNm = 5.0;
constexpr double kStandStillSpeedKt = 5.0;
constexpr double kStandStillReachNm = 0.018898488120950324;    // 35 m
constexpr double kSpawnStandReachNm = 0.029697624190064796;    // 55 m
constexpr double kGroundPitchRad = 0.010471975511965976;       // 0.6 degree
constexpr double kTwoPi = 6.283185307178586;
constexpr int32_t kStandSeenEvent = 1;
constexpr std::size_t kMaxCallsignLength = 8;

// Distance from the user aircraft to a position, nautical miles.
double lf_userDistanceNm(double LAT, double LON)
{
    return gf_distanceNm(g_userAc.latitude, g_userAc.longitude, LAT, LON);
}

bool lf_isBlockedGhostCallsign(const std::string& CALLSIGN)
{
    return gf_endsWithGhostMark(CALLSIGN) &&
           std::find(g_blockedGhosts.begin(), g_blockedGhosts.end(), CALLSIGN) != g_blockedGhosts.end();
}

bool lf_hasMixedPoints(const LiveAc& AC)
{
    bool air = false;
    bool ground = false;
    for (const StreamPos& p : AC.stream) {
        (p.airborne != 0 ? air : ground) = true;
    }
    return air && ground;
}

// The kind of an aircraft that the feed gave only a model: the registration records complete
// it, else the airline comes from an airline callsign, else it is private.
void lf_completeKind(LiveAc& AC)
{
    if (AC.kind.marker != 0) {
        return;
    }
    if (!AC.registration.empty()) {
        if (std::optional<AcKind> found = gf_findRegRecord(AC.registration)) {
            AC.kind = *found;
        }
    }
    if (AC.kind.airlineId == 0) {
        const std::optional<std::string> airline = gf_normalizeCallsign(AC.callsign);
        AC.kind.airlineId = gf_airlineId(airline ? std::string_view(*airline) : std::string_view("PVT"));
    }
}

// The livery remembered for the hex id, else a newly matched one (remembered then).
void lf_chooseLivery(LiveAc& AC)
{
    if (!AC.liveryTitle.empty()) {
        return;
    }
    if (const std::string_view chosen = gf_chosenLivery(AC.id); !chosen.empty()) {
        AC.liveryTitle = chosen;
        return;
    }
    gf_matchLiveAcLivery(AC);
    if (!AC.liveryTitle.empty()) {
        gf_rememberChosenLivery(AC.id, AC.liveryTitle);
    }
}

// Puts the aircraft parked on the stand it was found at.
void lf_startAtStand(LiveAc& AC, const Stand& STAND)
{
    AC.lat = STAND.latitude;
    AC.lon = STAND.longitude;
    AC.heading = STAND.heading;
    AC.standId = STAND.standId;
    AC.noCabinLight = STAND.cargo;
    AC.flightState = FlightState::parked;
    AC.timeStamp = g_weekTime.load();
    AC.parkStart = gf_nowTicks100ns();
    lf_markCargoStand(AC);
    AC.stream.resize(1);
    StreamPos& front = AC.stream.front();
    front.lat = STAND.latitude;
    front.lon = STAND.longitude;
    front.track = STAND.heading * kRadToDeg;
    lf_addRealStandOption(static_cast<int32_t>(STAND.standId), AC, kStandSeenEvent);
    lf_checkMaxPark(1);
}

} // namespace

uint64_t gf_nowTicks100ns()
{
    using Ticks100ns = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
    const int64_t ticks = std::chrono::duration_cast<Ticks100ns>(gf_now().time_since_epoch()).count();
    return ticks > 0 ? static_cast<uint64_t>(ticks) : 0;
}

bool lf_hasUsableCallsign(const SimAc& AC)
{
    return !AC.callsign.empty() && AC.callsign != "@@@@@@@@" && AC.callsign.size() <= kMaxCallsignLength;
}

void lf_birthStage(LiveAc& AC)
{
    if (AC.stream.empty()) {
        AC.remove = 1;
        return;
    }
    if (g_tickCounter.load() < AC.stream.front().playTick) {
        return;
    }
    if (AC.stream.size() == 1) {
        // one point gives neither a heading nor a speed to start with
        AC.stream.pop_front();
        AC.remove = 1;
        return;
    }
    if (lf_isBlockedGhostCallsign(AC.callsign)) {
        AC.remove = 1;
        return;
    }
    // Points already past (the buffered history of a session's start) are not flown again: the
    // aircraft appears where its reports have it now.
    while (AC.stream.size() > 2 && AC.stream[1].playTick <= g_tickCounter.load()) {
        AC.stream.pop_front();
    }
    // (One created again where it is, mid-air or on the runway, goes on from there.)
    if (lf_hasMixedPoints(AC) && AC.useRespawnHeading == 0) {
        // taking off or landing right now: wait for a stream that is all ground or all air
        AC.stream.pop_front();
        return;
    }
    if (lf_spawnCheckNearUser(AC)) {
        return;
    }
    if (g_liveAddingDeque.size() > kMaxWaitingCreates && AC.flightState == FlightState::birth) {
        AC.stream.pop_front();
        return;
    }
    const int maxLive = MAX_LIVE_SEL.value();
    if (maxLive <= 0) {
        AC.remove = 1;
        return;
    }
    const std::size_t inUse = g_addingStack.size() + gf_activeLiveCount() + g_liveAddingDeque.size();
    if (static_cast<std::size_t>(maxLive) <= inUse) {
        const StreamPos& front = AC.stream.front();
        if (gf_removeFarthestLiveAc(lf_userDistanceNm(front.lat, front.lon))) {
            AC.remove = 1;
            return;
        }
    }
    if (!g_userCallsign.empty() && g_userCallsign == AC.callsign) {
        AC.remove = 1;
        return;
    }
    lf_completeKind(AC);
    if (!lf_hasUsableCallsign(AC)) {
        AC.callsign = AC.registration;
        if (!lf_hasUsableCallsign(AC)) {
            AC.remove = 1;
            return;
        }
    }
    if (gf_isNoMatch(lf_spawnText(AC))) {
        AC.remove = 1;
        return;
    }
    if (gf_endsWithGhostMark(AC.callsign) && lf_isBlockedGhost(AC.callsign)) {
        AC.remove = 1;
        return;
    }
    spawnLiveAc(AC);
}

bool lf_spawnCheckNearUser(LiveAc& AC)
{
    StreamPos& front = AC.stream.front();
    if (g_userOnGround) {
        if (COLLISION_USER_GND.value() && front.airborne == 0 &&
            lf_userDistanceNm(front.lat, front.lon) < kUserGroundClearanceNm) {
            AC.stream.pop_front();
            return true;
        }
        return false;
    }
    if (!COLLISION_USER_AIR.value()) {
        return false;
    }
    // The conflict check compares altitudes and looks along the aircraft's heading, so the
    // block gets the point's altitude and heading as well as its position.
    AC.block[kBlockLat] = front.lat;
    AC.block[kBlockLon] = front.lon;
    AC.block[kBlockAlt] = front.alt;
    AC.block[kBlockHeading] = front.hasTrueHeading != 0 ? front.trueHeading : front.track * kDegToRad;
    if (lf_checkUserConflict(AC, 1)) {
        AC.stream.pop_front();
        AC.spawnCheckPending = 1;
        return true;
    }
    return false;
}

bool gf_removeFarthestLiveAc(double DISTANCE_NM)
{
    double best = DISTANCE_NM < 0.0 ? -std::numeric_limits<double>::infinity() : DISTANCE_NM;
    LiveAc* farthest = nullptr;
    for (LiveAc& ac : g_liveAcs) {
        if (ac.state != AcState::active) {
            continue;
        }
        const double d = lf_userDistanceNm(ac.block[kBlockLat], ac.block[kBlockLon]);
        if (d > best + kFarthestMarginNm) {
            best = d;
            farthest = &ac;
        }
    }
    if (farthest == nullptr) {
        return true;
    }
    removeAircraftFromSim(*farthest, "farthest, making room");
    return false;
}

void spawnLiveAc(LiveAc& AC)
{
    std::deque<StreamPos>& stream = AC.stream;
    if (stream.size() < 2) {
        gf_logWarning("{} sz:{}", "spawnLiveAc", stream.size());
        return;
    }
    if (stream[1].repeat != 0) {
        stream[0].repeat = 1;
        stream[0].groundSpeed = 0.0;
        stream[1].groundSpeed = 0.0;
        if (stream.size() > 2 && stream[2].repeat != 0) {
            stream[2].groundSpeed = 0.0;
        }
    } else {
        stream[0].repeat = 0;
    }

    if (AC.flightState == FlightState::birth) {
        lf_chooseLivery(AC);
        if (AC.liveryTitle.empty()) {
            if (!AC.registration.empty()) {
                gf_noteNoMatch(lf_spawnText(AC));
            }
            AC.remove = 1;
            return;
        }
        if (stream.front().airborne != 0) {
            AC.flightState = FlightState::flying;
        } else if (Stand* stand = lf_findSpawnStand(AC)) {
            lf_startAtStand(AC, *stand);
        } else if (AC.remove != 0) {
            return;
        } else if (stream[1].repeat != 0) {
            // standing somewhere that is no stand: wait until it moves
            stream.pop_front();
            return;
        } else {
            AC.flightState = FlightState::taxi;
        }
    }
    if (AC.remove != 0 || AC.removed != 0) {
        return;
    }
    lf_attitudeFromStream(AC);
    gf_setAcState(AC, AcState::adding2sim);
    g_addingStack.push_back(AC.id);
    if (!gf_endsWithGhostMark(AC.callsign)) {
        lf_removeGhostOf(AC.callsign);
    }
}

Stand* lf_findSpawnStand(LiveAc& AC)
{
    if (g_stands.empty() || !gf_parkAirportSet()) {
        return nullptr;
    }
    StreamPos& front = AC.stream.front();
    if (gf_distanceNm(front.lat, front.lon, g_parkAirport.latitude, g_parkAirport.longitude) > kStandAirportReachNm) {
        return nullptr;
    }
    LatLon search{front.lat, front.lon};
    if (front.repeat == 0) {
        const StreamPos& last = AC.stream.back();
        if (AC.stream[1].groundSpeed > kStandStillSpeedKt ||
            gf_distanceNm(last.lat, last.lon, front.lat, front.lon) > kStandStillReachNm) {
            return nullptr;
        }
        search = {last.lat, last.lon};
    }
    Stand* stand = gf_findStandNear(search.lat, search.lon, AC, kSpawnStandReachNm, false);
    if (stand == nullptr) {
        return nullptr;
    }
    if (!g_reservedStand.empty() && stand->name == g_reservedStand) {
        return nullptr;
    }
    const std::string userStand = gf_standAtPosition(g_userAc.latitude, g_userAc.longitude);
    if (!userStand.empty() && stand->name == userStand) {
        return nullptr;
    }
    bool allowed = lf_removeForStand(stand->standId, AC.callsign);
    for (std::size_t i = 0; allowed && i < stand->adjacent.size(); ++i) {
        allowed = lf_adjacentConflict(stand->adjacent[i], AC, *stand);
    }
    if (!allowed) {
        AC.remove = 1;
        return nullptr;
    }
    lf_makeWay(AC, *stand);
    front.repeat = 1;
    front.groundSpeed = 0.0;
    return stand;
}

void lf_attitudeFromStream(LiveAc& AC)
{
    const StreamPos& f = AC.stream.front();
    g_twinCheckIds.push_back(AC.id);

    AC.block[kBlockLat] = f.lat;
    AC.block[kBlockLon] = f.lon;
    AC.block[kBlockAlt] = f.alt;
    if (f.airborne == 0) {
        // On the ground from the first frame: a reported altitude on the ground is no height
        // (feeds give 0 ft there, or a barometric value that lies above or below the ground).
        if (const std::optional<IcaoCode> code = gf_nearestAirport(LatLon{f.lat, f.lon})) {
            if (const std::optional<AirportEntry> airport = gf_airportByCode(code->view())) {
                AC.block[kBlockAlt] = airport->altitude + AC.cgHeight;
            }
        }
    }
    AC.block[kBlockAirspeed] = f.airspeed;
    AC.block[kBlockVerticalSpeed] = f.verticalRate / 60.0; // the block holds feet per second
    AC.block[kBlockBank] = f.hasRoll != 0 ? f.roll : 0.0;

    if (f.airborne == 0) {
        AC.block[kBlockPitch] = kGroundPitchRad;
    } else {
        AC.block[kBlockPitch] = lf_pitchForVerticalRate(f.verticalRate);
    }

    double heading = 0.0;
    if (AC.useRespawnHeading != 0) {
        heading = AC.respawnHeading;
    } else if (AC.flightState == FlightState::parked) {
        heading = AC.heading;
    } else if (AC.stream.size() < 2 || AC.stream[1].repeat != 0) {
        heading = f.track * kDegToRad; // reported tracks are in degrees
    } else {
        heading = gf_bearing(f.lat, f.lon, AC.stream[1].lat, AC.stream[1].lon);
    }
    heading = gf_wrapTwoPi(heading);
    if (heading > 6.283185307178586) {
        heading = 0.0;
    }
    AC.block[kBlockHeading] = heading;
    AC.headingStep = f.airborne != 0 ? 0.0 : heading;
    AC.spawnCheckPending = 0;
}

} // namespace qmt
