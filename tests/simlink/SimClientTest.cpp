#include "SimTestSupport.h"
#include "core/StopFlags.h"

#include "core/Parameters.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <limits>
#include <thread>

namespace qmt::test {
namespace {

std::vector<SimNotification> lf_takeNotes()
{
    std::lock_guard lock(g_simNotifyMutex);
    return std::exchange(g_simNotifications, {});
}

AiCreateRequest lf_request(std::uint32_t AIRCRAFT_ID, const std::string& CALLSIGN, std::string_view TITLE)
{
    AiCreateRequest r;
    r.initPos.Latitude = 52.3086;
    r.initPos.Longitude = 4.7639;
    r.initPos.OnGround = 1;
    r.callsign = CALLSIGN;
    r.liveryTitle = TITLE;
    r.aircraftId = AIRCRAFT_ID;
    return r;
}

class SimClientTest : public SimLinkTest {
protected:
    void SetUp() override
    {
        SimLinkTest::SetUp();
        sim().setUserObjectId(5);
        ASSERT_TRUE(m_client.connect());
        // The first second brings the user aircraft and its object id.
        frames(30);
        lf_takeNotes();
        gf_takeUserAcSnapshot();
        g_userAc = UserAcData{};
        sim().clearCalls();
    }
    void TearDown() override
    {
        m_client.close();
        SimLinkTest::TearDown();
    }
    static SimStandIn& sim() { return gf_simStandIn(); }
    void frames(int N)
    {
        for (int i = 0; i < N; ++i) {
            sim().advanceFrame();
            m_client.dispatch();
        }
    }
    SimClient m_client;
};

TEST_F(SimClientTest, CreateIsSentOnTheNextFrameAndReportedWithItsObjectIdAndGroundData)
{
    sim().setGroundElevation(-11.0);
    sim().setStaticCg("KLM B738", 7.5, 0.01);
    gf_queueAiCreate(lf_request(0x4840D6, "KLM1234", "KLM B738"));
    frames(1);
    const auto calls = sim().calls();
    ASSERT_EQ(sim().countCalls("SimConnect_AICreateNonATCAircraft"), 1u);
    const auto create = std::find_if(calls.begin(), calls.end(), [](const SimCall& c) {
        return c.function == "SimConnect_AICreateNonATCAircraft";
    });
    EXPECT_EQ(create->text, "KLM B738");
    EXPECT_EQ(create->text2, "KLM1234");
    EXPECT_EQ(m_client.pendingCreateCount(), 1u);
    EXPECT_TRUE(lf_takeNotes().empty());

    frames(4);
    const auto notes = lf_takeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].kind, kNoteLiveCreated);
    EXPECT_EQ(notes[0].aircraftId, 0x4840D6u);
    EXPECT_GT(notes[0].objectId, 5u);
    EXPECT_EQ(sim().objectTitle(notes[0].objectId), "KLM B738");
    // Filled like the ground data: ground altitude, then height above ground.
    EXPECT_DOUBLE_EQ(notes[0].value1, -11.0);
    EXPECT_DOUBLE_EQ(notes[0].value2, 7.5);
    EXPECT_EQ(m_client.pendingCreateCount(), 0u);
    EXPECT_EQ(sim().countCalls("SimConnect_AICreateNonATCAircraft"), 1u);
}

TEST_F(SimClientTest, TwoCreatesWithTheSameCallsignEachGetTheirOwnObject)
{
    gf_queueAiCreate(lf_request(0x400001, "EZY12", "Title One"));
    gf_queueAiCreate(lf_request(0x400002, "EZY12", "Title Two"));
    gf_queueAiCreate(lf_request(17, "EZY12", "Title Static"));
    frames(5);
    const auto notes = lf_takeNotes();
    ASSERT_EQ(notes.size(), 3u);
    std::map<std::uint32_t, SimNotification> byAircraft;
    for (const auto& n : notes) {
        byAircraft[n.aircraftId] = n;
    }
    EXPECT_EQ(sim().objectTitle(byAircraft[0x400001].objectId), "Title One");
    EXPECT_EQ(sim().objectTitle(byAircraft[0x400002].objectId), "Title Two");
    EXPECT_EQ(sim().objectTitle(byAircraft[17].objectId), "Title Static");
    EXPECT_EQ(byAircraft[0x400001].kind, kNoteLiveCreated);
    EXPECT_EQ(byAircraft[17].kind, kNoteStaticCreated);
    EXPECT_NE(byAircraft[0x400001].objectId, byAircraft[0x400002].objectId);
}

