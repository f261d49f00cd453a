#pragma once
// The traffic service answering every query at once with what one scenario holds: for tests
// and fuzz targets that give the feed answers of any content.

#include "platform/TrafficSource.h"
#include "platform/traffic_scenario.h"

#include <utility>

namespace qmt::test {

class FixedTrafficSource : public TrafficSource {
public:
    explicit FixedTrafficSource(Scenario S) : m_scenario(std::move(S)) {}
    LoginAnswer login(const std::string&) override { return {true, "", "guid", 2000}; }
    bool logout(const std::string&) override { return true; }
    TrafficAnswer live(const std::string&, const QueryBox&) override { return {true, "", m_scenario.reports}; }
    TrafficAnswer buffered(const std::string&, const QueryBox&, int) override { return {true, "", m_scenario.reports}; }
    ParkedAnswer parked(const std::string&, const QueryBox&) override
    {
        ParkedAnswer a{true, "", {}};
        for (const ScenarioParked& p : m_scenario.parked) {
            a.parked.push_back(p.report);
        }
        return a;
    }
    WeatherAnswer weather(const std::string&, double, double) override { return {true, "", 1013.0}; }

private:
    Scenario m_scenario;
};

} // namespace qmt::test
