#include "TestFolder.h"
#include "platform/SimConnect.h"
#include "platform/sim_Control.h"
#include "core/LoopClock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace qmt::test {
namespace {

class SimStandInTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim().reset();
        sim().setRunning(true);
        ASSERT_EQ(SimConnect_Open(&m_h, "test", nullptr, 0, nullptr, 0), S_OK);
        next(); // the open message
    }
    void TearDown() override { sim().reset(); }
    static SimStandIn& sim() { return gf_simStandIn(); }
    SIMCONNECT_RECV* next()
    {
        SIMCONNECT_RECV* msg = nullptr;
        std::uint32_t size = 0;
        return SUCCEEDED(SimConnect_GetNextDispatch(m_h, &msg, &size)) ? msg : nullptr;
    }
    SIMCONNECT_HANDLE m_h = nullptr;
};

TEST_F(SimStandInTest, ObjectIdsAreAssignedAboveTheUserAfterTheCreateDelay)
{
    sim().setUserObjectId(40);
    sim().setCreateDelayFrames(2);
    ASSERT_EQ(SimConnect_AICreateNonATCAircraft(m_h, "T", "CS1", {}, 900), S_OK);
    sim().advanceFrame();
    EXPECT_EQ(next(), nullptr);
    sim().advanceFrame();
    const auto* msg = next();
    ASSERT_NE(msg, nullptr);
    ASSERT_EQ(msg->dwID, SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID);
    const auto& assigned = *static_cast<const SIMCONNECT_RECV_ASSIGNED_OBJECT_ID*>(msg);
    EXPECT_EQ(assigned.dwRequestID, 900u);
    EXPECT_EQ(assigned.dwObjectID, 41u);
    EXPECT_EQ(sim().aiObjectIds(), std::vector<std::uint32_t>{41});
}

TEST_F(SimStandInTest, UserAircraftFollowsItsScriptAndIsReportedEverySecond)
{
    ASSERT_EQ(SimConnect_AddToDataDefinition(m_h, 7, "PLANE LATITUDE", "degrees"), S_OK);
    ASSERT_EQ(SimConnect_AddToDataDefinition(m_h, 7, "ATC ID", nullptr, SIMCONNECT_DATATYPE_STRING32), S_OK);
    ASSERT_EQ(SimConnect_RequestDataOnSimObject(m_h, 3, 7, SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_SECOND), S_OK);
    sim().setFramesPerSecond(10);
    sim().setUserAircraft({0, 50.0, 4.0, 0, 0, 0, true}, 100.0, "USER1");
    sim().setUserScript({{0.0, 50.0, 4.0, 0, 0, 0, true}, {2.0, 52.0, 4.0, 0, 0, 0, true}});
    for (int i = 0; i < 9; ++i) {
        sim().advanceFrame();
    }
    while (auto* m = next()) {
        EXPECT_NE(m->dwID, SIMCONNECT_RECV_ID_SIMOBJECT_DATA);
    }
    sim().advanceFrame();
    const SIMCONNECT_RECV* msg = nullptr;
    while (auto* m = next()) {
        if (m->dwID == SIMCONNECT_RECV_ID_SIMOBJECT_DATA) {
            msg = m;
            break;
        }
    }
    ASSERT_NE(msg, nullptr);
    const auto& data = *static_cast<const SIMCONNECT_RECV_SIMOBJECT_DATA*>(msg);
    ASSERT_EQ(data.dwDataSize, 40u);
    double lat = 0.0;
    std::memcpy(&lat, data.pData, 8);
    EXPECT_NEAR(lat, 51.0, 1e-9);
    EXPECT_STREQ(reinterpret_cast<const char*>(data.pData + 8), "USER1");
}

TEST_F(SimStandInTest, ScriptFileErrorsAreReported)
{
    const auto path = gf_testFolder("quillon_standin_script").replace_extension(".json");
    std::ofstream(path) << R"([{"t":0,"lat":52.3,"lon":4.7},{"t":-1,"lat":52.3,"lon":4.7}])";
    EXPECT_NE(sim().loadUserScript(path).find("go back"), std::string::npos);
    std::ofstream(path) << R"([{"t":0,"lon":4.7}])";
    EXPECT_NE(sim().loadUserScript(path).find("bad script point"), std::string::npos);
    std::ofstream(path) << R"([{"t":0,"lat":52.3,"lon":4.7,"alt":-11,"hdg":90,"gs":0}])";
    EXPECT_EQ(sim().loadUserScript(path), "");
    EXPECT_DOUBLE_EQ(*sim().objectValue(sim().userObjectId(), "PLANE LATITUDE"), 52.3);
    std::filesystem::remove(path);
}