TEST_F(SimClientTest, FailingTitleGivesKindSixAndLeavesNothingPending)
{
    sim().failTitle("Broken Livery");
    gf_queueAiCreate(lf_request(0x400003, "DAL44", "Broken Livery"));
    gf_queueAiCreate(lf_request(0x400004, "DAL45", "Good Livery"));
    frames(5);
    const auto notes = lf_takeNotes();
    ASSERT_EQ(notes.size(), 2u);
    const auto failed = std::find_if(notes.begin(), notes.end(), [](auto& n) { return n.kind == kNoteCreateFailed; });
    ASSERT_NE(failed, notes.end());
    EXPECT_EQ(failed->aircraftId, 0x400003u);
    EXPECT_EQ(failed->objectId, 0u);
    EXPECT_EQ(m_client.pendingCreateCount(), 0u);
}

TEST_F(SimClientTest, RemovalIsSentAndReported)
{
    gf_queueAiCreate(lf_request(0x400005, "BAW8", "Speedbird"));
    frames(5);
    const auto created = lf_takeNotes();
    ASSERT_EQ(created.size(), 1u);
    const std::uint32_t objectId = created[0].objectId;

    gf_queueRemove(objectId);
    gf_queueRemove(3); // the user aircraft's id or below: never removed
    frames(1);
    EXPECT_EQ(sim().countCalls("SimConnect_AIRemoveObject"), 1u);
    frames(1);
    const auto notes = lf_takeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].kind, kNoteObjectRemoved);
    EXPECT_EQ(notes[0].objectId, objectId);
    EXPECT_FALSE(sim().objectExists(objectId));
}

