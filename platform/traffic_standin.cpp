#include "platform/traffic_standin.h"

#include "platform/standin_meter.h"

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
constexpr uint32_t kSaltFleetTurn = 5;
// A fleet trades its registrations after a lap with this chance in a thousand.
constexpr uint64_t kFleetTurnPerThousand = 350;
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

// The fleet of an aircraft: its callsign's airline prefix and its model ("KLM B738").
std::string lf_fleetOf(const TrafficReport& REPORT)
{
    std::size_t letters = 0;
    while (letters < REPORT.callsign.size() && letters < 3 && REPORT.callsign[letters] >= 'A' &&
           REPORT.callsign[letters] <= 'Z') {
        ++letters;
    }
    return REPORT.callsign.substr(0, letters) + " " + REPORT.model;
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

ScenarioTrafficSource::ReportSupply ScenarioTrafficSource::lf_heldSupply(std::vector<TrafficReport>& REPORTS)
{
    auto held = std::make_shared<std::vector<TrafficReport>>(std::move(REPORTS));
    REPORTS.clear();
    std::stable_sort(held->begin(), held->end(),
                     [](const TrafficReport& A, const TrafficReport& B) { return A.reportTime < B.reportTime; });
    auto next = std::make_shared<std::size_t>(0);
    ReportSupply supply;
    supply.next = [held, next](TrafficReport& OUT) {
        if (*next >= held->size()) {
            return false;
        }
        OUT = (*held)[(*next)++];
        return true;
    };
    supply.rewind = [next] { *next = 0; };
    supply.lastTime = held->empty() ? 0.0 : held->back().reportTime;
    return supply;
}

ScenarioTrafficSource::ReportSupply ScenarioTrafficSource::lf_streamSupply(std::unique_ptr<ScenarioReportStream> STREAM)
{
    std::shared_ptr<ScenarioReportStream> stream = std::move(STREAM);
    ReportSupply supply;
    supply.next = [stream](TrafficReport& OUT) { return stream != nullptr && stream->next(OUT); };
    supply.rewind = [stream] {
        if (stream != nullptr) {
            stream->rewind();
        }
    };
    supply.lastTime = stream != nullptr ? stream->lastReportTime() : 0.0;
    return supply;
}

ScenarioTrafficSource::ScenarioTrafficSource(Scenario SCENARIO, NowFn NOW, SleepFn SLEEP, ServiceBehaviour BEHAVIOUR)
    : ScenarioTrafficSource(SCENARIO, lf_heldSupply(SCENARIO.reports), std::move(NOW), std::move(SLEEP), BEHAVIOUR)
{
}

ScenarioTrafficSource::ScenarioTrafficSource(Scenario SCENARIO, std::unique_ptr<ScenarioReportStream> STREAM, NowFn NOW,
                                             SleepFn SLEEP, ServiceBehaviour BEHAVIOUR)
    : ScenarioTrafficSource(SCENARIO, lf_streamSupply(std::move(STREAM)), std::move(NOW), std::move(SLEEP), BEHAVIOUR)
{
}

ScenarioTrafficSource::ScenarioTrafficSource(Scenario& SCENARIO, ReportSupply SUPPLY, NowFn NOW, SleepFn SLEEP,
                                             ServiceBehaviour BEHAVIOUR)
    : m_scenario(std::move(SCENARIO))
    , m_now(std::move(NOW))
    , m_sleep(SLEEP ? std::move(SLEEP) : SleepFn([](std::chrono::milliseconds D) { gf_loopSleepFor(D); }))
    , m_behaviour(BEHAVIOUR)
    , m_epochAtStart(m_now())
    , m_lastReportTime(SUPPLY.lastTime)
    , m_supply(std::move(SUPPLY))
{
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
    const StandInScope scope(StandInPart::traffic);
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
    const StandInScope scope(StandInPart::traffic);
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

std::string ScenarioTrafficSource::lf_lapRegistration(const TrafficReport& REPORT, int LAP) const
{
    const auto fleet = m_fleets.find(lf_fleetOf(REPORT));
    if (LAP == 0 || fleet == m_fleets.end() || fleet->second.size() < 2) {
        return REPORT.registration;
    }
    const std::vector<std::string>& members = fleet->second;
    const auto at = std::lower_bound(members.begin(), members.end(), REPORT.registration);
    if (at == members.end() || *at != REPORT.registration) {
        return REPORT.registration;
    }
    // The turns so far: one drawn after each lap, the same for every aircraft of the fleet.
    uint64_t salt = 14695981039346656037ULL;  // FNV-1a of the fleet's name: the same draws everywhere
    for (const char c : fleet->first) {
        salt = (salt ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    std::size_t turns = 0;
    for (int lap = 1; lap <= LAP; ++lap) {
        const uint64_t draw = lf_mix(m_behaviour.seed ^ lf_mix(salt ^ (static_cast<uint64_t>(lap) * 8 + kSaltFleetTurn)));
        turns += draw % 1000 < kFleetTurnPerThousand ? 1 : 0;
    }
    return members[(static_cast<std::size_t>(at - members.begin()) + turns) % members.size()];
}

double ScenarioTrafficSource::lf_lapSeconds() const
{
    return std::max(1.0, m_lastReportTime - m_scenario.playFrom);
}

int ScenarioTrafficSource::lf_lapOf(double SCENARIO_TIME) const
{
    if (!m_behaviour.loop || SCENARIO_TIME < m_scenario.playFrom) {
        return 0;
    }
    return static_cast<int>(std::floor((SCENARIO_TIME - m_scenario.playFrom) / lf_lapSeconds()));
}

std::size_t ScenarioTrafficSource::heldReports() const
{
    std::lock_guard lock(m_reportMutex);
    std::size_t held = 0;
    for (const auto& entry : m_aircraft) {
        held += entry.second.reports.size();
    }
    return held;
}

void ScenarioTrafficSource::lf_take(TrafficReport&& REPORT)
{
    const std::size_t index = m_taken++;
    const uint32_t hexId = REPORT.hexId;
    const uint64_t key = (static_cast<uint64_t>(m_readLap) << 32) | hexId;
    auto [at, added] = m_aircraft.try_emplace(key);
    Aircraft& aircraft = at->second;
    if (added) {
        aircraft.lap = m_readLap;
        aircraft.earlier = m_letGo.erase(key) > 0;
    }
    if (m_behaviour.loop && m_readLap == 0 && !REPORT.registration.empty()) {
        std::vector<std::string>& fleet = m_fleets[lf_fleetOf(REPORT)];
        const auto at = std::lower_bound(fleet.begin(), fleet.end(), REPORT.registration);
        if (at == fleet.end() || *at != REPORT.registration) {
            fleet.insert(at, REPORT.registration);
        }
    }
    // Gaps per aircraft: after a drawn report, the next ones within 15-40 s never arrive.
    if (REPORT.reportTime < aircraft.gapUntil) {
        return;
    }
    if (lf_draw(hexId, index, kSaltGap, m_behaviour.gapPerThousand)) {
        const double share = static_cast<double>(lf_mix(m_behaviour.seed ^ lf_mix(index * 8 + kSaltGapLength)) % 1000) / 999.0;
        aircraft.gapUntil = REPORT.reportTime + m_behaviour.gapMinSeconds +
                            share * (m_behaviour.gapMaxSeconds - m_behaviour.gapMinSeconds);
    }
    aircraft.reports.push_back(HeldReport{std::move(REPORT), index});
}

void ScenarioTrafficSource::lf_letGo(double KEEP_FROM)
{
    for (auto it = m_aircraft.begin(); it != m_aircraft.end();) {
        Aircraft& aircraft = it->second;
        // The newest report before the kept time stays: the report before a kept one may be asked for.
        while (aircraft.reports.size() >= 2 && aircraft.reports[1].report.reportTime < KEEP_FROM) {
            aircraft.reports.pop_front();
            aircraft.earlier = true;
        }
        const bool gone = aircraft.reports.size() <= 1 && aircraft.gapUntil < KEEP_FROM &&
                          (aircraft.reports.empty() || aircraft.reports.front().report.reportTime < KEEP_FROM);
        if (gone) {
            m_letGo.insert(it->first);
            it = m_aircraft.erase(it);
        } else {
            ++it;
        }
    }
}

void ScenarioTrafficSource::lf_advanceTo(double SCENARIO_TIME)
{
    bool rewound = false;
    for (;;) {
        if (!m_next) {
            TrafficReport report;
            if (!m_supply.next || !m_supply.next(report)) {
                // A looped scenario starts its next lap, unless it has no report at all.
                if (!m_behaviour.loop || !m_supply.rewind || rewound) {
                    break;
                }
                m_supply.rewind();
                ++m_readLap;
                m_taken = 0;
                rewound = true;
                continue;
            }
            rewound = false;
            report.reportTime += m_readLap * lf_lapSeconds();
            m_next = std::move(report);
        }
        if (m_next->reportTime > SCENARIO_TIME) {
            break;
        }
        lf_take(std::move(*m_next));
        m_next.reset();
    }
    lf_letGo(scenarioTime() - std::max(m_behaviour.heldSeconds, kHeldSeconds));
}

const ScenarioTrafficSource::HeldReport* ScenarioTrafficSource::lf_reportAt(const Aircraft& AIRCRAFT,
                                                                             double SCENARIO_TIME) const
{
    const auto& reports = AIRCRAFT.reports;
    // The last report at or before the time, unless the aircraft has gone quiet.
    auto it = std::upper_bound(reports.begin(), reports.end(), SCENARIO_TIME,
                               [](double T, const HeldReport& R) { return T < R.report.reportTime; });
    if (it == reports.begin()) {
        return nullptr;
    }
    auto chosen = std::prev(it);
    const uint32_t hexId = chosen->report.hexId;
    const bool first = chosen == reports.begin() && !AIRCRAFT.earlier;
    // Now and then a lagging receiver's report, some seconds older, wins over the latest one.
    if (!first && lf_draw(hexId, chosen->index, kSaltOutOfOrder, m_behaviour.outOfOrderPerThousand)) {
        const double latest = chosen->report.reportTime;
        while (chosen != reports.begin() && chosen->report.reportTime > latest - kOutOfOrderLagSeconds) {
            chosen = std::prev(chosen);
        }
        // The one it wins with was let go: it is older than any query can still answer.
        if (chosen->report.reportTime > latest - kOutOfOrderLagSeconds && AIRCRAFT.earlier) {
            return nullptr;
        }
    }
    if (SCENARIO_TIME - chosen->report.reportTime > kStaleSeconds) {
        return nullptr;
    }
    return &*chosen;
}

TrafficAnswer ScenarioTrafficSource::lf_trafficAt(double SCENARIO_TIME, const QueryBox& BOX)
{
    TrafficAnswer answer;
    answer.ok = true;
    std::lock_guard lock(m_reportMutex);
    lf_advanceTo(std::max(SCENARIO_TIME, scenarioTime()));
    // The aircraft of the lap before are still answered until their last reports grow stale.
    const int lap = lf_lapOf(SCENARIO_TIME);
    for (const auto& [key, aircraft] : m_aircraft) {
        if (aircraft.lap < lap - 1 || aircraft.lap > lap) {
            continue;
        }
        const HeldReport* held = lf_reportAt(aircraft, SCENARIO_TIME);
        if (held == nullptr || !BOX.contains(held->report.lat, held->report.lon)) {
            continue;
        }
        TrafficReport out = held->report;
        out.reportTime = lf_epochOf(held->report.reportTime);
        out.hexId = lf_lapHexId(held->report.hexId, aircraft.lap);
        out.callsign = lf_lapCallsign(held->report.callsign, aircraft.lap);
        out.registration = lf_lapRegistration(held->report, aircraft.lap);
        if (lf_draw(held->report.hexId, held->index, kSaltDuplicate, m_behaviour.duplicatePerThousand)) {
            TrafficReport twice = out;
            twice.reportTime -= kDuplicateLagSeconds;
            answer.reports.push_back(std::move(twice));
        }
        answer.reports.push_back(std::move(out));
    }
    // Unordered map order is not stable between runs; answers are (a duplicate before its report).
    std::sort(answer.reports.begin(), answer.reports.end(), [](const TrafficReport& A, const TrafficReport& B) {
        return A.hexId != B.hexId ? A.hexId < B.hexId : A.reportTime < B.reportTime;
    });
    return answer;
}

TrafficAnswer ScenarioTrafficSource::live(const std::string& GUID, const QueryBox& BOX)
{
    const StandInScope scope(StandInPart::traffic);
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
    const StandInScope scope(StandInPart::traffic);
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
    const StandInScope scope(StandInPart::traffic);
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
    const StandInScope scope(StandInPart::traffic);
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
