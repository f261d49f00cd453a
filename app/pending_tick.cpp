#include "app/pending_engine.h"

namespace qmt {

// Replaced when the engine's tick is built.
void lf_handleAddingStack() {}
// Replaced when the engine's ObjectIdList.txt writer is built.
void gf_writeActiveLiveAcFile() {}

}  // namespace qmt
