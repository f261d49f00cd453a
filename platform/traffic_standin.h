#pragma once

#include "platform/TrafficSource.h"
#include "platform/traffic_scenario.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qmt {

// The queries of the traffic service, for counting calls and injecting faults.
enum class TrafficQuery : std::size_t { login, logout, live, buffered, parked, weather };
inline constexpr std::size_t kTrafficQueryKinds = 6;

// How much of the real service's roughness the stand-in plays. All off by default (tests of
// other things see clean answers); gf_realServiceBehaviour gives what a user meets. Every draw
// comes from the seed and the report itself, so answers do not depend on the order of queries.
// The real service's sessions last hours.
inline constexpr double kRealSessionLifetimeSeconds = 4.0 * 3600.0;

struct ServiceBehaviour {
    std::uint32_t seed = 1;
    int duplicatePerThousand = 0;   // a report also comes a second time, from a slower receiver
    int outOfOrderPerThousand = 0;  // an aircraft is answered with its report before the latest
    int gapPerThousand = 0;         // after a report, no report of that aircraft for 15-40 s
    double gapMinSeconds = 15.0;
    double gapMaxSeconds = 40.0;
    // A session expires this long after its login (0: never); by default as the real service's do.
    double sessionLifetimeSeconds = kRealSessionLifetimeSeconds;
    bool throttle = false;          // a live query sooner than the interval allows is refused
    // The scenario plays again and again, each lap with fresh hex ids and flight numbers and its
    // times shifted by the laps before it, as the next day's traffic would come.
    bool loop = false;
    // Reports older than this (but the newest report of each aircraft before it) are let go; the
    // live and buffered queries reach back less far (ScenarioTrafficSource::kHeldSeconds).
    double heldSeconds = 100.0;
};
ServiceBehaviour gf_realServiceBehaviour(std::uint32_t SEED, double SESSION_LIFETIME_SECONDS);

// Plays a scenario as the traffic service would answer it. Scenario time runs
// with the given clock from the header's play_from second on; answers carry
// report times on that clock. Delays are served through the given sleep, so a
// test can let them pass on a settable clock.
// The live reports are taken in time order as the clock reaches them, from the scenario or from
// a stream of its file, and held only while a query can still answer them (heldSeconds): the
// answers are those of the whole scenario for queries of the live and buffered traffic, which
// reach back at most 30 s, while a scenario of hours takes the memory of two minutes.
class ScenarioTrafficSource : public TrafficSource {
public:
    using NowFn = std::function<double()>;                          // seconds since the epoch
    using SleepFn = std::function<void(std::chrono::milliseconds)>;

    // The scenario's reports, in any order, are held from the start.
    ScenarioTrafficSource(Scenario SCENARIO, NowFn NOW, SleepFn SLEEP, ServiceBehaviour BEHAVIOUR = {});
    // The reports come from the stream of a file whose reports are in time order (SCENARIO's
    // own are not used).
    ScenarioTrafficSource(Scenario SCENARIO, std::unique_ptr<ScenarioReportStream> STREAM, NowFn NOW, SleepFn SLEEP,
                          ServiceBehaviour BEHAVIOUR = {});

    LoginAnswer login(const std::string& KEY) override;
    bool logout(const std::string& GUID) override;
    TrafficAnswer live(const std::string& GUID, const QueryBox& BOX) override;
    TrafficAnswer buffered(const std::string& GUID, const QueryBox& BOX, int SECONDS_AGO) override;
    ParkedAnswer parked(const std::string& GUID, const QueryBox& BOX) override;
    WeatherAnswer weather(const std::string& GUID, double LAT, double LON) override;

    // The next COUNT queries of that kind fail with MESSAGE.
    void failNext(TrafficQuery QUERY, int COUNT, const std::string& MESSAGE = "injected failure");
    // Every query of that kind takes DELAY before it answers.
    void setDelay(TrafficQuery QUERY, std::chrono::milliseconds DELAY);
    int callCount(TrafficQuery QUERY) const;
    // Seconds into the scenario now.
    double scenarioTime() const;
    // A report older than this is no longer answered: the aircraft has left. Feeds go quiet for
    // 15-40 s now and then, so the service keeps an aircraft well beyond that.
    static constexpr double kStaleSeconds = 60.0;
    // How far back a buffered query may reach; with the time a report stays fresh and a lagging
    // receiver's 5 s, how long the service must hold a report (ServiceBehaviour::heldSeconds).
    static constexpr double kBufferedSeconds = 30.0;
    static constexpr double kHeldSeconds = kStaleSeconds + kBufferedSeconds + 10.0;
    // The reports held now.
    std::size_t heldReports() const;

private:
    struct Injection {
        int failures = 0;
        std::string message;
        std::chrono::milliseconds delay{0};
        int calls = 0;
    };

