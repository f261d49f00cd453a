#include <algorithm>
#include <cmath>

#include "core/AcKind.h"
#include "core/Geo.h"
#include "engine/Motion.h"

namespace qmt {

namespace {

constexpr double kShortestLegM = 1.0;
// The farther the heading is off the leg, the sooner the path turns: its first control point
// lies this share of the leg ahead at least.
constexpr double kLeastLeadShare = 0.25;
// A sharper onward corner is driven to along the leg, then turned.
constexpr double kSmoothTurnRad = 120.0 * kDegToRad;
constexpr int kRateSamples = 16;
// A planned leg never moves its parameter more than this in a tick, whatever its speed.
constexpr double kMostPlannedStep = 0.25;
// Knots to metres a tick.
constexpr double kMetresPerTickPerKt = 1852.0 / 3600.0 / 100.0;
constexpr double kGravity = 9.80665; // metres a second squared
constexpr double kMostRadiusBankRad = 45.0 * kDegToRad;
// The arm of a path's control point per metre of turn radius for a half turn (a cubic curve
// near a half circle has arms of 4/3 of its radius).
constexpr double kArmPerRadius = 4.0 / 3.0;
// Neither arm of a path is longer than this share of the leg.
constexpr double kMostArmShare = 0.5;
// A leg flown along the nose and left along it needs no path: the straight steps are the same.
constexpr double kStraightRad = 0.5 * kDegToRad;

struct Vec {
    double north = 0.0;
    double east = 0.0;
};

// Direction of the path at T (derivative of the curve) and its change (second derivative).
Vec lf_direction(const LegPath& P, double T)
{
    const double u = 1.0 - T;
    return {3.0 * u * u * P.firstNorth + 6.0 * u * T * (P.secondNorth - P.firstNorth) +
                3.0 * T * T * (P.endNorth - P.secondNorth),
            3.0 * u * u * P.firstEast + 6.0 * u * T * (P.secondEast - P.firstEast) +
                3.0 * T * T * (P.endEast - P.secondEast)};
}

Vec lf_bend(const LegPath& P, double T)
{
    const double u = 1.0 - T;
    return {6.0 * u * (P.secondNorth - 2.0 * P.firstNorth) + 6.0 * T * (P.endNorth - 2.0 * P.secondNorth + P.firstNorth),
            6.0 * u * (P.secondEast - 2.0 * P.firstEast) + 6.0 * T * (P.endEast - 2.0 * P.secondEast + P.firstEast)};
}

} // namespace

double lf_airTurnRadiusM(const LiveAc& AC)
{
    const double v = std::max(AC.groundSpeed, 0.0) * kMetresPerTickPerKt * 100.0;
    const double bank = std::min(g_bankLimits.at(AC.category), kMostRadiusBankRad);
    return v * v / (kGravity * std::tan(bank));
}

// The arc tangent of X within 1.2e-5 rad (0.0007 degrees), a short series with no library call.
double gf_quickAtan(double X)
{
    const bool inverted = std::abs(X) > 1.0;
    const double x = inverted ? 1.0 / X : X;
    const double x2 = x * x;
    const double a = x * (0.9998660 + x2 * (-0.3302995 + x2 * (0.1801410 + x2 * (-0.0851330 + x2 * 0.0208351))));
    if (!inverted) {
        return a;
    }
    return (x > 0.0 ? PI / 2.0 : -PI / 2.0) - a;
}

// The direction of (EAST, NORTH) from north, clockwise, in [0, 2 pi).
double gf_quickBearing(double NORTH, double EAST)
{
    double a = 0.0;
    if (std::abs(NORTH) >= std::abs(EAST)) {
        a = NORTH == 0.0 ? 0.0 : gf_quickAtan(EAST / NORTH);
        if (NORTH < 0.0) {
            a += PI;
        }
    } else {
        a = (EAST > 0.0 ? PI / 2.0 : -PI / 2.0) - gf_quickAtan(NORTH / EAST);
    }
    return a < 0.0 ? a + 2.0 * PI : (a >= 2.0 * PI ? a - 2.0 * PI : a);
}

double lf_arrivalHeading(const LiveAc& AC)
{
    const std::deque<StreamPos>& stream = AC.stream;
    const StreamPos& next = stream[1];
    const double leg = gf_bearing(AC.block[kBlockLat], AC.block[kBlockLon], next.lat, next.lon);
    if (stream.size() < 3 || stream[2].repeat != 0 || lf_samePosition(next, stream[2])) {
        return leg;
    }
    const double turn = gf_wrapRadians(gf_bearing(next.lat, next.lon, stream[2].lat, stream[2].lon) - leg);
    return std::abs(turn) < kSmoothTurnRad ? gf_wrapTwoPi(leg + turn / 2.0) : leg;
}

bool lf_shapeLegPath(LiveAc& AC, double ARRIVAL)
{
    LegPath& path = AC.legPath;
    path.clear();
    const StreamPos& next = AC.stream[1];
    path.originLat = AC.block[kBlockLat];
    path.originLon = AC.block[kBlockLon];
    gf_toFrame(path.originLat, path.originLon, next.lat, next.lon, path.endNorth, path.endEast);
    const double d = std::hypot(path.endNorth, path.endEast);
    if (!(d >= kShortestLegM)) {
        return false;
    }
    const double h = AC.block[kBlockHeading];
    const double leg = std::atan2(path.endEast, path.endNorth);
    // In the air every leg has a path: its speed is planned along it.
    const bool straight =
        std::abs(gf_wrapRadians(leg - h)) < kStraightRad && std::abs(gf_wrapRadians(ARRIVAL - leg)) < kStraightRad;
    if (straight && AC.onGround != 0) {
        return false;
    }
    double first = d * std::max(std::cos(gf_wrapRadians(leg - h)), kLeastLeadShare) / 3.0;
    double second = d / 3.0;
    if (AC.onGround == 0) {
        // In the air a sharp corner is a turn at the category's bank, whatever the leg's
        // length: the arms of the path grow with the radius of that turn.
        const double radius = lf_airTurnRadiusM(AC);
        // Arms longer than the leg itself tie the path into a loop (the nose swings round within
        // a second and the loop's length is flown at top speed): a report inside the turn circle
        // is turned to more tightly instead.
        first = std::min(std::max(first, kArmPerRadius * radius * std::sin(std::abs(gf_wrapRadians(leg - h)) / 2.0)),
                         kMostArmShare * d);
        second = std::min(
            std::max(second, kArmPerRadius * radius * std::sin(std::abs(gf_wrapRadians(ARRIVAL - leg)) / 2.0)),
            kMostArmShare * d);
    }
    path.firstNorth = first * std::cos(h);
    path.firstEast = first * std::sin(h);
    path.secondNorth = path.endNorth - second * std::cos(ARRIVAL);
    path.secondEast = path.endEast - second * std::sin(ARRIVAL);
    path.lonPerMetre = 1.0 / (std::cos(path.originLat * kDegToRad) * kFrameMetresPerDegree);
    path.shaped = 1;
    path.straight = straight ? 1 : 0;
    path.endOnGround = next.airborne == 0 ? 1 : 0;
    return true;
}

double lf_legPathTurnRate(const LegPath& P)
{
    double fastest = 0.0;
    for (int i = 0; i <= kRateSamples; ++i) {
        const double t = static_cast<double>(i) / kRateSamples;
        const Vec d = lf_direction(P, t);
        const Vec b = lf_bend(P, t);
        const double length2 = d.north * d.north + d.east * d.east;
        if (length2 > 1e-6) {
            fastest = std::max(fastest, std::abs(d.north * b.east - d.east * b.north) / length2);
        }
    }
    return fastest;
}

double lf_legPathLength(const LegPath& P)
{
    double length = 0.0;
    double north = 0.0;
    double east = 0.0;
    for (int i = 1; i <= kRateSamples; ++i) {
        const double t = static_cast<double>(i) / kRateSamples;
        const double u = 1.0 - t;
        const double n = 3.0 * u * u * t * P.firstNorth + 3.0 * u * t * t * P.secondNorth + t * t * t * P.endNorth;
        const double e = 3.0 * u * u * t * P.firstEast + 3.0 * u * t * t * P.secondEast + t * t * t * P.endEast;
        length += std::sqrt((n - north) * (n - north) + (e - east) * (e - east));
        north = n;
        east = e;
    }
    return length;
}

void lf_startLegPath(LiveAc& AC, int32_t T)
{
    LegPath& path = AC.legPath;
    if (path.shaped != 0) {
        path.t = 0.0;
        path.lastNorth = 0.0;
        path.lastEast = 0.0;
        path.step = 1.0 / std::max(T, 1);
        path.speed = std::hypot(path.firstNorth, path.firstEast) * 3.0;
    }
}

double lf_plannedSpeedTick(LiveAc& AC)
{
    LegPath& p = AC.legPath;
    if (AC.onGround != 0 && AC.landingRoll != 0) {
        // braked on the runway, down to the speed the roll-out reports show
        if (p.speedKt > p.rollOutKt) {
            p.speedKt = std::max(p.speedKt - kRunwayBrakeKtPerTick, p.rollOutKt);
        }
    } else if (p.speedStepKt > 0.0) {
        p.speedKt = std::min(p.speedKt + p.speedStepKt, p.speedEndKt);
    } else if (p.speedStepKt < 0.0) {
        p.speedKt = std::max(p.speedKt + p.speedStepKt, p.speedEndKt);
    }
    AC.groundSpeed = p.speedKt;
    return p.speedKt;
}

namespace {

// At the end of its leg the aircraft goes on along its heading: still in the air above a point
// on the ground (fixed-wing), or still braking on the runway.
bool lf_runsOn(const LiveAc& AC)
{
    const LegPath& p = AC.legPath;
    if (AC.onGround == 0) {
        return AC.category != kAcCategoryRotorcraft && p.endOnGround != 0;
    }
    return AC.landingRoll != 0 && p.speedKt > p.rollOutKt + 1.0;
}

// Sets when the end point (the stream's front) is played, and the tick's copy of it.
void lf_setEndTick(LiveAc& AC, int32_t TICK)
{
    AC.stream.front().playTick = TICK;
    if (gf_keptFrontHolds(AC, LiveAc::kFrontKeptActive)) {
        AC.frontPlayTick = TICK;
    }
}

// The end point of a planned leg is played when the path reaches it, neither sooner (no halt at
// its end) nor, within a while, later (no cut across to the next leg); a point on the ground
// waits until the aircraft has come down onto it, and a roll-out until it has braked. The
// stream itself is touched only then: every tick it would be a cache miss.
void lf_playPlannedEnd(LiveAc& AC)
{
    LegPath& p = AC.legPath;
    if (AC.stream.empty()) {
        return;
    }
    const int32_t now = lf_now();
    const bool waits = (AC.onGround == 0 && p.endOnGround != 0) || lf_runsOn(AC);
    if (p.t >= 1.0 && !waits) {
        lf_setEndTick(AC, now);
        p.planned = 0;
        p.step = 0.0;
        return;
    }
    const bool kept = gf_keptFrontHolds(AC, LiveAc::kFrontKeptActive);
    if (kept && AC.frontPlayTick > now + 1) {
        return;
    }
    const int32_t endTick = kept ? AC.frontPlayTick : AC.stream.front().playTick;
    if (endTick <= now + 1 && endTick >= p.endTick && now - p.dueTick < kLongestLateTicks) {
        // (a new report may have cut the leg short: then its end is played when it says)
        lf_setEndTick(AC, now + 2);
        p.endTick = now + 2;
    }
}

} // namespace

double lf_followLegPath(LiveAc& AC, double& HEADING)
{
    LegPath& p = AC.legPath;
    auto& b = AC.block;
    if (p.planned != 0 && p.t >= 1.0 && lf_runsOn(AC)) {
        // A fixed-wing aircraft still in the air at the end of its leg to the ground flies on
        // along the runway until it touches down, and one still rolling out fast brakes on
        // along it, as it would.
        const double metres = p.speedKt * kMetresPerTickPerKt;
        p.endNorth += metres * std::cos(HEADING);
        p.endEast += metres * std::sin(HEADING);
        p.lastNorth = p.endNorth;
        p.lastEast = p.endEast;
        b[kBlockLat] = p.originLat + p.endNorth * (1.0 / kFrameMetresPerDegree);
        b[kBlockLon] = gf_wrapDegrees(p.originLon + p.endEast * p.lonPerMetre);
        lf_plannedSpeedTick(AC);
        lf_playPlannedEnd(AC);
        return metres;
    }
    if (p.planned != 0 && p.straight != 0) {
        // along the nose: the heading stays, the position moves along the line
        const double metres = std::max(lf_plannedSpeedTick(AC), kLeastPlannedKt) * kMetresPerTickPerKt;
        p.t = std::min(p.t + metres / std::max(p.speed, 1e-3), 1.0);
        p.lastNorth = p.t * p.endNorth;
        p.lastEast = p.t * p.endEast;
        b[kBlockLat] = p.originLat + p.lastNorth * (1.0 / kFrameMetresPerDegree);
        b[kBlockLon] = gf_wrapDegrees(p.originLon + p.lastEast * p.lonPerMetre);
        lf_playPlannedEnd(AC);
        return metres;
    }
    double step = p.step;
    if (p.planned != 0) {
        const double metres = std::max(lf_plannedSpeedTick(AC), kLeastPlannedKt) * kMetresPerTickPerKt;
        step = std::min(metres / std::max(p.speed, 1e-3), kMostPlannedStep);
    }
    p.t = std::min(p.t + step, 1.0);
    const double t = p.t;
    const double u = 1.0 - t;
    const double north = 3.0 * u * u * t * p.firstNorth + 3.0 * u * t * t * p.secondNorth + t * t * t * p.endNorth;
    const double east = 3.0 * u * u * t * p.firstEast + 3.0 * u * t * t * p.secondEast + t * t * t * p.endEast;
    const double dNorth = north - p.lastNorth;
    const double dEast = east - p.lastEast;
    p.lastNorth = north;
    p.lastEast = east;
    b[kBlockLat] = p.originLat + north * (1.0 / kFrameMetresPerDegree);
    b[kBlockLon] = gf_wrapDegrees(p.originLon + east * p.lonPerMetre);
    const Vec d = lf_direction(p, t);
    if (d.north != 0.0 || d.east != 0.0) {
        HEADING = gf_quickBearing(d.north, d.east);
    }
    if (p.planned == 0) {
        return 0.0;
    }
    p.speed = std::sqrt(d.north * d.north + d.east * d.east);
    lf_playPlannedEnd(AC);
    return std::sqrt(dNorth * dNorth + dEast * dEast);
}

} // namespace qmt
