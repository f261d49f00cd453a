#pragma once

// The two ranges of aircraft ids: static parked aircraft take ids up to kMaxStaticId (from a
// counter that wraps there), live aircraft their 24-bit hex id, which lies above it. The feed,
// the simulator link and the engine tell the two kinds apart by this one bound.

#include <cstdint>

namespace qmt {

inline constexpr uint32_t kMaxStaticId = 10000;

} // namespace qmt
