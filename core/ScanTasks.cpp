#include "core/ScanTasks.h"

#include <algorithm>
#include <condition_variable>

#if defined(__linux__)
#include <sched.h>
#endif
#include <list>
#include <mutex>
#include <optional>

#include <fmt/format.h>

namespace qmt {

unsigned g_maxBglTasks = 2;
std::atomic<int> g_runningBglTasks{0};

namespace {

// Taken to lower g_runningBglTasks and to wait for that, and to give tasks up; lock order: it
// before a pool's mutex (a thread is started in place of a task given up). Both are never
// destroyed: a detached worker may still be ending while the program exits.
std::mutex& s_taskEndMutex = *new std::mutex;
std::condition_variable& s_taskEnded = *new std::condition_variable;

// Waits are cut into slices so that a stop request is seen soon.
constexpr std::chrono::milliseconds kStopSlice{20};

using SteadyClock = std::chrono::steady_clock;

std::string lf_secondsText(std::chrono::milliseconds LIMIT)
{
    return fmt::format("{:g}", static_cast<double>(LIMIT.count()) / 1000.0);
}

// Workers ended since the start: changed under s_taskEndMutex (so that waiters are woken), read
// without it while a walk looks before it sleeps.
std::atomic<std::uint64_t> s_workersEnded{0};

// The task held for the first worker that ends (of the pool that holds it), under
// s_taskEndMutex; s_holding tells whether there is one without the lock.
struct HeldTask {
    std::shared_ptr<ScanPool::Shared> pool;
    std::function<void()> task;
};
std::optional<HeldTask>& s_held = *new std::optional<HeldTask>;
std::atomic<bool> s_holding{false};

bool lf_queue(ScanPool::Shared& SHARED, std::function<void()> TASK);
bool lf_poolOpen(ScanPool::Shared& SHARED);

// Tasks given up that still run (under s_taskEndMutex; read without it by mayPost).
std::atomic<int> s_stalled{0};
// The timings of the tasks that run, under s_taskEndMutex.
std::vector<std::shared_ptr<scan_detail::TaskTiming>>& s_timed = *new std::vector<std::shared_ptr<scan_detail::TaskTiming>>;
// The timed task this worker runs, and whether the worker ends after it (a thread was started
// in its place when it was given up).
thread_local std::shared_ptr<scan_detail::TaskTiming> t_timing;
thread_local bool t_endAfterTask = false;
// The pool of this worker thread.
thread_local std::weak_ptr<ScanPool::Shared> t_pool;

// The test clock: its offset from the steady clock while set.
std::atomic<bool> s_testClock{false};
std::atomic<ScanClock::rep> s_testNow{0};

// Tasks that count against the limit: those given up do not.
int lf_busy()
{
    return g_runningBglTasks.load() - s_stalled.load();
}

// Takes the held task for a place that became free (under s_taskEndMutex).
std::optional<HeldTask> lf_takeHeldLocked()
{
    std::optional<HeldTask> next;
    if (s_held && lf_busy() < static_cast<int>(g_maxBglTasks)) {
        g_runningBglTasks.fetch_add(1);
        next = std::move(s_held);
        s_held.reset();
        s_holding = false;
    }
    return next;
}

void lf_workerEnded(std::function<void()>* RUN_HERE = nullptr);

// Queues a task taken from the holding place; a pool that ended meanwhile takes no task: the
// place is given back and the task dropped unstarted, as the pool's end does with a task it
// still holds.
void lf_queueHeld(std::optional<HeldTask> NEXT)
{
    if (NEXT && !lf_queue(*NEXT->pool, std::move(NEXT->task)))
        lf_workerEnded();
}

// RUN_HERE (given by a worker): the task held for this worker's pool, which the worker runs
// next itself: handing it to another worker would cost a wake-up per file.
void lf_workerEnded(std::function<void()>* RUN_HERE)
{
    std::optional<HeldTask> next;
    {
        std::lock_guard lock(s_taskEndMutex);
        if (t_timing) {
            t_timing->ended = true;
            std::erase(s_timed, t_timing);
            if (t_timing->givenUp) {
                s_stalled.fetch_sub(1);
                t_endAfterTask = true;
            }
            t_timing.reset();
        }
        g_runningBglTasks.fetch_sub(1);
        ++s_workersEnded;
        // The worker's place goes to the task held for it, if there is one.
        next = lf_takeHeldLocked();
        s_taskEnded.notify_all();
    }
    if (next && RUN_HERE != nullptr && !t_endAfterTask && next->pool == t_pool.lock() &&
        lf_poolOpen(*next->pool)) {
        *RUN_HERE = std::move(next->task);
        return;
    }
    lf_queueHeld(std::move(next));
}

// Lowers the count when the worker's body ends, whichever way it ends; RUN_HERE as for
// lf_workerEnded.
struct WorkerCountGuard {
    explicit WorkerCountGuard(std::function<void()>* RUN_HERE) : m_runHere(RUN_HERE) {}
    WorkerCountGuard(const WorkerCountGuard&) = delete;
    WorkerCountGuard& operator=(const WorkerCountGuard&) = delete;
    ~WorkerCountGuard() { lf_workerEnded(m_runHere); }

private:
    std::function<void()>* m_runHere;
};

bool lf_stopAsked(const std::function<bool()>& STOP)
{
    return STOP && STOP();
}

// How long a worker or a walk looks again before it sleeps: a file's task takes some
// microseconds, and a sleep and its wake-up in the kernel cost as much as the task.
constexpr std::chrono::microseconds kSpinLimit{100};

// The threads this process may run on (a process bound to 2 of 8 cores runs 2 tasks at once);
// 0 when the platform tells nothing.
unsigned lf_coresAllowed()
{
    unsigned n = std::thread::hardware_concurrency();
#if defined(__linux__)
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        n = std::min(n == 0 ? 1024u : n, static_cast<unsigned>(CPU_COUNT(&allowed)));
#endif
    return n;
}

// Asks DONE again and again for some microseconds while MAY_LOOK allows it; when it does not,
// DONE is asked once more after the core was handed on once.
bool lf_lookUntil(const std::function<bool()>& DONE, const std::function<bool()>& MAY_LOOK)
{
    const auto until = SteadyClock::now() + kSpinLimit;
    do {
        if (DONE())
            return true;
        // Hands the core to a thread that waits for one, such as the task being waited for.
        std::this_thread::yield();
    } while (MAY_LOOK() && SteadyClock::now() < until);
    return DONE();
}

// The cores the walk's looking is measured against. Looking pays on 2 cores as well: the looker
// hands its core on at every turn, and a sleep and its wake-up cost more processor time than
// the look (measured on 2 cores of a busy machine: a scan that blocks at once takes about a
// fifth longer and more processor time).
int lf_lookingCores()
{
    static const int cores = static_cast<int>(lf_coresAllowed() == 0 ? 2 : lf_coresAllowed());
    return cores;
}

} // namespace

namespace scan_detail {

bool lf_spinUntil(const std::function<bool()>& DONE)
{
    return lf_lookUntil(DONE, [] { return true; });
}

bool lf_walkSpinUntil(const std::function<bool()>& DONE)
{
    return lf_lookUntil(DONE, [] { return lf_busy() < lf_lookingCores(); });
}

} // namespace scan_detail

ScanClock::time_point gf_scanNow()
{
    if (s_testClock.load())
        return ScanClock::time_point(ScanClock::duration(s_testNow.load()));
    return ScanClock::now();
}

void gf_setScanClockForTests(ScanClock::time_point NOW)
{
    std::lock_guard lock(s_taskEndMutex);
    s_testNow = NOW.time_since_epoch().count();
    s_testClock = true;
    s_taskEnded.notify_all();
}

void gf_advanceScanClockForTests(std::chrono::milliseconds STEP)
{
    std::lock_guard lock(s_taskEndMutex);
    s_testNow = s_testNow.load() + std::chrono::duration_cast<ScanClock::duration>(STEP).count();
    s_taskEnded.notify_all();
}

bool gf_advanceScanClockIfRunningForTests(int RUNNING, std::chrono::milliseconds STEP)
{
    std::lock_guard lock(s_taskEndMutex);
    if (g_runningBglTasks.load() != RUNNING)
        return false;
    s_testNow = s_testNow.load() + std::chrono::duration_cast<ScanClock::duration>(STEP).count();
    s_taskEnded.notify_all();
    return true;
}

void gf_resetScanClockForTests()
{
    std::lock_guard lock(s_taskEndMutex);
    s_testClock = false;
    s_taskEnded.notify_all();
}

int gf_stalledBglTasks()
{
    return s_stalled.load();
}

void gf_initBglTasks()
{
    const unsigned n = lf_coresAllowed();
    g_maxBglTasks = n == 0 ? 2 : n;
}

struct ScanPool::Shared {
    std::mutex mutex; // leaf: held only to queue or take a task
    std::condition_variable queued;
    std::deque<std::function<void()>> tasks;
    std::atomic<std::size_t> waiting{0}; // tasks queued, read without the lock while looking
    std::atomic<int> lookers{0};         // idle workers looking for a task before they sleep
    int sleepers = 0;                    // workers asleep on queued
    bool closed = false;

