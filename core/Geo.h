#pragma once
// Great-circle geometry on one Earth radius.

namespace qmt {

inline constexpr double kEarthRadiusNm = 3440.065;              // mean Earth radius, nautical miles
inline constexpr double kNmPerMetre = 0.0005399568034557236;
inline constexpr double kMetresPerNm = 1852.0;
inline constexpr double kFeetPerNm = 6076.11549;
inline constexpr double PI = 3.14159265358979323846;
inline constexpr double kDegToRad = PI / 180.0;
inline constexpr double kRadToDeg = 180.0 / PI;
inline constexpr double kFullTurn = 2.0 * PI;

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

// Tells cheaply, without trigonometry per point, which points lie surely farther than a reach from
// a position, so that a search computes the distance only of the others: the great-circle distance
// is at least the latitude difference, and at least the longitude difference times the smaller
// cosine of the two latitudes and 2/pi (for the sine of at most a quarter turn). A small margin
// keeps rounding on the side of computing the distance.
class GeoFarTest {
public:
    GeoFarTest(LatLon from, double reachNm);
    bool surelyFarther(double lat, double lon) const;

private:
    double m_lat;       // radians
    double m_lon;       // radians
    double m_reach;     // nm, with the margin
    double m_band;      // radians of latitude within the reach
    double m_lonScale;  // nm per radian of longitude at least, within the band
};

} // namespace qmt
