#pragma once
// Reads that hang as on a drive that stopped answering, for the tests of the scans: a stalled
// read holds its worker until the test lets it go, and a driver moves the scan clock on by the
// wait limit whenever every task that runs is a stalled one, so that only stalled tasks time
// out, without sleeps and without the wall clock.

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "core/ScanTasks.h"

namespace qmt::test {

class StalledReads {
public:
    explicit StalledReads(std::chrono::milliseconds LIMIT) : m_limit(LIMIT)
    {
        gf_setScanClockForTests(ScanClock::time_point{});
        m_driver = std::thread([this] { drive(); });
    }
    ~StalledReads()
    {
        release();
        // The stalled reads leave stall() before this ends: they touch it on their way out.
        while (m_inside.load() > 0)
            std::this_thread::yield();
        m_done = true;
        m_driver.join();
        gf_resetScanClockForTests();
    }
    StalledReads(const StalledReads&) = delete;
    StalledReads& operator=(const StalledReads&) = delete;

    // Called by a read that hangs: it waits until release().
    void stall()
    {
        const std::shared_future<void> released = m_released;
        ++m_entered;
        ++m_inside;
        released.wait();
        --m_inside;
    }
    void release()
    {
        if (!m_releasedOnce.exchange(true))
            m_gate.set_value();
    }
    // How often the clock was moved on by the limit.
    int advances() const { return m_advances.load(); }
    int entered() const { return m_entered.load(); }

private:
    void drive()
    {
        int advancedFor = 0;
        while (!m_done) {
            const int entered = m_entered.load();
            if (entered > advancedFor && gf_advanceScanClockIfRunningForTests(m_inside.load(), m_limit)) {
                advancedFor = entered;
                ++m_advances;
            }
            std::this_thread::yield();
        }
    }

    std::chrono::milliseconds m_limit;
    std::promise<void> m_gate;
    std::shared_future<void> m_released = m_gate.get_future().share();
    std::atomic<bool> m_releasedOnce{false};
    std::atomic<int> m_entered{0};
    std::atomic<int> m_inside{0};
    std::atomic<int> m_advances{0};
    std::atomic<bool> m_done{false};
    std::thread m_driver;
};

} // namespace qmt::test
