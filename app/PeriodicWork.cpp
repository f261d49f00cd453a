// What the main loop does every tick and at its second marks.
#include "app/FlightEvents.h"
#include "app/SoakSampler.h"
#include "app/TrackRecording.h"
#include "app/Worker.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/WeekTime.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "engine/Commands.h"
#include "engine/RemovalRules.h"
#include "engine/SimRequests.h"
#include "engine/Tick.h"
#include "feed/TrafficFeed.h"
#include "liveries/Matching.h"
#include "parking/ParkAirport.h"
#include "parking/ParkChange.h"
#include "records/ParkAirportIdentity.h"
#include "records/StaticPosition.h"
#include "simlink/SimClient.h"
#include "stands/LearnedOptions.h"
#include "stands/StandTable.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>

#include <fmt/format.h>

namespace qmt {

namespace {

// One id a second from the twin-check list: learned-stand lookup once, then the static twins.
void lf_twinCheck()
{
    const std::optional<std::uint32_t> id = gf_takeTwinCheckId();
    if (!id)
        return;
    LiveAc* ac = gf_findLiveAc(*id);
    if (ac == nullptr)
        return;
    if (ac->learnedStandChecked == 0) {
        gf_findLearnedStand(g_weekTime.load(), *ac);
        ac->learnedStandChecked = 1;
    }
    gf_removeStaticTwinsOf(*ac);
}

// The user's own aircraft must not be doubled by its live traffic report.
void lf_removeUserCallsign()
{
    if (g_userCallsign.empty())
        return;
    for (LiveAc& ac : g_liveAcs) {
        if (ac.state == AcState::active && ac.callsign == g_userCallsign)
            removeAircraftFromSim(ac, "the user's callsign");
    }
}

// The most live aircraft active at once since the last closing down.
std::size_t s_mostActiveLive = 0;

// The live aircraft counted by flight state, for the window, and the most active at once.
void lf_showFlightStates()
{
    std::array<int, 8> counts{};
    std::size_t active = 0;
    for (const LiveAc& ac : g_liveAcs) {
        if (ac.state != AcState::active)
            continue;
        ++active;
        if (static_cast<std::size_t>(ac.flightState) < counts.size())
            ++counts[static_cast<std::size_t>(ac.flightState)];
    }
    s_mostActiveLive = std::max(s_mostActiveLive, active);
    if (MAX_LIVE_SEL.value() > 0 && active >= static_cast<std::size_t>(MAX_LIVE_SEL.value()))
        gf_noteAllLiveActive();
    std::string text;
    for (std::size_t state = 0; state < counts.size(); ++state) {
        if (counts[state] != 0)
            text += fmt::format("{}{} {}", text.empty() ? "" : ", ", gf_phaseName(static_cast<uint32_t>(state)),
                                counts[state]);
    }
    gf_updateWindowValues([&text](WindowValues& VALUES) { VALUES.flightStates = text; });
}

// Static aircraft still to be placed or removed: the parking has not settled yet.
bool lf_staticWorkPending()
{
    return !g_staticPositions.empty() || !g_staticAddingDeque.empty() || g_parkChangeArmed ||
           g_parkChangeRequested ||
           std::any_of(g_staticAcs.begin(), g_staticAcs.end(),
                       [](const SimAc& AC) { return AC.state != AcState::active; });
}

// The event lines of the second, and the static aircraft standing against those wanted.
void lf_tellEvents()
{
    const std::string park = g_parkLoaded.load() != 0 ? gf_parkAirportCode() : std::string();
    gf_tellFlightEvents(g_liveAcs, park);
    const int standing =
        gf_tellStaticParking({g_staticAcs, park, gf_windowValues().wantedStatics, lf_staticWorkPending()});
    gf_updateWindowValues([standing](WindowValues& VALUES) { VALUES.staticsStanding = standing; });
}

void lf_everySecond()
{
    gf_updateWeekTime();
    lf_showFlightStates();
    lf_tellEvents();
    gf_expireStatus();
    lf_twinCheck();
    gf_updateCallsignObjectId();
    const bool userKnown = g_userAc.dataArrived;
    if (userKnown && g_userOnGround && COLLISION_USER_GND.value())
        gf_removeLiveTooClose();
    if (userKnown && !g_userOnGround && COLLISION_USER_AIR.value())
        gf_removeLiveInUserPath();
    if (COLLISION_LIVE_PARKED_GND.value())
        gf_removeStaticInWayAll();
    lf_removeUserCallsign();
}

void lf_every5s()
{
    if (!g_reservedStand.empty())
        gf_removeAcAtStand(g_reservedStand);
    gf_checkParkAirports();
    if (g_userAc.hasPosition())
        gf_setQueryCentre(g_userAc.latitude, g_userAc.longitude);
}

void lf_everyMinute()
{
    gf_writeSoakSample();
    if (OBJECTID_LIST.value())
        gf_writeActiveLiveAcFile();
    gf_parkChangeEveryMinute();
}

void lf_every1200s(std::uint64_t SECONDS)
{
    gf_forgetLiveriesOfGoneAircraft();
    gf_logNoMatches();
    if (SECONDS % 86400 == 0)
        gf_writeMatchingSummary();
}

}  // namespace

void gf_logMostActiveLive()
{
    gf_logLine("Live aircraft: at most {} active at once (MAX_LIVE_SEL {})", s_mostActiveLive, MAX_LIVE_SEL.value());
    s_mostActiveLive = 0;
}

void lf_tickStep()
{
    // The once-a-second user data re-align the loop's deadline.
    if (gf_takeUserAcSnapshot())
        gf_askDeadlineRealign();
    // Said once per wait, so that a user wondering why nothing shows finds it in the log.
    static bool s_heldBack = false;
    if (!g_simFlightRunning) {
        if (!s_heldBack)
            gf_setStatus("No flight runs in the simulator: the traffic waits for one", true);
        s_heldBack = true;
        return;
    }
    if (s_heldBack)
        gf_logLine("A flight runs in the simulator: the traffic goes on");
    s_heldBack = false;
    if (!g_simConnectError) {
        lf_handleAddingStack();
        gf_recordFlightStates();
    }
}

void lf_periodicStep(PeriodicWork WORK, std::uint64_t SECONDS)
{
    switch (WORK) {
    case PeriodicWork::everySecond:
        lf_everySecond();
        break;
    case PeriodicWork::every5s:
        lf_every5s();
        break;
    case PeriodicWork::every15s:
        gf_parkChangeEvery15s();
        break;
    case PeriodicWork::every16s:
        gf_parkChangeEvery16s();
        break;
    case PeriodicWork::everyMinute:
        lf_everyMinute();
        break;
    case PeriodicWork::every61s:
        gf_removeStaticSameReg();
        break;
    case PeriodicWork::every1200s:
        lf_every1200s(SECONDS);
        break;
    case PeriodicWork::every86400s:
        break;  // the summary runs inside the 1200 s work
    }
}

}  // namespace qmt
