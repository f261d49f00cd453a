#include "liveries/LiveryTables.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>

#include <fmt/format.h>

#include "core/AcKind.h"
#include "core/KindText.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Random.h"
#include "core/RefData.h"
#include "core/Text.h"
#include "core/WindowState.h"
#include "liveries/Matching.h"
#include "liveries/Regcodes.h"
#include "liveries/ScannedLivery.h"
#include "records/AcRecords.h"

namespace qmt {

std::unordered_map<uint16_t, ModelLiveryMap> g_liveryTable;
std::array<std::unordered_map<uint16_t, ModelTitleMap>, 2> g_kindLiveries;
ModelTitleMap g_paxModelLiveries;
ModelTitleMap g_cargoModelLiveries;
std::array<ModelIds, 3> g_genericModels;
std::unordered_map<uint16_t, ModelIds> g_similarModels;
std::unordered_map<uint16_t, std::unordered_map<uint16_t, ModelIds>> g_airlineSimilarModels;
std::array<std::unordered_map<uint16_t, PrefixTitles>, 2> g_prefixedModelLiveries;
std::array<std::unordered_map<uint16_t, PrefixTitles>, 2> g_prefixedPvtLiveries;
bool g_liveriesProcessed = false;

namespace {

constexpr std::size_t kWorkVectorReserve = 4048;
constexpr std::size_t kGroupMapReserve = 128;
constexpr std::size_t kAirlineKeysReserve = 2048;
constexpr std::size_t kCargoKeysReserve = 256;
constexpr std::size_t kPaxModelsReserve = 324;
constexpr std::size_t kCargoModelsReserve = 75;
constexpr std::size_t kIndexWorkReserve = 17000;
constexpr std::size_t kRegcodesReserve = 36000;

// The key of liveries with an operator: the airline code followed by the operator code.
uint16_t lf_combinedKey(uint16_t AIRLINE, uint16_t OPERATOR)
{
    return gf_airlineId(fmt::format("{}{}", gf_airlineCode(AIRLINE), gf_airlineCode(OPERATOR)));
}

// A copy of the title with no spare capacity: 20,000 titles are kept for the whole run.
std::string lf_fittedTitle(const std::string& TITLE)
{
    std::string title(TITLE);
    title.shrink_to_fit();
    return title;
}

// Groups of one airline key while g_liveryTable is built.
class GroupBuilder {
public:
    GroupBuilder()
    {
        m_work.reserve(kWorkVectorReserve);
        m_groups.reserve(kGroupMapReserve);
    }

    // Adds the collected liveries of the current model to the group map (first addition wins).
    void flush(uint16_t MODEL)
    {
        if (m_work.empty()) {
            return;
        }
        if (!m_groups.contains(MODEL)) {
            // Moved element by element so that the stored vector has no spare room.
            m_groups.emplace(MODEL, std::vector<LiveryEntry>(std::make_move_iterator(m_work.begin()),
                                                             std::make_move_iterator(m_work.end())));
        }
        m_work.clear();
    }
    void append(const ScannedLivery& L) { m_work.push_back(LiveryEntry{lf_fittedTitle(L.title), L.kind.cargo != 0}); }
    bool hasGroups() const { return !m_groups.empty(); }

