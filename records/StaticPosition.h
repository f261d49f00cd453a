#pragma once
// A static position: one future static parked aircraft of the park airport, planned by the static
// calculation and created one at a time; the engine drops the one planned on a stand that a live
// aircraft takes. Worker thread only, no lock.

#include "core/AcKind.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qmt {

// One future static aircraft.
struct StaticPosition {
    uint32_t sourceId = 0;       // hex id of the parked aircraft; 0 for a learned position
    uint32_t source = 0;         // 0 parked traffic, 1 learned stand option
    uint32_t standId = 0;
    int32_t rank = 0;            // half hours since it parked (parked traffic, renewal) or the fit step
    AcKind kind{};
    std::string callsign;
    std::string furtherName;
    std::string registration;
    uint8_t preferCallsign = 0;  // 1: named by callsign, 0: by further name
    int32_t retryUntilTick = 0;  // waiting for the aircraft it replaces to leave the stand (0: not waiting)
};

// Static positions still to be created; the last one is created first.
extern std::vector<StaticPosition> g_staticPositions;
} // namespace qmt
