#include "app/pending_liveries.h"

namespace qmt {

// Replaced when the livery tables are built.
bool g_liveriesProcessed = false;

// Replaced when the livery scan is built.
void gf_scanLiveries() {}
// Replaced when the livery tables are built.
void gf_processScannedLiveries() {}
// Replaced when the livery tables are built.
void gf_clearLiveryTables() {}
// Replaced when the matching summary is built.
void gf_logNoMatches() {}
// Replaced when the matching summary is built.
void gf_writeMatchingSummary() {}

}  // namespace qmt
