#pragma once
// How many static parked aircraft the park airport gets, on which stands and as which aircraft:
// positions from the service's parked traffic first, then from the learned stand options in up
// to four passes. Worker thread only, no lock.

#include "core/AcKind.h"
#include "core/WeekTime.h"
#include "records/StaticPosition.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace qmt {

struct Stand;

// A static aircraft listed for removal.
struct StaticRemoval {
    std::string callsign;
    uint32_t standId = 0;
};

// A live aircraft parked at the park airport.
struct LiveParked {
    std::string callsign;
    uint32_t standId = 0;
    int32_t minutesParked = 0;
};

// A present static aircraft that stays through a reconciliation.
struct KeptStatic {
    std::string callsign;
    std::string secondName;
    std::string thirdName;
    std::string registration;
    AcKind kind{};
    WeekTime time{};             // when it is taken to have parked
    uint32_t standId = 0;
    uint8_t renew = 0;           // its stay ends in the coming half hour: re-created under its further name
};

// Static aircraft to remove at the end of a calculation or reconciliation.
extern std::vector<StaticRemoval> g_staticRemovals;
// Live aircraft parked at the park airport, by minutes parked (shortest first).
extern std::vector<LiveParked> g_liveParked;
// Static aircraft that stay through the current reconciliation.
extern std::vector<KeptStatic> g_keptStatics;
// Callsigns and hex ids seen in the live traffic while the feed gathered them.
extern std::unordered_set<std::string> g_recentCallsigns;
extern std::unordered_set<uint32_t> g_recentHexIds;
// Fit step reached by the last real and soft pass; -1 when none.
extern int32_t g_realFitStep;
extern int32_t g_softFitStep;

// The full calculation, when the park airport is set or switched.
void lf_calculateStaticPositions();
// The common start of a calculation and a reconciliation: empties the lists of the last one,
// takes over the recent traffic, clears the stand marks, numbers the options again and marks the
// reserved stands.
void lf_startStaticPass();
// Takes over the live callsigns and hex ids the feed gathered, and stops the gathering.
void lf_takeOverRecentTraffic();
// Marks the stand reserved for the user aircraft and the stand the user aircraft stands at.
void lf_markReservedStands();
// Appends the positions of the parked traffic of the last gf_getParkedTraffic.
void lf_positionsFromParkedTraffic();
// The learned passes: adds positions until N, less OFFSET stands held otherwise, are reached.
void lf_addPositions(WeekTime TIME, int64_t N, int64_t OFFSET);
void lf_addPositionsPass(WeekTime TIME, int64_t N, int64_t OFFSET, uint32_t REAL, uint32_t DAY);
// Fit steps 0, 1, ... of one pass until N stands are used; false when MAX_FIT is passed first.
// STEP gets the last step searched.
bool lf_fitPositions(WeekTime TIME, uint32_t REAL, uint32_t DAY, int64_t N, std::vector<StaticPosition>& OUT,
                     int32_t& STEP);
// The first position on a stand adjacent to STAND whose aircraft would touch one of HALF_SPAN
// standing at LATITUDE/LONGITUDE.
std::optional<size_t> gf_positionTooNear(const Stand& STAND, double LATITUDE, double LONGITUDE, double HALF_SPAN);
// Logs the current time of week and returns it.
WeekTime lf_logDayAndHour();
// Lists a static aircraft for removal (once).
void lf_listStaticRemoval(const std::string& CALLSIGN, uint32_t STAND_ID);
bool lf_isListedForRemoval(const std::string& CALLSIGN, uint32_t STAND_ID);
// Removes the listed static aircraft from the simulator and empties the list.
void lf_removeListedStatics();

// Back to the state of a fresh start (tests).
void gf_resetStaticPositionsForTests();

} // namespace qmt
