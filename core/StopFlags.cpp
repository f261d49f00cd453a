#include "core/StopFlags.h"

#include <array>
#include <mutex>

namespace qmt {

std::atomic<bool> g_stopSession{false};
std::atomic<bool> g_exitRequested{false};
std::atomic<bool> g_windowClosed{false};
std::atomic<bool> g_realignDeadline{false};

namespace {

struct ReasonInfo
{
    const char* text;
    int restartDelay;  // seconds; 0: the program ends
    int exitCode;
};

// Indexed by ExitReason.
constexpr std::array<ReasonInfo, 9> s_reasons{{
    {"NOT YET SET", 0, 0},
    {"SIM WAS CLOSED", 0, 0},
    {"NEW FLIGHT", 0, 0},
    {"NEW SETTINGS", 3, 0},
    {"USER CLOSED SIM", 0, 0},
    {"SIMCONNECT ERROR", 9, 5},
    {"READER ERROR", 15, 6},
    {"SYSTEM ERROR", 0, 7},
    {"NEW VERSION", 0, 0},
}};

// Guards the exit reason and its delay together; taken alone.
std::mutex s_reasonMutex;
ExitReason s_reason = ExitReason::notYetSet;
int s_restartDelay = 0;

const ReasonInfo& lf_info(ExitReason REASON)
{
    const auto index = static_cast<std::size_t>(REASON);
    return index < s_reasons.size() ? s_reasons[index] : s_reasons[0];
}

}  // namespace

const char* gf_exitReasonText(ExitReason REASON)
{
    return lf_info(REASON).text;
}

int gf_defaultRestartDelay(ExitReason REASON)
{
    return lf_info(REASON).restartDelay;
}

bool gf_isRestartReason(ExitReason REASON)
{
    return REASON == ExitReason::newSettings || REASON == ExitReason::simConnectError
        || REASON == ExitReason::readerError;
}

int gf_exitCodeOf(ExitReason REASON)
{
    return lf_info(REASON).exitCode;
}

bool gf_setExitReason(ExitReason REASON, int RESTART_DELAY_S)
{
    if (REASON == ExitReason::notYetSet)
        return false;
    std::lock_guard lock(s_reasonMutex);
    if (s_reason != ExitReason::notYetSet)
        return false;
    s_reason = REASON;
    s_restartDelay = RESTART_DELAY_S >= 0 ? RESTART_DELAY_S : gf_defaultRestartDelay(REASON);
    return true;
}

void gf_clearStopFlagsForStart()
{
    g_stopSession = false;
    g_exitRequested = g_windowClosed.load();
}

void gf_stopSession()
{
    g_stopSession = true;
}

void gf_noteWindowClosed()
{
    g_windowClosed = true;
    g_exitRequested = true;
}

void gf_askDeadlineRealign()
{
    g_realignDeadline = true;
}

bool gf_takeDeadlineRealign()
{
    return g_realignDeadline.exchange(false);
}

void gf_requestExit(ExitReason REASON, int RESTART_DELAY_S)
{
    gf_setExitReason(REASON, RESTART_DELAY_S);
    g_exitRequested = true;
}

ExitReason gf_exitReason()
{
    std::lock_guard lock(s_reasonMutex);
    return s_reason;
}

int gf_restartDelaySeconds()
{
    std::lock_guard lock(s_reasonMutex);
    return s_restartDelay;
}

void gf_clearExitReason()
{
    std::lock_guard lock(s_reasonMutex);
    s_reason = ExitReason::notYetSet;
    s_restartDelay = 0;
}

}  // namespace qmt
