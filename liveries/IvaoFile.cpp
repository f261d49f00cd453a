// IVAO aircraft.cfg files: one model per folder IVAO_<model>, the operating airline's code in
// the title after the model code.
#include <algorithm>
#include <optional>
#include <system_error>

#include <fmt/format.h>

#include "core/Files.h"
#include "core/Log.h"
#include "core/RefData.h"
#include "core/Text.h"
#include "liveries/CfgReaders.h"
#include "liveries/LiveryScan.h"
#include "liveries/Regcodes.h"

namespace qmt {
namespace {

// Folders whose titles carry a "W" after the model code.
constexpr std::string_view SPECIAL_MODEL_FOLDERS[] = {"IVAO_B738WLfa", "IVAO_B739WLfa", "IVAO_A320wCFM",
                                                      "IVAO_A320wIAE", "IVAO_A319fIAEw"};

constexpr bool lf_isWordChar(char C)
{
    return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '_';
}

struct IvaoSectionState {
    std::string title;
    std::string parkingTypes;
    std::string regcode;
    std::string texture;
    bool abandoned = false;
};

// No cut at ';' here.
std::string lf_regcodeOfIvaoAtcId(std::string_view VALUE, const std::string& TITLE)
{
    std::string regcode;
    if (!lf_atcIdRegcode(VALUE, regcode))
        lf_addIncompleteSection(fmt::format("invalid atc_id={} in {}", VALUE, TITLE));
    return regcode;
}

// Offers one line to the keys; false when the section ends here.
bool lf_readIvaoLine(std::string_view LINE, IvaoSectionState& S, const std::string& FOLDER_TEXT,
                     const std::string& HEADER)
{
    std::string value;
    if (S.title.empty()) {
        if (lf_readCfgKey::title(LINE, value)) {
            std::string trimmed = gf_trim(value);
            if (trimmed.size() < value.size())
                gf_logLine("removed spaces around title '{}' --> '{}'", value, trimmed);
            S.title = std::move(trimmed);
            return true;
        }
    } else if (lf_readCfgKey::title(LINE, value)) {
        lf_addIncompleteSection(FOLDER_TEXT + " " + HEADER + " has more than one title key");
        S.abandoned = true;
        return false;
    }

    switch (lf_readOnceKeys(LINE, S.parkingTypes, S.regcode, &lf_regcodeOfIvaoAtcId, S.title, FOLDER_TEXT, HEADER)) {
    case OnceKey::taken:
        return true;
    case OnceKey::second:
        S.abandoned = true;
        return false;
    case OnceKey::none:
        break;
    }

    if (S.texture.empty())
        lf_readCfgKey::texture(LINE, S.texture);
    return true;
}

} // namespace

bool lf_ivaoTitleAirline(std::string_view TITLE, std::string_view MODEL, bool SPECIAL, std::string& AIRLINE)
{
    std::size_t pos = 0;
    if (!lf_takeNoCase(TITLE, pos, MODEL) || (SPECIAL && !lf_takeNoCase(TITLE, pos, "W")))
        return false;
    lf_skipSpace(TITLE, pos);
    if (TITLE.size() - pos < 3 || !std::all_of(TITLE.begin() + static_cast<std::ptrdiff_t>(pos),
                                               TITLE.begin() + static_cast<std::ptrdiff_t>(pos + 3), lf_isWordChar))
        return false;
    // The rest is ".*$": no line break in it.
    if (TITLE.find_first_of("\r\n", pos + 3) != std::string_view::npos)
        return false;
    AIRLINE.assign(TITLE.substr(pos, 3));
    return true;
}

namespace {

// The livery of one section before its title is claimed (it may be incomplete: a registration
// record without model), nothing when the section gives none; HEADER is set to the section's
// header line.
std::optional<ScannedLivery> lf_ivaoSectionLivery(int32_t FOLDER_RANK, CfgLines& SECTION, const std::string& MODEL,
                                                  const std::filesystem::path& PATH,
                                                  const std::filesystem::path& FOLDER, const LiveryScanSnapshot& SCAN,
                                                  std::string& HEADER)
{
    HEADER.assign(SECTION.front());
    const std::string& header = HEADER;
    const std::string folderText = FOLDER.string();
    const bool special = std::any_of(std::begin(SPECIAL_MODEL_FOLDERS), std::end(SPECIAL_MODEL_FOLDERS),
                                     [&](std::string_view NAME) { return folderText.find(NAME) != std::string::npos; });
    lf_trimTrailingLines(SECTION);

    IvaoSectionState s;
    for (const std::string_view line : SECTION)
        if (!lf_readIvaoLine(line, s, folderText, header))
            break;
    if (s.abandoned)
        return {};

    const std::filesystem::path textureFolder = FOLDER / ("texture." + s.texture);
    std::error_code error;
    const bool isFolder = std::filesystem::is_directory(textureFolder, error);
    if (error && error != std::errc::no_such_file_or_directory && error != std::errc::not_a_directory)
        throw std::filesystem::filesystem_error("status", textureFolder, error);
    if (!isFolder) {
        lf_addIncompleteSection(textureFolder.string() + " " + header + " does not exist");
        return {};
    }
    if (s.title.empty()) {
        lf_addIncompleteSection(folderText + " " + header + " misses title");
        return {};
    }
    if (SCAN.dontUseTitles.contains(s.title)) {
        lf_addSkippedSection(PATH.string() + " " + header + " title '" + s.title + "' is a don't-use title");
        return {};
    }
    if (lf_titleTooLong(s.title)) {
        lf_addIncompleteSection(fmt::format("{} {} title is longer than {} characters", PATH.string(), header,
                                            kMaxTitleCharacters));
        return {};
    }

    std::string airline;
    if (lf_ivaoTitleAirline(s.title, MODEL, special, airline)) {
        if (!gf_isIcaoAirline(airline)) {
            lf_addInvalidAirline(airline, PATH, header);
            return {};
        }
        if (airline == "ZZZ")
            s.regcode.clear();
        const AcKind kind{gf_airlineId(airline), 0, gf_modelId(MODEL), 0, 0};
        return ScannedLivery{std::move(s.title), std::move(s.regcode), kind, static_cast<int16_t>(FOLDER_RANK)};
    }
    if (s.regcode.empty()) {
        lf_addIncompleteSection(folderText + " " + header + " misses airlinecode in title: " + s.title +
                                ", and no regcode");
        return {};
    }
    if (const std::optional<AcKind> kind = gf_findRegRecord(s.regcode))
        return ScannedLivery{std::move(s.title), std::move(s.regcode), *kind, static_cast<int16_t>(FOLDER_RANK)};
    lf_addIncompleteSection(folderText + " " + header + " misses airlinecode in title: " + s.title +
                            ", and regcode unknown " + s.regcode);
    return {};
}

// The liveries of the sections, their titles not claimed yet.
UnclaimedLiveries lf_ivaoSections(int32_t FOLDER_RANK, std::span<const std::string_view> LINES,
                                  const std::string& MODEL, const std::filesystem::path& PATH,
                                  const std::filesystem::path& FOLDER, const LiveryScanSnapshot& SCAN)
{
    UnclaimedLiveries result;
    result.folderText = FOLDER.string();
    result.ivao = true;
    // Here any '[' ends a section.
    lf_forEachFltsimSection(LINES, true, [&](CfgLines& SECTION) {
        std::string header;
        if (std::optional<ScannedLivery> livery =
                lf_ivaoSectionLivery(FOLDER_RANK, SECTION, MODEL, PATH, FOLDER, SCAN, header)) {
            result.liveries.push_back(std::move(*livery));
            result.headers.push_back(std::move(header));
        }
    });
    return result;
}

} // namespace

ScannedLivery lf_procesIvaoFltSimSection(int32_t FOLDER_RANK, CfgLines& SECTION, const std::string& MODEL,
                                         const std::filesystem::path& PATH, const std::filesystem::path& FOLDER,
                                         const LiveryScanSnapshot& SCAN)
{
    std::string header;
    const std::optional<ScannedLivery> found =
        lf_ivaoSectionLivery(FOLDER_RANK, SECTION, MODEL, PATH, FOLDER, SCAN, header);
    if (!found)
        return {};
    ScannedLivery livery;
    lf_copyScannedLivery(livery, lf_newScannedLivery(FOLDER_RANK, found->kind, found->title, found->regcode));
    if (lf_isIncompleteLivery(livery))
        lf_addIncompleteSection(FOLDER.string() + " " + header + " title already exists: " + found->title);
    return livery;
}

LiveryList lf_processIvaoFltSimSections(int32_t FOLDER_RANK, std::span<const std::string_view> LINES,
                                        const std::string& MODEL, const std::filesystem::path& PATH,
                                        const std::filesystem::path& FOLDER, const LiveryScanSnapshot& SCAN)
{
    LiveryList result;
    // Here any '[' ends a section.
    lf_forEachFltsimSection(LINES, true, [&](CfgLines& SECTION) {
        ScannedLivery livery = lf_procesIvaoFltSimSection(FOLDER_RANK, SECTION, MODEL, PATH, FOLDER, SCAN);
        if (!lf_isIncompleteLivery(livery))
            result.push_back(std::move(livery));
    });
    return result;
}

LiveryList lf_searchLiveriesinIVAOFile(int32_t FOLDER_RANK, const std::filesystem::path& PATH,
                                       const LiveryScanSnapshot& SCAN, std::string* READ)
{
    return lf_claimLiveries(lf_readLiveriesinIVAOFile(FOLDER_RANK, PATH, SCAN, READ));
}

UnclaimedLiveries lf_readLiveriesinIVAOFile(int32_t FOLDER_RANK, const std::filesystem::path& PATH,
                                            const LiveryScanSnapshot& SCAN, std::string* READ)
{
    const std::string logPath = gf_utf16ToUtf8(PATH);
    try {
        const std::string model = lf_ivaoModelFromPath(PATH);
        if (model.empty())
            return {};
        CfgFileBuffers buffers;
        const CfgLines& lines = buffers.lines;
        if (!lf_readCfgLines(PATH, buffers.text, buffers.lines, true, READ))
            return {};
        if (!lf_fltsimNumbers(lines, lf_bracketLines(buffers.text, lines), PATH))
            return {};
        return lf_ivaoSections(FOLDER_RANK, lines, model, PATH, PATH.parent_path(), SCAN);
    } catch (const std::exception& e) {
        gf_logLine("! Exception in lf_searchLiveriesinIVAOFile {}: {}", logPath, e.what());
        throw;
    } catch (...) {
        gf_logLine("! Unknown exception in lf_searchLiveriesinIVAOFile {}", logPath);
        throw;
    }
}

} // namespace qmt