    // Waking a sleeping thread costs more than a file's task (much more on virtual machines), so
    // one or two idle workers keep looking for the next task for a moment before they sleep,
    // and a task handed over while one looks wakes nobody.
    static constexpr int kMaxLookers = 2;

    // One worker: runs tasks until the pool is closed and no task is left.
    void work(const std::shared_ptr<Shared>& SELF)
    {
        t_pool = SELF;
        for (;;) {
            if (lookers.fetch_add(1) < kMaxLookers)
                scan_detail::lf_spinUntil([this] { return waiting.load(std::memory_order_acquire) > 0; });
            lookers.fetch_sub(1);
            std::function<void()> task;
            {
                std::unique_lock lock(mutex);
                ++sleepers;
                queued.wait(lock, [this] { return closed || !tasks.empty(); });
                --sleepers;
                if (tasks.empty())
                    return;
                task = std::move(tasks.front());
                tasks.pop_front();
                waiting.fetch_sub(1, std::memory_order_relaxed);
            }
            while (task) {
                std::function<void()> next;
                {
                    WorkerCountGuard guard(&next);
                    task();
                }
                // A thread runs in this one's place since its task was given up.
                if (t_endAfterTask)
                    return;
                task = std::move(next);
            }
        }
    }
};

namespace {

// Queues a task counted already for the next free worker of the pool; false when the pool has
// ended (its workers may be gone).
bool lf_queue(ScanPool::Shared& SHARED, std::function<void()> TASK)
{
    bool wake = false;
    {
        std::lock_guard lock(SHARED.mutex);
        if (SHARED.closed)
            return false;
        SHARED.tasks.push_back(std::move(TASK));
        // A worker that is still looking takes the task without a wake-up call; a task more
        // than there are lookers wakes a sleeper, so that no task waits behind another.
        const std::size_t queued = SHARED.waiting.fetch_add(1, std::memory_order_release) + 1;
        wake = SHARED.sleepers > 0 && queued > static_cast<std::size_t>(std::max(SHARED.lookers.load(), 0));
    }
    if (wake)
        SHARED.queued.notify_one();
    return true;
}

std::atomic<std::uint64_t> l_poolsStarted{0};

bool lf_poolOpen(ScanPool::Shared& SHARED)
{
    std::lock_guard lock(SHARED.mutex);
    return !SHARED.closed;
}
} // namespace

std::uint64_t ScanPool::started() { return l_poolsStarted.load(); }

ScanPool::ScanPool(unsigned THREADS, bool HOLD_NEXT)
    : m_shared(std::make_shared<Shared>()), m_threads(std::max(THREADS, 1u)), m_holdNext(HOLD_NEXT)
{
    l_poolsStarted.fetch_add(1);
    // The threads are detached: a task given up by its walk may outlive the pool, and the
    // shared queue outlives both.
    try {
        for (unsigned i = 0; i < m_threads; ++i)
            std::thread([shared = m_shared] { shared->work(shared); }).detach();
    } catch (...) {
        // The threads already started end at once.
        {
            std::lock_guard lock(m_shared->mutex);
            m_shared->closed = true;
        }
        m_shared->queued.notify_all();
        throw;
    }
}

ScanPool::~ScanPool()
{
    if (m_holdNext) {
        // A task still held is dropped unstarted (after the lock: it may own large results).
        std::optional<HeldTask> dropped;
        std::lock_guard lock(s_taskEndMutex);
        if (s_held && s_held->pool == m_shared) {
            dropped = std::move(s_held);
            s_held.reset();
            s_holding = false;
        }
    }
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->closed = true;
    }
    m_shared->queued.notify_all();
}