    // Adds the group map under the key (first addition wins); true when it was added. The map is
    // reserved for the models of a large airline while it collects; it is stored at its size,
    // since most keys hold a few models and there are thousands of keys.
    bool addTo(uint16_t KEY)
    {
        if (g_liveryTable.contains(KEY)) {
            return false;
        }
        m_groups.rehash(0);
        g_liveryTable.emplace(KEY, std::move(m_groups));
        m_groups = ModelLiveryMap();
        m_groups.reserve(kGroupMapReserve);
        return true;
    }
    void clearGroups() { m_groups.clear(); }

private:
    std::vector<LiveryEntry> m_work;
    ModelLiveryMap m_groups;
};

// The setting that a category without liveries switches off, and the line that says so.
struct CategorySwitch {
    BoolCtrlParameter* parameter;
    const char* message;
};

std::optional<CategorySwitch> lf_categorySwitch(uint32_t CATEGORY)
{
    switch (static_cast<AcCategory>(CATEGORY)) {
    case AcCategory::Light:
        return CategorySwitch{&LIGHT_AIRCRAFT,
                              "{} temporarily switched off because you do not have light aircraft installed"};
    case AcCategory::HighPerf:
        return CategorySwitch{&HIGH_PERF_AIRCRAFT,
                              "{} temporarily switched off because you do not have High Perf aircraft installed"};
    case AcCategory::Rotorcraft:
        return CategorySwitch{&HELICOPTERS,
                              "{} temporarily switched off because you do not have Helicopters installed"};
    default:
        return std::nullopt;
    }
}

// The check box of a category setting in the main window.
void lf_enableCategoryControl(BoolCtrlParameter& PARAMETER, bool ENABLE)
{
    PARAMETER.control().enable(ENABLE);
    gf_enableControl(PARAMETER.name(), ENABLE);
}

void lf_logCategoryModels(bool LIGHT, bool BUZJET, bool ROTOR, const ModelIds& MODELS)
{
    std::string line = "  ";
    int codes = 0;
    for (uint16_t model : MODELS) {
        if (LIGHT) {
            g_genericModels[kGenericLight].push_back(model);
        } else if (BUZJET) {
            g_genericModels[kGenericBuzjets].push_back(model);
        } else if (ROTOR) {
            g_genericModels[kGenericRotorcraft].push_back(model);
        }
        line += gf_modelCode(model);
        line += ',';
        if (++codes == 20) {
            line.pop_back();
            gf_logLine(line);
            line = "  ";
            codes = 0;
        }
    }
    if (codes > 0) {
        line.pop_back();
        gf_logLine(line);
    }
}

void lf_categorySummary(uint32_t CATEGORY)
{
    std::size_t paxCount = 0;
    std::size_t cargoCount = 0;
    ModelIds models;
    for (const auto& [model, titles] : g_paxModelLiveries) {
        if (static_cast<uint32_t>(gf_modelCategory(model)) == CATEGORY) {
            paxCount += titles.size();
            models.push_back(model);
        }
    }
    for (const auto& [model, titles] : g_cargoModelLiveries) {
        if (static_cast<uint32_t>(gf_modelCategory(model)) == CATEGORY) {
            cargoCount += titles.size();
            models.push_back(model);
        }
    }
    const std::optional<CategorySwitch> categorySwitch = lf_categorySwitch(CATEGORY);
    if (paxCount == 0 && cargoCount == 0) {
        gf_logLine("Category {}: No livery found", gf_categoryName(CATEGORY));
        if (categorySwitch) {
            BoolCtrlParameter& parameter = *categorySwitch->parameter;
            if (parameter.value()) {
                parameter.set(false);
                gf_saveBoolParameter(parameter);
                gf_logLine(fmt::runtime(categorySwitch->message), parameter.name());
            }
            lf_enableCategoryControl(parameter, false);
        }
        return;
    }
    const std::string cargoPart =
        cargoCount == 0 ? std::string() : fmt::format(" and {} cargo liverie{}", cargoCount, gf_plural(cargoCount));
    gf_logLine("Category {}: {} pax liverie{}{}", gf_categoryName(CATEGORY), paxCount, gf_plural(paxCount),
               cargoPart);
    std::sort(models.begin(), models.end());
    models.erase(std::unique(models.begin(), models.end()), models.end());
    const auto category = static_cast<AcCategory>(CATEGORY);
    lf_logCategoryModels(category == AcCategory::Light, category == AcCategory::Buzjets,
                         category == AcCategory::Rotorcraft, models);
    if (categorySwitch) {
        lf_enableCategoryControl(*categorySwitch->parameter, true);
    }
}

void lf_genericLiverySummary()
{
    const auto generic = g_liveryTable.find(gf_airlineId("ZZZ"));
    if (generic == g_liveryTable.end()) {
        gf_logLine("No generic liveries");
        return;
    }
    ModelIds models;
    for (const auto& entry : generic->second) {
        models.push_back(entry.first);
    }
    std::sort(models.begin(), models.end());
    models.erase(std::unique(models.begin(), models.end()), models.end());
    gf_logLine("{} model{} have a generic livery", models.size(), gf_plural(models.size()));
    lf_logCategoryModels(false, false, false, models);
}

uint16_t lf_randomGeneric(int LIST)
{
    const ModelIds& models = g_genericModels[static_cast<std::size_t>(LIST)];
    if (models.empty()) {
        return 0;
    }
    return models[gf_randomIndex(models.size())];
}

} // namespace

static void lf_buildLiveryTables()
{
    g_liveryTable.reserve(kAirlineKeysReserve);
    GroupBuilder builder;
    uint16_t airline = 0;
    uint16_t model = 0;
    for (const ScannedLivery& L : g_scannedLiveries) {
        if (L.kind.operatorId != 0) {
            continue;
        }
        if (L.kind.modelId != model) {
            builder.flush(model);
            model = L.kind.modelId;
        }
        if (L.kind.airlineId != airline) {
            builder.flush(model);
            if (builder.hasGroups()) {
                builder.addTo(airline);
                builder.clearGroups();
            }
            airline = L.kind.airlineId;
        }
        builder.append(L);
    }
    builder.flush(model);
    if (builder.hasGroups()) {
        builder.addTo(airline);
        builder.clearGroups();
    }

    airline = 0;
    uint16_t operatorId = 0;
    model = 0;
    for (const ScannedLivery& L : g_scannedLiveries) {
        if (L.kind.operatorId == 0) {
            continue;
        }
        if (L.kind.modelId != model) {
            builder.flush(model);
            model = L.kind.modelId;
        }
        if (L.kind.airlineId != airline || L.kind.operatorId != operatorId) {
            builder.flush(model);
            if (builder.hasGroups()) {
                builder.addTo(lf_combinedKey(airline, operatorId));
                // What is left (nothing after a successful addition) goes under the operator's own
                // id, which gives an operator without liveries of its own a key without models.
                builder.addTo(operatorId);
                builder.clearGroups();
            }
            airline = L.kind.airlineId;
            operatorId = L.kind.operatorId;
        }
        builder.append(L);
    }
    builder.flush(model);
    if (builder.hasGroups()) {
        if (!builder.addTo(lf_combinedKey(airline, operatorId))) {
            gf_logLine("huh");
        }
        builder.clearGroups();
    }
}

static void lf_buildKindTables()
{
    g_kindLiveries[kPaxTable].reserve(kAirlineKeysReserve);
    g_kindLiveries[kCargoTable].reserve(kCargoKeysReserve);
    for (const auto& [key, models] : g_liveryTable) {
        ModelTitleMap paxModels;
        ModelTitleMap cargoModels;
        for (const auto& [model, entries] : models) {
            TitleViews pax;
            TitleViews cargo;
            for (const LiveryEntry& entry : entries) {
                (entry.cargo ? cargo : pax).emplace_back(entry.title);
            }
            if (!pax.empty()) {
                pax.shrink_to_fit();
                paxModels.try_emplace(model, std::move(pax));
            }
            if (!cargo.empty()) {
                cargo.shrink_to_fit();
                cargoModels.try_emplace(model, std::move(cargo));
            }
        }
        if (!cargoModels.empty()) {
            g_kindLiveries[kCargoTable].try_emplace(key, std::move(cargoModels));
        }
        if (!paxModels.empty()) {
            g_kindLiveries[kPaxTable].try_emplace(key, std::move(paxModels));
        }
    }
}

static void lf_buildLiveryIndex()
{
    struct Item {
        std::string_view title;
        uint16_t model;
        bool cargo;
    };
    std::vector<Item> items;
    for (const auto& [key, models] : g_liveryTable) {
        for (const auto& [model, entries] : models) {
            for (const LiveryEntry& entry : entries) {
                items.push_back(Item{entry.title, model, entry.cargo});
            }
        }
    }
    std::stable_sort(items.begin(), items.end(), [](const Item& A, const Item& B) { return A.model < B.model; });

    TitleViews pax;
    TitleViews cargo;
    pax.reserve(kIndexWorkReserve);
    cargo.reserve(kIndexWorkReserve);
    auto flush = [&](uint16_t MODEL) {
        // Copied at their size: the work vectors keep their large reservation.
        if (!pax.empty()) {
            g_paxModelLiveries.try_emplace(MODEL, TitleViews(pax.begin(), pax.end()));
        }
        if (!cargo.empty()) {
            g_cargoModelLiveries.try_emplace(MODEL, TitleViews(cargo.begin(), cargo.end()));
        }
        pax.clear();
        cargo.clear();
    };
    uint16_t model = items.empty() ? 0 : items.front().model;
    for (const Item& item : items) {
        if (item.model != model) {
            flush(model);
            model = item.model;
        }
        (item.cargo ? cargo : pax).push_back(item.title);
    }
    flush(model);
}

namespace {

// The alternative prefixes of the reference data, and the length of the longest.
struct Alternatives {
    std::set<std::string, std::less<>> prefixes;
    std::size_t longest = 0;
};

Alternatives lf_alternativePrefixes()
{
    Alternatives all;
    for (const auto& [prefix, alternatives] : g_regPrefixes) {
        for (const std::string& alternative : alternatives) {
            all.prefixes.insert(alternative);
            all.longest = std::max(all.longest, alternative.size());
        }
    }
    return all;
}

// The prefixes a national search may ask that the registration code begins with: a national
// prefix is the first character or the text up to the first '-', an alternative any text.
void lf_prefixesOfRegcode(std::string_view REGCODE, const Alternatives& ALTERNATIVES, std::vector<std::string_view>& KEYS)
{
    KEYS.clear();
    if (REGCODE.empty()) {
        return;
    }
    KEYS.push_back(REGCODE.substr(0, 1));
    const std::size_t dash = REGCODE.find('-');
    if (dash != std::string_view::npos && dash > 0) {
        KEYS.push_back(REGCODE.substr(0, dash + 1));
    }
    for (std::size_t n = 1; n <= std::min(ALTERNATIVES.longest, REGCODE.size()); ++n) {
        if (ALTERNATIVES.prefixes.contains(REGCODE.substr(0, n))) {
            KEYS.push_back(REGCODE.substr(0, n));
        }
    }
    std::sort(KEYS.begin(), KEYS.end());
    KEYS.erase(std::unique(KEYS.begin(), KEYS.end()), KEYS.end());
}

PrefixTitles lf_byPrefix(const TitleViews& TITLES, const Alternatives& ALTERNATIVES)
{
    PrefixTitles byPrefix;
    std::vector<std::string_view> keys;
    for (std::string_view title : TITLES) {
        const auto regcode = g_titleRegcodes.find(title);
        if (regcode == g_titleRegcodes.end()) {
            continue;
        }
        lf_prefixesOfRegcode(regcode->second, ALTERNATIVES, keys);
        for (std::string_view key : keys) {
            byPrefix[std::string(key)].push_back(title);
        }
    }
    for (auto& entry : byPrefix) {
        entry.second.shrink_to_fit();
    }
    return byPrefix;
}

bool lf_isGenericCategory(uint16_t MODEL)
{
    const AcCategory category = gf_modelCategory(MODEL);
    return category == AcCategory::Light || category == AcCategory::Buzjets || category == AcCategory::Rotorcraft;
}

} // namespace

static void lf_buildPrefixedLiveries()
{
    const Alternatives alternatives = lf_alternativePrefixes();
    const std::array<const ModelTitleMap*, 2> modelTables{&g_paxModelLiveries, &g_cargoModelLiveries};
    const uint16_t pvt = gf_airlineId("PVT");
    for (std::size_t table = 0; table < 2; ++table) {
        for (const auto& [model, titles] : *modelTables[table]) {
            if (lf_isGenericCategory(model)) {
                g_prefixedModelLiveries[table].try_emplace(model, lf_byPrefix(titles, alternatives));
            }
        }
        const auto found = g_kindLiveries[table].find(pvt);
        if (found == g_kindLiveries[table].end()) {
            continue;
        }
        for (const auto& [model, titles] : found->second) {
            g_prefixedPvtLiveries[table].try_emplace(model, lf_byPrefix(titles, alternatives));
        }
    }
}

bool gf_hasAirlineModelLivery(uint16_t AIRLINE_KEY, uint16_t MODEL_ID)
{
    const auto airline = g_liveryTable.find(AIRLINE_KEY);
    return airline != g_liveryTable.end() && airline->second.contains(MODEL_ID);
}

void gf_similarModels()
{
    auto hasLiveries = [](uint16_t MODEL) {
        return g_paxModelLiveries.contains(MODEL) || g_cargoModelLiveries.contains(MODEL);
    };
    std::set<std::string> texts;
    for (const std::vector<std::string>& group : g_similarGroups) {
        for (std::size_t m = 0; m < group.size(); ++m) {
            std::string text = group[m];
            for (std::size_t other = 0; other < group.size(); ++other) {
                if (other != m && hasLiveries(gf_modelId(group[other]))) {
                    text += ',';
                    text += group[other];
                }
            }
            if (text.find(',') != std::string::npos) {
                texts.insert(std::move(text));
            }
        }
    }
    for (const std::string& text : texts) {
        const std::vector<std::string> parts = gf_splitTrim(text, ',');
        ModelIds similar;
        for (std::size_t i = 1; i < parts.size(); ++i) {
            similar.push_back(gf_modelId(parts[i]));
        }
        g_similarModels.try_emplace(gf_modelId(parts.front()), std::move(similar));
    }

    ModelIds keys;
    keys.reserve(g_liveryTable.size());
    for (const auto& entry : g_liveryTable) {
        keys.push_back(entry.first);
    }
    std::sort(keys.begin(), keys.end());
    for (uint16_t key : keys) {
        std::unordered_map<uint16_t, ModelIds> modelMap;
        for (const auto& [model, similar] : g_similarModels) {
            if (gf_hasAirlineModelLivery(key, model)) {
                continue;
            }
            ModelIds withLivery;
            for (uint16_t other : similar) {
                if (gf_hasAirlineModelLivery(key, other)) {
                    withLivery.push_back(other);
                }
            }
            if (!withLivery.empty()) {
                modelMap.try_emplace(model, std::move(withLivery));
            }
        }
        if (!modelMap.empty()) {
            g_airlineSimilarModels.try_emplace(key, std::move(modelMap));
        }
    }
    gf_logLine("{:5} similar model definitions", g_similarModels.size());
}

uint16_t lf_randomGenericLight()
{
    return lf_randomGeneric(kGenericLight);
}
uint16_t lf_randomGenericBuzjet()
{
    return lf_randomGeneric(kGenericBuzjets);
}
uint16_t lf_randomGenericRotor()
{
    return lf_randomGeneric(kGenericRotorcraft);
}

void gf_processScannedLiveries()
{
    if (g_liveriesProcessed) {
        gf_logLine("Processing scanned liveries skipped; already done in previous start-up");
        g_scannedLiveries.clear();
        return;
    }
    g_cargoModelLiveries.reserve(kCargoModelsReserve);
    g_paxModelLiveries.reserve(kPaxModelsReserve);
    g_regcodeLiveries.reserve(kRegcodesReserve);
    g_regcodeLiveries.max_load_factor(0.7F);

    lf_readLiveriesScanned();
    gf_windowSetLiveryCount(static_cast<uint32_t>(g_scannedLiveries.size()));
    gf_repaintWindow();

    lf_buildLiveryTables();
    lf_buildKindTables();
    lf_buildTitleIndex();

    lf_processInlineRegcodes();
    // Nothing reads the scanned list after its in-line regcodes: it goes before the remaining
    // tables are built, so that it and they do not take memory at the same time.
    g_scannedLiveries.clear();
    lf_processOfflineRegcodes();
    gf_logLine("{:5} registration codes", g_regcodeLiveries.size());

    lf_buildLiveryIndex();
    lf_buildPrefixedLiveries();
    gf_logLine("{:5} airlines, {} pax aircraft models and {} cargo aircraft models", g_liveryTable.size(),
               g_paxModelLiveries.size(), g_cargoModelLiveries.size());

    gf_similarModels();
    gf_logLine(" ");
    for (uint32_t category = 0; category <= 5; ++category) {
        lf_categorySummary(category);
    }
    lf_genericLiverySummary();

    g_liveriesProcessed = true;
    gf_repaintWindow();
    g_scannedLiveries.clear();
}

void gf_clearLiveryTables()
{
    // The remembered liveries are views of titles that die below.
    g_chosenLiveries.clear();
    for (ModelIds& models : g_genericModels) {
        models.clear();
    }
    gf_clearRegcodeTables();
    g_paxModelLiveries.clear();
    g_cargoModelLiveries.clear();
    g_kindLiveries[kPaxTable].clear();
    g_kindLiveries[kCargoTable].clear();
    // A rescan or another simulator may leave models without liveries: the similar-model
    // tables must not name them any more.
    g_similarModels.clear();
    g_airlineSimilarModels.clear();
    for (std::size_t table = 0; table < 2; ++table) {
        g_prefixedModelLiveries[table].clear();
        g_prefixedPvtLiveries[table].clear();
    }
    g_liveryTable.clear();
    g_liveriesProcessed = false;
}

void gf_resetLiveryTablesForTests()
{
    gf_clearLiveryTables();
    g_dontUseTitles.clear();
    g_offlineRegcodeLines.clear();
}

} // namespace qmt
