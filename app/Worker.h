// The worker thread: start-up, the live session, the 10 ms main loop with its periodic work,
// closing down with restart.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/DurationHistogram.h"

namespace qmt {

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
// The window closes for this cause ("DURATION REACHED (60 s)"): the next closing down names it
// in its "Exiting:" line when no exit reason was set. Any thread.
void gf_noteWindowCloseCause(const std::string& CAUSE);
// Logs the most live aircraft active at once since the last time (counted every second), beside
// the number asked for, and starts counting again.
void gf_logMostActiveLive();
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
    // Asked at each second of the loop clock: whether the second's work runs. The real step takes
    // the simulator's one-second flag, so a paused simulator (no fresh user data) holds the work
    // and its seconds back. Empty: every second is due.
    std::function<bool()> secondDue = {};
};
void gf_setMainLoopStepsForTests(MainLoopSteps STEPS);
// The real steps: the engine's tick and the periodic work of the shell.
MainLoopSteps gf_defaultMainLoopSteps();
// Runs the work of one second mark (per-second, and whichever of 5 s ... 86400 s it is a multiple of).
void gf_runPeriodicWork(std::uint64_t SECONDS);
// The main loop's seconds counter (seconds since the loop started).
std::uint64_t gf_loopSeconds();

// How the main loop kept its rhythm: how late each tick started after its deadline, how long the
// tick's own work took, and how often the deadline was moved. The loop logs a summary when it ends.
struct MainLoopTimes
{
    DurationHistogram lateness;
    DurationHistogram tickWork;
    std::uint64_t realignedToSimulator = 0;  // the simulator's second set the deadline to now
    std::uint64_t realignedBehind = 0;       // more than 100 ms behind: the deadline moved on
    // The same two apart for the ramp, while aircraft are still being created, and for the steady
    // part from the first second at which MAX_LIVE_SEL live aircraft were active on.
    DurationHistogram rampLateness;
    DurationHistogram rampTickWork;
    DurationHistogram steadyLateness;
    DurationHistogram steadyTickWork;
    std::optional<std::uint64_t> steadyFromSecond;  // loop second at which the steady part began
};
// The times of the running or last main loop; the worker's own (tests read them after the loop).
const MainLoopTimes& gf_mainLoopTimes();
// Worker: MAX_LIVE_SEL live aircraft are active. The loop's times count for the steady part from
// its next tick on, until the loop ends.
void gf_noteAllLiveActive();

// The livery tables are emptied at the next closing down, after the session's aircraft are gone.
void gf_clearLiveryTablesAtClosingDown();

}  // namespace qmt
