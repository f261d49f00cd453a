// What the main loop does every tick and at its second marks.
#include "app/MainWindow.h"
#include "app/Worker.h"

namespace qmt {

void lf_tickStep()
{
}

void lf_periodicStep(PeriodicWork WORK, std::uint64_t SECONDS)
{
    (void)SECONDS;
    if (WORK == PeriodicWork::everySecond)
        gf_expireStatus();
}

void gf_carryOutWindowRequests()
{
}

}  // namespace qmt
