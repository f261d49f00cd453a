#include "TestFolder.h"
#include "app/MainWindow.h"
#include "app/Worker.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/LoopClock.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/UserError.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "engine/Intake.h"
#include "feed/TrafficFeed.h"
#include "liveries/LiveryTables.h"
#include "liveries/Matching.h"
#include "platform/sim_Control.h"
#include "platform/traffic_scenario.h"
#include "platform/traffic_standin.h"
#include "platform/window_messages.h"
#include "simlink/SimClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qmt {
void lf_resetMainLoopForTests();
namespace {

std::string lf_readFile(const std::filesystem::path& PATH)
{
    std::ifstream in(PATH, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lf_reset();
        folder = test::gf_testFolder("quillon_worker");
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder / "input");
        gf_setWorkFolder(folder);
        gf_useManualLoopClockForTests();
        ASSERT_TRUE(gf_openLog(g_logFilePath, "MSFS 2020"));
    }
    void TearDown() override
    {
        gf_closeLog();
        gf_useRealLoopClock();
        lf_reset();
        std::filesystem::remove_all(folder);
    }
    void lf_reset()
    {
        gf_resetCoreForTests();
        gf_resetEngineForTests();
        gf_resetIntakeForTests();
        gf_resetSimLinkForTests();
        gf_resetFeedForTests();
        gf_resetWindowForTests();
        gf_resetWindowRequestsForTests();
        gf_resetWindowMessagesForTests();
        gf_resetStatusForTests();
        lf_resetMainLoopForTests();
        gf_clearExitReason();
        g_stopSession = false;
        g_exitRequested = false;
        g_runOptions = RunOptions{};
    }
    void copyDataFiles()
    {
        std::filesystem::create_directories(folder / "output");
        std::filesystem::copy_file(std::filesystem::path(QUILLON_SOURCE_DIR) / "tests" / "data" / "LiveriesScanned.xml",
                                   folder / "output" / "LiveriesScanned.xml");
        for (const char* name : {"dbase.enc", "airports.enc", "AIG-regcodes.enc"}) {
            const std::filesystem::path source = std::filesystem::path(QUILLON_BINARY_DIR) / "input" / name;
            if (std::filesystem::exists(source))
                std::filesystem::copy_file(source, folder / "input" / name);
        }
    }
    std::string log()
    {
        gf_flushLog();
        return lf_readFile(g_logFilePath);
    }

    std::filesystem::path folder;
};

TEST_F(WorkerTest, ProductionEndsAfterTheStartUpChecksWithCodeZero)
{
    copyDataFiles();
    g_runOptions.production = true;
    SCAN_LIVERIES.set(false);
    gf_saveParameters(g_parametersPath);
    lf_startUpQuillon(false);

    std::optional<WindowMessage> exit;
    while (const auto message = gf_waitWindowMessage(std::chrono::milliseconds(0)))
        if (message->id != WM_APP_REPAINT)
            exit = message;
    ASSERT_TRUE(exit) << log() << gf_errorText();
    EXPECT_EQ(exit->id, WM_APP_EXIT);
    EXPECT_EQ(exit->param, 0);
    EXPECT_NE(log().find("production\n"), std::string::npos);
    // The working folders exist.
    for (const auto& path : {g_outputPath, g_infoPath, g_errorsPath, g_airportsPath, g_mySimaddonPath,
                             g_myThirdpartyPath, g_learnedPath, g_learnedPath / "stock",
                             g_learnedPath / "simaddon", g_learnedPath / "thirdparty", g_origDestPath})
        EXPECT_TRUE(std::filesystem::is_directory(path)) << path;
    EXPECT_EQ(gf_errorText(), "");
}

TEST_F(WorkerTest, MissingDataFilesEndTheStartUpWithTheErrorShown)
{
    lf_startUpQuillon(false);
    EXPECT_EQ(gf_errorText(), "reading data files failed!");
    EXPECT_EQ(gf_exitReason(), ExitReason::systemError);
    // The window keeps the error until the user closes it: no exit message.
    while (const auto message = gf_waitWindowMessage(std::chrono::milliseconds(0)))
        EXPECT_EQ(message->id, WM_APP_REPAINT);
    EXPECT_NE(log().find("==> reading data files failed!"), std::string::npos);
    EXPECT_NE(log().find("Exiting: SYSTEM ERROR"), std::string::npos);
}

