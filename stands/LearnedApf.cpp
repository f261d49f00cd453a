#include "stands/LearnedApf.h"

#include "core/Clock.h"
#include "core/Files.h"
#include "core/KindText.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/StatusLine.h"
#include "core/Text.h"
#include "core/XmlMeta.h"
#include "records/ParkAirportIdentity.h"
#include "records/UserAircraft.h"
#include "stands/AirportFile.h"
#include "stands/ApfSettings.h"
#include "stands/Quality.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <system_error>
#include <unordered_map>

namespace qmt {

namespace fs = std::filesystem;

namespace {

// What the learned file's reader could not take, written back by every save as it was read (a
// record of the file is never lost because this program cannot use it): under "parkpos" whole
// elements (stands that the airport file no longer has, stands made by hand that do not read),
// under "part" per stand its id with the attributes and opt elements of its parkpos that were
// not taken. s_partOf finds a stand's part.
pugi::xml_document s_kept;
std::unordered_map<std::string, pugi::xml_node> s_partOf;

std::vector<std::string> lf_components(std::string_view NAME)
{
    std::vector<std::string> parts;
    std::string current;
    for (char c : NAME) {
        if (c == '/' || c == '\\') {
            parts.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    parts.push_back(std::move(current));
    return parts;
}

bool lf_isXmlName(std::string_view FILE)
{
    return FILE.size() > 4 && FILE.substr(FILE.size() - 4) == ".xml";
}

// The names that the platform this program is for takes for devices, whatever follows a dot.
bool lf_isDeviceName(std::string_view NAME)
{
    const std::string base = gf_upper(NAME.substr(0, NAME.find('.')));
    static constexpr std::string_view devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (std::find(std::begin(devices), std::end(devices), base) != std::end(devices)) {
        return true;
    }
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '0' &&
           base[3] <= '9';
}

// A folder name taken from outside text must stay one folder below ours, on this platform
// and on the one the program is for: no separator, no drive or stream colon, no device name,
// no control or wildcard character, no trailing dot (dropped there, so "a." would be "a").
bool lf_safeFolderName(std::string_view NAME)
{
    if (NAME.empty() || NAME == "." || NAME == ".." || NAME.find("..") != std::string_view::npos ||
        NAME.back() == '.' || lf_isDeviceName(NAME)) {
        return false;
    }
    return std::none_of(NAME.begin(), NAME.end(), [](char C) {
        const auto c = static_cast<unsigned char>(C);
        return c < 0x20 || c == 0x7f || std::string_view("/\\:*?\"<>|").find(C) != std::string_view::npos;
    });
}

// The options of a stand by stay (day, real flag, registration, kind): which half-hours the
// options of the airport file hold, and which learned option holds each half-hour first. Two
// options of one stay with a half-hour in common are one use of the stand; finding the option
// that a new one meets costs the same however many options the stand has.
class StayIndex {
public:
    struct Stay {
        HoursBitset archived;                  // the half-hours of the airport file's options
        HoursBitset learned;                   // those of the learned ones
        std::array<uint32_t, 48> holder{};     // per half-hour: index + 1 of its first learned option
    };

    Stay& of(const StandOption& OPTION)
    {
        return m_stays[Key{OPTION.day, OPTION.real, OPTION.kind.airlineId, OPTION.kind.operatorId,
                           OPTION.kind.modelId, OPTION.registration}];
    }

    // OPTION, at INDEX of its stand, joins its stay.
    void add(const StandOption& OPTION, size_t INDEX)
    {
        Stay& stay = of(OPTION);
        if (OPTION.source == 1) {
            stay.archived |= OPTION.hours;
            return;
        }
        stay.learned |= OPTION.hours;
        for (size_t h = 0; h < stay.holder.size(); ++h) {
            if (OPTION.hours.test(h) && stay.holder[h] == 0) {
                stay.holder[h] = static_cast<uint32_t>(INDEX + 1);
            }
        }
    }

    // The first learned option of STAY that holds one of HOURS (index), or none.
    static std::optional<size_t> firstHolder(const Stay& STAY, HoursBitset HOURS)
    {
        uint32_t first = 0;
        for (size_t h = 0; h < STAY.holder.size(); ++h) {
            if (HOURS.test(h) && STAY.holder[h] != 0 && (first == 0 || STAY.holder[h] < first)) {
                first = STAY.holder[h];
            }
        }
        return first == 0 ? std::nullopt : std::optional<size_t>(first - 1);
    }

private:
    struct Key {
        uint32_t day;
        uint32_t real;
        uint16_t airline;
        uint16_t operatorId;
        uint16_t model;
        std::string registration;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        size_t operator()(const Key& K) const
        {
            const uint64_t small = (uint64_t{K.day} << 56) ^ (uint64_t{K.real} << 48) ^ (uint64_t{K.airline} << 32) ^
                                   (uint64_t{K.operatorId} << 16) ^ K.model;
            return std::hash<std::string>{}(K.registration) ^ (std::hash<uint64_t>{}(small) * 0x9e3779b97f4a7c15ULL);
        }
    };
    std::unordered_map<Key, Stay, KeyHash> m_stays;
};

// TWIN, an option of the same stay as KEEP, becomes part of KEEP.
void lf_joinOption(StandOption& KEEP, const StandOption& TWIN)
{
    KEEP.hours |= TWIN.hours;
    KEEP.cpl = KEEP.cpl != 0 || TWIN.cpl != 0 ? 1 : 0;
    if (KEEP.callsign.empty()) {
        KEEP.callsign = TWIN.callsign;
    }
    if (KEEP.furtherName.empty()) {
        KEEP.furtherName = TWIN.furtherName;
    }
}

// Learned options of one stay that share a half-hour are one use of the stand: they are merged
// into the first of them (options of the airport file are left as they are). One pass in the
// order of the options; true when any were merged.
bool lf_mergeOverlappingOptions(Stand& STAND)
{
    std::vector<StandOption>& options = STAND.options;
    StayIndex index;
    std::vector<uint8_t> merged(options.size(), 0);
    bool any = false;
    for (size_t i = 0; i < options.size(); ++i) {
        if (options[i].source == 1) {
            continue;
        }
        StayIndex::Stay& stay = index.of(options[i]);
        const HoursBitset common = options[i].hours & stay.learned;
        if (common.none()) {
            index.add(options[i], i);
            continue;
        }
        // The options that this one meets are joined, with it, into the first of them. The options
        // of the index never share a half-hour, so each holds its half-hours alone.
        const size_t keep = *StayIndex::firstHolder(stay, common);
        std::vector<size_t> met;
        for (size_t h = 0; h < stay.holder.size(); ++h) {
            const uint32_t holder = stay.holder[h];
            if (common.test(h) && holder != 0 && holder - 1 != keep &&
                std::find(met.begin(), met.end(), holder - 1) == met.end()) {
                met.push_back(holder - 1);
            }
        }
        std::sort(met.begin(), met.end());
        for (size_t other : met) {
            lf_joinOption(options[keep], options[other]);
            merged[other] = 1;
        }
        lf_joinOption(options[keep], options[i]);
        merged[i] = 1;
        any = true;
        stay.learned |= options[keep].hours;
        for (size_t h = 0; h < stay.holder.size(); ++h) {
            if (options[keep].hours.test(h)) {
                stay.holder[h] = static_cast<uint32_t>(keep + 1);
            }
        }
    }
    size_t at = 0;
    for (size_t i = 0; i < options.size(); ++i) {
        if (merged[i] == 0) {
            if (at != i) {
                options[at] = std::move(options[i]);
            }
            ++at;
        }
    }
    options.resize(at);
    return any;
}

// Line numbers of a file's bytes, for the log lines that name a record of it.
class LineFinder {
public:
    explicit LineFinder(std::string_view BYTES)
    {
        for (size_t at = BYTES.find('\n'); at != std::string_view::npos; at = BYTES.find('\n', at + 1)) {
            m_ends.push_back(at);
        }
    }
    // The 1-based line of a byte offset.
    size_t lineOf(ptrdiff_t OFFSET) const
    {
        const auto offset = static_cast<size_t>(std::max<ptrdiff_t>(OFFSET, 0));
        return static_cast<size_t>(std::lower_bound(m_ends.begin(), m_ends.end(), offset) - m_ends.begin()) + 1;
    }

private:
    std::vector<size_t> m_ends;
};

// What the reader could not take, kept for the saves and logged once with its line.
class Keeper {
public:
    Keeper(const fs::path& PATH, const LineFinder& LINES, ParkApfInfo& INFO)
        : m_file(PATH.filename().string()), m_lines(LINES), m_info(INFO)
    {
    }

    // A whole parkpos. COUNTED: a record that does not read (not merely one of a stand that the
    // airport file lacks), which the window reports.
    pugi::xml_node whole(pugi::xml_node POS, const std::string& WHY, bool COUNTED)
    {
        pugi::xml_node copy = s_kept.append_copy(POS);
        if (COUNTED) {
            note(POS, WHY);
        }
        return copy;
    }

    // An opt element of the stand's parkpos.
    void option(const std::string& STAND, pugi::xml_node OPT, const std::string& WHY)
    {
        part(STAND).append_copy(OPT);
        note(OPT, WHY);
    }

    // The attributes NAMES of the stand's parkpos (those it has).
    void attributes(const std::string& STAND, pugi::xml_node POS, std::initializer_list<const char*> NAMES,
                    const std::string& WHY)
    {
        pugi::xml_node p = part(STAND);
        for (const char* name : NAMES) {
            if (const pugi::xml_attribute a = POS.attribute(name); a && !p.attribute(name)) {
                p.append_copy(a);
            }
        }
        note(POS, WHY);
    }

    // Each record of a stand read by lf_readStand that it could not take.
    void unread(const UnreadRecords& RECORDS)
    {
        for (const UnreadRecord& r : RECORDS) {
            if (std::string_view(r.element.name()) == "opt") {
                option(r.stand, r.element, r.reason);
            } else {
                whole(r.element, r.reason, true);
            }
        }
    }

private:
    pugi::xml_node part(const std::string& STAND)
    {
        auto [it, added] = s_partOf.try_emplace(STAND);
        if (added) {
            it->second = s_kept.append_child("part");
            it->second.append_attribute("id").set_value(STAND.c_str());
        }
        return it->second;
    }

    void note(pugi::xml_node NODE, const std::string& WHY)
    {
        ++m_info.learnedKept;
        gf_logWarning(fmt::format("{} ({} line {}): kept in the file as it is", WHY, m_file,
                                  m_lines.lineOf(NODE.offset_debug())));
    }

    std::string m_file;
    const LineFinder& m_lines;
    ParkApfInfo& m_info;
};

// The time of day of the save lines: "HH:MM:SS" of the UTC clock.
std::string lf_timeOfDay()
{
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(gf_unshiftedNow().time_since_epoch()).count();
    const std::string text = gf_timeText(seconds);
    return text.size() >= 19 ? text.substr(11, 8) : text;
}

} // namespace

std::string lf_trimBlanks(std::string_view TEXT)
{
    const size_t first = TEXT.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = TEXT.find_last_not_of(' ');
    return std::string(TEXT.substr(first, last - first + 1));
}

fs::path lf_learnedPathOf(std::string_view NAME, std::string_view PUBLISHER)
{
    const std::vector<std::string> parts = lf_components(NAME);
    if (parts.size() < 2) {
        return {};
    }
    for (const std::string& part : parts) {
        if (!lf_safeFolderName(part)) {
            return {};
        }
    }
    const std::string& file = parts.back();
    if (!lf_isXmlName(file)) {
        return {};
    }
    const fs::path learned = g_learnedPath;
    if (parts[0] == "archive") {
        if (parts.size() == 3 && (parts[1] == "stock" || parts[1] == "simaddon")) {
            return learned / parts[1] / file;
        }
        if (parts.size() == 4 && parts[1] == "thirdparty") {
            const std::string publisher = lf_trimBlanks(gf_replaceAll(parts[2], "%20", " "));
            if (!lf_safeFolderName(publisher)) {
                return {};
            }
            return learned / "thirdparty" / publisher / file;
        }
        return {};
    }
    if (parts[0] == "airports") {
        if (parts.size() == 3 && parts[1] == kMyThirdpartyFolder) {
            std::string publisher(PUBLISHER);
            for (char& c : publisher) {
                if (c == '/' || c == '\\') {
                    c = ' ';
                }
            }
            publisher = lf_trimBlanks(publisher);
            if (!lf_safeFolderName(publisher)) {
                return {};
            }
            return learned / "thirdparty" / publisher / file;
        }
        // A generated simulator-maker airport shares the learned file of its archived twin.
        if (parts.size() == 3 && parts[1] == kMySimaddonFolder) {
            return learned / "simaddon" / file;
        }
        fs::path path = learned;
        for (size_t i = 1; i < parts.size(); ++i) {
            path /= parts[i];
        }
        return path;
    }
    return {};
}

pugi::xml_node gf_learnedKept()
{
    return s_kept;
}

void gf_clearLearnedKept()
{
    s_kept.reset();
    s_partOf.clear();
}

namespace {

// The learned options of one parkpos merged into STAND (see lf_mergeLearnedOptions); what cannot
// be read goes to KEEPER when there is one.
void lf_mergeOptions(pugi::xml_node ELEMENT, Stand& STAND, StayIndex& INDEX, Keeper* KEEPER)
{
    uint32_t nextId = STAND.options.empty() ? 1 : STAND.options.back().optionId + 1;
    for (pugi::xml_node o : ELEMENT.children("opt")) {
        HoursBitset hours;
        uint32_t day = 0;
        const OptionFault fault = lf_optionFault(o, hours, day);
        if (fault != OptionFault::none) {
            const bool noHours = fault == OptionFault::noHours || fault == OptionFault::badHours;
            const std::string why = fmt::format("{}learned {}: {}", noHours ? "empty bit set: " : "", STAND.name,
                                                lf_optionFaultText(fault, o));
            if (KEEPER != nullptr) {
                KEEPER->option(STAND.name, o, why);
            } else {
                gf_logWarning(why);
            }
            continue;
        }
        StandOption opt = lf_optionOf(o, hours, day, 0);
        if (KEEPER != nullptr && lf_namesNoAircraft(opt)) {
            KEEPER->option(STAND.name, o, fmt::format("learned {}: {}", STAND.name, kNamesNoAircraft));
            continue;
        }
        if ((opt.hours & INDEX.of(opt).archived).any()) {
            // The airport file has this use of the stand already.
            const auto slots = gf_bitsetText(opt.hours);
            if (slots) {
                gf_logWarning(fmt::format("learned {}: day:{} {} {} cs:{} reg:{} already in airport file", STAND.name,
                                          opt.day, *slots, gf_kindText(opt.kind), opt.callsign, opt.registration));
            } else {
                gf_logWarning(fmt::format("learned {}: day:{} 'empty hrs' {} cs:{} reg:{} already in airport file",
                                          STAND.name, opt.day, gf_kindText(opt.kind), opt.callsign,
                                          opt.registration));
            }
            continue;
        }
        // One that shares a half-hour with a learned option of its stay (a hand edit: saves merge
        // them) is merged into that once the file is read.
        opt.optionId = nextId++;
        STAND.options.push_back(std::move(opt));
    }
}

// A radius_change whose radius reads; false (nothing changed) otherwise.
bool lf_mergeRadius(pugi::xml_node ELEMENT, Stand& STAND)
{
    const double metres = gf_attributeNumber(ELEMENT, "radius", -1.0).value.value_or(-1.0);
    if (!gf_isStandRadius(metres) || metres <= 0.0) {
        return false;
    }
    STAND.radius = metres * kNmPerMetre;
    STAND.radiusChanged = 1;
    return true;
}

StayIndex lf_indexOf(const Stand& STAND)
{
    StayIndex index;
    for (size_t i = 0; i < STAND.options.size(); ++i) {
        index.add(STAND.options[i], i);
    }
    return index;
}

// One learned parkpos applied to its stand: radius and cargo changes, then the options (INDEX
// holds the stand's options). What does not read is kept by KEEPER, or else logged.
void lf_mergeParkpos(pugi::xml_node ELEMENT, bool OLD_VERSION, Stand& STAND, StayIndex& INDEX, Keeper* KEEPER)
{
    if (ELEMENT.attribute("radius_change").as_bool(false) && !lf_mergeRadius(ELEMENT, STAND)) {
        const std::string why = fmt::format("learned {}: invalid radius '{}' ignored", STAND.name,
                                            gf_excerpt(ELEMENT.attribute("radius").as_string()));
        if (KEEPER != nullptr) {
            KEEPER->attributes(STAND.name, ELEMENT, {"radius_change", "radius"}, why);
        } else {
            gf_logWarning(why);
        }
    }
    if (ELEMENT.attribute("cargo_change").as_bool(false)) {
        STAND.cargo = ELEMENT.attribute("cargo").as_bool(false) ? 1 : 0;
        STAND.cargoChanged = 1;
    }
    if (!OLD_VERSION) {
        lf_mergeOptions(ELEMENT, STAND, INDEX, KEEPER);
    }
}

} // namespace

bool lf_mergeLearnedOptions(const std::string& ID, pugi::xml_node ELEMENT, bool OLD_VERSION, Stand& STAND)
{
    if (STAND.name != ID) {
        return false;
    }
    StayIndex index = lf_indexOf(STAND);
    lf_mergeParkpos(ELEMENT, OLD_VERSION, STAND, index, nullptr);
    if (lf_mergeOverlappingOptions(STAND)) {
        gf_renumberOptions(STAND);
    }
    return true;
}

namespace {

// Each learned parkpos: added as a stand made by hand, or merged into the stand of its name (kept
// for the saves when there is none). The stands made by hand come first, wherever the file lists
// them, so that what the file says of them applies whatever the order (a save writes them before
// the records it keeps). What does not read is kept by KEEPER.
void lf_applyLearnedStands(const pugi::xml_document& DOC, const fs::path& PATH, bool OLD_VERSION,
                           std::vector<Stand>& STANDS, Keeper& KEEPER)
{
    const pugi::xml_node positions = gf_parkPositionsOf(DOC);
    gf_checkStandCount(positions);
    std::unordered_map<std::string, size_t> standOf;  // names copied: the table grows below
    for (size_t i = 0; i < STANDS.size(); ++i) {
        standOf.emplace(STANDS[i].name, i);
    }
    std::unordered_map<size_t, StayIndex> indexOf;
    const auto apply = [&](pugi::xml_node POS, bool MANUAL) {
        const std::string id = POS.attribute("id").as_string();
        const auto found = standOf.find(id);
        if (!MANUAL) {
            if (found == standOf.end()) {
                gf_logLine(fmt::format("learned stand {} in {} not found?", id, PATH.string()));
                // Kept for the saves: the airport file may list the stand again.
                pugi::xml_node copy = KEEPER.whole(POS, {}, false);
                if (OLD_VERSION) {
                    while (pugi::xml_node o = copy.child("opt")) {
                        copy.remove_child(o);
                    }
                }
                return;
            }
            // Built on a stand's first learned parkpos: a file may name a stand more than once.
            auto index = indexOf.find(found->second);
            if (index == indexOf.end()) {
                index = indexOf.emplace(found->second, lf_indexOf(STANDS[found->second])).first;
            }
            lf_mergeParkpos(POS, OLD_VERSION, STANDS[found->second], index->second, &KEEPER);
            return;
        }
        if (found != standOf.end()) {
            KEEPER.whole(POS, fmt::format("manually created standid {} already exists in {}", id, PATH.string()), true);
            return;
        }
        // A number that does not read whole counts as missing.
        const double lat = gf_attributeNumber(POS, "latitude", 0.0).value.value_or(0.0);
        const double lon = gf_attributeNumber(POS, "longitude", 0.0).value.value_or(0.0);
        const double radius = gf_attributeNumber(POS, "radius", 0.0).value.value_or(0.0);
        if (id.empty() || (std::fabs(lat) <= 0.0001 && std::fabs(lon) <= 0.0001) || radius == 0.0) {
            KEEPER.whole(POS, fmt::format("manually created standid {} misses correct attributes in {}", id,
                                          PATH.string()),
                         true);
            return;
        }
        UnreadRecords unread;
        if (lf_readStand(POS, id, 0, STANDS, &unread)) {
            STANDS.back().manual = 1;
            standOf.emplace(STANDS.back().name, STANDS.size() - 1);
        }
        KEEPER.unread(unread);
    };
    for (const bool manual : {true, false}) {
        for (pugi::xml_node pos : positions.children("parkpos")) {
            if (pos.attribute("manual").as_bool(false) == manual) {
                apply(pos, manual);
            }
        }
    }
    for (Stand& stand : STANDS) {
        if (lf_mergeOverlappingOptions(stand)) {
            gf_renumberOptions(stand);
        }
    }
}

// A learned file that cannot be read at all: it moves aside under a dated name so that learning
// goes on in a new file; where it cannot be moved, nothing may be saved over it.
void lf_setAsideLearned(const fs::path& PATH, const std::string& WHY, ParkApfInfo& INFO)
{
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(gf_unshiftedNow().time_since_epoch()).count();
    const fs::path kept = gf_setAsideBrokenFile(PATH, gf_fileTimeStamp(seconds));
    if (kept.empty()) {
        INFO.learnedUnreadable = 1;
        gf_logWarning(fmt::format("{} could not be read ({}) nor moved aside: it is kept and not saved over",
                                  PATH.string(), WHY));
        return;
    }
    INFO.learnedSetAside = kept.string();
    gf_logWarning(fmt::format("{} could not be read ({}): kept as {}, learning goes on in a new file", PATH.string(),
                              WHY, kept.string()));
}

} // namespace

bool lf_readLearned(const fs::path& PATH, ParkApfInfo& INFO, std::vector<Stand>& STANDS, uint8_t& HANDMADE)
{
    std::string bytes;
    if (!gf_readFileBytes(PATH, bytes)) {
        // Not readable now (locked, no permission): a later visit may read it.
        INFO.learnedUnreadable = 1;
        gf_logWarning(fmt::format("{} found, but could not be read: it is kept and not saved over", PATH.string()));
        return false;
    }
    pugi::xml_document doc;
    const pugi::xml_parse_result loaded = doc.load_buffer(bytes.data(), bytes.size());
    if (!loaded) {
        const LineFinder lines(bytes);
        lf_setAsideLearned(PATH,
                           fmt::format("{} at line {}", loaded.description(), lines.lineOf(loaded.offset)), INFO);
        return false;
    }
    const LineFinder lines(bytes);
    Keeper keeper(PATH, lines, INFO);
    try {
        gf_logLine(fmt::format("Read from learned airport file: '{}'", PATH.string()));
        gf_flushLog();
        const XmlMetaResult meta = gf_readXmlMeta(doc, 0);
        if (!meta.accepted) {
            // Not ours, or written by hand without the block: nothing of it is applied.
            lf_setAsideLearned(PATH, fmt::format("refused: {}", meta.reason), INFO);
            return false;
        }
        const auto version = VersionData::fromText(meta.version);
        const bool oldVersion = !version || *version < VersionData{11, 10, 0};
        if (oldVersion) {
            gf_logLine("\nThis learned file was created with and older Quillon version than 11.10.0,\n"
                       "All flights will be cleared, except for a handmade file\n");
        }
        const std::string learnedName = gf_stringParameterByName(doc, "airport_name").value_or("");
        if (learnedName != INFO.airportName) {
            gf_setStatus(fmt::format("Warning: learned file airport name: '{}' differs from archived file airport "
                                     "name: '{}'",
                                     learnedName, INFO.airportName));
        }
        gf_applyLearnedSettings(doc);

        if (const auto handmade = gf_stringParameterByName(doc, "handmade")) {
            // The handmade list replaces the table only once it is read whole.
            std::vector<Stand> stands;
            UnreadRecords unread;
            lf_readStands(doc, stands, &unread);
            STANDS = std::move(stands);
            HANDMADE = 1;
            keeper.unread(unread);
            gf_logContinuation(fmt::format("{:24}: {}", "handmade", *handmade));
            return true;
        }
        HANDMADE = 0;

        lf_applyLearnedStands(doc, PATH, oldVersion, STANDS, keeper);
        return true;
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "lf_readLearned", e.what()));
        gf_clearLearnedKept();
        INFO.learnedKept = 0;
        lf_setAsideLearned(PATH, e.what(), INFO);
        return false;
    }
}

void lf_saveLearnedApf()
{
    const std::string time = lf_timeOfDay();
    const fs::path path = lf_learnedPathOf(g_parkApfInfo.apfName, g_parkApfInfo.publisher);
    if (path.empty()) {
        gf_logLine(fmt::format("{} saving '{}' did not succeed", time, g_parkApfInfo.apfName));
        g_learnedUpdates = 0;
        return;
    }
    // Only a table that a good read filled may replace what the file holds.
    if (g_parkLoaded.load() == 0) {
        gf_logLine(fmt::format("{} saving '{}' refused: the stand table was not loaded by a good read", time,
                               path.string()));
        g_learnedUpdates = 0;
        return;
    }
    if (g_parkApfInfo.learnedUnreadable) {
        gf_logLine(fmt::format("{} saving '{}' did not succeed: the learned file could not be read and is kept",
                               time, path.string()));
        g_learnedUpdates = 0;
        return;
    }
    AirportFile file;
    file.code = g_parkAirport.icao;
    file.airportName = g_parkApfInfo.airportName;
    file.publisher = g_parkApfInfo.publisher;
    file.altitudeFt = g_parkApfInfo.altitudeFt;
    gf_renumberAllOptions();
    if (!g_handmade) {
        for (Stand& stand : g_stands) {
            std::erase_if(stand.options, [](const StandOption& O) { return O.source == 1; });
            lf_mergeOverlappingOptions(stand);
            gf_renumberOptions(stand);
            if (stand.manual || !stand.options.empty() || stand.radiusChanged || stand.cargoChanged) {
                file.stands.push_back(stand);
            }
        }
    } else {
        file.stands = g_stands;
        const int64_t factors = gf_computeQualityFactors();
        file.qfReal = gf_qualityReal(factors);
        file.qfSoft = gf_qualitySoft(factors);
    }
    bool saved = false;
    try {
        saved = gf_writeApf(file, path, ApfWriteMode::learned, g_simNumber, g_handmade != 0, gf_learnedKept());
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {}", "lf_saveLearnedApf", e.what()));
    }
    if (!saved) {
        gf_logLine(fmt::format("{} saving '{}' did not succeed", time, path.string()));
    } else {
        gf_logLine(fmt::format("{}{} '{}' saved with {} update{}", time, g_handmade ? " handmade" : "", path.string(),
                               g_learnedUpdates, gf_plural(g_learnedUpdates)));
    }
    g_learnedUpdates = 0;
}

} // namespace qmt
