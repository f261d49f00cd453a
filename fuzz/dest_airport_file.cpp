// The destination's airport file of any bytes, searched for the stand nearest to the user
// aircraft: the answer is a distance of 0 to 100 nm, and a stand named is one of the file whose
// position is on the globe and lies at that distance.
#include "FuzzSupport.h"

#include "core/Geo.h"
#include "core/XmlMeta.h"
#include "stands/ApfLookup.h"

#include <cmath>

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetParking();
    const auto path = g_myThirdpartyPath / "EHAM.xml";
    fuzz::writeBytes(path, fuzz::bytesOf(DATA, SIZE));
    std::string stand;
    const double d = gf_readDestApfForClosestStand("EHAM", 52.3086, 4.7639, stand);
    fuzz::require(std::isfinite(d) && d >= 0.0 && d <= 100.0, "distance out of 0..100 nm");
    if (d < 100.0) {
        pugi::xml_document doc;
        doc.load_file(path.c_str());
        bool found = false;
        for (pugi::xml_node pos : gf_parkPositionsOf(doc).children("parkpos")) {
            const auto lat = gf_attributeNumber(pos, "latitude", 0.0).value;
            const auto lon = gf_attributeNumber(pos, "longitude", 0.0).value;
            if (!lat || !lon || stand != pos.attribute("id").value()) {
                continue;
            }
            found = found || (std::fabs(*lat) <= 90.0 && std::fabs(*lon) <= 180.0 &&
                               gf_distanceNm(52.3086, 4.7639, *lat, *lon) == d);
        }
        fuzz::require(found, "the stand named is not a stand of the file on the globe at that distance");
    }
    std::error_code ec;
    fuzz::require(!std::filesystem::exists(g_workPath / kDestAirportFile, ec), "the destination file is left");
    std::filesystem::remove(path, ec);
    return 0;
}