TEST_F(WorkerTest, AMissingWorkingFolderIsAUserError)
{
    gf_setWorkFolder(folder / "not-there");
    lf_startUpQuillon(false);
    EXPECT_NE(gf_errorText().find("must be run from the"), std::string::npos);
}

TEST_F(WorkerTest, ASimulatorThatIsNotRunningRestartsAfterTheSimConnectDelay)
{
    copyDataFiles();
    SCAN_LIVERIES.set(false);
    gf_saveParameters(g_parametersPath);
    gf_simStandIn().reset();
    gf_simStandIn().setRunning(false);
    lf_startUpQuillon(false);
    gf_simStandIn().reset();
    EXPECT_EQ(gf_exitReason(), ExitReason::simConnectError) << log();
    // The countdown ran on the loop clock, then a new start-up was posted.
    bool restart = false;
    while (const auto message = gf_waitWindowMessage(std::chrono::milliseconds(0)))
        restart = restart || (message->id == WM_APP_STARTUP && message->param == 1);
    EXPECT_TRUE(restart);
    EXPECT_NE(log().find("Exiting: SIMCONNECT ERROR"), std::string::npos);
}

// A traffic service whose live answers never come: the session start gives up after 10 s of
// the loop clock with a reader error and restarts after 15 s. The clock runs as fast as the
// threads allow, so that the reader's own 30 s limit cannot come first: on the settable clock a
// long sleep of any thread moves every thread's time on at once.
TEST_F(WorkerTest, NoFirstTrafficEndsTheSessionWithAReaderErrorAndARestart)
{
    gf_useRealLoopClock();
    gf_startVirtualTime(0.0);
    const LoopThread keepsTime;
    copyDataFiles();
    SCAN_LIVERIES.set(false);
    gf_saveParameters(g_parametersPath);
    gf_simStandIn().reset();
    gf_simStandIn().setRunning(true);
    gf_simStandIn().setFlightRunning(true);
    gf_simStandIn().setFreeRunning(true);
    std::istringstream scenarioText(
        R"({"type":"header","name":"EHAM","play_from":0,"interval_ms":2000})"
        "\n"
        R"({"type":"live","t":0,"hex":"484b2c","cs":"KLM1723","reg":"PH-BXM","model":"B738","lat":52.31,"lon":4.76,"alt":-11,"gs":0,"tas":0,"trk":180,"vr":0,"gnd":true})"
        "\n");
    auto source = std::make_shared<ScenarioTrafficSource>(
        gf_parseScenario(scenarioText).scenario, [] { return 1.0e9; }, [](std::chrono::milliseconds) {});
    source->failNext(TrafficQuery::live, 1000000, "no answer");
    gf_setTrafficSource(source);

    lf_startUpQuillon(false);
    gf_setTrafficSource(nullptr);
    gf_simStandIn().reset();

    EXPECT_EQ(gf_exitReason(), ExitReason::readerError);
    EXPECT_EQ(gf_restartDelaySeconds(), 15);
    const std::string text = log();
    EXPECT_NE(text.find("SimConnect connected"), std::string::npos) << text;
    EXPECT_NE(text.find("==> TrafficReader receiving timed out after 10 seconds?"), std::string::npos) << text;
    EXPECT_NE(text.find("Exiting: READER ERROR"), std::string::npos);
    bool restart = false;
    while (const auto message = gf_waitWindowMessage(std::chrono::milliseconds(0)))
        restart = restart || (message->id == WM_APP_STARTUP && message->param == 1);
    EXPECT_TRUE(restart);
    EXPECT_FALSE(g_acceptBatches);
}

