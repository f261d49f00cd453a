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
#include <chrono>
#include <cmath>
#include <system_error>

namespace qmt {

namespace fs = std::filesystem;

namespace {

// Copies of learned parkpos elements whose stand the airport file no longer has.
pugi::xml_document s_orphans;

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

// Two options of one use of the stand with a half-hour in common: the reader takes only the first.
bool lf_sameStay(const StandOption& A, const StandOption& B)
{
    return A.day == B.day && A.real == B.real && A.registration == B.registration && gf_sameKind(A.kind, B.kind) &&
           (A.hours & B.hours).any();
}

// Options that the reader would drop as duplicates are merged into the first of them before a
// save, so that every half-hour saved is read back.
void lf_mergeOverlappingOptions(Stand& STAND)
{
    std::vector<StandOption>& options = STAND.options;
    for (size_t i = 0; i < options.size(); ++i) {
        for (size_t j = i + 1; j < options.size();) {
            if (!lf_sameStay(options[i], options[j])) {
                ++j;
                continue;
            }
            StandOption& keep = options[i];
            const StandOption& twin = options[j];
            keep.hours |= twin.hours;
            keep.cpl = keep.cpl != 0 || twin.cpl != 0 ? 1 : 0;
            if (keep.callsign.empty()) {
                keep.callsign = twin.callsign;
            }
            if (keep.furtherName.empty()) {
                keep.furtherName = twin.furtherName;
            }
            options.erase(options.begin() + static_cast<std::ptrdiff_t>(j));
            j = i + 1;  // the wider option may now meet an option it missed
        }
    }
}

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
        if (parts.size() == 3 && parts[1] == MY_THIRDPARTY_FOLDER) {
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
        if (parts.size() == 3 && parts[1] == MY_SIMADDON_FOLDER) {
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

pugi::xml_node gf_learnedOrphans()
{
    return s_orphans.child("parkpositions");
}

void gf_clearLearnedOrphans()
{
    s_orphans.reset();
}

bool lf_mergeLearnedOptions(const std::string& ID, pugi::xml_node ELEMENT, bool OLD_VERSION, Stand& STAND)
{
    if (STAND.name != ID) {
        return false;
    }
    if (ELEMENT.attribute("radius_change").as_bool(false)) {
        const double metres = gf_attributeNumber(ELEMENT, "radius", -1.0).value.value_or(-1.0);
        if (gf_isStandRadius(metres) && metres > 0.0) {
            STAND.radius = metres * NM_PER_METRE;
            STAND.radiusChanged = 1;
        } else {
            gf_logWarning(fmt::format("learned {}: invalid radius '{}' ignored", STAND.name,
                                      gf_excerpt(ELEMENT.attribute("radius").as_string())));
        }
    }
    if (ELEMENT.attribute("cargo_change").as_bool(false)) {
        STAND.cargo = ELEMENT.attribute("cargo").as_bool(false) ? 1 : 0;
        STAND.cargoChanged = 1;
    }
    if (OLD_VERSION) {
        return true;
    }
    uint32_t nextId = STAND.options.empty() ? 1 : STAND.options.back().optionId + 1;
    for (pugi::xml_node o : ELEMENT.children("opt")) {
        const auto hours = gf_parseHoursStrict(o.attribute("hh").as_string());
        if (!hours || hours->none()) {
            gf_logWarning("empty bit set");
            continue;
        }
        const uint32_t day = gf_attributeNumber(o, "day", 0u).value.value_or(0);
        if (day < 1 || day > 7) {
            gf_logWarning(fmt::format("learned {}: option with invalid day '{}' dropped", STAND.name,
                                      gf_excerpt(o.attribute("day").as_string())));
            continue;
        }
        StandOption opt = lf_optionOf(o, *hours, day, 0);
        opt.optionId = nextId;
        const bool duplicate = std::any_of(STAND.options.begin(), STAND.options.end(),
                                           [&opt](const StandOption& OLD) { return lf_sameStay(OLD, opt); });
        if (duplicate) {
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
        STAND.options.push_back(std::move(opt));
        ++nextId;
    }
    return true;
}

namespace {

// Each learned parkpos: merged into the airport file's stand of its name (kept aside for the next
// save when there is none), or added as a stand made by hand.
void lf_applyLearnedStands(const pugi::xml_document& DOC, const fs::path& PATH, bool OLD_VERSION,
                           std::vector<Stand>& STANDS)
{
    const pugi::xml_node positions = gf_parkPositionsOf(DOC);
    gf_checkStandCount(positions);
    for (pugi::xml_node pos : positions.children("parkpos")) {
        const std::string id = pos.attribute("id").as_string();
        if (!pos.attribute("manual").as_bool(false)) {
            bool matched = false;
            for (Stand& stand : STANDS) {
                if (lf_mergeLearnedOptions(id, pos, OLD_VERSION, stand)) {
                    matched = true;
                    break;
                }
            }
            if (!matched) {
                gf_logLine(fmt::format("learned stand {} in {} not found?", id, PATH.string()));
                // Kept for the next save: the airport file may list the stand again.
                if (!s_orphans.child("parkpositions")) {
                    s_orphans.append_child("parkpositions");
                }
                pugi::xml_node copy = s_orphans.child("parkpositions").append_copy(pos);
                if (OLD_VERSION) {
                    while (pugi::xml_node o = copy.child("opt")) {
                        copy.remove_child(o);
                    }
                }
            }
            continue;
        }
        const bool exists =
            std::any_of(STANDS.begin(), STANDS.end(), [&id](const Stand& S) { return S.name == id; });
        if (exists) {
            gf_logWarning(fmt::format("manually created standid {} already exists in {}", id, PATH.string()));
            continue;
        }
        // A number that does not read whole counts as missing.
        const double lat = gf_attributeNumber(pos, "latitude", 0.0).value.value_or(0.0);
        const double lon = gf_attributeNumber(pos, "longitude", 0.0).value.value_or(0.0);
        const double radius = gf_attributeNumber(pos, "radius", 0.0).value.value_or(0.0);
        if (id.empty() || (std::fabs(lat) <= 0.0001 && std::fabs(lon) <= 0.0001) || radius == 0.0) {
            gf_logWarning(
                fmt::format("manually created standid {} misses correct attributes in {}", id, PATH.string()));
            continue;
        }
        if (lf_readStand(pos, id, 0, STANDS)) {
            STANDS.back().manual = 1;
        }
    }
}

} // namespace

bool lf_readLearned(const fs::path& PATH, ParkApfInfo& INFO, std::vector<Stand>& STANDS, uint8_t& HANDMADE)
{
    pugi::xml_document doc;
    const pugi::xml_parse_result loaded = doc.load_file(PATH.c_str());
    if (!loaded) {
        // A failed read: the file is kept under a name that no save rotates away, and the file
        // itself is not saved over (the next save would write the table without its options).
        const fs::path kept = gf_keepBrokenCopy(PATH);
        gf_logWarning(fmt::format("{} found, but could not be loaded, kept as {} and not saved over: {} at offset {}",
                                  PATH.string(), kept.string(), loaded.description(), loaded.offset));
        return false;
    }
    try {
        gf_logLine(fmt::format("Read from learned airport file: '{}'", PATH.string()));
        gf_flushLog();
        const XmlMetaResult meta = gf_readXmlMeta(doc, 0);
        if (!meta.accepted) {
            // Not ours, or written by hand without the block: its stands would be lost by a
            // save over it, so it counts as unread.
            gf_logWarning(fmt::format("learned file {} refused ({}): it is kept and not saved over", PATH.string(),
                                      meta.reason));
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
            lf_readStands(doc, stands);
            STANDS = std::move(stands);
            HANDMADE = 1;
            gf_logContinuation(fmt::format("{:24}: {}", "handmade", *handmade));
            return true;
        }
        HANDMADE = 0;

        lf_applyLearnedStands(doc, PATH, oldVersion, STANDS);
        return true;
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "lf_readLearned", e.what()));
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
        gf_logLine(fmt::format("{} saving '{}' did not succeed: the learned file could not be read whole and is kept",
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
        saved = gf_writeApf(file, path, ApfWriteMode::learned, g_simNumber, g_handmade != 0, gf_learnedOrphans());
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
