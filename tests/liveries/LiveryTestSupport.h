#pragma once

// Shared set-up of the livery tests: a temporary working folder with an open log, core,
// engine, window and livery state reset, and a small reference data set of models.

#include "TestFolder.h"
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/AcKind.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Random.h"
#include "core/RefData.h"
#include "core/Reset.h"
#include "core/WindowState.h"
#include "engine/AcLists.h"
#include "liveries/LiveryTables.h"
#include "liveries/Matching.h"
#include "liveries/ScannedLivery.h"

namespace qmt::test {

inline std::string readFile(const std::filesystem::path& PATH)
{
    std::ifstream in(PATH, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& PATH, const std::string& TEXT)
{
    std::filesystem::create_directories(PATH.parent_path());
    std::ofstream out(PATH, std::ios::binary | std::ios::trunc);
    out << TEXT;
}

inline std::vector<std::string> splitLines(const std::string& TEXT)
{
    std::vector<std::string> lines;
    std::istringstream in(TEXT);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// An aircraft of the live traffic as the matching sees it.
inline SimAc testAircraft(const char* AIRLINE, const char* OPERATOR, const char* MODEL, const char* REGISTRATION,
                          bool CARGO = false)
{
    SimAc ac;
    ac.kind.airlineId = gf_airlineId(AIRLINE);
    ac.kind.operatorId = gf_airlineId(OPERATOR);
    ac.kind.modelId = gf_modelId(MODEL);
    ac.kind.cargo = CARGO ? 1 : 0;
    ac.kind.marker = 1;
    ac.callsign = "TST123";
    ac.registration = REGISTRATION;
    ac.category = static_cast<uint32_t>(gf_modelCategory(ac.kind.modelId));
    ac.id = 0x484000;
    return ac;
}

class LiveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gf_resetCoreForTests();
        gf_resetEngineForTests();
        gf_resetWindowForTests();
        gf_resetLiveryTablesForTests();
        gf_resetScannedLiveriesForTests();
        gf_resetMatchingForTests();
        m_work = gf_testFolder("quillon_liveries");
        std::filesystem::remove_all(m_work);
        gf_setWorkFolder(m_work);
        gf_createWorkFolders();
        gf_openLog(g_logFilePath, "test");
        setUpReferenceData();
    }

    void TearDown() override
    {
        gf_closeLog();
        gf_resetLiveryTablesForTests();
        gf_resetScannedLiveriesForTests();
        gf_resetEngineForTests();
        gf_clearRandomScript();
        std::filesystem::remove_all(m_work);
    }

    // Categories, similar groups and registration prefixes of the tests. The models are
    // interned in this order, so their ids (and the order of model lists in the log) are fixed.
    static void setUpReferenceData()
    {
        for (const char* model : {"A320", "B738", "B77W", "E190", "AT76", "A333", "B77L", "C172", "C56X", "EC35",
                                  "A20N", "A321", "B737", "B38M", "B772", "PA28", "C152", "E195", "F16"}) {
            gf_modelId(model);
        }
        g_largeModels = {"A320", "B738", "E190", "AT76", "A20N", "A321", "B737", "B38M", "E195"};
        g_heavyModels = {"B77W", "A333", "B77L", "B772"};
        g_buzjetModels = {"C56X"};
        g_rotorcraftModels = {"EC35"};
        g_highPerfModels = {"F16"};
        g_similarGroups = {{"A320", "A20N", "A321"},
                           {"B738", "B737", "B38M"},
                           {"B77W", "B77L", "B772"},
                           {"C172", "PA28", "C152"},
                           {"E190", "E195"}};
        g_regPrefixes = {{"G-", {"M-"}}};
    }

    // The log's lines after its first (the opening line).
    std::vector<std::string> logLines() const
    {
        gf_flushLog();
        std::vector<std::string> lines = splitLines(readFile(g_logFilePath));
        if (!lines.empty()) {
            lines.erase(lines.begin());
        }
        return lines;
    }

    // Forgets what the log holds so far.
    void clearLog() const
    {
        gf_closeLog();
        gf_openLog(g_logFilePath, "test");
    }

    std::filesystem::path m_work;
};

} // namespace qmt::test
