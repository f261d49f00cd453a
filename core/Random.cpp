#include "core/Random.h"

#include <pthread.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <utility>

namespace qmt {
namespace {

std::atomic<bool> g_runSeeded{false};
std::atomic<std::uint32_t> g_runSeed{0};

// A run with a seed draws the same in every run: each thread's engine starts from the seed and
// the thread's name (threads are named before they draw).
std::uint32_t lf_threadSeed()
{
    if (g_runSeeded.load()) {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        std::seed_seq sequence(name, name + sizeof name);
        std::uint32_t mixed = 0;
        sequence.generate(&mixed, &mixed + 1);
        return mixed ^ g_runSeed.load();
    }
    std::random_device rd;
    return rd();
}

// Lock order: g_scriptMutex is taken alone.
std::mutex g_scriptMutex;            // guards g_script
std::deque<std::size_t> g_script;    // scripted draws of gf_randomIndex (tests)
std::atomic<bool> g_scriptActive{false};

bool lf_scriptedDraw(std::size_t& draw)
{
    if (!g_scriptActive.load(std::memory_order_acquire)) return false;
    std::lock_guard lock(g_scriptMutex);
    if (g_script.empty()) {
        g_scriptActive.store(false);
        return false;
    }
    draw = g_script.front();
    g_script.pop_front();
    return true;
}

} // namespace

thread_local std::mt19937 g_rng{lf_threadSeed()};

std::size_t gf_randomIndex(std::size_t n)
{
    if (n < 2) return 0;
    std::size_t scripted = 0;
    if (lf_scriptedDraw(scripted)) return scripted % n;
    std::uniform_int_distribution<std::size_t> dist(0, n - 1);
    return dist(g_rng);
}

void gf_shuffleIds(std::vector<std::uint16_t>& ids)
{
    if (ids.size() < 2) return;
    // Fisher-Yates over gf_randomIndex so that scripted draws reach shuffles too.
    for (std::size_t i = ids.size() - 1; i > 0; --i) std::swap(ids[i], ids[gf_randomIndex(i + 1)]);
}

double gf_jitter(double value, double percent)
{
    if (!(percent > 0.0)) return value;
    const double delta = value * percent / 100.0;
    return gf_randomIndex(2) == 0 ? value + delta : value - delta;
}

void gf_seedRngForTests(std::uint32_t seed) { g_rng.seed(seed); }

void gf_seedThreadRngs(std::uint32_t SEED)
{
    g_runSeed = SEED;
    g_runSeeded = true;
    g_rng.seed(lf_threadSeed());
}

void gf_scriptRandomDraws(std::vector<std::size_t> draws)
{
    std::lock_guard lock(g_scriptMutex);
    g_script.assign(draws.begin(), draws.end());
    g_scriptActive.store(!g_script.empty(), std::memory_order_release);
}

void gf_clearRandomScript()
{
    std::lock_guard lock(g_scriptMutex);
    g_script.clear();
    g_scriptActive.store(false);
}

} // namespace qmt
