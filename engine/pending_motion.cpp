#include "engine/Motion.h"

namespace qmt {

// Replaced when the stream advance is built.
void nextPosMain(LiveAc& /*AC*/) {}
// Replaced when the ground and air drivers are built.
void lf_tickMove(LiveAc& /*AC*/) {}

} // namespace qmt
