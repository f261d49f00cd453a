#include "parking/ParkingReset.h"

#include "parking/ParkAirport.h"
#include "parking/ParkChange.h"
#include "parking/Reconcile.h"
#include "parking/StandSearch.h"
#include "parking/StaticAircraft.h"
#include "parking/StaticPositions.h"
#include "stands/AirportFile.h"
#include "stands/LearnedApf.h"
#include "stands/StandTable.h"

namespace qmt {

void gf_resetParkingForTests()
{
    gf_resetStandsForTests();
    gf_resetAirportFileForTests();
    gf_resetParkAirportForTests();
    gf_resetStaticPositionsForTests();
    gf_resetStandTableForTests();
    gf_clearLearnedKept();
    gf_resetStaticAircraftForTests();
    gf_resetParkChangeForTests();
    gf_attachStaticParking();
}

} // namespace qmt
