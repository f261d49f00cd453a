#include "parking/StaticPositions.h"

namespace qmt {

std::vector<StaticPosition> g_staticPositions;
std::vector<LiveParked> g_liveParked;
std::unordered_set<std::string> g_recentCallsigns;
std::unordered_set<uint32_t> g_recentHexIds;
int32_t g_realFitStep = -1;
int32_t g_softFitStep = -1;

void gf_resetStaticPositionsForTests()
{
    g_staticPositions.clear();
    g_liveParked.clear();
    g_recentCallsigns.clear();
    g_recentHexIds.clear();
    g_realFitStep = -1;
    g_softFitStep = -1;
}

} // namespace qmt
