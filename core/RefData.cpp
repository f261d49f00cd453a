#include "core/RefData.h"

#include <atomic>
#include <algorithm>
#include <chrono>
#include <mutex>

#include <pugixml.hpp>

#include "core/Airports.h"
#include "core/Crypto.h"
#include "core/Files.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Random.h"
#include "core/Text.h"
#include "core/XmlMeta.h"

namespace qmt {

std::vector<DbaseRecord> g_dbaseRecords;
std::unordered_set<std::string> g_icaoAirlines;
std::unordered_set<std::string> g_validModels;
std::unordered_map<std::string, std::string> g_modelFixes;
std::unordered_set<std::string> g_largeModels;
std::unordered_set<std::string> g_heavyModels;
std::unordered_set<std::string> g_buzjetModels;
std::unordered_set<std::string> g_rotorcraftModels;
std::unordered_set<std::string> g_highPerfModels;
std::vector<double> g_halfSpans;
std::vector<std::vector<std::string>> g_similarGroups;
std::map<std::string, std::vector<std::string>> g_regPrefixes;
std::vector<std::vector<std::string>> g_publishers;
std::set<std::string> g_simaddon20;
std::set<std::string> g_simaddon24;
std::vector<ThirdpartyEntry> g_thirdparties20;
std::vector<ThirdpartyEntry> g_thirdparties24;

namespace {

// The data files were read by gf_readDataFilesOnce in this program run (cleared with the dbase).
std::atomic<bool> s_dataFilesRead{false};

// Lock order: g_hwspLoggedMutex is taken alone (released before logging).
std::mutex g_hwspLoggedMutex;                  // guards g_hwspLogged
std::unordered_set<std::uint16_t> g_hwspLogged; // model ids whose missing span was logged

std::unordered_set<std::string>* lf_categorySet(std::string_view category)
{
    if (category == "Large") return &g_largeModels;
    if (category == "Heavy") return &g_heavyModels;
    if (category == "Buzjets") return &g_buzjetModels;
    if (category == "Rotorcraft") return &g_rotorcraftModels;
    if (category == "HighPerf") return &g_highPerfModels;
    return nullptr; // Light: in no set
}

std::vector<std::string> lf_nonEmpty(std::vector<std::string> items)
{
    items.erase(std::remove(items.begin(), items.end(), std::string()), items.end());
    return items;
}

void lf_readThirdparties(const pugi::xml_node& node, std::vector<ThirdpartyEntry>& out)
{
    for (auto t : node.children("t")) {
        ThirdpartyEntry e;
        e.publisher = gf_trim(t.attribute("p").as_string());
        e.entries = lf_nonEmpty(gf_splitCommaTrim(t.text().as_string()));
        out.push_back(std::move(e));
    }
}

void lf_readSimaddons(const pugi::xml_node& node, std::set<std::string>& out)
{
    for (const auto& code : gf_splitCommaTrim(node.text().as_string()))
        if (code.size() == 4) out.insert(gf_upper(code));
}

// Decrypts one data file to a plain file in the working folder, reads it and removes it again.
template <typename Reader>
bool lf_readEncrypted(std::string_view encName, std::string_view xmlName, Reader reader)
{
    const std::filesystem::path enc = g_inputPath / encName;
    const std::filesystem::path xml = (g_workPath.empty() ? g_inputPath : g_workPath) / xmlName;
    if (!gf_streamDecrypt(enc, xml)) return false;
    const bool ok = reader(xml);
    gf_removeFileWarn(xml);
    return ok;
}

} // namespace

void gf_clearDbase()
{
    s_dataFilesRead = false;
    g_dbaseRecords.clear();
    g_icaoAirlines.clear();
    g_validModels.clear();
    g_modelFixes.clear();
    g_largeModels.clear();
    g_heavyModels.clear();
    g_buzjetModels.clear();
    g_rotorcraftModels.clear();
    g_highPerfModels.clear();
    g_halfSpans.clear();
    g_similarGroups.clear();
    g_regPrefixes.clear();
    g_publishers.clear();
    g_simaddon20.clear();
    g_simaddon24.clear();
    g_thirdparties20.clear();
    g_thirdparties24.clear();
    {
        std::lock_guard lock(g_hwspLoggedMutex);
        g_hwspLogged.clear();
    }
    gf_resetInternedCodes();
}

bool gf_readDbase(const std::filesystem::path& xmlPath)
{
    gf_clearDbase();
    pugi::xml_document doc;
    if (!gf_loadOwnXml(doc, xmlPath)) {
        return false;
    }
    const auto root = doc.child("root");
    try {
        for (auto a : root.child("airlines").children("a")) {
            const std::string code = gf_trim(a.attribute("c").as_string());
            if (code.empty()) continue;
            g_icaoAirlines.insert(code);
            gf_airlineId(code);
        }
        // Models: ids first, so the wing-span table can be indexed by model id.
        std::vector<std::pair<std::uint16_t, double>> spans;
        for (auto m : root.child("models").children("m")) {
            const std::string code = gf_trim(m.attribute("c").as_string());
            if (code.empty()) continue;
            g_validModels.insert(code);
            if (auto* set = lf_categorySet(m.attribute("cat").as_string())) set->insert(code);
            // A span that does not read whole counts as unknown.
            spans.emplace_back(gf_modelId(code), gf_attributeNumber(m, "span", 0.0).value.value_or(0.0));
        }
        for (auto f : root.child("fixes").children("f")) {
            const std::string from = gf_trim(f.attribute("from").as_string());
            const std::string to = gf_trim(f.attribute("to").as_string());
            if (!from.empty() && !to.empty()) g_modelFixes.emplace(from, to);
        }
        for (auto r : root.child("registrations").children("r")) {
            const std::string key = gf_trim(r.attribute("k").as_string());
            if (key.empty()) continue;
            AcKind kind;
            kind.airlineId = gf_airlineId(gf_trim(r.attribute("a").as_string()));
            kind.operatorId = gf_airlineId(gf_trim(r.attribute("o").as_string()));
            kind.modelId = gf_modelId(gf_trim(r.attribute("m").as_string()));
            kind.cargo = r.attribute("cargo").as_bool() ? 1 : 0;
            kind.marker = 1; // a record's kind is complete
            g_dbaseRecords.push_back(DbaseRecord{key, gf_kindValue(kind)});
        }
        std::stable_sort(g_dbaseRecords.begin(), g_dbaseRecords.end(),
                         [](const DbaseRecord& x, const DbaseRecord& y) { return x.key < y.key; });
        g_dbaseRecords.erase(std::unique(g_dbaseRecords.begin(), g_dbaseRecords.end(),
                                         [](const DbaseRecord& x, const DbaseRecord& y) { return x.key == y.key; }),
                             g_dbaseRecords.end());
        for (auto g : root.child("similar").children("g")) {
            auto group = lf_nonEmpty(gf_splitCommaTrim(g.text().as_string()));
            if (!group.empty()) g_similarGroups.push_back(std::move(group));
        }
        for (auto p : root.child("prefixes").children("p")) {
            const std::string key = gf_trim(p.attribute("k").as_string());
            if (!key.empty()) g_regPrefixes[key] = lf_nonEmpty(gf_splitCommaTrim(p.attribute("alt").as_string()));
        }
        for (auto p : root.child("publishers").children("p")) {
            auto names = gf_splitCommaTrim(p.text().as_string());
            if (!names.empty()) g_publishers.push_back(std::move(names));
        }
        lf_readSimaddons(root.child("simaddon20"), g_simaddon20);
        lf_readSimaddons(root.child("simaddon24"), g_simaddon24);
        lf_readThirdparties(root.child("thirdparties20"), g_thirdparties20);
        lf_readThirdparties(root.child("thirdparties24"), g_thirdparties24);

        g_halfSpans.assign(g_modelIds.size(), 0.0);
        for (const auto& [id, span] : spans)
            if (id < g_halfSpans.size() && span > 0.0 && span <= kLargestWingSpanM)
                g_halfSpans[id] = span / 2.0 * kNmPerMetre;
    } catch (const std::exception& e) {
        gf_logWarning("{}: {}", "gf_readDbase", e.what());
        return false;
    }
    gf_logLine("{:5} airline{} read", g_icaoAirlines.size(), gf_plural(g_icaoAirlines.size()));
    gf_logLine("{:5} model{} read", g_validModels.size(), gf_plural(g_validModels.size()));
    gf_logLine("{:5} registration record{} read", g_dbaseRecords.size(), gf_plural(g_dbaseRecords.size()));
    return true;
}

bool gf_readDataFilesOnce()
{
    if (s_dataFilesRead.load()) {
        return true;
    }
    s_dataFilesRead = gf_readDataFiles();
    return s_dataFilesRead.load();
}

bool gf_readDataFiles()
{
    // The start-up reads the whole world's reference data: its cost is logged so that a
    // slow start can be told apart from a slow simulator.
    const auto start = std::chrono::steady_clock::now();
    const bool dbaseOk = lf_readEncrypted(kDbaseEncFile, kDbaseXmlFile, gf_readDbase);
    const bool airportsOk = lf_readEncrypted(kAirportsEncFile, kAirportsXmlFile, gf_readAirports);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    gf_logLine("reference data read in {} ms", ms.count());
    return dbaseOk && airportsOk;
}

bool gf_isIcaoAirline(std::string_view code) { return g_icaoAirlines.contains(std::string(code)); }

bool gf_isValidModel(std::string_view code) { return g_validModels.contains(std::string(code)); }

std::string lf_modelFix(std::string_view code)
{
    const auto it = g_modelFixes.find(std::string(code));
    return it == g_modelFixes.end() ? std::string() : it->second;
}

std::vector<std::string> gf_regVariants(std::string_view reg)
{
    std::vector<std::string> v;
    if (reg.size() >= 5 && reg.front() != 'N' && reg.find('-') == std::string_view::npos) {
        v.push_back(std::string(reg.substr(0, 2)) + '-' + std::string(reg.substr(2)));
        v.push_back(std::string(reg.substr(0, 1)) + '-' + std::string(reg.substr(1)));
    }
    v.emplace_back(reg);
    return v;
}

std::optional<AcKind> gf_findRegRecord(std::string_view reg)
{
    if (reg.empty()) return std::nullopt;
    for (const auto& variant : gf_regVariants(reg)) {
        const auto it = std::lower_bound(g_dbaseRecords.begin(), g_dbaseRecords.end(), variant,
                                         [](const DbaseRecord& r, const std::string& k) { return r.key < k; });
        if (it != g_dbaseRecords.end() && it->key == variant) return gf_kindFromValue(it->value);
    }
    return std::nullopt;
}

std::optional<std::string> gf_findRecordInText(std::string_view text)
{
    for (const auto& r : g_dbaseRecords)
        if (r.key.size() < 6 && text.find(r.key) != std::string_view::npos) return r.key;
    return std::nullopt;
}

AcCategory gf_modelCodeCategory(std::string_view code)
{
    const std::string c(code);
    if (g_largeModels.contains(c)) return AcCategory::Large;
    if (g_heavyModels.contains(c)) return AcCategory::Heavy;
    if (g_buzjetModels.contains(c)) return AcCategory::Buzjets;
    if (g_rotorcraftModels.contains(c)) return AcCategory::Rotorcraft;
    if (g_highPerfModels.contains(c)) return AcCategory::HighPerf;
    return AcCategory::Light;
}

AcCategory gf_modelCategory(std::uint16_t modelId) { return gf_modelCodeCategory(gf_modelCode(modelId)); }

std::vector<std::string> gf_prefixesOf(std::string_view prefix)
{
    const auto it = g_regPrefixes.find(std::string(prefix));
    if (it == g_regPrefixes.end()) return {};
    std::vector<std::string> v = it->second;
    for (std::size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[gf_randomIndex(i)]);
    return v;
}

double hwsp(std::uint16_t modelId)
{
    if (modelId < g_halfSpans.size() && g_halfSpans[modelId] > 0.0) return g_halfSpans[modelId];
    // hwsp runs in per-tick checks: one line per model, not one per call.
    bool first = false;
    {
        std::lock_guard lock(g_hwspLoggedMutex);
        first = g_hwspLogged.insert(modelId).second;
    }
    if (first)
        gf_logLine("hwsp: {} what: {}", modelId, modelId < g_halfSpans.size() ? "no span" : "outside the wingspan table");
    return kDefaultHalfSpanNm;
}

} // namespace qmt
