#pragma once

// Names the calling thread for the system's tools (top -H, /proc/<pid>/task/*/comm), so that the
// measured time of the worker, the simulator link and the traffic readers can be told apart.

#include <string_view>

namespace qmt {

// At most 15 characters are kept.
void gf_nameThisThread(std::string_view NAME);

} // namespace qmt
