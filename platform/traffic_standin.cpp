#include "platform/traffic_standin.h"

#include "core/LoopClock.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

namespace qmt {

namespace {

std::uint64_t lf_mix(std::uint64_t X)
{
    X += 0x9E3779B97F4A7C15ULL;
    X = (X ^ (X >> 30)) * 0xBF58476D1CE4E5B9ULL;
    X = (X ^ (X >> 27)) * 0x94D049BB133111EBULL;
    return X ^ (X >> 31);
}

constexpr uint32_t kSaltGap = 1;
constexpr uint32_t kSaltGapLength = 2;
constexpr uint32_t kSaltOutOfOrder = 3;
constexpr uint32_t kSaltDuplicate = 4;
// Each lap of a looped scenario gives its aircraft new ids and flight numbers.
constexpr uint32_t kLapHexStep = 0x3F1;
constexpr int kLapFlightStep = 7;

uint32_t lf_lapHexId(uint32_t HEX_ID, int LAP)
{
    return (HEX_ID + static_cast<uint32_t>(LAP) * kLapHexStep) & 0xFFFFFFu;
}

// The flight number of a callsign moved on by the lap ("KLM1723" in lap 2: "KLM1737").
std::string lf_lapCallsign(const std::string& CALLSIGN, int LAP)
{
    std::size_t digits = CALLSIGN.size();
    while (digits > 0 && CALLSIGN[digits - 1] >= '0' && CALLSIGN[digits - 1] <= '9') {
        --digits;
    }
    if (LAP == 0 || digits == CALLSIGN.size() || CALLSIGN.size() - digits > 4) {
        return CALLSIGN;
    }
    const int number = (std::stoi(CALLSIGN.substr(digits)) + LAP * kLapFlightStep) % 10000;
    return CALLSIGN.substr(0, digits) + std::to_string(number);
}

// A slower receiver passes the same report on this much later, with its older time stamp.
constexpr double kDuplicateLagSeconds = 1.5;
// A report that overtakes newer ones is this much older than the latest.
constexpr double kOutOfOrderLagSeconds = 5.0;

} // namespace

ServiceBehaviour gf_realServiceBehaviour(std::uint32_t SEED, double SESSION_LIFETIME_SECONDS)
{
    ServiceBehaviour b;
    b.seed = SEED;
    b.duplicatePerThousand = 50;
    b.outOfOrderPerThousand = 30;
    b.gapPerThousand = 20;
    b.sessionLifetimeSeconds = SESSION_LIFETIME_SECONDS;
    b.throttle = true;
    return b;
}

ScenarioTrafficSource::ScenarioTrafficSource(Scenario SCENARIO, NowFn NOW, SleepFn SLEEP, ServiceBehaviour BEHAVIOUR)
    : m_scenario(std::move(SCENARIO))
    , m_now(std::move(NOW))
    , m_sleep(SLEEP ? std::move(SLEEP) : SleepFn([](std::chrono::milliseconds D) { gf_loopSleepFor(D); }))
    , m_behaviour(BEHAVIOUR)
    , m_epochAtStart(m_now())
{
    const auto& reports = m_scenario.reports;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        m_byHexId[reports[i].hexId].push_back(i);
    }
    if (m_behaviour.gapPerThousand > 0) {
        // Gaps per aircraft: after a drawn report, the next ones within 15-40 s never arrive.
        for (auto& [hexId, indices] : m_byHexId) {
            std::vector<std::size_t> kept;
            double until = -1.0e18;
            for (const std::size_t i : indices) {
                if (reports[i].reportTime < until) {
                    continue;
                }
                kept.push_back(i);
                if (lf_draw(hexId, i, kSaltGap, m_behaviour.gapPerThousand)) {
                    const double share = static_cast<double>(lf_mix(m_behaviour.seed ^ lf_mix(i * 8 + kSaltGapLength)) % 1000) / 999.0;
                    until = reports[i].reportTime + m_behaviour.gapMinSeconds +
                            share * (m_behaviour.gapMaxSeconds - m_behaviour.gapMinSeconds);
                }
            }
            indices = std::move(kept);
        }
    }
}

