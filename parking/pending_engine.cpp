#include "engine/AcRecords.h"
#include "liveries/KindText.h"

namespace qmt {

// Replaced when the engine's aircraft records are built.
std::vector<SimAc> g_staticAcs;
// Replaced when the engine's aircraft records are built.
std::vector<LiveAc> g_liveAcs;

// Replaced when the kind and category texts are built.
std::string gf_kindText(const AcKind&)
{
    return {};
}

} // namespace qmt
