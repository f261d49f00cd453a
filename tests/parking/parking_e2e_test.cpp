// The whole road of static parking at a fictional eight-stand airport, against the simulated
// simulator and the traffic stand-in: the airport is chosen and loaded, the statics are made at the
// pacing rate, a park change swaps one of them, a live arrival teaches an option, and leaving the
// airport removes everything and saves what was learned for the next session.
#include "StaticParkingTest.h"

#include "engine/Commands.h"
#include "engine/Tick.h"
#include "platform/sim_Control.h"
#include "simlink/SimClient.h"

#include <map>

namespace qmt::test {
namespace {

class ParkingRoadTest : public StaticParkingTest {
protected:
    void SetUp() override
    {
        StaticParkingTest::SetUp();
        loadLiveries();
        gf_resetSimLinkForTests();
        gf_simStandIn().reset();
        gf_simStandIn().setRunning(true);
        gf_simStandIn().setUserObjectId(1000);
        ASSERT_TRUE(m_client.connect());
        g_parkAirport = AirportEntry{};
        g_tickCounter = 0;
    }

    void TearDown() override
    {
        m_client.close();
        gf_simStandIn().reset();
        gf_resetSimLinkForTests();
        StaticParkingTest::TearDown();
    }

    // Engine ticks, each followed by a simulator frame.
    void ticks(int N)
    {
        for (int i = 0; i < N; ++i) {
            lf_handleAddingStack();
            gf_simStandIn().advanceFrame();
            m_client.dispatch();
        }
    }

    // The AI objects in the simulator by the callsign they were created with: title and position.
    std::map<std::string, std::pair<std::string, LatLon>> aiObjects() const
    {
        std::map<uint32_t, std::string> callsigns;
        for (const SimAc& ac : g_staticAcs) {
            callsigns[ac.objectId] = ac.callsign;
        }
        std::map<std::string, std::pair<std::string, LatLon>> objects;
        SimStandIn& sim = gf_simStandIn();
        for (const uint32_t id : sim.aiObjectIds()) {
            objects[callsigns[id]] = {sim.objectTitle(id), LatLon{sim.objectValue(id, "PLANE LATITUDE").value_or(0.0),
                                                                  sim.objectValue(id, "PLANE LONGITUDE").value_or(0.0)}};
        }
        return objects;
    }

    static void expectOnStand(const std::pair<std::string, LatLon>& OBJECT, int STAND_INDEX, const std::string& TITLE)
    {
        EXPECT_EQ(OBJECT.first, TITLE);
        EXPECT_NEAR(OBJECT.second.lat, standPoint(STAND_INDEX).lat, 1e-6);
        EXPECT_NEAR(OBJECT.second.lon, standPoint(STAND_INDEX).lon, 1e-6);
    }

    SimClient m_client;
};

TEST_F(ParkingRoadTest, AnAirportFillsRenewsLearnsAndEmptiesAgain)
{
    writeQlnaFile(8);
    // What earlier sessions learned at QLNA.
    putLocal("airports/learned/simaddon/QLNA.xml",
             apfXml(param("airport_name", "Quillon Field") + param("publisher", "simaddon") +
                        param("parking_percentage", "50"),
                    R"(<parkpos id="S5"><opt reg="PH-BXB" day="1" hh="18:22" cs="KLM1269"/></parkpos>)"
                    R"(<parkpos id="S6"><opt reg="PH-HSA" day="1" hh="19:21" cs="TRA5401"/></parkpos>)"
                    R"(<parkpos id="S7"><opt reg="PH-HSB" day="1" hh="10" cs="TRA6013"/></parkpos>)"));
    writeFile(parkList(), "QLNA\n");
    startTraffic({servicePark(0x484101, "KLM11", "PH-BXA", "B738", 0, 3),
                  servicePark(0x484102, "KLM12", "PH-BXC", "B738", 1, 1)});
    userAt(standPoint(7), true);

    lf_readMyParkAirports();
    gf_manageParkAirport(1);
    EXPECT_EQ(gf_parkAirportCode(), "QLNA");
    EXPECT_EQ(g_reservedStand, "S8");
    EXPECT_EQ(readFile(parkList()), "QLNA,S8\n");
    EXPECT_TRUE(logHas("Read from learned airport file"));
    EXPECT_TRUE(logHas("4 positions (50% vs wanted 50%, with Max fit=24.0 hours)"));

    ticks(700);  // four creations, one per 50 ticks, each active 200 ticks after the simulator made it
    auto objects = aiObjects();
    ASSERT_EQ(objects.size(), 4u);
    expectOnStand(objects["KLM11*"], 0, "AIG Boeing 737-800 KLM Royal Dutch Airlines (PH-BXA)");
    expectOnStand(objects["KLM12*"], 1, "AIG Boeing 737-800 KLM Royal Dutch Airlines Orange Pride");
    expectOnStand(objects["KLM1269*"], 4, "AIG Boeing 737-800 KLM Royal Dutch Airlines (PH-BXB)");
    expectOnStand(objects["TRA5401*"], 5, "AIG Boeing 737-800 Transavia");
    for (const SimAc& ac : g_staticAcs) {
        EXPECT_EQ(ac.state, AcState::active) << ac.callsign;
    }
    EXPECT_TRUE(logHas("S1      : KLM11*   parked"));

    // KLM12 has started to move: the next park change removes it and adds the missing one.
    g_bufferHexIds = {0x484102};
    gf_applyParkTrafficChanges(false);
    EXPECT_TRUE(logHas("Parking adjustments: 1 to be removed, 1 to be added"));
    ticks(400);
    objects = aiObjects();
    ASSERT_EQ(objects.size(), 4u);
    EXPECT_EQ(objects.count("KLM12*"), 0u);
    expectOnStand(objects["TRA6013*"], 6, "AIG Boeing 737-800 Transavia");

    // A live arrival at S3 from half-hour 20 to 22 teaches its stand.
    LiveAc& arrival = parkedLive(0x484201, "KLM1345", 3, 0, "PH-BXD");
    lf_addRealStandOption(3, arrival, kStandEventArrived);
    g_weekTime = WeekTime{1, 22};
    lf_addRealStandOption(3, arrival, kStandEventSeen);
    g_liveAcs.clear();  // it has left again

    gf_resetParkAirport();
    EXPECT_EQ(gf_parkAirportCode(), "");
    for (const SimAc& ac : g_staticAcs) {
        EXPECT_EQ(ac.state, AcState::removingfromsim) << ac.callsign;
    }
    ticks(100);
    EXPECT_TRUE(gf_simStandIn().aiObjectIds().empty());
    EXPECT_TRUE(g_staticAcs.empty());
    EXPECT_TRUE(logHas("learned/simaddon/QLNA.xml' saved with 2 updates"));

    // The next session reads the option back.
    g_weekTime = WeekTime{1, 20};
    gf_manageParkAirport(1);
    ASSERT_EQ(g_stands.size(), 8u);
    const Stand* s3 = standNamed("S3");
    ASSERT_NE(s3, nullptr);
    ASSERT_EQ(s3->options.size(), 1u);
    EXPECT_EQ(s3->options[0].registration, "PH-BXD");
    EXPECT_EQ(s3->options[0].callsign, "KLM1345");
    EXPECT_EQ(gf_rangeText(s3->options[0].hours), "20:22");
}

} // namespace
} // namespace qmt::test
