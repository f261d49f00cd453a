#pragma once

// What the engine calls of static aircraft creation, until it is built.

#include <cstdint>

namespace qmt {

// Creates the next static aircraft from the waiting static positions, if any.
void lf_detcs();
// Drops every waiting static position for this stand.
void gf_removeStaticPositionsAt(uint32_t STAND_ID);

} // namespace qmt