TEST_F(SimClientTest, BusyQueueMutexSkipsTheFrameWithoutBlocking)
{
    gf_queueAiCreate(lf_request(0x400006, "AFR1", "Air Title"));
    std::promise<void> locked;
    std::promise<void> release;
    std::thread holder([&] {
        std::lock_guard lock(g_simQueueMutex);
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    EXPECT_FALSE(m_client.perFrame());
    EXPECT_EQ(m_client.skippedFrames(), 1u);
    EXPECT_EQ(sim().countCalls("SimConnect_AICreateNonATCAircraft"), 0u);
    release.set_value();
    holder.join();

    EXPECT_TRUE(m_client.perFrame());
    EXPECT_EQ(sim().countCalls("SimConnect_AICreateNonATCAircraft"), 1u);
}

TEST_F(SimClientTest, PositionsAndClientEventsReachOnlyObjectsAboveTheUser)
{
    gf_queueAiCreate(lf_request(0x400007, "DLH3", "Lufthansa"));
    frames(5);
    const std::uint32_t objectId = lf_takeNotes().at(0).objectId;
    sim().clearCalls();

    g_positionWriteBuffer.push_back({52.31, 4.77, -0.02, 0.1, 1.5, 1200.0, -10.0, 140.0, objectId});
    g_positionWriteBuffer.push_back({1.0, 1.0, 0, 0, 0, 0, 0, 0, 5}); // the user aircraft
    EXPECT_TRUE(gf_swapPositionBuffers());
    EXPECT_TRUE(g_positionWriteBuffer.empty());
    gf_queueLights(objectId, 1, 1, 0, 1, 0, 1, 0);
    gf_queueEngineStart(objectId);
    gf_queueCabinLights(2, 1);
    frames(1);

    EXPECT_EQ(sim().countCalls("SimConnect_SetDataOnSimObject"), 1u);
    EXPECT_DOUBLE_EQ(*sim().objectValue(objectId, "PLANE ALTITUDE"), 1200.0);
    EXPECT_DOUBLE_EQ(*sim().objectValue(objectId, "AIRSPEED TRUE"), 140.0);
    EXPECT_EQ(sim().countCalls("SimConnect_TransmitClientEvent"), 8u);
    EXPECT_EQ(sim().eventValue(objectId, "NAV_LIGHTS_SET"), 1u);
    EXPECT_EQ(sim().eventValue(objectId, "LANDING_LIGHTS_SET"), 0u);
    EXPECT_EQ(sim().eventValue(objectId, "LOGO_LIGHTS_SET"), 1u);
    EXPECT_EQ(sim().eventValue(objectId, "ENGINE_AUTO_START"), 0u);
    EXPECT_FALSE(sim().eventValue(5, "CABIN_LIGHTS_SET").has_value());

    // The read buffer is sent once; a frame without a new swap sends nothing.
    frames(1);
    EXPECT_EQ(sim().countCalls("SimConnect_SetDataOnSimObject"), 1u);
}

TEST_F(SimClientTest, OneFrameSendsEventsPositionsRemovalsThenCreates)
{
    gf_queueAiCreate(lf_request(0x400008, "SAS4", "Scandinavian"));
    gf_queueAiCreate(lf_request(0x400009, "IBE5", "Iberia"));
    frames(5);
    const auto created = lf_takeNotes();
    ASSERT_EQ(created.size(), 2u);
    const std::uint32_t kept = created[0].objectId;
    const std::uint32_t gone = created[1].objectId;
    sim().clearCalls();

    // Queued in the reverse of the order they go out in.
    gf_queueAiCreate(lf_request(0x40000A, "TAP6", "Air Portugal"));
    gf_queueRemove(gone);
    g_positionWriteBuffer.push_back({52.31, 4.77, 0, 0, 0, 300.0, 0, 120.0, gone});
    g_positionWriteBuffer.push_back({52.32, 4.78, 0, 0, 0, 400.0, 0, 130.0, kept});
    ASSERT_TRUE(gf_swapPositionBuffers());
    gf_queueEngineStart(kept);
    EXPECT_TRUE(m_client.perFrame());

    std::vector<std::pair<std::string, std::uint32_t>> sent;
    for (const SimCall& c : sim().calls()) {
        sent.emplace_back(c.function, c.function == "SimConnect_AICreateNonATCAircraft" ? 0u : c.objectId);
    }
    const std::vector<std::pair<std::string, std::uint32_t>> expected = {
        {"SimConnect_TransmitClientEvent", kept},
        {"SimConnect_SetDataOnSimObject", gone},
        {"SimConnect_SetDataOnSimObject", kept},
        {"SimConnect_AIRemoveObject", gone},
        {"SimConnect_AICreateNonATCAircraft", 0u},
    };
    EXPECT_EQ(sent, expected);
}

TEST_F(SimClientTest, RequestsQueuedWhileAFrameIsSentGoOutOnceAndInOrder)
{
    gf_queueAiCreate(lf_request(0x40000B, "AUA7", "Austrian"));
    frames(5);
    const std::uint32_t objectId = lf_takeNotes().at(0).objectId;
    sim().clearCalls();

    // The worker's side: client events and positions, queued as fast as it can while this
    // thread sends frame after frame.
    constexpr std::uint32_t kEvents = 3000;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (std::uint32_t i = 0; i < kEvents; ++i) {
            gf_queueClientEvent(objectId, THROTTLE_SET, i);
            gf_queuePosition({52.3, 4.7, 0, 0, 0, 100.0 + i, 0, 0, objectId});
            gf_swapPositionBuffers();
        }
        done.store(true);
    });
    while (!done.load()) {
        m_client.perFrame();
    }
    worker.join();
    EXPECT_TRUE(m_client.perFrame());

    std::vector<std::uint32_t> values;
    double lastAltitude = 0.0;
    for (const SimCall& c : sim().calls()) {
        if (c.function == "SimConnect_TransmitClientEvent") {
            values.push_back(c.value);
        } else if (c.function == "SimConnect_SetDataOnSimObject" && c.data.size() == 8) {
            // Positions may be dropped for newer ones, never sent out of order.
            EXPECT_GT(c.data[5], lastAltitude);
            lastAltitude = c.data[5];
        }
    }
    ASSERT_EQ(values.size(), kEvents);
    for (std::uint32_t i = 0; i < kEvents; ++i) {
        ASSERT_EQ(values[i], i);
    }
}

