#include "core/Parameters.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <sstream>
#include <type_traits>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/FileCommit.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Text.h"

namespace qmt {
namespace {

std::optional<int> lf_parseInt(std::string_view text)
{
    const std::string t = gf_trim(text);
    int v = 0;
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || ptr != t.data() + t.size()) return std::nullopt;
    return v;
}

std::optional<bool> lf_parseBool(std::string_view text)
{
    const std::string t = gf_lower(gf_trim(text));
    if (t == "true" || t == "1" || t == "yes") return true;
    if (t == "false" || t == "0" || t == "no") return false;
    return std::nullopt;
}

std::optional<float> lf_parseFloat(std::string_view text)
{
    const std::string t = gf_trim(text);
    float v = 0.0f;
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || ptr != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::string lf_boolText(bool v) { return v ? "true" : "false"; }
std::string lf_floatText(float v) { return fmt::format("{:.1f}", v); }

// The 64 package orders: every subset of AIG, FSLTL, JF, MTL (4, 3, 2, 1 elements, subsets in
// lexicographic order of that base order), each in all its orderings in lexicographic order.
std::vector<std::string> lf_packageChoices()
{
    static constexpr std::string_view base[4] = {"AIG", "FSLTL", "JF", "MTL"};
    std::vector<std::string> out;
    for (int k = 4; k >= 1; --k) {
        std::vector<std::vector<int>> subsets;
        for (int mask = 0; mask < 16; ++mask) {
            if (__builtin_popcount(static_cast<unsigned>(mask)) != k) continue;
            std::vector<int> s;
            for (int i = 0; i < 4; ++i)
                if (mask & (1 << i)) s.push_back(i);
            subsets.push_back(s);
        }
        std::sort(subsets.begin(), subsets.end());
        for (auto s : subsets) {
            do {
                std::string text;
                for (std::size_t i = 0; i < s.size(); ++i) {
                    if (i) text += ", ";
                    text += base[s[i]];
                }
                out.push_back(text);
            } while (std::next_permutation(s.begin(), s.end()));
        }
    }
    return out;
}

// Lock order: g_parametersFileMutex, then the log mutex.
std::mutex g_parametersFileMutex; // serialises reads and writes of parameters.xml
// Set when a broken parameters.xml was met: for the rest of the run the saves leave the
// generations alone, which hold the last good settings.
std::atomic<bool> g_brokenFileKept{false};

} // namespace

// ---- kinds ----

IntParameter::IntParameter(std::string_view name, int defaultValue, int minValue, int maxValue)
    : Parameter(name, ParameterKind::Int), m_default(defaultValue), m_min(minValue), m_max(maxValue), m_value(defaultValue)
{
}

int IntParameter::set(int v)
{
    const int c = std::clamp(v, m_min, m_max);
    m_value.store(c);
    return c;
}

std::string IntParameter::text() const { return fmt::format("{}", value()); }
std::string IntParameter::defaultText() const { return fmt::format("{}", m_default); }

bool IntParameter::setText(std::string_view text)
{
    const auto v = lf_parseInt(text);
    if (!v) return false;
    set(*v);
    return true;
}

BoolParameter::BoolParameter(std::string_view name, bool defaultValue, ParameterKind kind)
    : Parameter(name, kind), m_default(defaultValue), m_value(defaultValue)
{
}

std::string BoolParameter::text() const { return lf_boolText(value()); }
std::string BoolParameter::defaultText() const { return lf_boolText(m_default); }

bool BoolParameter::setText(std::string_view text)
{
    const auto v = lf_parseBool(text);
    if (!v) return false;
    set(*v);
    return true;
}

StringParameter::StringParameter(std::string_view name, std::string_view defaultValue, ParameterKind kind)
    : Parameter(name, kind), m_default(defaultValue), m_value(defaultValue)
{
}

std::string StringParameter::value() const
{
    std::lock_guard lock(m_mutex);
    return m_value;
}

void StringParameter::set(std::string_view v)
{
    std::lock_guard lock(m_mutex);
    m_value.assign(v);
}

bool StringParameter::empty() const
{
    std::lock_guard lock(m_mutex);
    return m_value.empty();
}

bool StringParameter::setText(std::string_view text)
{
    set(text);
    return true;
}

void StringParameter::reset() { set(m_default); }

StringChoiceParameter::StringChoiceParameter(std::string_view name, std::vector<std::string> choices, std::string_view defaultValue)
    : Parameter(name, ParameterKind::StringChoice), m_choices(std::move(choices)), m_default(defaultValue), m_value(defaultValue)
{
}

std::string StringChoiceParameter::value() const
{
    std::lock_guard lock(m_mutex);
    return m_value;
}

bool StringChoiceParameter::set(std::string_view v)
{
    const bool listed = std::find(m_choices.begin(), m_choices.end(), v) != m_choices.end();
    std::lock_guard lock(m_mutex);
    m_value.assign(listed ? v : std::string_view(m_default));
    return listed;
}

std::optional<std::size_t> StringChoiceParameter::currentIndex() const
{
    const std::string v = value();
    const auto it = std::find(m_choices.begin(), m_choices.end(), v);
    if (it == m_choices.end()) return std::nullopt;
    return static_cast<std::size_t>(it - m_choices.begin());
}

bool StringChoiceParameter::setText(std::string_view text)
{
    return set(text);
}

void StringChoiceParameter::reset() { set(m_default); }

template <typename T>
std::optional<std::size_t> NumberChoiceParameter<T>::indexOf(T v) const
{
    for (std::size_t i = 0; i < m_choices.size(); ++i) {
        if constexpr (std::is_floating_point_v<T>) {
            if (std::fabs(m_choices[i] - v) < 0.01f)
                return i;
        } else if (m_choices[i] == v) {
            return i;
        }
    }
    return std::nullopt;
}

template <typename T>
bool NumberChoiceParameter<T>::set(T v)
{
    const std::optional<std::size_t> index = indexOf(v);
    m_value.store(index ? m_choices[*index] : m_default);
    return index.has_value();
}

template <typename T>
std::string NumberChoiceParameter<T>::text() const
{
    if constexpr (std::is_floating_point_v<T>)
        return lf_floatText(value());
    else
        return fmt::format("{}", value());
}

template <typename T>
std::string NumberChoiceParameter<T>::defaultText() const
{
    if constexpr (std::is_floating_point_v<T>)
        return lf_floatText(m_default);
    else
        return fmt::format("{}", m_default);
}

template <typename T>
bool NumberChoiceParameter<T>::setText(std::string_view text)
{
    std::optional<T> v;
    if constexpr (std::is_floating_point_v<T>)
        v = lf_parseFloat(text);
    else
        v = lf_parseInt(text);
    return v && set(*v);
}

template class NumberChoiceParameter<int>;
template class NumberChoiceParameter<float>;

CallsignMapParameter::CallsignMapParameter(std::string_view name) : Parameter(name, ParameterKind::CallsignMap) {}

std::string CallsignMapParameter::chosen() const
{
    std::lock_guard lock(m_mutex);
    return m_chosen;
}

void CallsignMapParameter::choose(std::string_view callsign)
{
    std::lock_guard lock(m_mutex);
    m_chosen.assign(callsign);
}

std::map<std::string, std::uint32_t> CallsignMapParameter::entries() const
{
    std::lock_guard lock(m_mutex);
    return m_entries;
}

void CallsignMapParameter::setEntries(std::map<std::string, std::uint32_t> entries)
{
    std::lock_guard lock(m_mutex);
    m_entries = std::move(entries);
}

std::optional<std::uint32_t> CallsignMapParameter::objectIdOf(std::string_view callsign) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.find(std::string(callsign));
    if (it == m_entries.end()) return std::nullopt;
    return it->second;
}

