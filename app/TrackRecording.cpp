#include "app/TrackRecording.h"

#include "engine/AcLists.h"
#include "platform/sim_Control.h"

#include <fmt/format.h>

#include <unordered_map>

namespace qmt {

namespace {

// The flight state last noted per simulator object (worker thread only).
std::unordered_map<std::uint32_t, FlightState> s_noted;

}  // namespace

void gf_recordFlightStates()
{
    SimStandIn& sim = gf_simStandIn();
    if (!sim.trackRecording())
        return;
    for (const LiveAc& ac : g_liveAcs) {
        if (ac.objectId == 0 || ac.state != AcState::active)
            continue;
        const auto [it, fresh] = s_noted.try_emplace(ac.objectId, ac.flightState);
        if (!fresh && it->second == ac.flightState)
            continue;
        it->second = ac.flightState;
        sim.recordNote(ac.objectId, fmt::format("{} {}", gf_phaseName(ac.flightState), ac.callsign));
    }
}

void gf_resetFlightStateNotesForTests()
{
    s_noted.clear();
}

}  // namespace qmt
