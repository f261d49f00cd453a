#pragma once
// Bringing the static parking of a loaded park airport up to date without starting over: the
// present static aircraft are compared with freshly computed positions, those that no longer fit
// are removed, those that still fit stay, and only the missing positions are added.
// Worker thread only.

#include "core/WeekTime.h"

#include <cstddef>

namespace qmt {

struct SimAc;

// Carries out an armed park change at the park airport (parking/ParkChange.h tells when).
void gf_applyParkTrafficChanges(bool RENEW_ALL);
// Steps of the reconciliation, for tests.
void lf_applyParkedTrafficChanges();
void lf_matchLearnedStatics(bool RENEW_ALL);
void lf_reviewLearnedStatics(WeekTime TIME);
// The static aircraft stays (and position POSITION of g_staticPositions is dropped) when it
// parked after the position's time; else it is listed for removal.
void lf_keepOrRemoveByAge(const SimAc& AC, size_t POSITION);

} // namespace qmt