TEST_F(SimClientTest, EveryTwentiethRangeCallReportsAiAircraftWithGroundData)
{
    RANGE.set(10);
    sim().setUserAircraft({0, 52.3086, 4.7639, -11.0, 90.0, 0.0, true}, 117.5, "KLM1605");
    const std::uint32_t nearGround = sim().addForeignAircraft(52.31, 4.77, 0.0, true);
    const std::uint32_t nearAir = sim().addForeignAircraft(52.35, 4.80, 3000.0, false);
    sim().addForeignAircraft(53.5, 6.0, 3000.0, false); // far outside 10 nm
    for (int i = 0; i < 19; ++i) {
        gf_requestAcWithinRange();
    }
    frames(1);
    EXPECT_EQ(sim().countCalls("SimConnect_RequestDataOnSimObjectType"), 0u);
    gf_requestAcWithinRange();
    frames(1);
    EXPECT_EQ(sim().countCalls("SimConnect_RequestDataOnSimObjectType"), 1u);
    frames(1);
    const auto notes = lf_takeNotes();
    ASSERT_EQ(notes.size(), 2u);
    std::map<std::uint32_t, SimNotification> byObject;
    for (const auto& n : notes) {
        EXPECT_EQ(n.kind, kNoteGroundData);
        byObject[n.objectId] = n;
    }
    EXPECT_EQ(byObject.at(nearGround).aircraftId, 1u);
    EXPECT_EQ(byObject.at(nearAir).aircraftId, 0u);
    EXPECT_DOUBLE_EQ(byObject.at(nearAir).value2, 3000.0);
}

TEST_F(SimClientTest, UserDataReachTheWorkerOnlyThroughTheSnapshot)
{
    sim().setUserAircraft({0, 52.3086, 4.7639, -3.0, 180.0, 12.0, true}, 117.5, "KLM1605");
    EXPECT_FALSE(gf_takeUserAcSnapshot());
    frames(29);
    EXPECT_FALSE(g_userParkNoteRequested.load());
    frames(1);
    // Not seen by the worker before its snapshot.
    EXPECT_DOUBLE_EQ(g_userAc.latitude, 0.0);
    EXPECT_TRUE(g_userParkNoteRequested.load());
    EXPECT_TRUE(gf_takeUserAcSnapshot());
    EXPECT_FALSE(g_userParkNoteRequested.load());
    EXPECT_TRUE(g_userAc.dataArrived);
    EXPECT_TRUE(g_userAc.hasPosition());
    EXPECT_NEAR(g_userAc.latitude, 52.3086, 1e-9);
    EXPECT_NEAR(g_userAc.heading, 3.14159265, 1e-6);
    EXPECT_DOUBLE_EQ(g_userAc.groundVelocity, 12.0);
    EXPECT_TRUE(g_userOnGround);
    EXPECT_EQ(g_userCallsign, "KLM1605");
    EXPECT_NEAR(g_userHalfSpan, 117.5 / 2 * 0.3048 / 1852.0, 1e-9);
    EXPECT_EQ(g_userObjectId.load(), 5u);
    EXPECT_TRUE(g_realignDeadline.load());
    // Once a second only.
    EXPECT_FALSE(gf_takeUserAcSnapshot());
}

