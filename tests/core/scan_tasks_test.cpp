#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif

#include <gtest/gtest.h>

#include "core/Reset.h"
#include "core/ScanTasks.h"
#include "tests/core/CoreTestSupport.h"
#include "StalledReads.h"

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
    // The scan clock stands: no task times out unless a test moves the clock on.
    void SetUp() override
    {
        gf_resetCoreForTests();
        gf_setScanClockForTests(ScanClock::time_point{});
    }
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

#ifdef __linux__
// A program held to some cores (a small machine, or a benchmark pinned to it) starts as many
// workers as it has cores, not as many as the machine has.
TEST_F(ScanTasksTest, LimitCountsTheCoresTheProgramMayUse)
{
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof(all), &all), 0);
    std::vector<int> cpus;
    for (int c = 0; c < CPU_SETSIZE; ++c) {
        if (CPU_ISSET(c, &all)) {
            cpus.push_back(c);
        }
    }
    for (const std::size_t count : {std::size_t{1}, std::size_t{2}}) {
        if (cpus.size() < count) {
            continue;
        }
        cpu_set_t some;
        CPU_ZERO(&some);
        for (std::size_t i = 0; i < count; ++i) {
            CPU_SET(cpus[i], &some);
        }
        ASSERT_EQ(sched_setaffinity(0, sizeof(some), &some), 0);
        gf_initBglTasks();
        EXPECT_EQ(g_maxBglTasks, count);
    }
    ASSERT_EQ(sched_setaffinity(0, sizeof(all), &all), 0);
}
#endif

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

TEST_F(ScanTasksTest, OnePoolRunsEveryTaskOfAScanWhileAGivenUpTaskHoldsOneOfItsThreads)
{
    // A file read at a slow pace must not hold up the others: only its own result is given up,
    // the next tasks run on the pool's other threads and the one started in its place, and no
    // thread is started per task.
    g_maxBglTasks = 3;
    Gate gate;
    std::mutex idsMutex;
    std::set<std::thread::id> threads;
    {
        ScanPool pool;
        ScanTasks<int> tasks(pool, 30ms);
        StalledReads reads(30ms);
        ASSERT_TRUE(tasks.start([&reads, held = gate.heldTask(-1)] {
            reads.stall();
            return held();
        }));
        EXPECT_THROW(tasks.takeOldest(), ScanTimedOut);
        EXPECT_EQ(gf_stalledBglTasks(), 1);
        std::vector<int> results;
        for (int i = 0; i < 200; ++i) {
            ASSERT_TRUE(tasks.start([&idsMutex, &threads, i] {
                std::lock_guard lock(idsMutex);
                threads.insert(std::this_thread::get_id());
                return i;
            }));
            if (tasks.overfull())
                results.push_back(tasks.takeOldest());
        }
        while (!tasks.empty())
            results.push_back(tasks.takeOldest());
        ASSERT_EQ(results.size(), 200u);
        for (int i = 0; i < 200; ++i)
            EXPECT_EQ(results[static_cast<std::size_t>(i)], i);
        EXPECT_TRUE(gf_waitForBglTasks(5s, false));
        EXPECT_EQ(g_runningBglTasks.load(), 1); // the given-up task still runs
    }
    EXPECT_LE(threads.size(), 3u);
    gate.open();
    EXPECT_TRUE(gf_waitForBglTasks(5s));
    EXPECT_EQ(gf_stalledBglTasks(), 0);
}

TEST_F(ScanTasksTest, PoolHoldingTheNextTaskGivesItToTheFirstWorkerThatEndsAndDropsItWhenItEnds)
{
    g_maxBglTasks = 2;
    std::atomic<int> ran{0};
    const auto counted = [&ran](int RESULT) {
        return [&ran, RESULT] {
            ++ran;
            return RESULT;
        };
    };
    for (const bool poolEndsFirst : {false, true}) {
        ran = 0;
        Gate gate;
        {
            ScanPool pool(2, true);
            ScanTasks<int> tasks(pool, 30ms);
            ASSERT_TRUE(tasks.start(gate.heldTask(1)));
            ASSERT_TRUE(tasks.start(gate.heldTask(2)));
            // Both workers are busy: the next task is held without waiting and not counted, and
            // one more would wait for a worker or the place.
            ASSERT_TRUE(tasks.start(counted(3)));
            EXPECT_EQ(g_runningBglTasks.load(), 2);
            EXPECT_FALSE(pool.mayPost());
            if (!poolEndsFirst) {
                gate.open();
                EXPECT_EQ(tasks.takeOldest(), 1);
                EXPECT_EQ(tasks.takeOldest(), 2);
                EXPECT_EQ(tasks.takeOldest(), 3);
            }
        }
        if (poolEndsFirst)
            gate.open();
        EXPECT_TRUE(gf_waitForBglTasks(5s));
        // A task still held when its pool ends is never started.
        EXPECT_EQ(ran.load(), poolEndsFirst ? 0 : 1);
    }
}

