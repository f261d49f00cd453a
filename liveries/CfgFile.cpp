// One ordinary aircraft.cfg: its [fltsim.N] sections become liveries.
#include <algorithm>
#include <charconv>
#include <functional>
#include <optional>
#include <system_error>
#include <type_traits>

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

constexpr int32_t kMaxSectionNumber = 10000;
constexpr std::size_t kMaxRegcodeLength = 12;
// Attempts to take the title lock before a worker sleeps on it.
constexpr int kTitleLockTries = 200;

bool lf_contains(std::string_view TEXT, std::string_view PART)
{
    return TEXT.find(PART) != std::string_view::npos;
}

// What every section of one file shares; the path texts are made once per file.
struct CfgFile {
    int32_t rank;
    const std::filesystem::path& path;
    std::string pathText;
    std::string folderText;
    const std::string& model;
    const LiveryScanSnapshot& scan;
};

// The livery of one section before its title is claimed, and the section's header.
struct SectionLivery {
    ScannedLivery livery;
    std::string header;
};

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
std::string lf_regcodeOfAtcId(std::string_view VALUE, const std::string& TITLE)
{
    const std::string_view rest = VALUE.substr(0, VALUE.find(';'));
    std::string regcode;
    if (!lf_atcIdRegcode(rest, regcode))
        lf_addIncompleteSection(fmt::format("invalid atc_id={} in: {}", rest, TITLE));
    return regcode;
}

// A second key of one kind: the section is reported and given up.
bool lf_secondKey(SectionState& S, std::string TEXT)
{
    lf_addIncompleteSection(TEXT);
    S.abandoned = true;
    return false;
}

bool lf_readTitleLine(std::string_view LINE, SectionState& S, const CfgFile& FILE, std::string_view HEADER,
                      bool& TAKEN)
{
    const std::string_view value = lf_readCfgKey::titleText(LINE);
    TAKEN = !value.empty();
    if (!TAKEN)
        return true;
    if (!S.title.empty())
        return lf_secondKey(S, fmt::format("{} {} has more than one title key", FILE.folderText, HEADER));
    S.title = gf_trimView(value);
    // Airliners of these makers are no AI aircraft.
    if (lf_contains(S.title, "FenixA320") || lf_contains(S.title, "PMDG 737")) {
        lf_addSkippedSection(fmt::format("{} {} title '{}' is an airliner for pilots, not for AI traffic",
                                         FILE.pathText, HEADER, S.title));
        S.abandoned = true;
        return false;
    }
    return true;
}

// The airline code of an icao_airline line: its value normalised, a fourth letter X or C (the
// cargo or extra-fleet mark some packages add) cut off. False when the line is no such line.
bool lf_airlineValue(std::string_view LINE, std::string& VALUE)
{
    if (!lf_readCfgKey::icaoAirline(LINE, VALUE))
        return false;
    gf_normaliseList(VALUE);
    if (VALUE.size() == 4 && (VALUE[3] == 'X' || VALUE[3] == 'C'))
        VALUE.resize(3);
    return true;
}

bool lf_readAirlineLine(std::string_view LINE, const KeyWords& WORDS, SectionState& S, const CfgFile& FILE,
                        const std::string& HEADER, bool& TAKEN)
{
    TAKEN = false;
    if (!S.airline.empty()) {
        if (!WORDS.icaoAirline || lf_isCommentLine(LINE))
            return true;
        // The same airline written twice says nothing new.
        std::string again;
        TAKEN = lf_airlineValue(LINE, again) && again == S.airline;
        if (TAKEN)
            return true;
        return lf_secondKey(S, fmt::format("{} {} has more than one icao_airline key", FILE.folderText, HEADER));
    }
    std::string value;
    TAKEN = lf_airlineValue(LINE, value);
    if (!TAKEN)
        return true;
    if (!value.empty() && gf_isIcaoAirline(value)) {
        S.airline = value;
    } else if (value == "RFO") {
        lf_addSkippedSection(fmt::format("{} {} airline RFO is not used", FILE.pathText, HEADER));
        S.abandoned = true;
        return false;
    } else {
        lf_addInvalidAirline(value, FILE.path, HEADER);
    }
    return true;
}

