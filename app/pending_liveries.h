// The livery scan, called by the start-up; not built yet.
#pragma once

namespace qmt {

// The livery scan of the installed AI packages.
void gf_scanLiveries();

}  // namespace qmt
