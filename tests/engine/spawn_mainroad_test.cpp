// The main road of a live aircraft, tick by tick against the simulated simulator: traffic records
// in, born, matched to the sample liveries, created at the pacing rate, activated, and removed by
// the removal rules.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/Log.h"
#include "core/Paths.h"
#include "engine/Tick.h"
#include "feed/TrafficFeed.h"
#include "liveries/LiveryTables.h"
#include "liveries/Matching.h"
#include "liveries/ScannedLivery.h"
#include "platform/sim_Control.h"
#include "simlink/SimClient.h"
#include "spawn_fixture.h"

namespace qmt::test {
namespace {

class MainRoadTest : public SpawnTest {
protected:
    void SetUp() override
    {
        SpawnTest::SetUp();
        gf_resetLiveryTablesForTests();
        gf_resetScannedLiveriesForTests();
        gf_resetMatchingForTests();
        gf_simStandIn().reset();
        gf_simStandIn().setRunning(true);
        gf_simStandIn().setUserObjectId(1000); // simulator object ids are large; ids below 3 are no objects
        ASSERT_TRUE(gf_openLog(m_work / "Log.txt", "test"));

        const std::filesystem::path source = QUILLON_SOURCE_DIR;
        gf_clearDbase();
        ASSERT_TRUE(gf_readDbase(source / "data" / "reference" / "dbase.xml"));
        std::filesystem::create_directories(gf_liveriesScannedPath().parent_path());
        std::filesystem::copy_file(source / "tests" / "data" / "LiveriesScanned.xml", gf_liveriesScannedPath(),
                                   std::filesystem::copy_options::overwrite_existing);
        gf_processScannedLiveries();

        ASSERT_TRUE(m_client.connect());
        g_userAc.latitude = kHomeLat;
        g_userAc.longitude = kHomeLon;
        g_userOnGround = true;
        g_tickCounter = 0;
    }

    void TearDown() override
    {
        m_client.close();
        gf_resetLiveryTablesForTests();
        gf_resetScannedLiveriesForTests();
        gf_resetMatchingForTests();
        gf_closeLog();
        gf_simStandIn().reset();
        SpawnTest::TearDown();
    }

    // One engine tick and one simulator frame.
    void tick()
    {
        lf_handleAddingStack();
        gf_simStandIn().advanceFrame();
        m_client.dispatch();
    }

    void ticks(int N)
    {
        for (int i = 0; i < N; ++i) {
            tick();
        }
    }

    static LiveTrafficRecord report(uint32_t HEX, const std::string& CALLSIGN, const std::string& REGISTRATION,
                                    const std::string& AIRLINE, const std::string& MODEL, LatLon AT, bool AIRBORNE,
                                    double ALT, double GS, double TIME)
    {
        LiveTrafficRecord r;
        r.kind.modelId = gf_modelId(MODEL);
        r.kind.airlineId = gf_airlineId(AIRLINE);
        r.callsign = CALLSIGN;
        r.registration = REGISTRATION;
        r.pos.lat = AT.lat;
        r.pos.lon = AT.lon;
        r.pos.alt = ALT;
        r.pos.groundSpeed = GS;
        r.pos.airspeed = GS;
        r.pos.track = 90.0;
        r.pos.airborne = AIRBORNE ? 1 : 0;
        r.reportTime = TIME;
        r.hexId = HEX;
        return r;
    }

    // The stream advance is not built yet: the test gives each newborn its next report itself.
    static void nextReport(uint32_t HEX, LatLon AT, int32_t PLAY_TICK)
    {
        LiveAc* ac = gf_findLiveAc(HEX);
        ASSERT_NE(ac, nullptr);
        StreamPos p = ac->stream.back();
        p.lat = AT.lat;
        p.lon = AT.lon;
        p.playTick = PLAY_TICK;
        ac->stream.push_back(p);
    }

