// Livery calls of the shell whose owners are not built yet.
#pragma once

#include <atomic>

namespace qmt {

// The livery lookup tables have been built in this program run.
extern bool g_liveriesProcessed;

// The livery scan of the installed AI packages.
void gf_scanLiveries();
// Builds the livery lookup tables from LiveriesScanned.xml (once per program run).
void gf_processScannedLiveries();
// Empties the livery lookup tables.
void gf_clearLiveryTables();
// Lists the spawn texts without a livery match.
void gf_logNoMatches();
// Writes the matching summary.
void gf_writeMatchingSummary();

}  // namespace qmt
