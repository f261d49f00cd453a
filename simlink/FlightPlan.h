#pragma once
// AceXML flight plan files of AI aircraft, one "{object id}.pln" per aircraft.

#include <cstdint>
#include <filesystem>
#include <string>

namespace qmt {

struct LiveAc;

// What a flight plan is made from.
struct FlightPlanData {
    std::string callsign;
    std::string origin;      // ICAO code of the departure airport
    std::string destination; // ICAO code of the destination airport
    double cruiseAltitudeFt = 0.0;
};

// The path "{}.pln" of the object in the flight-plan folder (g_origDestPath).
std::filesystem::path gf_flightPlanFileName(std::uint32_t OBJECT_ID);
// Writes the flight plan of the aircraft from its origin and destination; true on success.
bool gf_writeFlightPlan(const std::filesystem::path& PATH, const LiveAc& AC);
bool gf_writeFlightPlan(const std::filesystem::path& PATH, const FlightPlanData& PLAN);

} // namespace qmt
