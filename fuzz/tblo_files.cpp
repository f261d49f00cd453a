// Generated airport files of any bytes read again after the scan, for their publisher (the tblo
// folder's rule for one known publisher) and for a maker that tells their origin: a file goes to
// tblo as it is or not at all, only that publisher's KMCI is dropped, and what is in tblo zips.
#include "FuzzSupport.h"

#include "airportscan/Manifest.h"
#include "airportscan/ScanSteps.h"
#include "core/ScanTasks.h"
#include "core/XmlMeta.h"

#include <sstream>

using namespace qmt;

namespace {

std::string lf_read(const std::filesystem::path& PATH)
{
    std::ifstream in(PATH, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    static ScanPool pool(2);
    fuzz::resetCore();
    gf_setAirports({AirportEntry{IcaoCode("EHAM"), IataCode("AMS"), 52.3086, 4.7639, -11, 200},
                    AirportEntry{IcaoCode("KMCI"), IataCode("MCI"), 39.2976, -94.7139, 1026, 100}});
    fuzz::freshFolder(g_myThirdpartyPath);
    fuzz::freshFolder(g_tbloPath);
    const std::string bytes(fuzz::bytesOf(DATA, SIZE));
    for (const char* code : {"EHAM", "KMCI"}) {
        fuzz::writeBytes(g_myThirdpartyPath / (std::string(code) + ".xml"), bytes);
    }
    const bool known = lf_hasKnownOrigin(g_myThirdpartyPath / "EHAM.xml");
    lf_copyThirdpartyToTblo(pool);
    fuzz::require(std::filesystem::exists(g_myThirdpartyPath / "EHAM.xml"), "a generated file vanished");
    if (!std::filesystem::exists(g_myThirdpartyPath / "KMCI.xml")) {
        pugi::xml_document doc;
        doc.load_buffer(bytes.data(), bytes.size());
        fuzz::require(gf_stringParameterByName(doc, "publisher") == "TropicalSim", "a KMCI of another maker dropped");
    }
    fuzz::require(std::filesystem::exists(g_tbloPath / "EHAM.xml") == known,
                  "a file of known origin not in tblo, or one of unknown origin in it");
    for (const auto& entry : std::filesystem::directory_iterator(g_tbloPath)) {
        fuzz::require(lf_read(entry.path()) == bytes, "a file in tblo is not the generated file");
    }
    if (known) {
        fuzz::require(lf_zipFolder(g_tbloZipPath, pool), "tblo does not zip");
    }
    return 0;
}
