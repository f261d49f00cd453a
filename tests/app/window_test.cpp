#include "TestFolder.h"
#include "app/MainWindow.h"
#include "app/Worker.h"
#include "core/Airports.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/Reset.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "engine/Commands.h"
#include "feed/TrafficFeed.h"
#include "parking/ParkAirport.h"
#include "parking/ParkingReset.h"
#include "parking/Reconcile.h"
#include "parking/ParkChange.h"
#include "platform/window_messages.h"
#include "platform/window_shell.h"
#include "stands/AirportFile.h"
#include "stands/ApfSettings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace qmt {
namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gf_resetCoreForTests();
        folder = test::gf_testFolder("quillon_window");
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        gf_setWorkFolder(folder);
        lf_reset();
    }
    void TearDown() override
    {
        lf_reset();
        gf_resetCoreForTests();
        std::filesystem::remove_all(folder);
    }
    void lf_reset()
    {
        gf_resetWindowForTests();
        gf_resetWindowRequestsForTests();
        gf_resetWindowMessagesForTests();
        gf_resetEngineForTests();
        gf_clearExitReason();
        g_exitRequested = false;
        g_stopSession = false;
    }
    // A live aircraft in the given state.
    void addLiveAc(std::uint32_t ID, AcState STATE)
    {
        StreamPos pos;
        AcProfile profile;
        profile.id = ID;
        profile.callsign = "KLM" + std::to_string(ID);
        g_liveAcs.emplace_back(pos, profile, 0.0);
        g_liveAcs.back().state = STATE;
    }

    std::filesystem::path folder;
};

TEST_F(WindowTest, ControlsKeepTheirStateAndRepaintOnlyOnChange)
{
    const auto before = g_repaintCount.load();
    gf_checkControl("WEEK", true);
    gf_checkControl("WEEK", true);
    gf_selectControlEntry("MAX_PARK_SEL", 3);
    gf_setControlText(BLOCKED_CALLSIGNS_EDIT, "KLM1,EZY2");
    gf_enableControl(TBLO_ZIP_BUTTON, false);
    EXPECT_EQ(g_repaintCount.load(), before + 4);

    EXPECT_TRUE(gf_controlState("WEEK").checked);
    EXPECT_EQ(gf_controlState("MAX_PARK_SEL").selected, 3);
    EXPECT_EQ(gf_controlState(BLOCKED_CALLSIGNS_EDIT).text, "KLM1,EZY2");
    EXPECT_FALSE(gf_controlState(TBLO_ZIP_BUTTON).enabled);
    EXPECT_TRUE(gf_controlState("never touched").enabled);
}

TEST_F(WindowTest, AParameterControlKeepsItsEnabledStateInTheParameter)
{
    // The livery code disables the control directly; the window shows it.
    AI_PACKAGE_SELECTOR.control().disable();
    EXPECT_FALSE(gf_controlState("AI_PACKAGE_SELECTOR").enabled);
    gf_enableControl(HELICOPTERS, false);
    EXPECT_FALSE(HELICOPTERS.control().isEnabled());
    gf_enableControl("HELICOPTERS");
    EXPECT_TRUE(HELICOPTERS.control().isEnabled());
    EXPECT_TRUE(gf_controlState("HELICOPTERS").enabled);
}

TEST_F(WindowTest, ParkControlsFollowTheBusyMarkAndTheParkTrafficSetting)
{
    gf_disableParkControls();
    EXPECT_TRUE(g_parkBusy);
    EXPECT_FALSE(gf_controlState("MAX_PARK_SEL").enabled);
    EXPECT_FALSE(gf_controlState(PARK_CHECK_BUTTON).enabled);
    EXPECT_FALSE(gf_controlState("WEEK").enabled);

    RT_PARKTRAFFIC_ONLY.set(true);
    gf_enableParkControls();
    EXPECT_FALSE(g_parkBusy);
    EXPECT_TRUE(gf_controlState("MAX_PARK_SEL").enabled);
    // Learned-position controls stay off while only parked traffic is used.
    EXPECT_FALSE(gf_controlState("WEEK").enabled);
    EXPECT_FALSE(gf_controlState("PARK_SOFT").enabled);

    RT_PARKTRAFFIC_ONLY.set(false);
    gf_enableParkSourceControls();
    EXPECT_TRUE(gf_controlState("WEEK").enabled);
}