void ScanPool::post(std::function<void()> TASK)
{
    g_runningBglTasks.fetch_add(1);
    lf_queue(*m_shared, std::move(TASK));
}

bool ScanPool::mayPost() const
{
    return lf_busy() < static_cast<int>(g_maxBglTasks) || (m_holdNext && !s_holding.load());
}

bool ScanPool::postOrHold(std::function<void()>& TASK)
{
    {
        std::lock_guard lock(s_taskEndMutex);
        if (lf_busy() >= static_cast<int>(g_maxBglTasks)) {
            if (!m_holdNext || s_held)
                return false;
            s_held = HeldTask{m_shared, std::move(TASK)};
            s_holding = true;
            return true;
        }
        g_runningBglTasks.fetch_add(1);
    }
    lf_queue(*m_shared, std::move(TASK));
    return true;
}

bool gf_waitForBglTasks(std::chrono::milliseconds LIMIT, bool GIVEN_UP)
{
    std::unique_lock lock(s_taskEndMutex);
    return s_taskEnded.wait_for(lock, LIMIT, [GIVEN_UP] { return (GIVEN_UP ? g_runningBglTasks.load() : lf_busy()) <= 0; });
}

std::string gf_futureTimeoutText(std::chrono::milliseconds LIMIT)
{
    return fmt::format("Future wait timed out after {} seconds", lf_secondsText(LIMIT));
}

