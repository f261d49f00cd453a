#pragma once
// Bringing the static parking of a loaded park airport up to date without starting over: the
// present static aircraft are compared with freshly computed positions, those that no longer fit
// are removed, those that still fit stay, and only the missing positions are added.
// Worker thread only, apart from the flags.

#include "core/WeekTime.h"

#include <atomic>
#include <cstddef>

namespace qmt {

struct SimAc;

// The park change: requested (renewal, window commands, time shift), armed at one 15-second mark
// of the main loop and carried out at the next one. Any thread.
extern std::atomic<bool> g_parkChangeRequested;
extern std::atomic<bool> g_parkChangeArmed;
// Set to the new value of RT_PARKTRAFFIC_ONLY whenever that check box changes: the next park
// change renews every learned static aircraft.
extern std::atomic<bool> g_parkRenewAll;

// Carries out an armed park change at the park airport.
void gf_applyParkTrafficChanges(bool RENEW_ALL);
// Steps of the reconciliation, for tests.
void lf_applyParkedTrafficChanges();
void lf_matchLearnedStatics(bool RENEW_ALL);
void lf_reviewLearnedStatics(WeekTime TIME);
// The static aircraft stays (and position POSITION of g_staticPositions is dropped) when it
// parked after the position's time; else it is listed for removal.
void lf_keepOrRemoveByAge(const SimAc& AC, size_t POSITION);

// Back to the state of a fresh start (tests).
void gf_resetParkChangeForTests();

} // namespace qmt
