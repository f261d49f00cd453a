#include "engine/pending_standrules.h"

namespace qmt {

// Replaced when the air driver is built.
bool lf_checkUserConflict(LiveAc& /*AC*/, uint32_t /*ROW*/) { return false; }
// Replaced when parking at a stand is built.
void lf_markCargoStand(LiveAc& /*AC*/) {}
// Replaced when parking at a stand is built.
bool lf_removeForStand(uint32_t /*STAND_ID*/, const std::string& /*CALLSIGN*/) { return true; }
// Replaced when parking at a stand is built.
bool lf_adjacentConflict(uint32_t /*ADJACENT_ID*/, const LiveAc& /*AC*/, const Stand& /*STAND*/) { return true; }
// Replaced when parking at a stand is built.
void lf_makeWay(LiveAc& /*AC*/, const Stand& /*STAND*/) {}

} // namespace qmt
