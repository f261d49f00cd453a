#include "core/LoopClock.h"

#include "core/Clock.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace qmt {

namespace {

using Steady = std::chrono::steady_clock;

enum class Mode { real, manual, scaled, asFast };

// Set before the threads that keep time start, read by every thread after.
std::atomic<Mode> s_mode{Mode::real};
double s_scale = 1.0;
LoopTime s_loopStart{};
Steady::time_point s_realStart{};
SysClock::time_point s_wallStart{};

// A fixed Monday noon, so that tests see a known time of week.
const TimePoint kManualStartTime = TimePoint(std::chrono::seconds(1796644800));
const LoopTime kManualStart = LoopTime{} + std::chrono::hours(1000);
// The as-fast clock steps on by itself when a thread that keeps time has waited this long on
// something the clock does not see.
constexpr std::chrono::milliseconds kStallGrace{50};

// One sleeping thread of the as-fast clock.
struct Sleeper
{
    LoopTime deadline;
    bool wakeable = false;  // gf_loopWake ends the sleep (a condition wait)
    bool counted = false;   // a thread that keeps time
    bool due = false;
    std::condition_variable cv;
};

// The as-fast clock: time stands while a thread that keeps time is awake.
struct Scheduler
{
    std::mutex mutex;  // guards everything below; taken after a waiter's own lock
    std::atomic<std::int64_t> nowNs{0};  // the loop time, read without the lock
    int keepers = 0;
    int asleep = 0;     // keepers asleep or blocked
    // Keepers blocked on another thread; counted asleep until a keeper ends (the one they wait
    // for, most likely: from then on they are about to go on).
    int blocked = 0;
    std::uint64_t endings = 0;
    int announced = 0;  // keepers whose threads are being started
    std::vector<Sleeper*> sleepers;
    std::atomic<std::uint64_t> forced{0};
};
Scheduler s_sched;
thread_local bool t_keeper = false;

LoopTime lf_schedNow()
{
    return LoopTime(std::chrono::nanoseconds(s_sched.nowNs.load(std::memory_order_acquire)));
}

void lf_wakeDue(Sleeper& SLEEPER)
{
    SLEEPER.due = true;
    if (SLEEPER.counted)
        --s_sched.asleep;
    SLEEPER.cv.notify_one();
}

// Moves the time to the earliest wake-up and wakes who is due; without FORCE only when every
// thread that keeps time sleeps. Called with the scheduler's lock held.
void lf_advance(bool FORCE)
{
    if (!FORCE && s_sched.keepers - s_sched.asleep > 0)
        return;
    Sleeper* earliest = nullptr;
    for (Sleeper* s : s_sched.sleepers) {
        if (!s->due && (earliest == nullptr || s->deadline < earliest->deadline))
            earliest = s;
    }
    if (earliest == nullptr)
        return;
    if (earliest->deadline > lf_schedNow())
        s_sched.nowNs.store(earliest->deadline.time_since_epoch().count(), std::memory_order_release);
    const LoopTime now = lf_schedNow();
    for (Sleeper* s : s_sched.sleepers) {
        if (!s->due && s->deadline <= now)
            lf_wakeDue(*s);
    }
}

// Sleeps on the as-fast clock until DEADLINE (or, WAKEABLE, until gf_loopWake). OUTER, when
// given, is released while asleep: the sleeper is known to the clock before it is let go, so
// that no wake-up is lost.
void lf_sleepAsFast(LoopTime DEADLINE, bool WAKEABLE, std::unique_lock<std::mutex>* OUTER)
{
    std::unique_lock lock(s_sched.mutex);
    if (lf_schedNow() >= DEADLINE)
        return;
    Sleeper me;
    me.deadline = DEADLINE;
    me.wakeable = WAKEABLE;
    me.counted = t_keeper;
    s_sched.sleepers.push_back(&me);
    if (me.counted)
        ++s_sched.asleep;
    lf_advance(false);
    if (OUTER != nullptr)
        OUTER->unlock();
    while (!me.due) {
        const std::int64_t before = s_sched.nowNs.load();
        if (me.cv.wait_for(lock, kStallGrace) == std::cv_status::timeout && !me.due &&
            s_sched.nowNs.load() == before) {
            s_sched.forced.fetch_add(1);
            lf_advance(true);
        }
    }
    std::erase(s_sched.sleepers, &me);
    lock.unlock();
    if (OUTER != nullptr)
        OUTER->lock();
}

// The real time at which a loop time comes, at N times real time.
Steady::time_point lf_realTimeOf(LoopTime TIME)
{
    const double ns = static_cast<double>((TIME - s_loopStart).count()) / s_scale;
    return s_realStart + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double, std::nano>(ns));
}

}  // namespace

LoopTime gf_loopNow()
{
    switch (s_mode.load(std::memory_order_acquire)) {
    case Mode::manual:
        return kManualStart
            + std::chrono::duration_cast<LoopTime::duration>(gf_unshiftedNow() - kManualStartTime);
    case Mode::scaled: {
        const double ns = static_cast<double>((Steady::now() - s_realStart).count()) * s_scale;
        return s_loopStart + std::chrono::duration_cast<LoopTime::duration>(std::chrono::duration<double, std::nano>(ns));
    }
    case Mode::asFast:
        return lf_schedNow();
    case Mode::real:
        break;
    }
    return Steady::now();
}