bool ScenarioTrafficSource::lf_draw(uint32_t HEX_ID, std::size_t INDEX, uint32_t SALT, int PER_THOUSAND) const
{
    if (PER_THOUSAND <= 0) {
        return false;
    }
    const std::uint64_t h = lf_mix(m_behaviour.seed ^ lf_mix((static_cast<std::uint64_t>(HEX_ID) << 32) ^
                                                              (static_cast<std::uint64_t>(INDEX) * 8 + SALT)));
    return static_cast<int>(h % 1000) < PER_THOUSAND;
}

double ScenarioTrafficSource::scenarioTime() const
{
    return m_scenario.playFrom + (m_now() - m_epochAtStart);
}

std::optional<std::string> ScenarioTrafficSource::lf_enter(TrafficQuery QUERY)
{
    std::chrono::milliseconds delay{0};
    std::optional<std::string> failure;
    {
        std::lock_guard lock(m_mutex);
        Injection& inj = m_injections[static_cast<std::size_t>(QUERY)];
        ++inj.calls;
        delay = inj.delay;
        if (inj.failures > 0) {
            --inj.failures;
            failure = inj.message;
        }
    }
    // Sleep outside the lock: the other reader must not wait for this one.
    if (delay.count() > 0) {
        m_sleep(delay);
    }
    return failure;
}

bool ScenarioTrafficSource::lf_validGuid(const std::string& GUID) const
{
    std::lock_guard lock(m_mutex);
    return !m_guid.empty() && GUID == m_guid;
}

TrafficAnswer ScenarioTrafficSource::lf_refused(const std::string& ERROR) const
{
    TrafficAnswer answer;
    answer.error = ERROR;
    answer.fault = AnswerFault::failed;
    return answer;
}

std::optional<TrafficAnswer> ScenarioTrafficSource::lf_enterLoggedIn(TrafficQuery QUERY, const std::string& GUID)
{
    if (auto failure = lf_enter(QUERY)) {
        return lf_refused(*failure);
    }
    if (!lf_validGuid(GUID)) {
        return lf_refused("not logged in");
    }
    if (m_behaviour.sessionLifetimeSeconds > 0.0) {
        double loginTime = 0.0;
        {
            std::lock_guard lock(m_mutex);
            loginTime = m_loginTime;
        }
        if (m_now() - loginTime > m_behaviour.sessionLifetimeSeconds) {
            TrafficAnswer answer = lf_refused("session expired");
            answer.fault = AnswerFault::sessionExpired;
            return answer;
        }
    }
    return std::nullopt;
}

LoginAnswer ScenarioTrafficSource::login(const std::string& KEY)
{
    LoginAnswer answer;
    if (auto failure = lf_enter(TrafficQuery::login)) {
        answer.error = *failure;
        return answer;
    }
    std::lock_guard lock(m_mutex);
    ++m_logins;
    m_loginTime = m_now();
    m_guid = fmt::format("standin-{:08x}-{}", std::hash<std::string>{}(KEY) & 0xffffffffu, m_logins);
    answer.ok = true;
    answer.guid = m_guid;
    answer.intervalMs = m_scenario.intervalMs;
    return answer;
}

bool ScenarioTrafficSource::logout(const std::string& GUID)
{
    if (lf_enter(TrafficQuery::logout)) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    if (m_guid.empty() || GUID != m_guid) {
        return false;
    }
    m_guid.clear();
    return true;
}

double ScenarioTrafficSource::lf_lapSeconds() const
{
    const double last = m_scenario.reports.empty() ? 0.0 : m_scenario.reports.back().reportTime;
    return std::max(1.0, last - m_scenario.playFrom);
}