// Offers one line to the keys; false when the section ends here.
bool lf_readSectionLine(std::string_view LINE, SectionState& S, const CfgFile& FILE, const std::string& HEADER)
{
    bool taken = false;
    if (!lf_readTitleLine(LINE, S, FILE, HEADER, taken) || taken)
        return !S.abandoned;
    // The words of second keys are looked for once per line, and only once a key was taken.
    const bool anyTaken = !S.airline.empty() || !S.parkingTypes.empty() || !S.regcode.empty();
    const KeyWords words = anyTaken ? lf_keyWords(LINE) : KeyWords{};
    if (!lf_readAirlineLine(LINE, words, S, FILE, HEADER, taken) || taken)
        return !S.abandoned;

    if (lf_readOnceKeys(LINE, words, S.parkingTypes, S.regcode, &lf_regcodeOfAtcId, S.title, FILE.folderText,
                        HEADER) == OnceKey::second) {
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

// The airline of a section that names none: private, when the model is no Heavy one (a found
// registration record decides instead). False when the section gives no livery (reported).
bool lf_withoutAirline(SectionState& S, std::optional<AcKind>& RECORD_KIND, const CfgFile& FILE,
                       const std::string& HEADER)
{
    const bool heavy = gf_modelCodeCategory(FILE.model) == AcCategory::Heavy;
    if (!S.regcode.empty()) {
        if (RECORD_KIND)
            return true;
        if (heavy) {
            lf_addIncompleteSection(fmt::format("'{}' '{}' has no airline and regcode not in dbase", FILE.folderText, HEADER));
            return false;
        }
        S.airline = "PVT";
        return true;
    }
    if (heavy) {
        lf_addIncompleteSection(fmt::format("'{}' '{}' has no airline and no regcode info", FILE.folderText, HEADER));
        return false;
    }
    S.airline = "PVT";
    if (std::optional<std::string> registration = gf_findRecordInText(S.title)) {
        S.regcode = std::move(*registration);
        RECORD_KIND = lf_recordKind(S.regcode);
    }
    return true;
}

// Whether a section with a title is passed over on purpose (reported as skipped).
bool lf_skippedTitle(SectionState& S, const CfgFile& FILE, const std::string& HEADER)
{
    if (lf_contains(S.title, "Fictional")) {
        lf_addSkippedSection(fmt::format("{} {} title '{}' is a fictional livery", FILE.pathText, HEADER, S.title));
        return true;
    }
    if (FILE.scan.dontUseTitles.contains(S.title)) {
        lf_addSkippedSection(fmt::format("{} {} title '{}' is a don't-use title", FILE.pathText, HEADER, S.title));
        return true;
    }
    if (lf_titleTooLong(S.title)) {
        lf_addIncompleteSection(fmt::format("{} {} title is longer than {} characters", FILE.pathText, HEADER,
                                            kMaxTitleCharacters));
        return true;
    }
    return false;
}

// The livery of one section (its header first, shortened in place), nothing when it has none;
// its title is not claimed yet.
std::optional<SectionLivery> lf_sectionLivery(CfgLines& SECTION, const CfgFile& FILE)
{
    std::string header(SECTION.front());
    lf_trimTrailingLines(SECTION);
    SectionState s;
    for (const std::string_view line : SECTION)
        if (!lf_readSectionLine(line, s, FILE, header))
            break;

    if (s.airline.empty())
        lf_addIncompleteSection(fmt::format("{} {} icao_airline is missing, or it has invalid info ", FILE.pathText, header));
    if (s.abandoned)
        return {};
    if (s.title.empty()) {
        lf_addIncompleteSection(fmt::format("{} {} misses title", FILE.folderText, header));
        return {};
    }
    if (s.title.ends_with("-STUB"))
        s.airline = "ZZZ";
    if (lf_skippedTitle(s, FILE, header))
        return {};
    if (s.airline == "ZZZ")
        s.regcode.clear();

    std::optional<AcKind> recordKind = lf_recordKind(s.regcode);
    if (s.airline.empty() && !lf_withoutAirline(s, recordKind, FILE, header))
        return {};

    AcKind kind;
    if (recordKind) {
        kind = *recordKind;
    } else {
        kind.airlineId = gf_airlineId(s.airline);
        kind.modelId = gf_modelId(FILE.model);
        kind.cargo = lf_contains(s.parkingTypes, "CARGO") && !lf_contains(s.parkingTypes, "GATE") ? 1 : 0;
    }
    ScannedLivery livery{std::move(s.title), std::move(s.regcode), kind, static_cast<int16_t>(FILE.rank)};
    if (lf_isIncompleteLivery(livery)) {
        // A registration record without model (or airline): such a livery could never be
        // matched, and it must not take the title from a complete one.
        lf_addIncompleteSection(fmt::format("{} {} title '{}' has no airline or no model code", FILE.folderText,
                                            header, livery.title));
        return {};
    }
    return SectionLivery{std::move(livery), std::move(header)};
}

// Claims each title for this scan, in order, under one lock: whether each was new.
std::vector<bool> lf_claimTitles(const std::vector<const std::string*>& TITLES)
{
    // The set's nodes are made before the lock is taken and refused ones are freed after it: the
    // walk claims on its own thread, but readers called directly may claim from several threads,
    // and an allocation inside the lock makes them queue.
    // A title met again in the same file is refused without a node: its first section claims it
    // or finds it taken.
    using TitleSet = std::remove_cvref_t<decltype(g_scannedTitles)>;
    TitleSet made;
    made.reserve(TITLES.size()); // no rehash: the iterators stay valid
    std::vector<TitleSet::iterator> firsts(TITLES.size(), made.end());
    for (std::size_t i = 0; i < TITLES.size(); ++i) {
        const auto [it, inserted] = made.insert(*TITLES[i]);
        if (inserted)
            firsts[i] = it;
    }
    std::vector<TitleSet::node_type> nodes(TITLES.size());
    for (std::size_t i = 0; i < TITLES.size(); ++i)
        if (firsts[i] != made.end())
            nodes[i] = made.extract(firsts[i]);
    std::vector<bool> claimed(TITLES.size(), false);
    {
        // The lock is held for tree searches only: a worker that finds it taken tries again a
        // few times before it sleeps, which saves the sleep and the wake-up in the kernel.
        std::unique_lock lock(g_scannedTitlesMutex, std::defer_lock);
        for (int tries = 0; tries < kTitleLockTries && !lock.try_lock(); ++tries) {
        }
        if (!lock.owns_lock())
            lock.lock();
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            if (nodes[i].empty())
                continue;
            TitleSet::insert_return_type claim = g_scannedTitles.insert(std::move(nodes[i]));
            claimed[i] = claim.inserted;
            nodes[i] = std::move(claim.node); // a refused node, freed after the lock
        }
    }
    return claimed;
}

// The header number of each section header line, in file order; false (logged and listed) for
// a number that is no 32-bit number.
bool lf_sectionNumbers(std::span<const std::string_view> LINES, const BracketLines& BRACKETS,
                       const std::filesystem::path& PATH, std::vector<int32_t>& NUMBERS)
{
    for (const std::uint32_t index : BRACKETS) {
        const std::string_view line = LINES[index];
        const std::string text = lf_readFltsimHeader(line);
        if (text.empty())
            continue;
        int32_t number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error != std::errc() || end != text.data() + text.size()) {
            gf_logWarning("fltsim num {} incorrect", line);
            lf_addInvalidCfgFile(fmt::format("{} has a [fltsim.x] section whose number is too large: {}", PATH.string(), line));
            return false;
        }
        NUMBERS.push_back(number);
    }
    return true;
}

