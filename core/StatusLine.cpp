#include "core/StatusLine.h"

#include "core/Log.h"
#include "core/LoopClock.h"
#include "core/WindowState.h"

#include <chrono>
#include <mutex>
#include <optional>

namespace qmt {

namespace {

// Guards the status and error lines and the status stamp; taken alone (nothing is locked inside).
std::mutex s_statusMutex;
std::string s_statusLine;
std::string s_errorLine;
std::optional<LoopTime> s_statusSetAt;

constexpr std::chrono::seconds STATUS_LIFETIME{25};

LoopTime lf_statusNow()
{
    return gf_loopNow();
}

}  // namespace

void gf_setStatus(const std::string& TEXT, bool ALSO_LOG)
{
    // The log gets the line even while an error line holds the window's status back.
    if (ALSO_LOG)
        gf_logLine(TEXT);
    {
        std::lock_guard lock(s_statusMutex);
        if (!s_errorLine.empty())
            return;
        s_statusLine = TEXT;
        s_statusSetAt = lf_statusNow();
    }
    gf_repaintWindow();
}

void gf_clearStatus()
{
    {
        std::lock_guard lock(s_statusMutex);
        if (!s_errorLine.empty())
            return;
        s_statusLine.clear();
        s_statusSetAt.reset();
    }
    gf_repaintWindow();
}

void gf_setError(const std::string& TEXT)
{
    {
        std::lock_guard lock(s_statusMutex);
        s_errorLine = TEXT;
    }
    gf_repaintWindow();
}

void gf_clearErrorLine()
{
    {
        std::lock_guard lock(s_statusMutex);
        s_errorLine.clear();
    }
    gf_repaintWindow();
}

std::string gf_statusText()
{
    std::lock_guard lock(s_statusMutex);
    return s_statusLine;
}

std::string gf_errorText()
{
    std::lock_guard lock(s_statusMutex);
    return s_errorLine;
}

void gf_expireStatus()
{
    {
        std::lock_guard lock(s_statusMutex);
        if (!s_statusSetAt || lf_statusNow() - *s_statusSetAt < STATUS_LIFETIME)
            return;
        s_statusLine.clear();
        s_statusSetAt.reset();
    }
    gf_repaintWindow();
}

void gf_resetStatusForTests()
{
    std::lock_guard lock(s_statusMutex);
    s_statusLine.clear();
    s_errorLine.clear();
    s_statusSetAt.reset();
}

}  // namespace qmt