bool CallsignMapParameter::setText(std::string_view text)
{
    choose(gf_trim(text));
    return true;
}

void CallsignMapParameter::reset()
{
    std::lock_guard lock(m_mutex);
    m_chosen.clear();
    m_entries.clear();
}

// ---- the settings ----

BoolCtrlParameter SCAN_LIVERIES("SCAN_LIVERIES", true);
BoolCtrlParameter LIG_AUTOMATIC("LIG_AUTOMATIC", true);
BoolCtrlParameter LIG_PRIORITIZE("LIG_PRIORITIZE", true);
StringChoiceParameter AI_PACKAGE_SELECTOR("AI_PACKAGE_SELECTOR", lf_packageChoices(), "AIG, FSLTL, JF, MTL");
std::array<StringCtrlParameter, 10> LFOLDERS{{{"lfolder0", ""}, {"lfolder1", ""}, {"lfolder2", ""}, {"lfolder3", ""},
                                              {"lfolder4", ""}, {"lfolder5", ""}, {"lfolder6", ""}, {"lfolder7", ""},
                                              {"lfolder8", ""}, {"lfolder9", ""}}};
IntChoiceParameter MATCHING_DEPTH("MATCHING_DEPTH", {1, 2, 3, 4}, 4);

BoolCtrlParameter LIGHT_AIRCRAFT("LIGHT_AIRCRAFT", true);
BoolCtrlParameter HIGH_PERF_AIRCRAFT("HIGH_PERF_AIRCRAFT", true);
BoolCtrlParameter HELICOPTERS("HELICOPTERS", true);