// The liveries of the sections of one file, in section order, their titles not claimed yet.
UnclaimedLiveries lf_fileLiveries(const CfgFile& FILE, std::span<const std::string_view> LINES,
                                  const BracketLines& BRACKETS)
{
    std::vector<SectionLivery> candidates;
    lf_forEachFltsimSection(LINES, BRACKETS, false, [&](CfgLines& SECTION) {
        try {
            if (std::optional<SectionLivery> candidate = lf_sectionLivery(SECTION, FILE))
                candidates.push_back(std::move(*candidate));
        } catch (const std::exception& e) {
            gf_logLine("Exception in lf_procesFltSimSection: {}, file: {}", e.what(), gf_utf16ToUtf8(FILE.path));
            throw;
        }
    });
    UnclaimedLiveries result;
    result.folderText = FILE.folderText;
    result.headers.reserve(candidates.size());
    for (SectionLivery& candidate : candidates) {
        result.liveries.push_back(std::move(candidate.livery));
        result.headers.push_back(std::move(candidate.header));
    }
    return result;
}

// The text of the file's folder, as PATH.parent_path() gives it, without parsing the path
// again: each file's task makes one.
std::string lf_folderText(const std::filesystem::path& PATH)
{
#if defined(_WIN32)
    return PATH.parent_path().string();
#else
    const std::string& text = PATH.native();
    const std::size_t slash = text.find_last_of('/');
    if (slash == std::string::npos || slash + 1 == text.size())
        return PATH.parent_path().string();
    std::size_t end = slash;
    while (end > 0 && text[end - 1] == '/')
        --end;
    return end == 0 ? std::string("/") : text.substr(0, end);
#endif
}

} // namespace