namespace {

// Gives TIMING's task up (under s_taskEndMutex): it no longer counts against the limit, and its
// pool gets a thread in place of the one it holds. False when it has ended, or when
// kMaxStalledTasks are given up already.
bool lf_giveUpLocked(scan_detail::TaskTiming& TIMING)
{
    if (TIMING.givenUp)
        return true;
    if (TIMING.ended || s_stalled.load() >= kMaxStalledTasks)
        return false;
    if (const auto pool = TIMING.pool.lock()) {
        bool open = false;
        {
            std::lock_guard poolLock(pool->mutex);
            open = !pool->closed;
        }
        if (open) {
            try {
                std::thread([pool] { pool->work(pool); }).detach();
            } catch (const std::system_error&) {
                return false; // no thread to spare: the task keeps its place
            }
        }
    }
    TIMING.givenUp = true;
    s_stalled.fetch_add(1);
    ++s_workersEnded;
    s_taskEnded.notify_all();
    return true;
}

// Gives up every task past its limit (under s_taskEndMutex); NEXT: the place freed goes to the
// task held, if there is one (queued by the caller after the lock).
void lf_giveUpOverdueLocked(std::optional<HeldTask>& NEXT)
{
    const auto now = gf_scanNow();
    for (std::size_t i = 0; i < s_timed.size(); ++i) {
        scan_detail::TaskTiming& timing = *s_timed[i];
        if (!timing.givenUp && timing.started && now - *timing.started >= timing.limit)
            lf_giveUpLocked(timing);
    }
    if (!NEXT)
        NEXT = lf_takeHeldLocked();
}

bool lf_overdueLocked(const scan_detail::TaskTiming& TIMING)
{
    return TIMING.started && gf_scanNow() - *TIMING.started >= TIMING.limit;
}

// Whether every task that counts against the limit has run past its limit (none may be given
// up any more): waiting for a free worker would be waiting for a stalled one.
bool lf_allCountedOverdueLocked()
{
    int overdue = 0;
    for (const auto& timing : s_timed) {
        if (!timing->givenUp && lf_overdueLocked(*timing))
            ++overdue;
    }
    return overdue > 0 && overdue >= lf_busy();
}

} // namespace

