#pragma once
// Random draws: one Mersenne twister per thread. Tests seed the calling thread's engine or
// script the draws of gf_randomIndex (and with it every shuffle and gf_jitter's sign).

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace qmt {

// The calling thread's engine, seeded per thread.
extern thread_local std::mt19937 g_rng;

// An index drawn uniformly below n; 0 when n < 2.
std::size_t gf_randomIndex(std::size_t n);
// Shuffles in place; fewer than two entries stay as they are.
void gf_shuffleIds(std::vector<std::uint16_t>& ids);
// Value plus or minus exactly `percent` % of itself, the sign drawn; unchanged for percent <= 0.
double gf_jitter(double value, double percent);

// The engines of the calling thread and of every thread that draws for the first time after
// this are seeded from SEED and the thread's name, so that a run with a seed draws the same.
void gf_seedThreadRngs(std::uint32_t SEED);
// Tests: seeds the calling thread's engine.
void gf_seedRngForTests(std::uint32_t seed);
// Tests: the next draws of gf_randomIndex (from any thread) return these values in order
// (each taken modulo n); when they run out, draws come from the engine again.
void gf_scriptRandomDraws(std::vector<std::size_t> draws);
void gf_clearRandomScript();

} // namespace qmt