bool lf_atcIdRegcode(std::string_view VALUE, std::string& REGCODE)
{
    REGCODE.clear();
    const std::vector<std::string> items = gf_splitComma(VALUE);
    const bool invalid = items.empty() || std::any_of(items.begin(), items.end(), [](const std::string& ITEM) {
                             return ITEM.empty() || ITEM.size() > kMaxRegcodeLength || lf_contains(ITEM, "*");
                         });
    if (invalid)
        return false;
    if (items.size() == 1)
        REGCODE = items.front();
    return true;
}

bool lf_titleTooLong(std::string_view TITLE)
{
    // Characters, not bytes: every byte that does not continue a UTF-8 sequence starts one.
    const auto characters = std::count_if(TITLE.begin(), TITLE.end(),
                                          [](char C) { return (static_cast<unsigned char>(C) & 0xC0) != 0x80; });
    return static_cast<std::size_t>(characters) > kMaxTitleCharacters;
}

void lf_trimTrailingLines(CfgLines& SECTION)
{
    while (SECTION.size() > 1 && (SECTION.back().empty() || SECTION.back().starts_with("//")))
        SECTION.pop_back();
}

BracketLines lf_bracketLines(std::string_view TEXT, std::span<const std::string_view> LINES)
{
    BracketLines found;
    std::size_t index = 0;
    for (std::size_t pos = TEXT.find('['); pos != std::string_view::npos && index < LINES.size();
         pos = TEXT.find('[', pos + 1)) {
        const char* at = TEXT.data() + pos;
        while (index < LINES.size() && LINES[index].data() + LINES[index].size() <= at)
            ++index;
        if (index < LINES.size() && LINES[index].data() <= at && (found.empty() || found.back() != index))
            found.push_back(static_cast<std::uint32_t>(index));
    }
    return found;
}

BracketLines lf_bracketLines(std::span<const std::string_view> LINES)
{
    BracketLines found;
    for (std::size_t index = 0; index < LINES.size(); ++index)
        if (LINES[index].find('[') != std::string_view::npos)
            found.push_back(static_cast<std::uint32_t>(index));
    return found;
}

void lf_forEachFltsimSection(std::span<const std::string_view> LINES, bool BRACKET_ANYWHERE,
                             const std::function<void(CfgLines&)>& PROCESS)
{
    lf_forEachFltsimSection(LINES, lf_bracketLines(LINES), BRACKET_ANYWHERE, PROCESS);
}

