#include "simlink/pending_parking.h"

namespace qmt {

// Replaced when the park-airport manager is built.
void gf_noteUserParkAirport() {}

} // namespace qmt