TEST_F(WindowTest, ValuesRepaintOnlyWhenTheyChange)
{
    const auto before = g_repaintCount.load();
    gf_updateWindowValues([](WindowValues& VALUES) { VALUES.renewalMinutes = 20; });
    gf_updateWindowValues([](WindowValues& VALUES) { VALUES.renewalMinutes = 20; });
    gf_updateWindowValues([](WindowValues& VALUES) { VALUES.qualityText = "Qf 40/55"; });
    EXPECT_EQ(g_repaintCount.load(), before + 2);
    EXPECT_EQ(gf_windowValues().renewalMinutes, 20);
    EXPECT_EQ(gf_windowValues().qualityText, "Qf 40/55");
}

TEST_F(WindowTest, RepaintsFoldIntoOneMessageUntilTheWindowHandlesIt)
{
    gf_installRepaintHook();
    for (int i = 0; i < 100; ++i)
        gf_repaintWindow();
    EXPECT_EQ(gf_pendingWindowMessages(), 1u);
    auto message = gf_waitWindowMessage(std::chrono::milliseconds(0));
    ASSERT_TRUE(message);
    EXPECT_EQ(message->id, WM_APP_REPAINT);
    gf_repaintHandled();
    gf_repaintWindow();
    EXPECT_EQ(gf_pendingWindowMessages(), 1u);
}

TEST_F(WindowTest, LoweringMaxLiveSelOnlyPostsARequestTheWorkerCarriesOut)
{
    for (std::uint32_t id = 0x400001; id < 0x400007; ++id)
        addLiveAc(id, AcState::active);
    addLiveAc(0x400010, AcState::adding2sim);
    int removals = 0;
    gf_setFarthestRemoverForTests([&removals](double DISTANCE) {
        EXPECT_EQ(DISTANCE, -1.0);
        ++removals;
        return false;
    });
    MAX_LIVE_SEL.set(10);

    // The window thread's handler touches no list of the worker.
    std::thread window([] {
        gf_onMaxLiveSelChanged(10, 4);
        gf_onMaxLiveSelChanged(4, 2);
        gf_onMaxLiveSelChanged(2, 3);  // raised again: the lowest pending limit stays
    });
    window.join();
    EXPECT_EQ(removals, 0);
    EXPECT_EQ(MAX_LIVE_SEL.value(), 3);

    gf_carryOutWindowRequests();
    EXPECT_EQ(removals, 4);  // 6 active aircraft above a limit of 2
    gf_carryOutWindowRequests();
    EXPECT_EQ(removals, 4);
}

TEST_F(WindowTest, RemovalStopsWhenNothingMoreCanBeRemoved)
{
    for (std::uint32_t id = 0x400001; id < 0x400006; ++id)
        addLiveAc(id, AcState::active);
    int removals = 0;
    gf_setFarthestRemoverForTests([&removals](double) { return ++removals == 2; });
    MAX_LIVE_SEL.set(10);
    gf_onMaxLiveSelChanged(10, 0);
    gf_carryOutWindowRequests();
    EXPECT_EQ(removals, 2);
}

TEST_F(WindowTest, ANewLiveryScanRestartsWithNewSettings)
{
    SCAN_LIVERIES.set(false);
    gf_onNewLiveryScan();
    EXPECT_TRUE(SCAN_LIVERIES.value());
    EXPECT_TRUE(gf_controlState("SCAN_LIVERIES").checked);
    EXPECT_FALSE(g_exitRequested);
    gf_carryOutWindowRequests();
    EXPECT_TRUE(g_exitRequested);
    EXPECT_EQ(gf_exitReason(), ExitReason::newSettings);
}

TEST_F(WindowTest, AnotherSimulatorIsAppliedByTheWorker)
{
    SIM_CHOICE.set(2020);
    gf_onSimChoiceChanged(2020);
    gf_carryOutWindowRequests();
    EXPECT_FALSE(g_exitRequested);

    gf_onSimChoiceChanged(2024);
    EXPECT_EQ(SIM_CHOICE.value(), 2020);
    gf_carryOutWindowRequests();
    EXPECT_EQ(SIM_CHOICE.value(), 2024);
    EXPECT_TRUE(g_exitRequested);
    EXPECT_EQ(gf_exitReason(), ExitReason::newSettings);
}

TEST_F(WindowTest, ParkTrafficOnlySetsTheRenewAllFlag)
{
    gf_onParkTrafficOnlyChanged(true);
    EXPECT_TRUE(RT_PARKTRAFFIC_ONLY.value());
    EXPECT_TRUE(g_parkRenewAll);
    EXPECT_FALSE(gf_controlState("WEEK").enabled);
    gf_onParkTrafficOnlyChanged(false);
    EXPECT_FALSE(g_parkRenewAll);
}

