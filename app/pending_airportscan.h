// The add-on airport scan, called by the start-up; not built yet.
#pragma once

namespace qmt {

// The whole add-on airport scan.
void gf_scanAirports();

}  // namespace qmt
