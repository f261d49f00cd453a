#include "parking/Reconcile.h"

#include "core/Geo.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/RefData.h"
#include "core/StatusLine.h"
#include "core/Text.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "engine/Commands.h"
#include "engine/RemovalRules.h"
#include "feed/TrafficFeed.h"
#include "parking/StandSearch.h"
#include "parking/StaticAircraft.h"
#include "parking/StaticPositions.h"
#include "stands/StandTable.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>

namespace qmt {

namespace {

void lf_keep(const SimAc& AC)
{
    g_keptStatics.push_back(
        KeptStatic{AC.callsign, AC.callsignCopy, AC.extraText, AC.registration, AC.kind, AC.timeStamp, AC.standId, 0});
}

void lf_listForRemoval(const SimAc& AC)
{
    lf_listStaticRemoval(AC.callsign, AC.standId);
}

// An active static aircraft of the source that no earlier step has listed for removal.
bool lf_underReview(const SimAc& AC, uint32_t SOURCE)
{
    return AC.state == AcState::active && AC.notFromParkedTraffic == SOURCE &&
           !lf_isListedForRemoval(AC.callsign, AC.standId);
}

// The static aircraft is shown under this name (its callsign is the name with '*').
bool lf_shownAs(const std::string& NAME, const SimAc& AC)
{
    return !NAME.empty() && AC.callsign.size() == NAME.size() + 1 && AC.callsign.back() == '*' &&
           AC.callsign.compare(0, NAME.size(), NAME) == 0;
}

void lf_dropPosition(size_t INDEX)
{
    g_staticPositions.erase(g_staticPositions.begin() + static_cast<std::ptrdiff_t>(INDEX));
}

template <typename Pred>
std::optional<size_t> lf_findPosition(Pred&& PRED)
{
    for (size_t i = 0; i < g_staticPositions.size(); ++i) {
        if (PRED(g_staticPositions[i])) {
            return i;
        }
    }
    return std::nullopt;
}

// A position on a neighbouring stand whose aircraft would touch this one.
std::optional<size_t> lf_positionTooNear(const SimAc& AC)
{
    const Stand* stand = gf_standById(AC.standId);
    if (stand == nullptr) {
        return std::nullopt;
    }
    return gf_positionTooNear(*stand, AC.lat, AC.lon, hwsp(AC.kind.modelId));
}

// The aircraft's own options count here even when this change switched them off: it was the
// aircraft itself that made them "in use".
bool lf_optionCovers(const Stand& STAND, uint32_t DAY, uint32_t HALF_HOUR, const KeptStatic& KEPT, bool BY_CALLSIGN)
{
    const std::string bare = KEPT.callsign.substr(0, KEPT.callsign.size() - (KEPT.callsign.ends_with('*') ? 1 : 0));
    for (const StandOption& opt : STAND.options) {
        if (opt.day == DAY && gf_sameKind(opt.kind, KEPT.kind) &&
            (!BY_CALLSIGN || opt.callsign == bare) && opt.hours.test(HALF_HOUR)) {
            return true;
        }
    }
    return false;
}

bool lf_hasOption(const Stand& STAND, uint32_t DAY, const KeptStatic& KEPT)
{
    const std::string bare = KEPT.callsign.substr(0, KEPT.callsign.size() - (KEPT.callsign.ends_with('*') ? 1 : 0));
    return std::any_of(STAND.options.begin(), STAND.options.end(), [&](const StandOption& O) {
        return O.day == DAY && O.callsign == bare && gf_sameKind(O.kind, KEPT.kind);
    });
}

// A learned aircraft named by its first callsign whose stay under it ends before the next half hour
// is shown under its further name from then on.
void lf_markRenewals(WeekTime TIME)
{
    std::stable_sort(g_keptStatics.begin(), g_keptStatics.end(),
                     [](const KeptStatic& A, const KeptStatic& B) { return A.time.day < B.time.day; });
    for (KeptStatic& kept : g_keptStatics) {
        if (kept.thirdName.empty() || kept.secondName.empty() || kept.callsign.find(kept.secondName) == std::string::npos) {
            continue;
        }
        const Stand* stand = gf_standById(kept.standId);
        if (stand == nullptr || !lf_hasOption(*stand, TIME.day, kept)) {
            continue;
        }
        const bool goesOn = TIME.halfHour + 1 < WeekTime::kHalfHoursPerDay
                                ? lf_optionCovers(*stand, TIME.day, TIME.halfHour + 1, kept, true)
                                : lf_optionCovers(*stand, TIME.nextDay(), 0, kept, false);
        kept.renew = goesOn ? 0 : 1;
    }
}

} // namespace

void lf_keepOrRemoveByAge(const SimAc& AC, size_t POSITION)
{
    const WeekTime now = g_weekTime.load();
    // The aircraft stays when the position parked at or before it did; without a time of its
    // own it cannot be shown to be the newer and goes.
    const std::optional<int> age = AC.timeStamp.ageAt(now);
    if (age && g_staticPositions[POSITION].rank >= *age) {
        lf_keep(AC);
        lf_dropPosition(POSITION);
    } else {
        lf_listForRemoval(AC);
    }
}

void lf_applyParkedTrafficChanges()
{
    lf_positionsFromParkedTraffic();
    for (const SimAc& ac : g_staticAcs) {
        if (!lf_underReview(ac, 0)) {
            continue;
        }
        // Its report has started to move.
        if (g_recentHexIds.contains(ac.parkedTrafficId)) {
            lf_listForRemoval(ac);
            continue;
        }
        const std::optional<size_t> same = lf_findPosition([&ac](const StaticPosition& P) {
            return lf_shownAs(P.callsign, ac) || lf_shownAs(P.furtherName, ac) ||
                   (!P.registration.empty() && P.registration == ac.registration);
        });
        if (same && g_staticPositions[*same].standId == ac.standId) {
            lf_keep(ac);
            lf_dropPosition(*same);
        } else {
            lf_listForRemoval(ac);
        }
    }
    gf_logLine("{} new parking position{} from PT", g_staticPositions.size(), gf_plural(g_staticPositions.size()));
}

void lf_matchLearnedStatics(bool RENEW_ALL)
{
    if (RENEW_ALL) {
        return;
    }
    const WeekTime now = g_weekTime.load();
    for (const SimAc& ac : g_staticAcs) {
        if (!lf_underReview(ac, 1)) {
            continue;
        }
        const std::optional<size_t> found = lf_findPosition(
            [&ac](const StaticPosition& P) { return P.standId == ac.standId || lf_shownAs(P.callsign, ac); });
        if (!found) {
            continue;
        }
        const StaticPosition& pos = g_staticPositions[*found];
        const bool sameAircraft = lf_shownAs(pos.callsign, ac) && gf_sameKind(pos.kind, ac.kind);
        const std::optional<int> age = ac.timeStamp.ageAt(now);
        if ((!age || pos.rank < *age) && !sameAircraft) {
            lf_listForRemoval(ac);
        } else {
            lf_dropPosition(*found);
        }
    }
}

void lf_reviewLearnedStatics(WeekTime TIME)
{
    for (const SimAc& ac : g_staticAcs) {
        if (!lf_underReview(ac, 1)) {
            continue;
        }
        if ((!ac.callsignCopy.empty() && g_recentCallsigns.contains(ac.callsignCopy)) ||
            (!ac.extraText.empty() && g_recentCallsigns.contains(ac.extraText))) {
            lf_listForRemoval(ac);
            continue;
        }
        const std::optional<size_t> here =
            lf_findPosition([&ac](const StaticPosition& P) { return P.standId == ac.standId; });
        if (!here) {
            if (const std::optional<size_t> near = lf_positionTooNear(ac)) {
                lf_keepOrRemoveByAge(ac, *near);
            } else if (gf_optionStillFits(TIME, static_cast<int32_t>(ac.standId), ac)) {
                lf_keep(ac);
            } else {
                lf_listForRemoval(ac);
            }
            continue;
        }
        const StaticPosition& pos = g_staticPositions[*here];
        if (gf_sameKind(pos.kind, ac.kind) && (lf_shownAs(pos.callsign, ac) || lf_shownAs(pos.furtherName, ac))) {
            lf_keep(ac);
            lf_dropPosition(*here);
        } else {
            lf_keepOrRemoveByAge(ac, *here);
        }
    }
    lf_markRenewals(TIME);
}

namespace {

// Kept statics whose stay under their callsign ends become new positions under their further name.
void lf_renewKeptStatics(WeekTime NOW)
{
    for (const KeptStatic& kept : g_keptStatics) {
        if (kept.renew == 0) {
            continue;
        }
        // Ranked by its age: the new aircraft keeps the time the old one parked.
        g_staticPositions.push_back(StaticPosition{.source = 1,
                                                   .standId = kept.standId,
                                                   .rank = kept.time.ageAt(NOW).value_or(0),
                                                   .kind = kept.kind,
                                                   .callsign = kept.secondName,
                                                   .furtherName = kept.thirdName,
                                                   .registration = kept.registration,
                                                   .preferCallsign = 0});
        lf_listStaticRemoval(kept.callsign, kept.standId);
    }
    std::erase_if(g_keptStatics, [](const KeptStatic& K) { return K.renew != 0; });
}

// Live parked, kept and new aircraft beyond the wanted number N go: new positions first, then kept
// statics, then the longest parked live aircraft.
void lf_cutToWanted(int64_t N)
{
    int64_t excess = static_cast<int64_t>(g_liveParked.size() + g_keptStatics.size() + g_staticPositions.size()) - N;
    for (; excess >= 1; --excess) {
        if (!g_staticPositions.empty()) {
            g_staticPositions.pop_back();
        } else if (!g_keptStatics.empty()) {
            lf_listStaticRemoval(g_keptStatics.back().callsign, g_keptStatics.back().standId);
            g_keptStatics.pop_back();
        } else if (!g_liveParked.empty() && N >= 1) {
            // The longest parked is the last one.
            const uint32_t standId = g_liveParked.back().standId;
            for (LiveAc& live : g_liveAcs) {
                if (live.state == AcState::active && live.flightState == FlightState::parked && live.standId == standId) {
                    removeAircraftFromSim(live, "longest parked, static parking renewed");
                    break;
                }
            }
            g_liveParked.pop_back();
        } else {
            break;
        }
    }
}

} // namespace

void gf_applyParkTrafficChanges(bool RENEW_ALL)
{
    const WeekTime now = lf_logDayAndHour();
    gf_updateWindowValues([](WindowValues& V) {
        V.softMark = false;
        V.weekMark = false;
    });
    lf_startStaticPass();

    if (RENEW_ALL) {
        for (const SimAc& ac : g_staticAcs) {
            if (lf_underReview(ac, 1)) {
                lf_listForRemoval(ac);
            }
        }
    }
    const bool parkedOnly = RT_PARKTRAFFIC_ONLY.value();
    const int64_t n = lf_wantedStaticCount();
    gf_collectLiveParked();
    if (!parkedOnly && n >= 1 && static_cast<int64_t>(g_liveParked.size()) > n) {
        const int64_t excess = static_cast<int64_t>(g_liveParked.size()) - n;
        gf_setStatus(fmt::format("Parking adjustments: {} more live ac than wanted", excess), true);
        gf_removeLiveParked(static_cast<uint32_t>(excess));
        gf_collectLiveParked();
    }
    for (const LiveParked& live : g_liveParked) {
        if (Stand* stand = gf_standById(live.standId)) {
            lf_markStandUsed(*stand);
        }
    }

    // Asked once: each answer may take up to 10 s of the worker.
    if (gf_getParkedTraffic()) {
        lf_applyParkedTrafficChanges();
    }
    const auto byRankDescending = [](const StaticPosition& A, const StaticPosition& B) { return A.rank > B.rank; };
    if (parkedOnly) {
        // Learned options are never used with parked traffic only, whether or not it could be read.
        std::stable_sort(g_staticPositions.begin(), g_staticPositions.end(), byRankDescending);
        gf_setStatus(fmt::format("ParkTraffic changes: {} to be removed, {} to be added", g_staticRemovals.size(),
                                 g_staticPositions.size()),
                     true);
        lf_removeListedStatics();
        return;
    }

    lf_matchLearnedStatics(RENEW_ALL);
    const auto k = static_cast<int64_t>(g_keptStatics.size() + g_liveParked.size());
    for (const KeptStatic& kept : g_keptStatics) {
        if (Stand* stand = gf_standById(kept.standId)) {
            lf_markStandUsed(*stand);
        }
    }
    if (n - static_cast<int64_t>(g_staticPositions.size()) != k) {
        lf_addPositions(now, n, k);
    }
    lf_reviewLearnedStatics(now);

    lf_renewKeptStatics(now);
    lf_cutToWanted(n);
    std::stable_sort(g_staticPositions.begin(), g_staticPositions.end(), byRankDescending);
    gf_setStatus(fmt::format("Parking adjustments: {} to be removed, {} to be added\n", g_staticRemovals.size(),
                             g_staticPositions.size()),
                 true);
    lf_removeListedStatics();
}

} // namespace qmt
