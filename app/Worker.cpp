// The worker thread: start-up, session start, closing down with restart.
#include "app/Worker.h"

#include "airportscan/AirportScan.h"
#include "app/MainWindow.h"
#include "core/Airports.h"
#include "core/Clock.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/LoopClock.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/ScanTasks.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "core/UserError.h"
#include "core/WeekTime.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "engine/Intake.h"
#include "feed/TrafficFeed.h"
#include "liveries/LiveryScan.h"
#include "liveries/LiveryTables.h"
#include "liveries/Matching.h"
#include "parking/ParkAirport.h"
#include "parking/ParkChange.h"
#include "parking/StaticAircraft.h"
#include "platform/window_messages.h"
#include "simlink/Install.h"
#include "simlink/SimClient.h"

#include <cmath>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace qmt {

RunOptions g_runOptions;

namespace {

constexpr const char* kProgramName = "Quillon";
constexpr std::chrono::milliseconds kPollStep{100};
constexpr std::chrono::milliseconds kLoginStep{300};
constexpr std::chrono::milliseconds kLoginLimit{3000};
constexpr std::chrono::seconds kFirstTrafficLimit{10};
constexpr double kApiRevisitSeconds = 2.0;

// The livery tables are emptied at the next closing down (a new scan or another simulator).
std::atomic<bool> s_clearLiveryTables{false};

// Why the window closes when no exit reason says it (the run time is over); taken by the next
// closing down. Guarded by s_closeCauseMutex, taken alone.
std::mutex s_closeCauseMutex;
std::string s_closeCause;

std::string lf_takeCloseCause()
{
    std::lock_guard lock(s_closeCauseMutex);
    return std::exchange(s_closeCause, std::string());
}

// Waits in steps until the condition holds; false when a stop flag came first or LIMIT (none: no
// limit) has passed on the loop clock. The limit is a time, not a number of steps: the steps can
// take longer than they sleep, and on a virtual clock the other threads move the time on too.
template <typename CONDITION>
bool lf_waitFor(CONDITION&& DONE, std::chrono::milliseconds STEP, std::optional<std::chrono::milliseconds> LIMIT)
{
    const std::optional<LoopTime> deadline = LIMIT ? std::optional(gf_loopNow() + *LIMIT) : std::nullopt;
    while (!deadline || gf_loopNow() < *deadline) {
        if (DONE())
            return true;
        if (gf_stopRequested())
            return false;
        gf_loopSleepFor(STEP);
    }
    return DONE();
}

void lf_checkProgramFolder()
{
    std::error_code error;
    if (!std::filesystem::is_directory(g_workPath, error))
        throw UserErrorException(
            99, fmt::format("{} must be run from the {} folder!", kProgramName, g_workPath.string()));
}

void lf_readParameters()
{
    std::string errorText;
    if (!gf_loadParameters(g_parametersPath, &errorText))
        gf_setStatus(errorText, true);
    // Every time of week (stand use, learned slots, log times) follows the user's shifted time.
    const int shift = TIME_SHIFT_MINUTES.value();
    gf_setTimeShift(std::chrono::minutes(shift));
    if (shift != 0)
        gf_logLine("Time shift of {} minutes: it is {} now", shift, gf_shiftedTimeText());
}

// The window's controls take the values of their parameters.
void lf_fillControls()
{
    gf_fillControls();
    gf_applySimChoice();
    gf_setRange(RANGE.value());
}

void lf_readDataFiles()
{
    if (!gf_readDataFilesOnce())
        throw UserErrorException(99, "reading data files failed!");
}

// The traffic service may not be visited again within 2 s (a restart comes back quickly).
void lf_holdForTrafficApi()
{
    const double since = gf_secondsSinceApiVisit();
    if (since >= kApiRevisitSeconds)
        return;
    const auto holdSeconds = static_cast<int>(std::ceil(kApiRevisitSeconds - since));
    gf_setStatus(fmt::format("Holding for {} seconds... (RT API cannot be revisited within {} seconds)",
                             holdSeconds, static_cast<int>(kApiRevisitSeconds)),
                 true);
    gf_loopSleepFor(std::chrono::seconds(holdSeconds));
    gf_clearStatus();
}

// Flight plans of an earlier run name objects that no longer exist.
void lf_prepareFlightPlanFolder()
{
    std::error_code error;
    std::filesystem::create_directories(g_origDestPath, error);
    gf_removeFilesFromDirectory(g_origDestPath);
}

void lf_applyDestination()
{
    const std::string code = DESTINATION.value();
    if (code.empty())
        return;
    if (const auto airport = gf_airportByCode(code))
        gf_addParkAirport(std::string(gf_trim(code)), airport->latitude, airport->longitude);
}

void lf_reportStartUpError(const std::string& TEXT)
{
    gf_logWarning(TEXT);
    gf_setError(TEXT);
    gf_requestExit(ExitReason::systemError);
}

void lf_countDown(int SECONDS, bool SHOW_RESTART)
{
    for (int left = SECONDS; left > 0 && !g_windowClosed; --left) {
        if (SHOW_RESTART)
            gf_setStatus(fmt::format("Restarting after {} second{}", left, gf_plural(left)));
        gf_loopSleepFor(std::chrono::seconds(1));
    }
}

}  // namespace

