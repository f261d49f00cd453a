// The stop flags that end every long-running loop, and the exit reason of the worker's session.
#pragma once

#include <atomic>

namespace qmt {

// Ends the live session: every long-running loop (main loop, readers, scans) tests it.
extern std::atomic<bool> g_stopSession;
// Asks the worker to leave the session and close down (restart or end by the exit reason).
extern std::atomic<bool> g_exitRequested;

// The user closed the window: the program ends after closing down, whatever the exit reason. A
// start-up never clears it, so a close that came while a new worker started is not lost.
extern std::atomic<bool> g_windowClosed;

// The one stop test of every long-running loop: a stop flag is set or the window was closed.
inline bool gf_stopRequested()
{
    return g_stopSession.load() || g_exitRequested.load() || g_windowClosed.load();
}

// Raised by the simulator link when its once-a-second user data arrive: the main loop re-aligns its
// deadline to now.
extern std::atomic<bool> g_realignDeadline;

// The flags change only through these (any thread).
// A worker starts: no session stop, and an exit only when the window was closed meanwhile.
void gf_clearStopFlagsForStart();
// Closing down: every loop of the session ends.
void gf_stopSession();
// The user closed the window: the program ends after closing down.
void gf_noteWindowClosed();
// The main loop's deadline is to be re-aligned to now; gf_takeDeadlineRealign answers whether it
// was asked for since the last call.
void gf_askDeadlineRealign();
bool gf_takeDeadlineRealign();

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
void gf_clearExitReason();

}  // namespace qmt
