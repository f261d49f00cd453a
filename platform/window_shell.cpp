#include "platform/window_shell.h"

#include "core/Log.h"

#include <mutex>

namespace qmt {

namespace {
// Guards s_lastMessageBox; taken alone.
std::mutex s_shellMutex;
std::string s_lastMessageBox;
}  // namespace

bool gf_shellOpen(const std::filesystem::path& TARGET)
{
    std::error_code error;
    return std::filesystem::exists(TARGET, error);
}

void gf_messageBox(const std::string& TITLE, const std::string& TEXT)
{
    gf_logWarning("{}: {}", TITLE, TEXT);
    std::lock_guard lock(s_shellMutex);
    s_lastMessageBox = TEXT;
}

std::string gf_lastMessageBoxText()
{
    std::lock_guard lock(s_shellMutex);
    return s_lastMessageBox;
}

void gf_resetShellForTests()
{
    std::lock_guard lock(s_shellMutex);
    s_lastMessageBox.clear();
}

}  // namespace qmt
