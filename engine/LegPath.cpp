#include <algorithm>
#include <cmath>

#include "core/Geo.h"
#include "engine/Motion.h"

namespace qmt {

namespace {

constexpr double kShortestLegM = 1.0;
// The farther the heading is off the leg, the sooner the path turns: its first control point
// lies this share of the leg ahead at least.
constexpr double kLeastLeadShare = 0.25;
// A sharper onward corner is driven to along the leg, then turned.
constexpr double kSmoothTurnRad = 120.0 * DEG_TO_RAD;
constexpr int kRateSamples = 16;

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
    const double lead = d * std::max(std::cos(gf_wrapRadians(leg - h)), kLeastLeadShare);
    path.firstNorth = lead * std::cos(h) / 3.0;
    path.firstEast = lead * std::sin(h) / 3.0;
    path.secondNorth = path.endNorth - d * std::cos(ARRIVAL) / 3.0;
    path.secondEast = path.endEast - d * std::sin(ARRIVAL) / 3.0;
    path.shaped = 1;
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

void lf_startLegPath(LiveAc& AC, int32_t T)
{
    LegPath& path = AC.legPath;
    if (path.shaped != 0) {
        path.t = 0.0;
        path.step = 1.0 / std::max(T, 1);
    }
}

double lf_followLegPath(LiveAc& AC, double& HEADING)
{
    LegPath& p = AC.legPath;
    auto& b = AC.block;
    p.t = std::min(p.t + p.step, 1.0);
    const double t = p.t;
    const double u = 1.0 - t;
    const double north = 3.0 * u * u * t * p.firstNorth + 3.0 * u * t * t * p.secondNorth + t * t * t * p.endNorth;
    const double east = 3.0 * u * u * t * p.firstEast + 3.0 * u * t * t * p.secondEast + t * t * t * p.endEast;
    double lat = 0.0;
    double lon = 0.0;
    gf_fromFrame(p.originLat, p.originLon, north, east, lat, lon);
    const double moved = gf_distanceNm(b[kBlockLat], b[kBlockLon], lat, lon) * METRES_PER_NM;
    b[kBlockLat] = lat;
    b[kBlockLon] = lon;
    const Vec d = lf_direction(p, t);
    if (std::hypot(d.north, d.east) > 1e-9) {
        HEADING = gf_wrapTwoPi(std::atan2(d.east, d.north));
    }
    return moved;
}

} // namespace qmt
