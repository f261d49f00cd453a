#pragma once
// The program's log file Log.txt: opened once at start, one plain line per message,
// warnings with "==> " in front and flushed, continuation lines indented by ten blanks.
// Every write goes through one mutex and happens only while the file is open.

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace qmt {

// Opens the log at the path (up to three older generations Log0.txt, Log00.txt, Log000.txt
// are kept) and writes the first line "{} (utc) {} version {} for {}" (time, program name,
// version, simulator text). False when the file cannot be opened.
bool gf_openLog(const std::filesystem::path& logPath, std::string_view simulatorText);
// The same on a stream of the caller's (tests: a stream that fails as a full disk does); PATH
// names it. A write that fails is said once on stderr, and the lines go on once it can write.
bool gf_openLogOn(std::unique_ptr<std::ostream> STREAM, const std::filesystem::path& logPath,
                  std::string_view simulatorText);
// Flushes and closes the log; later writes do nothing until it is opened again.
void gf_closeLog();
// Lock-free, so that a caller can skip building a line that would not be written.
bool gf_isLogOpen();
void gf_flushLog();

// One plain line.
void gf_logLine(std::string_view text);
// "==> " + text, then a flush.
void gf_logWarning(std::string_view text);
// Ten blanks + text.
void gf_logContinuation(std::string_view text);

// Format-template forms: gf_logLine("{:5} airports read", n). Nothing is formatted while the
// log is closed; arguments that are costly to build are worth a gf_isLogOpen test at the caller.
template <typename... Args>
    requires(sizeof...(Args) > 0)
void gf_logLine(fmt::format_string<Args...> format, Args&&... args)
{
    if (gf_isLogOpen()) {
        gf_logLine(std::string_view(fmt::format(format, std::forward<Args>(args)...)));
    }
}
template <typename... Args>
    requires(sizeof...(Args) > 0)
void gf_logWarning(fmt::format_string<Args...> format, Args&&... args)
{
    if (gf_isLogOpen()) {
        gf_logWarning(std::string_view(fmt::format(format, std::forward<Args>(args)...)));
    }
}
template <typename... Args>
    requires(sizeof...(Args) > 0)
void gf_logContinuation(fmt::format_string<Args...> format, Args&&... args)
{
    if (gf_isLogOpen()) {
        gf_logContinuation(std::string_view(fmt::format(format, std::forward<Args>(args)...)));
    }
}

} // namespace qmt
