// The folders form a ladder: each includes only its own headers and those of the floors below
// it, so that a change in one floor can break only the floors above it, and a lower floor never
// reaches into the state of a higher one (it calls up through a seam registered at start-up).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Bottom to top; the README's layout section shows the same order.
constexpr std::array<std::string_view, 11> kFloors = {
    "core", "platform", "records", "simlink", "feed", "liveries", "stands", "engine", "parking", "airportscan", "app"};

std::ptrdiff_t lf_floorOf(std::string_view FOLDER)
{
    const auto it = std::find(kFloors.begin(), kFloors.end(), FOLDER);
    return it == kFloors.end() ? -1 : it - kFloors.begin();
}

TEST(LayeringTest, EachFolderIncludesOnlyItselfAndTheFloorsBelow)
{
    const std::filesystem::path root = QUILLON_SOURCE_DIR;
    int files = 0;
    for (const std::string_view folder : kFloors) {
        const std::ptrdiff_t floor = lf_floorOf(folder);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
            const auto extension = entry.path().extension();
            if (extension != ".h" && extension != ".cpp")
                continue;
            ++files;
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                const std::string_view prefix = "#include \"";
                const std::size_t slash = line.find('/');
                if (line.rfind(prefix, 0) != 0 || slash == std::string::npos)
                    continue;
                const std::string included = line.substr(prefix.size(), slash - prefix.size());
                const std::ptrdiff_t target = lf_floorOf(included);
                EXPECT_NE(target, -1) << entry.path() << ":" << number << " includes a folder that has no floor";
                EXPECT_LE(target, floor) << entry.path() << ":" << number << " includes the higher floor " << included;
            }
        }
    }
    EXPECT_GT(files, 100);
}

// Each floor builds into a library linked only to the floor below it, in the order of the build's
// floor list: that list must be this ladder, or the linker would allow what the includes forbid.
TEST(LayeringTest, TheBuildLinksTheFloorsInTheSameOrder)
{
    std::ifstream in(std::filesystem::path(QUILLON_SOURCE_DIR) / "CMakeLists.txt");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string_view opening = "set(QUILLON_FLOORS ";
    const std::size_t start = text.find(opening);
    ASSERT_NE(start, std::string::npos) << "CMakeLists.txt names no floor list";
    const std::size_t end = text.find(')', start);
    std::istringstream listed(text.substr(start + opening.size(), end - start - opening.size()));
    std::vector<std::string> floors;
    for (std::string word; listed >> word;)
        floors.push_back(word);
    EXPECT_EQ(floors, std::vector<std::string>(kFloors.begin(), kFloors.end()));
}

TEST(LayeringTest, EveryFolderOfTheProductHasAFloor)
{
    const std::filesystem::path root = QUILLON_SOURCE_DIR;
    for (const auto& entry : std::filesystem::directory_iterator(root)) {
        if (!entry.is_directory())
            continue;
        const std::string name = entry.path().filename().string();
        bool hasCode = false;
        for (const auto& file : std::filesystem::directory_iterator(entry.path()))
            hasCode = hasCode || file.path().extension() == ".cpp";
        const bool notProduct = name == "tests" || name == "bench" || name == "fuzz" || name == "tools" ||
                                name.rfind("build", 0) == 0 || name.front() == '.';
        if (hasCode && !notProduct) {
            EXPECT_NE(lf_floorOf(name), -1) << name << " holds code but has no floor";
        }
    }
}

}  // namespace
