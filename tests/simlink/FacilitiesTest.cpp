#include "InputMutation.h"
#include "SimTestSupport.h"
#include "core/StopFlags.h"

#include "stands/StandTable.h"

#include <algorithm>
#include <set>

namespace qmt::test {
namespace {

class FacilitiesTest : public SimLinkTest {
protected:
    void SetUp() override
    {
        SimLinkTest::SetUp();
        gf_simStandIn().setFacilityFolder(std::filesystem::path(QUILLON_SOURCE_DIR) / "data" / "facilities");
        // Waiting costs no time in tests: each step counts as 1 ms.
        g_facilityWaitStep = [this] {
            ++m_steps;
            return 1.0;
        };
    }
    void writeFixture(const std::string& ICAO, const std::string& JSON)
    {
        std::ofstream(m_dir / (ICAO + ".json"), std::ios::binary) << JSON;
        gf_simStandIn().setFacilityFolder(m_dir);
    }
    int m_steps = 0;
};

TEST_F(FacilitiesTest, FillsStandsAndHelipadsFromTheSimulator)
{
    AirportFile record;
    int helipads = -1;
    FacilityRead status{};
    ASSERT_TRUE(gf_readFacilityParkings("EHAM", record, helipads, &status));
    EXPECT_EQ(status, FacilityRead::ok);
    EXPECT_EQ(record.code.str(), "EHAM");
    EXPECT_EQ(record.airportName, "Amsterdam Airport Schiphol");
    EXPECT_EQ(record.altitudeFt, -11);
    EXPECT_EQ(helipads, 1);
    ASSERT_EQ(record.stands.size(), 61u);
    std::set<std::string> names;
    for (const Stand& s : record.stands) {
        names.insert(s.name);
    }
    EXPECT_EQ(names.size(), record.stands.size());
    const auto d2 = std::find_if(record.stands.begin(), record.stands.end(), [](auto& s) { return s.name == "D2"; });
    ASSERT_NE(d2, record.stands.end());
    EXPECT_NEAR(d2->latitude, 52.30935, 1e-9);
    EXPECT_NEAR(d2->heading, 45.0 * 0.017453292519943295, 1e-12);
    EXPECT_NEAR(d2->radius, 24.0 * 0.0005399568034557236, 1e-12);
    EXPECT_EQ(d2->type, 9);
    EXPECT_FALSE(d2->heli);
    const Stand& heli = record.stands.back();
    EXPECT_EQ(heli.name, "helipad1");
    EXPECT_TRUE(heli.heli);
    EXPECT_NEAR(heli.radius, 11.0 * 0.0005399568034557236, 1e-12);
    EXPECT_TRUE(PARKING_DATA_RDR.open);

    // The connection is opened once and serves the next airport too.
    AirportFile again;
    EXPECT_TRUE(gf_readFacilityParkings("EHAM", again, helipads));
    EXPECT_EQ(gf_simStandIn().countCalls("SimConnect_Open"), 1u);
    EXPECT_EQ(m_steps, 0);
}

TEST_F(FacilitiesTest, NotRunningSimulatorAnswersFalseWithItsWarning)
{
    gf_simStandIn().setRunning(false);
    AirportFile record;
    int helipads = 0;
    FacilityRead status = FacilityRead::ok;
    EXPECT_FALSE(gf_readFacilityParkings("EHAM", record, helipads, &status));
    EXPECT_EQ(status, FacilityRead::notRead);
    EXPECT_FALSE(PARKING_DATA_RDR.open);
    EXPECT_NE(logText().find("==> SimConnect_Open (PARKING_DATA_RDR) FAILED hr=0x80004005\n"), std::string::npos);
}

TEST_F(FacilitiesTest, SilentSimulatorTimesOutAfterTenSeconds)
{
    gf_simStandIn().setFacilitySilent(true);
    AirportFile record;
    int helipads = 0;
    FacilityRead status = FacilityRead::ok;
    EXPECT_FALSE(gf_readFacilityParkings("EHAM", record, helipads, &status));
    EXPECT_EQ(status, FacilityRead::timedOut);
    EXPECT_EQ(m_steps, 10000);
    EXPECT_NE(logText().find("==> Facility data for EHAM not complete after 10 seconds"), std::string::npos);

    // The connection stays usable after a time-out.
    gf_simStandIn().setFacilitySilent(false);
    writeFixture("EHAM", R"({"icao":"EHAM","name":"Other","altitude_m":0,"parkings":[
        {"name":"X","number":1,"type":9,"heading":90,"radius":20,"lat":52.3,"lon":4.7}]})");
    ASSERT_TRUE(gf_readFacilityParkings("EHAM", record, helipads));
    EXPECT_EQ(record.stands.size(), 1u);
}

