// One ordinary aircraft.cfg: its [fltsim.N] sections become liveries.
#include <algorithm>
#include <charconv>
#include <functional>
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

constexpr int32_t MAX_SECTION_NUMBER = 10000;
constexpr std::size_t MAX_REGCODE_LENGTH = 12;
// Far above any real aircraft.cfg; a larger file is no livery file and is not read whole.
constexpr std::uintmax_t MAX_CFG_BYTES = 64u << 20;
// Attempts to take the title lock before a worker sleeps on it.
constexpr int TITLE_LOCK_TRIES = 200;

// The livery of one section before its title is claimed, and the section's header.
struct SectionLivery {
    ScannedLivery livery;
    std::string header;
};

// The livery of one section (its header first, shortened in place), nothing when it has none;
// its title is not claimed yet.
std::optional<SectionLivery> lf_sectionLivery(int32_t FOLDER_RANK, std::vector<std::string>& SECTION,
                                              const std::string& MODEL, const std::filesystem::path& PATH,
                                              const std::filesystem::path& FOLDER);
// Keeps the livery whose title was claimed; for one that was not, the "already exists" line.
void lf_keepClaimed(SectionLivery& CANDIDATE, bool CLAIMED, const std::filesystem::path& FOLDER, LiveryList& RESULT);
// Claims each title for this scan, in order, under one lock: whether each was new.
std::vector<bool> lf_claimTitles(const std::vector<const std::string*>& TITLES);

bool lf_contains(std::string_view TEXT, std::string_view PART)
{
    return TEXT.find(PART) != std::string_view::npos;
}

// Working state of one section.
struct SectionState {
    std::string title;
    std::string airline;
    std::string parkingTypes;
    std::string regcode;
    bool abandoned = false;
};

// The regcode of an atc_id value: one registration of at most 12 characters (the value is cut
// at ';'); several give none; a bad one is reported and gives none.
std::string lf_regcodeOfAtcId(const std::string& VALUE, const std::string& TITLE)
{
    const std::string_view rest = std::string_view(VALUE).substr(0, VALUE.find(';'));
    std::string regcode;
    if (!lf_atcIdRegcode(rest, regcode))
        lf_addIncompleteSection(fmt::format("invalid atc_id={} in: {}", rest, TITLE));
    return regcode;
}

// Offers one line to the keys; false when the section ends here.
bool lf_readSectionLine(const std::string& LINE, SectionState& S, const std::filesystem::path& PATH,
                        const std::string& FOLDER_TEXT, const std::string& HEADER)
{
    // A commented-out key is no second key.
    const bool comment = lf_isCommentLine(LINE);
    std::string value;
    if (S.title.empty()) {
        if (lf_readCfgKey::title(LINE, value)) {
            S.title = gf_trim(value);
            // Airliners of these makers are no AI aircraft.
            if (lf_contains(S.title, "FenixA320") || lf_contains(S.title, "PMDG 737")) {
                S.abandoned = true;
                return false;
            }
            return true;
        }
    } else if (lf_readCfgKey::title(LINE, value)) {
        lf_addIncompleteSection(fmt::format("{} {} has more than one title key", FOLDER_TEXT, HEADER));
        S.abandoned = true;
        return false;
    }

    if (S.airline.empty()) {
        if (lf_readCfgKey::icaoAirline(LINE, value)) {
            gf_normaliseList(value);
            if (value.size() == 4 && (value[3] == 'X' || value[3] == 'C'))
                value.resize(3);
            if (!value.empty() && gf_isIcaoAirline(value)) {
                S.airline = value;
            } else if (value == "RFO") {
                S.abandoned = true;
                return false;
            } else {
                lf_addInvalidAirline(value, PATH, HEADER);
            }
            return true;
        }
    } else if (!comment && lf_contains(LINE, "icao_airline")) {
        S.abandoned = true;
        return false;
    }

    if (S.parkingTypes.empty()) {
        if (lf_readCfgKey::atcParkingTypes(LINE, value)) {
            gf_normaliseList(value);
            S.parkingTypes = gf_upper(value);
            return true;
        }
    } else if (!comment && lf_hasAtcParkingTypesLine(LINE)) {
        lf_addIncompleteSection(fmt::format("{} {} has more than one atc_parking_types key", FOLDER_TEXT, HEADER));
        S.abandoned = true;
        return false;
    }

    if (S.regcode.empty()) {
        if (lf_readCfgKey::atcId(LINE, value))
            S.regcode = lf_regcodeOfAtcId(value, S.title);
    } else if (!comment && lf_hasAtcIdLine(LINE)) {
        lf_addIncompleteSection(fmt::format("{}, {}, has more than one atc_id key", FOLDER_TEXT, HEADER));
        S.abandoned = true;
        return false;
    }
    return true;
}

