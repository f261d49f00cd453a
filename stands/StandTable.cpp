#include "stands/StandTable.h"

#include "core/Geo.h"
#include "core/Parameters.h"
#include "core/Text.h"
#include "core/WindowState.h"
#include "records/AcRecords.h"
#include "records/UserAircraft.h"
#include "stands/ApfSettings.h"

#include <algorithm>
#include <cmath>

namespace qmt {

std::vector<Stand> g_stands;
uint8_t g_handmade = 0;
ParkApfInfo g_parkApfInfo;
int64_t g_qualityFactors = -1;  // both halves -1, see gf_packQualityFactors
uint32_t g_learnedUpdates = 0;

namespace {

struct LastAsked {
    bool valid = false;
    double latitude = 0.0;
    double longitude = 0.0;
    std::string answer;
};
LastAsked s_lastAsked;

double lf_distanceTo(const Stand& STAND, double LATITUDE, double LONGITUDE)
{
    return gf_distanceNm(LATITUDE, LONGITUDE, STAND.latitude, STAND.longitude);
}

bool lf_fitsRadius(const AcProfile& AIRCRAFT, const Stand& STAND)
{
    return AIRCRAFT.halfSpan - STAND.radius <= kRadiusToleranceNm;
}

} // namespace

int64_t gf_packQualityFactors(int32_t REAL, int32_t SOFT)
{
    const uint64_t low = static_cast<uint32_t>(REAL);
    const uint64_t high = static_cast<uint64_t>(static_cast<uint32_t>(SOFT)) << 32;
    return static_cast<int64_t>(high | low);
}

int32_t gf_qualityReal(int64_t FACTORS)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(FACTORS) & 0xffffffffu));
}

int32_t gf_qualitySoft(int64_t FACTORS)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(FACTORS) >> 32));
}

void gf_clearStands()
{
    g_stands.clear();
    gf_forgetStandAtPosition();
}

void gf_renumberOptions(Stand& STAND)
{
    uint32_t id = 1;
    for (StandOption& opt : STAND.options) {
        opt.optionId = id++;
    }
}

void gf_renumberAllOptions()
{
    for (Stand& stand : g_stands) {
        gf_renumberOptions(stand);
    }
}

Stand* gf_standById(int64_t STAND_ID)
{
    if (STAND_ID < 1) {
        return nullptr;
    }
    const auto id = static_cast<uint64_t>(STAND_ID);
    // The table is numbered 1..n in order, so the index is the id - 1; the
    // binary search covers a table that is being renumbered.
    if (id <= g_stands.size() && g_stands[id - 1].standId == id) {
        return &g_stands[id - 1];
    }
    auto it = std::lower_bound(g_stands.begin(), g_stands.end(), id,
                               [](const Stand& S, uint64_t V) { return S.standId < V; });
    if (it != g_stands.end() && it->standId == id) {
        return &*it;
    }
    return nullptr;
}

bool gf_isAdjacent(const Stand& STAND, uint32_t OTHER_ID)
{
    return std::find(STAND.adjacent.begin(), STAND.adjacent.end(), OTHER_ID) != STAND.adjacent.end();
}

void gf_countLearnedUpdate()
{
    ++g_learnedUpdates;
    gf_windowSetLearnedUpdates(g_learnedUpdates);
}

void gf_clearLearnedUpdates()
{
    g_learnedUpdates = 0;
    gf_windowSetLearnedUpdates(0);
}

void gf_resetStandsForTests()
{
    g_stands.clear();
    g_handmade = 0;
    g_parkApfInfo = ParkApfInfo{};
    g_qualityFactors = -1;
    g_learnedUpdates = 0;
}

void gf_setStandOccupied(int32_t STAND_ID, uint8_t OCCUPIED)
{
    if (Stand* stand = gf_standById(STAND_ID)) {
        stand->liveHere = OCCUPIED ? 1 : 0;
    }
}

std::string gf_standAtPosition(double LATITUDE, double LONGITUDE)
{
    if (g_stands.empty() || !g_userOnGround) {
        return {};
    }
    if (s_lastAsked.valid && std::fabs(s_lastAsked.latitude - LATITUDE) < 1e-8 &&
        std::fabs(s_lastAsked.longitude - LONGITUDE) < 1e-8) {
        return s_lastAsked.answer;
    }
    double best = 900.0;
    const Stand* found = nullptr;
    for (const Stand& stand : g_stands) {
        const double d = lf_distanceTo(stand, LATITUDE, LONGITUDE);
        if (d <= kStandAtPositionNm && d < best) {
            best = d;
            found = &stand;
        }
    }
    s_lastAsked = LastAsked{true, LATITUDE, LONGITUDE, found ? found->name : std::string()};
    return s_lastAsked.answer;
}