int ScenarioTrafficSource::lf_lapOf(double SCENARIO_TIME) const
{
    if (!m_behaviour.loop || SCENARIO_TIME < m_scenario.playFrom) {
        return 0;
    }
    return static_cast<int>(std::floor((SCENARIO_TIME - m_scenario.playFrom) / lf_lapSeconds()));
}

TrafficAnswer ScenarioTrafficSource::lf_trafficAt(double SCENARIO_TIME, const QueryBox& BOX) const
{
    TrafficAnswer answer;
    answer.ok = true;
    const int lap = lf_lapOf(SCENARIO_TIME);
    // The aircraft of the lap before are still answered until their last reports grow stale.
    for (int l = std::max(0, lap - 1); l <= lap; ++l) {
        lf_lapTrafficAt(l, SCENARIO_TIME - l * lf_lapSeconds(), BOX, answer);
    }
    // Unordered map order is not stable between runs; answers are.
    std::sort(answer.reports.begin(), answer.reports.end(),
              [](const TrafficReport& A, const TrafficReport& B) { return A.hexId < B.hexId; });
    return answer;
}

void ScenarioTrafficSource::lf_lapTrafficAt(int LAP, double SCENARIO_TIME, const QueryBox& BOX,
                                            TrafficAnswer& ANSWER) const
{
    TrafficAnswer& answer = ANSWER;
    const double shift = LAP * lf_lapSeconds();
    const auto& reports = m_scenario.reports;
    for (const auto& [hexId, indices] : m_byHexId) {
        // The last report at or before the time, unless the aircraft has gone quiet.
        auto it = std::upper_bound(indices.begin(), indices.end(), SCENARIO_TIME,
                                   [&](double T, std::size_t I) { return T < reports[I].reportTime; });
        if (it == indices.begin()) {
            continue;
        }
        auto chosen = std::prev(it);
        // Now and then a lagging receiver's report, some seconds older, wins over the latest one.
        if (chosen != indices.begin() && lf_draw(hexId, *chosen, kSaltOutOfOrder, m_behaviour.outOfOrderPerThousand)) {
            const double lag = kOutOfOrderLagSeconds;
            const double latest = reports[*chosen].reportTime;
            while (chosen != indices.begin() && reports[*chosen].reportTime > latest - lag) {
                chosen = std::prev(chosen);
            }
        }
        const TrafficReport& r = reports[*chosen];
        if (SCENARIO_TIME - r.reportTime > kStaleSeconds || !BOX.contains(r.lat, r.lon)) {
            continue;
        }
        TrafficReport out = r;
        out.reportTime = lf_epochOf(r.reportTime + shift);
        out.hexId = lf_lapHexId(r.hexId, LAP);
        out.callsign = lf_lapCallsign(r.callsign, LAP);
        if (lf_draw(hexId, *chosen, kSaltDuplicate, m_behaviour.duplicatePerThousand)) {
            TrafficReport twice = out;
            twice.reportTime -= kDuplicateLagSeconds;
            answer.reports.push_back(std::move(twice));
        }
        answer.reports.push_back(std::move(out));
    }
}

TrafficAnswer ScenarioTrafficSource::live(const std::string& GUID, const QueryBox& BOX)
{
    if (auto refusal = lf_enterLoggedIn(TrafficQuery::live, GUID)) {
        return *refusal;
    }
    const double now = m_now();
    if (m_behaviour.throttle) {
        std::lock_guard lock(m_mutex);
        // Asked sooner than the interval allows: refused, with a longer wait.
        if ((now - m_lastLiveQuery) * 1000.0 < m_scenario.intervalMs * 0.9) {
            TrafficAnswer answer = lf_refused("too many requests");
            answer.fault = AnswerFault::throttled;
            answer.intervalMs = 2 * m_scenario.intervalMs;
            return answer;
        }
        m_lastLiveQuery = now;
    }
    TrafficAnswer answer = lf_trafficAt(scenarioTime(), BOX);
    answer.intervalMs = m_scenario.intervalMs;
    return answer;
}

