#pragma once
// What the stand-ins cost inside the program's process, told apart from the program's own cost:
// the simulated simulator and the traffic service run inside the calls that the program's
// threads make to them. Each call into a stand-in opens a StandInScope; the time spent in the
// outermost scope of a thread counts as the stand-in's CPU, and the memory allocated there (while
// it is not freed) as the stand-in's memory. The program's allocations reach the meter through
// the allocation hooks, which the program's executable installs (the tests and benchmarks have
// allocators of their own and leave them out: there the meter counts time only).

#include <cstddef>
#include <cstdint>

namespace qmt {

enum class StandInPart : int { simulator = 0, traffic = 1 };
inline constexpr int kStandInParts = 2;

class StandInScope {
public:
    explicit StandInScope(StandInPart PART);
    ~StandInScope();
    StandInScope(const StandInScope&) = delete;
    StandInScope& operator=(const StandInScope&) = delete;

private:
    bool m_outermost;
    std::int64_t m_startNs = 0;
};

struct StandInUse {
    double cpuSeconds[kStandInParts] = {};
    std::size_t heapBytes[kStandInParts] = {};      // held now
    std::size_t heapPeakBytes[kStandInParts] = {};  // held at most
    std::size_t processPeakBytes = 0;  // resident memory of the whole process, at most
    std::size_t ownPeakBytes = 0;      // resident memory less what the stand-ins held then, at most
};
StandInUse gf_standInUse();
// One log line of the figures: "Stand-ins at {} s: simulator ..., traffic service ...; process at
// most ... MB, program's own at most ... MB".
void gf_logStandInUse();
// From now on the line is also logged every minute (the program asks for it; tests do not).
void gf_startStandInLog();

// The allocation hooks (the executable's operator new and delete call them). A block of at least
// SIZE bytes aligned to ALIGN, or nullptr; inside a stand-in's scope it counts as that stand-in's
// memory until it is released.
void* gf_meterAllocate(std::size_t SIZE, std::size_t ALIGN) noexcept;
// Frees a block of gf_meterAllocate, from any thread. It takes no lock and looks nothing up: a
// stand-in's block is known by a tag in its own last bytes.
void gf_meterRelease(void* BLOCK) noexcept;

} // namespace qmt
