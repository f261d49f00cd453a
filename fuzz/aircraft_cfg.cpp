// An aircraft.cfg of any bytes, read by the ordinary reader and by the IVAO reader, and each of
// its lines offered to the line readers.
#include "FuzzSupport.h"

#include "core/AcKind.h"
#include "core/Files.h"
#include "core/RefData.h"
#include "liveries/CfgReaders.h"
#include "liveries/LiveryScan.h"

#include <set>

using namespace qmt;

namespace {

void checkLiveries(const LiveryList& LIVERIES)
{
    for (const ScannedLivery& L : LIVERIES) {
        fuzz::require(!L.title.empty(), "livery without title");
        fuzz::require(!lf_isIncompleteLivery(L), "livery without airline or model");
        fuzz::require(L.regcode.size() <= 12, "regcode longer than 12");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    gf_resetLiveryScanForTests();
    g_icaoAirlines = {"KLM", "DLH", "ZZZ", "PVT", "BAW"};
    g_validModels = {"A320", "B738", "A20N", "C172", "B77W"};
    g_heavyModels = {"B77W"};
    g_modelFixes = {{"A32N", "A20N"}};
    g_dbaseRecords = {{"N12AB", gf_kindValue({gf_airlineId("PVT"), 0, gf_modelId("C172"), 0, 1})},
                      {"PH-BXA", gf_kindValue({gf_airlineId("KLM"), 0, gf_modelId("B738"), 0, 1})}};
    const std::string_view bytes = fuzz::bytesOf(DATA, SIZE);

    const auto ordinary = fuzz::workFolder() / "Community" / "pkg" / "SimObjects" / "Airplanes" / "A" / "aircraft.cfg";
    fuzz::writeBytes(ordinary, bytes);
    LiveryList liveries;
    try {
        liveries = lf_searchLiveriesinFile(1, ordinary, {});
    } catch (const std::exception&) {
        // Passed on to the folder walk, which logs it.
    }
    checkLiveries(liveries);
    std::set<std::string> titles;
    for (const ScannedLivery& L : liveries)
        fuzz::require(titles.insert(L.title).second, "title taken twice");

    const auto ivao = fuzz::workFolder() / "IVAO_MTL" / "SimObjects" / "Airplanes" / "IVAO_B738" / "aircraft.cfg";
    fuzz::writeBytes(ivao, bytes);
    std::filesystem::create_directories(ivao.parent_path() / "texture.KLM");
    try {
        checkLiveries(lf_searchLiveriesinIVAOFile(1, ivao, {}));
    } catch (const std::exception&) {
        // Passed on to the folder walk, which logs it (a texture name the file system refuses).
    }

    // The lines holding '[' found by one search of the text are the ones each line's search finds.
    std::string text;
    CfgLines views;
    if (lf_readCfgLines(ordinary, text, views, false))
        fuzz::require(lf_bracketLines(text, views) == lf_bracketLines(views), "bracket lines differ");

    std::vector<std::string> lines;
    gf_readTextFile(FileEncoding::UTF8_without_BOM, ordinary, lines);
    std::string value;
    for (const std::string& line : lines) {
        lf_readCfgKey::title(line, value);
        lf_readCfgKey::icaoAirline(line, value);
        fuzz::require(lf_readCfgKey::icaoTypeDesignator(line).size() <= 4, "type designator longer than 4");
        lf_readCfgKey::baseContainer(line);
        const std::string number = lf_readFltsimHeader(line);
        fuzz::require(number.find_first_not_of("0123456789") == std::string::npos, "header number not digits");
    }
    return 0;
}
