#include "core/ScanTasks.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

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

void lf_workerEnded()
{
    std::lock_guard lock(s_taskEndMutex);
    g_runningBglTasks.fetch_sub(1);
    s_taskEnded.notify_all();
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

} // namespace

void gf_initBglTasks()
{
    const unsigned n = std::thread::hardware_concurrency();
    g_maxBglTasks = n == 0 ? 2 : n;
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

bool lf_waitForFreeWorker(std::chrono::milliseconds LIMIT, const std::function<bool()>& STOP)
{
    const auto deadline = SteadyClock::now() + LIMIT;
    std::unique_lock lock(s_taskEndMutex);
    while (g_runningBglTasks.load() >= static_cast<int>(g_maxBglTasks)) {
        if (lf_stopAsked(STOP))
            return false;
        const auto now = SteadyClock::now();
        if (now >= deadline)
            throw std::runtime_error(fmt::format("No free scan worker after {} seconds", lf_secondsText(LIMIT)));
        s_taskEnded.wait_for(lock, std::min<SteadyClock::duration>(STOP_SLICE, deadline - now));
    }
    return true;
}

void lf_startCountedThread(std::function<void()> BODY)
{
    g_runningBglTasks.fetch_add(1);
    try {
        std::thread([body = std::move(BODY)] {
            WorkerCountGuard guard;
            body();
        }).detach();
    } catch (...) {
        lf_workerEnded();
        throw;
    }
}

bool lf_waitReady(const std::function<bool(std::chrono::milliseconds)>& IS_READY_WITHIN,
                  std::chrono::milliseconds LIMIT, const std::function<bool()>& STOP)
{
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

} // namespace qmt