namespace scan_detail {

void lf_beginTimed(const std::shared_ptr<TaskTiming>& TIMING)
{
    std::lock_guard lock(s_taskEndMutex);
    TIMING->started = gf_scanNow();
    TIMING->pool = t_pool;
    s_timed.push_back(TIMING);
    t_timing = TIMING;
}

bool lf_timedOut(TaskTiming& TIMING)
{
    std::optional<HeldTask> next;
    bool timedOut = false;
    {
        std::lock_guard lock(s_taskEndMutex);
        lf_giveUpOverdueLocked(next);
        timedOut = TIMING.givenUp || lf_overdueLocked(TIMING);
    }
    lf_queueHeld(std::move(next));
    return timedOut;
}

bool lf_awaitTask(const std::function<bool()>& IS_READY, TaskTiming& TIMING, const std::function<bool()>& STOP)
{
    if (lf_walkSpinUntil(IS_READY))
        return true;
    const auto waitStart = gf_scanNow();
    for (;;) {
        std::optional<HeldTask> next;
        {
            std::unique_lock lock(s_taskEndMutex);
            if (IS_READY())
                return true;
            lf_giveUpOverdueLocked(next);
            const bool over = TIMING.givenUp || lf_overdueLocked(TIMING) ||
                              (!TIMING.started && gf_scanNow() - waitStart >= TIMING.limit);
            if (!over && !next) {
                if (lf_stopAsked(STOP))
                    throw ScanStopped();
                s_taskEnded.wait_for(lock, kStopSlice);
                continue;
            }
            if (over && IS_READY())
                return true;
            if (over) {
                lock.unlock();
                lf_queueHeld(std::move(next));
                return false;
            }
        }
        lf_queueHeld(std::move(next));
    }
}

bool lf_waitForFreeWorker(std::chrono::milliseconds LIMIT, const std::function<bool()>& STOP, const ScanPool* POOL)
{
    (void)LIMIT; // each task's own limit bounds the wait
    const auto mayGo = [POOL] {
        return POOL != nullptr ? POOL->mayPost() : lf_busy() < static_cast<int>(g_maxBglTasks);
    };
    if (lf_walkSpinUntil(mayGo))
        return true;
    for (;;) {
        std::optional<HeldTask> next;
        {
            std::unique_lock lock(s_taskEndMutex);
            lf_giveUpOverdueLocked(next);
            if (!next) {
                if (mayGo())
                    return true;
                if (lf_stopAsked(STOP))
                    return false;
                if (lf_allCountedOverdueLocked())
                    throw ScanTimedOut(fmt::format("No free scan worker: {} tasks stalled", g_runningBglTasks.load()));
                s_taskEnded.wait_for(lock, kStopSlice);
                continue;
            }
        }
        lf_queueHeld(std::move(next));
    }
}

std::uint64_t lf_workersEnded()
{
    return s_workersEnded.load();
}

void lf_waitForWorkerEnd(std::uint64_t COUNT, std::chrono::milliseconds LIMIT)
{
    std::unique_lock lock(s_taskEndMutex);
    s_taskEnded.wait_for(lock, LIMIT, [COUNT] { return s_workersEnded != COUNT; });
}

} // namespace scan_detail

namespace {

// A folder met by the tree walk. It owns the nodes of its sub-folders until the walk has gone
// through them.
struct WalkNode {
    enum class State : std::uint8_t { waiting, requested, listed };
    std::filesystem::path::string_type path; // handed to the listing task
    State state = State::waiting;
    std::vector<WalkEntry> entries;
    std::vector<std::unique_ptr<WalkNode>> children; // one per folder entry, in order
    std::size_t nextEntry = 0;
    std::size_t nextChild = 0;
    std::list<WalkNode*>::iterator inFrontier;
};

using Listings = std::vector<std::vector<WalkEntry>>;

// The listings of one task, handed over one folder at a time: when the task is given up, the
// walk keeps the folders it listed, loses the one it was listing and lists the others again.
struct ListingBatch {
    std::mutex mutex;
    Listings done;          // in the task's order
    bool cancelled = false; // the walk took what was done: the task lists no more
};

// Folders listed ahead of the walk at most; bounds the memory of a walk that waits long for
// one folder while the workers list on.
constexpr std::size_t kMaxListedAhead = 4096;
// Longest wait for a worker to end before the walk looks at its listings again.
constexpr std::chrono::milliseconds kWorkerEndSlice{20};

class TreeWalk {
public:
    explicit TreeWalk(const FolderWalkRules& RULES)
        : m_rules(RULES), m_list(std::make_shared<const FolderWalkRules>(RULES)),
          m_tasks(RULES.pool != nullptr ? ScanTasks<Listings>(*RULES.pool, RULES.waitLimit, RULES.stop)
                                        : ScanTasks<Listings>(RULES.waitLimit, RULES.stop))
    {
    }

