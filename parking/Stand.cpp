#include "parking/Stand.h"

#include "parking/StandTable.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace qmt {

std::vector<Stand> g_stands;
uint8_t g_handmade = 0;
ParkApfInfo g_parkApfInfo;
int64_t g_qualityFactors = -1;  // both halves -1, see gf_packQualityFactors
uint32_t g_learnedUpdates = 0;

Stand::Stand(std::string NAME, std::vector<StandOption> OPTIONS, double LATITUDE, double LONGITUDE,
             double HEADING, double RADIUS_METRES, uint16_t TYPE, bool CARGO, bool RAMP, bool HELI)
    : options(std::move(OPTIONS)), name(std::move(NAME)), latitude(LATITUDE), longitude(LONGITUDE),
      heading(HEADING), radius(RADIUS_METRES * NM_PER_METRE), type(TYPE), cargo(CARGO ? 1 : 0),
      ramp(RAMP ? 1 : 0), heli(HELI ? 1 : 0)
{
    adjacent.reserve(8);
}

bool gf_isStandPosition(double LATITUDE, double LONGITUDE)
{
    return std::isfinite(LATITUDE) && std::isfinite(LONGITUDE) && std::fabs(LATITUDE) <= 90.0 &&
           std::fabs(LONGITUDE) <= 180.0;
}

bool gf_isStandRadius(double METRES)
{
    return std::isfinite(METRES) && METRES >= 0.0 && METRES <= MAX_STAND_RADIUS_M;
}

std::optional<double> gf_standHeadingRad(double DEGREES)
{
    // Files give -180..360; a value of many turns is a broken number, not a heading.
    if (!std::isfinite(DEGREES) || std::fabs(DEGREES) > 3600.0) {
        return std::nullopt;
    }
    double degrees = std::fmod(DEGREES, 360.0);
    if (degrees < 0.0) {
        degrees += 360.0;
    }
    const double radians = degrees * DEG_TO_RAD;
    // fmod of a tiny negative number lands on 360 after the addition.
    return radians < 2.0 * PI ? radians : 0.0;
}

bool gf_standInBounds(const Stand& STAND)
{
    const double largest = MAX_STAND_RADIUS_M * NM_PER_METRE * (1.0 + 1e-9);
    if (!gf_isStandPosition(STAND.latitude, STAND.longitude) || !std::isfinite(STAND.radius) ||
        STAND.radius < 0.0 || STAND.radius > largest ||
        !std::isfinite(STAND.heading) || STAND.heading < 0.0 || STAND.heading > 2.0 * PI ||
        STAND.adjacent.size() > MAX_ADJACENT_STANDS) {
        return false;
    }
    return std::all_of(STAND.options.begin(), STAND.options.end(), [](const StandOption& O) {
        return O.day >= 1 && O.day <= 7;
    });
}

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

bool gf_sameKind(const AcKind& A, const AcKind& B)
{
    return A.airlineId == B.airlineId && A.operatorId == B.operatorId && A.modelId == B.modelId;
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

void gf_resetStandsForTests()
{
    g_stands.clear();
    g_handmade = 0;
    g_parkApfInfo = ParkApfInfo{};
    g_qualityFactors = -1;
    g_learnedUpdates = 0;
}

} // namespace qmt
