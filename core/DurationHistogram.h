#pragma once

// Counts of durations in fixed buckets: 1 us wide up to 2 ms, 1 ms wide up to 1 s, and one bucket
// for anything longer. It never allocates, so a real-time loop can record into it every time
// round; its percentiles are as fine as the bucket they fall into.

#include <array>
#include <chrono>
#include <cstdint>

namespace qmt {

class DurationHistogram {
public:
    void add(std::chrono::nanoseconds DURATION);
    void clear();
    std::uint64_t count() const { return m_count; }
    // The lower edge of the bucket below which the given share (0 to 1) of the durations lies;
    // 0 when nothing was recorded. Durations past 1 s give 1 s.
    std::chrono::microseconds percentile(double SHARE) const;
    std::chrono::microseconds longest() const;

private:
    static constexpr std::size_t kFine = 2000;  // 1 us buckets below 2 ms
    static constexpr std::size_t kCoarse = 998; // 1 ms buckets from 2 ms below 1 s
    std::array<std::uint32_t, kFine> m_fine{};
    std::array<std::uint32_t, kCoarse> m_coarse{};
    std::uint32_t m_beyond = 0;
    std::uint64_t m_count = 0;
    std::chrono::nanoseconds m_longest{0};
};

} // namespace qmt