    void run(const std::filesystem::path& ROOT)
    {
        auto root = std::make_unique<WalkNode>();
        root->path = ROOT.native();
        m_rootNode = root.get();
        root->inFrontier = m_frontier.insert(m_frontier.end(), root.get());
        std::vector<WalkNode*> stack{root.get()};
        while (!stack.empty()) {
            listAhead();
            WalkNode& top = *stack.back();
            if (top.state == WalkNode::State::waiting) {
                startListing(&top);
                continue;
            }
            if (top.state == WalkNode::State::requested) {
                awaitListing();
                continue;
            }
            if (top.nextEntry < top.entries.size()) {
                WalkEntry& entry = top.entries[top.nextEntry++];
                if (entry.kind == WalkEntry::Kind::folder) {
                    stack.push_back(top.children[top.nextChild++].get());
                } else if (!m_rules.visit(entry) || entry.endsWalk) {
                    return;
                }
                continue;
            }
            stack.pop_back();
            --m_listedAhead;
            if (!stack.empty())
                stack.back()->children[stack.back()->nextChild - 1].reset();
        }
    }

private:
    // The walk needs a listing that is not there yet: the oldest is taken when it is ready or
    // its wait limit has passed; until then each worker that ends lets the walk hand out more
    // folders, so that no worker idles while the walk waits.
    void awaitListing()
    {
        const auto now = gf_scanNow();
        if (m_oldestSince != m_collected) {
            m_oldestSince = m_collected;
            m_waitStart = now;
        }
        const std::uint64_t ended = scan_detail::lf_workersEnded();
        // A listing not even begun within the limit (every thread held by stalled tasks) is
        // taken as timed out too.
        if (m_tasks.oldestReady() || m_tasks.oldestTimedOut() || now - m_waitStart >= m_tasks.waitLimit()) {
            collectOldest();
            return;
        }
        if (m_tasks.stopAsked())
            throw ScanStopped();
        if (!scan_detail::lf_walkSpinUntil([&] { return m_tasks.oldestReady() || scan_detail::lf_workersEnded() != ended; }))
            scan_detail::lf_waitForWorkerEnd(ended, kWorkerEndSlice);
    }

    // Starts listing tasks while a worker is free, without waiting.
    void listAhead()
    {
        while (!m_frontier.empty() && m_listedAhead < kMaxListedAhead && m_tasks.size() <= g_maxBglTasks &&
               m_tasks.mayStartNow())
            startListing(nullptr);
    }

    // Hands FIRST (when given) and the next folders of the frontier to a worker; the folders
    // are spread over the workers while there are few of them.
    void startListing(WalkNode* FIRST)
    {
        while (m_tasks.size() > g_maxBglTasks)
            collectOldest();
        if (FIRST != nullptr && FIRST->state != WalkNode::State::waiting)
            return; // listed while the oldest results were taken
        const std::size_t workers = std::max<std::size_t>(g_maxBglTasks, 1);
        const std::size_t count =
            std::clamp<std::size_t>(m_frontier.size() / workers, 1, std::max<std::size_t>(m_rules.foldersPerTask, 1));
        std::vector<WalkNode*> nodes;
        if (FIRST != nullptr)
            take(FIRST, nodes);
        while (nodes.size() < count && !m_frontier.empty())
            take(m_frontier.front(), nodes);
        std::vector<std::filesystem::path::string_type> paths;
        paths.reserve(nodes.size());
        for (WalkNode* node : nodes)
            paths.push_back(node->path);
        const bool root = nodes.front() == m_rootNode;
        auto batch = std::make_shared<ListingBatch>();
        try {
            const bool started = m_tasks.start([rules = m_list, paths = std::move(paths), root, batch] {
                FolderOpener opener;
                for (std::size_t i = 0; i < paths.size(); ++i) {
                    {
                        std::lock_guard lock(batch->mutex);
                        if (batch->cancelled)
                            break;
                    }
                    std::vector<WalkEntry> listing;
                    const std::filesystem::path folder(paths[i]);
                    opener.setFollowing(i + 1 < paths.size() ? std::string_view(paths[i + 1]) : std::string_view());
                    try {
                        rules->list(folder, root && i == 0, opener, listing);
                    } catch (const std::exception& e) {
                        listing.push_back(WalkEntry{WalkEntry::Kind::note, {}, 0, rules->lostNote(folder, e.what()), false});
                    }
                    std::lock_guard lock(batch->mutex);
                    if (batch->cancelled)
                        break;
                    batch->done.push_back(std::move(listing));
                }
                return Listings{};
            });
            if (!started)
                throw ScanStopped();
        } catch (const ScanStopped&) {
            throw;
        } catch (const std::exception& e) {
            lose(nodes, 0, e.what());
            requeue(nodes, 1);
            return;
        }
        m_requested.push_back(Requested{std::move(nodes), std::move(batch)});
    }