// The kind of a registration record with an airline, when the regcode has one.
std::optional<AcKind> lf_recordKind(const std::string& REGCODE)
{
    if (REGCODE.empty())
        return std::nullopt;
    const std::optional<AcKind> kind = gf_findRegRecord(REGCODE);
    if (!kind || kind->airlineId == 0)
        return std::nullopt;
    return kind;
}

bool lf_isDontUseTitle(const std::string& TITLE)
{
    return std::find(g_dontUseTitles.begin(), g_dontUseTitles.end(), TITLE) != g_dontUseTitles.end();
}

} // namespace

bool lf_atcIdRegcode(std::string_view VALUE, std::string& REGCODE)
{
    REGCODE.clear();
    const std::vector<std::string> items = gf_splitComma(VALUE);
    const bool invalid = items.empty() || std::any_of(items.begin(), items.end(), [](const std::string& ITEM) {
                             return ITEM.empty() || ITEM.size() > MAX_REGCODE_LENGTH || lf_contains(ITEM, "*");
                         });
    if (invalid)
        return false;
    if (items.size() == 1)
        REGCODE = items.front();
    return true;
}

void lf_trimTrailingLines(std::vector<std::string>& SECTION)
{
    while (SECTION.size() > 1 && (SECTION.back().empty() || SECTION.back().starts_with("//")))
        SECTION.pop_back();
}

void lf_forEachFltsimSection(const std::vector<std::string>& LINES, bool BRACKET_ANYWHERE,
                             const std::function<void(std::vector<std::string>&)>& PROCESS)
{
    std::vector<std::string> section;
    section.reserve(48);
    bool inSection = false;
    auto flush = [&] {
        if (!section.empty())
            PROCESS(section);
        section.clear();
    };
    for (const std::string& line : LINES) {
        if (!lf_readFltsimHeader(line).empty()) {
            flush();
            inSection = true;
            section.push_back(line);
        } else if (line.empty()) {
            if (inSection)
                section.push_back(line);
        } else if (BRACKET_ANYWHERE ? line.find('[') != std::string::npos : line.find('[') < 6) {
            // Another section ([General], [VIEWS] ...) begins: its lines are no livery keys.
            if (inSection)
                flush();
            inSection = false;
        } else if (inSection) {
            section.push_back(line);
        }
    }
    flush();
}

bool lf_readCfgLines(const std::filesystem::path& PATH, std::vector<std::string>& LINES, bool WARN_NO_ENCODING)
{
    const std::string logPath = gf_utf16ToUtf8(PATH);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(PATH, error);
    if (!error && size > MAX_CFG_BYTES) {
        lf_addInvalidCfgFile(fmt::format("{} is larger than {} MiB", PATH.string(), MAX_CFG_BYTES >> 20));
        return false;
    }
    const FileEncoding encoding = gf_detectFileEncoding(PATH);
    if (encoding == FileEncoding::none_found) {
        if (WARN_NO_ENCODING)
            gf_logWarning("! No text encoding detected for {}", logPath);
        else
            gf_logLine("! No text encoding detected for {}", logPath);
        return false;
    }
    LINES.reserve(4096);
    if (!gf_readTextFile(encoding, PATH, LINES)) {
        gf_logLine("! Failed reading {}", logPath);
        return false;
    }
    return true;
}

