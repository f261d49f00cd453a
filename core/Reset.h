#pragma once
// Test support: puts every piece of core state back to its start.

namespace qmt {

// Parameters to defaults, reference data and airports emptied, interned code lists reset
// (empty code, "ZZZ", "PVT"), clock back to the system clock without shift, random script
// cleared and this thread's engine seeded with 1, model fixes off, scan task counters reset.
// The log is closed.
void gf_resetCoreForTests();

} // namespace qmt
