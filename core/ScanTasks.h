#pragma once
// Limit and count of the scan workers shared by the livery scan and the add-on airport scan.

#include <atomic>

namespace qmt {

// Largest number of scan workers running at once: hardware threads, 2 when the platform reports 0.
extern unsigned g_maxBglTasks;
// Number of scan workers running now.
extern std::atomic<int> g_runningBglTasks;

// Sets g_maxBglTasks from the hardware and g_runningBglTasks to 0 (start-up).
void gf_initBglTasks();

} // namespace qmt