TEST_F(WorkerTest, AnExceptionOutOfTheLoopEndsTheSessionWithASystemError)
{
    int ticks = 0;
    gf_setMainLoopStepsForTests(MainLoopSteps{
        [&ticks] {
            if (++ticks == 3)
                throw std::out_of_range("vector::at");
        },
        [](PeriodicWork, std::uint64_t) {}});
    EXPECT_FALSE(lf_guardedStep([] { lf_mainLoop(); }));
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(gf_exitReason(), ExitReason::systemError);
    EXPECT_TRUE(g_exitRequested);
    EXPECT_EQ(gf_errorText(), "lf_startUpQuillon exception: vector::at");
    EXPECT_NE(log().find("==> lf_startUpQuillon exception: vector::at"), std::string::npos);
}

TEST_F(WorkerTest, AUserErrorShowsItsOwnText)
{
    EXPECT_FALSE(lf_guardedStep([] { throw UserErrorException(81, "too many liveries refused"); }));
    EXPECT_EQ(gf_errorText(), "81: too many liveries refused");
    EXPECT_TRUE(lf_guardedStep([] {}));
}

TEST_F(WorkerTest, AStatusLineIsLoggedWhenAsked)
{
    gf_setStatus("quiet line");
    gf_setStatus("Parking adjustments: 2 to be removed, 3 to be added", true);
    gf_setError("an error");
    gf_setStatus("held back but logged", true);
    const std::string text = log();
    EXPECT_EQ(text.find("quiet line"), std::string::npos);
    EXPECT_NE(text.find("Parking adjustments: 2 to be removed, 3 to be added\n"), std::string::npos);
    EXPECT_NE(text.find("held back but logged\n"), std::string::npos);
    EXPECT_EQ(gf_statusText(), "Parking adjustments: 2 to be removed, 3 to be added");
}

TEST_F(WorkerTest, ResetSessionEmptiesTheListsButKeepsTickCounterAndTwinChecks)
{
    AcProfile profile;
    profile.id = 0x484B2C;
    g_liveAcs.emplace_back(StreamPos{}, profile, 0.0);
    g_staticAcs.emplace_back();
    g_addingStack.push_back(1);
    g_liveAddingDeque.emplace_back();
    g_staticAddingDeque.emplace_back();
    g_removalDeque.push_back(5);
    g_activationList.emplace_back();
    g_blockedGhosts.push_back("KLM1_");
    g_noMatchSet.insert("KLM B738 PH-BXA");
    g_simNotifications.emplace_back();
    g_bufferedTraffic.emplace_back();
    // A queued create views a livery title that closing down may free after the reset.
    gf_queueAiCreate(AiCreateRequest{{}, "KLM1", "KLM Boeing 737-800", 0x484B2C});
    gf_queueRemove(2001);
    g_tickCounter = 12345;
    g_twinCheckIds = {7, 8};

    lf_resetSession();

    EXPECT_TRUE(g_liveAcs.empty());
    EXPECT_TRUE(g_staticAcs.empty());
    EXPECT_TRUE(g_addingStack.empty());
    EXPECT_TRUE(g_liveAddingDeque.empty());
    EXPECT_TRUE(g_staticAddingDeque.empty());
    EXPECT_TRUE(g_removalDeque.empty());
    EXPECT_TRUE(g_activationList.empty());
    EXPECT_TRUE(g_blockedGhosts.empty());
    EXPECT_TRUE(g_noMatchSet.empty());
    EXPECT_TRUE(g_simNotifications.empty());
    EXPECT_TRUE(g_bufferedTraffic.empty());
    EXPECT_TRUE(g_createQueue.empty());
    EXPECT_TRUE(g_removeQueue.empty());
    EXPECT_EQ(g_tickCounter.load(), 12345);
    EXPECT_EQ(g_twinCheckIds.size(), 2u);
}


