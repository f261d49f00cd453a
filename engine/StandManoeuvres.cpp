#include <algorithm>
#include <cmath>

#include "core/Geo.h"
#include "core/Log.h"
#include "core/Text.h"
#include "core/WeekTime.h"
#include "engine/BirthSpawn.h"
#include "engine/Commands.h"
#include "engine/Motion.h"
#include "engine/RemovalRules.h"
#include "engine/StandRules.h"
#include "records/ParkAirportIdentity.h"
#include "records/StaticPosition.h"
#include "records/UserAircraft.h"
#include "simlink/SimQueues.h"
#include "stands/LearnedOptions.h"
#include "stands/StandTable.h"

namespace qmt {

namespace {

constexpr double kParkReachNm = 0.010799136069114472;       // 20 m
constexpr double kTowedParkReachNm = 0.029697624190064796;  // 55 m
constexpr double kArrivedNm = 0.0010799136069114472;        // 2 m
constexpr int32_t kMinDriveOnTicks = 100;
constexpr int32_t kStopOnStandTicks = 50;
constexpr double kPushBackRadii = 2.5;
constexpr double kPullOutSpans = 2.0;
constexpr double kPushBackEndNm = 900.0;
constexpr int32_t kEventArrived = 0;


// Ticks of a stand manoeuvre over the distance at the aircraft's stand speed.
int32_t lf_manoeuvreTicks(const LiveAc& AC, double FROM_LAT, double FROM_LON, double TO_LAT, double TO_LON)
{
    return lf_legTicks(gf_distanceNm(FROM_LAT, FROM_LON, TO_LAT, TO_LON), AC.turnFactor);
}

// A point of a stand manoeuvre: on the ground at the stand speed, nothing else reported.
StreamPos lf_manoeuvrePoint(LatLon AT, double SPEED, int32_t PLAY_TICK)
{
    StreamPos p;
    p.lat = AT.lat;
    p.lon = AT.lon;
    p.groundSpeed = SPEED;
    p.playTick = PLAY_TICK;
    return p;
}

// NAV, BEACON, TAXI and LOGO on; LANDING, STROBES and CABIN off.
void lf_standLights(const LiveAc& AC)
{
    gf_queueLights(AC.objectId, 1, 1, 0, 1, 0, 1, 0);
}

LatLon lf_offset(LatLon FROM, double BEARING, double DISTANCE_NM)
{
    return gf_destinationPoint(FROM, BEARING, DISTANCE_NM * kFeetPerNm);
}

} // namespace

void lf_leaveStand(LiveAc& AC)
{
    lf_resetWindows(AC);
    if (AC.pullOutPending != 0) {
        const StreamPos& last = AC.stream.back();
        const double b = gf_bearing(AC.lat, AC.lon, last.lat, last.lon);
        const double a = std::round(gf_wrapDegrees((b - AC.heading) * kRadToDeg));
        if (std::abs(a) < 90.0) {
            lf_pullOut(AC);
        } else {
            lf_pushBack(AC);
        }
    }
    lf_groundMove(AC);
}

void lf_pullOut(LiveAc& AC)
{
    AC.pullOutPending = 0;
    AC.extrapolations = 0;
    AC.turning = 0;
    const double speed = AC.turnFactor;
    const LatLon target = lf_offset({AC.lat, AC.lon}, AC.heading, kPullOutSpans * AC.halfSpan);
    const int32_t ticks = lf_manoeuvreTicks(AC, AC.block[kBlockLat], AC.block[kBlockLon], target.lat, target.lon);
    AC.stream.front().groundSpeed = speed;
    AC.stream.resize(1);
    AC.stream.push_back(lf_manoeuvrePoint(target, speed, lf_now() + ticks));
    lf_setFlightState(AC, FlightState::taxi);
    AC.bearingToNext = AC.block[kBlockHeading];
    lf_standLights(AC);
    gf_queueEngineStart(AC.objectId);
    gf_setThrottle(AC, 0);
    gf_setFlaps(AC, 1);
    gf_logLine("{:8}: {:8} pulling out", gf_standName(AC.standId), AC.callsign);
}

void lf_pushBack(LiveAc& AC)
{
    AC.extrapolations = 0;
    AC.turning = 0;
    const double back = gf_wrapTwoPi(AC.heading + PI);
    const Stand* stand = gf_standById(AC.standId);
    if (stand == nullptr) {
        return; // it stays parked and tries again at its next point
    }
    const double speed = AC.turnFactor;
    const auto& b = AC.block;
    const LatLon end = lf_offset({b[kBlockLat], b[kBlockLon]}, back, kPushBackRadii * stand->radius);
    AC.stream.front().groundSpeed = speed;
    AC.bearingToNext = b[kBlockHeading];
    const int32_t t1 = lf_manoeuvreTicks(AC, b[kBlockLat], b[kBlockLon], end.lat, end.lon);
    AC.stream.resize(1);
    AC.stream.push_back(lf_manoeuvrePoint(end, speed, lf_now() + t1));
    lf_setupGroundTurn(AC);
    const StreamPos& mid = AC.stream[1];
    const LatLon right = lf_offset(end, back + PI / 2.0, AC.halfSpan);
    const LatLon left = lf_offset(end, back - PI / 2.0, AC.halfSpan);
    const int32_t t2 = lf_manoeuvreTicks(AC, mid.lat, mid.lon, right.lat, right.lon);
    const int32_t sideTick = lf_now() + t1 / 2 + t2;
    AC.savedPushBackPoint = lf_manoeuvrePoint(right, speed, sideTick);
    AC.stream.push_back(lf_manoeuvrePoint(left, speed, sideTick));
    lf_standLights(AC);
    lf_setFlightState(AC, FlightState::pushing_back);
    AC.pushBackCountdown = 2;
}

void lf_pushBackStep(LiveAc& AC)
{
    const int32_t countdown = static_cast<int32_t>(AC.pushBackCountdown) - 1;
    AC.pushBackCountdown = static_cast<uint32_t>(std::max(countdown, 0));
    std::deque<StreamPos>& stream = AC.stream;
    if (countdown == 1 && stream.size() >= 3) {
        // halfway back: the reports may have told which way the tail swings
        if (AC.pushBackTurnKnown != 0) {
            if (AC.pushBackTurnRight != 0) {
                stream.pop_back();
                stream.push_back(AC.savedPushBackPoint);
            }
            lf_setupCurve(AC);
            const int32_t s = gf_roundNarrow<int32_t>(90.0 / AC.pitchRateLive / 100.0);
            AC.curveStep = 1.0 / std::max(s, 1);
            AC.turnAngle = 90.0;
            lf_groundMove(AC);
            return;
        }
        stream.pop_back();
    } else if (countdown <= 0) {
        AC.bearingToNext = AC.block[kBlockHeading];
        gf_queueEngineStart(AC.objectId);
        gf_setThrottle(AC, 0);
        gf_setFlaps(AC, 1);
        lf_setFlightState(AC, FlightState::pushed_back);
        AC.pushBackCountdown = 1;
        AC.pushBackDistance = kPushBackEndNm;
        AC.extrapolations = 0;
        AC.pullOutPending = 0;
    }
    lf_groundMove(AC);
}

void try2Park(LiveAc& AC, bool TOWED)
{
    if (AC.stream.empty()) {
        gf_logWarning("{} empty sz?", "try2Park");
        return;
    }
    const StreamPos& last = AC.stream.back();
    if (lf_samePosition(last.lat, last.lon, AC.parkTryLat, AC.parkTryLon)) {
        return; // already tried there
    }
    AC.parkTryLat = last.lat;
    AC.parkTryLon = last.lon;
    Stand* stand = gf_findStandNear(last.lat, last.lon, AC, TOWED ? kTowedParkReachNm : kParkReachNm, TOWED);
    if (stand == nullptr) {
        return;
    }
    if (!g_reservedStand.empty() && g_reservedStand == stand->name) {
        return;
    }
    const std::string userStand = gf_standAtPosition(g_userAc.latitude, g_userAc.longitude);
    if (!userStand.empty() && userStand == stand->name) {
        return;
    }
    // A stand that another live aircraft is driving onto is taken.
    const bool taken = std::any_of(g_liveAcs.begin(), g_liveAcs.end(), [&](const LiveAc& OTHER) {
        return &OTHER != &AC && OTHER.standId == stand->standId && OTHER.flightState == FlightState::parking &&
               OTHER.state == AcState::active;
    });
    if (taken) {
        return;
    }
    for (LiveAc& other : g_liveAcs) {
        if (&other != &AC && other.standId == stand->standId && other.flightState == FlightState::parked &&
            other.state == AcState::active) {
            gf_logLine("{:8}: {:8} removed, {} wants to park there", stand->name, other.callsign, AC.callsign);
            removeAircraftFromSim(other, "another live aircraft parks there");
        }
    }
    for (const uint32_t adjacent : stand->adjacent) {
        lf_removeAdjacentForParking(adjacent, AC, *stand);
    }
    lf_makeWay(AC, *stand);
    AC.lat = stand->latitude;
    AC.lon = stand->longitude;
    AC.heading = stand->heading;
    AC.standId = stand->standId;
    AC.noCabinLight = stand->cargo;
    AC.stream.resize(1);
    // A curve set up toward the points just dropped would lead it past the stand.
    AC.curve.clear();
    AC.curveT = 0.0;
    AC.turning = 0;
    lf_setFlightState(AC, FlightState::parking);
    drive2Stand(AC, stand->latitude, stand->longitude, stand->heading);
}

void drive2Stand(LiveAc& AC, double LAT, double LON, double HEADING)
{
    if (AC.stream.empty()) {
        gf_logWarning("{} empty sz?", "drive2Stand");
        return;
    }
    StreamPos& last = AC.stream.back();
    const int32_t t = std::max(lf_manoeuvreTicks(AC, last.lat, last.lon, LAT, LON), kMinDriveOnTicks);
    const StreamPos& front = AC.stream.front();
    StreamPos d;
    d.lat = LAT;
    d.lon = LON;
    d.alt = AC.block[kBlockAlt];
    d.groundSpeed = AC.turnFactor;
    d.airspeed = AC.turnFactor;
    d.track = HEADING * kRadToDeg;
    d.playTick = front.playTick + t;
    d.repeat = lf_samePosition(last.lat, last.lon, LAT, LON) ? 1 : 0;
    d.recordFlag = front.recordFlag;
    d.roll = AC.block[kBlockBank];
    d.hasRoll = 1;
    StreamPos stop = d;
    stop.groundSpeed = 0.0;
    stop.airspeed = 0.0;
    stop.repeat = 1;
    stop.playTick = front.playTick + kStopOnStandTicks + t;
    last.groundSpeed = AC.turnFactor;
    AC.stream.push_back(d);
    AC.stream.push_back(stop);
    AC.bearingToNext = HEADING;
    if (AC.extrapolations > 0) {
        AC.extrapolations = 0;
        lf_resetWindows(AC);
    }
}

void lf_arriveAtStand(LiveAc& AC)
{
    Stand* stand = gf_standById(AC.standId);
    if (stand != nullptr && stand->liveHere != 0) {
        // another live aircraft stands there
        AC.extrapolations = 1;
        removeAircraftFromSim(AC, "its stand is taken");
        stand->liveHere = 1; // the removal freed the stand of the other one
        return;
    }
    auto& b = AC.block;
    if (gf_distanceNm(b[kBlockLat], b[kBlockLon], AC.lat, AC.lon) > kArrivedNm) {
        lf_setFlightState(AC, FlightState::taxi);
        return;
    }
    lf_setFlightState(AC, FlightState::parked);
    // the last leg's turn rate may not have brought it round: it ends as the stand is laid out
    b[kBlockLat] = AC.lat;
    b[kBlockLon] = AC.lon;
    b[kBlockHeading] = AC.heading;
    AC.timeStamp = g_weekTime.load();
    gf_setStandOccupied(static_cast<int32_t>(AC.standId), 1);
    if (AC.shortTurnaround != 0) {
        gf_logLine("          towed aircraft {} parks", gf_acDescription(AC));
    }
    AC.stream.front().repeat = 1;
    AC.parkStart = gf_nowTicks100ns();
    AC.standDistanceMax = 0.0;
    AC.standLeaveCount = 0;
    lf_markCargoStand(AC);
    lf_setParkedConfig(AC);
    gf_logLine("{:8}: {:8} arrived at stand", gf_standName(AC.standId), AC.callsign);
    g_twinCheckIds.push_back(AC.id);
    lf_addRealStandOption(static_cast<int32_t>(AC.standId), AC, kEventArrived);
    lf_checkMaxPark(0);
}

} // namespace qmt