// Every control reaches its command through WM_COMMAND with the value the control shows, and the
// command's work is done by the worker at its next tick.
TEST_F(WindowTest, EachControlReachesTheWorkerThroughItsCommand)
{
    gf_resetParkingForTests();
    gf_setAirports({AirportEntry{IcaoCode("EHAM"), IataCode("AMS"), 52.3086, 4.7639, -11, 120, false},
                    AirportEntry{IcaoCode("EHEH"), IataCode("EIN"), 51.4501, 5.3745, 74, 20, false}});
    std::filesystem::create_directories(g_airportsPath);
    std::ofstream(g_airportsPath / kMyParkAirportsFile) << "EHAM\n";
    RT_PARKTRAFFIC_ONLY.set(false);
    SIM_CHOICE.set(2020);
    MAX_LIVE_SEL.set(100);

    struct Case {
        const char* control;
        std::function<void()> use;       // what the user does at the control
        WindowCommand command;
        std::function<void()> expectAfterTick;
    };
    const std::vector<Case> cases = {
        {"park renew", [] {}, WindowCommand::parkRenew,
         [] {
             EXPECT_TRUE(g_parkChangeRequested);
             EXPECT_NE(gf_statusText().find("will update static parking in 15 seconds"), std::string::npos);
         }},
        {"park check", [] { gf_enableControl(PARK_CHECK_BUTTON, false); }, WindowCommand::parkCheck,
         [] {
             gf_checkParkAirports();  // the worker's 5-second step
             EXPECT_EQ(g_parkCheckRequested.load(), 0);
             EXPECT_EQ(gf_statusText(), "park airports and stands are okay");
             EXPECT_TRUE(gf_controlState(PARK_CHECK_BUTTON).enabled);
         }},
        {"destination", [] { gf_setControlText(DESTINATION.name(), " EHEH "); }, WindowCommand::destinationApply,
         [] {
             EXPECT_EQ(DESTINATION.value(), "EHEH");
             ASSERT_FALSE(g_parkAirports.empty());
             EXPECT_EQ(g_parkAirports.front().code, IcaoCode("EHEH"));
         }},
        {"unknown destination", [] { gf_setControlText(DESTINATION.name(), "ZZZZ"); }, WindowCommand::destinationApply,
         [] { EXPECT_EQ(gf_statusText(), "airport ZZZZ is unknown"); }},
        {"parked traffic only", [] { gf_checkControl(RT_PARKTRAFFIC_ONLY.name(), true); },
         WindowCommand::parkTrafficOnly,
         [] {
             EXPECT_TRUE(RT_PARKTRAFFIC_ONLY.value());
             EXPECT_TRUE(g_parkRenewAll);
             EXPECT_TRUE(g_parkChangeRequested);
         }},
        {"max live, too many", [] { gf_setControlText(MAX_LIVE_SEL.name(), "9999"); }, WindowCommand::maxLiveSel,
         [] {
             EXPECT_EQ(MAX_LIVE_SEL.value(), 500);
             EXPECT_EQ(gf_controlState(MAX_LIVE_SEL.name()).text, "500");
         }},
        {"max live, no number", [] { gf_setControlText(MAX_LIVE_SEL.name(), "many"); }, WindowCommand::maxLiveSel,
         [] {
             EXPECT_EQ(MAX_LIVE_SEL.value(), 500);
             EXPECT_EQ(gf_controlState(MAX_LIVE_SEL.name()).text, "500");
         }},
        {"simulator", [] { gf_selectControlEntry(SIM_CHOICE.name(), 1); }, WindowCommand::simChoice,
         [] {
             EXPECT_EQ(SIM_CHOICE.value(), 2024);
             EXPECT_EQ(gf_exitReason(), ExitReason::newSettings);
         }},
        {"new livery scan", [] { SCAN_LIVERIES.set(false); }, WindowCommand::newLiveryScan,
         [] {
             EXPECT_TRUE(SCAN_LIVERIES.value());
             EXPECT_TRUE(g_exitRequested);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        gf_resetParkChangeForTests();
        gf_enableParkControls();
        gf_resetStatusForTests();
        gf_clearExitReason();
        g_exitRequested = false;
        c.use();
        gf_resetWindowMessagesForTests();
        gf_postWindowMessage(WM_COMMAND, static_cast<std::int64_t>(c.command));
        const auto message = gf_waitWindowMessage(std::chrono::milliseconds(0));
        ASSERT_TRUE(message && message->id == WM_COMMAND);
        gf_onWindowCommand(message->param);
        gf_carryOutWindowRequests();
        c.expectAfterTick();
    }
    // An id of no control does nothing.
    gf_resetParkChangeForTests();
    gf_onWindowCommand(0);
    gf_carryOutWindowRequests();
    EXPECT_FALSE(g_parkChangeRequested);
    gf_resetParkingForTests();
    gf_clearAirports();
}

TEST_F(WindowTest, ClosingTheWindowEndsTheProgramWhateverTheReason)
{
    gf_onWindowClose();
    EXPECT_TRUE(g_windowClosed);
    EXPECT_TRUE(g_exitRequested);
}

TEST_F(WindowTest, RangeIsKeptWithinItsBoundsAndReachesTheTrafficRange)
{
    gf_setRange(1000);
    EXPECT_EQ(RANGE.value(), RANGE.maxValue());
    EXPECT_EQ(g_trafficRangeNm.load(), static_cast<double>(RANGE.maxValue()));
    EXPECT_EQ(gf_controlState("RANGE").text, RANGE.text());
    gf_setRange(40);
    EXPECT_EQ(g_trafficRangeNm.load(), 40.0);
}

TEST_F(WindowTest, AutoRangeRemembersAndRestoresTheManualRange)
{
    gf_setRange(40);
    AUTO_RANGE.set(true);
    gf_switchAutoRange();
    EXPECT_FALSE(gf_controlState("RANGE").enabled);
    gf_setRange(15);  // the automatic range moves it
    AUTO_RANGE.set(false);
    gf_switchAutoRange();
    EXPECT_EQ(RANGE.value(), 40);
    EXPECT_TRUE(gf_controlState("RANGE").enabled);
}

TEST_F(WindowTest, TheMaxFitEntryMatchesTheFitStep)
{
    MAX_FIT.set(47);
    gf_selectMaxFitEntry();
    EXPECT_FLOAT_EQ(MAX_FIT_FL.value(), 24.0f);
    MAX_FIT.set(0);
    gf_selectMaxFitEntry();
    EXPECT_FLOAT_EQ(MAX_FIT_FL.value(), 0.5f);
    EXPECT_EQ(gf_controlState("MAX_FIT_FL").selected, 0);
    MAX_FIT.set(12);  // 6.5 hours is not offered: the next larger entry
    gf_selectMaxFitEntry();
    EXPECT_FLOAT_EQ(MAX_FIT_FL.value(), 7.0f);
}

TEST_F(WindowTest, OptionControlsTakeTheValuesThatDifferFromTheAirportFile)
{
    gf_initApfSettingNames();
    for (std::size_t i = 0; i < kApfSettingCount; ++i)
        g_apfSettingsAtRead[i] = gf_parameterByName(g_apfSettingNames[i])->text();
    WEEK.set(!WEEK.value());
    gf_checkControl("PARK_SOFT", !PARK_SOFT.value());
    gf_refreshOptionControls();
    EXPECT_EQ(gf_controlState("WEEK").checked, WEEK.value());
    // A setting equal to the one read is not pushed.
    EXPECT_EQ(gf_controlState("PARK_SOFT").checked, !PARK_SOFT.value());
}

TEST_F(WindowTest, BlockedCallsignsListTheActiveAircraft)
{
    addLiveAc(0x400001, AcState::active);
    g_liveAcs.back().objectId = 21;
    addLiveAc(0x400002, AcState::adding2sim);
    BLOCKED_CALLSIGNS.set("EZY12");
    gf_refreshBlockedCallsigns();
    EXPECT_EQ(gf_controlState(BLOCKED_CALLSIGNS_EDIT).text, "EZY12");
    const auto entries = CALLSIGN_2_OBJECTID.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.begin()->first, "KLM" + std::to_string(0x400001));
    EXPECT_EQ(entries.begin()->second, 21u);
}

TEST_F(WindowTest, OpeningAMissingManualShowsItsMessage)
{
    gf_resetShellForTests();
    gf_openManual();
    EXPECT_EQ(gf_lastMessageBoxText(), "Could not open local folder with Manual");
    gf_resetShellForTests();
    gf_openParametersFolder();  // the folder of parameters.xml exists
    EXPECT_EQ(gf_lastMessageBoxText(), "");
}

}  // namespace
}  // namespace qmt
