#include "engine/pending_park.h"

namespace qmt {

// Replaced when static aircraft creation is built.
void lf_detcs() {}
// Replaced when static aircraft creation is built.
void gf_removeStaticPositionsAt(uint32_t /*STAND_ID*/) {}

} // namespace qmt
