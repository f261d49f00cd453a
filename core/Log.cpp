#include "core/Log.h"

#include <atomic>
#include <fstream>
#include <mutex>

#include "core/Clock.h"
#include "core/Files.h"
#include "core/XmlMeta.h"

namespace qmt {
namespace {

// Lock order: g_logMutex is taken alone (nothing else is locked while it is held).
std::mutex g_logMutex;       // guards g_logFile and g_logFilePathOpen
std::ofstream g_logFile;
std::filesystem::path g_logFilePathOpen;
// Whether g_logFile is open; written under g_logMutex, read without it.
std::atomic<bool> g_logOpen{false};

void lf_write(std::string_view prefix, std::string_view text, bool flush)
{
    std::lock_guard lock(g_logMutex);
    if (!g_logFile.is_open()) return;
    g_logFile << prefix << text << '\n';
    if (flush) g_logFile.flush();
}

} // namespace

bool gf_openLog(const std::filesystem::path& logPath, std::string_view simulatorText)
{
    std::lock_guard lock(g_logMutex);
    if (g_logFile.is_open()) g_logFile.close();
    gf_rotateGenerations(logPath, 3);
    g_logFile.open(logPath, std::ios::binary | std::ios::trunc);
    g_logFilePathOpen = logPath;
    g_logOpen = g_logFile.is_open();
    if (!g_logFile.is_open()) return false;
    g_logFile << gf_shiftedTimeText() << " (utc) " << PROGRAM_NAME << " version " << gf_programVersionText() << " for "
              << simulatorText << '\n';
    g_logFile.flush();
    return true;
}

void gf_closeLog()
{
    std::lock_guard lock(g_logMutex);
    if (g_logFile.is_open()) {
        g_logFile.flush();
        g_logFile.close();
    }
    g_logOpen = false;
}

bool gf_isLogOpen()
{
    return g_logOpen.load(std::memory_order_relaxed);
}

std::filesystem::path gf_logPath()
{
    std::lock_guard lock(g_logMutex);
    return g_logFilePathOpen;
}

void gf_flushLog()
{
    std::lock_guard lock(g_logMutex);
    if (g_logFile.is_open()) g_logFile.flush();
}

void gf_logLine(std::string_view text) { lf_write({}, text, false); }
void gf_logWarning(std::string_view text) { lf_write("==> ", text, true); }
void gf_logContinuation(std::string_view text) { lf_write("          ", text, false); }

} // namespace qmt
