#include "engine/pending_parkplan.h"

namespace qmt {

// Replaced when the learned stand options are built.
void lf_addRealStandOption(int32_t /*STAND_ID*/, LiveAc& /*AC*/, int32_t /*EVENT*/) {}
// Replaced when the static position calculation is built.
int64_t lf_wantedStaticCount() { return 0; }

} // namespace qmt
