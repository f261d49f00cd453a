#include "parking/ParkAirport.h"

namespace qmt {

AirportEntry g_parkAirport;
float g_parkAirportElevation = -1000.0f;
std::atomic<uint8_t> g_parkLoaded{0};

std::string gf_parkAirportCode()
{
    return g_parkAirport.icao.str();
}

void gf_resetParkAirportForTests()
{
    g_parkAirport = AirportEntry{};
    g_parkAirportElevation = -1000.0f;
    g_parkLoaded = 0;
}

} // namespace qmt
