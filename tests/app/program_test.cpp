#include "app/Program.h"
#include "core/Paths.h"
#include "platform/window_instance.h"

#include "TestFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qmt {
namespace {

std::optional<CommandLine> lf_parse(std::vector<std::string> ARGS, std::string* ERROR = nullptr)
{
    std::string error;
    auto line = gf_parseCommandLine(ARGS, error);
    if (ERROR != nullptr)
        *ERROR = error;
    return line;
}

TEST(CommandLineTest, FoldersScenarioAndDuration)
{
    const auto line = lf_parse({"--work", "run", "--data", "data", "--scenario", "s.jsonl", "--duration", "30",
                                "--record", "t.csv", "--airport-file", "KLAX.xml", "--facility", "KLAX.json"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->recordFile, "t.csv");
    EXPECT_EQ(line->airportFile, "KLAX.xml");
    EXPECT_EQ(line->facilityFile, "KLAX.json");
    EXPECT_EQ(line->workFolder, "run");
    EXPECT_EQ(line->dataFolder, "data");
    EXPECT_EQ(line->scenarioFile, "s.jsonl");
    EXPECT_EQ(line->duration, std::chrono::milliseconds(30000));
    EXPECT_FALSE(line->production);
    const auto defaults = lf_parse({});
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->workFolder, ".");
    EXPECT_FALSE(defaults->duration);
}

TEST(CommandLineTest, ProductionInEitherSpellingAndAnyCase)
{
    for (const char* arg : {"--production", "/production", "--PRODUCTION", "/Production"}) {
        const auto line = lf_parse({arg});
        ASSERT_TRUE(line) << arg;
        EXPECT_TRUE(line->production) << arg;
    }
    for (const char* arg : {"--no-production", "/NO-PRODUCTION"}) {
        const auto line = lf_parse({arg});
        ASSERT_TRUE(line) << arg;
        EXPECT_FALSE(line->production) << arg;
    }
}

TEST(CommandLineTest, BadArgumentsAreRefusedWithAReason)
{
    std::string error;
    EXPECT_FALSE(lf_parse({"--frobnicate"}, &error));
    EXPECT_EQ(error, "unknown option '--frobnicate'");
    EXPECT_FALSE(lf_parse({"--work"}, &error));
    EXPECT_EQ(error, "option '--work' needs a value");
    for (const char* value : {"0", "-5", "abc", "12s", "nan", "inf", ""}) {
        EXPECT_FALSE(lf_parse({"--duration", value}, &error)) << value;
        EXPECT_NE(error.find("--duration"), std::string::npos);
    }
    const auto fraction = lf_parse({"--duration", "0.25"});
    ASSERT_TRUE(fraction);
    EXPECT_EQ(fraction->duration, std::chrono::milliseconds(250));
}

TEST(CommandLineTest, VirtualTimeSeedAndSoak)
{
    const auto line = lf_parse({"--virtual-time", "20", "--seed", "0", "--soak", "0.5", "--clock-start", "1796637600",
                                "--quit-at", "28800", "--new-flight-at", "3600", "--sample", "s.csv"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->virtualTime, 20.0);
    EXPECT_EQ(line->seed, 0u);
    EXPECT_EQ(line->soakStayHours, 0.5);
    EXPECT_EQ(line->clockStart, 1796637600.0);
    EXPECT_EQ(line->quitAt, 28800.0);
    EXPECT_EQ(line->newFlightAt, 3600.0);
    EXPECT_EQ(line->sampleFile, "s.csv");
    EXPECT_EQ(lf_parse({"--virtual-time", "max"})->virtualTime, 0.0);
    std::string error;
    const std::vector<std::vector<std::string>> refused = {
        {"--virtual-time", "0"}, {"--virtual-time", "fast"}, {"--seed", "-1"}, {"--seed", "4294967296"},
        {"--soak", "0"}, {"--quit-at", "0"}};
    for (const auto& args : refused) {
        EXPECT_FALSE(lf_parse(args, &error)) << args[0] << " " << args[1];
        EXPECT_NE(error.find(args[0]), std::string::npos) << error;
    }
}

// scripts/run and scripts/soak take the lock of this file before they empty a working folder.
TEST(ProgramTest, ASecondProgramOnALockedFolderSaysWhyOnStderrAndEnds)
{
    const std::filesystem::path folder = test::gf_testFolder("locked");
    std::filesystem::create_directories(folder);
    const std::filesystem::path lock = gf_instanceLockPath("Local\\$Quillon$", folder);
    EXPECT_EQ(lock.filename(), "Local__Quillon_.lock");
    const int held = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const std::filesystem::path workBefore = g_workPath;
    CommandLine line;
    line.workFolder = folder.string();
    testing::internal::CaptureStderr();
    EXPECT_EQ(gf_quillonMain(line), -1);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("cannot start on the working folder " + folder.string()), std::string::npos) << said;
    EXPECT_NE(said.find("another Quillon runs there (it holds the lock " + lock.string() + ")"), std::string::npos)
        << said;
    EXPECT_FALSE(std::filesystem::exists(folder / "Log.txt"));
    ::close(held);
    gf_setWorkFolder(workBefore);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace qmt
