// A package manifest.json of any bytes: a manifest or none, and the search never throws.
#include "FuzzSupport.h"

#include "airportscan/AirportScan.h"
#include "airportscan/Manifest.h"

#include <nlohmann/json.hpp>

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    gf_resetAirportScanForTests();
    const auto bytes = fuzz::bytesOf(DATA, SIZE);
    try {
        gf_parseManifest(bytes);
    } catch (const nlohmann::json::exception&) {
        // Not JSON, or a member that is not a text: the search below logs it.
    }
    const auto package = g_workPath / "Community" / "acme-airport-ehle";
    fuzz::writeBytes(package / "manifest.json", bytes);
    const ManifestInfo manifest = gf_searchManifest(package / "scenery" / "ap.bgl");
    if (manifest) {
        fuzz::require(!lf_logManifest(*manifest).empty(), "manifest text");
    }
    gf_resetAirportScanForTests();
    return 0;
}
