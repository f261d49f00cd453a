#include "core/StatusLine.h"

#include "core/EventLines.h"
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
std::string s_lastToldStatus;  // the last status told as an event line, its digits folded
LoopTime s_lastToldAt{};       // and when it was told

constexpr std::chrono::seconds kStatusLifetime{25};
// A status that differs from the last one told only in its numbers within this time is a
// countdown or a repeat, and is not told again.
constexpr std::chrono::seconds kRetellAfter{60};

LoopTime lf_statusNow()
{
    return gf_loopNow();
}

// The text with each run of digits as one '#' and without line ends: a countdown ("Restarting
// after 9 seconds", "... 8 seconds") is told as an event line once.
std::string lf_foldedDigits(const std::string& TEXT)
{
    std::string folded;
    for (const char c : TEXT) {
        if (c >= '0' && c <= '9') {
            if (folded.empty() || folded.back() != '#')
                folded += '#';
        } else if (c != '\n' && c != '\r') {
            folded += c;
        }
    }
    return folded;
}

// A line end at the end of a status text would break the event line in two.
std::string lf_withoutLineEnds(const std::string& TEXT)
{
    std::string line = TEXT;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

}  // namespace

void gf_setStatus(const std::string& TEXT, bool ALSO_LOG)
{
    // The log gets the line even while an error line holds the window's status back.
    if (ALSO_LOG)
        gf_logLine(TEXT);
    bool tell = false;
    {
        std::lock_guard lock(s_statusMutex);
        if (!s_errorLine.empty())
            return;
        s_statusLine = TEXT;
        s_statusSetAt = lf_statusNow();
        std::string folded = lf_foldedDigits(TEXT);
        const LoopTime now = *s_statusSetAt;
        tell = !folded.empty() && (folded != s_lastToldStatus || now - s_lastToldAt >= kRetellAfter);
        if (tell) {
            s_lastToldStatus = std::move(folded);
            s_lastToldAt = now;
        }
    }
    // A status lives 25 s of the program's clock: told as an event line it is also seen in a run
    // that plays faster than real time.
    if (tell)
        gf_postEventLine(lf_withoutLineEnds(TEXT));
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
    gf_postEventLine("ERROR: " + lf_withoutLineEnds(TEXT));
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
        if (!s_statusSetAt || lf_statusNow() - *s_statusSetAt < kStatusLifetime)
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
    s_lastToldStatus.clear();
    s_lastToldAt = {};
}

}  // namespace qmt
