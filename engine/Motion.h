#pragma once

// Driving of live aircraft along their stream: stream advance, new points, ground and air.

#include "engine/AcRecords.h"

namespace qmt {

// Advances the stream of an active aircraft whose front point is due, or removes it.
void nextPosMain(LiveAc& AC);
// The per-tick mover: position, heading, attitude and altitude of the block.
void lf_tickMove(LiveAc& AC);

} // namespace qmt
