// The real steps of the main loop: the engine's tick and the shell's periodic work.
#include "app/Worker.h"
#include "simlink/SimClient.h"

namespace qmt {

void lf_tickStep();
void lf_periodicStep(PeriodicWork WORK, std::uint64_t SECONDS);

MainLoopSteps gf_defaultMainLoopSteps()
{
    return MainLoopSteps{lf_tickStep, lf_periodicStep, gf_takeSimSecond};
}

}  // namespace qmt
