#include "app/FlightEvents.h"
#include "app/TerminalView.h"
#include "core/Airports.h"
#include "core/Clock.h"
#include "core/EventLines.h"
#include "core/Reset.h"
#include "core/StatusLine.h"
#include "core/WindowState.h"
#include "stands/StandTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace qmt {
namespace {

constexpr double kEhamLat = 52.3086;
constexpr double kEhamLon = 4.7639;

class FlightEventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gf_resetCoreForTests();
        gf_resetStatusForTests();
        gf_resetFlightEvents();
        gf_setAirports({AirportEntry{IcaoCode("EHAM"), IataCode("AMS"), kEhamLat, kEhamLon, -11, 50}});
        // 2026-12-08 04:12:31 UTC
        gf_setClockForTests(TimePoint(std::chrono::seconds(1796703151)));
        Stand c15("C15", {}, kEhamLat, kEhamLon, 0.0, 20.0, 3, false, false, false);
        c15.standId = 7;
        g_stands = {c15};
    }
    void TearDown() override
    {
        g_stands.clear();
        gf_resetFlightEvents();
        gf_resetCoreForTests();
        gf_resetStatusForTests();
    }
    static LiveAc live(std::uint32_t ID, const char* CALLSIGN, FlightState STATE, std::uint32_t STAND = 0)
    {
        LiveAc ac(StreamPos{}, AcProfile{}, 0.0);
        ac.id = ID;
        ac.callsign = CALLSIGN;
        ac.state = AcState::active;
        ac.flightState = STATE;
        ac.block[kBlockLat] = kEhamLat;
        ac.block[kBlockLon] = kEhamLon;
        ac.standId = STAND;
        return ac;
    }
    static std::vector<std::string> told() { return gf_takeEventLines().lines; }
};

// What a user calls an event is told once, with the time, the callsign and where; other changes
// of flight state and aircraft seen for the first time are not.
TEST_F(FlightEventsTest, EachLandingParkingPushBackAndDepartureIsToldOnce)
{
    struct Case {
        FlightState before;
        FlightState after;
        std::uint32_t stand;
        const char* line;  // "" for none
    };
    const Case cases[] = {
        {FlightState::flying, FlightState::taxi, 0, "04:12:31 KLM1 lands at EHAM"},
        {FlightState::flying, FlightState::parking, 7, "04:12:31 KLM1 lands at EHAM"},
        {FlightState::parking, FlightState::parked, 7, "04:12:31 KLM1 parks at C15, EHAM"},
        {FlightState::taxi, FlightState::parked, 0, "04:12:31 KLM1 parks at EHAM"},
        {FlightState::parked, FlightState::pushing_back, 7, "04:12:31 KLM1 pushes back from C15, EHAM"},
        {FlightState::taxi, FlightState::take_off, 0, "04:12:31 KLM1 takes off from EHAM"},
        {FlightState::pushing_back, FlightState::pushed_back, 7, ""},
        {FlightState::take_off, FlightState::flying, 0, ""},
        {FlightState::birth, FlightState::parked, 7, ""},
    };
    for (const Case& c : cases) {
        gf_resetFlightEvents();
        std::vector<LiveAc> list{live(0x484000, "KLM1", c.before, c.stand)};
        gf_tellFlightEvents(list, "EHAM");
        list[0].flightState = c.after;
        gf_tellFlightEvents(list, "EHAM");
        gf_tellFlightEvents(list, "EHAM");
        const std::vector<std::string> expected = *c.line ? std::vector<std::string>{c.line}
                                                           : std::vector<std::string>{};
        EXPECT_EQ(told(), expected) << gf_phaseName(c.before) << " -> " << gf_phaseName(c.after);
    }
}

// An aircraft that leaves the list and comes back under the same id starts afresh: no event
// from the state it had before it went.
TEST_F(FlightEventsTest, AnAircraftGoneFromTheListIsForgotten)
{
    std::vector<LiveAc> list{live(1, "KLM1", FlightState::flying)};
    gf_tellFlightEvents(list, "");
    gf_tellFlightEvents({}, "");
    list[0].flightState = FlightState::taxi;
    gf_tellFlightEvents(list, "");
    EXPECT_TRUE(told().empty());
}

