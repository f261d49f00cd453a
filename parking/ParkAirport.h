#pragma once

#include "core/Airports.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace qmt {

// The current park airport (a copy of its airports-database entry); code 0 = none.
// Worker thread only.
extern AirportEntry g_parkAirport;
// The park airport's altitude in feet, set by the airport-file reader; read by the live
// traffic intake as the reference of its altitude filter.
extern float g_parkAirportElevation;
// The park airport's airport file was read successfully: only then may its learned
// file be saved over.
extern std::atomic<uint8_t> g_parkLoaded;

// The park airport's ICAO code as text, empty when none is set.
std::string gf_parkAirportCode();

// Back to the state of a fresh start (tests).
void gf_resetParkAirportForTests();

} // namespace qmt
