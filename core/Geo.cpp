#include "core/Geo.h"

#include <algorithm>
#include <cmath>

namespace qmt {

double gf_distanceNm(LatLon a, LatLon b)
{
    const double lat1 = a.lat * kDegToRad, lat2 = b.lat * kDegToRad;
    const double dLat = lat2 - lat1;
    const double dLon = (b.lon - a.lon) * kDegToRad;
    const double s1 = std::sin(dLat / 2.0), s2 = std::sin(dLon / 2.0);
    double h = s1 * s1 + std::cos(lat1) * std::cos(lat2) * s2 * s2;
    h = std::clamp(h, 0.0, 1.0); // rounding can push it past 1 for antipodes
    return 2.0 * kEarthRadiusNm * std::asin(std::sqrt(h));
}

double gf_distanceNm(double lat1, double lon1, double lat2, double lon2)
{
    return gf_distanceNm(LatLon{lat1, lon1}, LatLon{lat2, lon2});
}

double gf_bearing(LatLon from, LatLon to)
{
    const double lat1 = from.lat * kDegToRad, lat2 = to.lat * kDegToRad;
    const double dLon = (to.lon - from.lon) * kDegToRad;
    const double y = std::sin(dLon) * std::cos(lat2);
    const double x = std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dLon);
    double b = std::atan2(y, x);
    if (b < 0.0) b += 2.0 * PI;
    if (b >= 2.0 * PI) b -= 2.0 * PI;
    return b;
}

double gf_bearing(double lat1, double lon1, double lat2, double lon2)
{
    return gf_bearing(LatLon{lat1, lon1}, LatLon{lat2, lon2});
}

LatLon gf_destinationPoint(LatLon start, double bearingRad, double distanceFt)
{
    const double delta = distanceFt / kFeetPerNm / kEarthRadiusNm;
    const double lat1 = start.lat * kDegToRad, lon1 = start.lon * kDegToRad;
    const double sinLat2 = std::sin(lat1) * std::cos(delta) + std::cos(lat1) * std::sin(delta) * std::cos(bearingRad);
    const double lat2 = std::asin(std::clamp(sinLat2, -1.0, 1.0));
    const double lon2 = lon1 + std::atan2(std::sin(bearingRad) * std::sin(delta) * std::cos(lat1),
                                          std::cos(delta) - std::sin(lat1) * std::sin(lat2));
    double lonDeg = lon2 * kRadToDeg;
    lonDeg = std::fmod(lonDeg + 540.0, 360.0) - 180.0;
    return LatLon{lat2 * kRadToDeg, lonDeg};
}

// The wraps run for every aircraft at every tick: within one turn the remainder is the value
// itself (fmod is exact), and fmod, which is slow, is left to larger values.
double gf_wrapDegrees(double DEGREES)
{
    // most angles are already in range: the same result without the division
    if (DEGREES >= -180.0 && DEGREES <= 180.0) {
        return DEGREES;
    }
    double d = std::fabs(DEGREES) < 360.0 ? DEGREES : std::fmod(DEGREES, 360.0);
    if (d > 180.0) {
        d -= 360.0;
    } else if (d < -180.0) {
        d += 360.0;
    }
    return d;
}

double gf_wrapRadians(double RADIANS)
{
    if (RADIANS >= -PI && RADIANS <= PI) {
        return RADIANS;
    }
    double r = std::fabs(RADIANS) < 2.0 * PI ? RADIANS : std::fmod(RADIANS, 2.0 * PI);
    if (r > PI) {
        r -= 2.0 * PI;
    } else if (r < -PI) {
        r += 2.0 * PI;
    }
    return r;
}

double gf_wrapTwoPi(double RADIANS)
{
    if (RADIANS >= 0.0 && RADIANS < 2.0 * PI) {
        return RADIANS;
    }
    double r = std::fabs(RADIANS) < 2.0 * PI ? RADIANS : std::fmod(RADIANS, 2.0 * PI);
    if (r < 0.0) {
        r += 2.0 * PI;
    }
    return r;
}

double gf_lonDifference(double TO, double FROM)
{
    return gf_wrapDegrees(TO - FROM);
}

double gf_midLongitude(double A, double B)
{
    return gf_wrapDegrees(A + gf_lonDifference(B, A) / 2.0);
}

GeoFarTest::GeoFarTest(LatLon from, double reachNm)
    : m_lat(from.lat * kDegToRad), m_lon(from.lon * kDegToRad), m_reach(reachNm * (1.0 + 1e-9)),
      m_band(m_reach / kEarthRadiusNm)
{
    const double outer = std::min(std::fabs(m_lat) + m_band, PI / 2.0);
    m_lonScale = kEarthRadiusNm * std::sqrt(std::max(std::cos(m_lat) * std::cos(outer), 0.0)) * 2.0 / PI;
}

bool GeoFarTest::surelyFarther(double lat, double lon) const
{
    if (std::fabs(lat * kDegToRad - m_lat) > m_band) {
        return true;
    }
    // Beyond half a turn the longitude difference says nothing (the sine turns back).
    const double dLon = std::fabs(lon * kDegToRad - m_lon);
    return dLon <= PI && m_lonScale * dLon > m_reach;
}

} // namespace qmt