IntParameter MAX_LIVE_SEL("MAX_LIVE_SEL", 100, 0, 500);
IntParameter RANGE("RANGE", 30, 5, 100);
BoolCtrlParameter AUTO_RANGE("AUTO_RANGE", false);
BoolCtrlParameter COLLISION_USER_GND("COLLISION_USER_GND", true);
BoolCtrlParameter COLLISION_USER_AIR("COLLISION_USER_AIR", true);
BoolCtrlParameter COLLISION_LIVE_PARKED_GND("COLLISION_LIVE_PARKED_GND", true);
BoolCtrlParameter NAV_LIGHTS_WHILE_PARKED("NAV_LIGHTS_WHILE_PARKED", false);
BoolCtrlParameter GUID_CHANGES("GUID_CHANGES", true);
BoolCtrlParameter AIRBORNE_ONLY("AIRBORNE_ONLY", false);
IntParameter MAX_HOLDING_MINUTES("MAX_HOLDING_MINUTES", 10, 0, 240);
IntParameter HOLDING_THRESHOLD_METERS("HOLDING_THRESHOLD_METERS", 100, 0, 10000);
BoolCtrlParameter STRAIGHT_PBS_ONLY("STRAIGHT_PBS_ONLY", false);
CallsignMapParameter CALLSIGN_2_OBJECTID("CALLSIGN_2_OBJECTID");
StringCtrlParameter BLOCKED_CALLSIGNS("BLOCKED_CALLSIGNS", "");
BoolCtrlParameter OBJECTID_LIST("OBJECTID_LIST", false);

