#include "EngineFixture.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>

#include "core/Parameters.h"
#include "core/UserError.h"
#include "engine/Commands.h"
#include "engine/Intake.h"
#include "engine/SimRequests.h"
#include "engine/Tick.h"
#include "liveries/Matching.h"
#include "platform/sim_Control.h"

namespace qmt::test {
namespace {

// The engine against the simulated simulator: one tick, then one simulator frame.
class TickTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        gf_simStandIn().reset();
        gf_simStandIn().setRunning(true);
        // The simulator's own objects have small ids; AI objects of ours come after them.
        gf_simStandIn().setUserObjectId(100);
        ASSERT_TRUE(m_client.connect());
        m_client.dispatch();
        gf_simStandIn().clearCalls();
    }

    void TearDown() override
    {
        m_client.close();
        gf_simStandIn().reset();
        EngineTest::TearDown();
    }

    void tick()
    {
        lf_handleAddingStack();
        gf_simStandIn().advanceFrame();
        m_client.dispatch();
    }

    static std::size_t calls(const std::string& FUNCTION, uint32_t ID = 0)
    {
        std::size_t n = 0;
        for (const SimCall& c : gf_simStandIn().calls()) {
            if (c.function == FUNCTION && (ID == 0 || c.id == ID)) {
                ++n;
            }
        }
        return n;
    }

    // A live aircraft made from a record and put on the adding stack, as the spawn does.
    LiveAc& spawned(uint32_t HEX, const std::string& CALLSIGN, const std::string& TITLE, bool AIRBORNE = true)
    {
        LiveTrafficRecord r = record(HEX, CALLSIGN, "B738", 1000.0, AIRBORNE ? 5000.0 : 0.0,
                                     AIRBORNE ? 250.0 : 0.0, AIRBORNE);
        lf_mergeLiveRecord(r);
        LiveAc* ac = gf_findLiveAc(HEX);
        EXPECT_NE(ac, nullptr);
        m_titles.push_back(TITLE);
        ac->liveryTitle = m_titles.back();
        ac->block[kBlockLat] = 52.3;
        ac->block[kBlockLon] = 4.76;
        ac->block[kBlockAlt] = AIRBORNE ? 5000.0 : 0.0;
        ac->flightState = AIRBORNE ? FlightState::flying : FlightState::parked;
        ac->state = AcState::adding2sim;
        g_addingStack.push_back(HEX);
        return *ac;
    }

    // Ticks until the predicate holds; the number of ticks taken, or -1 after LIMIT ticks.
    template <typename Pred>
    int tickUntil(Pred PRED, int LIMIT = 1000)
    {
        for (int n = 1; n <= LIMIT; ++n) {
            tick();
            if (PRED()) {
                return n;
            }
        }
        return -1;
    }

    SimClient m_client;
    std::list<std::string> m_titles;
};