TrafficAnswer ScenarioTrafficSource::buffered(const std::string& GUID, const QueryBox& BOX, int SECONDS_AGO)
{
    if (auto refusal = lf_enterLoggedIn(TrafficQuery::buffered, GUID)) {
        return *refusal;
    }
    if (SECONDS_AGO < 0) {
        return lf_refused("buffer time in the future");
    }
    return lf_trafficAt(scenarioTime() - SECONDS_AGO, BOX);
}

ParkedAnswer ScenarioTrafficSource::parked(const std::string& GUID, const QueryBox& BOX)
{
    ParkedAnswer answer;
    if (auto refusal = lf_enterLoggedIn(TrafficQuery::parked, GUID)) {
        answer.error = refusal->error;
        return answer;
    }
    answer.ok = true;
    const int lap = lf_lapOf(scenarioTime());
    const double now = scenarioTime() - lap * lf_lapSeconds();
    // Half-hours were recorded relative to the recording's start; play them
    // relative to the half-hour of the clock, so ages stay as recorded.
    const double epochNow = m_now();
    const int slotNow = static_cast<int>(std::floor(std::fmod(epochNow, 86400.0) / 1800.0)) % 48;
    const int elapsedSlots = static_cast<int>(std::floor((now - m_scenario.playFrom) / 1800.0));
    for (const ScenarioParked& p : m_scenario.parked) {
        if (now >= p.untilTime || !BOX.contains(p.report.lat, p.report.lon)) {
            continue;
        }
        ParkedReport out = p.report;
        out.hexId = lf_lapHexId(out.hexId, lap);
        out.callsign = lf_lapCallsign(out.callsign, lap);
        if (m_scenario.startHalfHour >= 0) {
            const int shifted = out.halfHour - m_scenario.startHalfHour + slotNow - elapsedSlots;
            out.halfHour = ((shifted % 48) + 48) % 48;
        }
        answer.parked.push_back(std::move(out));
    }
    return answer;
}

WeatherAnswer ScenarioTrafficSource::weather(const std::string& GUID, double /*LAT*/, double /*LON*/)
{
    WeatherAnswer answer;
    if (auto refusal = lf_enterLoggedIn(TrafficQuery::weather, GUID)) {
        answer.error = refusal->error;
        return answer;
    }
    answer.ok = true;
    // The last QNH reported by now; before the first one, that first one.
    const auto& qnh = m_scenario.qnh;
    const double now = scenarioTime() - lf_lapOf(scenarioTime()) * lf_lapSeconds();
    auto it = std::upper_bound(qnh.begin(), qnh.end(), now,
                               [](double T, const ScenarioQnh& Q) { return T < Q.time; });
    if (it != qnh.begin()) {
        answer.qnhHpa = std::prev(it)->qnhHpa;
    } else {
        answer.qnhHpa = qnh.empty() ? 1013.25 : qnh.front().qnhHpa;
    }
    return answer;
}

void ScenarioTrafficSource::failNext(TrafficQuery QUERY, int COUNT, const std::string& MESSAGE)
{
    std::lock_guard lock(m_mutex);
    Injection& inj = m_injections[static_cast<std::size_t>(QUERY)];
    inj.failures = COUNT;
    inj.message = MESSAGE;
}

void ScenarioTrafficSource::setDelay(TrafficQuery QUERY, std::chrono::milliseconds DELAY)
{
    std::lock_guard lock(m_mutex);
    m_injections[static_cast<std::size_t>(QUERY)].delay = DELAY;
}

int ScenarioTrafficSource::callCount(TrafficQuery QUERY) const
{
    std::lock_guard lock(m_mutex);
    return m_injections[static_cast<std::size_t>(QUERY)].calls;
}

} // namespace qmt
