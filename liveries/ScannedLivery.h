#pragma once

// The list of liveries found by the livery scan and its carrier from one program run to the
// next, the file LiveriesScanned.xml in the output folder.

#include <cstdint>
#include <filesystem>
#include <list>
#include <string>

#include "core/AcKind.h"

namespace qmt {

// One livery of one [fltsim.N] section of an aircraft.cfg file.
struct ScannedLivery {
    std::string title;      // the name under which the simulator creates the AI aircraft
    std::string regcode;    // the section's atc_id; empty when it has none
    AcKind kind{};          // airline, operator, model, cargo and marker
    int16_t folderRank = 0; // rank 1 to 10 of the scan folder; 0 when read back from the file
};

// Scanned liveries; used only by the worker thread during start-up, so it has no lock.
extern std::list<ScannedLivery> g_scannedLiveries;

// True when the airline or the model of the record is missing.
bool lf_isIncompleteLivery(const ScannedLivery& LIVERY);
// Order of the list: airline code, operator code, model code, title, all byte-wise.
bool lf_liveryLess(const ScannedLivery& A, const ScannedLivery& B);
// Neighbours that are the same livery: title, airline, operator, model and regcode equal.
bool lf_sameLivery(const ScannedLivery& A, const ScannedLivery& B);
// Stable sort of g_scannedLiveries by lf_liveryLess.
void gf_sortScannedLiveries();
// Sorts, then keeps the first of each run of neighbours that are the same livery.
void gf_sortAndDedupScannedLiveries();

// Path of LiveriesScanned.xml in the output folder.
std::filesystem::path gf_liveriesScannedPath();
// Writes g_scannedLiveries to LiveriesScanned.xml (nothing when the list is empty): whole, or not
// at all with the reason in FAILURE and false.
bool lf_writeLiveriesScanned(std::string& FAILURE);
// Reads LiveriesScanned.xml into g_scannedLiveries (sorted); throws UserErrorException
// 51 (not loadable), 52 (no <liveries>), 999 (missing attribute), 533 (no liveries).
void lf_readLiveriesScanned();

void gf_resetScannedLiveriesForTests();

} // namespace qmt
