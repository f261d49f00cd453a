#pragma once

// Static aircraft creation as far as the pacing step calls it, until it is built.

namespace qmt {

// Creates the next static aircraft from the waiting static positions, if any.
void lf_detcs();

} // namespace qmt
