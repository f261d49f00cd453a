#include "app/pending_airportscan.h"

namespace qmt {

// Replaced when the add-on airport scan is built.
void gf_scanAirports() {}

}  // namespace qmt
