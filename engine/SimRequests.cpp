#include "engine/SimRequests.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "core/AcKind.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/LoopClock.h"
#include "core/Paths.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/UserError.h"
#include "core/WeekTime.h"
#include "engine/Commands.h"
#include "engine/RespawnGhosts.h"
#include "liveries/Matching.h"
#include "records/StaticPosition.h"
#include "simlink/FlightPlan.h"
#include "simlink/SimClient.h"
#include "simlink/SimQueues.h"
#include "stands/StandTable.h"

namespace qmt {

namespace {

constexpr uint32_t kMinObjectId = 3;
constexpr std::size_t kMaxNotCreated = 20;
constexpr const char* kTooManyNotCreated = "There are too many liveries that could not be created!";

} // namespace

bool lf_onLiveAcCreated(LiveAc& AC, const SimNotification& NOTE)
{
    if (NOTE.objectId < kMinObjectId) {
        return false;
    }
    AC.objectId = NOTE.objectId;
    gf_markObjectIdIndexStale();
    AC.heightAboveGround = NOTE.value2;
    if (!AC.stream.empty() && AC.stream.front().airborne == 0) {
        lf_parkOnCreate(AC);
    }
    lf_setAiFlightPlan(AC);
    HRESULT hr = S_OK;
    {
        std::lock_guard lock(g_simQueueMutex);
        hr = SimConnect_RequestDataOnSimObject(g_hSimConnect.load(), kRequestStaticCg, kDefStaticCg,
                                               AC.objectId, SIMCONNECT_PERIOD_ONCE);
        if (SUCCEEDED(hr)) {
            gf_noteDirectRequest(kRequestStaticCg, AC.objectId);
        }
    }
    if (FAILED(hr)) {
        gf_logWarning("SimConnect request StaticCG fails");
        gf_simConnectRequestError();
    }
    return true;
}

void lf_parkOnCreate(LiveAc& AC)
{
    AC.onGround = 1;
    gf_setGear(AC, 1);
    AC.climbPerTick = 0.0;
    if (AC.flightState != FlightState::parked) {
        AC.transitionSlots = 1;
        return;
    }
    AC.timeStamp = g_weekTime.load();
    gf_setStandOccupied(static_cast<int32_t>(AC.standId), 1);
    const std::string standName = gf_standName(AC.standId);
    gf_logLine("{:8}: {:8} parks", standName, AC.callsign);
    // No static aircraft is to be made on the stand this aircraft now stands on.
    std::erase_if(g_staticPositions, [&AC](const StaticPosition& P) { return P.standId == AC.standId; });
    if (AC.standId != 0) {
        for (SimAc& s : g_staticAcs) {
            if (s.standId == AC.standId && s.state == AcState::active) {
                gf_logLine("{:8}: {:8} parks over static {} \x97 static will be removed", standName,
                           AC.callsign, s.callsign);
                removeAircraftFromSim(s, "live aircraft parks over it");
            }
        }
    }
    AC.transitionSlots = 1;
}

void lf_setAiFlightPlan(LiveAc& AC)
{
    if (AC.origin.empty() || AC.destination.empty()) {
        return;
    }
    const std::filesystem::path path = gf_flightPlanFileName(AC.objectId);
    const bool written = gf_writeFlightPlan(path, AC);
    bool ok = written;
    if (ok && g_isMsfs2020.load()) {
        const std::string ansiPath = path.string();
        std::lock_guard lock(g_simQueueMutex);
        ok = SUCCEEDED(SimConnect_AISetAircraftFlightPlan(g_hSimConnect.load(), AC.objectId, ansiPath.c_str(),
                                                          kRequestFlightPlan));
        if (ok) {
            gf_noteDirectRequest(kRequestFlightPlan, AC.objectId);
        }
    }
    if (ok) {
        AC.hasFlightPlan = 1;
        return;
    }
    gf_logWarning("{} creating a flight plan failed", gf_acDescription3(AC));
    AC.hasFlightPlan = 0;
    if (written) {
        // Nothing will delete a plan that no aircraft holds.
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
}

void gf_removeFlightPlan(uint32_t OBJECT_ID)
{
    if (OBJECT_ID == 0) {
        return;
    }
    if (LiveAc* ac = gf_findLiveAcByObjectId(OBJECT_ID)) {
        if (ac->state == AcState::liveryrespawn) {
            gf_setAcState(*ac, AcState::buffer);
            ac->throttleIndex = 5;
            ac->flapsIndex = 4;
            ac->objectId = 0;
            gf_markObjectIdIndexStale();
            return;
        }
        if (ac->hasFlightPlan != 0) {
            std::error_code ec;
            std::filesystem::remove(gf_flightPlanFileName(OBJECT_ID), ec);
            if (ec) {
                gf_logLine("gf_removeFlightPlan: {}", ec.message());
            }
        }
        // Also when the simulator removed the object by itself: the blocked-callsign choice must
        // not keep naming an object that is gone.
        if (g_callsignObjectId != 0 && g_callsignObjectId == OBJECT_ID) {
            g_callsignObjectId = 0;
            gf_refreshBlockedCallsigns();
        }
        if (ac->state == AcState::active && ac->remove == 0 && ac->removed == 0 && ac->onGround == 0) {
            // Not removed by us: the simulator took it away by itself. In the air it is missed at
            // once (an approach never shown); on the ground it comes back with its next reports.
            gf_createAgainAfterRemoval(*ac);
            gf_markObjectIdIndexStale();
            return;
        }
        lf_eraseLiveAc(*ac);
        return;
    }
    auto it = std::find_if(g_staticAcs.begin(), g_staticAcs.end(),
                           [OBJECT_ID](const SimAc& S) { return S.objectId == OBJECT_ID; });
    if (it != g_staticAcs.end()) {
        lf_eraseStaticAc(*it);
    }
}

void lf_liveryNotCreated(const SimAc& AC)
{
    if (!gf_stopRequested()) {
        gf_setStatus(fmt::format("{} '{}' could not be created by your Sim!", AC.callsign, AC.liveryTitle), true);
    }
    // One refusal bans the title for a while; the titles refused again after their ban count.
    const std::size_t refusedForGood = gf_refuseTitle(AC, gf_loopNow());
    // The next spawn of this aircraft must match again instead of reusing the refused title.
    gf_forgetChosenLivery(AC.id);
    if (refusedForGood >= kMaxNotCreated) {
        gf_logLine("\n{}Error 81, {}\n", "===> ", kTooManyNotCreated);
        throw UserErrorException(81, fmt::format("{}, see Log.txt", kTooManyNotCreated));
    }
}

void gf_writeActiveLiveAcFile()
{
    std::vector<std::string> lines;
    for (const LiveAc& ac : g_liveAcs) {
        if (ac.state != AcState::active) {
            continue;
        }
        lines.push_back(fmt::format("{:x};{};{};{};{};{};{}", ac.objectId, ac.callsign, ac.registration,
                                    gf_airlineCode(ac.kind.airlineId), gf_modelCode(ac.kind.modelId),
                                    ac.onGround != 0 ? "GND" : "AIR",
                                    ac.flightState == FlightState::parked ? "PARKED" : ""));
    }
    const std::filesystem::path path = g_infoPath / kObjectIdListFile;
    if (!gf_writeStringToFile(lines, path)) {
        gf_logLine("Failed to write {}", path.string());
    }
}

void gf_setSpoilersAndThrottle(const SimAc& AC, double SPOILERS_PERCENT, double THROTTLE_PERCENT)
{
    double data[3] = {SPOILERS_PERCENT, THROTTLE_PERCENT, THROTTLE_PERCENT};
    // Under the queue mutex like every packet on the shared handle: a packet sent between
    // another call and its send-id query would take that call's send id.
    std::lock_guard lock(g_simQueueMutex);
    SimConnect_SetDataOnSimObject(g_hSimConnect.load(), kDefEngineData, AC.objectId, 0, 0, sizeof(data), data);
}

} // namespace qmt
