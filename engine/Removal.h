#pragma once

// Removal rules and limits.

#include <cstdint>

#include "engine/AcLists.h"

namespace qmt {

// A callsign the user blocked: removes the live aircraft with this hex id.
void lf_removeWhileBlocked(uint32_t ID);

} // namespace qmt
