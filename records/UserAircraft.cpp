#include "records/UserAircraft.h"

#include <cmath>

namespace qmt {

UserAcData g_userAc;
bool g_userOnGround = false;
double g_userHalfSpan = 0.0;
std::string g_userCallsign;
std::atomic<bool> g_isMsfs2020{false};

bool UserAcData::hasPosition() const
{
    return !(std::fabs(latitude) < 0.0001 && std::fabs(longitude) < 0.0001);
}

} // namespace qmt
