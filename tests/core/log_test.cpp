#include <thread>

#include "CoreTestSupport.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/Text.h"

namespace qmt::test {
namespace {

using LogTest = CoreTest;

TEST_F(LogTest, FirstLineWarningsContinuationAndClosedLog)
{
    gf_logLine("before open");
    gf_setClockForTests(SysClock::from_time_t(1796617021)); // Mon Dec 07 04:57:01 2026
    ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "MSFS 2020"));
    EXPECT_TRUE(gf_isLogOpen());
    gf_logLine("{:5} airports read", 67);
    gf_logWarning("disk {}", "full");
    gf_logContinuation("more");
    gf_logLine("plain {} braces");
    gf_closeLog();
    gf_logLine("after close");
    EXPECT_FALSE(gf_isLogOpen());
    EXPECT_EQ(readFile(dir() / "Log.txt"),
              "Mon Dec 07 04:17:01 2026 (utc) Quillon version 12.0.0 for MSFS 2020\n"
              "   67 airports read\n"
              "==> disk full\n"
              "          more\n"
              "plain {} braces\n");
}

TEST_F(LogTest, KeepsThreeOlderGenerations)
{
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
        gf_logLine("run {}", i);
        gf_closeLog();
    }
    EXPECT_NE(readFile(dir() / "Log.txt").find("run 4"), std::string::npos);
    EXPECT_NE(readFile(dir() / "Log0.txt").find("run 3"), std::string::npos);
    EXPECT_NE(readFile(dir() / "Log00.txt").find("run 2"), std::string::npos);
    EXPECT_NE(readFile(dir() / "Log000.txt").find("run 1"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir() / "Log0000.txt"));
}

TEST_F(LogTest, LinesFromManyThreadsStayWhole)
{
    ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) gf_logLine("thread {} line {} end", t, i);
        });
    for (auto& th : threads) th.join();
    gf_closeLog();
    const auto lines = gf_splitTrim(readFile(dir() / "Log.txt"), '\n');
    int count = 0;
    for (const auto& l : lines)
        if (l.starts_with("thread ")) {
            EXPECT_TRUE(l.ends_with(" end")) << l;
            ++count;
        }
    EXPECT_EQ(count, 800);
}

TEST_F(LogTest, OpenFailsForAnUnwritablePath)
{
    EXPECT_FALSE(gf_openLog(dir() / "missing" / "Log.txt", "test"));
    gf_logLine("ignored");
    EXPECT_FALSE(gf_isLogOpen());
}

} // namespace
} // namespace qmt::test
