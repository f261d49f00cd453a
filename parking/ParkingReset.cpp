#include "parking/ParkingReset.h"

#include "parking/AirportFile.h"
#include "parking/LearnedApf.h"
#include "parking/ParkAirport.h"
#include "parking/Reconcile.h"
#include "parking/Stand.h"
#include "parking/StandTable.h"
#include "parking/StaticAircraft.h"
#include "parking/StaticPositions.h"

namespace qmt {

void gf_resetParkingForTests()
{
    gf_resetStandsForTests();
    gf_resetAirportFileForTests();
    gf_resetParkAirportForTests();
    gf_resetStaticPositionsForTests();
    gf_resetStandTableForTests();
    gf_clearLearnedOrphans();
    gf_resetStaticAircraftForTests();
    gf_resetParkChangeForTests();
}

} // namespace qmt
