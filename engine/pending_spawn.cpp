#include "engine/Removal.h"
#include "engine/Respawn.h"
#include "engine/Spawn.h"

namespace qmt {

// Replaced when birth and spawn are built.
void lf_birthStage(LiveAc& /*AC*/) {}
// Replaced when birth and spawn are built.
void spawnLiveAc(LiveAc& /*AC*/) {}
// Replaced when respawn and ghosts are built.
bool lf_checkRespawn(LiveAc& /*AC*/, LiveTrafficRecord& /*RECORD*/) { return true; }
// Replaced when the removal rules are built.
void lf_removeWhileBlocked(uint32_t /*ID*/) {}

} // namespace qmt