namespace {

std::vector<bool> lf_claimTitles(const std::vector<const std::string*>& TITLES)
{
    // The set's nodes are made before the lock is taken and refused ones are freed after it:
    // all scan workers claim titles, and an allocation inside the lock makes them queue.
    using TitleSet = decltype(g_scannedTitles);
    std::vector<TitleSet::node_type> nodes;
    nodes.reserve(TITLES.size());
    for (const std::string* title : TITLES) {
        TitleSet made;
        made.insert(*title);
        nodes.push_back(made.extract(made.begin()));
    }
    std::vector<bool> claimed(TITLES.size(), false);
    {
        // The lock is held for tree searches only: a worker that finds it taken tries again a
        // few times before it sleeps, which saves the sleep and the wake-up in the kernel.
        std::unique_lock lock(g_scannedTitlesMutex, std::defer_lock);
        for (int tries = 0; tries < TITLE_LOCK_TRIES && !lock.try_lock(); ++tries) {
        }
        if (!lock.owns_lock())
            lock.lock();
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            TitleSet::insert_return_type claim = g_scannedTitles.insert(std::move(nodes[i]));
            claimed[i] = claim.inserted;
            nodes[i] = std::move(claim.node); // a refused node, freed after the lock
        }
    }
    return claimed;
}

} // namespace

ScannedLivery lf_newScannedLivery(int32_t FOLDER_RANK, const AcKind& KIND, const std::string& TITLE,
                                  const std::string& REGCODE)
{
    if (!lf_claimTitles({&TITLE}).front())
        return {};
    return ScannedLivery{TITLE, REGCODE, KIND, static_cast<int16_t>(FOLDER_RANK)};
}

void lf_copyScannedLivery(ScannedLivery& TO, const ScannedLivery& FROM)
{
    TO.title = FROM.title;
    TO.regcode = FROM.regcode;
    TO.kind = FROM.kind;
    TO.folderRank = FROM.folderRank;
}

bool lf_fltsimNumbers(const std::vector<std::string>& LINES, const std::filesystem::path& PATH)
{
    std::vector<int32_t> numbers;
    for (const std::string& line : LINES) {
        const std::string text = lf_readFltsimHeader(line);
        if (text.empty())
            continue;
        int32_t number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error != std::errc() || end != text.data() + text.size()) {
            gf_logWarning("fltsim num {} incorrect", line);
            return false;
        }
        numbers.push_back(number);
    }
    if (numbers.empty()) {
        lf_addNoFltsimFile(PATH.string());
        return true;
    }
    if (*std::max_element(numbers.begin(), numbers.end()) > MAX_SECTION_NUMBER) {
        lf_addInvalidCfgFile(fmt::format("{} contains a [fltsim.x] section with a number < 0 or > {}", PATH.string(),
                                         MAX_SECTION_NUMBER));
        return false;
    }
    return true;
}

LiveryList lf_processFltSimSections(int32_t FOLDER_RANK, const std::vector<std::string>& LINES,
                                    const std::string& MODEL, const std::filesystem::path& PATH,
                                    const std::filesystem::path& FOLDER)
{
    // The titles of the whole file are claimed at once, in section order: one lock per file
    // instead of one per section.
    std::vector<SectionLivery> candidates;
    lf_forEachFltsimSection(LINES, false, [&](std::vector<std::string>& SECTION) {
        if (std::optional<SectionLivery> candidate = lf_sectionLivery(FOLDER_RANK, SECTION, MODEL, PATH, FOLDER))
            candidates.push_back(std::move(*candidate));
    });
    std::vector<const std::string*> titles;
    titles.reserve(candidates.size());
    for (const SectionLivery& candidate : candidates)
        titles.push_back(&candidate.livery.title);
    const std::vector<bool> claimed = lf_claimTitles(titles);
    LiveryList result;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        lf_keepClaimed(candidates[i], claimed[i], FOLDER, result);
    return result;
}

LiveryList lf_procesFltSimSection(int32_t FOLDER_RANK, std::vector<std::string>& SECTION, const std::string& MODEL,
                                  const std::filesystem::path& PATH, const std::filesystem::path& FOLDER)
{
    LiveryList result;
    if (std::optional<SectionLivery> candidate = lf_sectionLivery(FOLDER_RANK, SECTION, MODEL, PATH, FOLDER))
        lf_keepClaimed(*candidate, lf_claimTitles({&candidate->livery.title}).front(), FOLDER, result);
    return result;
}

