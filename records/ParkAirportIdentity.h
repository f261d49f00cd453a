#pragma once
// Which airport is the park airport now: its airports-database entry, elevation, the stand kept
// for the user aircraft and whether its airport file was read. The park-airport manager sets
// them; the engine, the traffic intake and the airport-file readers read them.

#include "core/Airports.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace qmt {

// The current park airport (a copy of its airports-database entry); code 0 = none.
extern AirportEntry g_parkAirport;
// The park airport's altitude in feet, set by the airport-file reader; read by the live
// traffic intake as the reference of its altitude filter.
extern float g_parkAirportElevation;
// Name of the stand reserved for the user aircraft, empty for none.
extern std::string g_reservedStand;
// The park airport's airport file was read successfully: only then may its learned
// file be saved over. Any thread may read it.
extern std::atomic<uint8_t> g_parkLoaded;

// The park airport's ICAO code as text, empty when none is set.
std::string gf_parkAirportCode();
// A park airport is set.
inline bool gf_parkAirportSet()
{
    return !g_parkAirport.icao.empty();
}

} // namespace qmt
