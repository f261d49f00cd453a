#include <cmath>
#include <exception>
#include <filesystem>
#include <system_error>

#include "core/AcKind.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/RefData.h"
#include "engine/BirthSpawn.h"
#include "engine/Commands.h"
#include "engine/RespawnGhosts.h"
#include "liveries/Matching.h"
#include "liveries/Regcodes.h"
#include "records/ParkAirportIdentity.h"
#include "records/StaticPosition.h"
#include "simlink/FlightPlan.h"
#include "stands/LearnedOptions.h"
#include "stands/StandTable.h"

namespace qmt {

namespace {

constexpr double kSamePositionDeg = 1e-8;
constexpr int32_t kStandSeenEvent = 1;

bool lf_otherKind(const AcKind& A, const AcKind& B)
{
    return A.airlineId != B.airlineId || A.operatorId != B.operatorId || A.modelId != B.modelId;
}

} // namespace

bool lf_checkRespawn(LiveAc& AC, LiveTrafficRecord& RECORD)
{
    if (AC.departing != 0 || AC.approach != 0) {
        return true;
    }
    if (AC.state == AcState::buffer) {
        lf_copyIdentity(AC, RECORD);
        return true;
    }
    if (AC.state != AcState::active || AC.flightState == FlightState::pushing_back || AC.extrapolations >= 1) {
        return true;
    }

    const bool routeChanged = !lf_updateRoute(AC, RECORD);
    bool forgetLivery = false;
    const bool identityUnchanged = lf_updateIdentity(AC, RECORD, forgetLivery);

    const std::string& callsign = RECORD.callsign;
    if (!callsign.empty() && callsign != AC.callsign && callsign != AC.registration) {
        if (!gf_endsWithGhostMark(callsign)) {
            lf_removeGhostOf(callsign);
        } else if (lf_isBlockedGhost(callsign)) {
            return false;
        }
        AC.callsign = callsign;
        AC.callsignCopy = callsign;
        AC.extraText.clear();
    } else if (identityUnchanged && !routeChanged) {
        return true;
    }

    if (!GUID_CHANGES.value()) {
        // the record keeps the change, the object its old look and its livery
        return true;
    }
    gf_logLine("          {} respawns", lf_acText(AC));
    liveryRespawn(AC);
    if (forgetLivery) {
        lf_forgetLivery(AC);
    }
    return false;
}

void lf_copyIdentity(LiveAc& AC, const LiveTrafficRecord& RECORD)
{
    if (!RECORD.destination.empty() && RECORD.destination != AC.destination) {
        AC.destination = RECORD.destination;
    }
    if (!RECORD.origin.empty() && RECORD.origin != AC.origin) {
        AC.origin = RECORD.origin;
    }
    if (!RECORD.callsign.empty() && RECORD.callsign != AC.callsign) {
        AC.callsign = RECORD.callsign;
    }
    if (!RECORD.registration.empty() && RECORD.registration != AC.registration) {
        AC.registration = RECORD.registration;
    }
}

bool lf_updateRoute(LiveAc& AC, const LiveTrafficRecord& RECORD)
{
    bool filledIn = false;
    if (!RECORD.destination.empty() && AC.destination.empty()) {
        AC.destination = RECORD.destination;
        filledIn = true;
    }
    if (!RECORD.origin.empty() && AC.origin.empty()) {
        AC.origin = RECORD.origin;
        filledIn = true;
    }
    const bool allKnown = !AC.origin.empty() && !AC.destination.empty() && !RECORD.origin.empty() &&
                          !RECORD.destination.empty();
    if (allKnown && AC.origin != RECORD.origin && AC.destination != RECORD.destination) {
        const std::string parkCode = g_parkAirport.iata.str();
        const bool returnLeg = !parkCode.empty() && AC.origin == parkCode && RECORD.destination == AC.origin;
        if (!returnLeg) {
            AC.origin = RECORD.origin;
            AC.destination = RECORD.destination;
            if (AC.onGround != 0 && AC.flightState != FlightState::parking &&
                AC.flightState != FlightState::parked) {
                AC.flightState = FlightState::taxi;
            }
            return false;
        }
    }
    return !filledIn;
}

bool lf_updateIdentity(LiveAc& AC, const LiveTrafficRecord& RECORD, bool& FORGET_LIVERY)
{
    if (RECORD.registration.empty()) {
        return true;
    }
    if (AC.registration.empty() || (AC.registration == AC.callsign && AC.registration != RECORD.registration)) {
        const bool unchanged = !lf_registrationChanged(AC, RECORD, FORGET_LIVERY);
        AC.registration = RECORD.registration;
        return unchanged;
    }
    bool unchanged = true;
    if (AC.registration != RECORD.registration) {
        const std::optional<AcKind> found = gf_findRegRecord(RECORD.registration);
        if (found && lf_otherKind(*found, AC.kind)) {
            if (const std::optional<std::string> airline = gf_normalizeCallsign(RECORD.callsign)) {
                const uint16_t airlineId = gf_airlineId(*airline);
                if (airlineId == found->airlineId || airlineId == found->operatorId) {
                    AC.kind = *found;
                    // the stand learns the new identity, so the registration goes first
                    AC.registration = RECORD.registration;
                    if (AC.flightState == FlightState::parked && AC.standId != 0) {
                        lf_addRealStandOption(static_cast<int32_t>(AC.standId), AC, kStandSeenEvent);
                    }
                    FORGET_LIVERY = true;
                    unchanged = false;
                }
            }
        }
    }
    AC.registration = RECORD.registration;
    return unchanged;
}

bool lf_registrationChanged(LiveAc& AC, const LiveTrafficRecord& RECORD, bool& FORGET_LIVERY)
{
    const auto entry = g_regcodeLiveries.find(RECORD.registration);
    if (entry != g_regcodeLiveries.end() && !entry->second.empty()) {
        if (entry->second == AC.liveryTitle) {
            return false;
        }
        if (const std::optional<AcKind> found = gf_findRegRecord(RECORD.registration)) {
            AC.kind = *found;
        }
        FORGET_LIVERY = true;
        return true;
    }
    if (RECORD.registration == AC.registration) {
        return false;
    }
    const std::optional<AcKind> found = gf_findRegRecord(RECORD.registration);
    if (found && lf_otherKind(*found, AC.kind)) {
        AC.kind = *found;
        FORGET_LIVERY = true;
        return true;
    }
    return false;
}

void lf_forgetLivery(LiveAc& AC)
{
    gf_forgetChosenLivery(AC.id);
    AC.liveryTitle = {};
    AC.previousFlightState = AC.flightState;
    AC.flightState = FlightState::birth;
}

namespace {

// The stream starts again where the aircraft is now, due at once.
void lf_restartHere(LiveAc& AC)
{
    if (AC.stream.empty()) {
        StreamPos here;
        here.lat = AC.block[kBlockLat];
        here.lon = AC.block[kBlockLon];
        here.alt = AC.block[kBlockAlt];
        here.track = AC.block[kBlockHeading] * kRadToDeg;
        here.airborne = AC.onGround != 0 ? 0 : 1;
        AC.stream.push_back(here);
    }
    StreamPos& front = AC.stream.front();
    StreamPos restart = front;
    if (AC.flightState != FlightState::parked) {
        restart.lat = AC.block[kBlockLat];
        restart.lon = AC.block[kBlockLon];
        restart.alt = AC.block[kBlockAlt];
        restart.roll = AC.block[kBlockBank];
        restart.hasRoll = 1;
        if (std::abs(AC.block[kBlockLat] - front.lat) < kSamePositionDeg &&
            std::abs(AC.block[kBlockLon] - front.lon) < kSamePositionDeg) {
            front.repeat = 1;
        }
    } else {
        AC.stream.resize(1);
        StreamPos& standPoint = AC.stream.front();
        standPoint.repeat = 1;
        standPoint.track = AC.block[kBlockHeading] * kRadToDeg;
        restart = standPoint;
    }
    restart.playTick = g_tickCounter.load() + 1;
    AC.stream.push_front(restart);
    AC.respawnHeading = AC.block[kBlockHeading];
    AC.useRespawnHeading = 1;
}

} // namespace

void gf_createAgainAfterRemoval(LiveAc& AC)
{
    gf_logLine("{} removed by the simulator: created again where it is", AC.callsign);
    lf_restartHere(AC);
    AC.extrapolations = std::min(AC.extrapolations, 0);
    AC.holding = 0;
    AC.legPath.clear();
    AC.curve.clear();
    gf_setAcState(AC, AcState::buffer);
    AC.throttleIndex = 5;
    AC.flapsIndex = 4;
    AC.objectId = 0;
    AC.hasFlightPlan = 0;
}

void liveryRespawn(LiveAc& AC)
{
    try {
        lf_restartHere(AC);
        gf_setAcState(AC, AcState::liveryrespawn);
        if (AC.objectId != 0 && AC.objectId == g_callsignObjectId) {
            g_callsignObjectId = 0;
            gf_refreshBlockedCallsigns();
        }
        if (AC.hasFlightPlan != 0) {
            // the plan file is named by the object id, which the new object will not have
            std::error_code ec;
            std::filesystem::remove(gf_flightPlanFileName(AC.objectId), ec);
            if (ec) {
                gf_logLine("liveryRespawn: {}", ec.message());
            }
            AC.hasFlightPlan = 0;
        }
        if (AC.objectId != 0) {
            g_removalDeque.push_back(AC.objectId);
        } else {
            gf_logWarning("{} removing act {} with objectid=0 ?", "liveryRespawn", gf_acDescription(AC));
            // no removal report will ever come for an object the simulator never had
            gf_setAcState(AC, AcState::buffer);
            AC.throttleIndex = 5;
            AC.flapsIndex = 4;
        }
    } catch (const std::exception& e) {
        gf_logWarning("{}: {}", "liveryRespawn", e.what());
    }
}

void lf_removeGhostOf(const std::string& CALLSIGN)
{
    if (CALLSIGN.empty()) {
        return;
    }
    const std::string ghost = CALLSIGN + "_";
    for (LiveAc& ac : g_liveAcs) {
        if (ac.callsign != ghost || ac.state == AcState::removingfromsim) {
            continue;
        }
        if (ac.flightState == FlightState::parked && ac.standId != 0) {
            gf_logLine("{:8}: {:8} is a ghost and will be removed, continue with {}", gf_standName(ac.standId),
                       ghost, CALLSIGN);
        } else {
            gf_logLine("          {:8} is a ghost and will be removed, continue with {}", ghost, CALLSIGN);
        }
        g_blockedGhosts.push_back(ghost);
        removeAircraftFromSim(ac, "ghost");
        return;
    }
}

bool lf_isBlockedGhost(std::string_view GHOST_CALLSIGN)
{
    // "EZY12K" is no ghost of "EZY12": only the trailing "_" makes a ghost
    if (GHOST_CALLSIGN.size() < 2 || !gf_endsWithGhostMark(GHOST_CALLSIGN)) {
        return false;
    }
    const std::string_view real = GHOST_CALLSIGN.substr(0, GHOST_CALLSIGN.size() - 1);
    for (const LiveAc& ac : g_liveAcs) {
        if (ac.callsign == real && ac.state != AcState::removingfromsim) {
            return true;
        }
    }
    return false;
}

} // namespace qmt
