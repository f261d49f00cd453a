#include "app/pending_liveries.h"

namespace qmt {

// Replaced when the livery scan is built.
void gf_scanLiveries() {}

}  // namespace qmt