// The simulator's answers are outside input: a value that is not finite or that no aircraft can
// have is refused where it enters; the user aircraft keeps its last good value, each kind of
// refusal is logged once, and a ground-data or static-CG answer with such a value is dropped.
TEST_F(SimClientTest, AnswersThatNoAircraftCanHaveAreRefused)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    sim().setUserAircraft({0, 52.3086, 4.7639, 100.0, 90.0, 12.0, false}, 117.5, "KLM1605");
    frames(30);
    gf_takeUserAcSnapshot();
    const UserScriptPoint bad[] = {{0, nan, 4.0, nan, 1e300, nan, false}, {0, 1e308, 4.0, 1e300, 1e300, 1e9, false}};
    for (const UserScriptPoint& p : bad) {
        sim().setUserAircraft(p, 1e10, "KLM1605");
        frames(30);
        gf_takeUserAcSnapshot();
        EXPECT_NEAR(g_userAc.latitude, 52.3086, 1e-9);
        EXPECT_NEAR(g_userAc.longitude, 4.7639, 1e-9);
        EXPECT_DOUBLE_EQ(g_userAc.altitude, 100.0);
        EXPECT_NEAR(g_userAc.heading, 1.5707963, 1e-6);
        EXPECT_DOUBLE_EQ(g_userAc.groundVelocity, 12.0);
        EXPECT_NEAR(g_userHalfSpan, 117.5 / 2 * 0.3048 / 1852.0, 1e-9);  // not a half span of 822,894 nm
    }
    const std::string log = logText();
    for (const char* field : {"PLANE LATITUDE", "PLANE ALTITUDE", "PLANE HEADING DEGREES TRUE", "WINGSPAN"}) {
        const std::string line = std::string("==> simulator answer refused: user aircraft ") + field + " ";
        EXPECT_EQ(log.find(line), log.rfind(line)) << field << ": logged once";
        EXPECT_NE(log.find(line), std::string::npos) << field;
    }

    sim().setGroundElevation(nan);
    sim().setStaticCg("KLM B738", nan, 0.01);
    gf_queueAiCreate(lf_request(0x4840D6, "KLM1234", "KLM B738"));
    frames(5);
    const auto created = lf_takeNotes();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].value1, 0.0);  // created, without ground data
    EXPECT_EQ(created[0].value2, 0.0);
    {
        std::lock_guard lock(g_simQueueMutex);
        SimConnect_RequestDataOnSimObject(g_hSimConnect.load(), kRequestStaticCg, kDefStaticCg, created[0].objectId,
                                          SIMCONNECT_PERIOD_ONCE);
    }
    for (int i = 0; i < 20; ++i) {
        gf_requestAcWithinRange();
    }
    frames(3);
    EXPECT_TRUE(lf_takeNotes().empty());
    EXPECT_NE(logText().find("==> simulator answer refused: ground altitude nan ft"), std::string::npos);
    EXPECT_NE(logText().find("==> simulator answer refused: static CG nan ft"), std::string::npos);
}

TEST_F(SimClientTest, NoPositionNearZeroZero)
{
    UserAcData ac;
    ac.latitude = 0.00005;
    ac.longitude = -0.00009;
    EXPECT_FALSE(ac.hasPosition());
    ac.longitude = 0.0002;
    EXPECT_TRUE(ac.hasPosition());
}

TEST_F(SimClientTest, StaticCgAnswerBecomesKindFour)
{
    gf_queueAiCreate(lf_request(9, "STATIC9", "Static Title"));
    sim().setStaticCg("Static Title", 12.0, 0.03);
    frames(5);
    const std::uint32_t objectId = lf_takeNotes().at(0).objectId;
    {
        // As the engine does it: on the worker, under the queue mutex.
        std::lock_guard lock(g_simQueueMutex);
        ASSERT_EQ(SimConnect_RequestDataOnSimObject(g_hSimConnect.load(), kRequestStaticCg, kDefStaticCg, objectId,
                                                    SIMCONNECT_PERIOD_ONCE),
                  S_OK);
    }
    m_client.dispatch();
    const auto notes = lf_takeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].kind, kNoteStaticCg);
    EXPECT_EQ(notes[0].objectId, objectId);
    EXPECT_DOUBLE_EQ(notes[0].value1, 12.0);
    EXPECT_DOUBLE_EQ(notes[0].value2, 0.03);
}

TEST_F(SimClientTest, QuitEndsTheClientWithUserClosedSim)
{
    sim().quit();
    m_client.dispatch();
    EXPECT_TRUE(m_client.quit());
    EXPECT_EQ(gf_exitReason(), ExitReason::userClosedSim);
    EXPECT_TRUE(g_exitRequested.load());
}

