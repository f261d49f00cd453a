#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>

#include "core/AcKind.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Text.h"
#include "engine/Commands.h"
#include "engine/Motion.h"
#include "engine/NewPoint.h"
#include "engine/SimRequests.h"
#include "records/ParkAirportIdentity.h"
#include "simlink/SimQueues.h"

namespace qmt {

namespace {

constexpr double kDeadBandDeg = 0.5;
constexpr double kTurningDeg = 3.0;
constexpr double kLongCornerNm = 0.02699784017278618;  // 50 m
constexpr double kSlowCornerKt = 43.0;
constexpr int32_t kLongCornerTicks = 600;
constexpr double kSpeedChangeKt = 5.0;
constexpr double kSpeedChangeNm = 100.0 * kNmPerMetre;
constexpr double kParkStopKt = 5.0;
constexpr double kParkStopReachNm = 0.018898488120950324; // 35 m
constexpr double kTurnSpreadNm = 30.0 * kNmPerMetre;
constexpr double kRunwayExitDeg = 15.0;
constexpr double kRollOutFlapsKt = 90.0;
constexpr double kSteepClimbFpm = 256.0;
constexpr double kTwoPiLimit = 6.283185307178586;

// North and east (metres) of a position in the curve's flat frame.
void lf_toFrame(const GroundCurve& CURVE, double LAT, double LON, double& NORTH, double& EAST)
{
    gf_toFrame(CURVE.originLat, CURVE.originLon, LAT, LON, NORTH, EAST);
}

// A slow corner at the end of a long leg: driven as it comes it would turn late and hard.
bool lf_longSlowCorner(const StreamPos& FRONT, const StreamPos& NEXT)
{
    return lf_distanceNm(FRONT, NEXT) > kLongCornerNm && FRONT.groundSpeed <= kSlowCornerKt &&
           NEXT.playTick >= FRONT.playTick && std::max(NEXT.playTick - FRONT.playTick, kMinLegTicks) >= kLongCornerTicks;
}

} // namespace

double lf_curveTurnRate(const GroundCurve& C)
{
    const double dn = C.endNorth - 2.0 * C.controlNorth;
    const double de = C.endEast - 2.0 * C.controlEast;
    const double dd = dn * dn + de * de;
    const double u = dd > 0.0 ? std::clamp(-(C.controlNorth * dn + C.controlEast * de) / dd, 0.0, 1.0) : 0.0;
    const double vn = C.controlNorth + u * dn;
    const double ve = C.controlEast + u * de;
    const double v2 = vn * vn + ve * ve;
    const double cross = std::abs(C.controlNorth * C.endEast - C.controlEast * C.endNorth);
    return v2 > 1e-6 ? cross / v2 : 0.0;
}

namespace {

// Throttle while departing: idle to a little power by speed, take-off power beyond.
uint32_t lf_departureThrottle(const LiveAc& AC, double FRONT_KT, double NEXT_KT)
{
    if (AC.category == kAcCategoryRotorcraft) {
        return gf_throttleFor(AC, 0);
    }
    if (FRONT_KT < 25.0 && NEXT_KT < 30.0) {
        if (FRONT_KT >= 20.0 || NEXT_KT >= 25.0) {
            return 2;
        }
        return FRONT_KT >= 15.0 || NEXT_KT >= 20.0 ? 1 : 0;
    }
    return 4;
}

// Spoilers and both throttle levers to zero through the engine data, for all but light aircraft.
void lf_zeroEngineData(LiveAc& AC)
{
    gf_setSpoilers(AC, false);
    if (AC.category != kAcCategoryLight) {
        gf_setSpoilersAndThrottle(AC, 0.0, 0.0);
    }
}

void lf_landingRollStep(LiveAc& AC, const StreamPos& FRONT)
{
    const double offRunway = std::abs(gf_wrapDegrees((AC.block[kBlockHeading] - AC.touchdownHeading) * kRadToDeg));
    if (offRunway >= kRunwayExitDeg) {
        gf_setFlaps(AC, 0);
        AC.landingRoll = 0;
        AC.touchdownHeading = 0.0;
        gf_setThrottle(AC, gf_throttleFor(AC, 0));
        lf_zeroEngineData(AC);
        gf_queueLights(AC.objectId, 1, 1, 0, 1, 0, 1, 1);
    } else if (FRONT.groundSpeed <= kRollOutFlapsKt) {
        lf_zeroEngineData(AC);
        gf_setFlaps(AC, 1);
    }
}

// The take-off decision of a departing aircraft at speed.
void lf_checkTakeOff(LiveAc& AC, int32_t T)
{
    const std::deque<StreamPos>& stream = AC.stream;
    bool anyShallow = false;
    bool anyOnGround = false;
    bool allAirborne = true;
    for (std::size_t i = 1; i < stream.size(); ++i) {
        anyShallow = anyShallow || stream[i].verticalRate <= kSteepClimbFpm;
        anyOnGround = anyOnGround || stream[i].airborne == 0;
        allAirborne = allAirborne && stream[i].airborne != 0;
    }
    if (anyShallow) {
        if (lf_canTakeOff(AC) && allAirborne) {
            AC.climbPerTick = AC.climbFactor;
            lf_startTakeOff(AC);
        }
        return;
    }
    AC.climbPerTick =
        anyOnGround ? AC.climbFactor : std::max(stream[1].alt - AC.block[kBlockAlt], 0.1) / static_cast<double>(T);
    lf_startTakeOff(AC);
}

// The path of a taxi leg: it leaves along the nose and reaches the next point along the middle
// of the leg to it and the one after it, or onto a stand along the stand's heading. So the nose
// follows the path driven, never the aircraft sliding along a leg while the nose swings round.
void lf_shapeGroundLeg(LiveAc& AC)
{
    const StreamPos& next = AC.stream[1];
    if (next.repeat != 0 || (AC.flightState != FlightState::taxi && AC.flightState != FlightState::parking)) {
        return;
    }
    const bool onStand = AC.flightState == FlightState::parking && lf_samePosition(next.lat, next.lon, AC.lat, AC.lon);
    lf_shapeLegPath(AC, onStand ? AC.heading : lf_arrivalHeading(AC));
}

// The taxi legs: midpoints of long slow corners and of strong speed changes, parking at the end
// of the stream, the path of the leg.
void lf_planGroundLeg(LiveAc& AC)
{
    std::deque<StreamPos>& stream = AC.stream;
    if (stream[1].repeat == 0) {
        if (stream.size() >= 3 && stream[2].repeat == 0) {
            const double a = std::abs(lf_turnAngle(AC)) * kRadToDeg;
            if (a > 45.0 && lf_longSlowCorner(stream[0], stream[1])) {
                lf_setupGroundTurn(AC);
            } else {
                lf_straightOrTurn(AC);
            }
        } else if (stream.size() >= 3 || AC.extrapolations <= 0) {
            lf_straightOrTurn(AC);
        }
        AC.headingChange = std::abs(gf_wrapDegrees((AC.bearingToNext - AC.block[kBlockHeading]) * kRadToDeg));
        AC.turning = 0;
    }
    if (stream.back().repeat != 0 && AC.flightState == FlightState::taxi && g_parkLoaded.load() != 0) {
        const FlightState previous = AC.previousFlightState;
        const bool justLeft = AC.shortTurnaround == 0 && (previous == FlightState::parked ||
                                                          previous == FlightState::pushing_back ||
                                                          previous == FlightState::pushed_back);
        // it just left a stand: it does not park again before it has flown
        if (!justLeft && AC.extrapolations <= 0) {
            const StreamPos& last = stream.back();
            const double d = gf_distanceNm(AC.block[kBlockLat], AC.block[kBlockLon], last.lat, last.lon);
            if (stream[1].groundSpeed <= kParkStopKt && d <= kParkStopReachNm) {
                try2Park(AC, false);
            }
        } else if (!justLeft) {
            try2Park(AC, AC.touchedDown != 0);
        }
    }
    lf_shapeGroundLeg(AC);
    lf_groundMove(AC);
}

} // namespace

const CategoryTable g_takeOffSpeeds{{90.0, 110.0, 140.0, 150.0, 220.0, 0.0}};

double CategoryTable::at(uint32_t CATEGORY) const
{
    if (CATEGORY >= values.size()) {
        throw std::out_of_range("invalid unordered_map<K, T> key");
    }
    return values[CATEGORY];
}

void nextPosGround(LiveAc& AC)
{
    try {
        switch (AC.flightState) {
        case FlightState::pushing_back:
            lf_pushBackStep(AC);
            break;
        case FlightState::parked:
            lf_leaveStand(AC);
            break;
        default:
            lf_planGroundLeg(AC);
            break;
        }
    } catch (const std::exception& e) {
        gf_logLine("{}: {}, {}, sz:{}", "nextPosGround", e.what(), gf_acDescription(AC), AC.stream.size());
        throw;
    }
}

double lf_turnAngle(const LiveAc& AC)
{
    const std::deque<StreamPos>& stream = AC.stream;
    if (stream.size() < 3) {
        return 0.0;
    }
    const double b = gf_bearing(stream[1].lat, stream[1].lon, stream[2].lat, stream[2].lon);
    return gf_wrapRadians(b - AC.block[kBlockHeading]);
}

void lf_setupGroundTurn(LiveAc& AC)
{
    std::deque<StreamPos>& stream = AC.stream;
    const StreamPos& front = stream[0];
    const StreamPos& next = stream[1];
    StreamPos mid = front;
    mid.lat = (front.lat + next.lat) / 2.0;
    mid.lon = gf_midLongitude(front.lon, next.lon);
    mid.groundSpeed = (front.groundSpeed + next.groundSpeed) / 2.0;
    mid.alt = (front.alt + next.alt) / 2.0;
    mid.playTick = static_cast<int32_t>(std::llround((static_cast<double>(front.playTick) + next.playTick) / 2.0));
    mid.airborne = mid.alt > 0.0 ? 1 : 0;
    mid.alt = std::max(mid.alt, 0.0);
    mid.repeat = 0;
    stream.insert(stream.begin() + 1, mid);
}

void lf_straightOrTurn(LiveAc& AC)
{
    const StreamPos& front = AC.stream[0];
    const StreamPos& next = AC.stream[1];
    if ((front.groundSpeed > 0.0 || next.groundSpeed > 0.0) &&
        std::abs(front.groundSpeed - next.groundSpeed) > kSpeedChangeKt && lf_distanceNm(front, next) >= kSpeedChangeNm) {
        lf_setupGroundTurn(AC);
    }
}

void lf_setupCurve(LiveAc& AC)
{
    std::deque<StreamPos>& stream = AC.stream;
    if (stream[2].groundSpeed == 0.0) {
        stream[2].groundSpeed = (stream[0].groundSpeed + stream[1].groundSpeed) / 2.0;
    }
    GroundCurve& c = AC.curve;
    c.originLat = AC.block[kBlockLat];
    c.originLon = AC.block[kBlockLon];
    c.startT = 0.0;
    c.endT = 1.0;
    lf_toFrame(c, stream[2].lat, stream[2].lon, c.endNorth, c.endEast);
    lf_toFrame(c, stream[1].lat, stream[1].lon, c.controlNorth, c.controlEast);
    // the corner point lives on only as the control point
    stream.erase(stream.begin() + 1);
}

bool gf_bezierPoint(const GroundCurve& CURVE, double T, double& LAT, double& LON, double& HEADING)
{
    if (!CURVE.running() || !(T >= CURVE.startT && T <= CURVE.endT)) {
        return false;
    }
    const double u = (T - CURVE.startT) / (CURVE.endT - CURVE.startT);
    if (!(u >= 0.0 && u <= 1.0)) {
        return false;
    }
    const double north = 2.0 * u * (1.0 - u) * CURVE.controlNorth + u * u * CURVE.endNorth;
    const double east = 2.0 * u * (1.0 - u) * CURVE.controlEast + u * u * CURVE.endEast;
    const double dNorth = 2.0 * u * (CURVE.endNorth - CURVE.controlNorth) + 2.0 * (1.0 - u) * CURVE.controlNorth;
    const double dEast = 2.0 * u * (CURVE.endEast - CURVE.controlEast) + 2.0 * (1.0 - u) * CURVE.controlEast;
    HEADING = gf_wrapTwoPi(std::atan2(dEast, dNorth));
    gf_fromFrame(CURVE.originLat, CURVE.originLon, north, east, LAT, LON);
    return true;
}

void gf_toFrame(double ORIGIN_LAT, double ORIGIN_LON, double LAT, double LON, double& NORTH, double& EAST)
{
    NORTH = (LAT - ORIGIN_LAT) * kFrameMetresPerDegree;
    EAST = gf_lonDifference(LON, ORIGIN_LON) * std::cos(ORIGIN_LAT * kDegToRad) * kFrameMetresPerDegree;
}

void gf_fromFrame(double ORIGIN_LAT, double ORIGIN_LON, double NORTH, double EAST, double& LAT, double& LON)
{
    LAT = ORIGIN_LAT + NORTH / kFrameMetresPerDegree;
    LON = gf_wrapDegrees(ORIGIN_LON + EAST / (std::cos(ORIGIN_LAT * kDegToRad) * kFrameMetresPerDegree));
}

void lf_groundMove(LiveAc& AC)
{
    const StreamPos& front = AC.stream[0];
    const StreamPos& next = AC.stream[1];
    if (next.repeat != 0) {
        // standing: the stop lasts as long as reported, at least 25 ticks
        const int32_t reported = next.playTick - front.playTick;
        const int32_t d = reported < 0 ? kMinLegTicks : std::max(reported, kMinLegTicks);
        lf_adjustPlayTick(AC, std::max(front.playTick - lf_now() + d, kMinLegTicks));
        return;
    }
    AC.pitchRateLive = AC.pitchRate;
    const double distance = lf_distanceNm(front, next);
    const int32_t w = lf_segmentTicks(front, next);
    if (AC.curve.running() || AC.turning != 0) {
        const double a = AC.curve.running() ? AC.turnAngle : AC.headingChange;
        // degrees over a rate in radians per tick: a rough count of the ticks the turn takes
        const int32_t turnTicks = gf_roundNarrow<int32_t>(a / AC.pitchRateLive / 100.0);
        if (a > 0.0 && distance > 0.0) {
            const double r = static_cast<double>(w) / std::max(turnTicks, 1);
            if (a <= 45.0) {
                if (r >= 1.2) {
                    const double m = std::min({r, r * 10.0 / a, r * kTurnSpreadNm / distance});
                    if (m > 0.0) {
                        AC.pitchRateLive /= m;
                    }
                } else if (r > 0.0) {
                    AC.pitchRateLive /= r;
                }
            } else if (a >= 90.0) {
                // never faster than the aircraft turns: the leg takes longer instead (below)
                AC.earlyWindow = std::max(AC.earlyWindow, 2000);
                AC.lateWindow = std::max(AC.lateWindow, 2000);
            }
        }
    }
    lf_adjustPlayTick(AC, w);
}

void lf_rollOnGround(LiveAc& AC)
{
    const StreamPos& front = AC.stream[0];
    const StreamPos& next = AC.stream[1];
    if (AC.flightState == FlightState::flying || AC.flightState == FlightState::parked) {
        lf_setFlightState(AC, FlightState::taxi);
    } else if (AC.departing != 0) {
        gf_setThrottle(AC, lf_departureThrottle(AC, front.groundSpeed, next.groundSpeed));
    } else if (AC.landingRoll != 0) {
        lf_landingRollStep(AC, front);
    } else {
        gf_setThrottle(AC, gf_throttleFor(AC, 0));
    }
    if (AC.landingRoll == 0 && AC.departing == 0) {
        lf_shrinkWindows(AC);
    }
    if (AC.flareStage == 0 && AC.flightState != FlightState::take_off) {
        AC.block[kBlockPitch] = AC.groundPitch;
        AC.block[kBlockBank] = 0.0;
        AC.pitchStep = 0.0;
        AC.bankStep = 0.0;
    }
    const int32_t t = lf_ticksUntil(next);
    if (AC.curve.running()) {
        AC.curveStep = 1.0 / t;
    }
    lf_startLegPath(AC, t);
    AC.groundSpeed = AC.flightState == FlightState::pushing_back ? -next.groundSpeed : next.groundSpeed;
    // A helicopter lifts off where it is, at any speed, when the reports leave the ground.
    const bool liftOff = AC.category == kAcCategoryRotorcraft && next.airborne != 0;
    if (AC.departing != 0 && AC.flightState != FlightState::take_off &&
        (front.groundSpeed >= kTakeOffRunKt || liftOff)) {
        lf_checkTakeOff(AC, t);
    }
}

bool lf_canTakeOff(const LiveAc& AC)
{
    const double speed = g_takeOffSpeeds.at(AC.category);
    if (AC.category == kAcCategoryRotorcraft) {
        return true;
    }
    const std::deque<StreamPos>& stream = AC.stream;
    for (std::size_t i = 1; i < stream.size(); ++i) {
        if (stream[i].groundSpeed < speed) {
            return false;
        }
    }
    return true;
}

void lf_startTakeOff(LiveAc& AC)
{
    AC.transitionSlots = std::max<int32_t>(static_cast<int32_t>(AC.rotationSlots), 1);
    AC.block[kBlockBank] = 0.0;
    AC.bankStep = 0.0;
    AC.pitchStep = (AC.takeOffPitch - AC.block[kBlockPitch]) / AC.transitionSlots;
    if (AC.departing == 0) {
        lf_towedTakeOffCheck(AC);
    }
    lf_setFlightState(AC, FlightState::take_off);
    AC.headingStep = 0.0;
    AC.curve.clear();
    // the runway is straight ahead: no turn of the taxi goes on into the air
    AC.turning = 0;
    // a nose still coming down from a landing would hold the pitch of the next flight
    AC.derotating = 0;
    if (AC.landingRoll != 0) {
        // touch-and-go
        AC.landingRoll = 0;
        AC.approach = 0;
        AC.touchedDown = 0;
        gf_setThrottle(AC, 4);
        gf_setSpoilers(AC, false);
        gf_setFlaps(AC, 1);
    }
}

void lf_turnToward(LiveAc& AC, double TARGET)
{
    lf_turnTowardAt(AC, TARGET, AC.pitchRateLive);
}

void lf_turnTowardAt(LiveAc& AC, double TARGET, double RATE)
{
    double& heading = AC.block[kBlockHeading];
    const double h = heading * kRadToDeg;
    const double x = TARGET * kRadToDeg;
    const double diff = std::abs(gf_wrapDegrees(x - h));
    if (diff <= kDeadBandDeg) {
        return;
    }
    bool clockwise = false;
    if (h <= 180.0) {
        clockwise = x > h && h + 180.0 > x;
    } else {
        clockwise = !(h > x && x > h - 180.0);
    }
    // the last step of a turn ends on the target instead of swinging past it
    const double step = std::min(RATE, diff * kDegToRad);
    double turned = gf_wrapTwoPi(heading + (clockwise ? step : -step));
    if (turned > kTwoPiLimit) {
        turned = 0.0;
    }
    heading = turned;
}

} // namespace qmt
