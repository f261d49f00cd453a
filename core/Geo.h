#pragma once
// Great-circle geometry on one Earth radius.

namespace qmt {

inline constexpr double EARTH_RADIUS_NM = 3440.065;              // mean Earth radius, nautical miles
inline constexpr double NM_PER_METRE = 0.0005399568034557236;
inline constexpr double METRES_PER_NM = 1852.0;
inline constexpr double FEET_PER_NM = 6076.11549;
inline constexpr double PI = 3.14159265358979323846;
inline constexpr double DEG_TO_RAD = PI / 180.0;
inline constexpr double RAD_TO_DEG = 180.0 / PI;

// A position in degrees.
struct LatLon {
    double lat = 0.0;
    double lon = 0.0;
};

// Great-circle distance in nautical miles.
double gf_distanceNm(LatLon a, LatLon b);
double gf_distanceNm(double lat1, double lon1, double lat2, double lon2);
// Initial bearing from a to b, radians in 0..2pi.
double gf_bearing(LatLon from, LatLon to);
double gf_bearing(double lat1, double lon1, double lat2, double lon2);
// The position reached from the start along the bearing (radians) over the distance (feet).
LatLon gf_destinationPoint(LatLon start, double bearingRad, double distanceFt);

// Angles and longitudes, wrapped the short way round.
// Degrees into -180..180.
double gf_wrapDegrees(double DEGREES);
// Radians into -pi..pi.
double gf_wrapRadians(double RADIANS);
// Radians into 0..2pi.
double gf_wrapTwoPi(double RADIANS);
// TO - FROM in degrees of longitude, the short way round (-180..180).
double gf_lonDifference(double TO, double FROM);
// The longitude halfway between A and B, the short way round.
double gf_midLongitude(double A, double B);

} // namespace qmt
