#include "simlink/FlightPlan.h"

#include "core/Airports.h"
#include "core/FileCommit.h"
#include "core/Paths.h"
#include "records/AcRecords.h"

#include <fmt/format.h>
#include <pugixml.hpp>

#include <cmath>
#include <optional>
#include <sstream>

namespace qmt {

namespace {

// An airport by its ICAO code, or by its IATA code when the text has three characters.
std::optional<AirportEntry> lf_findAirport(const std::string& CODE)
{
    if (CODE.size() == 4) {
        return gf_airportByCode(CODE);
    }
    if (CODE.size() == 3) {
        for (const AirportEntry& a : g_airports) {
            if (!a.iata.empty() && a.iata.view() == CODE) {
                return a;
            }
        }
    }
    return std::nullopt;
}

// One coordinate as degrees, minutes and seconds: N52° 18' 29.00"
std::string lf_dms(double VALUE, char POSITIVE, char NEGATIVE)
{
    const char hemisphere = VALUE < 0.0 ? NEGATIVE : POSITIVE;
    double v = std::fabs(VALUE);
    int degrees = static_cast<int>(v);
    v = (v - degrees) * 60.0;
    int minutes = static_cast<int>(v);
    double seconds = (v - minutes) * 60.0;
    if (seconds >= 59.995) {
        seconds = 0.0;
        if (++minutes == 60) {
            minutes = 0;
            ++degrees;
        }
    }
    return fmt::format("{}{}\xC2\xB0 {}' {:.2f}\"", hemisphere, degrees, minutes, seconds);
}

std::string lf_lla(const AirportEntry& A)
{
    return fmt::format("{},{},{:+010.2f}", lf_dms(A.latitude, 'N', 'S'), lf_dms(A.longitude, 'E', 'W'),
                       static_cast<double>(A.altitude));
}

void lf_addWaypoint(pugi::xml_node PLAN, const std::string& ID, const std::optional<AirportEntry>& AIRPORT)
{
    pugi::xml_node wp = PLAN.append_child("ATCWaypoint");
    wp.append_attribute("id") = ID.c_str();
    wp.append_child("ATCWaypointType").text() = "Airport";
    if (AIRPORT) {
        wp.append_child("WorldPosition").text() = lf_lla(*AIRPORT).c_str();
    }
    wp.append_child("ICAO").append_child("ICAOIdent").text() = ID.c_str();
}

} // namespace

std::filesystem::path gf_flightPlanFileName(std::uint32_t OBJECT_ID)
{
    return g_origDestPath / fmt::format("{}.pln", OBJECT_ID);
}

bool gf_writeFlightPlan(const std::filesystem::path& PATH, const FlightPlanData& PLAN)
{
    if (PLAN.origin.empty() || PLAN.destination.empty()) {
        return false;
    }
    const std::optional<AirportEntry> from = lf_findAirport(PLAN.origin);
    const std::optional<AirportEntry> to = lf_findAirport(PLAN.destination);
    // The simulator knows airports by ICAO code; a code not in the airports data is passed as given.
    const std::string fromId = from ? from->icao.str() : PLAN.origin;
    const std::string toId = to ? to->icao.str() : PLAN.destination;

    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("SimBase.Document");
    root.append_attribute("Type") = "AceXML";
    root.append_attribute("version") = "1,0";
    root.append_child("Descr").text() = "AceXML Document";
    pugi::xml_node plan = root.append_child("FlightPlan.FlightPlan");
    plan.append_child("Title").text() = fmt::format("{} to {}", fromId, toId).c_str();
    plan.append_child("FPType").text() = "IFR";
    plan.append_child("RouteType").text() = "HighAlt";
    if (PLAN.cruiseAltitudeFt > 0.0) {
        plan.append_child("CruisingAlt").text() = fmt::format("{:.0f}", PLAN.cruiseAltitudeFt).c_str();
    }
    plan.append_child("DepartureID").text() = fromId.c_str();
    if (from) {
        plan.append_child("DepartureLLA").text() = lf_lla(*from).c_str();
    }
    plan.append_child("DestinationID").text() = toId.c_str();
    if (to) {
        plan.append_child("DestinationLLA").text() = lf_lla(*to).c_str();
    }
    plan.append_child("Descr").text() = fmt::format("{}, {}", fromId, toId).c_str();
    if (!PLAN.callsign.empty()) {
        plan.append_child("DepartureName").text() = PLAN.callsign.c_str();
    }
    lf_addWaypoint(plan, fromId, from);
    lf_addWaypoint(plan, toId, to);
    std::ostringstream bytes;
    doc.save(bytes, "    ", pugi::format_default, pugi::encoding_utf8);
    return gf_commitFile(std::move(bytes).str(), PATH);
}

bool gf_writeFlightPlan(const std::filesystem::path& PATH, const LiveAc& AC)
{
    return gf_writeFlightPlan(PATH, FlightPlanData{AC.callsign, AC.origin, AC.destination, 0.0});
}

} // namespace qmt
