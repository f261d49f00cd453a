// The folders below the shell never include its headers: the shell includes them all, and a cycle
// would let a lower subsystem reach the worker's state behind its back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

TEST(LayeringTest, LowerFoldersNeverIncludeTheShell)
{
    const std::filesystem::path root = QUILLON_SOURCE_DIR;
    for (const char* folder : {"core", "simlink", "feed", "liveries", "engine", "parking", "airportscan", "platform"}) {
        if (!std::filesystem::exists(root / folder))
            continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
            const auto extension = entry.path().extension();
            if (extension != ".h" && extension != ".cpp")
                continue;
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number)
                EXPECT_EQ(line.find("#include \"app/"), std::string::npos) << entry.path() << ":" << number;
        }
    }
}

}  // namespace
