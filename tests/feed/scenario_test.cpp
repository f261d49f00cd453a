#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "core/Geo.h"
#include "platform/traffic_scenario.h"

using namespace qmt;

namespace {

ScenarioParseResult lf_parse(const std::string& TEXT)
{
    std::istringstream in(TEXT);
    return gf_parseScenario(in);
}

const char* kGoodLive =
    R"({"type":"live","t":12.5,"hex":"484B2C","cs":"KLM1723","reg":"PH-BXM","model":"B738","from":"AMS",)"
    R"("to":"BCN","lat":52.31,"lon":4.76,"alt":-11,"gs":0,"tas":0,"trk":180,"vr":0,"gnd":true})";

} // namespace

TEST(ScenarioParser, ReadsEveryKindOfLine)
{
    const std::string text = std::string(R"({"type":"header","name":"EHAM","start_hh":20,"play_from":60,"interval_ms":1500})") + "\n" +
        kGoodLive + "\r\n" +
        R"({"type":"live","t":3,"hex":"3c4a01","cs":"","model":"A320","lat":52.0,"lon":4.0,"alt":12000,)"
        R"("gs":300,"tas":310,"trk":90.5,"vr":-1200,"gnd":false,"roll":-12.5,"hdg":92})" "\n"
        "\n"
        R"({"type":"parked","hex":"4ca7b1","cs":"EIN605","reg":"EI-DVM","model":"A320","airline":"EIN",)"
        R"("lat":52.30,"lon":4.76,"stand":"D7","hh":18,"until":95})" "\n"
        R"({"type":"qnh","t":600,"qnh":1018.0})" "\n"
        R"({"type":"qnh","t":0,"qnh":1018.4})" "\n";
    const ScenarioParseResult r = lf_parse(text);
    ASSERT_TRUE(r.errors.empty()) << r.errors.front().message;
    const Scenario& s = r.scenario;
    EXPECT_EQ(s.name, "EHAM");
    EXPECT_EQ(s.startHalfHour, 20);
    EXPECT_DOUBLE_EQ(s.playFrom, 60.0);
    EXPECT_EQ(s.intervalMs, 1500);

    ASSERT_EQ(s.reports.size(), 2u);
    // Sorted by time, whatever the order in the file.
    EXPECT_EQ(s.reports[0].hexId, 0x3c4a01u);
    EXPECT_FALSE(s.reports[0].onGround);
    ASSERT_TRUE(s.reports[0].rollDeg.has_value());
    EXPECT_DOUBLE_EQ(*s.reports[0].rollDeg, -12.5);
    EXPECT_TRUE(s.reports[0].origin.empty());
    const TrafficReport& klm = s.reports[1];
    EXPECT_EQ(klm.hexId, 0x484b2cu);
    EXPECT_EQ(klm.callsign, "KLM1723");
    EXPECT_EQ(klm.registration, "PH-BXM");
    EXPECT_EQ(klm.origin, "AMS");
    EXPECT_EQ(klm.destination, "BCN");
    EXPECT_DOUBLE_EQ(klm.reportTime, 12.5);
    EXPECT_DOUBLE_EQ(klm.altitudeFt, -11.0);
    EXPECT_TRUE(klm.onGround);
    EXPECT_FALSE(klm.trueHeadingDeg.has_value());

    ASSERT_EQ(s.parked.size(), 1u);
    EXPECT_EQ(s.parked[0].report.stand, "D7");
    EXPECT_EQ(s.parked[0].report.airline, "EIN");
    EXPECT_EQ(s.parked[0].report.halfHour, 18);
    EXPECT_DOUBLE_EQ(s.parked[0].untilTime, 95.0);

    ASSERT_EQ(s.qnh.size(), 2u);
    EXPECT_DOUBLE_EQ(s.qnh[0].qnhHpa, 1018.4);
}