// A restart must not read the data files again: that would intern the codes anew while the
// livery tables of this program run still hold the old ids.
TEST_F(WorkerTest, ARestartKeepsTheInternedIdsThatTheLiveryTablesHold)
{
    copyDataFiles();
    g_runOptions.production = true;
    SCAN_LIVERIES.set(false);
    gf_saveParameters(g_parametersPath);
    lf_startUpQuillon(false);
    ASSERT_EQ(gf_errorText(), "") << log();
    ASSERT_TRUE(g_liveriesProcessed);
    // Codes first seen in live traffic during the session.
    const std::uint16_t newcomer = gf_airlineId("QQX");
    const std::uint16_t second = gf_airlineId("QQY");
    const auto aircraft = [] {
        SimAc ac;
        ac.kind.airlineId = gf_airlineId("KLM");
        ac.kind.modelId = gf_modelId("B738");
        ac.kind.marker = 1;
        ac.callsign = "KLM1234";
        ac.registration = "PH-BXA";
        ac.category = static_cast<std::uint32_t>(gf_modelCategory(ac.kind.modelId));
        ac.id = 0x484000;
        return ac;
    };
    const SimAc before = aircraft();
    SimAc first = before;
    gf_matchLiveAcLivery(first);
    ASSERT_FALSE(first.liveryTitle.empty());

    lf_startUpQuillon(true);
    EXPECT_EQ(gf_errorText(), "") << log();
    EXPECT_EQ(gf_airlineId("QQY"), second);
    EXPECT_EQ(gf_airlineId("QQX"), newcomer);
    EXPECT_EQ(gf_airlineCode(before.kind.airlineId), "KLM");
    SimAc again = aircraft();
    EXPECT_EQ(again.kind.airlineId, before.kind.airlineId);
    gf_matchLiveAcLivery(again);
    EXPECT_EQ(again.liveryTitle, first.liveryTitle);
}

// The user closes the window while a new worker starts (a restart): the worker must not erase
// that close and start a session.
TEST_F(WorkerTest, AWindowCloseDuringTheStartUpIsKept)
{
    copyDataFiles();
    SCAN_LIVERIES.set(false);
    gf_saveParameters(g_parametersPath);
    gf_simStandIn().reset();
    gf_simStandIn().setRunning(true);
    gf_onWindowClose();
    lf_startUpQuillon(true);
    EXPECT_EQ(gf_simStandIn().countCalls("SimConnect_Open"), 0u) << log();
    std::optional<WindowMessage> exit;
    while (const auto message = gf_waitWindowMessage(std::chrono::milliseconds(0)))
        if (message->id != WM_APP_REPAINT)
            exit = message;
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->id, WM_APP_EXIT);
    gf_simStandIn().reset();
}


// A run whose time is over closes its window without an exit reason: the log says why it ended
// rather than "NOT YET SET", and only for that closing down.
TEST_F(WorkerTest, ARunWhoseTimeIsOverSaysSoInItsLastLine)
{
    copyDataFiles();
    SCAN_LIVERIES.set(false);
    gf_saveParameters(g_parametersPath);
    gf_simStandIn().reset();
    gf_simStandIn().setRunning(true);
    gf_noteWindowCloseCause("DURATION REACHED (60 s)");
    gf_onWindowClose();
    lf_startUpQuillon(false);
    EXPECT_NE(log().find("Exiting: DURATION REACHED (60 s)"), std::string::npos) << log();
    g_windowClosed = true;
    lf_closingDown();
    EXPECT_NE(log().find("Exiting: NOT YET SET"), std::string::npos) << log();
    gf_simStandIn().reset();
}

TEST_F(WorkerTest, TheStoredTimeShiftIsApplied)
{
    copyDataFiles();
    g_runOptions.production = true;
    SCAN_LIVERIES.set(false);
    TIME_SHIFT_MINUTES.set(-90);
    gf_saveParameters(g_parametersPath);
    TIME_SHIFT_MINUTES.set(0);
    lf_startUpQuillon(false);
    EXPECT_EQ(gf_timeShift(), std::chrono::minutes(-90));
    EXPECT_EQ(gf_now() - gf_unshiftedNow(), std::chrono::minutes(-90));
    EXPECT_NE(log().find("Time shift of -90 minutes"), std::string::npos);
}

}  // namespace
}  // namespace qmt
