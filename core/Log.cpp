#include "core/Log.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>

#include "core/Clock.h"
#include "core/Files.h"
#include "core/XmlMeta.h"

namespace qmt {
namespace {

// Lock order: g_logMutex is taken alone (nothing else is locked while it is held).
std::mutex g_logMutex;       // guards g_logStream, g_logFilePathOpen and g_logFailed
std::unique_ptr<std::ostream> g_logStream;
std::filesystem::path g_logFilePathOpen;
// A write of the open log failed (a full disk): said once on stderr.
bool g_logFailed = false;
// Whether g_logStream is open; written under g_logMutex, read without it.
std::atomic<bool> g_logOpen{false};

// Called with g_logMutex held after a write. The log cannot report its own failure: stderr
// says it once, and the stream is cleared so that the lines go on once there is room again.
void lf_checkWritten()
{
    if (*g_logStream) return;
    g_logStream->clear();
    if (g_logFailed) return;
    g_logFailed = true;
    std::fputs(fmt::format("{}: {} cannot be written (is the disk full?); log lines are lost until it can\n",
                           kProgramName, g_logFilePathOpen.string())
                   .c_str(),
               stderr);
}

void lf_write(std::string_view prefix, std::string_view text, bool flush)
{
    std::lock_guard lock(g_logMutex);
    if (!g_logStream) return;
    *g_logStream << prefix << text << '\n';
    if (flush) g_logStream->flush();
    lf_checkWritten();
}

void lf_closeLocked()
{
    if (g_logStream) {
        g_logStream->flush();
        lf_checkWritten();
    }
    g_logStream.reset();
    g_logOpen = false;
}

} // namespace

bool gf_openLog(const std::filesystem::path& logPath, std::string_view simulatorText)
{
    {
        std::lock_guard lock(g_logMutex);
        lf_closeLocked();
        gf_rotateGenerations(logPath, 3);
    }
    auto file = std::make_unique<std::ofstream>(logPath, std::ios::binary | std::ios::trunc);
    if (!file->is_open()) {
        std::lock_guard lock(g_logMutex);
        g_logFilePathOpen = logPath;
        return false;
    }
    return gf_openLogOn(std::move(file), logPath, simulatorText);
}

bool gf_openLogOn(std::unique_ptr<std::ostream> STREAM, const std::filesystem::path& logPath,
                  std::string_view simulatorText)
{
    std::lock_guard lock(g_logMutex);
    lf_closeLocked();
    g_logStream = std::move(STREAM);
    g_logFilePathOpen = logPath;
    g_logFailed = false;
    g_logOpen = g_logStream != nullptr;
    if (!g_logStream) return false;
    *g_logStream << gf_shiftedTimeText() << " (utc) " << kProgramName << " version " << gf_programVersionText()
                 << " for " << simulatorText << '\n';
    g_logStream->flush();
    lf_checkWritten();
    return true;
}

void gf_closeLog()
{
    std::lock_guard lock(g_logMutex);
    lf_closeLocked();
}

bool gf_isLogOpen()
{
    return g_logOpen.load(std::memory_order_relaxed);
}

void gf_flushLog()
{
    std::lock_guard lock(g_logMutex);
    if (!g_logStream) return;
    g_logStream->flush();
    lf_checkWritten();
}

void gf_logLine(std::string_view text) { lf_write({}, text, false); }
void gf_logWarning(std::string_view text) { lf_write("==> ", text, true); }
void gf_logContinuation(std::string_view text) { lf_write("          ", text, false); }

} // namespace qmt
