#pragma once

// Empties the processor's caches for the benchmarks that measure work as it runs cold: reading
// through a buffer larger than the last-level cache pushes out whatever was there.

#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

inline void gf_evictCaches()
{
    static std::vector<std::uint64_t> buffer(64u << 20 >> 3, 1);
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < buffer.size(); i += 8) {
        sum += buffer[i];
        buffer[i] = sum;
    }
    benchmark::DoNotOptimize(sum);
}
