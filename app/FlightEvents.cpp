#include "app/FlightEvents.h"

#include "core/Airports.h"
#include "core/EventLines.h"
#include "stands/StandTable.h"

#include <fmt/format.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace qmt {

namespace {

// Worker thread only.
struct Seen
{
    FlightState state = FlightState::birth;
    std::uint64_t pass = 0;
};
std::unordered_map<std::uint32_t, Seen> s_seen;  // by hex id
std::uint64_t s_pass = 0;
// The static aircraft (ids) standing when the parking was last told, and where.
std::vector<std::uint32_t> s_toldStatics;
std::string s_toldPark;
// The parking was busy (a calculation, creates) since it was last told.
bool s_settling = false;

// The airport the aircraft is at, or "" when none lies within reach.
std::string lf_airportAt(const LiveAc& AC)
{
    const auto code = gf_nearestAirport(LatLon{AC.block[kBlockLat], AC.block[kBlockLon]});
    return code ? code->str() : std::string();
}

// " at EHAM", or nothing.
std::string lf_at(const std::string& AIRPORT)
{
    return AIRPORT.empty() ? std::string() : " at " + AIRPORT;
}

// "C15, EHAM" at the park airport's stands (only they have names), else the airport or "".
std::string lf_standOf(const LiveAc& AC, const std::string& PARK_CODE)
{
    if (AC.standId == 0 || PARK_CODE.empty())
        return lf_airportAt(AC);
    return gf_standName(AC.standId) + ", " + PARK_CODE;
}

// The event line of a change of flight state, or "" when the change is none a user would name.
std::string lf_eventOf(const LiveAc& AC, FlightState BEFORE, const std::string& PARK_CODE)
{
    const FlightState now = AC.flightState;
    if (now == FlightState::pushing_back) {
        const std::string from = lf_standOf(AC, PARK_CODE);
        return fmt::format("{} pushes back{}", AC.callsign, from.empty() ? "" : " from " + from);
    }
    if (now == FlightState::take_off) {
        const std::string from = lf_airportAt(AC);
        return fmt::format("{} takes off{}", AC.callsign, from.empty() ? "" : " from " + from);
    }
    if (BEFORE == FlightState::flying &&
        (now == FlightState::taxi || now == FlightState::parking || now == FlightState::parked))
        return fmt::format("{} lands{}", AC.callsign, lf_at(lf_airportAt(AC)));
    if (now == FlightState::parked && (BEFORE == FlightState::parking || BEFORE == FlightState::taxi))
        return fmt::format("{} parks{}", AC.callsign, lf_at(lf_standOf(AC, PARK_CODE)));
    return {};
}

}  // namespace

void gf_tellFlightEvents(std::span<const LiveAc> LIVE, const std::string& PARK_CODE)
{
    ++s_pass;
    for (const LiveAc& ac : LIVE) {
        if (ac.state != AcState::active)
            continue;
        const auto [it, fresh] = s_seen.try_emplace(ac.id, Seen{ac.flightState, s_pass});
        Seen& seen = it->second;
        seen.pass = s_pass;
        if (fresh || seen.state == ac.flightState)
            continue;
        const std::string line = lf_eventOf(ac, seen.state, PARK_CODE);
        seen.state = ac.flightState;
        if (!line.empty())
            gf_postEventLine(line);
    }
    std::erase_if(s_seen, [](const auto& ENTRY) { return ENTRY.second.pass != s_pass; });
}

int gf_tellStaticParking(const StaticParkingNow& NOW)
{
    std::vector<std::uint32_t> standing;
    for (const SimAc& ac : NOW.statics) {
        if (ac.state == AcState::active)
            standing.push_back(ac.id);
    }
    const int count = static_cast<int>(standing.size());
    std::sort(standing.begin(), standing.end());
    s_settling = s_settling || NOW.busy;
    // A single static aircraft that the rules take away (a live one needs its stand) is told
    // with the next renewal, not on its own.
    const bool settled = !NOW.busy && (s_settling || standing.empty());
    if (!settled || standing == s_toldStatics)
        return count;
    s_settling = false;
    std::vector<std::uint32_t> placed;
    std::vector<std::uint32_t> removed;
    std::set_difference(standing.begin(), standing.end(), s_toldStatics.begin(), s_toldStatics.end(),
                        std::back_inserter(placed));
    std::set_difference(s_toldStatics.begin(), s_toldStatics.end(), standing.begin(), standing.end(),
                        std::back_inserter(removed));
    const std::string& park = NOW.parkCode.empty() ? s_toldPark : NOW.parkCode;
    const std::string where = park.empty() ? std::string() : park + ": ";
    if (s_toldStatics.empty()) {
        gf_postEventLine(fmt::format("{}{} static aircraft placed, {} wanted", where, count, NOW.wanted));
    } else if (standing.empty()) {
        gf_postEventLine(fmt::format("{}all {} static aircraft removed", where, removed.size()));
    } else {
        gf_postEventLine(fmt::format("{}static aircraft renewed: {} placed, {} removed; {} standing, {} wanted",
                                     where, placed.size(), removed.size(), count, NOW.wanted));
    }
    s_toldStatics = std::move(standing);
    s_toldPark = NOW.parkCode;
    return count;
}

void gf_resetFlightEvents()
{
    s_seen.clear();
    s_pass = 0;
    s_toldStatics.clear();
    s_toldPark.clear();
    s_settling = false;
}

}  // namespace qmt
