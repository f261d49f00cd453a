#include "engine/Motion.h"

namespace qmt {

// Replaced when the stream advance is built.
void nextPosMain(LiveAc& /*AC*/) {}
// Replaced when the ground and air drivers are built.
void lf_tickMove(LiveAc& /*AC*/) {}
// Replaced when the new-point filters are built.
void decodeExisting(LiveAc& /*AC*/, const StreamPos& /*POINT*/) {}

} // namespace qmt
