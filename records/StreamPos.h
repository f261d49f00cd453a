#pragma once

#include <cstdint>

namespace qmt {

// One reported position of a live aircraft, copied by value into its stream.
// The position part of a live traffic record has exactly this layout, so the
// intake copies it over in one piece: keep the fields and their order.
struct StreamPos {
    double lat = 0.0;           // degrees
    double lon = 0.0;           // degrees
    double alt = 0.0;           // feet
    double groundSpeed = 0.0;   // knots
    double track = 0.0;         // degrees
    double verticalRate = 0.0;  // feet per minute
    double airspeed = 0.0;      // knots
    int32_t playTick = 0;       // tick at which the point is due
    uint8_t airborne = 0;       // the report is airborne
    uint8_t repeat = 0;         // the point repeats the previous position
    uint8_t recordFlag = 0;     // flag byte copied from the traffic record
    double roll = 0.0;          // radians
    uint8_t hasRoll = 0;        // roll is valid
    double trueHeading = 0.0;   // radians
    uint8_t hasTrueHeading = 0; // trueHeading is valid
};

} // namespace qmt
