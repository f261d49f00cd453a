#include "platform/traffic_standin.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

namespace qmt {

ScenarioTrafficSource::ScenarioTrafficSource(Scenario SCENARIO, NowFn NOW, SleepFn SLEEP)
    : m_scenario(std::move(SCENARIO))
    , m_now(std::move(NOW))
    , m_sleep(SLEEP ? std::move(SLEEP) : SleepFn([](std::chrono::milliseconds D) { std::this_thread::sleep_for(D); }))
    , m_epochAtStart(m_now())
{
    for (std::size_t i = 0; i < m_scenario.reports.size(); ++i) {
        m_byHexId[m_scenario.reports[i].hexId].push_back(i);
    }
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

std::optional<std::string> ScenarioTrafficSource::lf_enterLoggedIn(TrafficQuery QUERY, const std::string& GUID)
{
    if (auto failure = lf_enter(QUERY)) {
        return failure;
    }
    if (!lf_validGuid(GUID)) {
        return std::string("not logged in");
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

TrafficAnswer ScenarioTrafficSource::lf_trafficAt(double SCENARIO_TIME, const QueryBox& BOX) const
{
    TrafficAnswer answer;
    answer.ok = true;
    const auto& reports = m_scenario.reports;
    for (const auto& [hexId, indices] : m_byHexId) {
        // The last report at or before the time, unless the aircraft has gone quiet.
        auto it = std::upper_bound(indices.begin(), indices.end(), SCENARIO_TIME,
                                   [&](double T, std::size_t I) { return T < reports[I].reportTime; });
        if (it == indices.begin()) {
            continue;
        }
        const TrafficReport& r = reports[*std::prev(it)];
        if (SCENARIO_TIME - r.reportTime > kStaleSeconds || !BOX.contains(r.lat, r.lon)) {
            continue;
        }
        TrafficReport out = r;
        out.reportTime = lf_epochOf(r.reportTime);
        answer.reports.push_back(std::move(out));
    }
    // Unordered map order is not stable between runs; answers are.
    std::sort(answer.reports.begin(), answer.reports.end(),
              [](const TrafficReport& A, const TrafficReport& B) { return A.hexId < B.hexId; });
    return answer;
}

TrafficAnswer ScenarioTrafficSource::live(const std::string& GUID, const QueryBox& BOX)
{
    if (auto failure = lf_enterLoggedIn(TrafficQuery::live, GUID)) {
        return TrafficAnswer{false, *failure, {}};
    }
    return lf_trafficAt(scenarioTime(), BOX);
}

TrafficAnswer ScenarioTrafficSource::buffered(const std::string& GUID, const QueryBox& BOX, int SECONDS_AGO)
{
    if (auto failure = lf_enterLoggedIn(TrafficQuery::buffered, GUID)) {
        return TrafficAnswer{false, *failure, {}};
    }
    if (SECONDS_AGO < 0) {
        return TrafficAnswer{false, "buffer time in the future", {}};
    }
    return lf_trafficAt(scenarioTime() - SECONDS_AGO, BOX);
}

ParkedAnswer ScenarioTrafficSource::parked(const std::string& GUID, const QueryBox& BOX)
{
    ParkedAnswer answer;
    if (auto failure = lf_enterLoggedIn(TrafficQuery::parked, GUID)) {
        answer.error = *failure;
        return answer;
    }
    answer.ok = true;
    const double now = scenarioTime();
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
    if (auto failure = lf_enterLoggedIn(TrafficQuery::weather, GUID)) {
        answer.error = *failure;
        return answer;
    }
    answer.ok = true;
    // The last QNH reported by now; before the first one, that first one.
    const auto& qnh = m_scenario.qnh;
    const double now = scenarioTime();
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
