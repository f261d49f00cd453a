#include "engine/Profile.h"

#include <array>
#include <stdexcept>

#include "core/AcKind.h"
#include "core/Geo.h"
#include "core/Random.h"
#include "core/RefData.h"

namespace qmt {

namespace {

// Indexed by AcCategory: Light, Buzjets, Large, Heavy, HighPerf, Rotorcraft.
// A helicopter lifts off nearly level and climbs away at a gentle pitch, within 15 degrees.
constexpr std::array<double, 6> kTakeOffPitchDeg{-9.0, -8.0, -6.0, -5.0, -6.0, -4.0};
constexpr std::array<double, 6> kClimbPitchDeg{-15.0, -18.0, -16.5, -12.5, -20.0, -8.0};
constexpr std::array<double, 6> kPitchRateRad{
    0.002617993877991494,  0.0017453292519943294, 0.0012217304763960306,
    0.0008726646259971647, 0.0017453292519943294, 0.0034906585039886587};
constexpr std::array<uint32_t, 6> kGroundSlots{250, 300, 400, 450, 150, 100};
constexpr std::array<uint32_t, 6> kTouchdownSlots{250, 300, 350, 450, 150, 100};
constexpr std::array<uint32_t, 6> kRotationSlots{100, 200, 200, 250, 100, 100};
constexpr std::array<uint32_t, 6> kAirSlots{200, 250, 300, 400, 200, 100};
constexpr std::array<double, 6> kClimbFactor{0.5, 0.75, 0.6, 0.5, 1.0, 0.75};
constexpr std::array<double, 6> kTurnFactor{5.0, 4.5, 4.0, 3.0, 4.5, 5.0};

template <typename T>
T lf_categoryValue(const std::array<T, 6>& TABLE, uint32_t CATEGORY)
{
    if (CATEGORY >= TABLE.size()) {
        throw std::out_of_range("invalid unordered_map<K, T> key");
    }
    return TABLE[CATEGORY];
}

} // namespace

double gf_climbFactorOf(uint32_t CATEGORY)
{
    return lf_categoryValue(kClimbFactor, CATEGORY);
}

double gf_turnFactorOf(uint32_t CATEGORY)
{
    return lf_categoryValue(kTurnFactor, CATEGORY);
}

void gf_makeParkedAc(AcProfile& PROFILE, const TrafficRecordHead& RECORD)
{
    PROFILE = AcProfile{};
    PROFILE.kind = RECORD.kind;
    PROFILE.origin = RECORD.origin;
    PROFILE.destination = RECORD.destination;
    PROFILE.learnedStandChecked = RECORD.learnedStandChecked;
    PROFILE.callsign = RECORD.callsign;
    PROFILE.callsignCopy = RECORD.callsignCopy;
    PROFILE.extraText = RECORD.extraText;
    PROFILE.registration = RECORD.registration;
    PROFILE.halfSpan = hwsp(PROFILE.kind.modelId);
    PROFILE.category = static_cast<uint32_t>(gf_modelCategory(PROFILE.kind.modelId));
    const uint32_t cat = PROFILE.category;
    PROFILE.groundSlots = lf_categoryValue(kGroundSlots, cat);
    PROFILE.touchdownSlots = lf_categoryValue(kTouchdownSlots, cat);
    PROFILE.rotationSlots = lf_categoryValue(kRotationSlots, cat);
    PROFILE.airSlots = lf_categoryValue(kAirSlots, cat);
    PROFILE.takeOffPitch = gf_jitter(lf_categoryValue(kTakeOffPitchDeg, cat), 2.5) * kDegToRad;
    PROFILE.climbPitch = gf_jitter(lf_categoryValue(kClimbPitchDeg, cat), 5.0) * kDegToRad;
    PROFILE.pitchRate = lf_categoryValue(kPitchRateRad, cat);
}

} // namespace qmt
