#include "simlink/SimClient.h"

#include "app/Worker.h"
#include "simlink/pending_parking.h"

#include <cmath>

namespace qmt {

std::mutex g_userAcMutex;
UserAcShared g_userAcShared;

UserAcData g_userAc;
bool g_userOnGround = false;
double g_userHalfSpan = 0.0;
std::string g_userCallsign;

std::atomic<SIMCONNECT_HANDLE> g_hSimConnect{nullptr};
std::atomic<std::uint32_t> g_userObjectId{0};
std::atomic<bool> g_isMsfs2020{false};
std::atomic<bool> g_simConnectError{false};
std::atomic<bool> g_simSecondFlag{false};
std::atomic<bool> g_simFlightRunning{false};
std::atomic<bool> g_userParkNoteRequested{false};
std::atomic<SimLinkState> g_simLinkState{SimLinkState::idle};

namespace {
// Raised by gf_requestAcWithinRange every 20th call; the simulator thread makes the requests.
std::atomic<bool> s_rangeRequestDue{false};
// Calls of gf_requestAcWithinRange (worker only).
std::uint32_t s_rangeCalls = 0;
} // namespace

bool UserAcData::hasPosition() const
{
    return !(std::fabs(latitude) < 0.0001 && std::fabs(longitude) < 0.0001);
}

bool gf_takeUserAcSnapshot()
{
    bool second = false;
    {
        std::lock_guard lock(g_userAcMutex);
        g_userAc = g_userAcShared.ac;
        g_userOnGround = g_userAcShared.onGround;
        g_userHalfSpan = g_userAcShared.halfSpanNm;
        g_userCallsign = g_userAcShared.callsign;
        second = g_userAcShared.secondData;
        g_userAcShared.secondData = false;
    }
    // The stand table belongs to the worker, so the look-up runs here, not on the simulator thread.
    if (g_userParkNoteRequested.exchange(false)) {
        gf_noteUserParkAirport();
    }
    return second;
}

void gf_requestAcWithinRange()
{
    if (++s_rangeCalls % 20 == 0) {
        s_rangeRequestDue.store(true);
    }
}

void gf_simConnectRequestError()
{
    g_simConnectError.store(true);
    gf_requestExit(ExitReason::simConnectError, 9);
}

void gf_startSimClient()
{
    // The connection thread is not there yet: the session sees a simulator that is not running.
    g_simLinkState.store(SimLinkState::failed);
}

void gf_stopSimClient()
{
    g_simLinkState.store(SimLinkState::closed);
    if (g_userParkNoteRequested.exchange(false)) {
        gf_noteUserParkAirport();
    }
}

void gf_resetSimLinkForTests()
{
    gf_resetSimQueuesForTests();
    {
        std::lock_guard lock(g_userAcMutex);
        g_userAcShared = UserAcShared{};
    }
    g_userAc = UserAcData{};
    g_userOnGround = false;
    g_userHalfSpan = 0.0;
    g_userCallsign.clear();
    g_hSimConnect.store(nullptr);
    g_userObjectId.store(0);
    g_isMsfs2020.store(false);
    g_simConnectError.store(false);
    g_simSecondFlag.store(false);
    g_simFlightRunning.store(false);
    g_userParkNoteRequested.store(false);
    g_simLinkState.store(SimLinkState::idle);
    s_rangeRequestDue.store(false);
    s_rangeCalls = 0;
}

} // namespace qmt