TEST(ScenarioParser, BrokenLinesAreSkippedWithTheirLineNumber)
{
    struct Case {
        const char* line;
        const char* expected; // part of the error text
    };
    const Case cases[] = {
        {R"({"type":"live","t":1,"hex":"484b2c")", "not valid JSON"},
        {R"(["live",1])", "not a JSON object"},
        {R"({"t":1})", "missing field \"type\""},
        {R"({"type":"plane"})", "unknown type \"plane\""},
        {R"({"type":"live","t":1,"hex":"484b2c","cs":"KLM1","model":"B738","lat":52,"lon":4,"alt":0,"gs":0,"tas":0,"trk":0,"vr":0})",
         "missing field \"gnd\""},
        {R"({"type":"live","t":"soon","hex":"484b2c"})", "field \"t\" must be a number"},
        {R"({"type":"live","t":1,"hex":"zz12","cs":"A","model":"B738"})", "field \"hex\" must be 1 to 6 hex digits"},
        {R"({"type":"live","t":1,"hex":"1234567","cs":"A","model":"B738"})", "field \"hex\" must be 1 to 6 hex digits"},
        {R"({"type":"live","t":1,"hex":"0","cs":"A","model":"B738"})", "field \"hex\" must not be 0"},
        {R"({"type":"live","t":1,"hex":"484b2c","cs":"KLM1","model":"B738","lat":95,"lon":4,"alt":0,"gs":0,"tas":0,"trk":0,"vr":0,"gnd":true})",
         "field \"lat\" out of range"},
        {R"({"type":"live","t":1,"hex":"484b2c","cs":"KLM1","model":"B738","from":"EHAM","lat":52,"lon":4,"alt":0,"gs":0,"tas":0,"trk":0,"vr":0,"gnd":true})",
         "field \"from\" longer than 3"},
        {R"({"type":"live","t":1,"hex":"484b2c","cs":"KLM1","model":"B738","lat":52,"lon":4,"alt":0,"gs":0,"tas":0,"trk":0,"vr":0,"gnd":"yes"})",
         "field \"gnd\" must be true or false"},
        {R"({"type":"parked","hex":"484b2c","cs":"KLM1","model":"B738","lat":52,"lon":4,"stand":"D7","hh":48})",
         "field \"hh\" out of range"},
        {R"({"type":"parked","hex":"484b2c","cs":"KLM1","model":"B738","lat":52,"lon":4,"stand":"D7","hh":1.5})",
         "field \"hh\" must be a whole number"},
        {R"({"type":"qnh","t":0,"qnh":1e308})", "field \"qnh\" out of range"},
        {"\xff\xfe garbage", "not valid JSON"},
    };
    std::string text = std::string(kGoodLive) + "\n";
    for (const Case& c : cases) {
        text += c.line;
        text += "\n";
    }
    text += kGoodLive;
    const ScenarioParseResult r = lf_parse(text);
    EXPECT_EQ(r.scenario.reports.size(), 2u); // the two good lines around the broken ones
    ASSERT_EQ(r.errors.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(r.errors[i].line, i + 2);
        EXPECT_NE(r.errors[i].message.find(cases[i].expected), std::string::npos)
            << "line " << i + 2 << ": " << r.errors[i].message;
        EXPECT_EQ(r.errors[i].message.rfind("line " + std::to_string(i + 2) + ": ", 0), 0u) << r.errors[i].message;
    }
}

TEST(ScenarioParser, MissingFileIsAnError)
{
    ScenarioParseResult r;
    std::string error;
    EXPECT_FALSE(gf_readScenarioFile("/nonexistent/quillon/scenario.jsonl", r, error));
    EXPECT_NE(error.find("cannot open scenario file"), std::string::npos);
}

