#include "core/Reset.h"

#include "core/AcKind.h"
#include "core/Airports.h"
#include "core/Clock.h"
#include "core/EventLines.h"
#include "core/FileCommit.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Random.h"
#include "core/RefData.h"
#include "core/ScanTasks.h"

namespace qmt {

void gf_resetCoreForTests()
{
    gf_closeLog();
    gf_setFileSystemSeam(nullptr);
    gf_resetParameters();
    gf_resetParametersFileForTests();
    gf_clearDbase(); // also resets the interned code lists
    gf_clearAirports();
    g_modelFixesOn.store(false);
    gf_resetClockForTests();
    gf_clearRandomScript();
    gf_seedRngForTests(1);
    g_maxBglTasks = 2;
    g_runningBglTasks.store(0);
    gf_resetScanClockForTests();
    gf_resetEventLinesForTests();
}

} // namespace qmt
