#include "engine/Intake.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "core/AcKind.h"
#include "core/Airports.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/RefData.h"
#include "core/Text.h"
#include "engine/AcLists.h"
#include "engine/NewPoint.h"
#include "engine/Profile.h"
#include "engine/Respawn.h"
#include "feed/TrafficFeed.h"
#include "records/ParkAirportIdentity.h"

namespace qmt {

std::mutex g_batchMutex;
std::vector<LiveTrafficRecord> g_bufferedTraffic;
std::vector<std::vector<LiveTrafficRecord>> g_historyBatches;
std::atomic<bool> g_acceptBatches{false};

namespace {

constexpr double kThinAirborneNm = 0.2429805615550756;  // 450 m
constexpr double kThinGroundNm = 0.010799136069114472;  // 20 m
constexpr double kGroundCheckKt = 50.0;
constexpr double kGroundCheckFt = 100.0;

bool lf_isSound(const LiveTrafficRecord& R)
{
    const StreamPos& p = R.pos;
    const bool finite = std::isfinite(R.reportTime) && std::isfinite(p.lat) && std::isfinite(p.lon) &&
                        std::isfinite(p.alt) && std::isfinite(p.groundSpeed) && std::isfinite(p.track) &&
                        std::isfinite(p.verticalRate) && std::isfinite(p.airspeed) &&
                        (p.hasRoll == 0 || std::isfinite(p.roll)) &&
                        (p.hasTrueHeading == 0 || std::isfinite(p.trueHeading));
    return finite && R.hexId > kMaxStaticId;
}

double lf_medianTime(const std::vector<LiveTrafficRecord>& BATCH)
{
    std::vector<double> times;
    times.reserve(BATCH.size());
    for (const auto& r : BATCH) {
        times.push_back(r.reportTime);
    }
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    return n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2.0;
}

int32_t lf_clampTick(double VALUE)
{
    constexpr double lo = std::numeric_limits<int32_t>::min();
    constexpr double hi = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::clamp(VALUE, lo, hi));
}

// Reference elevation of the altitude filter: the park airport's, or far below any ground.
double lf_referenceElevation()
{
    return !gf_parkAirportSet() ? -1000.0 : static_cast<double>(g_parkAirportElevation);
}

// A low report close to the airport's elevation is a parked or taxiing aircraft whose
// altitude is not usable yet.
bool lf_tooNearElevation(double ALT)
{
    return ALT > 0.0 && ALT < 10000.0 && std::abs(ALT - lf_referenceElevation()) <= 108.0;
}

// Some feeds call every aircraft airborne: a slow report at the elevation of the airport it is
// at stands or taxis there.
void lf_crossCheckGround(LiveTrafficRecord& R)
{
    StreamPos& p = R.pos;
    if (p.airborne == 0 || p.groundSpeed >= kGroundCheckKt) {
        return;
    }
    if (const std::optional<IcaoCode> code = gf_nearestAirport(LatLon{p.lat, p.lon})) {
        if (const std::optional<AirportEntry> airport = gf_airportByCode(code->view())) {
            if (p.alt <= airport->altitude + kGroundCheckFt) {
                p.airborne = 0;
            }
        }
    }
}

// Implausible jumps and straight, steady reports that add nothing yet.
bool lf_dropAgainstLast(const LiveAc& AC, const LiveTrafficRecord& R)
{
    const StreamPos& last = AC.stream.back();
    const double a = last.groundSpeed;
    const double b = R.pos.groundSpeed;
    const double dt = R.reportTime - AC.lastReportTime;
    const double dtrack = std::abs(R.pos.track - last.track);
    if (!(dt > 1.0)) {
        return true;
    }
    if ((a > 5.0 && b >= 10.0 * a) || (b > 5.0 && a >= 10.0 * b)) {
        return true;
    }
    if ((a <= 5.0 && b >= 80.0) || (b <= 5.0 && a >= 80.0)) {
        return true;
    }
    if (AC.extrapolations < 1) {
        if (R.pos.airborne != 0) {
            if (b > 120.0 && dtrack <= 1.0 && dt <= kThinAirborneNm / (b / 3600.0)) {
                return true;
            }
        } else if (b <= 30.0 && dtrack <= 2.0) {
            const double limit = b > 0.0 ? std::min(kThinGroundNm / (b / 3600.0), 15.0) : 15.0;
            if (dt <= limit) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

void gf_intakeTrafficBatch(std::vector<LiveTrafficRecord>& BATCH, int32_t DELAY)
{
    auto& batch = BATCH;
    if (batch.empty()) {
        return;
    }
    const auto before = batch.size();
    std::erase_if(batch, [](const LiveTrafficRecord& R) { return !lf_isSound(R); });
    if (batch.size() != before) {
        const auto dropped = before - batch.size();
        gf_logLine("gf_intakeTrafficBatch: {} record{} dropped (bad time, position, speed or hex id)",
                   dropped, gf_plural(dropped));
    }
    if (!batch.empty()) {
        const double median = lf_medianTime(batch);
        const double base = static_cast<double>(g_tickCounter.load()) + DELAY * 100.0;
        for (auto& r : batch) {
            r.pos.playTick = lf_clampTick(base + 10.0 * std::round((r.reportTime - median) * 10.0));
        }
        std::lock_guard lock(g_batchMutex);
        if (DELAY != kLiveDelay) {
            g_historyBatches.push_back(std::move(batch));
        } else if (g_acceptBatches && g_bufferedTraffic.empty()) {
            g_bufferedTraffic = std::move(batch);
        }
    }
    batch.clear();
}

void gf_mergeHistoryBatches()
{
    std::vector<std::vector<LiveTrafficRecord>> batches;
    {
        std::unique_lock lock(g_batchMutex, std::try_to_lock);
        if (!lock.owns_lock() || g_historyBatches.empty()) {
            return;
        }
        batches.swap(g_historyBatches);
    }
    for (auto& b : batches) {
        for (auto& r : b) {
            lf_mergeLiveRecord(r);
        }
    }
}

std::size_t gf_takeLiveRecords(std::span<LiveTrafficRecord> RECORDS)
{
    std::unique_lock lock(g_batchMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        return 0;
    }
    std::size_t taken = 0;
    while (taken < RECORDS.size() && !g_bufferedTraffic.empty()) {
        RECORDS[taken++] = std::move(g_bufferedTraffic.back());
        g_bufferedTraffic.pop_back();
    }
    return taken;
}

void lf_mergeLiveRecord(LiveTrafficRecord& RECORD)
{
    lf_crossCheckGround(RECORD);
    LiveAc* ac = gf_findLiveAc(RECORD.hexId);
    if (ac == nullptr) {
        if (RECORD.callsign.empty() || g_liveAcs.empty()) {
            lf_addNewLiveAc(RECORD);
            return;
        }
        const bool sameAircraft = std::any_of(g_liveAcs.begin(), g_liveAcs.end(), [&](const LiveAc& A) {
            return A.callsign == RECORD.callsign && A.kind.modelId == RECORD.kind.modelId;
        });
        if (!sameAircraft) {
            lf_addNewLiveAc(RECORD);
        }
        return;
    }
    if (ac->state == AcState::liveryrespawn || ac->state == AcState::removingfromsim) {
        return;
    }
    // The new-point checks may move the front point's play tick or mark it a repeat.
    gf_forgetKeptFront(*ac);
    if (!ac->stream.empty() && lf_dropAgainstLast(*ac, RECORD)) {
        return;
    }
    if (ac->state == AcState::buffer && lf_tooNearElevation(RECORD.pos.alt)) {
        return;
    }
    if (!lf_checkRespawn(*ac, RECORD)) {
        return;
    }
    ac->lastReportTime = RECORD.reportTime;
    decodeExisting(*ac, RECORD.pos);
}

void lf_addNewLiveAc(LiveTrafficRecord& RECORD)
{
    if (auto kind = gf_findRegRecord(RECORD.registration)) {
        RECORD.kind = *kind;
    }
    if (!gf_isValidModel(gf_modelCode(RECORD.kind.modelId))) {
        return;
    }
    lf_newLiveAc(RECORD);
}

void lf_newLiveAc(LiveTrafficRecord& RECORD)
{
    switch (gf_modelCategory(RECORD.kind.modelId)) {
    case AcCategory::Light:
        if (!LIGHT_AIRCRAFT.value()) {
            return;
        }
        break;
    case AcCategory::HighPerf:
        if (!HIGH_PERF_AIRCRAFT.value()) {
            return;
        }
        break;
    case AcCategory::Rotorcraft:
        if (!HELICOPTERS.value()) {
            return;
        }
        break;
    case AcCategory::Buzjets:
    case AcCategory::Large:
    case AcCategory::Heavy:
        break;
    default:
        return;
    }
    if (lf_tooNearElevation(RECORD.pos.alt)) {
        return;
    }
    RECORD.callsignCopy = RECORD.callsign;
    RECORD.extraText.clear();
    RECORD.learnedStandChecked = 0;

    AcProfile profile;
    gf_makeParkedAc(profile, RECORD);
    profile.id = RECORD.hexId;
    profile.pitchRateLive = profile.pitchRate;
    profile.climbFactor = gf_climbFactorOf(profile.category);
    profile.turnFactor = gf_turnFactorOf(profile.category);
    g_liveAcs.emplace_back(RECORD.pos, profile, RECORD.reportTime);
}

void gf_attachIntake()
{
    gf_setTrafficBatchSink(&gf_intakeTrafficBatch);
}

void gf_acceptLiveBatches(bool ACCEPT)
{
    g_acceptBatches = ACCEPT;
}

void gf_dropWaitingBatches()
{
    std::lock_guard lock(g_batchMutex);
    g_bufferedTraffic.clear();
    g_historyBatches.clear();
}

void gf_resetIntakeForTests()
{
    gf_attachIntake();
    gf_acceptLiveBatches(false);
    gf_dropWaitingBatches();
}

} // namespace qmt
