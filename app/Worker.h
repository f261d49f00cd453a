// The worker thread: start-up, the live session, the 10 ms main loop with its periodic work,
// closing down with restart, the exit reasons, the stop flags and the status line.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qmt {

// ---------------------------------------------------------------------------------------------
// Stop flags and exit reasons

// Ends the live session: every long-running loop (main loop, readers, scans) tests it.
extern std::atomic<bool> g_stopSession;
// Asks the worker to leave the session and close down (restart or end by the exit reason).
extern std::atomic<bool> g_exitRequested;

enum class ExitReason : int
{
    notYetSet = 0,
    simWasClosed = 1,
    newFlight = 2,
    newSettings = 3,
    userClosedSim = 4,
    simConnectError = 5,
    readerError = 6,
    systemError = 7,
    newVersion = 8,
};

// "NOT YET SET", "SIM WAS CLOSED", ... as shown in the log and the window.
const char* gf_exitReasonText(ExitReason REASON);
// Default restart delay in seconds of a reason; 0 for the reasons that end the program.
int gf_defaultRestartDelay(ExitReason REASON);
// True for the reasons after which the worker starts again ("NEW SETTINGS", "SIMCONNECT ERROR", "READER ERROR").
bool gf_isRestartReason(ExitReason REASON);
// The process exit code that ends the program for a reason.
int gf_exitCodeOf(ExitReason REASON);

// Sets the exit reason when none is set yet (the first one wins) with its restart delay in seconds
// (the reason's default when negative). True when this call set it.
bool gf_setExitReason(ExitReason REASON, int RESTART_DELAY_S = -1);
// Sets the exit reason (first one wins) and raises g_exitRequested.
void gf_requestExit(ExitReason REASON, int RESTART_DELAY_S = -1);
ExitReason gf_exitReason();
int gf_restartDelaySeconds();
// Clears the reason for the next worker (a restart starts with no reason set).
void lf_clearExitReason();

// ---------------------------------------------------------------------------------------------
// Time of week, kept up to date by the main loop from the (shifted) current time

// Day of the week 1..7 (1 is Monday) in the low 32 bits, half-hour 0..47 in the high 32 bits.
extern std::atomic<std::uint64_t> g_weekTime;

constexpr std::uint64_t gf_packWeekTime(std::uint32_t DAY, std::uint32_t HALF_HOUR)
{
    return static_cast<std::uint64_t>(DAY) | (static_cast<std::uint64_t>(HALF_HOUR) << 32);
}
constexpr std::uint32_t gf_weekDay(std::uint64_t WEEK_TIME)
{
    return static_cast<std::uint32_t>(WEEK_TIME & 0xFFFFFFFFu);
}
constexpr std::uint32_t gf_weekHalfHour(std::uint64_t WEEK_TIME)
{
    return static_cast<std::uint32_t>(WEEK_TIME >> 32);
}
// The week time of a point in time (seconds since the Unix epoch, UTC).
std::uint64_t gf_weekTimeOf(std::int64_t UNIX_SECONDS);

// ---------------------------------------------------------------------------------------------
// Status and error lines of the main window (any thread; one mutex)

// Sets the status line unless an error line is shown; it is cleared 25 s later. Logs it when asked.
void gf_setStatus(const std::string& TEXT, bool ALSO_LOG = false);
// Clears the status line unless an error line is shown.
void gf_clearStatus();
// Sets the error line; it stays until the next start-up.
void gf_setError(const std::string& TEXT);
// Clears the error line (a new start-up).
void gf_clearErrorLine();
std::string gf_statusText();
std::string gf_errorText();
// Clears the status line once it is 25 s old; run once a second.
void gf_expireStatus();
void gf_resetStatusForTests();

// ---------------------------------------------------------------------------------------------
// Start-up, session, main loop, closing down

// Options of one program run, set by the program entry before the first start-up.
struct RunOptions
{
    std::string workFolder;          // working folder ("" = current folder)
    std::string scenarioFile;        // traffic scenario played by the traffic stand-in
    std::string dataFolder;          // folder of the bundled sample data
    bool production = false;         // "--production": end after the start-up checks
    std::optional<std::chrono::milliseconds> runFor;  // end the program after this long
};
extern RunOptions g_runOptions;

// The worker's entry (one worker thread at a time): start-up, session, main loop, closing down.
void lf_startUpQuillon(bool AUTOMATIC_RESTART);
// Runs a step of the worker; an exception out of it is shown in the error line (and logged) and
// sets the exit reason SYSTEM ERROR. False when an exception came.
bool lf_guardedStep(const std::function<void()>& STEP);
// Creates the missing working folders below the working folder.
void lf_createProgramFolders();
// The start-up steps after the folders: scan limits, livery scan and tables, airport scan.
void lf_runStartUpScans();
// Starts the simulator connection and the traffic readers; false when the session cannot start.
bool lf_startSession();
// The 10 ms deadline loop; returns when a stop flag is set.
void lf_mainLoop();
// Stops the session's threads, saves, and restarts or ends the program by the exit reason.
void lf_closingDown();
// Empties the engine's lists before a restart.
void lf_resetSession();

// The periodic marks of the main loop's seconds counter.
enum class PeriodicWork
{
    everySecond,
    every5s,
    every15s,
    every16s,
    everyMinute,
    every61s,
    every1200s,
    every86400s,
};

// What the main loop calls; tests replace them to count and to drive the loop.
struct MainLoopSteps
{
    std::function<void()> tick;                                   // once per 10 ms tick
    std::function<void(PeriodicWork, std::uint64_t SECONDS)> periodic;  // at each mark
};
void gf_setMainLoopStepsForTests(MainLoopSteps STEPS);
// The real steps: the engine's tick and the periodic work of the shell.
MainLoopSteps gf_defaultMainLoopSteps();
// Runs the work of one second mark (per-second, and whichever of 5 s ... 86400 s it is a multiple of).
void gf_runPeriodicWork(std::uint64_t SECONDS);
// The main loop's seconds counter (seconds since the loop started).
std::uint64_t gf_loopSeconds();

// Raised by the simulator link when its once-a-second user data arrive: the main loop re-aligns its
// deadline to now.
extern std::atomic<bool> g_realignDeadline;

// The park change of the static parking: requested (renewal, window commands), armed at one
// 15-second mark and carried out at the next one with the renew-all flag.
extern std::atomic<bool> g_parkChangeRequested;
extern std::atomic<bool> g_parkChangeArmed;
// Set to the new value of RT_PARKTRAFFIC_ONLY whenever that check box changes.
extern std::atomic<bool> g_parkRenewAll;

// The livery tables are emptied at the next closing down, after the session's aircraft are gone.
void gf_clearLiveryTablesAtClosingDown();

// Resets the worker's state (flags, reason, loop counters, steps) for tests.
void gf_resetWorkerForTests();

}  // namespace qmt
