#include "records/Stand.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace qmt {

Stand::Stand(std::string NAME, std::vector<StandOption> OPTIONS, double LATITUDE, double LONGITUDE,
             double HEADING, double RADIUS_METRES, uint16_t TYPE, bool CARGO, bool RAMP, bool HELI)
    : options(std::move(OPTIONS)), name(std::move(NAME)), latitude(LATITUDE), longitude(LONGITUDE),
      heading(HEADING), radius(RADIUS_METRES * kNmPerMetre), type(TYPE), cargo(CARGO ? 1 : 0),
      ramp(RAMP ? 1 : 0), heli(HELI ? 1 : 0)
{
    adjacent.reserve(8);
}

bool gf_isStandPosition(double LATITUDE, double LONGITUDE)
{
    return std::isfinite(LATITUDE) && std::isfinite(LONGITUDE) && std::fabs(LATITUDE) <= 90.0 &&
           std::fabs(LONGITUDE) <= 180.0;
}

bool gf_isStandRadius(double METRES)
{
    return std::isfinite(METRES) && METRES >= 0.0 && METRES <= kMaxStandRadiusM;
}

std::optional<double> gf_standHeadingRad(double DEGREES)
{
    // Files give -180..360; a value of many turns is a broken number, not a heading.
    if (!std::isfinite(DEGREES) || std::fabs(DEGREES) > 3600.0) {
        return std::nullopt;
    }
    double degrees = std::fmod(DEGREES, 360.0);
    if (degrees < 0.0) {
        degrees += 360.0;
    }
    const double radians = degrees * kDegToRad;
    // fmod of a tiny negative number lands on 360 after the addition.
    return radians < 2.0 * PI ? radians : 0.0;
}

bool gf_standInBounds(const Stand& STAND)
{
    const double largest = kMaxStandRadiusM * kNmPerMetre * (1.0 + 1e-9);
    if (!gf_isStandPosition(STAND.latitude, STAND.longitude) || !std::isfinite(STAND.radius) ||
        STAND.radius < 0.0 || STAND.radius > largest ||
        !std::isfinite(STAND.heading) || STAND.heading < 0.0 || STAND.heading > 2.0 * PI ||
        STAND.adjacent.size() > kMaxAdjacentStands) {
        return false;
    }
    return std::all_of(STAND.options.begin(), STAND.options.end(), [](const StandOption& O) {
        return O.day >= 1 && O.day <= 7;
    });
}

bool gf_sameKind(const AcKind& A, const AcKind& B)
{
    return A.airlineId == B.airlineId && A.operatorId == B.operatorId && A.modelId == B.modelId;
}

} // namespace qmt
