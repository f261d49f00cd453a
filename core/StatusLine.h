// Status and error lines of the main window (any thread; one mutex).
#pragma once

#include <string>

namespace qmt {

// Sets the status line unless an error line is shown; it is cleared 25 s later. Logs it when asked.
void gf_setStatus(const std::string& TEXT, bool ALSO_LOG = false);
// Clears the status line unless an error line is shown.
void gf_clearStatus();
// Sets the error line; it stays until the next start-up.
void gf_setError(const std::string& TEXT);
// Clears the error line (a new start-up).
void gf_clearErrorLine();
std::string gf_statusText();
std::string gf_errorText();
// Clears the status line once it is 25 s old; run once a second.
void gf_expireStatus();
void gf_resetStatusForTests();

}  // namespace qmt
