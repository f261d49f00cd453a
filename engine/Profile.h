#pragma once

// The aircraft profile from the head of a traffic record, with the per-category
// performance tables.

#include <cstdint>

#include "engine/AcLists.h"
#include "records/TrafficRecords.h"

namespace qmt {

// Fills PROFILE from the record head: identity, half span, category and the
// per-category slots and pitches. id, liveryTitle and pitchRateLive are the caller's.
void gf_makeParkedAc(AcProfile& PROFILE, const TrafficRecordHead& RECORD);

// Live-only tables: largest climb per tick (feet) and stand manoeuvre speed (knots).
// std::out_of_range for a category above 5.
double gf_climbFactorOf(uint32_t CATEGORY);
double gf_turnFactorOf(uint32_t CATEGORY);

} // namespace qmt
