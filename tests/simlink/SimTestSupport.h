#pragma once
// Shared set-up of the simulator link tests: every global back to its start, a log in a
// temporary folder, and the simulated simulator reset.

#include "TestFolder.h"
#include "core/Log.h"
#include "core/Reset.h"
#include "core/StopFlags.h"
#include "platform/sim_Control.h"
#include "simlink/Facilities.h"
#include "simlink/SimClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qmt::test {

// Stop flags down and no exit reason.
inline void lf_resetWorkerState()
{
    g_stopSession.store(false);
    g_exitRequested.store(false);
    g_realignDeadline.store(false);
    gf_clearExitReason();
}

class SimLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gf_resetCoreForTests();
        lf_resetWorkerState();
        gf_resetSimLinkForTests();
        gf_resetFacilitiesForTests();
        gf_simStandIn().reset();
        gf_simStandIn().setRunning(true);
        m_dir = gf_testFolder("quillon_simlink");
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        gf_openLog(m_dir / "Log.txt", "test");
    }

    void TearDown() override
    {
        gf_resetSimLinkForTests();
        gf_resetFacilitiesForTests();
        gf_closeLog();
        gf_simStandIn().reset();
        lf_resetWorkerState();
        std::filesystem::remove_all(m_dir);
    }

    std::string logText() const
    {
        gf_flushLog();
        std::ifstream in(m_dir / "Log.txt", std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    std::filesystem::path m_dir;
};

} // namespace qmt::test
