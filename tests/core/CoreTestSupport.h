#pragma once
// Shared fixture of the core tests: a fresh temporary working folder and reset core state.

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "core/Paths.h"
#include "core/Reset.h"

namespace qmt::test {

inline std::filesystem::path makeTempFolder()
{
    std::random_device rd;
    auto dir = std::filesystem::temp_directory_path() / ("quillon_core_" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string readFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void writeFile(const std::filesystem::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The encrypted reference data made by the build.
inline std::filesystem::path builtInputFolder() { return std::filesystem::path(QUILLON_BINARY_DIR) / "input"; }
inline std::filesystem::path referenceSource(const std::string& name)
{
    return std::filesystem::path(QUILLON_SOURCE_DIR) / "data" / "reference" / name;
}

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gf_resetCoreForTests();
        m_dir = makeTempFolder();
        gf_setWorkFolder(m_dir);
    }
    void TearDown() override
    {
        gf_resetCoreForTests();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    const std::filesystem::path& dir() const { return m_dir; }

private:
    std::filesystem::path m_dir;
};

} // namespace qmt::test