// Creates answered after 1..300 frames come back out of order, some never: each object still
// reaches its own aircraft, and the unanswered ones end as failed creates instead of waiting on.
TEST_F(SimClientTest, OutOfOrderAndLostCreatesAreMatchedOrGivenUp)
{
    sim().setSeed(7);
    sim().setCreateDelayFrames(1, 300);
    sim().setLostCreatesPerThousand(200);
    std::vector<std::string> titles;
    for (std::uint32_t i = 0; i < 40; ++i) {
        titles.push_back("Title " + std::to_string(i));
    }
    for (std::uint32_t i = 0; i < 40; ++i) {
        gf_queueAiCreate(lf_request(0x400100 + i, "CS" + std::to_string(i), titles[i]));
    }
    std::vector<SimNotification> notes;
    for (std::uint64_t f = 0; f < kSimAnswerTimeoutFrames + 2; ++f) {
        frames(1);
        for (const SimNotification& n : lf_takeNotes()) {
            notes.push_back(n);
        }
    }
    ASSERT_EQ(notes.size(), 40u);
    EXPECT_EQ(m_client.pendingCreateCount(), 0u);
    std::size_t failed = 0;
    bool outOfOrder = false;
    std::uint32_t lastAircraft = 0;
    for (const SimNotification& n : notes) {
        if (n.kind == kNoteCreateFailed) {
            ++failed;
            continue;
        }
        ASSERT_EQ(n.kind, kNoteLiveCreated);
        EXPECT_EQ(sim().objectTitle(n.objectId), titles[n.aircraftId - 0x400100]);
        outOfOrder = outOfOrder || n.aircraftId < lastAircraft;
        lastAircraft = n.aircraftId;
    }
    EXPECT_GT(failed, 0u);
    EXPECT_LT(failed, 20u);
    EXPECT_TRUE(outOfOrder);
    EXPECT_NE(logText().find("no answer of the simulator to its create, given up"), std::string::npos);
}

// An exception names the packet of the failed call: a refused StaticCG request of the worker is
// traced back to it although its request id is shared by every StaticCG request.
TEST_F(SimClientTest, ExceptionOfADirectRequestIsTracedByItsSendId)
{
    {
        std::lock_guard lock(g_simQueueMutex);
        ASSERT_EQ(SimConnect_RequestDataOnSimObject(g_hSimConnect.load(), kRequestStaticCg, kDefStaticCg, 4242,
                                                    SIMCONNECT_PERIOD_ONCE),
                  S_OK);
        gf_noteDirectRequest(kRequestStaticCg, 4242);
    }
    m_client.dispatch();
    EXPECT_TRUE(g_simConnectError.load());
    EXPECT_EQ(gf_exitReason(), ExitReason::simConnectError);
    EXPECT_NE(logText().find("==> SimConnect request StaticCG fails"), std::string::npos);
    std::lock_guard lock(g_simQueueMutex);
    EXPECT_TRUE(g_directRequests.empty());
}

TEST_F(SimClientTest, ANewUserObjectMeansANewFlight)
{
    sim().newFlight();
    frames(30);
    EXPECT_EQ(gf_exitReason(), ExitReason::newFlight);
    EXPECT_TRUE(g_exitRequested.load());
    EXPECT_NE(g_userObjectId.load(), 5u);
}

// A simulator that is already in a flight when the program connects sends no start event.
TEST_F(SimLinkTest, ConnectingInMidFlightAsksForTheSimState)
{
    SimClient client;
    ASSERT_TRUE(client.connect());
    client.dispatch();
    EXPECT_TRUE(g_simFlightRunning.load());
    gf_simStandIn().setFlightRunning(false);
    client.dispatch();
    EXPECT_FALSE(g_simFlightRunning.load());
    gf_simStandIn().setFlightRunning(true);
    client.dispatch();
    EXPECT_TRUE(g_simFlightRunning.load());
    client.close();
}

