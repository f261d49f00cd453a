#pragma once

#include "platform/TrafficSource.h"
#include "platform/traffic_scenario.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
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
};
ServiceBehaviour gf_realServiceBehaviour(std::uint32_t SEED, double SESSION_LIFETIME_SECONDS);

// Plays a scenario as the traffic service would answer it. Scenario time runs
// with the given clock from the header's play_from second on; answers carry
// report times on that clock. Delays are served through the given sleep, so a
// test can let them pass on a settable clock.
class ScenarioTrafficSource : public TrafficSource {
public:
    using NowFn = std::function<double()>;                          // seconds since the epoch
    using SleepFn = std::function<void(std::chrono::milliseconds)>;

    ScenarioTrafficSource(Scenario SCENARIO, NowFn NOW, SleepFn SLEEP, ServiceBehaviour BEHAVIOUR = {});

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
    TrafficAnswer lf_trafficAt(double SCENARIO_TIME, const QueryBox& BOX) const;
    // The reports of one lap of the scenario at a time of that lap.
    void lf_lapTrafficAt(int LAP, double LAP_TIME, const QueryBox& BOX, TrafficAnswer& ANSWER) const;
    // The laps played before a scenario time, and the time within its lap (0 without looping).
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
    // Report indices by hex id, each list in time order; fixed after construction.
    std::unordered_map<uint32_t, std::vector<std::size_t>> m_byHexId;

    mutable std::mutex m_mutex; // guards everything below; taken alone
    std::array<Injection, kTrafficQueryKinds> m_injections{};
    std::string m_guid;
    int m_logins = 0;
    double m_loginTime = 0.0;        // clock seconds of the last login
    double m_lastLiveQuery = -1.0e18; // clock seconds of the last live query answered
};

} // namespace qmt
