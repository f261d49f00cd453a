#include "engine/NewPoint.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "core/AcKind.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "engine/BirthSpawn.h"
#include "engine/Commands.h"
#include "engine/Motion.h"
#include "records/ParkAirportIdentity.h"
#include "records/StaticPosition.h"
#include "simlink/SimQueues.h"
#include "stands/LearnedOptions.h"
#include "stands/StandTable.h"

namespace qmt {

namespace {

constexpr std::size_t kMaxStreamPoints = 200;
constexpr int32_t kReachWindowTicks = 3000;
constexpr double kReachableKt = 50.0;
constexpr double kReachableFactor = 1.3;
constexpr double kJitterDeg = 0.00015;
constexpr double kShortStopNm = 0.011879049676025918;      // 22 m
constexpr int32_t kShortStopTicks = 1500;
constexpr std::size_t kShortStopLookBack = 5;
constexpr double kDepartingStopKt = 50.0;
constexpr double kDepartingRepeatKt = 30.0;
constexpr double kRollOutCapKt = 40.0;
constexpr double kStandLimitNm = 0.0458963282937365;       // 85 m
constexpr double kStandStepNm = 0.0016198704103671706;     // 3 m
constexpr double kStandGoneNm = 0.10799136069114472;       // 200 m
constexpr double kPushedBackHoldSpans = 2.75;
constexpr double kPushedBackTaxiSpans = 6.0;
// A report farther from the last one than this many times the category's greatest speed
// allows is no position of the aircraft; over at least this many ticks.
constexpr double kOutlierSpeedFactor = 1.5;
constexpr int32_t kLeastOutlierSpanTicks = 200;
constexpr double kBehindDeg = 90.0;
constexpr double kRollOutBehindDeg = 150.0;
constexpr int32_t kWeekTicks = 60480000;                   // 604800 s
constexpr int32_t kEventLeaving = 2;
constexpr int32_t kEventGone = 3;
constexpr uint32_t kThrottleIdle = 0;
constexpr uint32_t kThrottleClimb = 3;
constexpr uint32_t kFlapsTakeOff = 1;


// Angle (radians) minus the aircraft's current heading, in degrees within -180..180.
double lf_offHeadingDeg(const LiveAc& AC, double ANGLE_RAD)
{
    return gf_wrapDegrees((ANGLE_RAD - AC.block[kBlockHeading]) * kRadToDeg);
}

// Magnitude of the turn from the heading to the bearing from FROM to TO, degrees.
double lf_turnToDeg(const LiveAc& AC, const StreamPos& FROM, const StreamPos& TO)
{
    return std::abs(lf_offHeadingDeg(AC, gf_bearing(FROM.lat, FROM.lon, TO.lat, TO.lon)));
}

// A held aircraft can drive to the report at a plausible speed before it is due (within the
// late window that the report's acceptance gives it). Real reports of a taxiing aircraft come
// 10 to 40 s apart, so the next one is often a few hundred metres on.
bool lf_canReach(const LiveAc& AC, const StreamPos& POINT)
{
    const int64_t ticks = static_cast<int64_t>(POINT.playTick) + kReachWindowTicks - lf_now();
    const double seconds = static_cast<double>(std::max<int64_t>(ticks, kMinLegTicks)) / 100.0;
    const double speed = std::max(kReachableKt, kReachableFactor * POINT.groundSpeed);
    return lf_distanceNm(POINT, AC.stream.front()) <= speed * seconds / 3600.0;
}

void lf_stopHolding(LiveAc& AC)
{
    AC.holding = 0;
    AC.holdStartTick = 0;
}

// Lights of a departing aircraft: all on but the cabin.
void lf_departureLights(const LiveAc& AC)
{
    gf_queueLights(AC.objectId, 1, 1, 1, 1, 1, 1, 0);
}

// A departure begins: the touch-and-go climbs away at once, a taxiing aircraft starts from
// idle, hence the throttle comes from the caller. Spoilers go in either way: nothing retracts
// them in flight.
void lf_configureDeparture(LiveAc& AC, uint32_t THROTTLE)
{
    AC.departing = 1;
    gf_setThrottle(AC, THROTTLE);
    gf_setSpoilers(AC, false);
    gf_setFlaps(AC, kFlapsTakeOff);
    AC.approach = 0;
    AC.touchedDown = 0;
    AC.climbConfigured = 0;
    lf_departureLights(AC);
    lf_resetWindows(AC);
}

// Everything of the stream stands still: the aircraft is at the end of its stream and the new
// report too shows it standing, or the report moves after a short stop that is to be forgotten.
void lf_trimStops(LiveAc& AC, const StreamPos& POINT)
{
    std::deque<StreamPos>& stream = AC.stream;
    if (POINT.airborne != 0 || stream.empty() || stream.back().repeat == 0) {
        return;
    }
    if (POINT.repeat != 0) {
        const bool allRepeats = std::all_of(stream.begin(), stream.end(),
                                            [](const StreamPos& P) { return P.repeat != 0; });
        if (allRepeats && stream.size() >= 2) {
            stream.resize(1);
        }
        return;
    }
    if (stream.size() < 3) {
        return;
    }
    const std::size_t count = stream.size();
    const std::size_t lowest = count - 2 >= kShortStopLookBack - 1 ? count - 2 - (kShortStopLookBack - 1) : 0;
    for (std::size_t i = count - 2;; --i) {
        const StreamPos& p = stream[i];
        if (p.repeat == 0) {
            if (stream.back().playTick - p.playTick < kShortStopTicks || lf_distanceNm(p, POINT) <= kShortStopNm) {
                stream.resize(i + 1);
            }
            return;
        }
        if (i == lowest) {
            return;
        }
    }
}

// Departure or touch-and-go of an active aircraft on the ground, seen from the new report.
void lf_checkDeparture(LiveAc& AC, const StreamPos& POINT)
{
    if (AC.departing != 0 || AC.onGround == 0 || AC.state != AcState::active) {
        return;
    }
    const StreamPos* last = AC.stream.empty() ? nullptr : &AC.stream.back();
    if (AC.landingRoll == 0) {
        const bool fast = last != nullptr && POINT.groundSpeed >= kTakeOffRunKt && last->groundSpeed >= kTakeOffRunKt;
        if (AC.flightState == FlightState::taxi && (POINT.airborne != 0 || fast)) {
            lf_towedTakeOffCheck(AC);
        }
        return;
    }
    if (last != nullptr && last->airborne != 0 && POINT.airborne != 0) {
        // the landing turned into a touch-and-go
        AC.flightState = FlightState::taxi;
        lf_configureDeparture(AC, kThrottleClimb);
    }
}

bool lf_checkParked(LiveAc& AC, StreamPos& POINT)
{
    if (AC.state == AcState::buffer || AC.state == AcState::adding2sim) {
        return false;
    }
    AC.keepParked = 1;
    const double d = gf_distanceNm(POINT.lat, POINT.lon, AC.lat, AC.lon);
    const double limit = AC.previousFlightState == FlightState::parking ? 2.0 * kStandLimitNm : kStandLimitNm;
    if (d <= limit) {
        AC.parkStart = gf_nowTicks100ns();
        if (AC.standDistanceMax == 0.0) {
            AC.standDistanceFirst = d;
            AC.standDistanceMax = d;
            AC.standLeaveCount = 0;
        } else if (d >= AC.standDistanceMax + kStandStepNm) {
            AC.standDistanceMax = d;
            ++AC.standLeaveCount;
            const double span = d - AC.standDistanceFirst;
            if ((AC.standLeaveCount >= 3 && span >= AC.halfSpan / 2.0) || span > AC.halfSpan) {
                lf_settleParked(AC, POINT);
                return true;
            }
        } else if (d <= AC.standDistanceMax - kStandStepNm) {
            AC.standLeaveCount = 0;
        }
        AC.pullOutPending = 0;
        return false;
    }
    if (AC.flightState == FlightState::parking) {
        // it drives on past the stand it was heading for
        lf_setFlightState(AC, FlightState::taxi);
        POINT.repeat = 0;
        return true;
    }
    if (d > kStandGoneNm) {
        lf_addRealStandOption(static_cast<int32_t>(AC.standId), AC, kEventGone);
        removeAircraftFromSim(AC, "left its stand out of reach");
        return false;
    }
    lf_settleParked(AC, POINT);
    return true;
}

void lf_checkPushingBack(LiveAc& AC, const StreamPos& POINT)
{
    if (STRAIGHT_PBS_ONLY.value() || AC.pushBackCountdown != 2) {
        return;
    }
    double direction = 0.0;
    if (POINT.hasTrueHeading != 0) {
        direction = POINT.trueHeading;
    } else if (POINT.track != 0.0) {
        direction = POINT.track * kDegToRad;
    } else {
        return; // a track of exactly 0 is no track
    }
    AC.pushBackTurnRight = lf_offHeadingDeg(AC, direction) > 0.0 ? 1 : 0;
    AC.pushBackTurnKnown = 1;
}

bool lf_checkPushedBack(LiveAc& AC, StreamPos& POINT)
{
    const double d = gf_distanceNm(AC.block[kBlockLat], AC.block[kBlockLon], POINT.lat, POINT.lon);
    if ((d <= kPushedBackHoldSpans * AC.halfSpan || d <= AC.pushBackDistance) &&
        d <= kPushedBackTaxiSpans * AC.halfSpan) {
        // It waits for the taxi to begin; the reports that keep coming show it is no stale hold.
        AC.holding = 1;
        AC.holdStartTick = static_cast<uint32_t>(lf_now());
        AC.pushBackDistance = d;
        return false;
    }
    POINT.repeat = 0;
    if (AC.extrapolations > 0) {
        if (!AC.stream.empty()) {
            AC.stream.front().playTick = lf_now() + 1;
        }
        AC.extrapolations = 0;
        lf_resetWindows(AC);
    }
    AC.pushBackTurnKnown = 0;
    AC.pushBackCountdown = 0;
    lf_setFlightState(AC, FlightState::taxi);
    lf_forgetStand(AC);
    lf_stopHolding(AC);
    return true;
}

// In the air a report is taken only where the aircraft can fly to it from the last point at a
// speed its category flies: one position off by kilometres would turn it on the spot.
bool lf_isFlyable(const LiveAc& AC, const StreamPos& POINT)
{
    if (POINT.airborne == 0 || AC.onGround != 0 || AC.stream.empty() || AC.extrapolations > 0) {
        return true;
    }
    const StreamPos& last = AC.stream.back();
    const int32_t ticks = std::max(POINT.playTick - last.playTick, kLeastOutlierSpanTicks);
    const double kt = lf_distanceNm(last, POINT) * 360000.0 / ticks;
    if (kt <= kOutlierSpeedFactor * g_greatestAirSpeeds.at(AC.category)) {
        return true;
    }
    gf_logLine("{} report dropped: {:.0f} kt from the last one", AC.callsign, kt);
    return false;
}

bool lf_checkMoving(LiveAc& AC, StreamPos& POINT)
{
    if (AC.approach != 0 || AC.landingRoll != 0) {
        return checkNewPosDuringLanding(AC, POINT);
    }
    const bool plausible = lf_isNewPointPlausible(AC, POINT) && lf_isFlyable(AC, POINT);
    if (!plausible || AC.extrapolations <= 0) {
        return plausible;
    }
    if (AC.stream.empty()) {
        gf_logWarning("{} empty sz?", "checkExtendingSituations");
        return false;
    }
    // A report that turns it back (a hold, a go-around, a circuit) is followed like any other.
    AC.extrapolations = 0;
    lf_resetWindows(AC);
    AC.stream.front().playTick = lf_now() + 1;
    lf_stopHolding(AC);
    return true;
}

} // namespace

void decodeExisting(LiveAc& AC, StreamPos POINT)
{
    if (AC.stream.size() > kMaxStreamPoints) {
        removeAircraftFromSim(AC, "too many points");
        return;
    }
    try {
        if (AC.holding != 0 && !AC.stream.empty() &&
            lf_distanceNm(POINT, AC.stream.front()) * kMetresPerNm > HOLDING_THRESHOLD_METERS.value() &&
            !lf_canReach(AC, POINT)) {
            lf_stopHolding(AC);
            removeAircraftFromSim(AC, "report out of reach while holding");
            return;
        }
        if (AC.flightState == FlightState::birth) {
            if (AC.stream.empty() || !lf_isNewPointPlausible(AC, POINT)) {
                return;
            }
            POINT.playTick = std::max(POINT.playTick, AC.stream.back().playTick + 1);
            AC.stream.push_back(POINT);
            return;
        }
        if (!checkExtendingSituations(AC, POINT)) {
            return;
        }
        lf_trimStops(AC, POINT);
        if (!AC.stream.empty() && POINT.playTick <= AC.stream.back().playTick) {
            POINT.playTick = AC.stream.back().playTick + 1;
        }
        lf_checkDeparture(AC, POINT);
        AC.stream.push_back(POINT);
        if (AC.stream.size() == 2 && AC.stream[0].repeat != 0 && AC.stream[1].repeat != 0) {
            AC.stream.front().playTick = lf_now() + 1;
            AC.stream.front().groundSpeed = POINT.groundSpeed;
        }
    } catch (const std::exception& e) {
        gf_logWarning("{} exception {}", "decodeExisting", e.what());
        throw;
    }
}

bool checkExtendingSituations(LiveAc& AC, StreamPos& POINT)
{
    switch (AC.flightState) {
    case FlightState::parking:
    case FlightState::parked:
        return lf_checkParked(AC, POINT);
    case FlightState::pushing_back:
        lf_checkPushingBack(AC, POINT);
        return false;
    case FlightState::pushed_back:
        return lf_checkPushedBack(AC, POINT);
    case FlightState::taxi:
    case FlightState::take_off:
    case FlightState::flying:
    case FlightState::birth:
        return lf_checkMoving(AC, POINT);
    }
    return false;
}

bool lf_isNewPointPlausible(LiveAc& AC, StreamPos& POINT)
{
    if (AC.stream.empty()) {
        return true; // nothing to compare with
    }
    const StreamPos& last = AC.stream.back();
    if (lf_samePosition(POINT, last)) {
        POINT.repeat = 1;
    }
    if (AC.category == kAcCategoryRotorcraft) {
        return true;
    }
    const bool inFlight = POINT.airborne != 0 || (AC.state == AcState::active && AC.onGround == 0);
    if (POINT.repeat == 0) {
        const bool jitter = std::abs(POINT.lat - last.lat) < kJitterDeg && std::abs(POINT.lon - last.lon) < kJitterDeg;
        if (jitter) {
            if (inFlight) {
                return false;
            }
            if (AC.departing != 0 && POINT.groundSpeed > 0.0 && last.groundSpeed >= kDepartingStopKt) {
                return false;
            }
            // a standing aircraft whose reported position wobbles a little
            POINT = last;
            POINT.groundSpeed = 0.0;
            POINT.repeat = 1;
            return true;
        }
        if (POINT.groundSpeed != 0.0) {
            return true;
        }
        if (AC.departing == 0 && POINT.airborne == 0) {
            return true;
        }
        return last.groundSpeed < kDepartingStopKt;
    }
    if (inFlight) {
        return false;
    }
    if (AC.departing != 0 && POINT.groundSpeed > 0.0 && last.groundSpeed >= kDepartingRepeatKt) {
        return false;
    }
    POINT.groundSpeed = std::min(POINT.groundSpeed, 0.0);
    return true;
}

bool checkNewPosDuringLanding(LiveAc& AC, StreamPos& POINT)
{
    std::deque<StreamPos>& stream = AC.stream;
    if (stream.empty()) {
        gf_logWarning("{} empty sz?", "checkNewPosDuringLanding");
        return false;
    }
    if (lf_samePosition(POINT, stream.back())) {
        return false;
    }
    if (stream.size() >= 2) {
        const std::size_t had = stream.size();
        if (lf_turnToDeg(AC, stream.back(), POINT) >= kBehindDeg) {
            stream.pop_back();
            if (had >= 3 && lf_turnToDeg(AC, stream.back(), POINT) >= kBehindDeg) {
                stream.pop_back();
            }
        }
    } else {
        const double turn = lf_turnToDeg(AC, stream.front(), POINT);
        if (AC.approach != 0) {
            if (turn >= kBehindDeg) {
                return false;
            }
        } else if (turn >= kRollOutBehindDeg && AC.extrapolations > 0 && AC.holding == 0) {
            return false; // still rolling on; once it waits, it turns back for the report
        } else {
            // rolling out: go on from where the aircraft is now
            StreamPos here = stream.front();
            here.lat = AC.block[kBlockLat];
            here.lon = AC.block[kBlockLon];
            here.playTick = lf_now() + 1;
            stream.front() = here;
        }
    }
    if (AC.extrapolations > 0) {
        AC.extrapolations = 0;
        lf_resetWindows(AC);
        lf_stopHolding(AC); // a rolled-out aircraft waited for this report
    }
    const StreamPos& last = stream.back();
    if (lf_samePosition(POINT, last)) {
        POINT.repeat = 1;
        return true;
    }
    POINT.repeat = 0;
    if (POINT.groundSpeed > last.groundSpeed && POINT.groundSpeed > kRollOutCapKt) {
        POINT.groundSpeed = last.groundSpeed;
    }
    return true;
}

void lf_settleParked(LiveAc& AC, StreamPos& POINT)
{
    POINT.repeat = 0;
    AC.pullOutPending = 1;
    if (AC.previousFlightState == FlightState::parked) {
        return;
    }
    if (AC.extrapolations > 0) {
        if (AC.flightState == FlightState::parked && !AC.stream.empty()) {
            StreamPos& front = AC.stream.front();
            if (AC.touchedDown != 0) {
                // the week-ahead parked point was made from the point of arrival at the stand
                const uint32_t since = static_cast<uint32_t>(front.playTick) - static_cast<uint32_t>(kWeekTicks);
                const uint32_t t = static_cast<uint32_t>(lf_now()) - since;
                switch (static_cast<AcCategory>(AC.category)) {
                case AcCategory::Heavy:
                    AC.shortTurnaround = t < 360000 ? 1 : 0;
                    break;
                case AcCategory::Large:
                    AC.shortTurnaround = t < 150000 ? 1 : 0;
                    break;
                case AcCategory::Buzjets:
                    AC.shortTurnaround = t < 90000 ? 1 : 0;
                    break;
                default:
                    break;
                }
            }
            AC.touchedDown = 0;
            front.playTick = lf_now() + 1;
        }
        AC.extrapolations = 0;
        lf_resetWindows(AC);
    }
    lf_addRealStandOption(static_cast<int32_t>(AC.standId), AC, kEventLeaving);
    gf_setStandOccupied(static_cast<int32_t>(AC.standId), 0);
    lf_setFlightState(AC, FlightState::parked);
}

void lf_towedTakeOffCheck(LiveAc& AC)
{
    if (AC.shortTurnaround != 0) {
        gf_logWarning("towed aircraft takes-off? {}", gf_acDescription(AC));
    }
    lf_configureDeparture(AC, kThrottleIdle);
}

} // namespace qmt
