#include "platform/TrafficSource.h"

#include "core/Geo.h"

#include <algorithm>
#include <cmath>

namespace qmt {

bool QueryBox::contains(double LAT, double LON) const
{
    if (LAT < south || LAT > north) {
        return false;
    }
    if (west <= east) {
        return LON >= west && LON <= east;
    }
    return LON >= west || LON <= east;
}

QueryBox gf_queryBoxAround(double LAT, double LON, double RANGE_NM)
{
    const double range = std::max(RANGE_NM, 0.0);
    const double dLat = range / 60.0;
    // Near the poles a degree of longitude shrinks to nothing; past 89 degrees
    // the box simply spans every longitude.
    const double cosLat = std::cos(LAT * kDegToRad);
    QueryBox box;
    box.south = std::max(LAT - dLat, -90.0);
    box.north = std::min(LAT + dLat, 90.0);
    const double dLon = cosLat > 0.0175 ? range / (60.0 * cosLat) : 180.0;
    if (dLon >= 180.0) {
        box.west = -180.0;
        box.east = 180.0;
        return box;
    }
    box.west = LON - dLon;
    box.east = LON + dLon;
    if (box.west < -180.0) {
        box.west += 360.0;
    }
    if (box.east > 180.0) {
        box.east -= 360.0;
    }
    return box;
}

} // namespace qmt
