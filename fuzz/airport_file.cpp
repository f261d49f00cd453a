// The park airport's airport file, read from any bytes.
#include "FuzzSupport.h"

#include "core/Parameters.h"

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetParking();
    fuzz::writeBytes(g_workPath / "airports" / "stock" / "EHAM.xml", fuzz::bytesOf(DATA, SIZE));
    gf_readApf("airports/stock/EHAM.xml", g_parkApfInfo);
    fuzz::checkStandTable();
    return 0;
}
