// The window's commands. They run on the window thread and must not touch the worker's lists:
// each one only stores a request, which the worker carries out at its next tick.
#include "app/MainWindow.h"
#include "app/Worker.h"
#include "core/Airports.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "engine/BirthSpawn.h"
#include "parking/ParkAirport.h"
#include "parking/ParkChange.h"
#include "platform/window_messages.h"
#include "simlink/SimClient.h"

#include <functional>
#include <mutex>

namespace qmt {

namespace {

constexpr int kNoRequest = -1;

// Lowest MAX_LIVE_SEL asked for since the last tick (kNoRequest: none).
std::atomic<int> s_lowerLiveLimit{kNoRequest};
std::atomic<bool> s_newLiveryScan{false};
std::atomic<int> s_simChoice{kNoRequest};
std::atomic<bool> s_parkRenew{false};
// Guards s_destination; taken alone.
std::mutex s_destinationMutex;
std::optional<std::string> s_destination;

void lf_lowerLiveLimit(int LIMIT)
{
    int current = s_lowerLiveLimit.load();
    while ((current == kNoRequest || LIMIT < current)
           && !s_lowerLiveLimit.compare_exchange_weak(current, LIMIT)) {
    }
}

// The removal of the farthest live aircraft (tests count the calls).
std::function<bool(double)> s_removeFarthest;

void lf_removeAboveLiveLimit(int LIMIT)
{
    int active = 0;
    for (const LiveAc& ac : g_liveAcs) {
        if (ac.state == AcState::active)
            ++active;
    }
    for (int excess = active - LIMIT; excess > 0; --excess) {
        const bool noneRemoved = s_removeFarthest ? s_removeFarthest(-1.0) : gf_removeFarthestLiveAc(-1.0);
        if (noneRemoved)
            break;  // nothing more could be removed
    }
}

}  // namespace

void gf_installRepaintHook()
{
    gf_setRepaintHook([] { gf_postWindowMessage(WM_APP_REPAINT); });
}

void gf_onMaxLiveSelChanged(int OLD_VALUE, int NEW_VALUE)
{
    const int stored = MAX_LIVE_SEL.set(NEW_VALUE);
    gf_saveParameter(MAX_LIVE_SEL);
    if (stored < OLD_VALUE)
        lf_lowerLiveLimit(stored);
}

void gf_onNewLiveryScan()
{
    SCAN_LIVERIES.set(true);
    gf_saveBoolParameter(SCAN_LIVERIES);
    gf_checkControl(SCAN_LIVERIES.name(), true);
    s_newLiveryScan = true;
}

void gf_onSimChoiceChanged(int CHOICE)
{
    s_simChoice = CHOICE;
}

void gf_onParkCheck()
{
    gf_requestParkCheck();
}

void gf_onParkRenew()
{
    s_parkRenew = true;
}

void gf_onParkTrafficOnlyChanged(bool VALUE)
{
    RT_PARKTRAFFIC_ONLY.set(VALUE);
    gf_saveBoolParameter(RT_PARKTRAFFIC_ONLY);
    gf_checkControl(RT_PARKTRAFFIC_ONLY.name(), VALUE);
    gf_setParkRenewAll(VALUE);
    gf_enableParkSourceControls();
    s_parkRenew = true;
}

void gf_onDestinationApplied(const std::string& CODE)
{
    const std::string code = gf_trim(CODE);
    DESTINATION.set(code);
    gf_saveParameter(DESTINATION);
    std::lock_guard lock(s_destinationMutex);
    s_destination = code;
}

void gf_onWindowCommand(std::int64_t COMMAND)
{
    switch (static_cast<WindowCommand>(COMMAND)) {
    case WindowCommand::maxLiveSel: {
        const NumberRead<int> read = gf_readNumber<int>(MAX_LIVE_SEL.name(), gf_controlState(MAX_LIVE_SEL.name()).text);
        if (read.value) {
            gf_onMaxLiveSelChanged(MAX_LIVE_SEL.value(), *read.value);
        }
        // The edit shows the value kept (within its bounds, or the old one for a text that is no number).
        gf_pushToControl(MAX_LIVE_SEL);
        break;
    }
    case WindowCommand::newLiveryScan:
        gf_onNewLiveryScan();
        break;
    case WindowCommand::simChoice: {
        const int selected = gf_controlState(SIM_CHOICE.name()).selected;
        const auto& choices = SIM_CHOICE.choices();
        if (selected >= 0 && static_cast<std::size_t>(selected) < choices.size()) {
            gf_onSimChoiceChanged(choices[static_cast<std::size_t>(selected)]);
        }
        break;
    }
    case WindowCommand::parkCheck:
        gf_onParkCheck();
        break;
    case WindowCommand::parkRenew:
        gf_onParkRenew();
        break;
    case WindowCommand::parkTrafficOnly:
        gf_onParkTrafficOnlyChanged(gf_controlState(RT_PARKTRAFFIC_ONLY.name()).checked);
        break;
    case WindowCommand::destinationApply:
        gf_onDestinationApplied(gf_controlState(DESTINATION.name()).text);
        break;
    }
}

void gf_onWindowClose()
{
    gf_noteWindowClosed();
}

void gf_carryOutWindowRequests()
{
    const int limit = s_lowerLiveLimit.exchange(kNoRequest);
    if (limit != kNoRequest)
        lf_removeAboveLiveLimit(limit);

    const int choice = s_simChoice.exchange(kNoRequest);
    if (choice != kNoRequest && choice != SIM_CHOICE.value()) {
        SIM_CHOICE.set(choice);
        gf_saveParameter(SIM_CHOICE);
        gf_applySimChoice();
        gf_clearLiveryTablesAtClosingDown();
        gf_requestExit(ExitReason::newSettings);
    }
    if (s_newLiveryScan.exchange(false)) {
        gf_clearLiveryTablesAtClosingDown();
        gf_requestExit(ExitReason::newSettings);
    }

    if (s_parkRenew.exchange(false))
        gf_announceStaticParkingUpdate();

    std::optional<std::string> destination;
    {
        std::lock_guard lock(s_destinationMutex);
        destination.swap(s_destination);
    }
    if (destination && !destination->empty()) {
        if (const auto airport = gf_airportByCode(*destination))
            gf_addParkAirport(*destination, airport->latitude, airport->longitude);
        else
            gf_setStatus(fmt::format("airport {} is unknown", *destination), true);
    }
}

void gf_setFarthestRemoverForTests(std::function<bool(double)> REMOVER)
{
    s_removeFarthest = std::move(REMOVER);
}

void gf_resetWindowRequestsForTests()
{
    s_removeFarthest = nullptr;
    s_lowerLiveLimit = kNoRequest;
    s_newLiveryScan = false;
    s_simChoice = kNoRequest;
    s_parkRenew = false;
    std::lock_guard lock(s_destinationMutex);
    s_destination.reset();
}

}  // namespace qmt
