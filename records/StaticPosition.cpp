#include "records/StaticPosition.h"

namespace qmt {

std::vector<StaticPosition> g_staticPositions;

} // namespace qmt