// The worker may use the handle until its main loop has ended: a simulator that quits does not
// close it under the worker's feet; closing down does, after the loop.
TEST_F(SimLinkTest, TheHandleStaysOpenAfterQuitUntilTheClientIsStopped)
{
    gf_simStandIn().setFreeRunning(true);
    gf_startSimClient();
    for (int i = 0; i < 5000 && g_simLinkState.load() != SimLinkState::connected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(g_simLinkState.load(), SimLinkState::connected);
    gf_simStandIn().quit();
    for (int i = 0; i < 5000 && !g_exitRequested.load(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(gf_exitReason(), ExitReason::userClosedSim);
    const SIMCONNECT_HANDLE handle = g_hSimConnect.load();
    ASSERT_NE(handle, nullptr);
    {
        std::lock_guard lock(g_simQueueMutex);
        double data[3] = {100.0, 100.0, 100.0};
        SimConnect_SetDataOnSimObject(g_hSimConnect.load(), kDefEngineData, 7, 0, 0, sizeof data, data);
    }
    EXPECT_EQ(gf_simStandIn().callsOnClosedHandles(), 0u);
    gf_stopSimClient();
    EXPECT_EQ(g_hSimConnect.load(), nullptr);
    EXPECT_EQ(gf_simStandIn().openConnections(), 0u);
}

TEST_F(SimLinkTest, ConnectFailsWhenTheSimulatorIsNotRunning)
{
    gf_simStandIn().setRunning(false);
    SimClient client;
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(g_hSimConnect.load(), nullptr);
    EXPECT_NE(logText().find("SimConnect_Open FAILED hr=0x80004005"), std::string::npos);
}

TEST_F(SimLinkTest, RequestErrorSetsDiscardFlagAndFirstReasonWins)
{
    gf_simConnectRequestError();
    EXPECT_TRUE(g_simConnectError.load());
    EXPECT_TRUE(g_exitRequested.load());
    EXPECT_EQ(gf_exitReason(), ExitReason::simConnectError);
    EXPECT_EQ(gf_restartDelaySeconds(), 9);
    EXPECT_NE(logText().find("SimConnect request error\n"), std::string::npos);

    lf_resetWorkerState();
    gf_requestExit(ExitReason::readerError);
    gf_simConnectRequestError();
    EXPECT_EQ(gf_exitReason(), ExitReason::readerError);
}

TEST_F(SimLinkTest, SwapWhileTheSimulatorFlushesDropsTheTicksPositions)
{
    g_positionWriteBuffer.push_back({});
    std::promise<void> locked;
    std::promise<void> release;
    std::thread holder([&] {
        std::lock_guard lock(g_simQueueMutex);
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    EXPECT_FALSE(gf_swapPositionBuffers());
    EXPECT_TRUE(g_positionWriteBuffer.empty());
    release.set_value();
    holder.join();
    EXPECT_TRUE(g_positionReadBuffer.empty());
}

// The thread runs the same code; the simulated simulator runs free on the steady clock.
TEST_F(SimLinkTest, ThreadConnectsCreatesAndStops)
{
    gf_simStandIn().setFramesPerSecond(200);
    gf_simStandIn().setFreeRunning(true);
    gf_startSimClient();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (g_simLinkState.load() == SimLinkState::connecting && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    ASSERT_EQ(g_simLinkState.load(), SimLinkState::connected);
    gf_queueAiCreate(lf_request(0x400010, "TRA5", "Transavia"));
    std::vector<SimNotification> notes;
    while (notes.empty() && std::chrono::steady_clock::now() < deadline) {
        for (int i = 0; i < 50; ++i) {
            gf_requestAcWithinRange();
            g_positionWriteBuffer.push_back({52.0, 4.0, 0, 0, 0, 100.0, 0, 0, 7});
            gf_swapPositionBuffers();
            gf_takeUserAcSnapshot();
        }
        std::lock_guard lock(g_simNotifyMutex);
        for (const auto& n : g_simNotifications) {
            if (n.kind == kNoteLiveCreated) {
                notes.push_back(n);
            }
        }
        g_simNotifications.clear();
    }
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].aircraftId, 0x400010u);
    gf_stopSimClient();
    EXPECT_EQ(g_simLinkState.load(), SimLinkState::closed);
    EXPECT_EQ(g_hSimConnect.load(), nullptr);
    EXPECT_EQ(gf_simStandIn().openConnections(), 0u);
}

TEST_F(SimLinkTest, ThreadReportsFailureWhenTheSimulatorIsNotRunning)
{
    gf_simStandIn().setRunning(false);
    gf_startSimClient();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (g_simLinkState.load() == SimLinkState::connecting && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_EQ(g_simLinkState.load(), SimLinkState::failed);
    gf_stopSimClient();
}

} // namespace
} // namespace qmt::test
