// The simulator's facility answer for an airport, from a facility file of any bytes: a failed
// read or stands within their bounds, never an exception.
#include "FuzzSupport.h"

#include "core/StopFlags.h"
#include "platform/sim_Control.h"
#include "simlink/Facilities.h"
#include "simlink/SimClient.h"

#include <cmath>

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    g_stopSession.store(false);
    g_exitRequested.store(false);
    gf_resetSimLinkForTests();
    gf_resetFacilitiesForTests();
    g_facilityWaitStep = [] { return 1.0; };
    gf_simStandIn().reset();
    gf_simStandIn().setRunning(true);
    const auto folder = g_workPath / "facilities";
    fuzz::writeBytes(folder / "EHXX.json", fuzz::bytesOf(DATA, SIZE));
    gf_simStandIn().setFacilityFolder(folder);
    AirportFile record;
    int helipads = 0;
    if (gf_readFacilityParkings("EHXX", record, helipads)) {
        for (const Stand& s : record.stands) {
            fuzz::require(gf_standInBounds(s), "facility stand out of bounds");
        }
        fuzz::require(helipads >= 0 && static_cast<size_t>(helipads) <= record.stands.size(), "helipad count");
        fuzz::require(record.altitudeFt >= -3300 && record.altitudeFt <= 33000, "facility altitude");
    }
    gf_resetFacilitiesForTests();
    gf_simStandIn().reset();
    return 0;
}
