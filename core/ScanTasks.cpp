#include "core/ScanTasks.h"

#include <thread>

namespace qmt {

unsigned g_maxBglTasks = 2;
std::atomic<int> g_runningBglTasks{0};

void gf_initBglTasks()
{
    const unsigned n = std::thread::hardware_concurrency();
    g_maxBglTasks = n == 0 ? 2 : n;
    g_runningBglTasks.store(0);
}

} // namespace qmt