Stand* gf_findStandNear(double LATITUDE, double LONGITUDE, const AcProfile& AIRCRAFT, double MAX_NM, bool LEARNED)
{
    double best = 900.0;
    double bestLearned = 900.0;
    Stand* result = nullptr;
    Stand* learnedCandidate = nullptr;
    bool tooSmall = false;
    bool learnedPreference = LEARNED;
    // A stand farther than both reaches takes no part.
    const GeoFarTest farTest(LatLon{LATITUDE, LONGITUDE}, LEARNED ? std::max(MAX_NM, kLearnedReachNm) : MAX_NM);
    for (Stand& stand : g_stands) {
        if (farTest.surelyFarther(stand.latitude, stand.longitude)) {
            continue;
        }
        const double d = lf_distanceTo(stand, LATITUDE, LONGITUDE);
        if (d <= MAX_NM && d < best) {
            if (lf_fitsRadius(AIRCRAFT, stand)) {
                result = &stand;
                best = d;
                tooSmall = false;
                learnedPreference = false;
            } else if (d <= kTooSmallReachNm) {
                result = &stand;
                best = d;
                tooSmall = true;
                learnedPreference = false;
            }
            continue;
        }
        if (!learnedPreference || d > kLearnedReachNm || d >= bestLearned || !lf_fitsRadius(AIRCRAFT, stand)) {
            continue;
        }
        bool known = AIRCRAFT.callsign.empty();
        for (const StandOption& opt : stand.options) {
            if (known) {
                break;
            }
            known = opt.optionId >= 1 && opt.real == 1 &&
                    (opt.callsign == AIRCRAFT.callsign || opt.furtherName == AIRCRAFT.callsign ||
                     gf_sameKind(opt.kind, AIRCRAFT.kind));
        }
        if (known) {
            learnedCandidate = &stand;
            bestLearned = d;
        }
    }
    if (!result) {
        result = learnedCandidate;
        tooSmall = false;
    }
    if (!result) {
        return nullptr;
    }
    const bool rotorcraft = AIRCRAFT.category == kAcCategoryRotorcraft;
    if ((result->heli != 0) != rotorcraft) {
        return nullptr;
    }
    if (tooSmall) {
        // An unknown model's half span must not turn a stand into a field.
        const double widened = std::min(AIRCRAFT.halfSpan - kNmPerMetre, kLargestRadiusNm);
        result->radius = std::max(result->radius, widened);
        result->radiusChanged = 1;
        gf_countLearnedUpdate();
    }
    return result;
}

std::string gf_standName(uint32_t STAND_ID)
{
    if (STAND_ID == 0) {
        return "sid==0?";
    }
    const auto it = std::lower_bound(g_stands.begin(), g_stands.end(), STAND_ID,
                                     [](const Stand& S, uint32_t V) { return S.standId < V; });
    if (it == g_stands.end() || it->standId != STAND_ID) {
        return "sid==?";
    }
    return it->name;
}

void gf_forgetStandAtPosition()
{
    s_lastAsked = LastAsked{};
}

void gf_resetStandTableForTests()
{
    gf_forgetStandAtPosition();
}

int64_t lf_wantedStaticCount()
{
    const int maxSelected = MAX_PARK_SEL.value();
    if (maxSelected <= 0) {
        const int percentage = parking_percentage.value();
        gf_updateWindowValues([percentage](WindowValues& V) {
            V.wantedStatics = 0;
            V.wantedPercent = percentage;
        });
        return 0;
    }
    const int custom = CUSTOM_PARKING_PERCENTAGE.value();
    const int percentage = custom >= 0 ? custom : parking_percentage.value();
    const auto stands = static_cast<int64_t>(g_stands.size());
    int64_t n = 1;
    // Two or three stands at a low percentage would round to none.
    if (stands > 1 && (stands > 3 || percentage >= 50)) {
        n = gf_roundNarrow<int32_t>(static_cast<double>(percentage) * static_cast<double>(stands) / 100.0);
    }
    n = std::min<int64_t>(n, maxSelected);
    const int wanted = static_cast<int>(n);
    const int share = gf_percent(static_cast<double>(n), static_cast<double>(stands));
    gf_updateWindowValues([wanted, share](WindowValues& V) {
        V.wantedStatics = wanted;
        V.wantedPercent = share;
    });
    return n;
}

} // namespace qmt
