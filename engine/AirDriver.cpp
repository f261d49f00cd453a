#include <algorithm>
#include <cmath>
#include <limits>

#include "core/AcKind.h"
#include "core/Airports.h"
#include "core/Geo.h"
#include "core/Text.h"
#include "engine/Commands.h"
#include "engine/Motion.h"
#include "feed/TrafficFeed.h"
#include "records/ParkAirportIdentity.h"
#include "records/UserAircraft.h"
#include "simlink/SimQueues.h"

namespace qmt {

namespace {

constexpr double kStandardQnh = 1013.25;
constexpr double kTouchdownFpm = -601.0;
constexpr double kLowDescentFpm = -600.0;
constexpr double kLowDescentHeightFt = 100.0;
constexpr double kClimbOutHeightFt = 1000.0;
constexpr double kLowestClimbOutPerTick = 0.2;
// Feet a tick: the steepest descent flown (4500 ft/min), below 1000 ft above the ground
// (1800 ft/min), and the gentlest toward a touchdown (600 ft/min).
constexpr double kSteepestDescentPerTick = 0.75;
constexpr double kSteepestLowDescentPerTick = 0.3;
constexpr double kGentleDescentPerTick = 0.1;
constexpr double kTicksPerSecond = 100.0;
constexpr double kGravity = 9.80665;                  // metres a second squared
constexpr double kRotorcraftPitchRad = 15.0 * kDegToRad;
constexpr double kLevelSumFpm = 100.0;
constexpr double kCruiseFt = 10000.0;
constexpr double kNearAirportNm = 10.0;
constexpr double kDescendingFpm = -250.0;
constexpr double kClimbingFpm = 400.0;
constexpr double kGoAroundFpm = 600.0;
constexpr double kCleanHeightFt = 2400.0;
constexpr double kFlapsOneHeightFt = 2000.0;
constexpr double kFlareHeightFt = 400.0;
constexpr double kFlareTopPitchRad = -4.0 * kDegToRad;
constexpr int32_t kLowestTransition = -1000;
constexpr double kClimbPowerHeightFt = 800.0;
constexpr std::size_t kMaxSkipPoints = 10;
constexpr double kMetresPerSecondPerKt = 1852.0 / 3600.0;
// Two positions closer in time than this say nothing of the speed, ticks; the speed by the
// positions is taken over this many ticks and at most this many legs where the stream has them.
constexpr int32_t kLeastSpeedSpanTicks = 100;
constexpr int32_t kSpeedSpanTicks = 1000;
constexpr std::size_t kSpeedSpanPoints = 4;
// The speed field is taken where it agrees with the positions within this share.
constexpr double kSpeedFieldAgreement = 0.2;
// A planned leg ends within this of its report's time where the acceleration allows: seconds,
// and share of the leg's time.
constexpr double kPlanToleranceS = 1.0;
constexpr double kPlanToleranceShare = 0.04;
constexpr double kLongestPlannedTicks = 1.0e6;
constexpr int kSpeedSearchSteps = 24;
constexpr double kSharpCornerRad = 90.0 * kDegToRad;
constexpr double kArcShortOfCornerRad = 45.0 * kDegToRad;
// The speed the roll-out is braked down to at least, knots.
constexpr double kLeastRollOutKt = 15.0;

// A point more than 90 degrees off the nose is not pivoted to: first the aircraft turns toward
// it at its category's bank, along an arc that ends 45 degrees short of it (a point inserted at
// the arc's end), and from there it flies on to the point.
void lf_turnBeforeCorner(LiveAc& AC)
{
    std::deque<StreamPos>& s = AC.stream;
    const auto& b = AC.block;
    const StreamPos& next = s[1];
    const double h = b[kBlockHeading];
    const double north = next.lat - b[kBlockLat];
    const double east = gf_lonDifference(next.lon, b[kBlockLon]) * std::cos(b[kBlockLat] * kDegToRad);
    const double turn = gf_wrapRadians(gf_quickBearing(north, east) - h);
    const double radiusM = lf_airTurnRadiusM(AC);
    if (std::abs(turn) <= kSharpCornerRad || !(radiusM >= 1.0) || next.airborne == 0) {
        return;
    }
    const double side = turn > 0.0 ? 1.0 : -1.0;
    const double arc = std::abs(turn) - kArcShortOfCornerRad;
    const double feet = radiusM * kFeetPerNm * kNmPerMetre;
    const LatLon centre = gf_destinationPoint(LatLon{b[kBlockLat], b[kBlockLon]}, h + side * PI / 2.0, feet);
    const LatLon end = gf_destinationPoint(centre, h + side * arc - side * PI / 2.0, feet);
    StreamPos mid = next;
    mid.lat = end.lat;
    mid.lon = end.lon;
    mid.hasRoll = 0;
    mid.hasTrueHeading = 0;
    mid.repeat = 0;
    const double arcM = radiusM * arc;
    const double restM = gf_distanceNm(end.lat, end.lon, next.lat, next.lon) * kMetresPerNm;
    const double share = arcM / std::max(arcM + restM, 1.0);
    mid.alt = b[kBlockAlt] + (next.alt - b[kBlockAlt]) * share;
    const double seconds = arcM / std::max(AC.groundSpeed * kMetresPerSecondPerKt, 1.0);
    const int64_t due = static_cast<int64_t>(lf_now()) + static_cast<int64_t>(std::llround(seconds * 100.0));
    mid.playTick = static_cast<int32_t>(std::clamp<int64_t>(due, lf_now() + kMinLegTicks,
                                                            std::max<int64_t>(next.playTick - 1, lf_now() + kMinLegTicks)));
    s.insert(s.begin() + 1, mid);
    AC.legArc = 1;
    AC.legArcArrival = gf_wrapTwoPi(h + side * arc);
}

// Distance between two points of a stream within a few kilometres of each other, nm: flat, as
// the speeds of the planner need no more (and it is planned for every leg).
double lf_nearNm(const StreamPos& A, const StreamPos& B)
{
    const double north = B.lat - A.lat;
    const double east = gf_lonDifference(B.lon, A.lon) * std::cos(A.lat * kDegToRad);
    return std::sqrt(north * north + east * east) * 60.0;
}

bool lf_isTouchdownLeg(const LiveAc& AC)
{
    return AC.stream[0].airborne != 0 && AC.stream[1].airborne == 0 && AC.category != kAcCategoryRotorcraft;
}

// The speed the aircraft is to have at the next point: a fixed-wing aircraft touches down at
// its approach speed; otherwise the reports' speed, taken from the positions where the speed
// field disagrees with them (a feed may give it in other units).
double lf_aimSpeed(const LiveAc& AC)
{
    const std::deque<StreamPos>& s = AC.stream;
    const StreamPos& front = s[0];
    const StreamPos& next = s[1];
    if (lf_isTouchdownLeg(AC)) {
        const double flown = AC.groundSpeed > 0.0 ? AC.groundSpeed : front.groundSpeed;
        return std::clamp(flown, g_slowestApproachSpeeds.at(AC.category), g_fastestApproachSpeeds.at(AC.category));
    }
    // By the positions over the points still to come (their times are the reports'), over 10 s
    // at least where there are, else from the point just reached.
    double nm = 0.0;
    int32_t span = 0;
    for (std::size_t i = 1; i + 1 < s.size() && i <= kSpeedSpanPoints && span < kSpeedSpanTicks; ++i) {
        if (s[i + 1].repeat != 0 || s[i + 1].airborne != next.airborne) {
            break;
        }
        nm += lf_nearNm(s[i], s[i + 1]);
        span = s[i + 1].playTick - next.playTick;
    }
    if (span < kSpeedSpanTicks) {
        nm += lf_nearNm(front, next);
        span += next.playTick - front.playTick;
    }
    const double byPositions = span >= kLeastSpeedSpanTicks ? nm * 360000.0 / span : -1.0;
    const double reported = next.groundSpeed;
    if (byPositions < 0.0 || (reported > 0.0 && std::abs(reported - byPositions) <= kSpeedFieldAgreement * byPositions)) {
        return reported;
    }
    return byPositions;
}

bool lf_isDeparture(const LiveAc& AC)
{
    return AC.departing != 0 || AC.flightState == FlightState::take_off;
}

// Coming down to the ground: every landing flares, at any airport and in any configuration.
bool lf_isLanding(const LiveAc& AC)
{
    return AC.onGround == 0 && AC.flightState == FlightState::flying &&
           (AC.approach != 0 || AC.flareStage > 0 || AC.climbPerTick < 0.0);
}

// Feet a tick of the steepest descent flown here: gentler near the ground.
double lf_steepestDescent(const LiveAc& AC)
{
    return AC.heightAboveGround > kClimbOutHeightFt ? kSteepestDescentPerTick : kSteepestLowDescentPerTick;
}

// The climb toward an altitude T ticks away, within what the aircraft can climb or sink.
double lf_climbToward(const LiveAc& AC, double ALT, int32_t T)
{
    return std::clamp((ALT - AC.block[kBlockAlt]) / T, -lf_steepestDescent(AC), AC.climbFactor);
}

// Down to the ground where the aircraft lands at POINT, T ticks from now: never a climb, and on
// at a gentle rate once the aimed height is passed, until the simulator's ground is met.
void lf_descendToGround(LiveAc& AC, const StreamPos& POINT, int32_t T)
{
    const double target = lf_touchdownElevation(AC, POINT) + AC.cgHeight;
    AC.climbPerTick = std::clamp((target - AC.block[kBlockAlt]) / T, -lf_steepestDescent(AC), -kGentleDescentPerTick);
}

// Both points on the ground while the aircraft flies: a take-off still to come, or a landing.
void lf_groundPointsInFlight(LiveAc& AC, int32_t T)
{
    double sum = 0.0;
    for (const StreamPos& p : AC.stream) {
        sum += p.verticalRate;
    }
    if (AC.approach == 0 && lf_isDeparture(AC) && sum > kLevelSumFpm) {
        const std::size_t last = std::min(AC.stream.size() - 1, kMaxSkipPoints);
        for (std::size_t k = 3; k <= last; ++k) {
            if (lf_planFlightStep(AC, k)) {
                // the point flown to changed: steps toward the new one
                lf_setStepsToNext(AC);
                return;
            }
        }
        AC.climbPerTick = std::max(AC.stream[1].verticalRate, -kTouchdownFpm) / kTicksPerMinute;
    } else {
        lf_descendToGround(AC, AC.stream[1], T);
    }
}

void lf_verticalStep(LiveAc& AC, int32_t T)
{
    const StreamPos& front = AC.stream[0];
    const StreamPos& next = AC.stream[1];
    const bool frontUp = front.airborne != 0;
    const bool nextUp = next.airborne != 0;
    if (!frontUp && nextUp) {
        lf_climbPerTick(AC);
    } else if (frontUp && !nextUp) {
        // the touchdown leg, at whatever airport it ends
        lf_descendToGround(AC, next, T);
        gf_setGear(AC, 1);
    } else if (frontUp && nextUp && AC.approach == 0) {
        double c = lf_climbToward(AC, next.alt, T);
        // A climb-out never sinks; a descending track is no climb-out.
        if (lf_isDeparture(AC) && AC.heightAboveGround <= kClimbOutHeightFt && next.alt >= front.alt) {
            c = std::min(std::max(c, kLowestClimbOutPerTick), AC.climbFactor);
        }
        AC.climbPerTick = c;
    } else if (frontUp && nextUp) {
        if (front.alt != next.alt || AC.heightAboveGround > kClimbOutHeightFt ||
            front.verticalRate + next.verticalRate > kLevelSumFpm) {
            AC.climbPerTick = lf_climbToward(AC, next.alt, T);
        } else {
            AC.climbPerTick = lf_descentRate(AC) / kTicksPerMinute;
        }
    } else {
        lf_groundPointsInFlight(AC, T);
        gf_setGear(AC, 1);
    }
    // The block shows the rate flown: reports without a vertical rate show 0.
    AC.verticalRate = AC.climbPerTick * kTicksPerMinute;
}

void lf_pitchStep(LiveAc& AC, int32_t T)
{
    double target = lf_pitchForVerticalRate(AC.verticalRate);
    if (AC.category == kAcCategoryRotorcraft) {
        target = std::clamp(target, -kRotorcraftPitchRad, kRotorcraftPitchRad);
    }
    const double limit = g_pitchRates.at(AC.category);
    AC.pitchStep = std::clamp((target - AC.block[kBlockPitch]) / T, -limit, limit);
}

// Bank of the turn flown: a coordinated turn at the speed flown, within the category's limits;
// wings level in the flare and on the ground; the reported roll when the feed gives one.
void lf_bankForTurn(LiveAc& AC, double TURN_PER_TICK, double METRES_PER_TICK)
{
    double target = 0.0;
    if (AC.flareStage == 0 && AC.onGround == 0) {
        // The tick keeps the front point's roll in the record: the point itself is a cache miss.
        const bool kept = gf_keptFrontHolds(AC, LiveAc::kFrontKeptActive);
        const bool hasRoll = kept ? AC.frontHasRoll != 0 : AC.stream.front().hasRoll != 0;
        target = hasRoll ? (kept ? AC.frontRoll : AC.stream.front().roll)
                         : -gf_quickAtan(METRES_PER_TICK * TURN_PER_TICK * kTicksPerSecond * kTicksPerSecond /
                                         kGravity);
    }
    const double limit = g_bankLimits.at(AC.category);
    const double rate = g_bankRates.at(AC.category);
    AC.bankStep = std::clamp(std::clamp(target, -limit, limit) - AC.block[kBlockBank], -rate, rate);
}

void lf_configureCruise(LiveAc& AC)
{
    if (AC.cruiseConfigured != 0) {
        return;
    }
    AC.cruiseConfigured = 1;
    // below 10000 ft again the full light set comes back on
    AC.lightsSet = 0;
    gf_queueLights(AC.objectId, 1, 1, 0, 0, 0, 0, 1);
    gf_setThrottle(AC, gf_throttleFor(AC, 3));
    gf_setGear(AC, 0);
    gf_setFlaps(AC, 0);
}

void lf_flare(LiveAc& AC)
{
    const double cg = AC.cgHeight;
    const double hag = AC.heightAboveGround;
    switch (AC.flareStage) {
    case 0: {
        if (AC.touchdownElevationKnown == 0) {
            AC.touchdownElevation = lf_touchdownElevation(AC, AC.stream.front());
            AC.touchdownElevationKnown = 1;
        }
        AC.heightAboveAirport =
            AC.touchdownElevationKnown != 0 ? AC.block[kBlockAlt] - AC.touchdownElevation : hag;
        if (std::min(hag, AC.heightAboveAirport) <= cg + 30.0) {
            AC.pitchStep = (kFlareTopPitchRad - AC.block[kBlockPitch]) / std::max<uint32_t>(AC.groundSlots, 1);
            AC.climbPerTick = -0.1;
            AC.stream.front().verticalRate = -601.0;
            AC.flareStage = 1;
            AC.touchdownElevationKnown = 0;
        }
        break;
    }
    case 1:
        if (hag <= cg + 20.0) {
            AC.climbPerTick = -0.075;
            AC.stream.front().verticalRate = -450.0;
            AC.flareStage = 2;
            AC.touchdownElevationKnown = 0;
        }
        break;
    case 2:
        if (hag <= cg + 10.0) {
            gf_setThrottle(AC, 0);
            AC.climbPerTick = -0.05;
            AC.stream.front().verticalRate = -300.0;
            AC.flareStage = 3;
            AC.touchdownElevationKnown = 0;
        }
        break;
    case 3:
        if (hag <= cg + 3.0) {
            AC.climbPerTick = -0.025;
            AC.stream.front().verticalRate = -150.0;
            AC.flareStage = 4;
        }
        break;
    default:
        break;
    }
}

// A helicopter never pitches beyond 15 degrees nor banks beyond its limit.
void lf_holdRotorcraftAttitude(LiveAc& AC)
{
    if (AC.category != kAcCategoryRotorcraft) {
        return;
    }
    auto& b = AC.block;
    b[kBlockPitch] = std::clamp(b[kBlockPitch], -kRotorcraftPitchRad, kRotorcraftPitchRad);
    const double limit = g_bankLimits.at(AC.category);
    b[kBlockBank] = std::clamp(b[kBlockBank], -limit, limit);
}

// Rotation on the runway, lift-off and the climb-out to the climb pitch.
void lf_takeOffTick(LiveAc& AC)
{
    auto& b = AC.block;
    AC.transitionSlots = std::max(AC.transitionSlots - 1, kLowestTransition);
    const int32_t slots = AC.transitionSlots;
    if (slots >= 1) {
        AC.onGround = 0;
        if (b[kBlockPitch] > AC.takeOffPitch) {
            b[kBlockPitch] += AC.pitchStep;
        }
        return;
    }
    b[kBlockBank] = gf_wrapRadians(b[kBlockBank] + AC.bankStep);
    if (b[kBlockPitch] > AC.climbPitch) {
        b[kBlockPitch] += (AC.climbPitch - AC.takeOffPitch) / std::max<uint32_t>(AC.airSlots, 1);
    }
    if (slots <= -1 && slots >= -99) {
        b[kBlockAlt] += AC.climbPerTick / 10.0;
    } else if (slots <= -100 && slots >= -199) {
        b[kBlockAlt] += AC.climbPerTick / 5.0;
    } else if (slots <= -200 && slots >= -299) {
        b[kBlockAlt] += AC.climbPerTick * 0.5;
    } else if (slots == -300) {
        gf_setGear(AC, 0);
        b[kBlockAlt] += AC.climbPerTick;
    } else if (slots < -300) {
        // The climb-out ends at 800 ft above the ground, or where the reports fly lower (a
        // helicopter, a circuit): from there the air planner follows them.
        const StreamPos& to = AC.stream.front();
        const bool atReportedHeight = to.airborne != 0 && b[kBlockAlt] >= to.alt;
        if (!atReportedHeight) {
            b[kBlockAlt] += AC.climbPerTick;
        }
        if (b[kBlockPitch] <= AC.climbPitch || atReportedHeight) {
            AC.pitchStep = 0.0;
            if (AC.heightAboveGround >= kClimbPowerHeightFt || atReportedHeight) {
                gf_setThrottle(AC, gf_throttleFor(AC, 3));
                lf_setFlightState(AC, FlightState::flying);
                AC.transitionSlots = 1;
            }
        }
    }
}

// The nose comes down after touchdown; it ends when the pitch reaches the ground pitch in the
// direction it moves, at once when it does not move.
void lf_derotateTick(LiveAc& AC)
{
    auto& b = AC.block;
    b[kBlockPitch] += AC.pitchStep;
    const bool down = AC.pitchStep == 0.0 || (AC.pitchStep > 0.0 ? b[kBlockPitch] >= AC.groundPitch
                                                                  : b[kBlockPitch] <= AC.groundPitch);
    if (down) {
        b[kBlockPitch] = AC.groundPitch;
        AC.pitchStep = 0.0;
        b[kBlockBank] = 0.0;
        AC.bankStep = 0.0;
        AC.derotating = 0;
        AC.flareStage = 0;
    }
    b[kBlockBank] += AC.bankStep;
}

} // namespace

const CategoryTable g_pitchRates{{0.01 * kDegToRad, 0.0085 * kDegToRad, 0.0075 * kDegToRad, 0.005 * kDegToRad,
                                  0.03 * kDegToRad, 0.03 * kDegToRad}};
const CategoryTable g_bankLimits{{40.0 * kDegToRad, 35.0 * kDegToRad, 30.0 * kDegToRad, 20.0 * kDegToRad,
                                  90.0 * kDegToRad, 30.0 * kDegToRad}};
const CategoryTable g_bankRates{{0.035 * kDegToRad, 0.0275 * kDegToRad, 0.02 * kDegToRad, 0.015 * kDegToRad,
                                 0.1 * kDegToRad, 0.06 * kDegToRad}};
const CategoryTable g_leastAirSpeeds{{50.0, 95.0, 110.0, 120.0, 100.0, 0.0}};
const CategoryTable g_greatestAirSpeeds{{200.0, 480.0, 520.0, 560.0, 700.0, 170.0}};
const CategoryTable g_slowestApproachSpeeds{{55.0, 100.0, 120.0, 130.0, 110.0, 0.0}};
const CategoryTable g_fastestApproachSpeeds{{75.0, 135.0, 150.0, 160.0, 150.0, 40.0}};
const CategoryTable g_airAccelerations{{2.0, 3.0, 3.0, 2.5, 5.0, 4.0}};
const std::array<UserConflictLimit, 2> g_userConflictLimits{{{4.0, 1000.0, 700.0}, {6.0, 3000.0, 4000.0}}};

double lf_touchdownElevation(const LiveAc& AC, const StreamPos& POINT)
{
    if (const std::optional<IcaoCode> code = gf_nearestAirport(LatLon{POINT.lat, POINT.lon})) {
        if (const std::optional<AirportEntry> airport = gf_airportByCode(code->view())) {
            return airport->altitude;
        }
    }
    // the simulator's ground under the aircraft, as its last ground data gave it
    return AC.block[kBlockAlt] - AC.heightAboveGround;
}

void lf_nextPosAirborne(LiveAc& AC)
{
    AC.legArc = 0;
    if (AC.stream[1].repeat == 0) {
        lf_turnBeforeCorner(AC);
    }
    const StreamPos& next = AC.stream[1];
    if (next.repeat == 0) {
        // The leg is timed by the speeds planned along its path once that is set up.
        LegPath& path = AC.legPath;
        AC.legAimKt = lf_aimSpeed(AC);
        path.rollOutKt = std::max(next.groundSpeed, kLeastRollOutKt);
        path.dueTick = next.playTick;
    } else if (AC.category == kAcCategoryRotorcraft) {
        lf_groundMove(AC); // hovering
    }
}

void lf_planAirSpeed(LiveAc& AC)
{
    LegPath& path = AC.legPath;
    if (path.shaped == 0) {
        return;
    }
    StreamPos& next = AC.stream[1];
    const uint32_t category = AC.category;
    const double least = std::max(g_leastAirSpeeds.at(category), kLeastPlannedKt);
    const double greatest = g_greatestAirSpeeds.at(category);
    const double aim = std::clamp(AC.legAimKt, least, greatest);
    double v0 = AC.groundSpeed;
    if (!(v0 > 0.0) || AC.flightState == FlightState::birth) {
        v0 = aim;
    }
    v0 = std::clamp(v0, least, greatest) * kMetresPerSecondPerKt;
    // End speeds the leg's length allows at the category's acceleration.
    const double d = std::max(lf_legPathLength(path), 1.0);
    const double a = g_airAccelerations.at(category) * kMetresPerSecondPerKt;
    double lo = std::max(std::sqrt(std::max(v0 * v0 - 2.0 * a * d, 0.0)), least * kMetresPerSecondPerKt);
    double hi = std::min(std::sqrt(v0 * v0 + 2.0 * a * d), greatest * kMetresPerSecondPerKt);
    if (lf_isTouchdownLeg(AC)) {
        lo = std::max(lo, g_slowestApproachSpeeds.at(category) * kMetresPerSecondPerKt);
        hi = std::min(hi, g_fastestApproachSpeeds.at(category) * kMetresPerSecondPerKt);
    } else if (AC.approach != 0 && AC.category != kAcCategoryRotorcraft) {
        // on final: no faster than it lands
        hi = std::min(hi, std::max(g_fastestApproachSpeeds.at(category) * kMetresPerSecondPerKt, v0));
    }
    if (AC.flightState == FlightState::birth) {
        // a new aircraft shows the reports' speed: nothing to catch up yet
        hi = std::min(hi, aim * kMetresPerSecondPerKt);
    }
    hi = std::max(hi, lo);
    double v1 = std::clamp(aim * kMetresPerSecondPerKt, lo, hi);
    // Near the reports' times: the aircraft flies at what the reports show, and only where that
    // would bring it too early or too late to the farthest point known does it speed up or slow
    // down; a single report taken early or late makes no change of pace.
    const std::deque<StreamPos>& s = AC.stream;
    std::size_t last = 1;
    double rest = 0.0;
    while (last + 1 < s.size() && last < kSpeedSpanPoints && s[last + 1].repeat == 0 &&
           s[last + 1].airborne == next.airborne) {
        rest += lf_nearNm(s[last], s[last + 1]) * kMetresPerNm;
        ++last;
    }
    const int32_t dueTick = last == 1 ? next.playTick : s[last].playTick;
    const double due = static_cast<double>(std::max(dueTick - lf_now(), kMinLegTicks)) / 100.0;
    const double tolerance = std::max(kPlanToleranceS, kPlanToleranceShare * due);
    const auto arrival = [&](double V1) { return 2.0 * d / (v0 + V1) + rest / std::max(V1, 0.1); };
    const double seconds = arrival(v1);
    if (seconds > due + tolerance || seconds < due - tolerance) {
        // the arrival time falls as the end speed grows: halve the interval of end speeds
        const double wanted = seconds > due ? due + tolerance : std::max(due - tolerance, 0.1);
        double slow = lo;
        double fast = hi;
        for (int i = 0; i < kSpeedSearchSteps; ++i) {
            const double mid = (slow + fast) / 2.0;
            (arrival(mid) > wanted ? slow : fast) = mid;
        }
        v1 = (slow + fast) / 2.0;
    }
    const double ticks = std::clamp(std::round(200.0 * d / (v0 + v1)), static_cast<double>(kMinLegTicks),
                                    kLongestPlannedTicks);
    const int64_t end = std::min<int64_t>(static_cast<int64_t>(lf_now()) + static_cast<int64_t>(ticks),
                                          std::numeric_limits<int32_t>::max());
    next.playTick = static_cast<int32_t>(end);
    path.endTick = next.playTick;
    path.planned = 1;
    path.speedKt = v0 / kMetresPerSecondPerKt;
    path.speedEndKt = v1 / kMetresPerSecondPerKt;
    path.speedStepKt = (path.speedEndKt - path.speedKt) / ticks;
    path.dueTick = std::max(path.dueTick, next.playTick);
    AC.groundSpeed = path.speedKt;
}

void lf_nextPosAir(LiveAc& AC)
{
    if (AC.flightState != FlightState::take_off && AC.flightState != FlightState::flying) {
        lf_setFlightState(AC, FlightState::flying);
    }
    AC.verticalRate = AC.stream[1].verticalRate;
    lf_shapeAirPath(AC);
    const double frontAlt = AC.stream[0].alt;
    if (AC.flareStage == 0) {
        const std::size_t points = AC.stream.size();
        lf_verticalStep(AC, lf_ticksUntil(AC.stream[1]));
        if (AC.stream.size() != points) {
            // skipped ahead to another point: its leg is planned anew
            AC.legArc = 0;
            lf_shapeAirPath(AC);
        }
    }
    const int32_t t = lf_ticksUntil(AC.stream[1]);
    if (AC.flareStage == 0 && AC.flightState != FlightState::take_off) {
        lf_pitchStep(AC, t);
    }
    lf_setupAirPath(AC, t);
    if (frontAlt < kCruiseFt) {
        lf_configureByHeight(AC);
    } else {
        lf_configureCruise(AC);
    }
}

void lf_shapeAirPath(LiveAc& AC)
{
    AC.legPath.clear();
    if (lf_shapeLegPath(AC, AC.legArc != 0 ? AC.legArcArrival : lf_arrivalHeading(AC))) {
        lf_planAirSpeed(AC);
    }
}

void lf_setupAirPath(LiveAc& AC, int32_t T)
{
    AC.headingStep = 0.0;
    if (AC.legPath.shaped == 0) {
        lf_bankTowards(AC, 0.0, T);
        return;
    }
    lf_startLegPath(AC, T);
}

void lf_flyAirPath(LiveAc& AC)
{
    double heading = AC.block[kBlockHeading];
    const double moved = lf_followLegPath(AC, heading);
    const double turn = gf_wrapRadians(heading - AC.block[kBlockHeading]);
    AC.block[kBlockHeading] = heading;
    lf_bankForTurn(AC, turn, moved);
}

bool lf_planFlightStep(LiveAc& AC, std::size_t K)
{
    std::deque<StreamPos>& stream = AC.stream;
    if (stream.size() < K || stream[K - 1].airborne == 0) {
        return false;
    }
    for (std::size_t n = 0; n + 2 < K && stream.size() >= 3; ++n) {
        stream.erase(stream.begin() + 1);
    }
    const StreamPos& front = stream[0];
    const StreamPos& next = stream[1];
    lf_adjustPlayTick(AC, lf_segmentTicks(front, next));
    lf_climbPerTick(AC);
    return true;
}

void lf_climbPerTick(LiveAc& AC)
{
    const StreamPos& next = AC.stream[1];
    const double alt = AC.block[kBlockAlt];
    AC.climbPerTick = next.alt <= alt ? 0.0 : std::min((next.alt - alt) / lf_ticksUntil(next), AC.climbFactor);
}

double lf_pitchForVerticalRate(double FPM)
{
    const double f = FPM >= 0.0 ? std::min(FPM, 2400.0) : std::max(FPM, -3000.0) / 2.0;
    return -(3.0 + f / 600.0 * 2.2) * kDegToRad;
}

double lf_descentRate(const LiveAc& AC)
{
    if (AC.heightAboveGround <= kLowDescentHeightFt) {
        return kLowDescentFpm;
    }
    const double mean = (AC.stream[0].verticalRate + AC.stream[1].verticalRate) / 2.0;
    return std::min(mean - (g_qnh.load() - kStandardQnh) * 6.0, kTouchdownFpm);
}

void lf_bankTowards(LiveAc& AC, double HEADING_CHANGE, int32_t TICKS)
{
    const double limit = g_bankLimits.at(AC.category);
    const double rate = g_bankRates.at(AC.category);
    const double target = std::clamp(-HEADING_CHANGE, -limit, limit);
    AC.bankStep = std::clamp((target - AC.block[kBlockBank]) / std::max(TICKS, 1), -rate, rate);
}

void lf_configureByHeight(LiveAc& AC)
{
    if (AC.lightsSet == 0) {
        AC.lightsSet = 1;
        AC.cruiseConfigured = 0;
        gf_queueLights(AC.objectId, 1, 1, 1, 1, 1, 1, 1);
    }
    const auto category = static_cast<AcCategory>(AC.category);
    const bool big = category == AcCategory::Buzjets || category == AcCategory::Large || category == AcCategory::Heavy;
    const double limit = big ? 2050.0 : 625.0;
    const double hag = AC.heightAboveGround;
    if (hag <= limit) {
        lf_configureApproach(AC);
        return;
    }
    lf_shrinkWindows(AC);
    gf_queueCabinLights(AC.objectId, 1);
    AC.departing = 0;
    AC.approach = 0;
    const double v = AC.stream[0].verticalRate;
    if (v <= kDescendingFpm && AC.throttleIndex == 3) {
        gf_setThrottle(AC, gf_throttleFor(AC, 2));
    } else if (v > kClimbingFpm && AC.throttleIndex == 4) {
        gf_setThrottle(AC, gf_throttleFor(AC, 3));
    }
    if (hag >= kCleanHeightFt) {
        gf_setGear(AC, 0);
        gf_setFlaps(AC, 0);
        return;
    }
    if (v <= 100.0) {
        if (AC.flapsIndex == 0) {
            gf_setFlaps(AC, 1);
        } else if (AC.flapsIndex == 1 && hag < kFlapsOneHeightFt) {
            gf_setFlaps(AC, 2);
        }
    }
}

void lf_configureApproach(LiveAc& AC)
{
    gf_queueCabinLights(AC.objectId, 0);
    const auto& b = AC.block;
    const bool near = gf_parkAirportSet() && gf_distanceNm(b[kBlockLat], b[kBlockLon], g_parkAirport.latitude,
                                                           g_parkAirport.longitude) <= kNearAirportNm;
    const double v = AC.stream[0].verticalRate;
    if (v <= kDescendingFpm) {
        if (AC.approach == 0 && near) {
            gf_setThrottle(AC, gf_throttleFor(AC, 1));
            gf_setFlaps(AC, 3);
            gf_setGear(AC, 1);
            g_twinCheckIds.push_back(AC.id);
            AC.approach = 1;
            AC.climbConfigured = 0;
            lf_forgetStand(AC);
            AC.transitionSlots = 1;
            lf_resetWindows(AC);
        }
        return;
    }
    const bool goAround = v > kGoAroundFpm || (AC.approach != 0 && !near);
    if (goAround && AC.climbConfigured == 0) {
        lf_shrinkWindows(AC);
        gf_setThrottle(AC, gf_throttleFor(AC, 4));
        gf_setGear(AC, 0);
        gf_setFlaps(AC, 0);
        AC.climbConfigured = 1;
        AC.flareStage = 0;
        AC.approach = 0;
    }
}

void lf_tickAttitude(LiveAc& AC)
{
    auto& b = AC.block;
    if (AC.flightState == FlightState::take_off) {
        lf_takeOffTick(AC);
        lf_holdRotorcraftAttitude(AC);
        return;
    }
    if (AC.heightAboveGround <= kFlareHeightFt && lf_isLanding(AC)) {
        lf_flare(AC);
    }
    if (AC.derotating != 0) {
        lf_derotateTick(AC);
    } else if (AC.flareStage > 0) {
        if (!AC.legPath.running()) {
            // wings level for the touchdown
            const double rate = g_bankRates.at(AC.category);
            AC.bankStep = std::clamp(-b[kBlockBank], -rate, rate);
        }
        b[kBlockBank] = gf_wrapRadians(b[kBlockBank] + AC.bankStep);
        b[kBlockPitch] = std::max(b[kBlockPitch] + AC.pitchStep, kFlareTopPitchRad);
        b[kBlockAlt] += AC.climbPerTick;
        AC.verticalRate = AC.climbPerTick * kTicksPerMinute;
    } else if (AC.onGround != 0) {
        b[kBlockPitch] = AC.groundPitch;
        b[kBlockBank] = 0.0;
    } else {
        b[kBlockBank] += AC.bankStep;
        b[kBlockPitch] += AC.pitchStep;
        b[kBlockAlt] += AC.climbPerTick;
    }
    lf_holdRotorcraftAttitude(AC);
}

bool lf_checkUserConflict(LiveAc& AC, uint32_t ROW)
{
    const UserConflictLimit& limit = g_userConflictLimits.at(ROW);
    const auto& b = AC.block;
    const double d = gf_distanceNm(g_userAc.latitude, g_userAc.longitude, b[kBlockLat], b[kBlockLon]);
    if (d > limit.distanceNm || std::abs(b[kBlockAlt] - g_userAc.altitude) >= limit.altitudeBandFt) {
        return false;
    }
    const double x = gf_wrapRadians(b[kBlockHeading] - gf_bearing(g_userAc.latitude, g_userAc.longitude, b[kBlockLat],
                                                                 b[kBlockLon]));
    const double feet = d * kFeetPerNm;
    if (feet * std::cos(x) <= 0.0 || feet * std::abs(std::sin(x)) > limit.lateralFt) {
        return false;
    }
    removeAircraftFromSim(AC, "in the user's path");
    return true;
}

} // namespace qmt