TEST_F(FacilitiesTest, StopFlagEndsTheWait)
{
    gf_simStandIn().setFacilitySilent(true);
    g_stopSession.store(true);
    AirportFile record;
    int helipads = 0;
    EXPECT_FALSE(gf_readFacilityParkings("EHAM", record, helipads));
    EXPECT_EQ(m_steps, 0);
    EXPECT_NE(logText().find("==> Facility data for EHAM not read: stopping"), std::string::npos);
}

TEST_F(FacilitiesTest, TellsNoStandsFromCouldNotRead)
{
    writeFixture("EKVG", R"({"icao":"EKVG","name":"Vagar","altitude_m":85.0,"parkings":[],"helipads":[]})");
    AirportFile record;
    record.stands.emplace_back("old", std::vector<StandOption>{}, 1.0, 1.0, 0.0, 10.0, 1, false, false, false);
    int helipads = 0;
    FacilityRead status = FacilityRead::ok;
    EXPECT_FALSE(gf_readFacilityParkings("EKVG", record, helipads, &status));
    EXPECT_EQ(status, FacilityRead::noStands);
    EXPECT_TRUE(record.stands.empty());
    EXPECT_EQ(record.altitudeFt, 279);

    EXPECT_FALSE(gf_readFacilityParkings("ZZZZ", record, helipads, &status));
    EXPECT_EQ(status, FacilityRead::refused);
    EXPECT_NE(logText().find("==> Facility data for ZZZZ could not be read"), std::string::npos);
}

TEST_F(FacilitiesTest, RepeatedParkingNamesAreMadeUnique)
{
    std::string parkings;
    for (int i = 0; i < 12; ++i) {
        parkings += std::string(i ? "," : "") +
                    R"({"name":"P","number":1,"type":1,"heading":0,"radius":15,"lat":52.3,"lon":4.7})";
    }
    writeFixture("EHXX", R"({"icao":"EHXX","name":"Test","altitude_m":0,"parkings":[)" + parkings + "]}");
    AirportFile record;
    int helipads = 0;
    ASSERT_TRUE(gf_readFacilityParkings("EHXX", record, helipads));
    ASSERT_EQ(record.stands.size(), 11u);
    EXPECT_EQ(record.stands[0].name, "P1");
    EXPECT_EQ(record.stands[1].name, "P1a");
    EXPECT_EQ(record.stands[10].name, "P1j");
    EXPECT_DOUBLE_EQ(record.stands[0].heading, 6.283185307179586);
    EXPECT_NE(logText().find("more than 10 parkings named P1"), std::string::npos);
}

TEST_F(FacilitiesTest, AnAirportOfMoreStandsThanAnyAirportHasIsNotRead)
{
    std::string parkings;
    for (size_t i = 0; i <= kMaxAirportStands; ++i) {
        parkings += std::string(i ? "," : "") + R"({"name":"P","number":)" + std::to_string(i) +
                    R"(,"type":1,"heading":0,"radius":15,"lat":52.3,"lon":4.7})";
    }
    writeFixture("EHXX", R"({"icao":"EHXX","name":"Test","altitude_m":0,"parkings":[)" + parkings + "]}");
    AirportFile record;
    int helipads = 0;
    FacilityRead status = FacilityRead::ok;
    EXPECT_FALSE(gf_readFacilityParkings("EHXX", record, helipads, &status));
    EXPECT_EQ(status, FacilityRead::notRead);
    EXPECT_TRUE(record.stands.empty());
    EXPECT_NE(logText().find("==> Facility data for EHXX: more than 10000 stands, not read"), std::string::npos);
}

