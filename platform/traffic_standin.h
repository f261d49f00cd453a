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

// Plays a scenario as the traffic service would answer it. Scenario time runs
// with the given clock from the header's play_from second on; answers carry
// report times on that clock. Delays are served through the given sleep, so a
// test can let them pass on a settable clock.
class ScenarioTrafficSource : public TrafficSource {
public:
    using NowFn = std::function<double()>;                          // seconds since the epoch
    using SleepFn = std::function<void(std::chrono::milliseconds)>;

    ScenarioTrafficSource(Scenario SCENARIO, NowFn NOW, SleepFn SLEEP);

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
    // A report older than this is no longer answered: the aircraft has left.
    static constexpr double kStaleSeconds = 20.0;

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
    // lf_enter of a query that needs the login: its failure text, else "not logged in" for a wrong GUID.
    std::optional<std::string> lf_enterLoggedIn(TrafficQuery QUERY, const std::string& GUID);
    TrafficAnswer lf_trafficAt(double SCENARIO_TIME, const QueryBox& BOX) const;
    double lf_epochOf(double SCENARIO_TIME) const { return m_epochAtStart - m_scenario.playFrom + SCENARIO_TIME; }

    const Scenario m_scenario;
    const NowFn m_now;
    const SleepFn m_sleep;
    const double m_epochAtStart;
    // Report indices by hex id, each list in time order; fixed after construction.
    std::unordered_map<uint32_t, std::vector<std::size_t>> m_byHexId;

    mutable std::mutex m_mutex; // guards everything below; taken alone
    std::array<Injection, kTrafficQueryKinds> m_injections{};
    std::string m_guid;
    int m_logins = 0;
};

} // namespace qmt