TEST_F(SimStandInTest, BadCallsFailAndAreRecorded)
{
    EXPECT_EQ(SimConnect_RequestDataOnSimObject(m_h, 1, 99, 0, SIMCONNECT_PERIOD_ONCE), E_FAIL);
    EXPECT_EQ(SimConnect_AddToFacilityDefinition(m_h, 5, "LATITUDE"), E_INVALIDARG); // no record opened
    ASSERT_EQ(SimConnect_AddToFacilityDefinition(m_h, 5, "OPEN AIRPORT"), S_OK);
    EXPECT_EQ(SimConnect_AddToFacilityDefinition(m_h, 5, "RUNWAYS"), E_INVALIDARG);
    EXPECT_EQ(SimConnect_RequestFacilityData(m_h, 6, 1, "EHAM"), E_FAIL);
    EXPECT_EQ(SimConnect_AIRemoveObject(m_h, sim().userObjectId(), 8), S_OK);
    std::uint32_t sendId = 0;
    ASSERT_EQ(SimConnect_GetLastSentPacketID(m_h, &sendId), S_OK);
    const auto* msg = next();
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->dwID, SIMCONNECT_RECV_ID_EXCEPTION);
    // Like the real library: the packet of the failed call and the refused parameter, no request id.
    EXPECT_EQ(static_cast<const SIMCONNECT_RECV_EXCEPTION*>(msg)->dwSendID, sendId);
    EXPECT_EQ(static_cast<const SIMCONNECT_RECV_EXCEPTION*>(msg)->dwIndex, 1u);
    EXPECT_EQ(sim().countCalls("SimConnect_AddToFacilityDefinition"), 3u);
    EXPECT_TRUE(sim().objectExists(sim().userObjectId()));
}

TEST_F(SimStandInTest, AClosedConnectionTakesItsAiObjectsAlongAndItsHandleStaysDead)
{
    sim().setCreateDelayFrames(1);
    ASSERT_EQ(SimConnect_AICreateNonATCAircraft(m_h, "T", "CS1", {}, 900), S_OK);
    sim().advanceFrame();
    const std::uint32_t foreign = sim().addForeignAircraft(52.0, 4.0, 0.0, true);
    ASSERT_EQ(sim().aiObjectIds().size(), 2u);
    ASSERT_EQ(SimConnect_Close(m_h), S_OK);
    EXPECT_EQ(sim().aiObjectIds(), std::vector<std::uint32_t>{foreign});
    std::uint32_t sendId = 0;
    EXPECT_EQ(SimConnect_GetLastSentPacketID(m_h, &sendId), E_FAIL);
    EXPECT_EQ(sim().callsOnClosedHandles(), 1u);
}

TEST_F(SimStandInTest, QuitReachesEveryConnectionAndRefusesNewOnes)
{
    sim().quit();
    const auto* msg = next();
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->dwID, SIMCONNECT_RECV_ID_QUIT);
    SIMCONNECT_HANDLE other = nullptr;
    EXPECT_EQ(SimConnect_Open(&other, "late", nullptr, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(SimConnect_Close(m_h), S_OK);
    EXPECT_EQ(SimConnect_Close(m_h), E_FAIL);
}

} // namespace
} // namespace qmt::test

namespace qmt::test {
namespace {

TEST_F(SimStandInTest, ATrackRecordingHoldsEveryObjectAtEveryFrameAndTheNotes)
{
    const std::filesystem::path folder = gf_testFolder("quillon_track");
    std::filesystem::create_directories(folder);
    const std::filesystem::path file = folder / "track.csv";
    EXPECT_FALSE(sim().startTrackRecording(folder / "missing" / "track.csv").empty());
    EXPECT_FALSE(sim().trackRecording());
    ASSERT_EQ(sim().startTrackRecording(file), "");
    EXPECT_TRUE(sim().trackRecording());
    const std::uint32_t id = sim().addForeignAircraft(52.25, 4.5, 3000.0, false);
    sim().advanceFrame();
    sim().recordNote(id, "taxi, KLM1");
    sim().advanceFrame();
    sim().stopTrackRecording();
    EXPECT_FALSE(sim().trackRecording());
    sim().advanceFrame(); // nothing after the stop
    std::ifstream in(file);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line)) {
        if (line.rfind("P,", 0) == 0 || line.rfind("O,", 0) == 0 || line.rfind("S,", 0) == 0) {
            lines.push_back(line);
        }
    }
    const std::string object = std::to_string(id);
    // lat, lon, altitude, heading, on the ground, pitch, bank, vertical speed, airspeed, height
    const std::vector<std::string> expected = {
        "O,1,1000,user,,User Aircraft", "P,1,1000,0,0,0,0,1,0,0,0,0,0", "O,1," + object + ",ai,,Foreign Aircraft",
        "P,1," + object + ",52.25,4.5,3000,0,0,0,0,0,0,3000", "S,1," + object + ",taxi  KLM1",
        "P,2,1000,0,0,0,0,1,0,0,0,0,0", "P,2," + object + ",52.25,4.5,3000,0,0,0,0,0,0,3000"};
    EXPECT_EQ(lines, expected);
    std::filesystem::remove_all(folder);
}

