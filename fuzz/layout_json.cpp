// A package layout.json of any bytes: the BGL paths it lists, or an error, and the walk's
// look-up of a package's layout never throws.
#include "FuzzSupport.h"

#include "airportscan/AirportScan.h"
#include "airportscan/ScanSteps.h"

#include <stdexcept>

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    gf_resetAirportScanForTests();
    const auto bytes = fuzz::bytesOf(DATA, SIZE);
    try {
        for (const std::string& file : lf_parseLayoutJson(bytes)) {
            fuzz::require(file.ends_with(".bgl"), "only BGL paths");
        }
    } catch (const std::runtime_error&) {
        // Not JSON: the package's files are all read.
    }
    const auto community = g_workPath / "Community";
    fuzz::writeBytes(community / "acme-airport-ehle" / "layout.json", bytes);
    PackageLayouts layouts(community);
    layouts.lists(community / "acme-airport-ehle" / "scenery" / "ehle.bgl");
    gf_resetAirportScanForTests();
    return 0;
}
