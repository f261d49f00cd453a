// A BGL scenery file of any bytes (after a first byte that puts it into one of three packages: a
// known publisher's, the simulator maker's, an unknown one's), taken through the scan's step for
// one file: every link it writes is followed by the lookup into the archive, and every airport
// file it generates is read back whole, with every stand it was written with.
#include "FuzzSupport.h"

#include "airportscan/AirportScan.h"
#include "airportscan/Bgl.h"
#include "core/RefData.h"
#include "stands/ApfLookup.h"
#include "simlink/SimClient.h"

#include <pugixml.hpp>

using namespace qmt;

namespace {

AirportEntry lf_airport(const char* ICAO, double LATITUDE, double LONGITUDE)
{
    return AirportEntry{IcaoCode(ICAO), IataCode(), LATITUDE, LONGITUDE, 0, 40};
}

// The generated airport file at PATH (an airport of the database) is read as the park airport.
void lf_checkGenerated(const std::filesystem::path& PATH, const std::string& NAME)
{
    pugi::xml_document doc;
    fuzz::require(static_cast<bool>(doc.load_file(PATH.c_str())), "a generated file that does not load");
    size_t written = 0;
    for (pugi::xml_node pos : gf_parkPositionsOf(doc).children("parkpos")) {
        (void)pos;
        ++written;
    }
    const std::optional<AirportEntry> airport = gf_airportByCode(PATH.stem().string());
    fuzz::require(airport.has_value(), "a file generated for an unknown airport");
    g_parkAirport = *airport;
    gf_clearStands();
    const std::string error = gf_readApf(NAME, g_parkApfInfo);
    fuzz::require(error.empty(), "a generated file that the reader refuses");
    fuzz::require(g_stands.size() == written, "a generated stand that the reader drops");
    fuzz::checkStandTable();
}

void lf_checkFolder(const std::filesystem::path& FOLDER, const std::string& LOCAL)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(FOLDER, ec)) {
        const std::filesystem::path& file = entry.path();
        if (file.extension() == ".txt") {
            std::string name;
            fuzz::require(lf_readApfLink(file, name), "a written link that the lookup does not follow");
        } else if (file.extension() == ".xml") {
            lf_checkGenerated(file, LOCAL + file.filename().string());
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    if (SIZE == 0) {
        return 0;
    }
    fuzz::resetParking();
    gf_resetAirportScanForTests();
    // The seeds' airports, so that their idents are accepted.
    gf_setAirports({lf_airport("EHAM", 52.3086, 4.7639), lf_airport("EHHV", 52.19, 5.15), lf_airport("EHLE", 52.46, 5.52),
                    lf_airport("EHRD", 51.95, 4.44), lf_airport("K2B9", 44.26, -71.58)});
    g_isMsfs2020 = true;
    g_publishers = {{"Some Publisher", "somepub"}};
    g_thirdparties20 = {ThirdpartyEntry{"Some Publisher", {"EHLE 40", "EHHV 12"}}};
    g_simaddon20 = {"EHRD"};
    fuzz::freshFolder(g_mySimaddonPath);
    fuzz::freshFolder(g_myThirdpartyPath);
    static const char* const packages[] = {"somepub-airport-ehle", "asobo-airport-ehrd", "nobody-airport-x"};
    const auto bgl = g_workPath / "Community" / packages[DATA[0] % 3] / "scenery" / "ap.bgl";
    fuzz::writeBytes(bgl, fuzz::bytesOf(DATA + 1, SIZE - 1));
    try {
        lf_processBGLfile(bgl);
    } catch (const std::out_of_range&) {
        // A field past the end of the file ends its task.
    }
    lf_checkFolder(g_myThirdpartyPath, "airports/my_thirdparty/");
    lf_checkFolder(g_mySimaddonPath, "airports/my_simaddon/");
    gf_resetAirportScanForTests();
    return 0;
}