// A recording for a picture keeps an object's first frame, every Nth frame and each change of
// its ground flag (a touchdown or a lift-off falls between the kept frames).
TEST_F(SimStandInTest, AThinnedRecordingKeepsEveryNthFrameAndEachTouchdownAndLiftOff)
{
    const std::filesystem::path folder = gf_testFolder("quillon_thin_track");
    std::filesystem::create_directories(folder);
    const std::filesystem::path file = folder / "track.csv";
    sim().setFramesPerSecond(10);
    UserScriptPoint ground;
    ground.onGround = true;
    UserScriptPoint air = ground;
    air.seconds = 1.0;
    air.onGround = false;
    air.altitudeFt = 300.0;
    UserScriptPoint back = ground;
    back.seconds = 2.0;
    sim().setUserScript({ground, air, back});
    ASSERT_EQ(sim().startTrackRecording(file, 4), "");
    for (int i = 0; i < 17; ++i) {
        sim().advanceFrame();
    }
    sim().stopTrackRecording();
    std::ifstream in(file);
    std::string line;
    std::vector<std::string> frames;
    while (std::getline(in, line)) {
        if (line.rfind("P,", 0) != 0) {
            continue;
        }
        std::vector<std::string> fields;
        std::stringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) {
            fields.push_back(cell);
        }
        ASSERT_GE(fields.size(), 8u) << line;
        frames.push_back(fields[1] + (fields[7] == "1" ? "g" : "a"));
    }
    // Lift-off at 0.5 s (frame 5), touchdown at 1.5 s (frame 15).
    EXPECT_EQ(frames, (std::vector<std::string>{"1g", "4g", "5a", "8a", "12a", "15g", "16g"}));
    std::filesystem::remove_all(folder);
}

// The simulator removes an object by itself at an age drawn from the seed and the object alone:
// a run whose frames fall otherwise (a real clock) loses the same objects at the same ages.
TEST_F(SimStandInTest, AnObjectIsRemovedByTheSimulatorAtTheSameAgeHoweverTheFramesFall)
{
    // The objects come one a frame, or every third frame; each one's age when it went.
    const auto removals = [this](int EVERY) {
        sim().reset();
        sim().setRunning(true);
        sim().setSeed(7);
        sim().setSelfRemovalsPerHour(3600.0);  // about one an object every 30 frames
        std::map<std::uint32_t, int> born;
        std::map<std::uint32_t, int> age;
        for (int frame = 0; frame < 200; ++frame) {
            if (frame % EVERY == 0 && born.size() < 20) {
                born[sim().addForeignAircraft(52.3, 4.76, 0.0, true)] = frame;
            }
            sim().advanceFrame();
            for (const auto& [id, at] : born) {
                if (age.count(id) == 0 && !sim().objectExists(id)) {
                    age[id] = frame - at;
                }
            }
        }
        return age;
    };
    const auto dense = removals(1);
    EXPECT_GE(dense.size(), 10u);
    EXPECT_EQ(removals(3), dense);
}

// The scenery lies at its airports' elevations: an aircraft landing at an airport 800 ft up meets
// the ground there, not at the elevation of the user's airport.
TEST_F(SimStandInTest, TheGroundLiesAtTheNearestAirportsElevation)
{
    sim().setGroundElevation(125.0);
    sim().setTerrain({{34.2098, -118.4900, 802.0}, {33.8165, -118.1499, 60.0}});
    struct Case {
        double lat;
        double lon;
        double altitude;
        double ground;
        bool onGround;
    };
    for (const Case& c : {Case{34.2098, -118.4900, 810.0, 802.0, true}, Case{34.17, -118.49, 810.0, 802.0, true},
                          Case{33.83, -118.16, 200.0, 60.0, false}, Case{33.0, -117.0, 133.0, 125.0, true}}) {
        const std::uint32_t id = sim().addForeignAircraft(c.lat, c.lon, c.altitude, false);
        EXPECT_EQ(sim().objectValue(id, "GROUND ALTITUDE"), c.ground) << c.lat;
        EXPECT_EQ(sim().objectValue(id, "SIM ON GROUND"), c.onGround ? 1.0 : 0.0) << c.lat;
    }
}

