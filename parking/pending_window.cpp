#include "app/MainWindow.h"

namespace qmt {

// Replaced when the window's range and fit controls are built.
void gf_setRange(int) {}
// Replaced when the window's range and fit controls are built.
void gf_switchAutoRange() {}
// Replaced when the window's range and fit controls are built.
void gf_selectMaxFitEntry() {}

} // namespace qmt
