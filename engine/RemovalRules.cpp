#include <algorithm>
#include <cmath>
#include <exception>

#include "engine/RemovalRules.h"
#include "core/Clock.h"
#include "core/Geo.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/WeekTime.h"
#include "core/WindowState.h"
#include "engine/BirthSpawn.h"
#include "engine/Commands.h"
#include "engine/Motion.h"
#include "records/ParkAirportIdentity.h"
#include "records/StaticPosition.h"
#include "records/UserAircraft.h"
#include "stands/LearnedOptions.h"
#include "stands/StandTable.h"

namespace qmt {

namespace {

constexpr double kMovedDeg = 1e-8;
constexpr double kInWayFactor = 1.1;
constexpr double kTooCloseLiveFactor = 1.15;
constexpr double kTooCloseStaticFactor = 1.1;
constexpr double kLowUserFt = 500.0;
constexpr double kPathReachNm = 1.0;
constexpr double kPathLateralFt = 50.0;
constexpr uint64_t kTicks100nsPerSecond = 10'000'000;

// Where the user aircraft was at the last static check of gf_removeLiveTooClose.
double s_lastUserLat = 0.0;
double s_lastUserLon = 0.0;

double lf_blockDistanceNm(const LiveAc& A, double LAT, double LON)
{
    return gf_distanceNm(A.block[kBlockLat], A.block[kBlockLon], LAT, LON);
}

bool lf_isParkedLive(const LiveAc& A)
{
    return A.state == AcState::active && A.flightState == FlightState::parked;
}

// Runs one rule; an error inside it ends the rule quietly, the caller tries again next time.
template <typename Rule>
void lf_guarded(Rule&& RULE)
{
    try {
        RULE();
    } catch (const std::exception&) {
    }
}

bool lf_staticMatchesLive(const SimAc& S, const LiveAc& LIVE, bool LIVE_IS_GHOST, const std::string& REAL_CALLSIGN)
{
    if (S.notFromParkedTraffic == 0 && S.parkedTrafficId == LIVE.id) {
        return true;
    }
    if (!LIVE.registration.empty() && LIVE.registration == S.registration) {
        return true;
    }
    if (LIVE.callsign == S.callsignCopy || LIVE.callsign == S.extraText) {
        return true;
    }
    if (!LIVE.extraText.empty() && (LIVE.extraText == S.callsignCopy || LIVE.extraText == S.extraText)) {
        return true;
    }
    return LIVE_IS_GHOST && !REAL_CALLSIGN.empty() &&
           (REAL_CALLSIGN == S.callsignCopy || REAL_CALLSIGN == S.extraText);
}

uint32_t lf_standIdByName(const std::string& NAME)
{
    if (NAME.empty()) {
        return 0;
    }
    for (const Stand& stand : g_stands) {
        if (stand.name == NAME) {
            return stand.standId;
        }
    }
    return 0;
}

std::string lf_timeOfDayText()
{
    const int64_t seconds = gf_nowSeconds();
    const int64_t ofDay = ((seconds % 86400) + 86400) % 86400;
    return fmt::format("{:02}:{:02}:{:02}", ofDay / 3600, ofDay / 60 % 60, ofDay % 60);
}

} // namespace

void gf_removeStaticTwinsOf(LiveAc& LIVE)
{
    if (LIVE.callsign.empty()) {
        return;
    }
    const bool ghost = gf_endsWithGhostMark(LIVE.callsign);
    const std::string real = ghost ? LIVE.callsign.substr(0, LIVE.callsign.size() - 1) : LIVE.callsign;
    lf_guarded([&] {
        for (SimAc& s : g_staticAcs) {
            if (s.state == AcState::active && lf_staticMatchesLive(s, LIVE, ghost, real)) {
                removeAircraftFromSim(s, "twin of a live aircraft");
                return;
            }
        }
    });
}

void lf_removeStaticInWay(LiveAc& LIVE)
{
    if (LIVE.onGround == 0 || LIVE.landingRoll != 0 || LIVE.departing != 0) {
        return;
    }
    LIVE.checkLat = LIVE.block[kBlockLat];
    LIVE.checkLon = LIVE.block[kBlockLon];
    lf_guarded([&] {
        for (SimAc& s : g_staticAcs) {
            if (s.state == AcState::active && s.callsign != LIVE.callsign &&
                lf_blockDistanceNm(LIVE, s.lat, s.lon) <= kInWayFactor * (LIVE.halfSpan + s.halfSpan)) {
                removeAircraftFromSim(s, "in the way of a live aircraft");
                return;
            }
        }
    });
}

void gf_removeStaticInWayAll()
{
    if (g_staticAcs.empty() || g_liveAcs.empty()) {
        return;
    }
    for (LiveAc& live : g_liveAcs) {
        if (live.state != AcState::active || live.onGround == 0 ||
            (live.flightState != FlightState::taxi && live.flightState != FlightState::parking)) {
            continue;
        }
        if (std::abs(live.block[kBlockLat] - live.checkLat) >= kMovedDeg ||
            std::abs(live.block[kBlockLon] - live.checkLon) >= kMovedDeg) {
            lf_removeStaticInWay(live);
        }
    }
}

void gf_removeStaticSameReg()
{
    lf_guarded([] {
        for (const LiveAc& live : g_liveAcs) {
            if (live.state != AcState::active || live.onGround == 0) {
                continue;
            }
            const std::string starred = live.callsign.empty() ? std::string() : live.callsign + "*";
            for (SimAc& s : g_staticAcs) {
                if (s.state != AcState::active) {
                    continue;
                }
                const bool sameReg = !live.registration.empty() && s.registration == live.registration;
                const bool starredTwin = !starred.empty() && s.callsign == starred;
                if (sameReg || starredTwin) {
                    removeAircraftFromSim(s, "same registration as a live aircraft");
                    return;
                }
            }
        }
    });
}

void gf_removeLiveTooClose()
{
    const double userLat = g_userAc.latitude;
    const double userLon = g_userAc.longitude;
    lf_guarded([&] {
        for (LiveAc& live : g_liveAcs) {
            if (live.state == AcState::active && live.onGround != 0 &&
                lf_blockDistanceNm(live, userLat, userLon) <= kTooCloseLiveFactor * (g_userHalfSpan + live.halfSpan)) {
                removeAircraftFromSim(live, "too close to the user");
                return;
            }
        }
        if (std::abs(userLat - s_lastUserLat) < kMovedDeg && std::abs(userLon - s_lastUserLon) < kMovedDeg) {
            return;
        }
        s_lastUserLat = userLat;
        s_lastUserLon = userLon;
        for (SimAc& s : g_staticAcs) {
            if (s.state == AcState::active &&
                gf_distanceNm(userLat, userLon, s.lat, s.lon) <=
                    kTooCloseStaticFactor * g_userHalfSpan + kTooCloseStaticFactor * s.halfSpan) {
                removeAircraftFromSim(s, "too close to the user");
                return;
            }
        }
    });
}

void gf_removeLiveInUserPath()
{
    const double userLat = g_userAc.latitude;
    const double userLon = g_userAc.longitude;
    const bool userLow = g_userAc.altitudeAboveGround < kLowUserFt;
    lf_guarded([&] {
        for (LiveAc& live : g_liveAcs) {
            if (live.state != AcState::active) {
                continue;
            }
            const double d = lf_blockDistanceNm(live, userLat, userLon);
            if (userLow && live.onGround != 0 && d <= kPathReachNm) {
                double angle = gf_bearing(userLat, userLon, live.block[kBlockLat], live.block[kBlockLon]) -
                               g_userAc.heading;
                angle = std::remainder(angle, 2.0 * PI);
                if (std::sin(std::abs(angle)) * d * kFeetPerNm <= kPathLateralFt) {
                    removeAircraftFromSim(live, "in the user's path");
                    return;
                }
            }
            if (lf_checkUserConflict(live, 0)) {
                return;
            }
        }
    });
}

void gf_removeAcAtStand(const std::string& STAND_NAME)
{
    const uint32_t standId = lf_standIdByName(STAND_NAME);
    if (standId == 0) {
        // aircraft without a stand carry id 0: an unknown name must not pick one of them
        return;
    }
    lf_guarded([&] {
        for (SimAc& s : g_staticAcs) {
            if (s.state == AcState::active && s.standId == standId) {
                removeAircraftFromSim(s, "on the user's stand");
                return;
            }
        }
        for (LiveAc& live : g_liveAcs) {
            if (lf_isParkedLive(live) && live.standId == standId) {
                removeAircraftFromSim(live, "on the user's stand");
                return;
            }
        }
    });
}

void lf_removeWhileBlocked(uint32_t ID)
{
    LiveAc* ac = gf_findLiveAc(ID);
    if (ac == nullptr) {
        return;
    }
    if (ac->state == AcState::active) {
        gf_logLine("{} removed from simulator immediately while blocked", gf_acDescription(*ac));
        removeAircraftFromSim(*ac, "callsign blocked");
    } else if (ac->state == AcState::buffer) {
        gf_logLine("{} {} will be removed from buffer while blocked", lf_timeOfDayText(), gf_acDescription(*ac));
        ac->remove = 1;
    }
}

void lf_parkedCounts(std::vector<std::pair<uint32_t, uint64_t>>& LIST)
{
    LIST.clear();
    const uint64_t now = gf_nowTicks100ns();
    for (const LiveAc& live : g_liveAcs) {
        if (lf_isParkedLive(live)) {
            const uint64_t seconds = now > live.parkStart ? (now - live.parkStart) / kTicks100nsPerSecond : 0;
            LIST.emplace_back(live.id, seconds);
        }
    }
    // longest first, equal times in list order
    std::stable_sort(LIST.begin(), LIST.end(), [](const auto& A, const auto& B) { return A.second > B.second; });
}

void lf_checkMaxPark(uint32_t EXTRA)
{
    if (RT_PARKTRAFFIC_ONLY.value()) {
        return;
    }
    lf_checkMaxParkAgainst(EXTRA, lf_wantedStaticCount());
}

void lf_checkMaxParkAgainst(uint32_t EXTRA, int64_t WANTED)
{
    if (RT_PARKTRAFFIC_ONLY.value() || WANTED < 1) {
        return;
    }
    lf_guarded([&] {
        std::vector<std::pair<uint32_t, uint64_t>> parked;
        lf_parkedCounts(parked);
        const int64_t p = static_cast<int64_t>(EXTRA) + static_cast<int64_t>(parked.size());
        if (!INITIAL_LOAD_ONLY.value() && p > WANTED && !parked.empty()) {
            if (LiveAc* longest = gf_findLiveAc(parked.front().first)) {
                gf_logLine("{:8}: {} live max park exceeded, removed", gf_standName(longest->standId),
                           longest->callsign);
                removeAircraftFromSim(*longest, "live max park exceeded");
            }
        }
        const int64_t s = std::count_if(g_staticAcs.begin(), g_staticAcs.end(), [](const SimAc& A) {
            return A.state == AcState::active || A.state == AcState::removingfromsim;
        });
        if (g_staticAcs.empty() || s + p <= WANTED) {
            return;
        }
        // The one parked longest: ages, not week slots, so that Sunday night stays older than Monday morning.
        const WeekTime now = g_weekTime.load();
        auto earliest = std::max_element(g_staticAcs.begin(), g_staticAcs.end(), [now](const SimAc& A, const SimAc& B) {
            return A.timeStamp.ageAt(now).value_or(0) < B.timeStamp.ageAt(now).value_or(0);
        });
        if (earliest->state == AcState::active) {
            gf_logLine("{:8}: {} static max park exceeded, removed", gf_standName(earliest->standId),
                       earliest->callsign);
            removeAircraftFromSim(*earliest, "static max park exceeded");
        }
    });
}

void gf_removeLiveParked(uint32_t N)
{
    std::vector<std::pair<uint32_t, uint64_t>> parked;
    lf_parkedCounts(parked);
    const std::size_t count = std::min<std::size_t>(N, parked.size());
    lf_guarded([&] {
        for (std::size_t i = 0; i < count; ++i) {
            if (LiveAc* live = gf_findLiveAc(parked[i].first)) {
                gf_logLine("live parked {} at {} removed", gf_acDescription(*live), gf_standName(live->standId));
                removeAircraftFromSim(*live, "live parked, static parking renewed");
            }
        }
    });
}

uint32_t gf_countLiveParked(bool WITH_TIME)
{
    uint32_t count = 0;
    int64_t sum = 0;
    const WeekTime now = g_weekTime.load();
    for (const LiveAc& live : g_liveAcs) {
        if (!lf_isParkedLive(live)) {
            continue;
        }
        ++count;
        sum += live.timeStamp.ageAt(now).value_or(0);
    }
    if (WITH_TIME) {
        const float mean = count == 0 ? 0.0f
                                      : static_cast<float>(static_cast<double>(sum) / (2.0 * count) + 0.5);
        gf_updateWindowValues([mean](WindowValues& V) { V.meanAgeLiveParked = mean; });
    }
    return count;
}

void gf_resetRemovalRulesForTests()
{
    s_lastUserLat = 0.0;
    s_lastUserLon = 0.0;
}

} // namespace qmt
