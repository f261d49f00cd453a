#include "app/TrackRecording.h"

#include "engine/AcLists.h"
#include "platform/sim_Control.h"

#include <fmt/format.h>

#include <unordered_map>
#include <utility>

namespace qmt {

namespace {

// The flight state last noted per simulator object (worker thread only).
std::unordered_map<std::uint32_t, FlightState> s_noted;
// Set before the worker starts, read by the worker only.
std::function<double()> s_scenarioSeconds;
constexpr std::int32_t kClockNoteTicks = 100;

}  // namespace

void gf_recordFlightStates()
{
    SimStandIn& sim = gf_simStandIn();
    if (!sim.trackRecording())
        return;
    if (s_scenarioSeconds && g_tickCounter.load() % kClockNoteTicks == 0)
        sim.recordNote(0, fmt::format("scenario_time {:.2f}", s_scenarioSeconds()));
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

void gf_setRecordingClock(std::function<double()> SCENARIO_SECONDS)
{
    s_scenarioSeconds = std::move(SCENARIO_SECONDS);
}

}  // namespace qmt
