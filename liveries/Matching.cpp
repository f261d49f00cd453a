#include "liveries/Matching.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <fmt/format.h>

#include "core/AcKind.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Random.h"
#include "core/RefData.h"
#include "liveries/LiveryTables.h"
#include "liveries/Regcodes.h"
#include "records/AcRecords.h"
#include "records/Stand.h"

namespace qmt {

std::array<int32_t, 7> g_matchStepCount{};
std::unordered_set<std::string> g_noMatchSet;
std::unordered_map<uint32_t, std::string_view> g_chosenLiveries;
std::unordered_map<std::string, RefusedTitle> g_notCreatedTitles;
std::unordered_set<std::string> g_notCreatedList;

namespace {

constexpr int kMaxSpecialDraws = 5;
constexpr std::string_view ZZZ = "ZZZ";
constexpr std::string_view PVT = "PVT";

// The word that the titles of an airline's liveries contain, for operator liveries.
std::string_view lf_airlineWord(std::string_view CODE)
{
    static const std::unordered_map<std::string_view, std::string_view> words = {
        {"AAL", "American"},  {"ACA", "Canada"},     {"AFR", "France"},       {"ASA", "Alaska"},
        {"ASH", "Mesa"},      {"AVA", "Avianca"},    {"BAW", "British"},      {"BOX", "Aerologic"},
        {"CAI", "Corendon"},  {"CFE", "Cityflyer"},  {"DAE", "DHL Aero"},     {"DAL", "Delta"},
        {"DHK", "DHL Air"},   {"EDV", "Endeavor"},   {"EZY", "easyjet"},      {"FDX", "FedEx"},
        {"FJO", "Flexjet"},   {"GJS", "GoJet"},      {"IBE", "Iberia"},       {"JIA", "PSA Airlines"},
        {"JZA", "Jazz"},      {"KLC", "Cityhopper"}, {"LRC", "Avianca"},      {"PDT", "Piedmont"},
        {"PRM", "Prime"},     {"QLK", "Quantaslink"}, {"QXE", "Horizon"},     {"RPA", "Republic"},
        {"RYR", "Ryanair"},   {"SWA", "Southwest"},  {"SKW", "SkyWest"},      {"UAL", "United"},
        {"UPS", "UPS"},       {"VJT", "VistaJet"},   {"WJA", "WestJet"},
    };
    const auto found = words.find(CODE);
    return found == words.end() ? std::string_view("not found") : found->second;
}

// A title the simulator could not create, while its ban lasts.
bool lf_isRefused(std::string_view TITLE)
{
    if (g_notCreatedTitles.empty()) {
        return false;
    }
    const auto found = g_notCreatedTitles.find(std::string(TITLE));
    return found != g_notCreatedTitles.end() && (found->second.forGood || gf_loopNow() < found->second.bannedUntil);
}

// The id of a combined airline+operator key when it was ever interned; the tables hold no
// key that was not, so a new combination seen in the live traffic need not be interned.
std::optional<uint16_t> lf_findCombinedKey(uint16_t AIRLINE, uint16_t OPERATOR)
{
    std::string text = gf_airlineCode(AIRLINE);
    text += gf_airlineCode(OPERATOR);
    uint16_t id = 0;
    if (g_airlineIds.find(text, id)) {
        return id;
    }
    return std::nullopt;
}

uint16_t lf_zzzId()
{
    return gf_airlineId(ZZZ);
}

// Text up to and including the first '-'; the first character alone when there is no '-'
// or it comes first. Empty for an empty registration.
std::string lf_nationalPrefix(const std::string& REGISTRATION)
{
    if (REGISTRATION.empty()) {
        return {};
    }
    const std::size_t dash = REGISTRATION.find('-');
    if (dash == std::string::npos || dash == 0) {
        return REGISTRATION.substr(0, 1);
    }
    return REGISTRATION.substr(0, dash + 1);
}

const TitleViews* lf_kindTitles(int SELECTOR, uint16_t AIRLINE_KEY, uint16_t MODEL)
{
    const auto& table = g_kindLiveries[static_cast<std::size_t>(SELECTOR)];
    const auto airline = table.find(AIRLINE_KEY);
    if (airline == table.end()) {
        return nullptr;
    }
    const auto model = airline->second.find(MODEL);
    return model == airline->second.end() ? nullptr : &model->second;
}

void lf_filterByRegPrefix(const TitleViews& CANDIDATES, std::string_view PREFIX, TitleViews& OUT)
{
    for (std::string_view title : CANDIDATES) {
        const auto regcode = g_titleRegcodes.find(title);
        if (regcode != g_titleRegcodes.end() && regcode->second.starts_with(PREFIX)) {
            OUT.push_back(title);
        }
    }
}

// The random pick that avoids special liveries and never gives a refused title.
void lf_pickRandomLivery(SimAc& AC, const TitleViews& CANDIDATES)
{
    const TitleViews* candidates = &CANDIDATES;
    TitleViews usable;
    if (!g_notCreatedTitles.empty()) {
        // A refused title among good ones must not sink the whole step.
        for (std::string_view title : CANDIDATES) {
            if (!lf_isRefused(title)) {
                usable.push_back(title);
            }
        }
        candidates = &usable;
    }
    if (candidates->empty()) {
        return;
    }
    for (int draw = 0; draw < kMaxSpecialDraws; ++draw) {
        AC.liveryTitle = (*candidates)[gf_randomIndex(candidates->size())];
        if (g_specialTitleSet.empty() || !g_specialTitleSet.contains(AC.liveryTitle)) {
            return;
        }
    }
    TitleViews plain;
    for (std::string_view title : *candidates) {
        if (!g_specialTitleSet.contains(title)) {
            plain.push_back(title);
        }
    }
    if (!plain.empty()) {
        AC.liveryTitle = plain[gf_randomIndex(plain.size())];
    }
}

bool lf_matchRegcode(SimAc& AC)
{
    if (AC.registration.empty()) {
        return false;
    }
    const auto found = g_regcodeLiveries.find(std::string_view(AC.registration));
    if (found != g_regcodeLiveries.end()) {
        AC.liveryTitle = found->second;
    }
    return !AC.liveryTitle.empty();
}

bool lf_matchKindLivery(SimAc& AC, int SELECTOR, uint16_t AIRLINE_KEY, uint16_t MODEL)
{
    if (const TitleViews* titles = lf_kindTitles(SELECTOR, AIRLINE_KEY, MODEL)) {
        lf_pickRandomLivery(AC, *titles);
    }
    return !AC.liveryTitle.empty();
}

bool lf_matchOperatorLivery(SimAc& AC, int SELECTOR, uint16_t AIRLINE_KEY, uint16_t MODEL,
                            std::string_view AIRLINE_CODE)
{
    const TitleViews* titles = lf_kindTitles(SELECTOR, AIRLINE_KEY, MODEL);
    if (titles == nullptr) {
        return false;
    }
    const std::string_view word = lf_airlineWord(AIRLINE_CODE);
    for (std::string_view title : *titles) {
        if (title.size() >= word.size() && title.find(word) != std::string_view::npos && !lf_isRefused(title)) {
            AC.liveryTitle = title;
            return true;
        }
    }
    return false;
}

// The prefix filter of a candidate list when the tables keep one for it.
const PrefixTitles* lf_prefixed(const std::unordered_map<uint16_t, PrefixTitles>& TABLE, uint16_t MODEL)
{
    const auto found = TABLE.find(MODEL);
    return found == TABLE.end() ? nullptr : &found->second;
}

// A random pick among the candidates with the prefix, then with each alternative prefix; through
// the candidates filtered by prefix when the tables keep them (PREFIXED), else filtering here.
void lf_pickByPrefix(SimAc& AC, const TitleViews& CANDIDATES, const std::string& PREFIX, const PrefixTitles* PREFIXED)
{
    TitleViews filtered;
    const auto pickWith = [&](const std::string& WANTED) {
        if (PREFIXED != nullptr) {
            if (const auto found = PREFIXED->find(WANTED); found != PREFIXED->end()) {
                lf_pickRandomLivery(AC, found->second);
            }
            return;
        }
        filtered.clear();
        lf_filterByRegPrefix(CANDIDATES, WANTED, filtered);
        lf_pickRandomLivery(AC, filtered);
    };
    pickWith(PREFIX);
    if (!AC.liveryTitle.empty()) {
        return;
    }
    for (const std::string& alternative : gf_prefixesOf(PREFIX)) {
        pickWith(alternative);
        if (!AC.liveryTitle.empty()) {
            return;
        }
    }
}

bool lf_matchPvtLivery(SimAc& AC, int SELECTOR, uint16_t AIRLINE_KEY, uint16_t MODEL)
{
    const std::string prefix = lf_nationalPrefix(AC.registration);
    if (prefix.empty()) {
        return false;
    }
    const TitleViews* titles = lf_kindTitles(SELECTOR, AIRLINE_KEY, MODEL);
    if (titles == nullptr || titles->empty()) {
        return false;
    }
    const PrefixTitles* prefixed = AIRLINE_KEY == gf_airlineId(PVT)
                                       ? lf_prefixed(g_prefixedPvtLiveries[static_cast<std::size_t>(SELECTOR)], MODEL)
                                       : nullptr;
    lf_pickByPrefix(AC, *titles, prefix, prefixed);
    return !AC.liveryTitle.empty();
}

bool lf_matchNationalLivery(SimAc& AC, uint16_t MODEL)
{
    const std::string prefix = lf_nationalPrefix(AC.registration);
    if (prefix.empty()) {
        return false;
    }
    const std::size_t table = AC.kind.cargo != 0 ? 1 : 0;
    const ModelTitleMap& titles = table == 1 ? g_cargoModelLiveries : g_paxModelLiveries;
    const auto found = titles.find(MODEL);
    if (found == titles.end() || found->second.empty()) {
        return false;
    }
    lf_pickByPrefix(AC, found->second, prefix, lf_prefixed(g_prefixedModelLiveries[table], MODEL));
    if (AC.liveryTitle.empty()) {
        lf_pickRandomLivery(AC, found->second);
    }
    return !AC.liveryTitle.empty();
}

bool lf_matchAirlineModelStep(SimAc& AC, const AcKind& KIND, int SELECTOR)
{
    const uint16_t airline = KIND.airlineId;
    const uint16_t model = KIND.modelId;
    if (KIND.operatorId == 0) {
        if (gf_airlineCode(airline) == PVT && lf_matchPvtLivery(AC, SELECTOR, airline, model)) {
            return true;
        }
        return lf_matchKindLivery(AC, SELECTOR, airline, model);
    }
    const uint16_t operatorId = KIND.operatorId;
    if (const std::optional<uint16_t> combined = lf_findCombinedKey(airline, operatorId);
        combined && lf_matchKindLivery(AC, SELECTOR, *combined, model)) {
        return true;
    }
    return lf_matchOperatorLivery(AC, SELECTOR, operatorId, model, gf_airlineCode(airline)) ||
           lf_matchOperatorLivery(AC, SELECTOR, airline, model, gf_airlineCode(operatorId)) ||
           lf_matchKindLivery(AC, SELECTOR, operatorId, model) || lf_matchKindLivery(AC, SELECTOR, airline, model);
}

bool lf_matchAirlineModel(SimAc& AC, const AcKind& KIND)
{
    if (KIND.cargo != 0) {
        return lf_matchAirlineModelStep(AC, KIND, kCargoTable) || lf_matchAirlineModelStep(AC, KIND, kPaxTable);
    }
    return lf_matchAirlineModelStep(AC, KIND, kPaxTable);
}

bool lf_matchSimilarModel(SimAc& AC, const AcKind& KIND)
{
    const uint16_t key = KIND.operatorId != 0 ? KIND.operatorId : KIND.airlineId;
    const auto airline = g_airlineSimilarModels.find(key);
    if (airline == g_airlineSimilarModels.end()) {
        return false;
    }
    const auto similar = airline->second.find(KIND.modelId);
    if (similar == airline->second.end()) {
        return false;
    }
    ModelIds& models = similar->second;
    gf_shuffleIds(models);
    for (uint16_t model : models) {
        if (static_cast<uint32_t>(gf_modelCategory(model)) != AC.category) {
            continue;
        }
        AcKind kind = KIND;
        kind.modelId = model;
        if (lf_matchAirlineModel(AC, kind)) {
            return true;
        }
    }
    return false;
}

bool lf_matchGeneric(SimAc& AC, bool CARGO, int& STEP)
{
    if (!AC.liveryTitle.empty()) {
        return true;
    }
    AcKind kind = AC.kind;
    kind.airlineId = lf_zzzId();
    kind.cargo = (AC.kind.cargo != 0 || CARGO) ? 1 : 0;
    if (lf_matchAirlineModel(AC, kind)) {
        STEP = 4;
        return true;
    }
    const auto category = static_cast<AcCategory>(AC.category);
    if (category != AcCategory::Light && category != AcCategory::Buzjets && category != AcCategory::Rotorcraft) {
        return false;
    }
    const uint16_t model = AC.kind.modelId;
    if (lf_matchNationalLivery(AC, model)) {
        STEP = 5;
        return true;
    }
    ModelIds further;
    if (const auto similar = g_similarModels.find(model); similar != g_similarModels.end()) {
        gf_shuffleIds(similar->second);
        further = similar->second;
    } else {
        uint16_t generic = 0;
        switch (gf_modelCategory(model)) {
        case AcCategory::Light:
            generic = lf_randomGenericLight();
            break;
        case AcCategory::Buzjets:
            generic = lf_randomGenericBuzjet();
            break;
        case AcCategory::Rotorcraft:
            generic = lf_randomGenericRotor();
            break;
        default:
            break;
        }
        if (generic != 0) {
            further.push_back(generic);
        }
    }
    for (uint16_t other : further) {
        if (lf_matchNationalLivery(AC, other)) {
            STEP = 6;
            return true;
        }
    }
    return false;
}

// The line of a match; the description is built only when the log will take it.
void lf_logMatch(const SimAc& AC, int STEP)
{
    if (gf_isLogOpen()) {
        gf_logLine("          {} ={}= {}", gf_acDescription(AC), STEP, AC.liveryTitle);
    }
}

bool lf_acceptMatch(SimAc& AC, int STEP)
{
    if (lf_isRefused(AC.liveryTitle)) {
        AC.liveryTitle = {};
        return false;
    }
    ++g_matchStepCount[static_cast<std::size_t>(STEP)];
    lf_logMatch(AC, STEP);
    AC.reverseThrust = AC.liveryTitle.find("FSLTL_") != std::string_view::npos ? 1 : 0;
    return true;
}

int lf_regcodeStep(const SimAc& AC)
{
    return g_uniqueRegcodes.contains(AC.registration) ? 0 : 1;
}

// The static sequence's test of a found title: a refused one is emptied.
bool lf_staticFound(SimAc& AC, bool FOUND)
{
    if (!FOUND) {
        return false;
    }
    if (lf_isRefused(AC.liveryTitle)) {
        AC.liveryTitle = {};
        return false;
    }
    return true;
}


} // namespace

void gf_matchLiveAcLivery(SimAc& AC)
{
    const int depth = MATCHING_DEPTH.value();
    AC.liveryTitle = {};
    if (lf_matchRegcode(AC) && lf_acceptMatch(AC, lf_regcodeStep(AC))) {
        return;
    }
    if (depth < 2) {
        return;
    }
    if (gf_airlineCode(AC.kind.airlineId) == PVT) {
        AcKind kind = AC.kind;
        kind.airlineId = lf_zzzId();
        if (lf_matchAirlineModel(AC, kind) && lf_acceptMatch(AC, 4)) {
            return;
        }
    }
    if (lf_matchAirlineModel(AC, AC.kind) && lf_acceptMatch(AC, 2)) {
        return;
    }
    if (depth < 3) {
        return;
    }
    if (lf_matchSimilarModel(AC, AC.kind) && lf_acceptMatch(AC, 3)) {
        return;
    }
    if (depth != 4) {
        return;
    }
    int step = 0;
    lf_matchGeneric(AC, false, step);
    if (!AC.liveryTitle.empty()) {
        lf_acceptMatch(AC, step);
    }
}

bool gf_matchStaticAcLivery(SimAc& AC, const Stand& STAND)
{
    if (!AC.liveryTitle.empty()) {
        if (gf_isLogOpen()) {
            gf_logLine("          {} =s= {}", gf_acDescription(AC), AC.liveryTitle);
        }
        return true;
    }
    const int depth = MATCHING_DEPTH.value();
    if (lf_staticFound(AC, lf_matchRegcode(AC))) {
        lf_logMatch(AC, lf_regcodeStep(AC));
        return true;
    }
    if (depth >= 2) {
        if (gf_airlineCode(AC.kind.airlineId) == PVT) {
            AcKind kind = AC.kind;
            kind.airlineId = lf_zzzId();
            kind.cargo = STAND.cargo;
            if (lf_staticFound(AC, lf_matchAirlineModel(AC, kind))) {
                lf_logMatch(AC, 4);
                return true;
            }
        }
        if (lf_staticFound(AC, lf_matchAirlineModel(AC, AC.kind))) {
            lf_logMatch(AC, 2);
            return true;
        }
        if (depth >= 3 && lf_staticFound(AC, lf_matchSimilarModel(AC, AC.kind))) {
            lf_logMatch(AC, 3);
            return true;
        }
        if (depth == 4) {
            int step = 0;
            lf_matchGeneric(AC, STAND.cargo != 0, step);
            if (lf_staticFound(AC, !AC.liveryTitle.empty())) {
                lf_logMatch(AC, step);
                return true;
            }
        }
    }
    if (gf_isLogOpen()) {
        gf_logLine("{:8}: {} no livery match ...", STAND.name, gf_acDescription3(AC));
    }
    return false;
}

namespace {
// Hex ids of g_chosenLiveries missing from the aircraft at the last gf_forgetChosenLiveries.
std::unordered_set<uint32_t> s_goneAtLastCall;
} // namespace

void gf_forgetChosenLiveries(const std::unordered_set<uint32_t>& PRESENT)
{
    std::unordered_set<uint32_t> gone;
    for (auto it = g_chosenLiveries.begin(); it != g_chosenLiveries.end();) {
        if (PRESENT.contains(it->first)) {
            ++it;
        } else if (s_goneAtLastCall.contains(it->first)) {
            it = g_chosenLiveries.erase(it);
        } else {
            gone.insert(it->first);
            ++it;
        }
    }
    s_goneAtLastCall = std::move(gone);
}

std::string_view gf_chosenLivery(uint32_t HEX_ID)
{
    const auto it = g_chosenLiveries.find(HEX_ID);
    return it == g_chosenLiveries.end() ? std::string_view() : it->second;
}

void gf_rememberChosenLivery(uint32_t HEX_ID, std::string_view TITLE)
{
    g_chosenLiveries[HEX_ID] = TITLE;
}

void gf_forgetChosenLivery(uint32_t HEX_ID)
{
    g_chosenLiveries.erase(HEX_ID);
}

void gf_noteNoMatch(const std::string& SPAWN_TEXT)
{
    g_noMatchSet.insert(SPAWN_TEXT);
}

bool gf_isNoMatch(const std::string& SPAWN_TEXT)
{
    return g_noMatchSet.contains(SPAWN_TEXT);
}

void gf_clearNoMatches()
{
    g_noMatchSet.clear();
}

void gf_clearLiveryNotesForTests()
{
    g_chosenLiveries.clear();
    g_notCreatedTitles.clear();
    g_notCreatedList.clear();
}

std::size_t gf_refuseTitle(const SimAc& AC, LoopTime NOW)
{
    g_notCreatedList.insert(fmt::format("{} {} {}", gf_airlineCode(AC.kind.airlineId), gf_modelCode(AC.kind.modelId),
                                        AC.liveryTitle));
    // Titles whose ban ended long ago are forgotten, so that the table keeps only recent ones.
    std::erase_if(g_notCreatedTitles, [NOW](const auto& ENTRY) {
        return !ENTRY.second.forGood && ENTRY.second.bannedUntil + kTitleBanMemory < NOW;
    });
    // The title is kept as its own string: the livery tables may be rebuilt meanwhile.
    const auto [entry, first] = g_notCreatedTitles.try_emplace(std::string(AC.liveryTitle));
    RefusedTitle& refused = entry->second;
    if (!first && !refused.forGood && NOW >= refused.bannedUntil) {
        refused.forGood = true;
        gf_logLine("'{}' could not be created again after {} minutes, it is not used any more", AC.liveryTitle,
                   kTitleBan.count());
    }
    refused.bannedUntil = std::max(refused.bannedUntil, NOW + kTitleBan);
    return static_cast<std::size_t>(std::count_if(g_notCreatedTitles.begin(), g_notCreatedTitles.end(),
                                                  [](const auto& ENTRY) { return ENTRY.second.forGood; }));
}

void gf_titleCreated(std::string_view TITLE)
{
    if (g_notCreatedTitles.empty()) {
        return;
    }
    const auto found = g_notCreatedTitles.find(std::string(TITLE));
    if (found != g_notCreatedTitles.end() && !found->second.forGood) {
        g_notCreatedTitles.erase(found);
    }
}

void gf_resetMatchingForTests()
{
    g_matchStepCount.fill(0);
    s_goneAtLastCall.clear();
}

} // namespace qmt
