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

// Leaf lock: taken only to lower g_runningBglTasks and to wait for that. Both are never
// destroyed: a detached worker may still be ending while the program exits.
std::mutex& s_taskEndMutex = *new std::mutex;
std::condition_variable& s_taskEnded = *new std::condition_variable;

// Waits are cut into slices so that a stop request is seen soon.
constexpr std::chrono::milliseconds STOP_SLICE{20};

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

void lf_workerEnded()
{
    std::optional<HeldTask> next;
    {
        std::lock_guard lock(s_taskEndMutex);
        g_runningBglTasks.fetch_sub(1);
        ++s_workersEnded;
        // The worker's place goes to the task held for it, if there is one.
        if (s_held && g_runningBglTasks.load() < static_cast<int>(g_maxBglTasks)) {
            g_runningBglTasks.fetch_add(1);
            next = std::move(s_held);
            s_held.reset();
            s_holding = false;
        }
        s_taskEnded.notify_all();
    }
    // A pool that ended meanwhile takes no task: the place is given back and the task dropped
    // unstarted, as the pool's end does with a task it still holds.
    if (next && !lf_queue(*next->pool, std::move(next->task)))
        lf_workerEnded();
}

// Lowers the count when the worker's body ends, whichever way it ends.
struct WorkerCountGuard {
    WorkerCountGuard() = default;
    WorkerCountGuard(const WorkerCountGuard&) = delete;
    WorkerCountGuard& operator=(const WorkerCountGuard&) = delete;
    ~WorkerCountGuard() { lf_workerEnded(); }
};

bool lf_stopAsked(const std::function<bool()>& STOP)
{
    return STOP && STOP();
}

// How long a worker or a walk looks again before it sleeps: a file's task takes some
// microseconds, and a sleep and its wake-up in the kernel cost as much as the task.
constexpr std::chrono::microseconds SPIN_LIMIT{100};

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
    const auto until = SteadyClock::now() + SPIN_LIMIT;
    do {
        if (DONE())
            return true;
        // Hands the core to a thread that waits for one, such as the task being waited for.
        std::this_thread::yield();
    } while (MAY_LOOK() && SteadyClock::now() < until);
    return DONE();
}

} // namespace