TEST_F(ScanTasksTest, SlowWorkerTimesOutAndIsDroppedWhileItGoesOnAlone)
{
    g_maxBglTasks = 2;
    // The slow task outlasts its limit on the scan clock, whatever the machine's load.
    StalledReads reads(30ms);
    ScanTasks<int> tasks(30ms);
    ASSERT_TRUE(tasks.start([&reads] {
        reads.stall();
        return 1;
    }));
    ASSERT_TRUE(tasks.start([] { return 2; }));
    try {
        tasks.takeOldest();
        FAIL() << "no time-out";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Future wait timed out after 0.03 seconds");
    }
    EXPECT_EQ(tasks.takeOldest(), 2);
    EXPECT_TRUE(tasks.empty());
    EXPECT_TRUE(gf_waitForBglTasks(5s, false)); // only the given-up task still runs
    EXPECT_EQ(g_runningBglTasks.load(), 1);
    reads.release();
    EXPECT_TRUE(gf_waitForBglTasks(5s));
    EXPECT_EQ(g_runningBglTasks.load(), 0);
    EXPECT_EQ(gf_futureTimeoutText(kScanWaitLimit), "Future wait timed out after 10 seconds");
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

TEST_F(ScanTasksTest, WaitsEndOnAStop)
{
    g_maxBglTasks = 1;
    Gate gate;
    std::atomic<bool> stop{false};
    {
        ScanTasks<int> tasks(30ms, [&stop] { return stop.load(); });
        ASSERT_TRUE(tasks.start(gate.heldTask(1)));
        // All workers busy: a stop ends the wait for a free one without starting anything...
        stop = true;
        EXPECT_FALSE(tasks.start([] { return 3; }));
        EXPECT_EQ(tasks.size(), 1u);
        // ...and the wait for a result.
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

TEST_F(ScanTasksTest, FileTasksGiveResultsInStartOrderAndNameTheFileThatFailed)
{
    g_maxBglTasks = 2;
    ScanPool pool(2);
    ScanFileTasks<int> tasks(pool, 5s, {});
    std::vector<std::string> taken;
    const auto takeOldest = [&] {
        ScanFileTasks<int>::File file;
        try {
            taken.push_back(std::to_string(tasks.takeOldest(file)));
        } catch (const std::exception& e) {
            taken.push_back(std::filesystem::path(file).string() + ": " + e.what());
        }
    };
    for (int n = 1; n <= 5; ++n) {
        const std::filesystem::path file = "file" + std::to_string(n) + ".cfg";
        ASSERT_TRUE(tasks.start(file.native(), [n] {
            if (n == 3)
                throw std::runtime_error("broken");
            return n * 10;
        }));
        if (tasks.overfull())
            takeOldest();
    }
    while (!tasks.empty())
        takeOldest();
    EXPECT_EQ(taken, (std::vector<std::string>{"10", "20", "file3.cfg: broken", "40", "50"}));
}

TEST_F(ScanTasksTest, StalledTasksCostTheirOwnTimeOutAndNoHealthyResultIsLost)
{
    // Reads that hang (a drive that stopped answering) among healthy ones, on 2 workers and a
    // pool that holds the next task, as the livery scan runs: each stalled read is given up
    // once its own limit has passed, a thread takes its place, and every healthy result comes.
    for (const std::set<int>& stalled : {std::set<int>{0}, std::set<int>{3, 4}, std::set<int>{5, 20, 21, 22}}) {
        g_maxBglTasks = 2;
        StalledReads reads(10s);
        std::vector<std::string> taken;
        {
            ScanPool pool(2, true);
            ScanFileTasks<int> tasks(pool, 10s, {});
            const auto takeOldest = [&] {
                ScanFileTasks<int>::File file;
                try {
                    taken.push_back(std::to_string(tasks.takeOldest(file)));
                } catch (const ScanTimedOut& e) {
                    taken.push_back(file + ": " + e.what());
                }
            };
            for (int n = 0; n < 30; ++n) {
                ASSERT_TRUE(tasks.start("f" + std::to_string(n), [n, &stalled, &reads] {
                    if (stalled.count(n) != 0)
                        reads.stall();
                    return n;
                }));
                if (tasks.overfull())
                    takeOldest();
            }
            while (!tasks.empty())
                takeOldest();
        }
        std::vector<std::string> expected;
        for (int n = 0; n < 30; ++n)
            expected.push_back(stalled.count(n) != 0 ? "f" + std::to_string(n) + ": Future wait timed out after 10 seconds"
                                                     : std::to_string(n));
        EXPECT_EQ(taken, expected);
        // Reads stalled together cost one limit, not one each.
        EXPECT_LE(reads.advances(), static_cast<int>(stalled.size()));
        EXPECT_EQ(gf_stalledBglTasks(), static_cast<int>(stalled.size()));
        reads.release();
        EXPECT_TRUE(gf_waitForBglTasks(5s));
        EXPECT_EQ(gf_stalledBglTasks(), 0);
    }
}

TEST_F(ScanTasksTest, PastTheCapOfStalledTasksNoWorkerIsStartedAndTheWaitSaysSo)
{
    g_maxBglTasks = 1;
    StalledReads reads(10s);
    {
        ScanPool pool(1);
        ScanTasks<int> tasks(pool, 10s);
        for (int n = 0; n <= kMaxStalledTasks; ++n) {
            ASSERT_TRUE(tasks.start([&reads] {
                reads.stall();
                return 0;
            }));
            EXPECT_THROW(tasks.takeOldest(), ScanTimedOut);
        }
        EXPECT_EQ(gf_stalledBglTasks(), kMaxStalledTasks);
        try {
            tasks.start([] { return 1; });
            ADD_FAILURE() << "a worker was free";
        } catch (const ScanTimedOut& e) {
            EXPECT_EQ(std::string(e.what()), "No free scan worker: 17 tasks stalled");
        }
    }
    reads.release();
    EXPECT_TRUE(gf_waitForBglTasks(5s));
}

class TreeWalkTest : public ScanTasksTest {
protected:
    void SetUp() override
    {
        ScanTasksTest::SetUp();
        m_root = makeTempFolder();
    }
    void TearDown() override
    {
        ScanTasksTest::TearDown();
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }

    // Files and folders below the root, so that every folder has sub-folders and files mixed.
    void buildTree()
    {
        for (int a = 0; a < 5; ++a) {
            const auto top = m_root / ("a" + std::to_string(a));
            for (int b = 0; b < 6; ++b) {
                const auto mid = top / ("b" + std::to_string(b));
                for (int c = 0; c < 3; ++c)
                    std::filesystem::create_directories(mid / ("c" + std::to_string(c)));
                writeFile(mid / "f.txt", "x");
                writeFile(mid / ("c" + std::to_string(b % 3)) / "g.txt", "x");
            }
            writeFile(top / "skip.txt", "x");
        }
    }

    // What one thread walking depth first in listing order meets (skipping folders named c1 and
    // files named skip.txt), as the reference of the walk.
    void plainWalk(const std::filesystem::path& FOLDER, std::vector<std::string>& MET) const
    {
        for (const auto& entry : std::filesystem::directory_iterator(FOLDER)) {
            if (entry.is_directory()) {
                if (entry.path().filename() != "c1")
                    plainWalk(entry.path(), MET);
            } else if (entry.path().filename() != "skip.txt") {
                MET.push_back(entry.path().string());
            }
        }
    }

    // The same rules for the walk under test, listing one folder.
    static void listFolder(const std::filesystem::path& FOLDER, std::vector<WalkEntry>& OUT)
    {
        for (const auto& entry : std::filesystem::directory_iterator(FOLDER)) {
            if (entry.is_directory()) {
                if (entry.path().filename() != "c1")
                    OUT.push_back(WalkEntry{WalkEntry::Kind::folder, entry.path().native(), 0, {}, false});
            } else if (entry.path().filename() != "skip.txt") {
                OUT.push_back(WalkEntry{WalkEntry::Kind::file, entry.path().native(), 0, {}, false});
            }
        }
    }

    std::filesystem::path m_root;
};

TEST_F(TreeWalkTest, WorkersListAheadButTheWalkMeetsFilesInPlainDepthFirstOrder)
{
    buildTree();
    std::vector<std::string> expected;
    plainWalk(m_root, expected);
    ASSERT_EQ(expected.size(), 50u); // the g.txt files in c1 folders are not met
    for (unsigned workers : {1u, 2u, 8u}) {
        g_maxBglTasks = workers;
        std::atomic<int> inside{0};
        std::atomic<int> peak{0};
        std::atomic<bool> rootSeen{false};
        std::vector<std::string> met;
        FolderWalkRules rules;
        rules.foldersPerTask = 4;
        rules.list = [&](const std::filesystem::path& FOLDER, bool ROOT, FolderOpener&, std::vector<WalkEntry>& OUT) {
            const int now = ++inside;
            for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
            }
            EXPECT_EQ(ROOT, FOLDER == m_root);
            rootSeen = rootSeen || ROOT;
            listFolder(FOLDER, OUT);
            --inside;
        };
        rules.lostNote = [](const std::filesystem::path&, const std::string& CAUSE) { return CAUSE; };
        rules.visit = [&](WalkEntry& ENTRY) {
            EXPECT_EQ(ENTRY.kind, WalkEntry::Kind::file);
            met.push_back(ENTRY.path);
            return true;
        };
        gf_walkFolderTree(m_root, rules);
        EXPECT_EQ(met, expected) << workers << " workers";
        EXPECT_LE(peak.load(), static_cast<int>(workers));
        EXPECT_TRUE(rootSeen);
        EXPECT_TRUE(gf_waitForBglTasks(5s));
    }
}

TEST_F(TreeWalkTest, NotesKeepTheirPlaceAndAStalledListingLosesOnlyItsOwnFolder)
{
    buildTree();
    const std::filesystem::path slow = m_root / "a1";
    const std::string lost = "lost a1: Future wait timed out after 10 seconds";
    // The reference: a1 is lost with one note in its place, each b2 folder begins with a note,
    // and the walk ends at the first file below a3.
    std::vector<std::string> expected;
    bool ended = false;
    std::function<void(const std::filesystem::path&)> reference = [&](const std::filesystem::path& FOLDER) {
        if (FOLDER == slow) {
            expected.push_back(lost);
            return;
        }
        if (FOLDER.filename() == "b2")
            expected.push_back("note " + FOLDER.parent_path().filename().string());
        for (const auto& entry : std::filesystem::directory_iterator(FOLDER)) {
            if (ended)
                return;
            if (entry.is_directory()) {
                if (entry.path().filename() != "c1")
                    reference(entry.path());
            } else if (entry.path().filename() != "skip.txt") {
                expected.push_back(entry.path().string());
                ended = entry.path().string().find("/a3/") != std::string::npos;
            }
        }
    };
    reference(m_root);

    // One folder a task, and many: a stalled folder in a task's batch loses only itself.
    for (const std::size_t perTask : {std::size_t{1}, std::size_t{64}}) {
        g_maxBglTasks = 2;
        StalledReads reads(10s);
        std::vector<std::string> met;
        FolderWalkRules rules;
        rules.waitLimit = 10s;
        rules.foldersPerTask = perTask;
        rules.list = [&](const std::filesystem::path& FOLDER, bool, FolderOpener&, std::vector<WalkEntry>& OUT) {
            if (FOLDER == slow)
                reads.stall();
            if (FOLDER.filename() == "b2")
                OUT.push_back(WalkEntry{WalkEntry::Kind::note, {}, 0, "note " + FOLDER.parent_path().filename().string(), false});
            listFolder(FOLDER, OUT);
        };
        rules.lostNote = [](const std::filesystem::path& FOLDER, const std::string& CAUSE) {
            return "lost " + FOLDER.filename().string() + ": " + CAUSE;
        };
        int timedOut = 0;
        rules.visit = [&](WalkEntry& ENTRY) {
            met.push_back(ENTRY.kind == WalkEntry::Kind::note ? ENTRY.note : ENTRY.path);
            timedOut += ENTRY.timedOut ? 1 : 0;
            return ENTRY.path.find("/a3/") == std::string::npos;
        };
        gf_walkFolderTree(m_root, rules);
        reads.release();
        // Listings the walk no longer needed go on alone; they use this test's rules.
        EXPECT_TRUE(gf_waitForBglTasks(5s));
        EXPECT_EQ(met, expected) << perTask;
        EXPECT_EQ(timedOut, 1);
        EXPECT_EQ(reads.advances(), 1);
    }
}

} // namespace
} // namespace qmt::test
