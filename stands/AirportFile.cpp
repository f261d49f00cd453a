#include "stands/AirportFile.h"

#include "core/AcKind.h"
#include "core/Clock.h"
#include "core/FileCommit.h"
#include "core/Files.h"
#include "core/Geo.h"
#include "core/KindText.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Text.h"
#include "core/UserError.h"
#include "core/XmlMeta.h"
#include "records/ParkAirportIdentity.h"
#include "records/UserAircraft.h"
#include "stands/ApfLookup.h"
#include "stands/ApfSettings.h"
#include "stands/LearnedApf.h"
#include "stands/Quality.h"
#include "stands/StandTable.h"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <sstream>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace qmt {

namespace fs = std::filesystem;

std::array<std::string, kApfSettingCount> g_apfSettingNames;
std::array<std::string, kApfSettingCount> g_apfSettingsAtRead;
int32_t g_rtTrafficWeek = 0;
uint8_t g_apfRead = 0;

namespace {

const char* lf_flag(bool VALUE)
{
    return VALUE ? "true" : "false";
}

bool lf_appendParameter(pugi::xml_node PARAMETERS, const std::string& NAME, const std::string& VALUE)
{
    pugi::xml_node p = PARAMETERS.append_child("parameter");
    if (!p) {
        return false;
    }
    return p.append_attribute("name").set_value(NAME.c_str()) &&
           p.append_attribute("value").set_value(VALUE.c_str());
}

bool lf_appendAttribute(pugi::xml_node NODE, const char* NAME, const std::string& VALUE)
{
    return NODE.append_attribute(NAME).set_value(VALUE.c_str());
}

// The full description of a stand: position, heading, size and kind.
bool lf_writeFullStand(pugi::xml_node POS, const Stand& STAND, bool KEEP_FLAGS)
{
    bool ok = lf_appendAttribute(POS, "latitude", fmt::format("{:.6f}", STAND.latitude)) &&
              lf_appendAttribute(POS, "longitude", fmt::format("{:.6f}", STAND.longitude)) &&
              lf_appendAttribute(POS, "heading", fmt::format("{:.1f}", STAND.heading * kRadToDeg)) &&
              lf_appendAttribute(POS, "radius", fmt::format("{:.1f}", STAND.radius * kMetresPerNm));
    if (!ok) {
        return false;
    }
    if (STAND.heli) {
        ok = lf_appendAttribute(POS, "heli", "true");
    } else {
        ok = lf_appendAttribute(POS, "type", fmt::format("{}", STAND.type));
    }
    if (ok && STAND.manual) {
        ok = lf_appendAttribute(POS, "manual", "true");
    }
    // A stand list that replaces the airport file must carry everything the airport
    // file would have given, or the next read loses it.
    if (ok && KEEP_FLAGS) {
        if (STAND.cargo) {
            ok = lf_appendAttribute(POS, "cargo", "true");
        }
        if (ok && STAND.ramp) {
            ok = lf_appendAttribute(POS, "ramp", "true");
        }
        if (ok && STAND.radiusChanged) {
            ok = lf_appendAttribute(POS, "radius_change", "true");
        }
        if (ok && STAND.cargoChanged) {
            ok = lf_appendAttribute(POS, "cargo_change", "true");
        }
    }
    return ok;
}

bool lf_writeOptions(pugi::xml_node POS, const Stand& STAND)
{
    for (const StandOption& opt : STAND.options) {
        if (opt.optionId == 0) {
            continue;
        }
        const std::string hh = gf_hoursWriteText(opt.hours);
        if (hh.empty()) {
            gf_logWarning(fmt::format("bit set problem: {} {} {}", opt.registration, opt.callsign,
                                      gf_kindText(opt.kind)));
            continue;
        }
        // Without a registration an option is still known by its airline and model.
        if (lf_namesNoAircraft(opt) || (opt.registration.empty() && opt.kind.marker != 0)) {
            continue;
        }
        pugi::xml_node o = POS.append_child("opt");
        if (!o) {
            return false;
        }
        bool ok = true;
        if (!opt.registration.empty()) {
            ok = lf_appendAttribute(o, "reg", opt.registration);
        }
        if (ok && opt.kind.marker == 0) {
            ok = lf_appendAttribute(o, "airl", gf_airlineCode(opt.kind.airlineId)) &&
                 lf_appendAttribute(o, "type", gf_modelCode(opt.kind.modelId));
        }
        if (ok && opt.real == 0) {
            ok = lf_appendAttribute(o, "soft", "true");
        }
        ok = ok && lf_appendAttribute(o, "day", fmt::format("{}", opt.day)) && lf_appendAttribute(o, "hh", hh);
        if (ok && !opt.callsign.empty()) {
            ok = lf_appendAttribute(o, "cs", opt.furtherName.empty() ? opt.callsign
                                                                     : opt.callsign + ":" + opt.furtherName);
        }
        if (ok && opt.cpl) {
            ok = lf_appendAttribute(o, "cpl", "true");
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

// The parameters block: what every airport file says of its airport, and what a learned file
// adds (handmade files also their altitude and quality factors, learned files their settings).
bool lf_writeParameters(pugi::xml_node PARAMS, const AirportFile& FILE, bool LEARNED, bool HANDMADE)
{
    bool ok = lf_appendParameter(PARAMS, "airport_name", FILE.airportName) &&
              lf_appendParameter(PARAMS, "publisher", FILE.publisher);
    if (ok && HANDMADE) {
        ok = lf_appendParameter(PARAMS, "handmade", "true");
    }
    if (ok && (HANDMADE || !LEARNED)) {
        ok = lf_appendParameter(PARAMS, "altitude", fmt::format("{}", FILE.altitudeFt));
    }
    if (ok && !LEARNED) {
        ok = lf_appendParameter(PARAMS, "num_parkpos", fmt::format("{}", FILE.stands.size()));
    }
    if (ok && HANDMADE) {
        ok = lf_appendParameter(PARAMS, "Qf_real", fmt::format("{}", FILE.qfReal)) &&
             lf_appendParameter(PARAMS, "Qf_soft", fmt::format("{}", FILE.qfSoft));
    }
    if (ok && FILE.publisher.empty()) {
        ok = lf_appendParameter(PARAMS, "BGLpath", FILE.bglPath) &&
             lf_appendParameter(PARAMS, "manufacturer", FILE.manufacturer) &&
             lf_appendParameter(PARAMS, "creator", FILE.creator);
    }
    if (ok && LEARNED) {
        for (size_t i = 0; ok && i < kApfSettingCount; ++i) {
            ok = lf_appendParameter(PARAMS, gf_apfSettingName(i), gf_apfSettingText(i));
        }
    }
    return ok;
}

// One stand: all of it in an airport file; in a learned file all of it for a stand made by hand
// or a handmade file, else only what the learned file changed, and then its options.
bool lf_writeStand(pugi::xml_node POS, const Stand& STAND, bool LEARNED, bool HANDMADE)
{
    if (!lf_appendAttribute(POS, "id", STAND.name)) {
        return false;
    }
    if (!LEARNED) {
        return lf_writeFullStand(POS, STAND, false);
    }
    if (STAND.manual || HANDMADE) {
        if (!lf_writeFullStand(POS, STAND, true)) {
            return false;
        }
    } else {
        if (STAND.radiusChanged &&
            !(lf_appendAttribute(POS, "radius_change", "true") &&
              lf_appendAttribute(POS, "radius", fmt::format("{:.1f}", STAND.radius * kMetresPerNm)))) {
            return false;
        }
        if (STAND.cargoChanged && !(lf_appendAttribute(POS, "cargo_change", "true") &&
                                    lf_appendAttribute(POS, "cargo", lf_flag(STAND.cargo != 0)))) {
            return false;
        }
    }
    return lf_writeOptions(POS, STAND);
}

// Adds to the written parkpos of a stand what its reader could not take: the attributes that the
// element does not have already (a value written now supersedes one that did not read) and the
// opt elements.
bool lf_addKeptPart(pugi::xml_node POS, pugi::xml_node PART)
{
    for (pugi::xml_attribute a : PART.attributes()) {
        if (!POS.attribute(a.name()) && !POS.append_copy(a)) {
            return false;
        }
    }
    for (pugi::xml_node child : PART.children()) {
        if (!POS.append_copy(child)) {
            return false;
        }
    }
    return true;
}

bool lf_fillDocument(pugi::xml_document& DOC, const AirportFile& FILE, ApfWriteMode MODE, int32_t SIM,
                     bool HANDMADE, pugi::xml_node KEPT)
{
    const bool learned = MODE == ApfWriteMode::learned;
    const bool handmade = learned && HANDMADE;
    const std::string version =
        fmt::format("{}.{}.{}", QUILLON_VERSION_MAJOR, QUILLON_VERSION_MINOR, QUILLON_VERSION_PATCH);
    if (!gf_writeXmlMeta(DOC, version, SIM)) {
        return false;
    }
    pugi::xml_node root = DOC.child("root");
    if (!root) {
        root = DOC.append_child("root");
    }
    pugi::xml_node params = root.append_child("parameters");
    if (!root || !params || !lf_writeParameters(params, FILE, learned, handmade)) {
        return false;
    }
    pugi::xml_node positions = root.append_child("parkpositions");
    if (!positions) {
        return false;
    }
    // The kept parts of a stand go into its own parkpos; those of a stand that is not written
    // become a parkpos of their own, after the stands.
    std::unordered_map<std::string_view, pugi::xml_node> parts;
    if (learned && KEPT) {
        for (pugi::xml_node part : KEPT.children("part")) {
            parts.emplace(part.attribute("id").value(), part);
        }
    }
    for (const Stand& stand : FILE.stands) {
        pugi::xml_node pos = positions.append_child("parkpos");
        if (!pos || !lf_writeStand(pos, stand, learned, handmade)) {
            return false;
        }
        if (const auto part = parts.find(stand.name); part != parts.end()) {
            if (!lf_addKeptPart(pos, part->second)) {
                return false;
            }
            parts.erase(part);
        }
    }
    if (learned && KEPT) {
        for (pugi::xml_node whole : KEPT.children("parkpos")) {
            if (!positions.append_copy(whole)) {
                return false;
            }
        }
        for (pugi::xml_node part : KEPT.children("part")) {
            if (!parts.contains(part.attribute("id").value())) {
                continue;
            }
            pugi::xml_node pos = positions.append_child("parkpos");
            if (!pos || !lf_addKeptPart(pos, part)) {
                return false;
            }
        }
    }
    return true;
}

bool lf_isHoursDigit(char C)
{
    return C >= '0' && C <= '9';
}

std::optional<int> lf_slotNumber(std::string_view TEXT)
{
    const std::string text = gf_trim(TEXT);
    if (text.empty() || text.size() > 2) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        if (!lf_isHoursDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > 47) {
        return std::nullopt;
    }
    return value;
}

// Distance between two stands, measured once per pair.
bool lf_overlaps(const Stand& A, const Stand& B)
{
    const double d = gf_distanceNm(A.latitude, A.longitude, B.latitude, B.longitude);
    return 1.1 * d < A.radius + B.radius;
}

} // namespace

std::optional<HoursBitset> gf_parseHoursStrict(std::string_view TEXT)
{
    if (gf_trim(TEXT).empty()) {
        return std::nullopt;
    }
    uint64_t bits = 0;
    size_t start = 0;
    while (start <= TEXT.size()) {
        size_t comma = TEXT.find(',', start);
        if (comma == std::string_view::npos) {
            comma = TEXT.size();
        }
        const std::string_view item = TEXT.substr(start, comma - start);
        const size_t colon = item.find(':');
        if (colon == std::string_view::npos) {
            const auto slot = lf_slotNumber(item);
            if (!slot) {
                return std::nullopt;
            }
            bits |= uint64_t{1} << *slot;
        } else {
            const auto first = lf_slotNumber(item.substr(0, colon));
            const auto last = lf_slotNumber(item.substr(colon + 1));
            if (!first || !last || *first > *last) {
                return std::nullopt;
            }
            for (int s = *first; s <= *last; ++s) {
                bits |= uint64_t{1} << s;
            }
        }
        start = comma + 1;
    }
    return HoursBitset(bits);
}

std::string gf_hoursWriteText(HoursBitset HOURS)
{
    if (auto run = gf_rangeText(HOURS)) {
        return *run;
    }
    if (HOURS.none()) {
        return {};
    }
    if (auto list = gf_bitsetText(HOURS)) {
        return *list;
    }
    return {};
}

void gf_initApfSettingNames()
{
    for (size_t i = 0; i < kApfSettingCount; ++i) {
        g_apfSettingNames[i] = gf_apfSettingName(i);
    }
}

bool gf_writeApf(const AirportFile& FILE, const fs::path& PATH, ApfWriteMode MODE, int32_t SIM, bool HANDMADE,
                 pugi::xml_node KEPT)
{
    const std::optional<std::string> text = gf_apfText(FILE, MODE, SIM, HANDMADE, KEPT);
    return text && gf_commitApfText(*text, PATH, MODE);
}

namespace {

// A generated airport file is written straight as text, the bytes the XML library would save for
// its document: the scan makes hundreds of them at once, and a document tree for each was a large
// share of its processor time. The learned file, with its options and kept records, goes through
// the document.
class ApfTextWriter {
public:
    // The document starts with the declaration that the library writes in front of a document
    // without one.
    explicit ApfTextWriter(std::size_t STANDS)
    {
        m_out.reserve(1024 + STANDS * 128);
        m_out += "<?xml version=\"1.0\"?>\n";
    }

    void open(int DEPTH, std::string_view NAME)
    {
        indent(DEPTH);
        m_out += '<';
        m_out += NAME;
        m_out += ">\n";
    }
    void close(int DEPTH, std::string_view NAME)
    {
        indent(DEPTH);
        m_out += "</";
        m_out += NAME;
        m_out += ">\n";
    }
    // An element without children: "<NAME", its attributes, " />".
    void start(int DEPTH, std::string_view NAME)
    {
        indent(DEPTH);
        m_out += '<';
        m_out += NAME;
    }
    void end() { m_out += " />\n"; }
    void attribute(std::string_view NAME, std::string_view VALUE)
    {
        attributeStart(NAME);
        escaped(VALUE);
        m_out += '"';
    }
    // A number with PRECISION digits after the point, as "{:.6f}" writes it.
    void fixed(std::string_view NAME, double VALUE, int PRECISION)
    {
        attributeStart(NAME);
        gf_appendFixed(m_out, VALUE, PRECISION);
        m_out += '"';
    }
    void integer(std::string_view NAME, long long VALUE)
    {
        attributeStart(NAME);
        char digits[24];
        m_out.append(digits, std::to_chars(digits, digits + sizeof digits, VALUE).ptr);
        m_out += '"';
    }
    std::string take() { return std::move(m_out); }

private:
    void indent(int DEPTH) { m_out.append(static_cast<std::size_t>(DEPTH) * 2, ' '); }
    void attributeStart(std::string_view NAME)
    {
        m_out += ' ';
        m_out += NAME;
        m_out += "=\"";
    }
    // An attribute value as the XML library writes it: '&', '<', '"' and control characters
    // escaped, everything else as it is; the value ends at a NUL, as the C string it is set from.
    void escaped(std::string_view TEXT)
    {
        std::size_t from = 0;
        for (std::size_t i = 0; i < TEXT.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(TEXT[i]);
            if (c >= 32 && c != '&' && c != '<' && c != '"') {
                continue;
            }
            m_out.append(TEXT, from, i - from);
            from = i + 1;
            if (c == 0) {
                return;
            }
            if (c == '&') {
                m_out += "&amp;";
            } else if (c == '<') {
                m_out += "&lt;";
            } else if (c == '"') {
                m_out += "&quot;";
            } else {
                const char ref[] = {'&', '#', static_cast<char>('0' + c / 10), static_cast<char>('0' + c % 10), ';'};
                m_out.append(ref, sizeof ref);
            }
        }
        m_out.append(TEXT, from, TEXT.size() - from);
    }

    std::string m_out;
};

std::string lf_generatedApfText(const AirportFile& FILE, int32_t SIM)
{
    ApfTextWriter out(FILE.stands.size());
    const auto parameter = [&out](std::string_view NAME, std::string_view VALUE) {
        out.start(2, "parameter");
        out.attribute("name", NAME);
        out.attribute("value", VALUE);
        out.end();
    };
    out.open(0, "root");
    out.open(1, "meta");
    const std::string version =
        fmt::format("{}.{}.{}", QUILLON_VERSION_MAJOR, QUILLON_VERSION_MINOR, QUILLON_VERSION_PATCH);
    for (const auto& [name, value] : gf_xmlMetaEntries(version, SIM)) {
        out.start(2, "info");
        out.attribute("name", name);
        out.attribute("value", value);
        out.end();
    }
    out.close(1, "meta");
    out.open(1, "parameters");
    parameter("airport_name", FILE.airportName);
    parameter("publisher", FILE.publisher);
    parameter("altitude", fmt::format("{}", FILE.altitudeFt));
    parameter("num_parkpos", fmt::format("{}", FILE.stands.size()));
    if (FILE.publisher.empty()) {
        parameter("BGLpath", FILE.bglPath);
        parameter("manufacturer", FILE.manufacturer);
        parameter("creator", FILE.creator);
    }
    out.close(1, "parameters");
    if (FILE.stands.empty()) {
        out.start(1, "parkpositions");
        out.end();
    } else {
        out.open(1, "parkpositions");
        for (const Stand& stand : FILE.stands) {
            out.start(2, "parkpos");
            out.attribute("id", stand.name);
            out.fixed("latitude", stand.latitude, 6);
            out.fixed("longitude", stand.longitude, 6);
            out.fixed("heading", stand.heading * kRadToDeg, 1);
            out.fixed("radius", stand.radius * kMetresPerNm, 1);
            if (stand.heli) {
                out.attribute("heli", "true");
            } else {
                out.integer("type", stand.type);
            }
            if (stand.manual) {
                out.attribute("manual", "true");
            }
            out.end();
        }
        out.close(1, "parkpositions");
    }
    out.close(0, "root");
    return out.take();
}

} // namespace

std::optional<std::string> gf_apfText(const AirportFile& FILE, ApfWriteMode MODE, int32_t SIM, bool HANDMADE,
                                      pugi::xml_node KEPT)
{
    try {
        if (MODE == ApfWriteMode::generated) {
            return lf_generatedApfText(FILE, SIM);
        }
        pugi::xml_document doc;
        if (!lf_fillDocument(doc, FILE, MODE, SIM, HANDMADE, KEPT)) {
            return std::nullopt;
        }
        std::ostringstream bytes;
        doc.save(bytes, "  ", pugi::format_indent, pugi::encoding_utf8);
        return std::move(bytes).str();
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {}", "gf_writeApf", e.what()));
        return std::nullopt;
    }
}

bool gf_commitApfText(const std::string& TEXT, const fs::path& PATH, ApfWriteMode MODE)
{
    try {
        std::error_code ec;
        if (PATH.has_parent_path()) {
            fs::create_directories(PATH.parent_path(), ec);  // a failure shows in the save
        }
        // A learned file holds what was learned over many visits: it keeps three older
        // generations. It is saved between two ticks, so it does not wait for the disk.
        return gf_commitFile(TEXT, PATH, CommitOptions{MODE == ApfWriteMode::learned ? 3 : 0});
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {}", "gf_writeApf", e.what()));
        return false;
    }
}

pugi::xml_node gf_parkPositionsOf(const pugi::xml_document& DOC)
{
    pugi::xml_node positions = DOC.child("root").child("parkpositions");
    if (!positions) {
        positions = DOC.child("parkpositions");
    }
    return positions;
}

AcKind lf_readAirlType(pugi::xml_node ELEMENT)
{
    AcKind kind{};
    kind.airlineId = gf_airlineId(ELEMENT.attribute("airl").as_string());
    kind.modelId = gf_modelId(ELEMENT.attribute("type").as_string());
    return kind;
}

OptIdentity lf_readOptIdentity(pugi::xml_node ELEMENT)
{
    OptIdentity id;
    const std::string cs = ELEMENT.attribute("cs").as_string();
    const size_t colon = cs.find(':');
    if (colon == std::string::npos) {
        id.callsign = cs;
    } else {
        id.callsign = cs.substr(0, colon);
        id.furtherName = cs.substr(colon + 1);
    }
    const std::string reg = ELEMENT.attribute("reg").as_string();
    if (!reg.empty()) {
        if (auto kind = gf_findRegRecord(reg)) {
            id.kind = *kind;
            return id;
        }
    }
    id.kind = lf_readAirlType(ELEMENT);
    return id;
}

StandOption lf_optionOf(pugi::xml_node ELEMENT, HoursBitset HOURS, uint32_t DAY, uint32_t SOURCE)
{
    OptIdentity id = lf_readOptIdentity(ELEMENT);
    StandOption opt;
    opt.kind = id.kind;
    opt.registration = ELEMENT.attribute("reg").as_string();
    opt.callsign = std::move(id.callsign);
    opt.furtherName = std::move(id.furtherName);
    opt.hours = HOURS;
    opt.day = DAY;
    opt.source = SOURCE;
    opt.real = ELEMENT.attribute("soft").as_bool(false) ? 0 : 1;
    opt.cpl = ELEMENT.attribute("cpl").as_bool(false) ? 1 : 0;
    return opt;
}

OptionFault lf_optionFault(pugi::xml_node ELEMENT, HoursBitset& HOURS, uint32_t& DAY)
{
    const NumberRead<unsigned> dayRead = gf_attributeNumber(ELEMENT, "day", 0u);
    if (!dayRead.error.empty()) {
        return OptionFault::dayText;
    }
    const pugi::xml_attribute hh = ELEMENT.attribute("hh");
    if (!hh || gf_trim(hh.value()).empty()) {
        return OptionFault::noHours;
    }
    DAY = *dayRead.value;
    if (DAY < 1 || DAY > 7) {
        return OptionFault::dayRange;
    }
    const auto hours = gf_parseHoursStrict(hh.value());
    if (!hours || hours->none()) {
        return OptionFault::badHours;
    }
    HOURS = *hours;
    return OptionFault::none;
}

std::string lf_optionFaultText(OptionFault FAULT, pugi::xml_node ELEMENT)
{
    switch (FAULT) {
    case OptionFault::none:
        break;
    case OptionFault::dayText:
        return fmt::format("option with invalid day '{}'", gf_excerpt(ELEMENT.attribute("day").value()));
    case OptionFault::noHours:
        return "option without hh";
    case OptionFault::dayRange:
        return fmt::format("option with day {} outside 1..7", gf_excerpt(ELEMENT.attribute("day").value()));
    case OptionFault::badHours:
        return fmt::format("option with invalid hh '{}'", gf_excerpt(ELEMENT.attribute("hh").value()));
    }
    return {};
}

bool lf_namesNoAircraft(const StandOption& OPTION)
{
    return OPTION.registration.empty() && OPTION.kind.airlineId == 0 && OPTION.kind.modelId == 0;
}

namespace {

// The options of a parkpos, numbered 1, 2 ... in the order accepted. Without UNREAD an option
// without half-hours or with a day outside 1..7 is dropped quietly (archived files hold such),
// one that does not read with a warning.
std::vector<StandOption> lf_readOptions(pugi::xml_node ELEMENT, const std::string& NAME, uint32_t SOURCE,
                                        UnreadRecords* UNREAD)
{
    std::vector<StandOption> options;
    uint32_t nextId = 1;
    for (pugi::xml_node o : ELEMENT.children("opt")) {
        HoursBitset hours;
        uint32_t day = 0;
        const OptionFault fault = lf_optionFault(o, hours, day);
        if (fault != OptionFault::none) {
            if (UNREAD != nullptr) {
                UNREAD->push_back({o, NAME, fmt::format("stand {}: {}", NAME, lf_optionFaultText(fault, o))});
            } else if (fault == OptionFault::dayText || fault == OptionFault::badHours) {
                gf_logWarning(fmt::format("stand {}: {} dropped", NAME, lf_optionFaultText(fault, o)));
            }
            continue;
        }
        StandOption opt = lf_optionOf(o, hours, day, SOURCE);
        if (UNREAD != nullptr && lf_namesNoAircraft(opt)) {
            UNREAD->push_back({o, NAME, fmt::format("stand {}: {}", NAME, kNamesNoAircraft)});
            continue;
        }
        opt.optionId = nextId++;
        options.push_back(std::move(opt));
    }
    return options;
}

// Why a parkpos gives no stand; empty when it gives one.
std::string lf_standProblem(pugi::xml_node ELEMENT, const std::string& NAME)
{
    for (const char* name : {"latitude", "longitude", "radius", "heading"}) {
        const NumberRead<double> read = gf_attributeNumber(ELEMENT, name, 0.0);
        if (!read.error.empty()) {
            return fmt::format("stand {}: {}", NAME, read.error);
        }
    }
    if (const NumberRead<long long> type = gf_attributeNumber(ELEMENT, "type", 0LL); !type.error.empty()) {
        return fmt::format("stand {}: {}", NAME, type.error);
    }
    return {};
}

} // namespace

bool lf_readStand(pugi::xml_node ELEMENT, const std::string& NAME, uint32_t SOURCE, std::vector<Stand>& STANDS,
                  UnreadRecords* UNREAD)
{
    // Without UNREAD a stand that cannot be read is a warning (LOUD: ", skipped" added).
    const auto skip = [&](const std::string& WHY, bool LOUD) {
        if (UNREAD != nullptr) {
            UNREAD->push_back({ELEMENT, NAME, WHY});
        } else {
            gf_logWarning(LOUD ? WHY + ", skipped" : WHY);
        }
        return false;
    };
    if (std::string problem = lf_standProblem(ELEMENT, NAME); !problem.empty()) {
        return skip(problem, true);
    }
    const double lat = *gf_attributeNumber(ELEMENT, "latitude", 0.0).value;
    const double lon = *gf_attributeNumber(ELEMENT, "longitude", 0.0).value;
    if (!gf_isStandPosition(lat, lon)) {
        return skip(fmt::format("stand {} has an invalid lat/lon '{}'/'{}'", NAME,
                                gf_excerpt(ELEMENT.attribute("latitude").as_string()),
                                gf_excerpt(ELEMENT.attribute("longitude").as_string())),
                    true);
    }
    if (lat == 0.0 && lon == 0.0) {
        return skip(fmt::format("stand {} has no valid lat/lon", NAME), false);
    }
    const double radius = *gf_attributeNumber(ELEMENT, "radius", 0.0).value;
    const std::optional<double> heading = gf_standHeadingRad(*gf_attributeNumber(ELEMENT, "heading", 0.0).value);
    if (!gf_isStandRadius(radius) || !heading) {
        return skip(fmt::format("stand {} has an invalid radius '{}' m (0 to {} m) or heading '{}'", NAME,
                                gf_excerpt(ELEMENT.attribute("radius").as_string()), kMaxStandRadiusM,
                                gf_excerpt(ELEMENT.attribute("heading").as_string())),
                    true);
    }
    const long long type = *gf_attributeNumber(ELEMENT, "type", 0LL).value;
    if (type < 0 || type > 0xffff) {
        return skip(fmt::format("stand {} has a type out of range '{}'", NAME,
                                gf_excerpt(ELEMENT.attribute("type").as_string())),
                    true);
    }
    const bool cargoChange = ELEMENT.attribute("cargo_change").as_bool(false);
    const bool cargo = (type == 0 || cargoChange) && ELEMENT.attribute("cargo").as_bool(false);
    const bool ramp = type == 0 && ELEMENT.attribute("ramp").as_bool(false);
    const bool heli = ELEMENT.attribute("heli").as_bool(false);

    std::vector<StandOption> options = lf_readOptions(ELEMENT, NAME, SOURCE, UNREAD);
    Stand& stand = STANDS.emplace_back(NAME, std::move(options), lat, lon, *heading, radius,
                                       static_cast<uint16_t>(type), cargo, ramp, heli);
    // Flags that a learned stand list carries for its next save.
    stand.manual = ELEMENT.attribute("manual").as_bool(false) ? 1 : 0;
    stand.radiusChanged = ELEMENT.attribute("radius_change").as_bool(false) ? 1 : 0;
    stand.cargoChanged = cargoChange ? 1 : 0;
    return true;
}

void gf_checkStandCount(pugi::xml_node POSITIONS)
{
    size_t count = 0;
    for (pugi::xml_node pos = POSITIONS.child("parkpos"); pos; pos = pos.next_sibling("parkpos")) {
        if (++count > kMaxAirportStands) {
            throw UserErrorException(93, fmt::format("The file lists more than {} stands.", kMaxAirportStands));
        }
    }
}

void lf_readStands(const pugi::xml_document& DOC, std::vector<Stand>& STANDS, UnreadRecords* UNREAD)
{
    const pugi::xml_node positions = gf_parkPositionsOf(DOC);
    if (!positions) {
        return;
    }
    gf_checkStandCount(positions);
    std::unordered_set<std::string> seen;
    int number = 0;
    for (pugi::xml_node pos : positions.children("parkpos")) {
        ++number;
        const pugi::xml_attribute idAttr = pos.attribute("id");
        if (!idAttr) {
            throw UserErrorException(93, fmt::format("Parking position #{} has no '{}' attribute.", number, "id"));
        }
        std::string id = gf_trim(idAttr.value());
        if (id.empty()) {
            throw UserErrorException(93, fmt::format("Stand #{} has empty '{}' attribute.", number, "id"));
        }
        if (!seen.insert(id).second) {
            throw UserErrorException(94, fmt::format("Stand '{}' appears more than once.", id));
        }
        lf_readStand(pos, id, 1, STANDS, UNREAD);
    }
}

void gf_numberStandsAndAdjacency(std::vector<Stand>& STANDS)
{
    const size_t n = STANDS.size();
    double largestRadius = 0.0;
    for (size_t i = 0; i < n; ++i) {
        STANDS[i].standId = static_cast<uint32_t>(i + 1);
        STANDS[i].adjacent.clear();
        largestRadius = std::max(largestRadius, STANDS[i].radius);
    }
    // Overlap is symmetric: each pair is measured once and noted on both stands. The
    // stands are swept in order of latitude: the great-circle distance is at least the
    // latitude difference along the meridian, so once that alone rules out an overlap
    // with the largest stand, no later stand of the sweep can overlap.
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) {
        order[i] = i;
    }
    //
    // Whatever a file says, the pass stays near-linear: each stand measures at most
    // kSweepBudget followers (real airports never have that many stands within a few hundred
    // metres of latitude) and keeps at most kMaxAdjacentStands neighbours.
    constexpr size_t kSweepBudget = 1024;
    // The chord between two points never exceeds the arc: a pair whose chord already rules out
    // an overlap needs no great-circle formula (stands stacked on one spot cost three products).
    struct Unit {
        double x, y, z;
    };
    std::vector<Unit> unit(n);
    for (size_t i = 0; i < n; ++i) {
        const double lat = STANDS[i].latitude * kDegToRad;
        const double lon = STANDS[i].longitude * kDegToRad;
        unit[i] = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
    }
    const auto chordNm = [&unit](size_t A, size_t B) {
        const double dx = unit[A].x - unit[B].x, dy = unit[A].y - unit[B].y, dz = unit[A].z - unit[B].z;
        return kEarthRadiusNm * std::sqrt(dx * dx + dy * dy + dz * dz);
    };
    std::sort(order.begin(), order.end(),
              [&STANDS](size_t A, size_t B) { return STANDS[A].latitude < STANDS[B].latitude; });
    for (size_t i = 0; i < n; ++i) {
        Stand& a = STANDS[order[i]];
        const double reach = (a.radius + largestRadius) / 1.1 * (1.0 + 1e-9);
        const size_t end = std::min(n, i + 1 + kSweepBudget);
        for (size_t j = i + 1; j < end && a.adjacent.size() < kMaxAdjacentStands; ++j) {
            Stand& b = STANDS[order[j]];
            if ((b.latitude - a.latitude) * kDegToRad * kEarthRadiusNm > reach) {
                break;
            }
            if (1.1 * chordNm(order[i], order[j]) * (1.0 - 1e-9) >= a.radius + b.radius) {
                continue;
            }
            if (b.adjacent.size() < kMaxAdjacentStands && lf_overlaps(a, b)) {
                a.adjacent.push_back(b.standId);
                b.adjacent.push_back(a.standId);
            }
        }
    }
    for (Stand& s : STANDS) {
        std::sort(s.adjacent.begin(), s.adjacent.end());
        s.adjacent.shrink_to_fit();
    }
}

namespace {

// The settings follow the file's quality factors when the airport has no learned file.
void lf_settingsFromQuality()
{
    const int32_t real = gf_qualityReal(g_qualityFactors);
    const int32_t soft = gf_qualitySoft(g_qualityFactors);
    if (real < 3 && soft > 0) {
        gf_setApfFlagSetting(ApfSetting::parkSoft, true);
        gf_setApfFlagSetting(ApfSetting::week, true);
        gf_setMaxFitHours(24.0);
    } else if (real > 45) {
        gf_setApfFlagSetting(ApfSetting::parkSoft, false);
        gf_setApfFlagSetting(ApfSetting::week, false);
    }
    const int stands = gf_airportStandCount(gf_parkAirportCode());
    const int percentage = stands == 1 ? 100 : (stands == 2 ? 50 : 30);
    gf_setParkingPercentage(percentage);
    gf_logLine(fmt::format("{:24}: {}%", gf_apfSettingName(static_cast<size_t>(ApfSetting::parkingPercentage)),
                           percentage));
}

// The required altitude parameter, read whole and within the altitudes of airports.
int32_t lf_airportAltitude(const pugi::xml_document& DOC)
{
    const NumberRead<int> altitude = gf_findParameter(DOC, "altitude");
    if (!altitude.error.empty()) {
        throw UserErrorException(65, fmt::format("Parameter {}", altitude.error));
    }
    if (!altitude.value) {
        throw UserErrorException(65, fmt::format("Parameter {} not found", "altitude"));
    }
    if (*altitude.value < kLowestAirportFt || *altitude.value > kHighestAirportFt) {
        throw UserErrorException(65, fmt::format("Parameter {} out of range: {}", "altitude", *altitude.value));
    }
    return *altitude.value;
}

// The learned file of the airport file NAME on top of the stand table; answers the name that
// the log shows as read (the learned file's when a handmade one replaced the stand list).
std::string lf_readLearnedOf(const std::string& NAME, ParkApfInfo& INFO)
{
    const fs::path learned = lf_learnedPathOf(NAME, INFO.publisher);
    std::error_code ec;
    if (learned.empty() || !fs::exists(learned, ec)) {
        gf_logLine("learned does not exist");
        lf_settingsFromQuality();
        return NAME;
    }
    lf_readLearned(learned, INFO, g_stands, g_handmade);
    g_qualityFactors = gf_computeQualityFactors();
    if (g_handmade) {
        gf_logLine("A handmade airport file overruled the archived file!");
        return learned.string();
    }
    return NAME;
}

std::string lf_readApf(const std::string& NAME, ParkApfInfo& INFO)
{
    fs::path path;
    bool downloaded = false;
    if (NAME.rfind("airports", 0) == 0) {
        path = g_workPath / fs::path(NAME);
    } else {
        path = g_airportsPath / kParkAirportFile;
        std::string error = lf_downloadArchivedApf(NAME, path);
        if (!error.empty()) {
            return error;
        }
        downloaded = true;
    }
    g_handmade = 0;
    gf_initApfSettingNames();
    pugi::xml_document doc;
    const pugi::xml_parse_result loaded = doc.load_file(path.c_str());
    if (!loaded) {
        if (downloaded) {
            std::error_code ec;
            fs::remove(path, ec);  // a broken download is no use to anyone
        }
        return fmt::format("{}: could not load file: {}", NAME, path.string());
    }
    if (!gf_readXmlMeta(doc, 0).accepted) {
        return fmt::format("{}: refused to load", NAME);
    }
    g_rtTrafficWeek = gf_takeIntParameter(doc, "RT_traffic_week", NAME).value_or(0);
    ParkApfInfo info;
    info.apfName = NAME;
    info.publisher = gf_stringParameterByName(doc, "publisher").value_or("");
    info.altitudeFt = lf_airportAltitude(doc);
    info.airportName = gf_stringParameterByName(doc, "airport_name").value_or("");
    g_parkAirportElevation = static_cast<float>(info.altitudeFt);
    g_parkAirport.altitude = info.altitudeFt;

    std::vector<Stand> stands;
    lf_readStands(doc, stands);
    g_stands = std::move(stands);
    gf_forgetStandAtPosition();
    const auto qfReal = gf_takeIntParameter(doc, "Qf_real", NAME);
    const auto qfSoft = gf_takeIntParameter(doc, "Qf_soft", NAME);
    if (qfReal && qfSoft) {
        g_qualityFactors = gf_packQualityFactors(std::clamp(*qfReal, 0, 100), std::clamp(*qfSoft, 0, 100));
    }
    for (size_t i = 0; i < kApfSettingCount; ++i) {
        g_apfSettingsAtRead[i] = gf_apfSettingText(i);
    }

    const std::string shownName = lf_readLearnedOf(NAME, info);
    INFO = std::move(info);

    gf_windowSetStandCount(static_cast<int>(g_stands.size()));
    gf_numberStandsAndAdjacency(g_stands);
    // The table stays as read until the next airport file: no spare room.
    g_stands.shrink_to_fit();

    gf_logLine(fmt::format("Airport file read from '{}' for {}", shownName, INFO.airportName));
    gf_logContinuation(fmt::format("{:24}: {}", "publisher", INFO.publisher));
    gf_logContinuation(fmt::format("{:24}: {} ft", "altitude", INFO.altitudeFt));
    gf_logContinuation(fmt::format("{:24}: {}", "num_parkpos", g_stands.size()));
    gf_logContinuation(fmt::format("{:24}: {}", "quality factor", gf_qualityFactorText()));
    gf_logContinuation(fmt::format("{:24}: {}", "RT traffic week", g_rtTrafficWeek));

    g_qualityText = gf_qualityFactorText();
    gf_windowShowApf(INFO.publisher, g_handmade != 0, g_qualityText);
    g_apfRead = 1;
    if (g_stands.empty()) {
        return "no stands found";
    }
    g_parkLoaded = 1;
    return {};
}

} // namespace

std::string gf_readApf(const std::string& NAME, ParkApfInfo& INFO)
{
    constexpr const char* fn = "gf_readApf";
    if (NAME.empty()) {
        return fmt::format("{}: xml is empty", fn);
    }
    if (gf_parkAirportCode().empty()) {
        return fmt::format("{}: no park airport set", fn);
    }
    // Whatever happens below, nothing of an earlier airport may count for this one,
    // and only a complete read may lead to a save over the learned file.
    g_parkLoaded = 0;
    g_qualityFactors = gf_packQualityFactors(-1, -1);
    gf_clearLearnedKept();
    // A read that fails halfway leaves no stand behind: a half-filled table would be taken
    // for the airport's stands.
    try {
        return lf_readApf(NAME, INFO);
    } catch (const UserErrorException& e) {
        // The park-airport manager shows the text; the exception never leaves the worker's tick.
        gf_clearStands();
        return e.what();
    } catch (const std::exception& e) {
        gf_clearStands();
        return fmt::format("{}: {}", fn, e.what());
    }
}

void gf_resetAirportFileForTests()
{
    g_apfSettingsAtRead = {};
    g_rtTrafficWeek = 0;
    g_apfRead = 0;
}

} // namespace qmt