void lf_createProgramFolders()
{
    bool ok = gf_createWorkFolders();
    // The learned airport files are kept by publisher kind.
    for (const char* kind : {"stock", "simaddon", "thirdparty"}) {
        std::error_code error;
        std::filesystem::create_directories(g_learnedPath / kind, error);
        ok = ok && !error;
    }
    if (!ok)
        throw UserErrorException(99, fmt::format("could not create the working folders in {}",
                                                 g_workPath.string()));
}

// The scan; when no lfolder is set in manual mode, the user gets the manual and the settings folder.
static void lf_runLiveryScan()
{
    try {
        gf_scanLiveries();
    } catch (const UserErrorException& e) {
        if (e.code() == 48) {
            gf_openManual();
            gf_openParametersFolder();
        }
        throw;
    }
}

void lf_runStartUpScans()
{
    gf_findInstallPath();
    gf_initBglTasks();
    // exists() throws the file-system error when the status query fails.
    if (SCAN_LIVERIES.value() || !std::filesystem::exists(g_outputPath / kLiveriesScannedFile))
        lf_runLiveryScan();
    // A stop during the scan leaves no complete list to read: the program closes down.
    if (gf_stopRequested())
        return;
    gf_processScannedLiveries();
    if (SCAN_AIRPORTS.value() && !gf_stopRequested()) {
        gf_windowSetSimaddonCount(0);
        gf_windowSetThirdpartyCount(0);
        gf_repaintWindow();
        gf_scanAirports();
    }
}

bool lf_startSession()
{
    if (gf_stopRequested())
        return false;
    gf_startSimClient();
    lf_waitFor(
        [] {
            const SimLinkState state = g_simLinkState.load();
            return state == SimLinkState::connected || state == SimLinkState::failed
                || state == SimLinkState::closed;
        },
        kPollStep, std::nullopt);
    if (gf_stopRequested())
        return false;
    if (g_simLinkState.load() != SimLinkState::connected) {
        gf_logWarning("SimConnect: no connection to the simulator");
        gf_requestExit(ExitReason::simConnectError);
        return false;
    }
    // The user aircraft's first answer centres the traffic query box.
    lf_waitFor(
        [] {
            gf_takeUserAcSnapshot();
            return g_userAc.dataArrived;
        },
        kLoginStep, kLoginLimit);
    if (g_userAc.hasPosition())
        gf_setQueryCentre(g_userAc.latitude, g_userAc.longitude);

    if (!gf_authenticate()
        || !lf_waitFor([] { return !gf_sessionGuid().empty(); }, kLoginStep, kLoginLimit)) {
        if (!gf_stopRequested())
            gf_requestExit(ExitReason::readerError);
        return false;
    }
    gf_startWeatherReader();
    lf_waitFor([] { return g_qnhReceived.load(); }, kLoginStep, kLoginLimit);
    gf_checkParkAirports();

    gf_acceptLiveBatches(true);
    gf_startTrafficReader();
    if (!lf_waitFor([] { return g_trafficReceived.load(); }, kPollStep, kFirstTrafficLimit)) {
        if (!gf_stopRequested()) {
            gf_logWarning("TrafficReader receiving timed out after 10 seconds?");
            gf_setStatus("TrafficReader receiving timed out after 10 seconds?");
            gf_requestExit(ExitReason::readerError);
        }
        return false;
    }
    // The buffered history is merged here, on the worker, before the first tick.
    gf_mergeHistoryBatches();
    return true;
}

void lf_resetSession()
{
    gf_clearSessionLists();
    // Queued creates view the livery tables, which closing down may clear next.
    gf_clearSimQueues();
    gf_dropWaitingBatches();
}

