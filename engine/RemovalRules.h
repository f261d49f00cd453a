#pragma once

// Rules that take aircraft out of the simulator around the user and at the park airport, and
// the limits on parked aircraft. Each removes through removeAircraftFromSim, mostly one aircraft
// per call; the shell's per-second and periodic work calls them.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/AcLists.h"
#include "engine/Removal.h"

namespace qmt {

// A static aircraft that stands for this live one (same report, registration or callsign).
void gf_removeStaticTwinsOf(LiveAc& LIVE);
// The first static aircraft in the way of this taxiing live aircraft.
void lf_removeStaticInWay(LiveAc& LIVE);
// lf_removeStaticInWay for every active live aircraft that moved on the ground.
void gf_removeStaticInWayAll();
// A static aircraft with the registration (or callsign plus "*") of a live one on the ground.
void gf_removeStaticSameReg();
// A live aircraft on the ground too close to the user's, else a static one.
void gf_removeLiveTooClose();
// A live aircraft in the path of the airborne user.
void gf_removeLiveInUserPath();
// The aircraft at the named stand: a static one first, else a parked live one. An empty or
// unknown name removes nothing.
void gf_removeAcAtStand(const std::string& STAND_NAME);
// Keeps the parked aircraft within the wanted number; EXTRA counts an aircraft about to park.
void lf_checkMaxPark(uint32_t EXTRA);
// lf_checkMaxPark against a given wanted number.
void lf_checkMaxParkAgainst(uint32_t EXTRA, int64_t WANTED);
// Removes the N live aircraft parked longest.
void gf_removeLiveParked(uint32_t N);
// Number of active live aircraft parked; WITH_TIME also shows their mean hours parked.
uint32_t gf_countLiveParked(bool WITH_TIME);
// (hex id, seconds parked) of the active parked live aircraft, longest first.
void lf_parkedCounts(std::vector<std::pair<uint32_t, uint64_t>>& LIST);

// Forgets the user position remembered by gf_removeLiveTooClose.
void gf_resetRemovalRulesForTests();

} // namespace qmt
