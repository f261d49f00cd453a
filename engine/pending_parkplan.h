#pragma once

// What birth and the parking limits call of the static-parking planner and of the learned stand
// options, until those are built.

#include <cstdint>
#include <string>

#include "engine/AcRecords.h"

namespace qmt {

// Name of the stand reserved for the user aircraft, empty for none (worker thread).
extern std::string g_reservedStand;

// Records that the live aircraft stands at the stand now (EVENT 0 arrived, 1 seen standing,
// 2 leaving, 3 gone).
void lf_addRealStandOption(int32_t STAND_ID, LiveAc& AC, int32_t EVENT);
// The wanted number of parked aircraft at the park airport.
int64_t lf_wantedStaticCount();

} // namespace qmt