namespace {

std::optional<SectionLivery> lf_sectionLivery(int32_t FOLDER_RANK, std::vector<std::string>& SECTION,
                                              const std::string& MODEL, const std::filesystem::path& PATH,
                                              const std::filesystem::path& FOLDER)
{
    const std::string header = SECTION.front();
    const std::string pathText = PATH.string();
    const std::string folderText = FOLDER.string();
    try {
        lf_trimTrailingLines(SECTION);
        SectionState s;
        for (const std::string& line : SECTION)
            if (!lf_readSectionLine(line, s, PATH, folderText, header))
                break;

        if (s.airline.empty())
            lf_addIncompleteSection(fmt::format("{} {} icao_airline is missing, or it has invalid info ", pathText, header));
        if (s.abandoned)
            return {};
        if (s.title.empty()) {
            lf_addIncompleteSection(fmt::format("{} {} misses title", folderText, header));
            return {};
        }
        if (lf_contains(s.title, "Fictional"))
            return {};
        if (s.title.ends_with("-STUB"))
            s.airline = "ZZZ";
        if (lf_isDontUseTitle(s.title))
            return {};
        if (s.airline == "ZZZ")
            s.regcode.clear();

        std::optional<AcKind> recordKind = lf_recordKind(s.regcode);
        if (s.airline.empty()) {
            const bool heavy = gf_modelCodeCategory(MODEL) == AcCategory::Heavy;
            if (!s.regcode.empty()) {
                if (!recordKind && heavy) {
                    lf_addIncompleteSection(
                        fmt::format("'{}' '{}' has no airline and regcode not in dbase", folderText, header));
                    return {};
                }
                if (!recordKind)
                    s.airline = "PVT";
            } else {
                if (heavy) {
                    lf_addIncompleteSection(fmt::format("'{}' '{}' has no airline and no regcode info", folderText, header));
                    return {};
                }
                s.airline = "PVT";
                if (std::optional<std::string> registration = gf_findRecordInText(s.title)) {
                    s.regcode = std::move(*registration);
                    recordKind = lf_recordKind(s.regcode);
                }
            }
        }

        AcKind kind;
        if (recordKind) {
            kind = *recordKind;
        } else {
            kind.airlineId = gf_airlineId(s.airline);
            kind.modelId = gf_modelId(MODEL);
            kind.cargo = lf_contains(s.parkingTypes, "CARGO") && !lf_contains(s.parkingTypes, "GATE") ? 1 : 0;
        }
        return SectionLivery{ScannedLivery{s.title, s.regcode, kind, static_cast<int16_t>(FOLDER_RANK)}, header};
    } catch (const std::exception& e) {
        gf_logLine("Exception in lf_procesFltSimSection: {}, file: {}", e.what(), gf_utf16ToUtf8(PATH));
        throw;
    }
}

void lf_keepClaimed(SectionLivery& CANDIDATE, bool CLAIMED, const std::filesystem::path& FOLDER, LiveryList& RESULT)
{
    if (CLAIMED)
        RESULT.push_back(std::move(CANDIDATE.livery));
    else
        lf_addIncompleteSection(
            fmt::format("{} {} title '{}' already exists", FOLDER.string(), CANDIDATE.header, CANDIDATE.livery.title));
}

} // namespace

LiveryList lf_searchLiveriesinFile(int32_t FOLDER_RANK, const std::filesystem::path& PATH)
{
    const std::string logPath = gf_utf16ToUtf8(PATH);
    try {
        std::error_code error;
        if (!std::filesystem::exists(PATH, error))
            return {};
        std::vector<std::string> lines;
        if (!lf_readCfgLines(PATH, lines, false))
            return {};
        if (!lf_fltsimNumbers(lines, PATH))
            return {};
        const std::string model = lf_cfgModelCode(PATH, lines);
        if (model.empty())
            return {};
        return lf_processFltSimSections(FOLDER_RANK, lines, model, PATH, PATH.parent_path());
    } catch (const std::exception& e) {
        gf_logLine("! Exception in lf_searchLiveriesinFile {}: {}", logPath, e.what());
        throw;
    }
}

} // namespace qmt
