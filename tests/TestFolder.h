#pragma once
// A temporary folder of the running test that no other process shares: the same test may run
// at the same time in another build (plain, sanitizers) or another checkout on this machine,
// and a folder named by the test alone would then be emptied under its feet.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace qmt::test {

inline std::filesystem::path gf_testFolder(const std::string& PREFIX)
{
    static std::atomic<unsigned> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = PREFIX + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    if (info != nullptr) {
        name += std::string("_") + info->test_suite_name() + "_" + info->name();
    }
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return std::filesystem::temp_directory_path() / name;
}

} // namespace qmt::test