TEST_F(TickTest, ChainFromBatchToRemoval)
{
    g_isMsfs2020 = true;
    g_tickCounter = 7;
    LiveTrafficRecord r = record(0x484C53, "KLM1234", "B738", 1000.0);
    r.origin = "AMS";
    r.destination = "LHR";
    std::vector<LiveTrafficRecord> batch = {r};
    gf_intakeTrafficBatch(batch, 30);
    tick();
    ASSERT_EQ(g_liveAcs.size(), 1u);
    LiveAc& first = g_liveAcs[0];
    EXPECT_EQ(first.stream.front().playTick, 7 + 3000);

    // The spawn puts the aircraft on the adding stack.
    first.liveryTitle = "Boeing 737-800 KLM";
    first.block[kBlockLat] = 52.3;
    first.block[kBlockLon] = 4.76;
    first.block[kBlockAlt] = 5000.0;
    first.state = AcState::adding2sim;
    g_addingStack.push_back(first.id);

    // The create reaches the simulator at the next 50-tick mark (tick 50).
    const int toCreate = tickUntil([] { return calls("SimConnect_AICreateNonATCAircraft") == 1; });
    ASSERT_GT(toCreate, 0);
    EXPECT_EQ(g_tickCounter.load(), 51);
    EXPECT_TRUE(g_liveAddingDeque.empty());

    // The object id comes back: the aircraft is driven from then on, its configuration follows.
    ASSERT_GT(tickUntil([] { return g_liveAcs[0].objectId != 0; }), 0);
    const int32_t created = g_tickCounter.load() - 1;
    const uint32_t objectId = g_liveAcs[0].objectId;
    EXPECT_EQ(g_liveAcs[0].state, AcState::active);
    EXPECT_EQ(calls("SimConnect_RequestDataOnSimObject", kRequestStaticCg), 1u);
    EXPECT_EQ(calls("SimConnect_AISetAircraftFlightPlan"), 1u);
    const auto pln = gf_flightPlanFileName(objectId);
    EXPECT_TRUE(std::filesystem::exists(pln));
    EXPECT_EQ(g_liveAcs[0].hasFlightPlan, 1);

    // Two light toggles, then the configuration 200 ticks after the creation was taken in.
    std::vector<int32_t> toggles;
    while (!g_activationList.empty() && g_tickCounter.load() < created + 400) {
        const auto before = calls("SimConnect_TransmitClientEvent", ALL_LIGHTS_TOGGLE);
        tick();
        if (calls("SimConnect_TransmitClientEvent", ALL_LIGHTS_TOGGLE) != before) {
            toggles.push_back(g_tickCounter.load() - 1 - created);
        }
    }
    EXPECT_EQ(toggles, (std::vector<int32_t>{49, 99}));
    EXPECT_EQ(g_tickCounter.load() - 1 - created, 200);
    EXPECT_EQ(gf_simStandIn().eventValue(objectId, "STROBES_SET"), std::optional<uint32_t>(1));

    // Active: one position per tick.
    gf_simStandIn().clearCalls();
    for (int n = 0; n < 10; ++n) {
        tick();
    }
    EXPECT_EQ(calls("SimConnect_SetDataOnSimObject", kDefPosition), 10u);

    // Removal: the record and its flight plan file go once the simulator has removed it.
    removeAircraftFromSim(g_liveAcs[0], "test");
    ASSERT_GT(tickUntil([] { return g_liveAcs.empty(); }, 100), 0);
    EXPECT_EQ(calls("SimConnect_AIRemoveObject"), 1u);
    EXPECT_FALSE(gf_simStandIn().objectExists(objectId));
    EXPECT_FALSE(std::filesystem::exists(pln));
}

TEST_F(TickTest, AddingStackIsLastInFirstOut)
{
    spawned(0x100001, "KLM1", "Title A");
    spawned(0x100002, "KLM2", "Title B");
    tick();
    tick();
    ASSERT_EQ(g_liveAddingDeque.size(), 2u);
    EXPECT_EQ(g_liveAddingDeque[0].aircraftId, 0x100002u);
    EXPECT_EQ(g_liveAddingDeque[1].aircraftId, 0x100001u);
    EXPECT_EQ(g_liveAddingDeque[0].callsign, "KLM2");
    EXPECT_EQ(g_liveAddingDeque[0].liveryTitle, "Title B");
    EXPECT_DOUBLE_EQ(g_liveAddingDeque[0].initPos.Altitude, 5000.0);
}

TEST_F(TickTest, RemovalAskedBeforeActivationRemovesTheObject)
{
    LiveAc& ac = spawned(0x100001, "KLM1", "Title A");
    (void)ac;
    ASSERT_GT(tickUntil([] { return calls("SimConnect_AICreateNonATCAircraft") == 1; }), 0);
    // The request is with the simulator now: the removal has to wait for the object.
    removeAircraftFromSim(g_liveAcs[0], "test");
    EXPECT_EQ(g_liveAcs[0].removeWhenCreated, 1);
    ASSERT_GT(tickUntil([] { return g_liveAcs.empty(); }, 600), 0);
    EXPECT_EQ(calls("SimConnect_AIRemoveObject"), 1u);
    EXPECT_TRUE(gf_simStandIn().aiObjectIds().empty());
}

TEST_F(TickTest, WithdrawnRequestNeverSent)
{
    spawned(0x100001, "KLM1", "Title A");
    tick();
    ASSERT_EQ(g_liveAddingDeque.size(), 1u);
    removeAircraftFromSim(g_liveAcs[0], "test");
    tick();
    EXPECT_TRUE(g_liveAcs.empty());
    for (int n = 0; n < 60; ++n) {
        tick();
    }
    EXPECT_EQ(calls("SimConnect_AICreateNonATCAircraft"), 0u);
}

