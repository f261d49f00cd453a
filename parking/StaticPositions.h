#pragma once
// The records and lists of the static-position calculation that the stand table reads
// and fills. Worker thread only, no lock.

#include "core/AcKind.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace qmt {

// One future static aircraft.
struct StaticPosition {
    uint32_t sourceId = 0;       // hex id of the parked aircraft; 0 for a learned position
    uint32_t source = 0;         // 0 parked traffic, 1 learned stand option
    uint32_t standId = 0;
    int32_t rank = 0;            // sort key: age, fit step, or half-hour of a kept aircraft
    AcKind kind{};
    std::string callsign;
    std::string furtherName;
    std::string registration;
    uint8_t preferCallsign = 0;  // 1: named by callsign, 0: by further name
};

// A live aircraft parked at the park airport.
struct LiveParked {
    std::string callsign;
    uint32_t standId = 0;
    int32_t minutesParked = 0;
};

// Static positions still to be created; the last one is created first.
extern std::vector<StaticPosition> g_staticPositions;
// Live aircraft parked at the park airport, by minutes parked.
extern std::vector<LiveParked> g_liveParked;
// Callsigns and hex ids seen in the live traffic while the feed gathered them.
extern std::unordered_set<std::string> g_recentCallsigns;
extern std::unordered_set<uint32_t> g_recentHexIds;
// Fit step reached by the last real and soft pass; -1 when none.
extern int32_t g_realFitStep;
extern int32_t g_softFitStep;

// Back to the state of a fresh start (tests).
void gf_resetStaticPositionsForTests();

} // namespace qmt
