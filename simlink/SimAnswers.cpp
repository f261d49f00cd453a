#include "simlink/SimAnswers.h"

#include "core/Geo.h"
#include "core/Log.h"
#include "core/Text.h"

#include <fmt/format.h>

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

namespace qmt {

namespace {

// From below the shores of the Dead Sea to far above what anything the simulator flies reaches.
constexpr double kLowestFt = -2000.0;
constexpr double kHighestFt = 200000.0;
// The highest ground on earth, with room.
constexpr double kHighestGroundFt = 40000.0;
constexpr double kFastestKt = 5000.0;
// The widest aircraft ever built spans some 385 ft.
constexpr double kWidestSpanFt = 500.0;
constexpr double kHighestCgFt = 1000.0;
constexpr double kNmPerFoot = 0.3048 * 0.0005399568034557236;

struct Bound {
    const char* name;
    double low;
    double high;
};

// The bounds of the ten user values, in the order of the answer.
constexpr Bound kUserBounds[UserAnswer::kValues] = {
    {"PLANE LATITUDE", -90.0, 90.0},
    {"PLANE LONGITUDE", -180.0, 180.0},
    {"PLANE PITCH DEGREES", -kFullTurn, kFullTurn},
    {"PLANE BANK DEGREES", -kFullTurn, kFullTurn},
    {"PLANE HEADING DEGREES TRUE", -kFullTurn, kFullTurn},
    {"PLANE ALTITUDE", kLowestFt, kHighestFt},
    {"PLANE ALT ABOVE GROUND", kLowestFt, kHighestFt},
    {"GROUND VELOCITY", -kFastestKt, kFastestKt},
    {"SIM ON GROUND", -1.0, 1.0},
    {"WINGSPAN", 0.0, kWidestSpanFt},
};
// LOGGED bits: one per user value, then the ground data and the static CG.
constexpr std::uint32_t kGroundBit = 1u << UserAnswer::kValues;
constexpr std::uint32_t kStaticCgBit = kGroundBit << 1;

bool lf_within(double VALUE, double LOW, double HIGH)
{
    return std::isfinite(VALUE) && VALUE >= LOW && VALUE <= HIGH;  // NaN fails both
}

void lf_logOnce(std::uint32_t BIT, std::uint32_t& LOGGED, const std::string& TEXT)
{
    if ((LOGGED & BIT) == 0) {
        LOGGED |= BIT;
        gf_logWarning("simulator answer refused: {}", TEXT);
    }
}

bool lf_userValueOk(const UserAnswer& ANSWER, int I, std::uint32_t& LOGGED)
{
    const Bound& b = kUserBounds[I];
    if (lf_within(ANSWER.values[I], b.low, b.high)) {
        return true;
    }
    lf_logOnce(1u << I, LOGGED, fmt::format("user aircraft {} {}, the last good value is kept", b.name, ANSWER.values[I]));
    return false;
}

} // namespace

void gf_takeUserAnswer(const UserAnswer& ANSWER, UserAcShared& SHARED, std::uint32_t& LOGGED)
{
    UserAcData& ac = SHARED.ac;
    const double* v = ANSWER.values;
    // A latitude without its longitude is no position: the two go together.
    const bool latOk = lf_userValueOk(ANSWER, 0, LOGGED);
    const bool lonOk = lf_userValueOk(ANSWER, 1, LOGGED);
    if (latOk && lonOk) {
        ac.latitude = v[0];
        ac.longitude = v[1];
    }
    double* const fields[] = {nullptr, nullptr, &ac.pitch, &ac.bank, &ac.heading, &ac.altitude, &ac.altitudeAboveGround,
                              &ac.groundVelocity};
    for (int i = 2; i < 8; ++i) {
        if (lf_userValueOk(ANSWER, i, LOGGED)) {
            *fields[i] = v[i];
        }
    }
    if (lf_userValueOk(ANSWER, 8, LOGGED)) {
        ac.onGround = v[8] != 0.0;
    }
    if (lf_userValueOk(ANSWER, 9, LOGGED)) {
        SHARED.halfSpanNm = v[9] / 2.0 * kNmPerFoot;
    }
    ac.dataArrived = true;
    SHARED.onGround = ac.onGround;
    const std::string_view text(ANSWER.callsign, strnlen(ANSWER.callsign, sizeof ANSWER.callsign));
    SHARED.callsign = gf_cleanIdentText(text);
}

bool gf_groundAnswerOk(double GROUND_FT, double ABOVE_GROUND_FT, std::uint32_t& LOGGED)
{
    if (lf_within(GROUND_FT, kLowestFt, kHighestGroundFt) && lf_within(ABOVE_GROUND_FT, kLowestFt, kHighestFt)) {
        return true;
    }
    lf_logOnce(kGroundBit, LOGGED, fmt::format("ground altitude {} ft, {} ft above ground", GROUND_FT, ABOVE_GROUND_FT));
    return false;
}

bool gf_staticCgAnswerOk(double CG_FT, double PITCH_RAD, std::uint32_t& LOGGED)
{
    if (lf_within(CG_FT, -kHighestCgFt, kHighestCgFt) && lf_within(PITCH_RAD, -kFullTurn, kFullTurn)) {
        return true;
    }
    lf_logOnce(kStaticCgBit, LOGGED, fmt::format("static CG {} ft, static pitch {} rad", CG_FT, PITCH_RAD));
    return false;
}

} // namespace qmt
