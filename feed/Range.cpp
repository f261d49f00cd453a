// The traffic range: the RANGE setting, its control and the range of the traffic queries.
#include "feed/TrafficFeed.h"

#include "core/Parameters.h"
#include "core/WindowState.h"

namespace qmt {

namespace {

// RANGE as the user set it while AUTO_RANGE is on (worker and window thread).
std::atomic<int> s_manualRange{-1};

}  // namespace

void gf_setRange(int VALUE)
{
    const int stored = RANGE.set(VALUE);
    gf_setControlText(RANGE.name(), RANGE.text());
    g_trafficRangeNm = static_cast<double>(stored);
}

void gf_switchAutoRange()
{
    if (AUTO_RANGE.value()) {
        s_manualRange = RANGE.value();
        gf_enableControl(RANGE, false);
        return;
    }
    const int manual = s_manualRange.exchange(-1);
    if (manual >= 0)
        gf_setRange(manual);
    gf_enableControl(RANGE, true);
}

void gf_resetRangeForTests()
{
    s_manualRange = -1;
}

}  // namespace qmt
