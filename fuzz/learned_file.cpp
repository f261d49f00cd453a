// A learned airport file of any bytes, read on top of a small airport file, then saved.
#include "FuzzSupport.h"

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetParking();
    fuzz::freshFolder(g_learnedPath);
    fuzz::writeBytes(g_workPath / "airports" / "stock" / "EHAM.xml", fuzz::kSmallAirportFile);
    fuzz::writeBytes(g_learnedPath / "stock" / "EHAM.xml", fuzz::bytesOf(DATA, SIZE));
    if (gf_readApf("airports/stock/EHAM.xml", g_parkApfInfo).empty()) {
        fuzz::checkStandTable();
        lf_saveLearnedApf();
    }
    fuzz::checkStandTable();
    return 0;
}
