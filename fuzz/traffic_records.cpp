// Traffic of any content: a scenario file of any bytes is parsed, and what it holds is handed
// to the feed as the service's live and parked answers. What reaches the engine has finite
// numbers and texts without control characters or separator.
#include "FuzzSupport.h"

#include "core/Clock.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "engine/Intake.h"
#include "feed/TrafficFeed.h"
#include "platform/traffic_scenario.h"
#include "simlink/SimQueues.h"
#include "tests/feed/FixedTrafficSource.h"

#include <cmath>
#include <sstream>

using namespace qmt;

namespace {

bool lf_cleanText(const std::string& TEXT)
{
    return gf_cleanIdentText(TEXT) == TEXT;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    gf_resetFeedForTests();
    // The reader hands its batches to the engine's intake, as after start-up.
    gf_resetIntakeForTests();
    gf_resetSimQueuesForTests();
    gf_resetParkAirportForTests();
    g_stopSession.store(false);
    g_exitRequested.store(false);
    gf_setClockForTests(TimePoint(std::chrono::seconds(1700000000)));
    gf_setFeedSleepForTests([](std::chrono::milliseconds D) {
        gf_advanceClockForTests(D);
        gf_serveParkedRequest();
    });

    std::istringstream in{std::string(fuzz::bytesOf(DATA, SIZE))};
    ScenarioParseResult parsed = gf_parseScenario(in);
    gf_setTrafficSource(std::make_shared<test::FixedTrafficSource>(std::move(parsed.scenario)));
    if (!gf_authenticate()) {
        return 0;
    }
    gf_setQueryCentre(52.31, 4.76);
    g_acceptBatches = true;
    gf_readLiveTrafficOnce();
    {
        std::lock_guard lock(g_batchMutex);
        for (const LiveTrafficRecord& r : g_bufferedTraffic) {
            fuzz::require(std::isfinite(r.pos.lat) && std::isfinite(r.pos.lon) && std::isfinite(r.reportTime),
                          "live record without a finite position or time");
            fuzz::require(lf_cleanText(r.callsign) && lf_cleanText(r.registration), "live record text");
        }
    }
    gf_getParkedTrafficAt(52.31, 4.76);
    for (const ParkedTrafficRecord& r : g_parkedTraffic) {
        fuzz::require(std::fabs(r.lat) <= 90.0 && std::fabs(r.lon) <= 180.0, "parked record position");
        fuzz::require(r.age >= 0 && r.age < 48, "parked record age");
        fuzz::require(lf_cleanText(r.callsign) && lf_cleanText(r.registration) && lf_cleanText(r.stand),
                      "parked record text");
    }
    gf_resetFeedForTests();
    gf_resetIntakeForTests();
    gf_resetSimQueuesForTests();
    return 0;
}