void gf_noteWindowCloseCause(const std::string& CAUSE)
{
    std::lock_guard lock(s_closeCauseMutex);
    s_closeCause = CAUSE;
}

void lf_closingDown()
{
    const ExitReason reason = gf_exitReason();
    gf_logMostActiveLive();
    // A run that ends because its time is over says so instead of "NOT YET SET".
    const std::string cause = lf_takeCloseCause();
    const bool byCause = reason == ExitReason::notYetSet && g_windowClosed && !cause.empty();
    gf_logLine("Exiting: {}", byCause ? cause : std::string(gf_exitReasonText(reason)));
    gf_stopSession();
    gf_acceptLiveBatches(false);
    gf_stopReaders();
    gf_stopSimClient();
    // Scan workers given up after a time-out must end before their lists can go.
    if (!gf_waitForBglTasks(kScanWaitLimit))
        gf_logWarning("{} scan workers still run", g_runningBglTasks.load());
    gf_logout();
    gf_saveParameters(g_parametersPath);
    gf_resetParkAirport();
    gf_logNoMatches();
    gf_writeMatchingSummary();
    lf_resetSession();
    gf_endParkChange();
    if (s_clearLiveryTables.exchange(false)) {
        gf_clearLiveryTables();
    }
    gf_flushLog();

    const int code = gf_exitCodeOf(reason);
    if (g_windowClosed) {
        gf_postWindowMessage(WM_APP_EXIT, code);
        return;
    }
    if (gf_isRestartReason(reason)) {
        gf_setStatus("Prepare for a restart ...", true);
        lf_countDown(gf_restartDelaySeconds(), true);
        gf_postWindowMessage(g_windowClosed ? WM_APP_EXIT : WM_APP_STARTUP, g_windowClosed ? code : 1);
        return;
    }
    if (reason == ExitReason::newFlight) {
        gf_setStatus(fmt::format("New flight detected, {} will close, please restart manually ...", kProgramName),
                     true);
        lf_countDown(10, false);
        gf_postWindowMessage(WM_APP_EXIT, code);
        return;
    }
    // A start-up error stays in the window until the user closes it.
    if (reason == ExitReason::systemError)
        return;
    gf_postWindowMessage(WM_APP_EXIT, code);
}

void gf_clearLiveryTablesAtClosingDown()
{
    s_clearLiveryTables = true;
}

bool lf_guardedStep(const std::function<void()>& STEP)
{
    try {
        STEP();
        return true;
    } catch (const UserErrorException& error) {
        lf_reportStartUpError(error.what());
    } catch (const std::exception& error) {
        lf_reportStartUpError(fmt::format("{} exception: {}", "lf_startUpQuillon", error.what()));
    }
    return false;
}

void lf_startUpQuillon(bool AUTOMATIC_RESTART)
{
    (void)AUTOMATIC_RESTART;  // the version check is skipped on an automatic restart; none is configured
    gf_installRepaintHook();
    // The floors below hand their batches, creation steps and stand look-ups upwards through
    // these seams.
    gf_attachIntake();
    gf_attachStaticParking();
    // The announcement of a park change counts to the next 15-second mark of this loop.
    gf_setParkSecondsSource(&gf_loopSeconds);
    // A close of the window that came while this worker started ends it at once.
    gf_clearStopFlagsForStart();
    gf_clearExitReason();
    gf_clearErrorLine();
    bool production = false;
    lf_guardedStep([&production] {
        lf_checkProgramFolder();
        lf_readParameters();
        lf_fillControls();
        lf_createProgramFolders();
        lf_readDataFiles();
        lf_runStartUpScans();
        lf_holdForTrafficApi();
        lf_prepareFlightPlanFolder();
        lf_readMyParkAirports();
        lf_applyDestination();
        if (g_runOptions.production) {
            production = true;
            return;
        }
        if (lf_startSession()) {
            gf_updateWeekTime();
            gf_manageParkAirport(1);
            lf_mainLoop();
        }
    });
    if (production) {
        gf_logLine("production");
        gf_postWindowMessage(WM_APP_EXIT, 0);
        return;
    }
    try {
        lf_closingDown();
    } catch (const std::exception& error) {
        gf_logWarning("{} exception: {}", "lf_closingDown", error.what());
        gf_postWindowMessage(WM_APP_EXIT, gf_exitCodeOf(ExitReason::systemError));
    }
}

}  // namespace qmt