IntChoiceParameter MAX_PARK_SEL("MAX_PARK_SEL", {0, 10, 20, 30, 50, 75, 100, 150, 200, 300, 500}, 100);
IntChoiceParameter parking_percentage("parking_percentage", {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 30);
IntParameter CUSTOM_PARKING_PERCENTAGE("CUSTOM_PARKING_PERCENTAGE", -1, -1, 100);
BoolCtrlParameter WEEK("WEEK", false);
BoolCtrlParameter PARK_SOFT("PARK_SOFT", false);
BoolCtrlParameter RT_PARKTRAFFIC_ONLY("RT_PARKTRAFFIC_ONLY", false);
BoolCtrlParameter INITIAL_LOAD_ONLY("INITIAL_LOAD_ONLY", false);
IntParameter MAX_FIT("MAX_FIT", 47, 0, 47);
FloatChoiceParameter MAX_FIT_FL("MAX_FIT_FL",
                                {0.5f, 1.0f, 1.5f, 2.0f, 2.5f, 3.0f, 3.5f, 4.0f, 4.5f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f, 10.0f,
                                 11.0f, 12.0f, 15.0f, 18.0f, 21.0f, 24.0f},
                                24.0f);
IntParameter AIRP_RANGE("AIRP_RANGE", 20, 1, 200);
IntParameter AIRP_HEIGHT("AIRP_HEIGHT", 18000, 500, 60000);
StringCtrlParameter DESTINATION("DESTINATION", "");

BoolCtrlParameter SCAN_AIRPORTS("SCAN_AIRPORTS", false);

IntChoiceParameter SIM_CHOICE("SIM_CHOICE", {2020, 2024}, 2020);
StringParameter MSFS_INSTALL_PATH("MSFS_INSTALL_PATH", "");
StringParameter MSFS2024_INSTALL_PATH("MSFS2024_INSTALL_PATH", "");
StringCtrlParameter RT_KEY("RT_KEY", "");

IntParameter MAIN_WINDOW_X("MAIN_WINDOW_X", 100, INT_MIN, INT_MAX);
IntParameter MAIN_WINDOW_Y("MAIN_WINDOW_Y", 100, INT_MIN, INT_MAX);
IntParameter TIME_SHIFT_MINUTES("TIME_SHIFT_MINUTES", 0, -7 * 24 * 60, 7 * 24 * 60);

const std::vector<Parameter*>& gf_allParameters()
{
    static const std::vector<Parameter*> all = [] {
        std::vector<Parameter*> v = {&SCAN_LIVERIES, &LIG_AUTOMATIC, &LIG_PRIORITIZE, &AI_PACKAGE_SELECTOR};
        for (auto& p : LFOLDERS) v.push_back(&p);
        v.insert(v.end(), {&MATCHING_DEPTH, &LIGHT_AIRCRAFT, &HIGH_PERF_AIRCRAFT, &HELICOPTERS, &MAX_LIVE_SEL, &RANGE,
                           &AUTO_RANGE, &COLLISION_USER_GND, &COLLISION_USER_AIR, &COLLISION_LIVE_PARKED_GND,
                           &NAV_LIGHTS_WHILE_PARKED, &GUID_CHANGES, &AIRBORNE_ONLY, &MAX_HOLDING_MINUTES,
                           &HOLDING_THRESHOLD_METERS, &STRAIGHT_PBS_ONLY, &CALLSIGN_2_OBJECTID, &BLOCKED_CALLSIGNS,
                           &OBJECTID_LIST, &MAX_PARK_SEL, &parking_percentage, &CUSTOM_PARKING_PERCENTAGE, &WEEK,
                           &PARK_SOFT, &RT_PARKTRAFFIC_ONLY, &INITIAL_LOAD_ONLY, &MAX_FIT, &MAX_FIT_FL, &AIRP_RANGE,
                           &AIRP_HEIGHT, &DESTINATION, &SCAN_AIRPORTS, &SIM_CHOICE, &MSFS_INSTALL_PATH,
                           &MSFS2024_INSTALL_PATH, &RT_KEY, &MAIN_WINDOW_X, &MAIN_WINDOW_Y, &TIME_SHIFT_MINUTES});
        return v;
    }();
    return all;
}

std::vector<Parameter*> gf_parametersOfKind(ParameterKind kind)
{
    std::vector<Parameter*> v;
    for (Parameter* p : gf_allParameters())
        if (p->kind() == kind) v.push_back(p);
    return v;
}

Parameter* gf_parameterByName(std::string_view name)
{
    for (Parameter* p : gf_allParameters())
        if (p->name() == name) return p;
    return nullptr;
}

void gf_resetParametersFileForTests() { g_brokenFileKept.store(false); }

void gf_resetParameters()
{
    for (Parameter* p : gf_allParameters()) {
        p->reset();
        p->control().enable(true);
    }
}

// ---- parameters.xml ----

namespace {

// A real parameters.xml holds a few kilobytes; a file far larger is not the program's.
constexpr std::uintmax_t kMaxParametersBytes = 1u << 20;

// Loads the settings file into DOC: empty when it holds settings, else why it cannot be used.
std::string lf_loadSettingsDocument(const std::filesystem::path& path, pugi::xml_document& doc)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxParametersBytes)
        return fmt::format("{} bytes, more than {} that settings ever take", size, kMaxParametersBytes);
    std::string bytes;
    if (!gf_readFileBytes(path, bytes, kMaxParametersBytes)) return "the file cannot be read";
    const pugi::xml_parse_result res = doc.load_buffer(bytes.data(), bytes.size());
    if (!res) return fmt::format("{} at offset {}", res.description(), res.offset);
    if (!doc.child("root").child("parameters")) return "no root/parameters element";
    return {};
}

