#include "feed/pending_intake.h"

#include "feed/TrafficFeed.h"

namespace qmt {

// Replaced when the live traffic intake is built.
void gf_intakeTrafficBatch(int32_t /*DELAY*/)
{
    g_trafficRecords.clear();
}

} // namespace qmt
