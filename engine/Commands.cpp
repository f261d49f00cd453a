#include "engine/Commands.h"

#include <algorithm>
#include <array>

#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Random.h"
#include "core/WindowState.h"
#include "simlink/SimQueues.h"
#include "stands/StandTable.h"

namespace qmt {

namespace {

constexpr uint32_t kFlapsSet = 217;
constexpr uint32_t kSpoilersSet = 218;
constexpr uint32_t kGearSet = 219;
constexpr uint32_t kThrottleSet = 222;

constexpr std::array<uint32_t, 5> kFlapsValues{0, 3072, 10240, 16383, 0};
constexpr std::array<uint32_t, 5> kThrottleValues{0, 4914, 8191, 11468, 16383};

} // namespace

bool gf_removeFromAddingDeque(std::deque<AiCreateRequest>& DEQUE, uint32_t AIRCRAFT_ID)
{
    const auto before = DEQUE.size();
    std::erase_if(DEQUE, [AIRCRAFT_ID](const AiCreateRequest& R) { return R.aircraftId == AIRCRAFT_ID; });
    return DEQUE.size() != before;
}

void removeAircraftFromSim(SimAc& AC, std::string_view REASON)
{
    if (AC.state == AcState::buffer) {
        AC.remove = 1;
        return;
    }
    if (AC.removeWhenCreated != 0) {
        return;
    }
    if (AC.isLive() && (AC.state == AcState::adding2sim || AC.state == AcState::active)) {
        gf_logLine("{} removed: {}", AC.callsign, REASON);
    }
    if (AC.state == AcState::adding2sim) {
        if (gf_removeFromAddingDeque(g_liveAddingDeque, AC.id) ||
            gf_removeFromAddingDeque(g_staticAddingDeque, AC.id)) {
            AC.removed = 1;
        } else {
            AC.removeWhenCreated = 1;
        }
        return;
    }
    if (AC.isLive()) {
        gf_setStandOccupied(static_cast<int32_t>(AC.standId), 0);
        if (AC.objectId != 0 && AC.objectId == g_callsignObjectId) {
            g_callsignObjectId = 0;
            gf_refreshBlockedCallsigns();
        }
    }
    // A record in respawn or already removing has its object's removal queued: once is enough.
    const bool removalQueued = AC.state == AcState::liveryrespawn || AC.state == AcState::removingfromsim;
    gf_setAcState(AC, AcState::removingfromsim);
    if (AC.objectId != 0) {
        if (!removalQueued) {
            g_removalDeque.push_back(AC.objectId);
        }
    } else {
        gf_logWarning("{} removing act {}, with objectid=0 ?", "removeAircraftFromSim", gf_acDescription(AC));
        // No removal report will come for an object the simulator never had: the record goes at
        // the next pass, so that its hex id can come back.
        AC.removed = 1;
    }
}

void gf_setFlaps(SimAc& AC, uint32_t FLAPS_INDEX)
{
    if (FLAPS_INDEX == AC.flapsIndex || AC.category == kAcCategoryRotorcraft) {
        return;
    }
    if (FLAPS_INDEX > 4) {
        gf_logWarning("gf_setFlaps: invalid flaps index");
    } else {
        gf_queueClientEvent(AC.objectId, kFlapsSet, kFlapsValues[FLAPS_INDEX]);
    }
    AC.flapsIndex = FLAPS_INDEX;
}

void gf_setGear(SimAc& AC, uint32_t VALUE)
{
    if (AC.category == kAcCategoryRotorcraft) {
        return;
    }
    gf_queueClientEvent(AC.objectId, kGearSet, VALUE);
}

void gf_setSpoilers(SimAc& AC, bool ON)
{
    if (AC.category == kAcCategoryRotorcraft) {
        return;
    }
    gf_queueClientEvent(AC.objectId, kSpoilersSet, ON ? 16383u : 0u);
}

void gf_setThrottle(SimAc& AC, uint32_t THROTTLE_INDEX)
{
    if (THROTTLE_INDEX == AC.throttleIndex) {
        return;
    }
    if (THROTTLE_INDEX < kThrottleValues.size()) {
        gf_queueClientEvent(AC.objectId, kThrottleSet, kThrottleValues[THROTTLE_INDEX]);
    }
    AC.throttleIndex = THROTTLE_INDEX;
}

void lf_setParkedConfig(SimAc& AC)
{
    gf_setThrottle(AC, 0);
    gf_setFlaps(AC, 0);
    gf_queueEngineShutdown(AC.objectId);
    const bool cabin = AC.noCabinLight == 0 && gf_randomIndex(10) < 9;
    gf_queueLights(AC.objectId, NAV_LIGHTS_WHILE_PARKED.value() ? 1 : 0, 0, 0, 0, 0, 1, cabin ? 1 : 0);
}

void gf_refreshBlockedCallsigns()
{
    gf_setControlText(BLOCKED_CALLSIGNS_EDIT, BLOCKED_CALLSIGNS.value());
    std::map<std::string, std::uint32_t> entries;
    for (const LiveAc& ac : g_liveAcs) {
        if (ac.state == AcState::active && !ac.callsign.empty())
            entries.emplace(ac.callsign, ac.objectId);
    }
    CALLSIGN_2_OBJECTID.setEntries(std::move(entries));
    gf_repaintWindow();
}

} // namespace qmt
