#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "core/Reset.h"
#include "core/ScanTasks.h"

namespace qmt::test {
namespace {

using namespace std::chrono_literals;

// A task that holds its worker until the test opens the gate.
class Gate {
public:
    void open() { m_promise.set_value(); }
    std::function<int()> heldTask(int RESULT)
    {
        return [f = m_future, RESULT] {
            f.wait();
            return RESULT;
        };
    }

private:
    std::promise<void> m_promise;
    std::shared_future<void> m_future = m_promise.get_future().share();
};

class ScanTasksTest : public ::testing::Test {
protected:
    void SetUp() override { gf_resetCoreForTests(); }
    void TearDown() override
    {
        // Every worker a test started has ended before the next test counts again.
        EXPECT_TRUE(gf_waitForBglTasks(5s));
        gf_resetCoreForTests();
    }
};

TEST_F(ScanTasksTest, LimitFromHardwareLeavesRunningWorkersCounted)
{
    g_runningBglTasks = 0;
    gf_initBglTasks();
    EXPECT_GE(g_maxBglTasks, 1u);
    EXPECT_EQ(g_runningBglTasks.load(), 0);
}

TEST_F(ScanTasksTest, NeverMoreWorkersThanTheLimitAndResultsInStartOrder)
{
    g_maxBglTasks = 2;
    std::atomic<int> inside{0};
    std::atomic<int> peak{0};
    ScanTasks<int> tasks(5s);
    std::vector<int> results;
    for (int i = 0; i < 60; ++i) {
        ASSERT_TRUE(tasks.start([&inside, &peak, i] {
            const int now = inside.fetch_add(1) + 1;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            for (int k = 0; k < 200; ++k)
                std::this_thread::yield();
            inside.fetch_sub(1);
            return i;
        }));
        EXPECT_LE(tasks.size(), 3u);
        if (tasks.overfull())
            results.push_back(tasks.takeOldest());
    }
    while (!tasks.empty())
        results.push_back(tasks.takeOldest());
    EXPECT_LE(peak.load(), 2);
    ASSERT_EQ(results.size(), 60u);
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(results[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(gf_waitForBglTasks(5s));
    EXPECT_EQ(g_runningBglTasks.load(), 0);
}

TEST_F(ScanTasksTest, SlowWorkerTimesOutAndIsDroppedWhileItGoesOnAlone)
{
    g_maxBglTasks = 2;
    Gate gate;
    ScanTasks<int> tasks(30ms);
    ASSERT_TRUE(tasks.start(gate.heldTask(1)));
    ASSERT_TRUE(tasks.start([] { return 2; }));
    try {
        tasks.takeOldest();
        FAIL() << "no time-out";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Future wait timed out after 0.03 seconds");
    }
    EXPECT_EQ(tasks.takeOldest(), 2);
    EXPECT_TRUE(tasks.empty());
    EXPECT_EQ(g_runningBglTasks.load(), 1);
    gate.open();
    EXPECT_TRUE(gf_waitForBglTasks(5s));
    EXPECT_EQ(g_runningBglTasks.load(), 0);
    EXPECT_EQ(gf_futureTimeoutText(SCAN_WAIT_LIMIT), "Future wait timed out after 10 seconds");
}

TEST_F(ScanTasksTest, ThrowingWorkersPassTheirExceptionAndLowerTheCount)
{
    g_maxBglTasks = 8;
    ScanTasks<int> tasks(5s);
    int thrown = 0;
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(tasks.start([i]() -> int {
            if (i % 2 == 0)
                throw std::invalid_argument("bad file " + std::to_string(i));
            return i;
        }));
        if (tasks.overfull()) {
            try {
                tasks.takeOldest();
            } catch (const std::invalid_argument&) {
                ++thrown;
            }
        }
    }
    while (!tasks.empty()) {
        try {
            tasks.takeOldest();
        } catch (const std::invalid_argument&) {
            ++thrown;
        }
    }
    EXPECT_EQ(thrown, 20);
    EXPECT_TRUE(gf_waitForBglTasks(5s));
    EXPECT_EQ(g_runningBglTasks.load(), 0);
}

TEST_F(ScanTasksTest, WaitsAreBoundedAndEndOnAStop)
{
    g_maxBglTasks = 1;
    Gate gate;
    bool stop = false;
    {
        ScanTasks<int> tasks(30ms, [&stop] { return stop; });
        ASSERT_TRUE(tasks.start(gate.heldTask(1)));
        // All workers busy: the wait for a free one is bounded...
        EXPECT_THROW(tasks.start([] { return 2; }), std::runtime_error);
        // ...and a stop ends it without starting anything.
        stop = true;
        EXPECT_FALSE(tasks.start([] { return 3; }));
        EXPECT_EQ(tasks.size(), 1u);
        EXPECT_THROW(tasks.takeOldest(), ScanStopped);
    }
    // The held worker outlived its list; closing down waits for it, bounded.
    EXPECT_FALSE(gf_waitForBglTasks(10ms));
    gate.open();
    EXPECT_TRUE(gf_waitForBglTasks(5s));
}

TEST_F(ScanTasksTest, DroppedListDoesNotWaitForItsWorkers)
{
    g_maxBglTasks = 2;
    Gate gate;
    {
        ScanTasks<std::vector<int>> tasks(5s);
        ASSERT_TRUE(tasks.start([f = gate.heldTask(0)] { return std::vector<int>(3, f()); }));
    }
    EXPECT_EQ(g_runningBglTasks.load(), 1);
    gate.open();
    EXPECT_TRUE(gf_waitForBglTasks(5s));
}

} // namespace
} // namespace qmt::test
