#pragma once
// Scan workers shared by the livery scan and the add-on airport scan (they never run at the
// same time): each file is read by a task on a detached thread of its own, at most
// g_maxBglTasks at once, and the walk collects the results oldest first with bounded waits.
//
// A worker is a std::packaged_task on a detached thread, never std::async: the future of
// std::async blocks in its destructor, so dropping a timed-out result would hang the walk.
// A dropped worker goes on alone and lowers the count when it ends.

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace qmt {

// Largest number of scan workers running at once: hardware threads, 2 when the platform
// reports 0. Set at start-up (and by tests) before any worker runs.
extern unsigned g_maxBglTasks;
// Number of scan workers running now. Only ScanTasks changes it: raised before a worker's
// thread starts, lowered by that thread when its task ends, on every path (an exception
// included), under the leaf mutex of ScanTasks.cpp so that waiters are woken.
extern std::atomic<int> g_runningBglTasks;

// How long one wait for a worker or its result may take.
inline constexpr std::chrono::milliseconds SCAN_WAIT_LIMIT{10000};

// Sets g_maxBglTasks from the hardware (start-up). The count is left alone: workers of an
// earlier scan may still run and lower it when they end.
void gf_initBglTasks();

// Waits at most LIMIT until no scan worker runs; true when none runs (closing down, and the
// start of a scan, so that late workers of an earlier scan cannot touch the new one's lists).
bool gf_waitForBglTasks(std::chrono::milliseconds LIMIT);

// "Future wait timed out after 10 seconds" for the limit given.
std::string gf_futureTimeoutText(std::chrono::milliseconds LIMIT);

// A wait cut short by a stop request.
class ScanStopped : public std::runtime_error {
public:
    ScanStopped() : std::runtime_error("scan stopped") {}
};

namespace scan_detail {
// Waits until fewer than g_maxBglTasks workers run: true; false when STOP returned true first;
// throws std::runtime_error "No free scan worker after {} seconds" when LIMIT passed.
bool lf_waitForFreeWorker(std::chrono::milliseconds LIMIT, const std::function<bool()>& STOP);
// Counts a worker in g_runningBglTasks and starts BODY on a detached thread that lowers the
// count when BODY ends. Throws std::system_error when the thread cannot be started (the
// count is then lowered again).
void lf_startCountedThread(std::function<void()> BODY);
// Asks IS_READY_WITHIN(slice) in short slices until it is true; false when LIMIT passed
// first; throws ScanStopped when STOP returned true first.
bool lf_waitReady(const std::function<bool(std::chrono::milliseconds)>& IS_READY_WITHIN,
                  std::chrono::milliseconds LIMIT, const std::function<bool()>& STOP);
} // namespace scan_detail

// The futures of the workers that one folder walk started, in start order.
template <typename RESULT>
class ScanTasks {
public:
    using Task = std::function<RESULT()>;

    // STOP (may be empty) is asked during every wait; a stop ends the wait early.
    explicit ScanTasks(std::chrono::milliseconds WAIT_LIMIT = SCAN_WAIT_LIMIT, std::function<bool()> STOP = {})
        : m_waitLimit(WAIT_LIMIT), m_stop(std::move(STOP))
    {
    }
    // Pending results are dropped; their workers go on alone.
    ~ScanTasks() = default;
    ScanTasks(const ScanTasks&) = delete;
    ScanTasks& operator=(const ScanTasks&) = delete;

    // Waits for a free worker, then runs the task on a thread of its own and keeps its future
    // at the end. False (nothing started) when a stop came first. Throws std::runtime_error
    // when no worker became free within the wait limit, std::system_error when no thread
    // could be started.
    bool start(Task TASK)
    {
        if (!scan_detail::lf_waitForFreeWorker(m_waitLimit, m_stop))
            return false;
        std::packaged_task<RESULT()> task(std::move(TASK));
        std::future<RESULT> future = task.get_future();
        // std::function needs a copyable callable: the task moves into a shared holder.
        auto holder = std::make_shared<std::packaged_task<RESULT()>>(std::move(task));
        scan_detail::lf_startCountedThread([holder] { (*holder)(); });
        m_futures.push_back(std::move(future));
        return true;
    }

    // More results are pending than workers may run: the walk takes the oldest now.
    bool overfull() const { return m_futures.size() > g_maxBglTasks; }
    bool empty() const { return m_futures.empty(); }
    std::size_t size() const { return m_futures.size(); }

    // Waits at most the wait limit for the oldest result and removes it from the list, ready
    // or not. Throws std::runtime_error (gf_futureTimeoutText) when it was not ready,
    // ScanStopped when a stop came first, or the task's own exception.
    RESULT takeOldest()
    {
        std::future<RESULT> oldest = std::move(m_futures.front());
        m_futures.pop_front();
        const bool ready = scan_detail::lf_waitReady(
            [&oldest](std::chrono::milliseconds SLICE) {
                return oldest.wait_for(SLICE) == std::future_status::ready;
            },
            m_waitLimit, m_stop);
        if (!ready)
            throw std::runtime_error(gf_futureTimeoutText(m_waitLimit));
        return oldest.get();
    }

private:
    std::chrono::milliseconds m_waitLimit;
    std::function<bool()> m_stop;
    std::deque<std::future<RESULT>> m_futures;
};

} // namespace qmt
