#include "records/AcRecords.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include <fmt/format.h>

#include "core/KindText.h"

namespace qmt {

SimAc::SimAc(const AcProfile& PROFILE, uint32_t STAND_ID, double LAT, double LON, double HEADING,
             bool NO_CABIN_LIGHT)
    : lat(LAT), lon(LON), heading(HEADING), standId(STAND_ID), noCabinLight(NO_CABIN_LIGHT ? 1 : 0)
{
    gf_copyAcProfile(*this, PROFILE);
}

LiveAc::LiveAc(const StreamPos& FIRST_POINT, const AcProfile& PROFILE, double REPORT_TIME)
    : SimAc(PROFILE, 0, 0.0, 0.0, 0.0, false), lastReportTime(REPORT_TIME)
{
    stream.push_back(FIRST_POINT);
}

void gf_copyAcProfile(AcProfile& TARGET, const AcProfile& SOURCE)
{
    TARGET = SOURCE;
}

namespace {

// The names mimic the text of a failed map lookup, which is what the log shows for a bad value.
[[noreturn]] void lf_badKey()
{
    throw std::out_of_range("invalid unordered_map<K, T> key");
}

constexpr std::array<std::string_view, 5> kLifeStateNames{
    "buffer", "adding2sim", "active", "liveryrespawn", "removingfromsim"};
constexpr std::array<std::string_view, 8> kPhaseNames{
    "pushing_back", "pushed_back", "taxi", "take_off", "flying", "parking", "parked", "birth"};

} // namespace

std::string_view gf_lifeStateName(uint32_t STATE)
{
    if (STATE >= kLifeStateNames.size()) {
        lf_badKey();
    }
    return kLifeStateNames[STATE];
}

std::string_view gf_phaseName(uint32_t STATE)
{
    if (STATE >= kPhaseNames.size()) {
        lf_badKey();
    }
    return kPhaseNames[STATE];
}

std::string lf_routeText(const AcProfile& AC)
{
    if (AC.origin.empty() && AC.destination.empty()) {
        return std::string(8, ' ');
    }
    return fmt::format("{:3}->{:3}", AC.origin, AC.destination);
}

std::string lf_width8Text(const AcProfile& AC)
{
    return fmt::format("{:8}", AC.callsign);
}

std::string lf_acText(const AcProfile& AC)
{
    return fmt::format("{} {:12} {}", lf_width8Text(AC), AC.registration, lf_routeText(AC));
}

std::string gf_acDescription(const AcProfile& AC)
{
    return fmt::format("{} {}", gf_kindText(AC.kind), lf_acText(AC));
}

std::string gf_acDescription3(const AcProfile& AC)
{
    return fmt::format("{} {} {}", lf_width8Text(AC), AC.registration, gf_kindText(AC.kind));
}

std::string lf_spawnText(const AcProfile& AC)
{
    return fmt::format("{} {}", gf_kindText(AC.kind), AC.registration);
}

std::optional<std::string> gf_normalizeCallsign(std::string_view CALLSIGN)
{
    auto isLetter = [](char C) { return std::isalpha(static_cast<unsigned char>(C)) != 0; };
    if (CALLSIGN.size() < 4 || !isLetter(CALLSIGN[0]) || !isLetter(CALLSIGN[1]) ||
        !isLetter(CALLSIGN[2]) || std::isdigit(static_cast<unsigned char>(CALLSIGN[3])) == 0) {
        return std::nullopt;
    }
    std::string code(CALLSIGN.substr(0, 3));
    for (char& c : code) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return code;
}

} // namespace qmt
