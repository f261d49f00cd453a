#pragma once
// Scan workers shared by the livery scan and the add-on airport scan (they never run at the
// same time). A scan starts its workers once, as a ScanPool of g_maxBglTasks threads, and hands
// them one task per file (or per few folders to list); the walk keeps the futures in start
// order, never lets more than g_maxBglTasks tasks run, takes the oldest result when more are
// pending than that, and waits for it until the task has run for 10 s.
//
// A task that runs longer than its limit (a read hanging on a drive that stopped answering) is
// given up: it no longer counts against the limit, and its pool starts a thread in place of the
// one it holds, so that the other files go on at once; at most kMaxStalledTasks are given up
// at a time. Each task's limit runs from its own start, on the scan clock (a test can set it).
//
// A task's future is a std::packaged_task's, never std::async's: the future of std::async
// blocks in its destructor, so dropping a timed-out result would hang the walk. A dropped task
// goes on alone on its worker and lowers the count when it ends.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/FolderHandle.h"

namespace qmt {

// Largest number of scan tasks running at once: the hardware threads this process may use, 2
// when the platform reports none. Set at start-up (and by tests) before any worker runs.
extern unsigned g_maxBglTasks;
// Number of scan tasks handed to workers and not yet ended (a task that is given up still
// counts until it ends). Raised when a task is handed over, lowered when it ends, on every path
// (an exception included), under the leaf mutex of ScanTasks.cpp so that waiters are woken.
extern std::atomic<int> g_runningBglTasks;

// How long one task may run before it is given up.
inline constexpr std::chrono::milliseconds kScanWaitLimit{10000};
// Tasks given up and still running at most: each holds a thread; past this no thread is
// started in place of a stalled one.
inline constexpr int kMaxStalledTasks = 16;

// The clock of the scans' time-outs: the steady clock, or the test clock when one is set.
using ScanClock = std::chrono::steady_clock;
ScanClock::time_point gf_scanNow();
// Tests: the scan clock stands at NOW until advanced (every wait looks again at once) or reset.
void gf_setScanClockForTests(ScanClock::time_point NOW);
void gf_advanceScanClockForTests(std::chrono::milliseconds STEP);
void gf_resetScanClockForTests();
// Tests: advances the scan clock by STEP when exactly RUNNING scan tasks run (decided under the
// lock that every task's start is taken under, so no other task began before the step): true
// when it did.
bool gf_advanceScanClockIfRunningForTests(int RUNNING, std::chrono::milliseconds STEP);
// Tasks given up after their time-out that still run.
int gf_stalledBglTasks();

// Sets g_maxBglTasks from the hardware (start-up). The count is left alone: workers of an
// earlier scan may still run and lower it when they end.
void gf_initBglTasks();

// Waits at most LIMIT until no scan task runs; true when none runs (closing down, and the
// start of a scan, so that late tasks of an earlier scan cannot touch the new one's lists).
// Without GIVEN_UP the tasks given up are not waited for: a stalled read holds its own scan's
// lists only, and a new scan must not wait for it again.
bool gf_waitForBglTasks(std::chrono::milliseconds LIMIT, bool GIVEN_UP = true);

// "Future wait timed out after 10 seconds" for the limit given.
std::string gf_futureTimeoutText(std::chrono::milliseconds LIMIT);

// A wait cut short by a stop request.
class ScanStopped : public std::runtime_error {
public:
    ScanStopped() : std::runtime_error("scan stopped") {}
};

// A task that did not end within its limit, or that no worker could take up: what it was to
// read is left unread, and the scan is to run again.
class ScanTimedOut : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The worker threads of one scan, started together when it starts (not one per file or per
// batch), running the tasks handed to them in the order given. The pool's end (its destructor)
// waits for nothing: the workers run the tasks handed to them to their end, a task given up by
// its walk included, and then end on their own.
//
// A pool made with HOLD_NEXT keeps one task more than may run in a waiting place while every
// worker is busy: the first worker that ends takes it up at once, still within the limit,
// instead of idling until the walk, woken by the end, hands it the next task. A walk of many
// small files would otherwise leave each worker idle for a wake-up per file. The task held
// counts in g_runningBglTasks only once it is handed to a worker; a pool that ends drops it
// unstarted.
class ScanPool {
public:
    explicit ScanPool(unsigned THREADS = g_maxBglTasks, bool HOLD_NEXT = false);
    ~ScanPool();
    ScanPool(const ScanPool&) = delete;
    ScanPool& operator=(const ScanPool&) = delete;

    // Counts the task in g_runningBglTasks and queues it for the next free worker.
    void post(std::function<void()> TASK);
    // Whether post may be called now without passing the limit: a worker is free, or the pool
    // holds the next task and its waiting place is empty.
    bool mayPost() const;
    // A pool that holds the next task: the task goes to a free worker as post does, or to the
    // empty waiting place. False (TASK left as it was) when neither is there.
    bool postOrHold(std::function<void()>& TASK);
    bool holdsNext() const { return m_holdNext; }
    unsigned threads() const { return m_threads; }

    struct Shared; // the queue, which the workers keep alive

    // How many pools this process has started (the scan benchmarks and tests check that a scan
    // starts its workers once).
    static std::uint64_t started();

private:
    std::shared_ptr<Shared> m_shared;
    unsigned m_threads;
    bool m_holdNext;
};

namespace scan_detail {
// The times of one task: when it started (on the scan clock) and whether it was given up. The
// walk keeps it beside the task's future; the worker and the give-up decide under the leaf lock.
struct TaskTiming {
    explicit TaskTiming(std::chrono::milliseconds LIMIT) : limit(LIMIT) {}
    const std::chrono::milliseconds limit;
    std::optional<ScanClock::time_point> started; // under the leaf lock
    bool givenUp = false;                         // under the leaf lock
    bool ended = false;                           // under the leaf lock
    std::weak_ptr<ScanPool::Shared> pool;         // the pool whose thread runs it
};
// Called by the task's worker when it begins TIMING's task.
void lf_beginTimed(const std::shared_ptr<TaskTiming>& TIMING);
// Waits until IS_READY() or the task of TIMING is given up (or has run past its limit with no
// thread to spare): true when ready. A task not begun yet is waited for at most its limit from
// the start of this wait. Throws ScanStopped when STOP returned true first.
bool lf_awaitTask(const std::function<bool()>& IS_READY, TaskTiming& TIMING, const std::function<bool()>& STOP);
// Whether the task of TIMING is given up or past its limit (overdue tasks are given up here).
bool lf_timedOut(TaskTiming& TIMING);
// Asks DONE again and again for some microseconds, handing the core to others in between;
// whether it became true. Waits that are usually short look so before they sleep.
bool lf_spinUntil(const std::function<bool()>& DONE);
// The same for a walk waiting for its workers. The walking thread is one thread more than the
// workers: it goes on looking only while fewer tasks run than this process has cores, else it
// would look on a core that a worker needs and slow down what it waits for (it hands the core
// on once, then sleeps).
bool lf_walkSpinUntil(const std::function<bool()>& DONE);
// Waits until fewer than g_maxBglTasks tasks run, not counting those given up (or, with POOL
// given, until POOL->mayPost()): true; false when STOP returned true first. Tasks past their
// limit are given up meanwhile; throws ScanTimedOut "No free scan worker: {} tasks stalled"
// when every task that counts is past its limit and no more may be given up.
bool lf_waitForFreeWorker(std::chrono::milliseconds LIMIT, const std::function<bool()>& STOP,
                          const ScanPool* POOL = nullptr);
// How many scan tasks have ended (or were given up) so far, and a wait of at most LIMIT until
// that changes from COUNT: the walk keeps the workers busy while it waits for one result.
std::uint64_t lf_workersEnded();
void lf_waitForWorkerEnd(std::uint64_t COUNT, std::chrono::milliseconds LIMIT);
} // namespace scan_detail

// The futures of the tasks that one folder walk started, in start order.
template <typename RESULT>
class ScanTasks {
public:
    using Task = std::function<RESULT()>;

    // The tasks run on POOL. STOP (may be empty) is asked during every wait; a stop ends the
    // wait early.
    explicit ScanTasks(ScanPool& POOL, std::chrono::milliseconds WAIT_LIMIT = kScanWaitLimit,
                       std::function<bool()> STOP = {})
        : m_pool(&POOL), m_waitLimit(WAIT_LIMIT), m_stop(std::move(STOP))
    {
    }
    // Without a pool, the tasks get one of their own, started with the first task.
    explicit ScanTasks(std::chrono::milliseconds WAIT_LIMIT = kScanWaitLimit, std::function<bool()> STOP = {})
        : m_waitLimit(WAIT_LIMIT), m_stop(std::move(STOP))
    {
    }
    // Pending results are dropped; their tasks go on alone.
    ~ScanTasks() = default;
    ScanTasks(const ScanTasks&) = delete;
    ScanTasks& operator=(const ScanTasks&) = delete;

    // Waits until fewer than g_maxBglTasks tasks run (or the pool's waiting place is empty):
    // false when a stop came first. Throws std::runtime_error when none became free within the
    // wait limit.
    bool waitForFreeWorker()
    {
        return scan_detail::lf_waitForFreeWorker(m_waitLimit, m_stop,
                                                 m_pool != nullptr && m_pool->holdsNext() ? m_pool : nullptr);
    }

    // Waits for a free worker (or, in a pool that holds the next task, for its empty waiting
    // place), then hands the task over and keeps its future at the end. False (nothing started)
    // when a stop came first. Throws std::runtime_error when no worker became
    // free within the wait limit, std::system_error when the pool's threads cannot be started.
    bool start(Task TASK)
    {
        const ScanPool* holding = m_pool != nullptr && m_pool->holdsNext() ? m_pool : nullptr;
        if (!scan_detail::lf_waitForFreeWorker(m_waitLimit, m_stop, holding))
            return false;
        if (m_pool == nullptr) {
            m_ownPool = std::make_unique<ScanPool>();
            m_pool = m_ownPool.get();
        }
        // std::function needs a copyable callable: the task moves into a shared holder.
        auto holder = std::make_shared<std::packaged_task<RESULT()>>(std::move(TASK));
        std::future<RESULT> future = holder->get_future();
        auto timing = std::make_shared<scan_detail::TaskTiming>(m_waitLimit);
        std::function<void()> run = [holder, timing] {
            scan_detail::lf_beginTimed(timing);
            (*holder)();
        };
        if (holding == nullptr)
            m_pool->post(std::move(run));
        // Only the walk hands tasks to its pool, so the place it waited for is still there;
        // should it be gone, the wait starts again.
        while (holding != nullptr && !m_pool->postOrHold(run)) {
            if (!scan_detail::lf_waitForFreeWorker(m_waitLimit, m_stop, holding))
                return false;
        }
        m_futures.push_back(Pending{std::move(future), std::move(timing)});
        return true;
    }

    // Whether start would hand the task over without waiting.
    bool mayStartNow() const
    {
        return m_pool != nullptr ? m_pool->mayPost()
                                 : g_runningBglTasks.load() - gf_stalledBglTasks() < static_cast<int>(g_maxBglTasks);
    }

    // More results are pending than workers may run: the walk takes the oldest now.
    bool overfull() const { return m_futures.size() > g_maxBglTasks; }
    bool empty() const { return m_futures.empty(); }
    std::size_t size() const { return m_futures.size(); }

    bool oldestReady() const
    {
        return !m_futures.empty() &&
               m_futures.front().future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
    // Whether the oldest task was given up or has run past its limit.
    bool oldestTimedOut() const { return !m_futures.empty() && scan_detail::lf_timedOut(*m_futures.front().timing); }
    std::chrono::milliseconds waitLimit() const { return m_waitLimit; }
    bool stopAsked() const { return m_stop && m_stop(); }

    // Waits for the oldest result until its task has run for the wait limit, and removes it from
    // the list, ready or not. Throws ScanTimedOut (gf_futureTimeoutText) when it was not ready,
    // ScanStopped when a stop came first, or the task's own exception.
    RESULT takeOldest()
    {
        Pending oldest = std::move(m_futures.front());
        m_futures.pop_front();
        const bool ready = scan_detail::lf_awaitTask(
            [&oldest] { return oldest.future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            *oldest.timing, m_stop);
        if (!ready)
            throw ScanTimedOut(gf_futureTimeoutText(m_waitLimit));
        return oldest.future.get();
    }

private:
    std::unique_ptr<ScanPool> m_ownPool;
    ScanPool* m_pool = nullptr;
    std::chrono::milliseconds m_waitLimit;
    std::function<bool()> m_stop;
    struct Pending {
        std::future<RESULT> future;
        std::shared_ptr<scan_detail::TaskTiming> timing;
    };
    std::deque<Pending> m_futures;
};

// The tasks of one walk that each read one file, with the file of each, in start order: a file
// whose result fails or times out is named with its reason.
template <typename RESULT>
class ScanFileTasks {
public:
    using File = std::filesystem::path::string_type;
    using Task = typename ScanTasks<RESULT>::Task;

    ScanFileTasks(ScanPool& POOL, std::chrono::milliseconds WAIT_LIMIT, std::function<bool()> STOP)
        : m_tasks(POOL, WAIT_LIMIT, std::move(STOP))
    {
    }

    // Hands the task that reads FILE to a worker; false when a stop came while waiting for a
    // free one. Throws as ScanTasks::start.
    bool start(File FILE, Task TASK)
    {
        if (!m_tasks.start(std::move(TASK)))
            return false;
        m_files.push_back(std::move(FILE));
        return true;
    }

    bool overfull() const { return m_tasks.overfull(); }
    bool empty() const { return m_tasks.empty(); }

    // The oldest task's result, its file in FILE; throws as ScanTasks::takeOldest (FILE is set
    // before), and the task's reader, if it still runs, ends on its own.
    RESULT takeOldest(File& FILE)
    {
        FILE = std::move(m_files.front());
        m_files.pop_front();
        return m_tasks.takeOldest();
    }

private:
    ScanTasks<RESULT> m_tasks;
    std::deque<File> m_files;
};

// ---------------------------------------------------------------------------------------------
// Folder tree walk whose listing runs on the scan workers. Opening and listing folders is most
// of a scan's time in large trees, so the folders are listed a few at a time by workers, ahead
// of the walk, while the walking thread still meets every file and note in the order in which
// one thread walking depth first in listing order would.

// One entry kept from a folder listing.
struct WalkEntry {
    enum class Kind : std::uint8_t { folder, file, note };
    Kind kind = Kind::file;
    // The folder to enter or the file found, as native text: a std::filesystem::path costs a
    // parse and several allocations per entry, which the walking thread would pay for each.
    std::filesystem::path::string_type path;
    std::uintmax_t bytes = 0;   // the file's size when the listing knows it, else 0
    std::string note;           // a note: the text to log at this place of the walk
    bool endsWalk = false;      // a note after which the walk goes no further
    bool timedOut = false;      // a note on a folder left unlisted for want of time
    // A file read whole, as UTF-8 text, while its folder was open for the listing (textRead):
    // its reader need not open it again.
    std::string text{};
    bool textRead = false;
};

struct FolderWalkRules {
    // Lists one folder (on a scan worker, so it must touch nothing shared): the entries to keep,
    // in listing order. ROOT: FOLDER is the folder the walk started from.
    // OPENER: the task's opener of folders, for a listing that opens FOLDER through it.
    std::function<void(const std::filesystem::path& FOLDER, bool ROOT, FolderOpener& OPENER, std::vector<WalkEntry>& OUT)>
        list;
    // The note for a folder whose listing was lost (its worker timed out or failed), from the
    // folder and the cause.
    std::function<std::string(const std::filesystem::path& FOLDER, const std::string& CAUSE)> lostNote;
    // Called on the walking thread with every file and note in walk order; false ends the walk.
    std::function<bool(WalkEntry& ENTRY)> visit;
    std::chrono::milliseconds waitLimit = kScanWaitLimit;
    std::function<bool()> stop;
    // Folders listed by one task at most.
    std::size_t foldersPerTask = 64;
    // The scan's workers; without them the walk starts workers of its own.
    ScanPool* pool = nullptr;
};

// Walks the tree below ROOT. A listing task that times out loses the folder it was listing (and
// what is below it) with a lostNote in its place; the folders it had listed are kept and those
// it had not begun are listed again; the walk goes on. Throws ScanStopped
// when a stop came during a wait, and whatever VISIT throws.
void gf_walkFolderTree(const std::filesystem::path& ROOT, const FolderWalkRules& RULES);

} // namespace qmt