void lf_forEachFltsimSection(std::span<const std::string_view> LINES, const BracketLines& BRACKETS,
                             bool BRACKET_ANYWHERE, const std::function<void(CfgLines&)>& PROCESS)
{
    CfgLines section;
    section.reserve(48);
    bool inSection = false;
    auto flush = [&] {
        if (!section.empty())
            PROCESS(section);
        section.clear();
    };
    auto nextBracket = BRACKETS.begin();
    for (std::size_t index = 0; index < LINES.size(); ++index) {
        const std::string_view line = LINES[index];
        std::size_t bracket = std::string_view::npos;
        if (nextBracket != BRACKETS.end() && *nextBracket == index) {
            bracket = line.find('[');
            ++nextBracket;
        }
        if (bracket != std::string_view::npos && !lf_readFltsimHeader(line).empty()) {
            flush();
            inSection = true;
            section.push_back(line);
        } else if (line.empty()) {
            if (inSection)
                section.push_back(line);
        } else if ((BRACKET_ANYWHERE ? bracket != std::string_view::npos : bracket < 6) && !lf_isCommentLine(line)) {
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

bool lf_readCfgLines(const std::filesystem::path& PATH, std::string& TEXT, CfgLines& LINES, bool WARN_NO_ENCODING,
                     std::string* READ)
{
    LINES.clear();
    TextFile file;
    if (READ != nullptr) {
        file.text.swap(*READ);
    } else {
        file.text.swap(TEXT);
        gf_readWholeTextFile(PATH, kMaxLiveryTextBytes, file);
    }
    TEXT.swap(file.text);
    switch (file.status) {
    case TextReadStatus::ok:
        // About the number of lines of a real file.
        LINES.reserve(TEXT.size() / 24 + 16);
        gf_splitTextLines(TEXT, LINES);
        return true;
    case TextReadStatus::tooLarge:
        lf_addInvalidCfgFile(fmt::format("{} is larger than {} MiB", PATH.string(), kMaxLiveryTextBytes >> 20));
        return false;
    case TextReadStatus::cannotOpen:
        gf_logLine("! Failed reading {}", gf_utf16ToUtf8(PATH));
        lf_addInvalidCfgFile(fmt::format("{} cannot be opened: {}", PATH.string(), file.error));
        return false;
    case TextReadStatus::noEncoding:
        if (WARN_NO_ENCODING)
            gf_logWarning("! No text encoding detected for {}", gf_utf16ToUtf8(PATH));
        else
            gf_logLine("! No text encoding detected for {}", gf_utf16ToUtf8(PATH));
        lf_addInvalidCfgFile(fmt::format("{} is no text file: no text encoding detected", PATH.string()));
        return false;
    case TextReadStatus::readFailed:
        gf_logLine("! Failed reading {}", gf_utf16ToUtf8(PATH));
        lf_addInvalidCfgFile(fmt::format("{} cannot be read: {}", PATH.string(), file.error));
        return false;
    }
    return false;
}

namespace {

// Buffers larger than this are let go when their file is done.
constexpr std::size_t kKeptBufferBytes = std::size_t{1} << 20;

struct KeptCfgBuffers {
    std::string text;
    CfgLines lines;
};
thread_local KeptCfgBuffers t_keptCfgBuffers;

} // namespace

CfgFileBuffers::CfgFileBuffers()
{
    text.swap(t_keptCfgBuffers.text);
    lines.swap(t_keptCfgBuffers.lines);
}

CfgFileBuffers::~CfgFileBuffers()
{
    if (text.capacity() > kKeptBufferBytes || lines.capacity() * sizeof(std::string_view) > kKeptBufferBytes)
        return;
    text.clear();
    lines.clear();
    t_keptCfgBuffers.text.swap(text);
    t_keptCfgBuffers.lines.swap(lines);
}

LiveryList lf_claimLiveries(UnclaimedLiveries READ)
{
    // The titles of the whole file are claimed at once, in section order: one lock per file
    // instead of one per section.
    std::vector<const std::string*> titles;
    titles.reserve(READ.liveries.size());
    for (const ScannedLivery& livery : READ.liveries)
        titles.push_back(&livery.title);
    const std::vector<bool> claimed = lf_claimTitles(titles);
    std::size_t index = 0;
    for (auto it = READ.liveries.begin(); it != READ.liveries.end(); ++index) {
        if (claimed[index] && !lf_isIncompleteLivery(*it)) {
            ++it;
            continue;
        }
        const std::string_view header = index < READ.headers.size() ? std::string_view(READ.headers[index]) : "";
        lf_addIncompleteSection(READ.ivao ? fmt::format("{} {} title already exists: {}", READ.folderText, header,
                                                        it->title)
                                          : fmt::format("{} {} title '{}' already exists", READ.folderText, header,
                                                        it->title));
        it = READ.liveries.erase(it);
    }
    return std::move(READ.liveries);
}

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

bool lf_fltsimNumbers(std::span<const std::string_view> LINES, const std::filesystem::path& PATH)
{
    return lf_fltsimNumbers(LINES, lf_bracketLines(LINES), PATH);
}

bool lf_fltsimNumbers(std::span<const std::string_view> LINES, const BracketLines& BRACKETS,
                      const std::filesystem::path& PATH)
{
    std::vector<int32_t> numbers;
    if (!lf_sectionNumbers(LINES, BRACKETS, PATH, numbers))
        return false;
    if (numbers.empty()) {
        lf_addNoFltsimFile(PATH.string());
        return true;
    }
    if (*std::max_element(numbers.begin(), numbers.end()) > kMaxSectionNumber) {
        lf_addInvalidCfgFile(fmt::format("{} contains a [fltsim.x] section with a number < 0 or > {}", PATH.string(),
                                         kMaxSectionNumber));
        return false;
    }
    return true;
}

LiveryList lf_processFltSimSections(int32_t FOLDER_RANK, std::span<const std::string_view> LINES,
                                    const std::string& MODEL, const std::filesystem::path& PATH,
                                    const std::filesystem::path& FOLDER, const LiveryScanSnapshot& SCAN)
{
    return lf_claimLiveries(lf_fileLiveries(CfgFile{FOLDER_RANK, PATH, PATH.string(), FOLDER.string(), MODEL, SCAN},
                                            LINES, lf_bracketLines(LINES)));
}

LiveryList lf_searchLiveriesinFile(int32_t FOLDER_RANK, const std::filesystem::path& PATH,
                                   const LiveryScanSnapshot& SCAN, std::string* READ)
{
    return lf_claimLiveries(lf_readLiveriesinFile(FOLDER_RANK, PATH, SCAN, READ));
}

UnclaimedLiveries lf_readLiveriesinFile(int32_t FOLDER_RANK, const std::filesystem::path& PATH,
                                        const LiveryScanSnapshot& SCAN, std::string* READ)
{
    try {
        CfgFileBuffers buffers;
        const std::string& text = buffers.text;
        const CfgLines& lines = buffers.lines;
        if (!lf_readCfgLines(PATH, buffers.text, buffers.lines, false, READ))
            return {};
        const BracketLines brackets = lf_bracketLines(text, lines);
        if (!lf_fltsimNumbers(lines, brackets, PATH))
            return {};
        const std::string model = lf_cfgModelCode(PATH, lines);
        if (model.empty())
            return {};
        return lf_fileLiveries(CfgFile{FOLDER_RANK, PATH, PATH.string(), lf_folderText(PATH), model, SCAN}, lines,
                               brackets);
    } catch (const std::exception& e) {
        gf_logLine("! Exception in lf_searchLiveriesinFile {}: {}", gf_utf16ToUtf8(PATH), e.what());
        throw;
    }
}

} // namespace qmt
