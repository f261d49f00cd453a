#pragma once

#include <cstdint>

namespace qmt {

// Stamps the batch in g_trafficRecords with play ticks and hands it to the worker.
// Replaced when the live traffic intake is built (its header declares it).
void gf_intakeTrafficBatch(int32_t DELAY);

} // namespace qmt