TEST_F(SimStandInTest, AFacilityFileGivenForOneAirport)
{
    const std::filesystem::path folder = gf_testFolder("quillon_facility");
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "klax.json") << R"({"icao": "KLAX", "altitude_m": 38.1, "parkings": []})";
    std::ofstream(folder / "bad.json") << R"({"name": "no code"})";
    EXPECT_EQ(sim().addFacilityFile(folder / "klax.json"), "");
    EXPECT_NE(sim().addFacilityFile(folder / "bad.json"), "");
    EXPECT_NE(sim().addFacilityFile(folder / "missing.json"), "");
    EXPECT_EQ(sim().setGroundElevationOf("KLAX"), "");
    EXPECT_NEAR(*sim().objectValue(sim().userObjectId(), "GROUND ALTITUDE"), 125.0, 0.1);
    std::filesystem::remove_all(folder);
}

TEST(SimStandInSetUp, SampleDataMakeARealisticSimulator)
{
    EXPECT_EQ(gf_setUpSimStandIn(std::filesystem::path(QUILLON_SOURCE_DIR) / "data", 5), "");
    SimStandIn& sim = gf_simStandIn();
    EXPECT_EQ(sim.setGroundElevationOf("EHAM"), "");
    EXPECT_NEAR(*sim.objectValue(sim.userObjectId(), "GROUND ALTITUDE"), -3.35 * 3.280839895013123, 1e-9);
    EXPECT_NE(sim.setGroundElevationOf("ZZZZ"), "");
    SIMCONNECT_HANDLE h = nullptr;
    ASSERT_EQ(SimConnect_Open(&h, "program", nullptr, 0, nullptr, 0), S_OK);
    EXPECT_TRUE(sim.calls().empty());
    EXPECT_NE(gf_setUpSimStandIn("/nonexistent", 5), "");
    sim.reset();
    // After a reset the simulator is not running until setRunning starts it.
    SIMCONNECT_HANDLE refused = nullptr;
    EXPECT_EQ(SimConnect_Open(&refused, "program", nullptr, 0, nullptr, 0), E_FAIL);
}

TEST_F(SimStandInTest, ScheduledFaultsComeAtTheirTimeOnTheLoopClock)
{
    gf_useManualLoopClockForTests();
    ASSERT_EQ(SimConnect_SubscribeToSystemEvent(m_h, 5, "SimStop"), S_OK);
    const LoopTime start = gf_loopNow();
    sim().setNewFlightAt(start + std::chrono::seconds(2));
    sim().setQuitAt(start + std::chrono::seconds(3));
    const std::uint32_t firstUser = sim().userObjectId();
    // Each row: seconds on the loop clock, then what a frame at that time brought.
    const struct {
        int seconds;
        bool newUser;
        std::uint32_t message;  // the first message the frame brought (0: none)
    } rows[] = {{1, false, 0}, {2, true, SIMCONNECT_RECV_ID_EVENT}, {3, true, SIMCONNECT_RECV_ID_QUIT}};
    for (const auto& row : rows) {
        gf_advanceLoopClockForTests(start + std::chrono::seconds(row.seconds) - gf_loopNow());
        sim().advanceFrame();
        EXPECT_EQ(sim().userObjectId() != firstUser, row.newUser) << row.seconds;
        const SIMCONNECT_RECV* msg = next();
        EXPECT_EQ(msg == nullptr ? 0u : msg->dwID, row.message) << row.seconds;
        while (next() != nullptr) {
        }
    }
    SIMCONNECT_HANDLE other = nullptr;
    EXPECT_EQ(SimConnect_Open(&other, "after", nullptr, 0, nullptr, 0), E_FAIL);
    gf_useRealLoopClock();
}

TEST_F(SimStandInTest, RefusedCreatesComeAsExceptionsAtTheirShare)
{
    sim().setCreateDelayFrames(1);
    sim().setFailedCreatesPerThousand(1000);
    ASSERT_EQ(SimConnect_AICreateNonATCAircraft(m_h, "T", "CS1", {}, 900), S_OK);
    sim().advanceFrame();
    const auto* msg = next();
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->dwID, SIMCONNECT_RECV_ID_EXCEPTION);
    EXPECT_TRUE(sim().aiObjectIds().empty());
}

} // namespace
} // namespace qmt::test
