#include "app/MainWindow.h"

namespace qmt {

// Replaced when the main window's blocked-callsign controls are built.
void gf_refreshBlockedCallsigns() {}

} // namespace qmt
