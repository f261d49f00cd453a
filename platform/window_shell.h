// What the window asks of the desktop: opening a file or folder, and message boxes. Without a
// desktop, opening succeeds when the target exists and a message box goes to the log.
#pragma once

#include <filesystem>
#include <string>

namespace qmt {

// Opens the file or folder with the desktop's "open" verb; false when it cannot be opened.
bool gf_shellOpen(const std::filesystem::path& TARGET);
// Shows a message box (title and text) and waits for it to be closed.
void gf_messageBox(const std::string& TITLE, const std::string& TEXT);
// The text of the last message box (tests).
std::string gf_lastMessageBoxText();
void gf_resetShellForTests();

}  // namespace qmt