    void take(WalkNode* NODE, std::vector<WalkNode*>& NODES)
    {
        m_frontier.erase(NODE->inFrontier);
        NODE->state = WalkNode::State::requested;
        NODES.push_back(NODE);
    }

    // Takes the oldest listing task's folders: their sub-folders join the front of the
    // frontier in walk order, so that folders are listed about in the order the walk needs them.
    void collectOldest()
    {
        Requested requested = std::move(m_requested.front());
        m_requested.pop_front();
        ++m_collected;
        std::vector<WalkNode*>& nodes = requested.nodes;
        std::string failure;
        try {
            m_tasks.takeOldest();
        } catch (const ScanStopped&) {
            throw;
        } catch (const std::exception& e) {
            failure = e.what();
        }
        Listings listings;
        {
            std::lock_guard lock(requested.batch->mutex);
            requested.batch->cancelled = true;
            listings = std::move(requested.batch->done);
        }
        if (listings.size() < nodes.size()) {
            // The folder being listed is lost; those after it were not begun: they go back to
            // the front of the frontier, in order, to be listed again.
            lose(nodes, listings.size(), failure.empty() ? std::string("its listing ended early") : failure);
            requeue(nodes, listings.size() + 1);
        }
        for (std::size_t i = 0; i < listings.size(); ++i) {
            WalkNode& node = *nodes[i];
            node.entries = std::move(listings[i]);
            const auto front = m_frontier.begin();
            for (WalkEntry& entry : node.entries) {
                if (entry.kind != WalkEntry::Kind::folder)
                    continue;
                auto child = std::make_unique<WalkNode>();
                child->path = std::move(entry.path);
                child->inFrontier = m_frontier.insert(front, child.get());
                node.children.push_back(std::move(child));
            }
            listed(node);
        }
    }

    // NODES from FROM on go back to the front of the frontier, in order, to be listed again.
    void requeue(const std::vector<WalkNode*>& NODES, std::size_t FROM)
    {
        const auto front = m_frontier.begin();
        for (std::size_t i = FROM; i < NODES.size(); ++i) {
            NODES[i]->state = WalkNode::State::waiting;
            NODES[i]->inFrontier = m_frontier.insert(front, NODES[i]);
        }
    }

    // The folder NODES[AT] whose listing is lost: nothing below it is walked, and a note
    // naming it takes its place.
    void lose(const std::vector<WalkNode*>& NODES, std::size_t AT, const std::string& CAUSE)
    {
        WalkNode& node = *NODES[AT];
        node.entries.clear();
        WalkEntry note{WalkEntry::Kind::note, {}, 0, m_rules.lostNote(std::filesystem::path(node.path), CAUSE), false};
        note.timedOut = true;
        node.entries.push_back(std::move(note));
        listed(node);
    }

    void listed(WalkNode& NODE)
    {
        NODE.state = WalkNode::State::listed;
        ++m_listedAhead;
    }

    const FolderWalkRules& m_rules;
    std::shared_ptr<const FolderWalkRules> m_list; // what the workers use
    ScanTasks<Listings> m_tasks;
    struct Requested {
        std::vector<WalkNode*> nodes;
        std::shared_ptr<ListingBatch> batch;
    };
    std::deque<Requested> m_requested; // the folders of each pending task
    std::list<WalkNode*> m_frontier;                // folders met and not yet handed out
    std::size_t m_listedAhead = 0;
    const WalkNode* m_rootNode = nullptr;
    // Since when the walk waits for the oldest listing (known by the number taken before it).
    std::size_t m_collected = 0;
    std::size_t m_oldestSince = static_cast<std::size_t>(-1);
    ScanClock::time_point m_waitStart;
};

} // namespace

void gf_walkFolderTree(const std::filesystem::path& ROOT, const FolderWalkRules& RULES)
{
    TreeWalk(RULES).run(ROOT);
}

} // namespace qmt