void lf_applySettingsDocument(const pugi::xml_document& doc)
{
    for (auto node : doc.child("root").child("parameters").children("parameter")) {
        Parameter* p = gf_parameterByName(node.attribute("name").as_string());
        if (!p) continue;
        const auto value = node.attribute("value");
        if (!value) continue;
        if (!p->setText(value.as_string()))
            gf_logWarning("parameters.xml: invalid value '{}' for {}, {} used", gf_excerpt(value.as_string()),
                          p->name(), gf_excerpt(p->text()));
    }
}

// Settings are what the user chose over time: the file is on the disk before it replaces the
// old one. A full save keeps the previous file as its generation, unless a broken file was met
// this run: the generation then holds the last good settings and stays as it is.
bool lf_commitSettings(const pugi::xml_document& doc, const std::filesystem::path& path, bool keepGeneration)
{
    std::ostringstream bytes;
    doc.save(bytes, "  ", pugi::format_default, pugi::encoding_utf8);
    const int generations = keepGeneration && !g_brokenFileKept.load() ? 1 : 0;
    return gf_commitFile(std::move(bytes).str(), path, CommitOptions{generations, true});
}

bool lf_writeAll(const std::filesystem::path& path)
{
    pugi::xml_document doc;
    auto decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    auto params = doc.append_child("root").append_child("parameters");
    for (const Parameter* p : gf_allParameters()) {
        auto node = params.append_child("parameter");
        node.append_attribute("name") = p->name().c_str();
        node.append_attribute("value") = p->text().c_str();
    }
    return lf_commitSettings(doc, path, true);
}

} // namespace

bool gf_loadParameters(const std::filesystem::path& path, std::string* errorText)
{
    std::lock_guard lock(g_parametersFileMutex);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return true;

    pugi::xml_document doc;
    const std::string error = lf_loadSettingsDocument(path, doc);
    if (error.empty()) {
        lf_applySettingsDocument(doc);
        return true;
    }
    // The broken file is kept under a name of its own for the user to look at, and the newest
    // generation that reads takes its place. No save of this run copies over the generations.
    const std::filesystem::path kept = gf_keepBrokenCopy(path);
    g_brokenFileKept.store(true);
    gf_resetParameters();
    std::string used = "default settings are used";
    for (int n = 1; n <= 3; ++n) {
        const std::filesystem::path generation = gf_generationPath(path, n);
        pugi::xml_document older;
        if (std::filesystem::exists(generation, ec) && lf_loadSettingsDocument(generation, older).empty()) {
            lf_applySettingsDocument(older);
            used = fmt::format("the settings of {} are used", gf_utf16ToUtf8(generation.filename()));
            break;
        }
    }
    const std::string message = fmt::format("{} could not be read ({}), {}; the file is kept as {}",
                                            gf_utf16ToUtf8(path), error, used, gf_utf16ToUtf8(kept));
    gf_logWarning(message);
    if (errorText) *errorText = message;
    return false;
}

bool gf_saveParameters(const std::filesystem::path& path)
{
    std::lock_guard lock(g_parametersFileMutex);
    return lf_writeAll(path);
}

bool gf_saveParameter(const Parameter& parameter)
{
    std::lock_guard lock(g_parametersFileMutex);
    const std::filesystem::path& path = g_parametersPath;
    gf_logLine("{}={}", parameter.name(), gf_excerpt(parameter.text()));
    pugi::xml_document doc;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) || !lf_loadSettingsDocument(path, doc).empty())
        return lf_writeAll(path);
    auto params = doc.child("root").child("parameters");
    // A file edited by hand may name a setting twice, and its reader takes the last: each is set.
    bool found = false;
    for (auto node : params.children("parameter")) {
        if (parameter.name() != node.attribute("name").as_string()) continue;
        auto value = node.attribute("value");
        if (!value) value = node.append_attribute("value");
        value = parameter.text().c_str();
        found = true;
    }
    if (!found) {
        auto node = params.append_child("parameter");
        node.append_attribute("name") = parameter.name().c_str();
        node.append_attribute("value") = parameter.text().c_str();
    }
    return lf_commitSettings(doc, path, false);
}

bool gf_saveBoolParameter(const BoolParameter& parameter) { return gf_saveParameter(parameter); }

} // namespace qmt
