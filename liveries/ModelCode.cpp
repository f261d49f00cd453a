// The model code that all liveries of one aircraft.cfg share.
#include <regex>

#include <fmt/format.h>

#include "core/RefData.h"
#include "liveries/CfgReaders.h"
#include "liveries/LiveryScan.h"

namespace qmt {
namespace {

// A valid code as it is; a known wrong code as its fix (noted in Fixes.txt); else empty
// (noted in InvalidAircraftCodes.txt).
std::string lf_checkedModel(const std::string& CANDIDATE, const std::filesystem::path& PATH)
{
    if (gf_isValidModel(CANDIDATE))
        return CANDIDATE;
    std::string fixed = lf_modelFix(CANDIDATE);
    if (!fixed.empty()) {
        lf_liveryScanLog(fmt::format("Model fix: {} found in {} changed into {}", CANDIDATE, PATH.string(), fixed));
        return fixed;
    }
    lf_addInvalidModel(CANDIDATE, PATH);
    return {};
}

} // namespace

std::string lf_cfgModelCode(const std::filesystem::path& PATH, std::span<const std::string_view> LINES)
{
    for (const std::string_view line : LINES) {
        const std::string type = lf_readCfgKey::icaoTypeDesignator(line);
        if (!type.empty())
            return lf_checkedModel(type, PATH);
    }
    return lf_baseContainerModel(PATH, LINES);
}

std::string lf_baseContainerModel(const std::filesystem::path& PATH, std::span<const std::string_view> LINES)
{
    for (const std::string_view line : LINES) {
        const std::string type = lf_readCfgKey::baseContainer(line);
        if (!type.empty())
            return lf_checkedModel(type, PATH);
    }
    const std::string pathText = PATH.string();
    // Airliners of these makers are no AI aircraft; their files are passed over quietly.
    if (pathText.find("pmdg-aircraft-7") == std::string::npos && pathText.find("fnx-aircraft-3") == std::string::npos)
        lf_addInvalidCfgFile("Line icao_type_designator= is missing in [General] section of " + pathText);
    return {};
}

std::string lf_ivaoModelFromPath(const std::filesystem::path& PATH)
{
    // Either separator: the installation is read on the simulator's platform and on ours.
    static const std::regex mtl(R"(.+[\\/]IVAO_MTL[\\/]SimObjects[\\/]Airplanes[\\/]IVAO_(\w+)[\\/]aircraft.cfg$)",
                                std::regex::ECMAScript | std::regex::icase);
    static const std::regex csl(R"(.+[\\/]ivao_x-csl[\\/]SimObjects[\\/]Airplanes[\\/]IVAO_(\w+)[\\/]aircraft.cfg$)",
                                std::regex::ECMAScript | std::regex::icase);
    const std::string pathText = PATH.string();
    std::smatch match;
    if (!std::regex_match(pathText, match, mtl) && !std::regex_match(pathText, match, csl)) {
        lf_addInvalidModel("  ", PATH);
        return {};
    }
    return lf_checkedModel(match[1].str().substr(0, 4), PATH);
}

} // namespace qmt
