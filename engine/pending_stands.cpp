#include "engine/pending_stands.h"

namespace qmt {

// Replaced when the stand table is built.
void gf_setStandOccupied(int32_t /*STAND_ID*/, uint8_t /*OCCUPIED*/) {}
// Replaced when the stand table is built.
std::string gf_standName(uint32_t /*STAND_ID*/) { return {}; }

} // namespace qmt