    std::string logText() const
    {
        gf_flushLog();
        std::ifstream in(m_work / "Log.txt", std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    // Ticks (since the test began) at which create calls reached the simulator.
    std::vector<uint64_t> createFrames() const { return m_createFrames; }

    SimClient m_client;
    std::vector<uint64_t> m_createFrames;
};

TEST_F(MainRoadTest, RecordsBecomeAircraftThatAreCreatedActivatedAndRemoved)
{
    const LatLon standAt = away(0.6, 0.0);
    parkAirportWithStands({away(0.5, 0.0), standAt});

    const LatLon airborneAt = away(8.0, 90.0);
    const LatLon taxiAt = away(1.5, 180.0);
    std::vector<LiveTrafficRecord> batch = {
        report(0x484101, "KLM1723", "PH-BXB", "KLM", "B738", airborneAt, true, 3000.0, 220.0, 100.0),
        report(0x484102, "TRA5", "PH-HSI", "TRA", "B738", standAt, false, 0.0, 0.0, 100.0),
        report(0x484103, "EZY12_", "G-EZAA", "EZY", "A320", taxiAt, false, 0.0, 12.0, 100.0),
        report(0x484104, "EZY12", "G-EZAB", "EZY", "A320", away(0.2, 90.0, taxiAt), false, 0.0, 12.0, 100.0),
    };
    gf_intakeTrafficBatch(batch, 30);
    ASSERT_EQ(g_bufferedTraffic.size(), 4u);
    ticks(2); // two records a tick
    ASSERT_EQ(g_liveAcs.size(), 4u);
    const int32_t due = g_liveAcs.front().stream.front().playTick;
    EXPECT_EQ(due, 3000);

    nextReport(0x484101, away(8.5, 90.0), due + 800);
    nextReport(0x484102, standAt, due + 1000);
    nextReport(0x484103, away(0.05, 90.0, taxiAt), due + 500);
    nextReport(0x484104, away(0.25, 90.0, taxiAt), due + 500);

    // Born at their play tick: livery, start and the adding stack.
    ticks(due - g_tickCounter.load() + 1);
    // records move when others are erased: look them up after every tick
    LiveAc* flying = gf_findLiveAc(0x484101);
    LiveAc* parked = gf_findLiveAc(0x484102);
    ASSERT_NE(flying, nullptr);
    ASSERT_NE(parked, nullptr);
    EXPECT_EQ(flying->state, AcState::adding2sim);
    EXPECT_EQ(flying->flightState, FlightState::flying);
    EXPECT_EQ(flying->liveryTitle, "AIG Boeing 737-800 KLM Royal Dutch Airlines (PH-BXB)");
    EXPECT_EQ(parked->flightState, FlightState::parked);
    EXPECT_EQ(parked->standId, 2u);
    EXPECT_FALSE(parked->liveryTitle.empty());

    // The real EZY12 is born: its ghost goes and the ghost callsign is blocked.
    EXPECT_EQ(g_blockedGhosts, std::vector<std::string>{"EZY12_"});

    // Creations reach the simulator one every 50 ticks.
    std::vector<int32_t> createTicks;
    std::size_t created = 0;
    for (int i = 0; i < 400; ++i) {
        tick();
        const std::size_t now = gf_simStandIn().countCalls("SimConnect_AICreateNonATCAircraft");
        if (now > created) {
            createTicks.push_back(g_tickCounter.load());
            created = now;
        }
    }
    ASSERT_EQ(createTicks.size(), 3u);
    EXPECT_GE(createTicks[1] - createTicks[0], 50);
    EXPECT_GE(createTicks[2] - createTicks[1], 50);
    for (const SimCall& call : gf_simStandIn().calls()) {
        if (call.function == "SimConnect_AICreateNonATCAircraft" && call.text2 == "KLM1723") {
            EXPECT_EQ(call.text, "AIG Boeing 737-800 KLM Royal Dutch Airlines (PH-BXB)");
        }
    }

    // Activated 200 ticks after the simulator reported them.
    ticks(300);
    flying = gf_findLiveAc(0x484101);
    parked = gf_findLiveAc(0x484102);
    LiveAc* taxiing = gf_findLiveAc(0x484104);
    ASSERT_NE(flying, nullptr);
    ASSERT_NE(parked, nullptr);
    ASSERT_NE(taxiing, nullptr);
    EXPECT_EQ(flying->state, AcState::active);
    EXPECT_EQ(parked->state, AcState::active);
    EXPECT_EQ(taxiing->state, AcState::active);
    EXPECT_TRUE(gf_simStandIn().objectExists(flying->objectId));
    EXPECT_EQ(gf_findLiveAc(0x484103), nullptr);

    // The user taxis up to EZY12: the rule removes it, the pacing sends the removal, the
    // simulator's report erases the record.
    const uint32_t taxiObject = taxiing->objectId;
    g_userAc.latitude = taxiing->block[kBlockLat];
    g_userAc.longitude = taxiing->block[kBlockLon] + 0.0002;
    taxiing->onGround = 1;
    gf_removeLiveTooClose();
    EXPECT_EQ(taxiing->state, AcState::removingfromsim);
    ticks(30);
    EXPECT_FALSE(gf_simStandIn().objectExists(taxiObject));
    EXPECT_EQ(gf_findLiveAc(0x484104), nullptr);

    // Lowering the limit takes the farthest one.
    const uint32_t flyingObject = gf_findLiveAc(0x484101)->objectId;
    EXPECT_FALSE(gf_removeFarthestLiveAc(-1.0));
    ticks(30);
    EXPECT_FALSE(gf_simStandIn().objectExists(flyingObject));
    EXPECT_EQ(gf_findLiveAc(0x484101), nullptr);
    EXPECT_NE(gf_findLiveAc(0x484102), nullptr);

    const std::string log = logText();
    EXPECT_NE(log.find("          EZY12_   is a ghost and will be removed, continue with EZY12"), std::string::npos)
        << log;
    EXPECT_NE(log.find("A2      : TRA5     parks"), std::string::npos) << log;
}

} // namespace
} // namespace qmt::test

namespace qmt::test {
namespace {

TEST_F(MainRoadTest, ACallsignChangeRespawnsTheObjectWithTheNewCallsign)
{
    std::vector<LiveTrafficRecord> batch = {
        report(0x484101, "KLM1723", "PH-BXB", "KLM", "B738", away(8.0), true, 3000.0, 220.0, 100.0)};
    gf_intakeTrafficBatch(batch, 30);
    ticks(1);
    const int32_t due = gf_findLiveAc(0x484101)->stream.front().playTick;
    nextReport(0x484101, away(8.5), due + 800);
    ticks(due - g_tickCounter.load() + 300);
    LiveAc* ac = gf_findLiveAc(0x484101);
    ASSERT_NE(ac, nullptr);
    ASSERT_EQ(ac->state, AcState::active);
    const uint32_t firstObject = ac->objectId;

    LiveTrafficRecord renamed =
        report(0x484101, "KLM1724", "PH-BXB", "KLM", "B738", away(8.2), true, 3000.0, 220.0, 110.0);
    lf_mergeLiveRecord(renamed);
    EXPECT_EQ(ac->state, AcState::liveryrespawn);
    ticks(400);
    ac = gf_findLiveAc(0x484101);
    ASSERT_NE(ac, nullptr);
    EXPECT_EQ(ac->state, AcState::active);
    EXPECT_NE(ac->objectId, firstObject);
    EXPECT_FALSE(gf_simStandIn().objectExists(firstObject));
    EXPECT_TRUE(gf_simStandIn().objectExists(ac->objectId));
    std::vector<std::string> createdCallsigns;
    for (const SimCall& call : gf_simStandIn().calls()) {
        if (call.function == "SimConnect_AICreateNonATCAircraft") {
            createdCallsigns.push_back(call.text2);
        }
    }
    EXPECT_EQ(createdCallsigns, (std::vector<std::string>{"KLM1723", "KLM1724"}));
    EXPECT_NE(logText().find("          KLM1724  PH-BXB       "), std::string::npos);
}

} // namespace
} // namespace qmt::test