namespace scan_detail {

bool lf_spinUntil(const std::function<bool()>& DONE)
{
    return lf_lookUntil(DONE, [] { return true; });
}

bool lf_walkSpinUntil(const std::function<bool()>& DONE)
{
    static const int cores = static_cast<int>(lf_coresAllowed() == 0 ? 2 : lf_coresAllowed());
    return lf_lookUntil(DONE, [] { return g_runningBglTasks.load() < cores; });
}

} // namespace scan_detail

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
    static constexpr int MAX_LOOKERS = 2;

    // One worker: runs tasks until the pool is closed and no task is left.
    void work()
    {
        for (;;) {
            if (lookers.fetch_add(1) < MAX_LOOKERS)
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
            {
                WorkerCountGuard guard;
                task();
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
            std::thread([shared = m_shared] { shared->work(); }).detach();
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
    return g_runningBglTasks.load() < static_cast<int>(g_maxBglTasks) || (m_holdNext && !s_holding.load());
}

bool ScanPool::postOrHold(std::function<void()>& TASK)
{
    {
        std::lock_guard lock(s_taskEndMutex);
        if (g_runningBglTasks.load() >= static_cast<int>(g_maxBglTasks)) {
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

bool gf_waitForBglTasks(std::chrono::milliseconds LIMIT)
{
    std::unique_lock lock(s_taskEndMutex);
    return s_taskEnded.wait_for(lock, LIMIT, [] { return g_runningBglTasks.load() <= 0; });
}

std::string gf_futureTimeoutText(std::chrono::milliseconds LIMIT)
{
    return fmt::format("Future wait timed out after {} seconds", lf_secondsText(LIMIT));
}

namespace scan_detail {

bool lf_waitForFreeWorker(std::chrono::milliseconds LIMIT, const std::function<bool()>& STOP, const ScanPool* POOL)
{
    const auto mayGo = [POOL] {
        return POOL != nullptr ? POOL->mayPost() : g_runningBglTasks.load() < static_cast<int>(g_maxBglTasks);
    };
    if (lf_walkSpinUntil(mayGo))
        return true;
    const auto deadline = SteadyClock::now() + LIMIT;
    std::unique_lock lock(s_taskEndMutex);
    while (!mayGo()) {
        if (lf_stopAsked(STOP))
            return false;
        const auto now = SteadyClock::now();
        if (now >= deadline)
            throw std::runtime_error(fmt::format("No free scan worker after {} seconds", lf_secondsText(LIMIT)));
        s_taskEnded.wait_for(lock, std::min<SteadyClock::duration>(STOP_SLICE, deadline - now));
    }
    return true;
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

bool lf_waitReady(const std::function<bool(std::chrono::milliseconds)>& IS_READY_WITHIN,
                  std::chrono::milliseconds LIMIT, const std::function<bool()>& STOP)
{
    if (lf_walkSpinUntil([&IS_READY_WITHIN] { return IS_READY_WITHIN(std::chrono::milliseconds(0)); }))
        return true;
    const auto deadline = SteadyClock::now() + LIMIT;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (IS_READY_WITHIN(std::clamp(left, std::chrono::milliseconds(0), STOP_SLICE)))
            return true;
        if (lf_stopAsked(STOP))
            throw ScanStopped();
        if (SteadyClock::now() >= deadline)
            return false;
    }
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

// Folders listed ahead of the walk at most; bounds the memory of a walk that waits long for
// one folder while the workers list on.
constexpr std::size_t MAX_LISTED_AHEAD = 4096;
// Longest wait for a worker to end before the walk looks at its listings again.
constexpr std::chrono::milliseconds WORKER_END_SLICE{20};

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
        const auto now = std::chrono::steady_clock::now();
        if (m_oldestSince != m_collected) {
            m_oldestSince = m_collected;
            m_waitStart = now;
        }
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_waitStart);
        const std::uint64_t ended = scan_detail::lf_workersEnded();
        if (m_tasks.oldestReady() || waited >= m_tasks.waitLimit()) {
            collectOldest(std::max(m_tasks.waitLimit() - waited, std::chrono::milliseconds(0)));
            return;
        }
        if (m_tasks.stopAsked())
            throw ScanStopped();
        if (!scan_detail::lf_walkSpinUntil([&] { return m_tasks.oldestReady() || scan_detail::lf_workersEnded() != ended; }))
            scan_detail::lf_waitForWorkerEnd(ended, std::min(WORKER_END_SLICE, m_tasks.waitLimit() - waited));
    }

    // Starts listing tasks while a worker is free, without waiting.
    void listAhead()
    {
        while (!m_frontier.empty() && m_listedAhead < MAX_LISTED_AHEAD && m_tasks.size() <= g_maxBglTasks &&
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
            paths.push_back(std::move(node->path));
        const bool root = nodes.front() == m_rootNode;
        try {
            const bool started = m_tasks.start([rules = m_list, paths = std::move(paths), root] {
                Listings listings(paths.size());
                for (std::size_t i = 0; i < paths.size(); ++i) {
                    try {
                        rules->list(std::filesystem::path(std::move(paths[i])), root && i == 0, listings[i]);
                    } catch (const std::exception& e) {
                        listings[i].push_back(WalkEntry{WalkEntry::Kind::note, {}, 0, rules->lostNote(e.what()), false});
                    }
                }
                return listings;
            });
            if (!started)
                throw ScanStopped();
        } catch (const ScanStopped&) {
            throw;
        } catch (const std::exception& e) {
            lose(nodes, e.what());
            return;
        }
        m_requested.push_back(std::move(nodes));
    }

    void take(WalkNode* NODE, std::vector<WalkNode*>& NODES)
    {
        m_frontier.erase(NODE->inFrontier);
        NODE->state = WalkNode::State::requested;
        NODES.push_back(NODE);
    }

    // Takes the oldest listing task's folders: their sub-folders join the front of the
    // frontier in walk order, so that folders are listed about in the order the walk needs them.
    void collectOldest(std::optional<std::chrono::milliseconds> LEFT = std::nullopt)
    {
        std::vector<WalkNode*> nodes = std::move(m_requested.front());
        m_requested.pop_front();
        ++m_collected;
        Listings listings;
        try {
            listings = m_tasks.takeOldest(LEFT);
        } catch (const ScanStopped&) {
            throw;
        } catch (const std::exception& e) {
            lose(nodes, e.what());
            return;
        }
        for (std::size_t i = 0; i < nodes.size(); ++i) {
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

    // Folders whose listing is lost: nothing below them is walked; the first carries the note.
    void lose(const std::vector<WalkNode*>& NODES, const std::string& CAUSE)
    {
        for (WalkNode* node : NODES) {
            node->entries.clear();
            if (node == NODES.front())
                node->entries.push_back(WalkEntry{WalkEntry::Kind::note, {}, 0, m_rules.lostNote(CAUSE), false});
            listed(*node);
        }
    }

    void listed(WalkNode& NODE)
    {
        NODE.state = WalkNode::State::listed;
        ++m_listedAhead;
    }

    const FolderWalkRules& m_rules;
    std::shared_ptr<const FolderWalkRules> m_list; // what the workers use
    ScanTasks<Listings> m_tasks;
    std::deque<std::vector<WalkNode*>> m_requested; // the folders of each pending task
    std::list<WalkNode*> m_frontier;                // folders met and not yet handed out
    std::size_t m_listedAhead = 0;
    const WalkNode* m_rootNode = nullptr;
    // Since when the walk waits for the oldest listing (known by the number taken before it).
    std::size_t m_collected = 0;
    std::size_t m_oldestSince = static_cast<std::size_t>(-1);
    std::chrono::steady_clock::time_point m_waitStart;
};

} // namespace

void gf_walkFolderTree(const std::filesystem::path& ROOT, const FolderWalkRules& RULES)
{
    TreeWalk(RULES).run(ROOT);
}

} // namespace qmt
