// Park-airport calls of the shell whose owners are not built yet.
#pragma once

#include "core/WeekTime.h"
#include "engine/AcRecords.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace qmt {

// Name of the stand reserved for the user aircraft (worker thread).
extern std::string g_reservedStand;
// Minutes until the static parking is renewed; counted down by the main loop.
extern std::int32_t g_renewalMinutes;
// Set by the window's park-check command.
extern std::atomic<std::uint8_t> g_parkCheckRequested;

// Gives a landed live aircraft the callsign pair of a matching learned option.
void gf_findLearnedStand(WeekTime NOW, LiveAc& AC);
// Every 5 s: the park-check request.
void gf_checkParkAirports();
// The park airport manager (first call: 1).
void gf_manageParkAirport(std::uint8_t FIRST);
// Asks for a park change (raises the park-change request).
void gf_announceStaticParkingUpdate();
// Puts the destination airport at the front of the park airports.
void gf_addParkAirport(const std::string& CODE, double LAT, double LON);
// Drops the park airport (removes its statics, saves its learned file).
void gf_resetParkAirport();
// Reconciles the static parking (the armed park change).
void gf_applyParkTrafficChanges(bool RENEW_ALL);

}  // namespace qmt
