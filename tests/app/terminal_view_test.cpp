#include "app/TerminalView.h"
#include "core/EventLines.h"
#include "core/Reset.h"
#include "core/StatusLine.h"
#include "core/WindowState.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace qmt {
namespace {

using namespace std::chrono_literals;

class TerminalViewTest : public ::testing::Test {
protected:
    void SetUp() override { lf_reset(); }
    void TearDown() override
    {
        if (m_file != nullptr)
            std::fclose(m_file);
        lf_reset();
    }
    static void lf_reset()
    {
        gf_resetStatusForTests();
        gf_resetWindowForTests();
        gf_resetEventLinesForTests();
    }
    std::FILE* file()
    {
        m_file = std::tmpfile();
        return m_file;
    }
    std::string written()
    {
        std::fflush(m_file);
        std::rewind(m_file);
        std::string text;
        for (int c = std::fgetc(m_file); c != EOF; c = std::fgetc(m_file))
            text += static_cast<char>(c);
        return text;
    }
    static void lf_showLive(const char* TEXT)
    {
        gf_updateWindowValues([TEXT](WindowValues& V) { V.flightStates = TEXT; });
    }
    std::FILE* m_file = nullptr;
};

TEST_F(TerminalViewTest, TheLineHoldsTheStatusAndTheCounters)
{
    EXPECT_EQ(gf_windowText(), "");
    gf_setStatus("Traffic Reader started");
    g_liveryCount = 25;
    gf_updateWindowValues([](WindowValues& V) {
        V.parkAirportText = "EHAM (AMS)";
        V.standCount = 40;
        V.wantedStatics = 12;
        V.staticsStanding = 9;
        V.wantedPercent = 30;
        V.qualityText = "66";
        V.renewalMinutes = 19;
    });
    EXPECT_EQ(gf_windowText(),
              "Traffic Reader started | # liveries: 25 | park: EHAM (AMS), 40 stands, quality 66 | "
              "statics: 9 of 12 wanted (30%) | renewal in 19 min");
    gf_setError("reading data files failed!");
    EXPECT_EQ(gf_windowText().rfind("ERROR: reading data files failed! | # liveries: 25", 0), 0u);
}

TEST_F(TerminalViewTest, APipeGetsAPlainLineEveryFewSecondsWhenItChanged)
{
    TerminalView view(file(), false);
    const auto t0 = std::chrono::steady_clock::time_point{} + 100h;
    lf_showLive("one");
    view.refresh(t0);
    lf_showLive("two");
    view.refresh(t0 + 1s); // too soon
    view.refresh(t0 + 5s);
    view.refresh(t0 + 10s); // unchanged
    view.finish();
    EXPECT_EQ(written(), "live: one\nlive: two\n");
}

TEST_F(TerminalViewTest, ATerminalLineIsRewrittenInPlaceEverySecond)
{
    TerminalView view(file(), true);
    const auto t0 = std::chrono::steady_clock::time_point{} + 100h;
    lf_showLive("one");
    view.refresh(t0);
    view.refresh(t0 + 500ms);
    lf_showLive("two");
    view.refresh(t0 + 1s);
    view.finish();
    EXPECT_EQ(written(), "\rlive: one\033[K\rlive: two\033[K\n");
}

}  // namespace
}  // namespace qmt