    // Counts the call, serves its delay; the failure text when it must fail.
    std::optional<std::string> lf_enter(TrafficQuery QUERY);
    bool lf_validGuid(const std::string& GUID) const;
    // lf_enter of a query that needs the login: its failure, else "not logged in" for a wrong GUID
    // and "session expired" for a session past its lifetime. Nothing when the query may go on.
    std::optional<TrafficAnswer> lf_enterLoggedIn(TrafficQuery QUERY, const std::string& GUID);
    // One report of an aircraft of a lap: its time moved on by the laps before, its number in the
    // scenario's time order.
    struct HeldReport {
        TrafficReport report;
        std::size_t index = 0;
    };
    // An aircraft of one lap, by the scenario's hex id.
    struct Aircraft {
        std::deque<HeldReport> reports;  // in time order
        double gapUntil = -1.0e18;       // its reports before this never arrive
        bool earlier = false;            // it had reports before the first held one
        int lap = 0;
    };
    // Where the reports come from: the next one in time order (false at the end), back to the
    // first, and the time of the last.
    struct ReportSupply {
        std::function<bool(TrafficReport&)> next;
        std::function<void()> rewind;
        double lastTime = 0.0;
    };
    // The reports of a held scenario (moved from REPORTS, sorted), or of a file's stream.
    static ReportSupply lf_heldSupply(std::vector<TrafficReport>& REPORTS);
    static ReportSupply lf_streamSupply(std::unique_ptr<ScenarioReportStream> STREAM);

    // SCENARIO is moved from; SUPPLY gives its reports.
    ScenarioTrafficSource(Scenario& SCENARIO, ReportSupply SUPPLY, NowFn NOW, SleepFn SLEEP, ServiceBehaviour BEHAVIOUR);
    // Takes the reports due by SCENARIO_TIME and lets go of those no query can answer any more.
    void lf_advanceTo(double SCENARIO_TIME);
    void lf_take(TrafficReport&& REPORT);
    void lf_letGo(double KEEP_FROM);
    TrafficAnswer lf_trafficAt(double SCENARIO_TIME, const QueryBox& BOX);
    // The held report that a query at SCENARIO_TIME answers for the aircraft, or none.
    const HeldReport* lf_reportAt(const Aircraft& AIRCRAFT, double SCENARIO_TIME) const;
    // The registration an aircraft of the first lap flies under in a later lap: aircraft of one
    // airline and model trade registrations among them after a drawn number of laps, so that a
    // registration stands at a stand for one lap or for several (stays of varying length).
    std::string lf_lapRegistration(const TrafficReport& REPORT, int LAP) const;
    // The laps played before a scenario time (0 without looping), and the length of one.
    int lf_lapOf(double SCENARIO_TIME) const;
    double lf_lapSeconds() const;
    // A failed answer of a query that needs the login, with what the service tells.
    TrafficAnswer lf_refused(const std::string& ERROR) const;
    // Whether the draw of this report, for one kind of roughness, falls within PER_THOUSAND.
    bool lf_draw(uint32_t HEX_ID, std::size_t INDEX, uint32_t SALT, int PER_THOUSAND) const;
    double lf_epochOf(double SCENARIO_TIME) const { return m_epochAtStart - m_scenario.playFrom + SCENARIO_TIME; }

    const Scenario m_scenario;
    const NowFn m_now;
    const SleepFn m_sleep;
    const ServiceBehaviour m_behaviour;
    const double m_epochAtStart;
    const double m_lastReportTime;

    // Guards the reports below; taken alone.
    mutable std::mutex m_reportMutex;
    ReportSupply m_supply;
    std::optional<TrafficReport> m_next;  // read, not yet due
    int m_readLap = 0;                    // the lap being read
    std::size_t m_taken = 0;              // reports of the lap taken so far
    // Aircraft by lap (high 32 bits) and hex id, and those of which every report was let go.
    std::unordered_map<uint64_t, Aircraft> m_aircraft;
    std::unordered_set<uint64_t> m_letGo;
    // The registrations of the first lap by airline (callsign prefix) and model, sorted.
    std::map<std::string, std::vector<std::string>> m_fleets;

    mutable std::mutex m_mutex; // guards everything below; taken alone
    std::array<Injection, kTrafficQueryKinds> m_injections{};
    std::string m_guid;
    int m_logins = 0;
    double m_loginTime = 0.0;        // clock seconds of the last login
    double m_lastLiveQuery = -1.0e18; // clock seconds of the last live query answered
};

} // namespace qmt