// The shipped scenario must stay readable and describe what it promises.
TEST(ScenarioParser, ShippedEhamScenarioIsClean)
{
    ScenarioParseResult r;
    std::string error;
    ASSERT_TRUE(gf_readScenarioFile(std::string(QUILLON_SOURCE_DIR) + "/data/scenarios/eham.jsonl", r, error)) << error;
    ASSERT_TRUE(r.errors.empty()) << r.errors.front().message;
    const Scenario& s = r.scenario;
    EXPECT_GE(s.startHalfHour, 0);
    EXPECT_GT(s.playFrom, 30.0); // room for the buffered answers before play starts
    EXPECT_GT(s.reports.size(), 500u);
    EXPECT_GE(s.parked.size(), 20u);
    EXPECT_FALSE(s.qnh.empty());

    std::set<uint32_t> aircraft, airborne, onGround, landed;
    std::map<uint32_t, bool> lastGround;
    for (const TrafficReport& rep : s.reports) {
        EXPECT_LT(std::abs(rep.lat - 52.3), 1.0);
        EXPECT_LT(std::abs(rep.lon - 4.76), 1.5);
        aircraft.insert(rep.hexId);
        (rep.onGround ? onGround : airborne).insert(rep.hexId);
        auto it = lastGround.find(rep.hexId);
        if (it != lastGround.end() && !it->second && rep.onGround) {
            landed.insert(rep.hexId);
        }
        lastGround[rep.hexId] = rep.onGround;
    }
    EXPECT_GE(aircraft.size(), 20u);
    EXPECT_GE(landed.size(), 5u);      // touchdowns in the recording
    std::size_t departed = 0;          // on the ground first, airborne later
    for (uint32_t id : onGround) {
        departed += airborne.contains(id) && !landed.contains(id) ? 1 : 0;
    }
    EXPECT_GE(departed, 3u);
    std::set<std::string> stands;
    for (const ScenarioParked& p : s.parked) {
        EXPECT_TRUE(stands.insert(p.report.stand).second) << p.report.stand;
    }

    // Parked aircraft stand where the static parking looks for them: within 110 m of
    // the stand of the bundled airport file that they name.
    pugi::xml_document apf;
    ASSERT_TRUE(apf.load_file((std::string(QUILLON_SOURCE_DIR) + "/data/airports/my_simaddon/EHAM.xml").c_str()));
    std::map<std::string, std::pair<double, double>> standPositions;
    for (pugi::xml_node p : apf.child("root").child("parkpositions").children("parkpos")) {
        standPositions[p.attribute("id").value()] = {p.attribute("latitude").as_double(),
                                                     p.attribute("longitude").as_double()};
    }
    for (const ScenarioParked& p : s.parked) {
        auto it = standPositions.find(p.report.stand);
        ASSERT_NE(it, standPositions.end()) << p.report.stand;
        EXPECT_LT(gf_distanceNm(p.report.lat, p.report.lon, it->second.first, it->second.second),
                  0.05939524838012959)
            << p.report.stand;
    }
}

// The shipped scenario shows what real feeds show, so that everything tested on it meets it:
// reports 10 to 40 s apart, feeds without vertical rates, feeds that call every aircraft
// airborne (also standing at its gate at the field's elevation), landings at another airport
// (Lelystad, 23 nm away) and a helicopter.
TEST(ScenarioParser, ShippedEhamScenarioShowsWhatRealFeedsShow)
{
    ScenarioParseResult r;
    std::string error;
    ASSERT_TRUE(gf_readScenarioFile(std::string(QUILLON_SOURCE_DIR) + "/data/scenarios/eham.jsonl", r, error)) << error;
    std::map<uint32_t, std::vector<const TrafficReport*>> byAircraft;
    for (const TrafficReport& rep : r.scenario.reports) {
        byAircraft[rep.hexId].push_back(&rep);
    }
    std::vector<double> gaps;
    std::size_t withoutRates = 0;
    std::size_t alwaysAirborne = 0;
    std::size_t standingAirborne = 0;
    std::size_t atLelystad = 0;
    std::size_t helicopters = 0;
    for (const auto& [id, reports] : byAircraft) {
        bool anyRate = false;
        bool anyGround = false;
        for (std::size_t i = 0; i < reports.size(); ++i) {
            const TrafficReport& rep = *reports[i];
            anyRate = anyRate || rep.verticalRateFpm != 0.0;
            anyGround = anyGround || rep.onGround;
            standingAirborne += !rep.onGround && rep.groundSpeedKt == 0.0 && rep.altitudeFt < 0.0 ? 1 : 0;
            if (i > 0) {
                gaps.push_back(rep.reportTime - reports[i - 1]->reportTime);
            }
        }
        withoutRates += anyRate ? 0 : 1;
        alwaysAirborne += anyGround ? 0 : 1;
        const TrafficReport& last = *reports.back();
        atLelystad += last.onGround && gf_distanceNm(last.lat, last.lon, 52.4603, 5.52722) < 2.0 ? 1 : 0;
        helicopters += reports.front()->model == "EC35" ? 1 : 0;
    }
    std::sort(gaps.begin(), gaps.end());
    EXPECT_GE(gaps[gaps.size() / 2], 10.0);
    EXPECT_GE(gaps[gaps.size() * 9 / 10], 25.0);
    EXPECT_LE(gaps[gaps.size() * 9 / 10], 40.0);
    EXPECT_GE(withoutRates, 5u);
    EXPECT_GE(alwaysAirborne, 3u);
    EXPECT_GT(standingAirborne, 0u);
    EXPECT_GE(atLelystad, 2u);
    EXPECT_EQ(helicopters, 1u);
}
