#include "engine/pending_park.h"

namespace qmt {

// Replaced when static aircraft creation is built.
void lf_detcs() {}

} // namespace qmt