TEST_F(FacilitiesTest, ImpossibleNumbersAreLeftOutAndAMalformedAnswerFailsWithOneLine)
{
    const std::string good = R"({"name":"A","number":1,"type":1,"heading":-90,"radius":20,"lat":52.3,"lon":4.7})";
    writeFixture("EHXX", R"({"icao":"EHXX","name":"Test","altitude_m":1e10,"parkings":[)" + good +
                             R"(,{"name":"B","number":1,"type":1,"heading":10,"radius":20,"lat":1000,"lon":4.7})"
                             R"(,{"name":"C","number":1,"type":1,"heading":10,"radius":-5,"lat":52.3,"lon":4.7})"
                             R"(,{"name":"D","number":1,"type":1,"heading":1e308,"radius":20,"lat":52.3,"lon":4.7})"
                             R"(,{"name":"E","number":1,"type":1,"heading":10,"radius":5000,"lat":52.3,"lon":4.7})"
                             R"(],"helipads":[{"lat":52.3,"lon":-400,"heading":0,"width":20}]})");
    AirportFile record;
    int helipads = -1;
    ASSERT_TRUE(gf_readFacilityParkings("EHXX", record, helipads));
    ASSERT_EQ(record.stands.size(), 1u);
    EXPECT_EQ(record.stands[0].name, "A1");
    EXPECT_NEAR(record.stands[0].heading, 270.0 * 0.017453292519943295, 1e-12);
    EXPECT_EQ(helipads, 0);
    EXPECT_EQ(record.altitudeFt, 0) << "an altitude of 1e10 m never wraps to a negative number of feet";
    EXPECT_NE(logText().find("EHXX: 5 parkings with an impossible position"), std::string::npos);

    writeFixture("EHXX", R"({"icao":"EHXX","name":"Test","parkings":[{"name":5,"number":"x"}]})");
    const size_t before = logText().size();
    FacilityRead status = FacilityRead::ok;
    EXPECT_FALSE(gf_readFacilityParkings("EHXX", record, helipads, &status));
    EXPECT_EQ(status, FacilityRead::refused);
    EXPECT_EQ(logText().substr(before), "==> Facility data for EHXX could not be read\n");
}

// Whatever the simulator answers, the stands read from it are within their bounds.
TEST_F(FacilitiesTest, AnswersOfAnyNumbersGiveBoundedStands)
{
    std::ifstream in(std::filesystem::path(QUILLON_SOURCE_DIR) / "data" / "facilities" / "EHAM.json");
    const std::string sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    InputMutator mutator(16);
    for (int i = 0; i < 40; ++i) {
        writeFixture("EHXX", mutator.mutate(sample));
        AirportFile record;
        int helipads = 0;
        if (gf_readFacilityParkings("EHXX", record, helipads)) {
            for (const Stand& s : record.stands) {
                ASSERT_TRUE(gf_standInBounds(s)) << i << " " << s.name;
            }
            ASSERT_TRUE(record.altitudeFt >= -3300 && record.altitudeFt <= 33000) << i;
        }
    }
}

TEST_F(FacilitiesTest, ClosingTheReaderLogsAndMarksItClosed)
{
    AirportFile record;
    int helipads = 0;
    ASSERT_TRUE(gf_readFacilityParkings("EHAM", record, helipads));
    gf_closeParkingDataReader();
    EXPECT_FALSE(PARKING_DATA_RDR.open);
    EXPECT_NE(logText().find("SimConnect closed ok\nSimConnect (PARKING_DATA_RDR) closed\n"), std::string::npos);
    EXPECT_EQ(gf_simStandIn().openConnections(), 0u);
}

} // namespace
} // namespace qmt::test