TEST_F(TickTest, StaleEntriesAreDropped)
{
    // A stack entry for an aircraft that is no longer waiting for creation.
    LiveAc& a = spawned(0x100001, "KLM1", "Title A");
    a.state = AcState::liveryrespawn;
    // A stack entry without a callsign would leave its record waiting forever.
    LiveAc& b = spawned(0x100002, "", "Title B");
    (void)b;
    tick();
    tick();
    EXPECT_TRUE(g_liveAddingDeque.empty());
    EXPECT_EQ(gf_findLiveAc(0x100002), nullptr);
    EXPECT_NE(gf_findLiveAc(0x100001), nullptr);

    // A creation report for an id no record waits for: the object is taken out again.
    const uint32_t orphan = gf_simStandIn().addForeignAircraft(52.3, 4.7, 0.0, true);
    gf_addSimNotification(SimNotification{orphan, 0x7777777, 0, kNoteLiveCreated, 0.0, 0.0});
    // A creation report with an unusable object id: the record is given up.
    LiveAc& c = spawned(0x100003, "KLM3", "Title C");
    c.stream.front().airborne = 1;
    gf_addSimNotification(SimNotification{2, 0x100003, 0, kNoteLiveCreated, 0.0, 0.0});
    tick();
    tick();
    EXPECT_EQ(gf_findLiveAc(0x100003), nullptr);
    EXPECT_TRUE(g_activationList.empty());
    ASSERT_GT(tickUntil([orphan] { return !gf_simStandIn().objectExists(orphan); }, 20), 0);

    // A second creation report for an aircraft that already has its object.
    LiveAc& d = spawned(0x100004, "KLM4", "Title D");
    d.objectId = 0x50;
    const uint32_t extra = gf_simStandIn().addForeignAircraft(52.3, 4.7, 0.0, true);
    gf_addSimNotification(SimNotification{extra, 0x100004, 0, kNoteLiveCreated, 0.0, 0.0});
    tick();
    EXPECT_EQ(gf_findLiveAc(0x100004)->objectId, 0x50u);
    ASSERT_GT(tickUntil([extra] { return !gf_simStandIn().objectExists(extra); }, 20), 0);
}

TEST_F(TickTest, ActivationEntryOfAReplacedAircraftIsDropped)
{
    spawned(0x100001, "KLM1", "Title A");
    ASSERT_GT(tickUntil([] { return g_liveAcs[0].objectId != 0; }), 0);
    const uint32_t objectId = g_liveAcs[0].objectId;
    // The aircraft goes and comes back under the same hex id before the activation.
    g_liveAcs.clear();
    spawned(0x100001, "KLM1", "Title A");
    g_addingStack.clear();
    ASSERT_GT(tickUntil([] { return g_activationList.empty(); }, 300), 0);
    EXPECT_EQ(g_liveAcs[0].state, AcState::adding2sim);
    EXPECT_EQ(g_liveAcs[0].objectId, 0u);
    ASSERT_GT(tickUntil([objectId] { return !gf_simStandIn().objectExists(objectId); }, 20), 0);
}

