// LiveriesScanned.xml of any bytes: a clear error or records with known ids.
#include "FuzzSupport.h"

#include "core/AcKind.h"
#include "liveries/ScannedLivery.h"

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    gf_resetScannedLiveriesForTests();
    fuzz::writeBytes(gf_liveriesScannedPath(), fuzz::bytesOf(DATA, SIZE));
    try {
        lf_readLiveriesScanned();
    } catch (const std::exception&) {
        // The start-up shows the text: a refused file is an answer, not a fault.
    }
    for (const ScannedLivery& l : g_scannedLiveries) {
        fuzz::require(gf_airlineCode(l.kind.airlineId) != "" || l.kind.airlineId == 0, "unknown airline id");
        fuzz::require(l.folderRank == 0, "a record read back has folder rank 0");
    }
    gf_resetScannedLiveriesForTests();
    return 0;
}
