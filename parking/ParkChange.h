#pragma once
// The park change: new static parking for the loaded park airport, asked for by the 20-minute
// renewal, a time shift, the window's park commands or a switch of RT_PARKTRAFFIC_ONLY. A request
// is armed at the next 15-second mark of the main loop (the park controls are disabled and the
// feed gathers the live callsigns and hex ids) and carried out at the mark after it by the
// reconciliation (gf_applyParkTrafficChanges). The main loop drives it with one call per mark:
//
//   every minute   gf_parkChangeEveryMinute   the renewal countdown, which requests a change
//   every 15 s     gf_parkChangeEvery15s      arms a requested change, or carries out an armed one
//   every 16 s     gf_parkChangeEvery16s      the park-airport manager, while no change is armed
//
// The static aircraft that a change (or a full calculation) leaves in g_staticPositions are then
// created one at a time by lf_detcs, which the engine's pacing runs at every 50th tick that moves
// no live creation (gf_attachStaticParking registers it at start-up).
//
// The flags may be read from any thread; they are changed only by the functions below.

#include <atomic>
#include <cstdint>

namespace qmt {

// A change was asked for and waits for its 15-second marks.
extern std::atomic<bool> g_parkChangeRequested;
// The change was armed at the last 15-second mark and is carried out at the next one.
extern std::atomic<bool> g_parkChangeArmed;
// Set to the new value of RT_PARKTRAFFIC_ONLY whenever that check box changes: the next park
// change renews every learned static aircraft.
extern std::atomic<bool> g_parkRenewAll;
// Minutes until the static parking is renewed; counted down by gf_parkChangeEveryMinute.
extern int32_t g_renewalMinutes;
inline constexpr int32_t kRenewalMinutes = 20;

// Asks for a park change at the next 15-second marks, and tells the user when it comes.
void gf_announceStaticParkingUpdate();
// RT_PARKTRAFFIC_ONLY was switched to VALUE (window thread).
void gf_setParkRenewAll(bool VALUE);
// A full calculation of the static parking was made: the renewal counts from now.
void gf_restartParkRenewal();

// The main loop's steps.
void gf_parkChangeEveryMinute();
void gf_parkChangeEvery15s();
void gf_parkChangeEvery16s();
// Closing down: a change still waiting is forgotten.
void gf_endParkChange();

// The seconds counter the announcement counts to the next 15-second mark from (the main loop's).
void gf_setParkSecondsSource(uint64_t (*SOURCE)());

// Back to the state of a fresh start (tests).
void gf_resetParkChangeForTests();

} // namespace qmt
