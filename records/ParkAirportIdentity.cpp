#include "records/ParkAirportIdentity.h"

namespace qmt {

AirportEntry g_parkAirport;
float g_parkAirportElevation = -1000.0f;
std::string g_reservedStand;
std::atomic<uint8_t> g_parkLoaded{0};

std::string gf_parkAirportCode()
{
    return g_parkAirport.icao.str();
}

} // namespace qmt