TEST_F(FlightEventsTest, StaticAircraftAreToldWhenTheParkingHasSettled)
{
    const auto statics = [](std::vector<std::uint32_t> ACTIVE, std::uint32_t PENDING) {
        std::vector<SimAc> list;
        for (const std::uint32_t id : ACTIVE) {
            SimAc ac;
            ac.id = id;
            ac.state = AcState::active;
            list.push_back(ac);
        }
        for (std::uint32_t i = 0; i < PENDING; ++i) {
            SimAc ac;
            ac.id = 900 + i;
            ac.state = AcState::adding2sim;
            list.push_back(ac);
        }
        return list;
    };
    auto first = statics({1, 2}, 1);
    EXPECT_EQ(gf_tellStaticParking({first, "EHAM", 4, true}), 2);
    EXPECT_TRUE(told().empty());
    first = statics({1, 2, 3}, 0);
    EXPECT_EQ(gf_tellStaticParking({first, "EHAM", 4, false}), 3);
    EXPECT_EQ(gf_tellStaticParking({first, "EHAM", 4, false}), 3);
    EXPECT_EQ(told(), std::vector<std::string>{"04:12:31 EHAM: 3 static aircraft placed, 4 wanted"});
    // One taken away by the rules is told with the next renewal.
    const auto fewer = statics({2, 3}, 0);
    EXPECT_EQ(gf_tellStaticParking({fewer, "EHAM", 4, false}), 2);
    EXPECT_TRUE(told().empty());
    const auto renewed = statics({2, 3, 4, 5}, 0);
    gf_tellStaticParking({renewed, "EHAM", 4, true});
    gf_tellStaticParking({renewed, "EHAM", 4, false});
    EXPECT_EQ(told(), std::vector<std::string>{
                          "04:12:31 EHAM: static aircraft renewed: 2 placed, 1 removed; 4 standing, 4 wanted"});
    gf_tellStaticParking({{}, "", 0, false});
    EXPECT_EQ(told(), std::vector<std::string>{"04:12:31 EHAM: all 4 static aircraft removed"});
}

// The status texts of the window are told too; a countdown once, a repeat after a minute again.
TEST_F(FlightEventsTest, StatusTextsAreToldWithoutTheirCountdowns)
{
    gf_setStatus("Parking adjustments: 2 to be removed, 5 to be added\n", true);
    gf_setStatus("Restarting after 15 seconds");
    gf_setStatus("Restarting after 14 seconds");
    gf_setStatus("Restarting after 13 seconds");
    gf_setError("reading data files failed!");
    gf_setStatus("held back by the error line");
    EXPECT_EQ(told(), (std::vector<std::string>{"04:12:31 Parking adjustments: 2 to be removed, 5 to be added",
                                                 "04:12:31 Restarting after 15 seconds",
                                                 "04:12:31 ERROR: reading data files failed!"}));
}

TEST_F(FlightEventsTest, TheTerminalPrintsEventsAboveItsStatusLine)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    TerminalView view(out, true);
    const auto t0 = std::chrono::steady_clock::time_point{} + std::chrono::hours(100);
    gf_updateWindowValues([](WindowValues& V) { V.flightStates = "taxi 1"; });
    view.refresh(t0);
    gf_postEventLine("KLM1 lands at EHAM");
    view.refresh(t0 + std::chrono::milliseconds(100));
    view.finish();
    std::fflush(out);
    std::rewind(out);
    std::string text;
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out))
        text += static_cast<char>(c);
    std::fclose(out);
    EXPECT_EQ(text, "\rlive: taxi 1\033[K\r\033[K04:12:31 KLM1 lands at EHAM\nlive: taxi 1\033[K\n");
}

}  // namespace
}  // namespace qmt