void gf_loopSleepUntil(LoopTime TIME)
{
    switch (s_mode.load(std::memory_order_acquire)) {
    case Mode::manual:
        gf_advanceLoopClockForTests(TIME - gf_loopNow());
        return;
    case Mode::scaled:
        std::this_thread::sleep_until(lf_realTimeOf(TIME));
        return;
    case Mode::asFast:
        lf_sleepAsFast(TIME, false, nullptr);
        return;
    case Mode::real:
        break;
    }
    std::this_thread::sleep_until(TIME);
}

void gf_loopSleepFor(std::chrono::milliseconds DURATION)
{
    gf_loopSleepUntil(gf_loopNow() + DURATION);
}

bool gf_loopWaitFor(std::unique_lock<std::mutex>& LOCK, std::condition_variable& CV,
                    std::chrono::nanoseconds DURATION, const std::function<bool()>& DONE)
{
    const LoopTime deadline = gf_loopNow() + std::chrono::duration_cast<LoopTime::duration>(DURATION);
    switch (s_mode.load(std::memory_order_acquire)) {
    case Mode::manual:
        if (DONE())
            return true;
        gf_advanceLoopClockForTests(DURATION);
        return DONE();
    case Mode::scaled:
        return CV.wait_until(LOCK, lf_realTimeOf(deadline), DONE);
    case Mode::asFast:
        while (!DONE()) {
            if (gf_loopNow() >= deadline)
                return DONE();
            lf_sleepAsFast(deadline, true, &LOCK);
        }
        return true;
    case Mode::real:
        break;
    }
    return CV.wait_until(LOCK, deadline, DONE);
}

void gf_loopWake()
{
    if (s_mode.load(std::memory_order_acquire) != Mode::asFast)
        return;
    std::lock_guard lock(s_sched.mutex);
    for (Sleeper* s : s_sched.sleepers) {
        if (s->wakeable && !s->due)
            lf_wakeDue(*s);
    }
}

void gf_startVirtualTime(double SCALE, std::optional<double> WALL_START)
{
    s_realStart = Steady::now();
    s_loopStart = s_realStart;
    s_wallStart = WALL_START ? SysClock::time_point(std::chrono::duration_cast<SysClock::duration>(
                                   std::chrono::duration<double>(*WALL_START)))
                             : SysClock::now();
    s_scale = SCALE > 0.0 ? SCALE : 1.0;
    s_sched.nowNs.store(s_loopStart.time_since_epoch().count());
    s_mode.store(SCALE > 0.0 ? Mode::scaled : Mode::asFast, std::memory_order_release);
}

bool gf_virtualTimeOn()
{
    const Mode mode = s_mode.load(std::memory_order_acquire);
    return mode == Mode::scaled || mode == Mode::asFast;
}

SysClock::time_point gf_virtualWallNow()
{
    return s_wallStart + std::chrono::duration_cast<SysClock::duration>(gf_loopNow() - s_loopStart);
}

std::uint64_t gf_forcedVirtualSteps()
{
    return s_sched.forced.load();
}

double gf_virtualSecondsRun()
{
    return std::chrono::duration<double>(gf_loopNow() - s_loopStart).count();
}

double gf_realSecondsRun()
{
    return std::chrono::duration<double>(Steady::now() - s_realStart).count();
}

void LoopThread::announce()
{
    if (s_mode.load() != Mode::asFast)
        return;
    std::lock_guard lock(s_sched.mutex);
    ++s_sched.keepers;
    ++s_sched.announced;
}

LoopThread::LoopThread()
{
    if (s_mode.load() != Mode::asFast)
        return;
    std::lock_guard lock(s_sched.mutex);
    if (s_sched.announced > 0)
        --s_sched.announced;
    else
        ++s_sched.keepers;
    t_keeper = true;
    m_counted = true;
}

LoopThread::~LoopThread()
{
    if (!m_counted)
        return;
    std::lock_guard lock(s_sched.mutex);
    --s_sched.keepers;
    t_keeper = false;
    s_sched.asleep -= s_sched.blocked;
    s_sched.blocked = 0;
    ++s_sched.endings;
    lf_advance(false);
}

LoopBlocked::LoopBlocked()
{
    if (s_mode.load() != Mode::asFast || !t_keeper)
        return;
    std::lock_guard lock(s_sched.mutex);
    ++s_sched.asleep;
    ++s_sched.blocked;
    m_counted = true;
    m_endings = s_sched.endings;
    lf_advance(false);
}

LoopBlocked::~LoopBlocked()
{
    if (!m_counted)
        return;
    std::lock_guard lock(s_sched.mutex);
    if (s_sched.endings == m_endings) {
        --s_sched.asleep;
        --s_sched.blocked;
    }
}

void gf_useManualLoopClockForTests()
{
    gf_setClockForTests(kManualStartTime);
    s_mode = Mode::manual;
}

void gf_advanceLoopClockForTests(std::chrono::nanoseconds DURATION)
{
    const auto step = std::chrono::duration_cast<std::chrono::milliseconds>(DURATION);
    if (step.count() > 0)
        gf_advanceClockForTests(step);
}

void gf_useRealLoopClock()
{
    if (s_mode.exchange(Mode::real) == Mode::manual)
        gf_resetClockForTests();
}

}  // namespace qmt
