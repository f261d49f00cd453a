#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "core/AcKind.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Text.h"
#include "engine/Commands.h"
#include "engine/Motion.h"
#include "feed/TrafficFeed.h"
#include "records/ParkAirportIdentity.h"
#include "records/UserAircraft.h"
#include "stands/StandTable.h"

namespace qmt {

namespace {

// A leg that is late is caught up at most this much faster than the aircraft's reports go,
// and never slower than these speeds allow.
constexpr double kCatchUpFactor = 1.25;
constexpr double kMostCatchUpKt = 50.0;
constexpr double kPaceSpread = 1.25;
constexpr double kLeastGroundCapKt = 10.0;
constexpr double kLeastAirCapKt = 60.0;
constexpr double kTurnMargin = 1.1;
constexpr double kLongestLegTicks = 1.0e6;
constexpr double kTicksPerHour = 360000.0;
constexpr int32_t kHoldStepTicks = 300;
constexpr int64_t kStaleHoldTicks = 6000;
constexpr double kHoldingSpanFactor = 1.2;
constexpr int32_t kWeekSeconds = 604800;
constexpr int32_t kGroundSeconds = 3;
constexpr int32_t kAirSeconds = 8;
constexpr double kRangeMarginNm = 0.5;
constexpr double kAirborneOnlyBandFt = 1000.0;
constexpr int32_t kParkedPoints = 1;
constexpr int32_t kGroundPoints = 10;
constexpr int32_t kAirPoints = 8;
constexpr int32_t kWindowFloor = 1000;
constexpr int32_t kWindowShrink = 100;
// A repeated point is erased and the stream extended again; every extension lowers the count of
// made-up points, so a handful of rounds always ends it. The bound only guards the tick.
constexpr int kMaxDryRounds = 16;
// Positions closer than this in both coordinates are the same position, degrees.
constexpr double kSamePositionDeg = 1e-8;

// Why the last dry stream could not be extended: the rule that removes the aircraft.
const char* s_dryReason = "reports stopped";

bool lf_dry(const char* REASON)
{
    s_dryReason = REASON;
    return false;
}


bool lf_isExtrapolating(const LiveAc& AC)
{
    return AC.extrapolations > 0;
}

bool lf_mayExtrapolate(uint32_t CATEGORY)
{
    switch (static_cast<AcCategory>(CATEGORY)) {
    case AcCategory::Light:
        return LIGHT_AIRCRAFT.value();
    case AcCategory::HighPerf:
        return HIGH_PERF_AIRCRAFT.value();
    case AcCategory::Rotorcraft:
        return HELICOPTERS.value();
    case AcCategory::Buzjets:
    case AcCategory::Large:
    case AcCategory::Heavy:
        return true;
    }
    return false;
}

// Another taxiing aircraft stands so close that holding this one in place would overlap them.
bool lf_taxiingNeighbour(const LiveAc& AC)
{
    const auto& b = AC.block;
    for (const LiveAc& other : g_liveAcs) {
        if (&other == &AC || other.onGround == 0 || other.flightState != FlightState::taxi ||
            other.state != AcState::active || other.objectId == AC.objectId) {
            continue;
        }
        const double d = gf_distanceNm(b[kBlockLat], b[kBlockLon], other.block[kBlockLat], other.block[kBlockLon]);
        if (d <= kHoldingSpanFactor * (AC.halfSpan + other.halfSpan)) {
            return true;
        }
    }
    return false;
}

// A taxiing or pushed-back aircraft without reports is held where it stands, 3 s at a time.
bool lf_hold(LiveAc& AC)
{
    // Real reports of a taxiing aircraft come up to 40 s apart: within a minute of waiting a
    // held aircraft is one whose next report is still to come, not one left in the way.
    const bool stale = AC.holding != 0 && static_cast<int64_t>(lf_now()) - AC.holdStartTick >= kStaleHoldTicks;
    if (stale && lf_taxiingNeighbour(AC)) {
        AC.holding = 0;
        AC.holdStartTick = 0;
        return lf_dry("another taxiing aircraft in the way");
    }
    const int32_t now = lf_now();
    if (AC.holding != 0) {
        if (AIRBORNE_ONLY.value()) {
            return lf_dry("airborne only");
        }
        const int64_t minutes = (static_cast<int64_t>(now) - static_cast<int64_t>(AC.holdStartTick)) / kTicksPerMinute;
        if (minutes > MAX_HOLDING_MINUTES.value()) {
            return lf_dry("held too long");
        }
    } else {
        AC.holdStartTick = static_cast<uint32_t>(now);
    }
    AC.holding = 1;
    StreamPos p = AC.stream.front();
    p.playTick += kHoldStepTicks;
    p.groundSpeed = 0.0;
    p.repeat = 1;
    AC.stream.push_back(p);
    AC.extrapolations = 1;
    return true;
}

// Speed of a made-up point on the runway of a departing aircraft, and its vertical rate.
void lf_takeOffRunSpeed(StreamPos& P)
{
    const double v = P.groundSpeed;
    if (v <= 30.0) {
        P.groundSpeed = 40.0;
    } else if (v <= 60.0) {
        P.groundSpeed = 80.0;
    } else if (v <= 100.0) {
        P.groundSpeed = 110.0;
    } else if (v <= 140.0) {
        P.groundSpeed = 150.0;
        P.verticalRate = 600.0;
    } else if (v <= 160.0) {
        P.groundSpeed = 170.0;
        P.verticalRate = 1200.0;
    } else {
        P.groundSpeed = 180.0;
        P.verticalRate = 2400.0;
    }
}

// Speed of a made-up point of an aircraft rolling out after landing.
double lf_rollOutSpeed(double V)
{
    if (V >= 140.0) {
        return 100.0;
    }
    if (V >= 100.0) {
        return 80.0;
    }
    if (V >= 80.0) {
        return 60.0;
    }
    if (V >= 60.0) {
        return 30.0;
    }
    return 20.0;
}

// Moves the made-up point along the current heading at its speed for its interval.
void lf_moveMadeUpPoint(const LiveAc& AC, StreamPos& P, int32_t SECONDS)
{
    const double feet = SECONDS * 100.0 * P.groundSpeed * kFeetPerNm / kTicksPerHour;
    const LatLon q = gf_destinationPoint(LatLon{P.lat, P.lon}, AC.block[kBlockHeading], feet);
    P.repeat = lf_samePosition(q.lat, q.lon, P.lat, P.lon) ? 1 : 0;
    P.lat = q.lat;
    P.lon = q.lon;
    // A helicopter low near the airport may be circling there: its made-up points keep its height.
    if (AC.approach != 0 && AC.flareStage == 0 && AC.category != kAcCategoryRotorcraft) {
        P.verticalRate = -667.0;
        P.alt -= SECONDS * 10.005;
    } else if (AC.flightState == FlightState::take_off) {
        P.verticalRate = 1500.0;
        P.alt += SECONDS * 25.0;
    }
    P.airborne = P.alt > 0.0 ? 1 : 0;
    P.alt = std::max(P.alt, 0.0);
}

} // namespace

bool lf_samePosition(double LAT_A, double LON_A, double LAT_B, double LON_B)
{
    return std::abs(LAT_A - LAT_B) < kSamePositionDeg && std::abs(gf_lonDifference(LON_A, LON_B)) < kSamePositionDeg;
}

bool lf_samePosition(const StreamPos& A, const StreamPos& B)
{
    return lf_samePosition(A.lat, A.lon, B.lat, B.lon);
}

void lf_forgetStand(LiveAc& AC)
{
    AC.lat = 0.0;
    AC.lon = 0.0;
    AC.heading = 0.0;
    AC.standId = 0;
    AC.noCabinLight = 0;
}

void lf_resetWindows(LiveAc& AC)
{
    AC.earlyWindow = 3000;
    AC.lateWindow = AC.departing != 0 ? 5000 : 3000;
}

void lf_shrinkWindows(LiveAc& AC)
{
    AC.earlyWindow = std::max(AC.earlyWindow - kWindowShrink, std::min(AC.earlyWindow, kWindowFloor));
    AC.lateWindow = std::max(AC.lateWindow - kWindowShrink, std::min(AC.lateWindow, kWindowFloor));
}

void lf_setFlightState(LiveAc& AC, FlightState STATE)
{
    if (AC.flightState != STATE) {
        AC.previousFlightState = AC.flightState;
        AC.flightState = STATE;
    }
}

int32_t lf_ticksUntil(const StreamPos& POINT)
{
    return std::max(POINT.playTick - lf_now(), kMinLegTicks);
}

double lf_segmentSpeed(const StreamPos& FRONT, const StreamPos& NEXT)
{
    double speed = (FRONT.groundSpeed + NEXT.groundSpeed) / 2.0;
    if (FRONT.groundSpeed == 0.0 && NEXT.groundSpeed == 0.0) {
        const int32_t dt = std::max(NEXT.playTick - FRONT.playTick, kMinLegTicks);
        speed = lf_distanceNm(FRONT, NEXT) * kTicksPerHour / dt;
    }
    return std::max(speed, 1.0);
}

int32_t lf_legTicks(double DISTANCE_NM, double SPEED_KT)
{
    return gf_roundNarrow<int32_t>(DISTANCE_NM * kTicksPerHour / SPEED_KT);
}

void lf_skipOverduePoints(LiveAc& AC)
{
    std::deque<StreamPos>& stream = AC.stream;
    while (stream.size() > 2 && stream[1].playTick < lf_now() && stream[1].airborne == stream[2].airborne) {
        stream.erase(stream.begin() + 1);
    }
}

void lf_paceLeg(LiveAc& AC, bool FIRST)
{
    const StreamPos& front = AC.stream[0];
    StreamPos& next = AC.stream[1];
    const double speed = std::max(front.groundSpeed, next.groundSpeed);
    const double catchUp = FIRST ? speed : std::min(kCatchUpFactor * speed, speed + kMostCatchUpKt);
    const double limit = std::max(catchUp, AC.onGround != 0 ? kLeastGroundCapKt : kLeastAirCapKt);
    const double distance = gf_distanceNm(AC.block[kBlockLat], AC.block[kBlockLon], next.lat, next.lon);
    double ticks = distance * kTicksPerHour / limit;
    if (AC.onGround != 0) {
        const double turnRate = AC.curve.running() ? lf_curveTurnRate(AC.curve)
                                                   : (AC.legPath.shaped != 0 ? lf_legPathTurnRate(AC.legPath) : 0.0);
        ticks = std::max(ticks, turnRate / AC.pitchRate * kTurnMargin);
    }
    const int64_t least = std::max<int64_t>(kMinLegTicks, std::llround(std::ceil(std::min(ticks, kLongestLegTicks))));
    const int64_t earliest = std::min<int64_t>(lf_now() + least, std::numeric_limits<int32_t>::max());
    if (next.playTick < earliest) {
        next.playTick = static_cast<int32_t>(earliest);
    }
}

int32_t lf_segmentTicks(const StreamPos& FRONT, const StreamPos& NEXT)
{
    return std::max(lf_legTicks(lf_distanceNm(FRONT, NEXT), lf_segmentSpeed(FRONT, NEXT)), kMinLegTicks);
}

void lf_adjustPlayTick(LiveAc& AC, int32_t TICKS)
{
    StreamPos& next = AC.stream[1];
    const int64_t now = lf_now();
    int64_t t = now + TICKS;
    if (!lf_isExtrapolating(AC)) {
        const int64_t p = next.playTick;
        // The point is played when it is due whenever the pace that takes stays within a quarter
        // of the planned one: planned legs alone (straight between reports, at their speeds)
        // arrive early leg after leg and the aircraft drifts ahead of its documented delay.
        t = std::clamp<int64_t>(p, now + std::llround(TICKS / kPaceSpread), now + std::llround(TICKS * kPaceSpread));
        if (t > p + AC.lateWindow) {
            t = p + AC.lateWindow;
        } else {
            t = std::max(t, p - AC.earlyWindow);
        }
    }
    next.playTick = static_cast<int32_t>(std::max(t, now));
}

void lf_setStepsToNext(LiveAc& AC)
{
    const StreamPos& next = AC.stream[1];
    const int32_t t = lf_ticksUntil(next);
    AC.latStep = (next.lat - AC.block[kBlockLat]) / t;
    AC.lonStep = gf_lonDifference(next.lon, AC.block[kBlockLon]) / t;
}

void nextPosMain(LiveAc& AC)
{
    std::deque<StreamPos>& stream = AC.stream;
    try {
        for (int round = 0;; ++round) {
            // An airborne aircraft never plays a repeated position; a helicopter hovers on it.
            while (stream.size() >= 2 && AC.onGround == 0 && stream[1].repeat != 0 &&
                   AC.category != kAcCategoryRotorcraft) {
                stream.erase(stream.begin() + 1);
            }
            if (stream.size() >= 2) {
                break;
            }
            s_dryReason = "reports stopped";
            if (round == kMaxDryRounds || !lf_streamRanDry(AC)) {
                // The arrival at a stand may have removed it already.
                if (AC.state == AcState::active) {
                    removeAircraftFromSim(AC, s_dryReason);
                }
                return;
            }
        }
        lf_nextPos(AC);
    } catch (const std::exception& e) {
        gf_logWarning("{}: {} {}, sz:{}, fs:{}, st:{}", "nextPosMain", e.what(), gf_acDescription(AC), stream.size(),
                      gf_phaseName(AC.flightState), gf_lifeStateName(AC.state));
        // The front point stays due, so the same error would come back every tick.
        if (AC.state == AcState::active) {
            removeAircraftFromSim(AC, "error while driving");
        }
        throw;
    }
}

void lf_nextPos(LiveAc& AC)
{
    std::deque<StreamPos>& stream = AC.stream;
    const bool firstLeg = AC.flightState == FlightState::birth;
    AC.curve.clear();
    AC.curveT = 0.0;
    AC.legPath.clear();
    {
        const StreamPos& front = stream[0];
        StreamPos& next = stream[1];
        if (next.repeat == 0 && lf_samePosition(next, front)) {
            next.repeat = 1;
        }
        if (next.repeat == 0) {
            AC.bearingToNext = gf_bearing(front.lat, front.lon, next.lat, next.lon);
        }
    }
    if (AC.onGround != 0) {
        nextPosGround(AC);
    } else {
        lf_nextPosAirborne(AC);
    }
    if (stream.size() < 2) {
        return;
    }
    if (stream[1].repeat != 0) {
        AC.latStep = 0.0;
        AC.lonStep = 0.0;
        if (AC.landingRoll == 0 && AC.departing == 0) {
            lf_shrinkWindows(AC);
        }
    } else {
        if (AC.onGround != 0) {
            // in the air the leg is timed by the speeds planned along its path
            lf_paceLeg(AC, firstLeg);
        }
        lf_setStepsToNext(AC);
        if (AC.onGround != 0) {
            lf_rollOnGround(AC);
        } else {
            lf_nextPosAir(AC);
        }
    }
    stream.pop_front();
}

bool lf_streamRanDry(LiveAc& AC)
{
    const bool rolledOut = AC.landingRoll != 0 && AC.onGround != 0 && (AC.extrapolations == 1 || AC.holding != 0);
    if (AC.flightState == FlightState::parking) {
        lf_arriveAtStand(AC);
    } else if (AC.flightState == FlightState::pushed_back ||
               (AC.flightState == FlightState::taxi && AC.departing == 0 && (AC.landingRoll == 0 || rolledOut))) {
        // Also at the end of a roll-out whose next report is still to come (real ones come up
        // to 40 s apart): it waits on the runway for it.
        return lf_hold(AC);
    }
    if (AC.extrapolations < 0) {
        return false;
    }
    if (AC.extrapolations == 1) {
        AC.extrapolations = -1;
        return false;
    }
    if (AC.extrapolations > 1) {
        lf_extrapolateStream(AC, AC.extrapolations - 1);
        return true;
    }
    if (!lf_mayExtrapolate(AC.category)) {
        return lf_dry("category not shown");
    }
    int32_t n = kAirPoints;
    if (AC.onGround != 0) {
        n = AC.flightState == FlightState::parked ? kParkedPoints : kGroundPoints;
    } else {
        const auto& b = AC.block;
        if (g_userAc.hasPosition() &&
            gf_distanceNm(g_userAc.latitude, g_userAc.longitude, b[kBlockLat], b[kBlockLon]) >=
                g_trafficRangeNm.load() - kRangeMarginNm) {
            return lf_dry("out of range");
        }
        if (AIRBORNE_ONLY.value()) {
            const double elevation = !gf_parkAirportSet() ? 0.0 : static_cast<double>(g_parkAirportElevation);
            if (std::abs(b[kBlockAlt] - elevation) < kAirborneOnlyBandFt) {
                return lf_dry("airborne only");
            }
        }
    }
    lf_extrapolateStream(AC, n);
    return true;
}

void lf_extrapolateStream(LiveAc& AC, int32_t K)
{
    AC.extrapolations = K;
    StreamPos p = AC.stream.front();
    const bool parked = AC.flightState == FlightState::parked;
    if (p.repeat != 0 || parked) {
        p.repeat = 1;
        p.groundSpeed = 0.0;
    } else if (AC.onGround != 0 && AC.landingRoll == 0 && AC.departing == 0) {
        p.groundSpeed = 0.0;
        p.repeat = 1;
    } else {
        if (AC.onGround == 0) {
            // on at the speed flown: the positions gave it, whatever the speed field says
            if (AC.groundSpeed > 0.0) {
                p.groundSpeed = AC.groundSpeed;
            }
            if (AC.approach == 0) {
                p.groundSpeed = std::max(0.95 * p.groundSpeed, 1.0);
            } else if (K >= 4) {
                p.groundSpeed = std::max(0.9 * p.groundSpeed, 1.0);
            }
        } else if (AC.landingRoll == 0) {
            lf_takeOffRunSpeed(p);
        } else {
            p.groundSpeed = lf_rollOutSpeed(p.groundSpeed);
            p.verticalRate = 0.0;
        }
        if (p.groundSpeed > 0.0) {
            lf_moveMadeUpPoint(AC, p, AC.onGround != 0 ? kGroundSeconds : kAirSeconds);
        }
    }
    const int32_t seconds = parked ? kWeekSeconds : AC.onGround != 0 ? kGroundSeconds : kAirSeconds;
    p.playTick += 100 * seconds;
    if (parked) {
        // The stand stays held while the aircraft stands on it: a second live aircraft that
        // arrives there is the one to go, and no static aircraft is put on it.
        AC.keepParked = 0;
    }
    AC.stream.push_back(p);
}

} // namespace qmt