TEST_F(TickTest, BusyQueueMutexSendsNoPositions)
{
    LiveAc& a = addLiveAc(0x100001, "KLM1");
    a.state = AcState::active;
    a.objectId = 0x44;
    // standing, with nothing due: the block is sent as it is set
    a.stream.front().repeat = 1;
    a.stream.front().playTick = 1 << 30;
    g_tickCounter = 1;
    lf_handleAddingStack();
    {
        std::lock_guard lock(g_simQueueMutex);
        ASSERT_EQ(g_positionReadBuffer.size(), 1u);
        g_positionReadBuffer.clear();
    }

    std::promise<void> locked;
    std::promise<void> release;
    std::thread holder([&] {
        std::lock_guard lock(g_simQueueMutex);
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    lf_handleAddingStack(); // tick 2: busy, positions dropped
    release.set_value();
    holder.join();
    {
        std::lock_guard lock(g_simQueueMutex);
        EXPECT_TRUE(g_positionReadBuffer.empty());
    }
    EXPECT_TRUE(g_positionWriteBuffer.empty());
    g_liveAcs[0].block[kBlockLat] = 52.5;
    lf_handleAddingStack(); // tick 3 sends the newer position
    std::lock_guard lock(g_simQueueMutex);
    ASSERT_EQ(g_positionReadBuffer.size(), 1u);
    EXPECT_EQ(g_positionReadBuffer[0].latitude, 52.5);
    EXPECT_EQ(g_positionReadBuffer[0].objectId, 0x44u);
}

// The tick never waits for the simulator thread's or the reader's mutex: while either holds it,
// what comes through it waits for the next tick.
TEST_F(TickTest, ABusyHandOverWaitsForTheNextTick)
{
    struct Case {
        const char* what;
        std::mutex& mutex;
        std::function<void()> give;
        std::function<bool()> arrived;
    };
    const std::vector<Case> cases = {
        {"a creation report", g_simNotifyMutex,
         [] {
             LiveAc& ac = addLiveAc(0x100001, "KLM1");
             ac.state = AcState::adding2sim;
             gf_addSimNotification(SimNotification{0x60, 0x100001, 0, kNoteLiveCreated, 0.0, 0.0});
         },
         [] { return gf_findLiveAc(0x100001)->state == AcState::active; }},
        {"a live batch", g_batchMutex,
         [] {
             std::vector<LiveTrafficRecord> batch = {record(0x100002, "KLM2", "B738", 1000.0)};
             gf_acceptLiveBatches(true);
             gf_intakeTrafficBatch(batch, kLiveDelay);
         },
         [] { return gf_findLiveAc(0x100002) != nullptr; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.give();
        std::promise<void> locked;
        std::promise<void> release;
        std::thread holder([&] {
            std::lock_guard lock(c.mutex);
            locked.set_value();
            release.get_future().wait();
        });
        locked.get_future().wait();
        lf_handleAddingStack();
        EXPECT_FALSE(c.arrived());
        release.set_value();
        holder.join();
        lf_handleAddingStack();
        EXPECT_TRUE(c.arrived());
    }
}

// An error while one aircraft is driven takes that aircraft out of the simulator; the others
// drive on.
TEST_F(TickTest, AnErrorWhileDrivingRemovesOnlyThatAircraft)
{
    openLog();
    for (const uint32_t hex : {0x100001u, 0x100002u}) {
        LiveAc& ac = addLiveAc(hex, hex == 0x100001u ? "KLM1" : "KLM2");
        ac.state = AcState::active;
        ac.objectId = hex == 0x100001u ? 0x44 : 0x45;
        ac.flightState = FlightState::flying;
        ac.heightAboveGround = 3000.0;
        ac.stream.front().playTick = 1 << 30;
    }
    // A category outside every per-category table fails the flare's bank step.
    LiveAc& broken = *gf_findLiveAc(0x100001);
    broken.category = 9;
    broken.flareStage = 1;
    lf_handleAddingStack();
    EXPECT_NE(logText().find("updateLiveAc: "), std::string::npos);
    EXPECT_NE(logText().find("KLM1 removed: error while driving"), std::string::npos);
    EXPECT_EQ(gf_findLiveAc(0x100001)->state, AcState::removingfromsim);
    EXPECT_EQ(gf_findLiveAc(0x100002)->state, AcState::active);
    std::lock_guard lock(g_simQueueMutex);
    EXPECT_EQ(g_removeQueue, std::vector<uint32_t>{0x44u});
    ASSERT_EQ(g_positionReadBuffer.size(), 1u);
    EXPECT_EQ(g_positionReadBuffer[0].objectId, 0x45u);
}

TEST_F(TickTest, PacingOrder)
{
    g_removalDeque = {0x61, 0x62};
    AiCreateRequest live;
    live.aircraftId = 0x100001;
    live.callsign = "LIVE";
    AiCreateRequest stat;
    stat.aircraftId = 5;
    stat.callsign = "STAT";
    g_liveAddingDeque.push_back(live);
    g_staticAddingDeque.push_back(stat);

    g_tickCounter = 49;
    gf_paceAddingStack();
    EXPECT_EQ(g_removalDeque.size(), 2u);
    g_tickCounter = 50;
    gf_paceAddingStack();
    EXPECT_EQ(g_removalDeque.size(), 1u);
    EXPECT_TRUE(g_liveAddingDeque.empty());
    EXPECT_EQ(g_staticAddingDeque.size(), 1u);
    g_tickCounter = 60;
    gf_paceAddingStack();
    EXPECT_TRUE(g_removalDeque.empty());
    EXPECT_EQ(g_staticAddingDeque.size(), 1u);
    g_tickCounter = 100;
    gf_paceAddingStack();
    EXPECT_TRUE(g_staticAddingDeque.empty());
    std::lock_guard lock(g_simQueueMutex);
    ASSERT_EQ(g_createQueue.size(), 2u);
    EXPECT_EQ(g_createQueue[0].callsign, "LIVE");
    EXPECT_EQ(g_createQueue[1].callsign, "STAT");
    EXPECT_EQ(g_removeQueue, (std::vector<uint32_t>{0x61, 0x62}));
}

TEST_F(TickTest, GroundDataAndStaticCg)
{
    LiveAc& a = addLiveAc(0x100001, "KLM1");
    a.state = AcState::active;
    a.objectId = 0x44;
    a.approach = 1;
    a.groundPitch = 0.01;
    a.block[kBlockPitch] = -0.05;
    a.block[kBlockBank] = 0.02;
    a.block[kBlockHeading] = 1.2;
    a.cgHeight = 6.0;
    gf_addSimNotification(SimNotification{0x44, 1, 0, kNoteGroundData, 10.0, 0.5});
    gf_handleSimNotifications();
    EXPECT_EQ(a.onGround, 1);
    EXPECT_EQ(a.touchedDown, 1);
    EXPECT_EQ(a.derotating, 1);
    EXPECT_EQ(a.landingRoll, 1);
    EXPECT_EQ(a.approach, 0);
    EXPECT_DOUBLE_EQ(a.touchdownHeading, 1.2);
    EXPECT_DOUBLE_EQ(a.pitchStep, (0.01 + 0.05) / 350.0);
    EXPECT_DOUBLE_EQ(a.bankStep, -0.02 / 350.0);
    EXPECT_DOUBLE_EQ(a.block[kBlockAlt], 16.0);
    EXPECT_EQ(g_twinCheckIds, (std::list<uint32_t>{0x100001}));

    // With no touchdown slots the ground attitude is taken at once (and the log line formats).
    LiveAc& b = addLiveAc(0x100002, "KLM2");
    b.state = AcState::active;
    b.objectId = 0x45;
    b.approach = 1;
    b.touchdownSlots = 0;
    b.groundPitch = 0.02;
    gf_addSimNotification(SimNotification{0x45, 1, 0, kNoteGroundData, 10.0, 0.5});
    gf_handleSimNotifications();
    EXPECT_DOUBLE_EQ(gf_findLiveAc(0x100002)->pitchStep, 0.02);

    LiveAc& c = *gf_findLiveAc(0x100001);
    gf_addSimNotification(SimNotification{0x44, 0, 0, kNoteStaticCg, 40.0, 3.0 * 0.017453292519943295});
    gf_handleSimNotifications();
    EXPECT_DOUBLE_EQ(c.cgHeight, 6.0);
    EXPECT_DOUBLE_EQ(c.groundPitch, 0.012217304763960306);
    gf_addSimNotification(SimNotification{0x44, 0, 0, kNoteStaticCg, 12.5, 0.01});
    gf_handleSimNotifications();
    EXPECT_DOUBLE_EQ(c.cgHeight, 12.5);
    EXPECT_DOUBLE_EQ(c.groundPitch, 0.01);
}

// One refusal keeps a title back for a while only; titles the simulator refuses again after
// their ban are never given again, and the twentieth of those ends the session.
TEST_F(TickTest, TitlesRefusedAgainAfterTheirBanEndTheSessionAtTwenty)
{
    gf_useManualLoopClockForTests();
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 20; ++i) {
            const uint32_t hex = 0x200000 + static_cast<uint32_t>(i);
            LiveAc& ac = spawned(hex, "KLM" + std::to_string(100 + i), "Refused livery " + std::to_string(i));
            g_chosenLiveries[hex] = ac.liveryTitle;
            gf_addSimNotification(SimNotification{0, hex, 0, kNoteCreateFailed, 0.0, 0.0});
            if (round == 0 || i < 19) {
                EXPECT_NO_THROW(gf_handleSimNotifications()) << "round " << round << ", title " << i;
                EXPECT_EQ(gf_findLiveAc(hex), nullptr);
                // The refused title must not come back for this aircraft.
                EXPECT_EQ(g_chosenLiveries.count(hex), 0u);
            } else {
                try {
                    gf_handleSimNotifications();
                    ADD_FAILURE() << "no error 81";
                } catch (const UserErrorException& e) {
                    EXPECT_EQ(e.code(), 81);
                    EXPECT_STREQ(e.what(), "81: There are too many liveries that could not be created!, see Log.txt");
                }
            }
            // The livery tables are rebuilt: the refused titles are kept as their own copies.
            m_titles.clear();
            g_liveAcs.clear();
            g_addingStack.clear();
        }
        gf_advanceLoopClockForTests(kTitleBan);
    }
    EXPECT_EQ(g_notCreatedTitles.size(), 20u);
    EXPECT_TRUE(g_notCreatedTitles.at("Refused livery 3").forGood);
    EXPECT_EQ(g_notCreatedList.count(" B738 Refused livery 3"), 1u);
    gf_useRealLoopClock();
}

TEST_F(TickTest, RefusedCreateFromTheSimulator)
{
    gf_simStandIn().failTitle("Bad title");
    spawned(0x100001, "KLM1", "Bad title");
    ASSERT_GT(tickUntil([] { return g_liveAcs.empty(); }, 200), 0);
    EXPECT_EQ(g_notCreatedTitles.count("Bad title"), 1u);
}

TEST_F(TickTest, ObjectIdListMatchesGolden)
{
    auto add = [](uint32_t HEX, const char* CS, const char* REG, const char* AIRLINE, const char* MODEL,
                  uint32_t OBJ, bool GROUND, FlightState FS, AcState ST) {
        AcProfile p;
        p.id = HEX;
        p.callsign = CS;
        p.registration = REG;
        p.kind.airlineId = gf_airlineId(AIRLINE);
        p.kind.modelId = gf_modelId(MODEL);
        g_liveAcs.emplace_back(StreamPos{}, p, 0.0);
        LiveAc& ac = g_liveAcs.back();
        ac.objectId = OBJ;
        ac.onGround = GROUND ? 1 : 0;
        ac.flightState = FS;
        ac.state = ST;
    };
    const auto path = m_work / "output" / "info" / "ObjectIdList.txt";
    gf_writeActiveLiveAcFile();
    EXPECT_EQ(std::filesystem::file_size(path), 0u);

    add(0x484C53, "KLM1234", "PH-BXA", "KLM", "B738", 0x2A1, true, FlightState::parked, AcState::active);
    add(0x4CA123, "EZY45", "G-EZAB", "EZY", "A320", 0x2B0, false, FlightState::flying, AcState::active);
    add(0x400001, "BAW9", "G-XWBA", "BAW", "B77W", 0, false, FlightState::birth, AcState::buffer);
    add(0xA12345, "DAL88", "N88DL", "DAL", "B77W", 0x1F, true, FlightState::taxi, AcState::active);
    gf_writeActiveLiveAcFile();

    std::ifstream golden(std::filesystem::path(QUILLON_SOURCE_DIR) / "tests" / "engine" / "golden" /
                         "ObjectIdList.txt", std::ios::binary);
    std::ifstream written(path, std::ios::binary);
    std::stringstream g, w;
    g << golden.rdbuf();
    w << written.rdbuf();
    EXPECT_FALSE(g.str().empty());
    EXPECT_EQ(w.str(), g.str());
}

TEST_F(TickTest, ParkedCreationTakesTheStandOver)
{
    LiveAc& a = spawned(0x100001, "KLM1", "Title A", false);
    a.standId = 4;
    AcProfile p;
    p.id = 17;
    p.callsign = "STAT17";
    g_staticAcs.emplace_back(p, 4, 52.3, 4.76, 0.0, false);
    g_staticAcs.back().state = AcState::active;
    g_staticAcs.back().objectId = 0x33;
    ASSERT_GT(tickUntil([] { return g_liveAcs[0].objectId != 0; }), 0);
    EXPECT_EQ(g_liveAcs[0].onGround, 1);
    EXPECT_EQ(g_staticAcs[0].state, AcState::removingfromsim);
    EXPECT_EQ(g_removalDeque.size() + calls("SimConnect_AIRemoveObject"), 1u);
    EXPECT_EQ(calls("SimConnect_AISetAircraftFlightPlan"), 0u); // no route, no flight plan
    EXPECT_EQ(g_liveAcs[0].hasFlightPlan, 0);

    ASSERT_GT(tickUntil([] { return g_activationList.empty(); }, 300), 0);
    const uint32_t obj = g_liveAcs[0].objectId;
    EXPECT_EQ(gf_simStandIn().eventValue(obj, "ENGINE_AUTO_SHUTDOWN"), std::optional<uint32_t>(0));
    EXPECT_EQ(gf_simStandIn().eventValue(obj, "BEACON_LIGHTS_SET"), std::optional<uint32_t>(0));
    EXPECT_EQ(gf_simStandIn().eventValue(obj, "LOGO_LIGHTS_SET"), std::optional<uint32_t>(1));
}


// An aircraft removed while its id still waits on the adding stack is dropped when its turn
// comes, instead of being created, shown for two seconds and removed again.
TEST_F(TickTest, RemovedWhileOnTheAddingStackIsNeverCreated)
{
    LiveAc& ac = spawned(0x100011, "KLM11", "Title A");
    removeAircraftFromSim(ac, "test");
    ASSERT_GT(tickUntil([] { return g_liveAcs.empty(); }, 60), 0);
    tickUntil([] { return false; }, 60);
    EXPECT_EQ(calls("SimConnect_AICreateNonATCAircraft"), 0u);
    EXPECT_TRUE(g_liveAddingDeque.empty());
}

// The simulator removes an object by itself (on approach, say): the aircraft is created again
// within a few seconds where it was, and the blocked-callsign choice that named the old object
// goes.
TEST_F(TickTest, RemovalByTheSimulatorCreatesTheAircraftAgainAtOnce)
{
    spawned(0x100012, "KLM12", "Title A");
    ASSERT_GT(tickUntil([] { return !g_liveAcs.empty() && g_liveAcs[0].objectId != 0; }), 0);
    const uint32_t objectId = g_liveAcs[0].objectId;
    g_callsignObjectId = objectId;
    ASSERT_TRUE(gf_simStandIn().removeObjectBySim(objectId));
    const int ticks = tickUntil(
        [objectId] { return !g_liveAcs.empty() && g_liveAcs[0].objectId != 0 && g_liveAcs[0].objectId != objectId; },
        500);
    ASSERT_GT(ticks, 0);
    EXPECT_EQ(g_callsignObjectId, 0u);
    EXPECT_EQ(calls("SimConnect_AICreateNonATCAircraft"), 2u);
    EXPECT_NEAR(g_liveAcs[0].block[kBlockLat], 52.3, 1e-3); // where it was
    EXPECT_NEAR(g_liveAcs[0].block[kBlockAlt], 5000.0, 10.0);
}

// A record removed before it had an object gets no removal report: it is erased at the next
// pass, and its hex id can come back.
TEST_F(TickTest, RemovingARecordWithoutObjectIdErasesIt)
{
    LiveAc& ac = spawned(0x100013, "KLM13", "Title A");
    ac.state = AcState::active;
    ac.objectId = 0;
    removeAircraftFromSim(ac, "test");
    tick();
    EXPECT_EQ(gf_findLiveAc(0x100013), nullptr);
    EXPECT_TRUE(g_removalDeque.empty());
}

// A flight plan the simulator does not take is not left on disk, where nothing would delete it.
TEST_F(TickTest, AFlightPlanThatIsNotAssignedIsDeleted)
{
    g_isMsfs2020 = true;
    LiveAc& ac = spawned(0x100014, "KLM14", "Title A");
    ac.origin = "AMS";
    ac.destination = "LHR";
    ac.objectId = 0x4321;
    const SIMCONNECT_HANDLE handle = g_hSimConnect.exchange(nullptr); // the call fails
    lf_setAiFlightPlan(ac);
    g_hSimConnect = handle;
    EXPECT_EQ(ac.hasFlightPlan, 0);
    EXPECT_FALSE(std::filesystem::exists(gf_flightPlanFileName(0x4321)));
}

} // namespace
} // namespace qmt::test
