#include "feed/TrafficFeed.h"

#include <cmath>
#include <limits>
#include <thread>
#include <utility>

#include "core/Clock.h"
#include "core/LoopClock.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "feed/FeedInternal.h"

namespace qmt {

namespace {

std::mutex s_sleepMutex; // guards s_sleep
std::function<void(std::chrono::milliseconds)> s_sleep;

} // namespace

bool gf_setQnh(double HPA)
{
    if (!std::isfinite(HPA) || HPA < kQnhMin - 0.5 || HPA >= kQnhMax + 0.5) {
        gf_logWarning("QNH {} hPa refused (not within {}..{}), keeping {}", HPA, kQnhMin, kQnhMax, g_qnh.load());
        return false;
    }
    g_qnh = static_cast<int>(std::lround(HPA));
    g_qnhReceived = true;
    return true;
}

void gf_setQueryCentre(double LAT, double LON)
{
    std::lock_guard lock(g_feedSession.mutex);
    g_feedSession.state.centreLat = LAT;
    g_feedSession.state.centreLon = LON;
}

QueryBox gf_trafficQueryBox()
{
    double lat = 0.0;
    double lon = 0.0;
    {
        std::lock_guard lock(g_feedSession.mutex);
        lat = g_feedSession.state.centreLat;
        lon = g_feedSession.state.centreLon;
    }
    return gf_queryBoxAround(lat, lon, g_trafficRangeNm.load());
}

void gf_setTrafficSource(std::shared_ptr<TrafficSource> SOURCE)
{
    std::lock_guard lock(g_feedSession.mutex);
    g_feedSession.state.source = std::move(SOURCE);
}

std::shared_ptr<TrafficSource> gf_trafficSource()
{
    std::lock_guard lock(g_feedSession.mutex);
    return g_feedSession.state.source;
}

std::string gf_sessionGuid()
{
    std::lock_guard lock(g_feedSession.mutex);
    return g_feedSession.state.guid;
}

bool lf_sessionOf(std::shared_ptr<TrafficSource>& SOURCE, std::string& GUID)
{
    std::lock_guard lock(g_feedSession.mutex);
    SOURCE = g_feedSession.state.source;
    GUID = g_feedSession.state.guid;
    return SOURCE && !GUID.empty();
}

std::chrono::milliseconds gf_trafficInterval()
{
    std::lock_guard lock(g_feedSession.mutex);
    return g_feedSession.state.interval;
}

void lf_setTrafficInterval(std::chrono::milliseconds INTERVAL)
{
    std::lock_guard lock(g_feedSession.mutex);
    g_feedSession.state.interval = std::max(INTERVAL, std::chrono::milliseconds(100));
}

void lf_noteApiVisit()
{
    std::lock_guard lock(g_feedSession.mutex);
    g_feedSession.state.lastVisit = gf_unshiftedNow();
    g_feedSession.state.visited = true;
}

double gf_secondsSinceApiVisit()
{
    std::lock_guard lock(g_feedSession.mutex);
    if (!g_feedSession.state.visited) {
        return std::numeric_limits<double>::max();
    }
    return std::chrono::duration<double>(gf_unshiftedNow() - g_feedSession.state.lastVisit).count();
}

bool gf_authenticate()
{
    auto source = gf_trafficSource();
    if (!source) {
        gf_logWarning("Authenticater: no traffic source");
        return false;
    }
    lf_noteApiVisit();
    const LoginAnswer answer = source->login(RT_KEY.value());
    if (!answer.ok) {
        gf_logWarning("Authenticater: login failed: {}", answer.error);
        return false;
    }
    {
        std::lock_guard lock(g_feedSession.mutex);
        g_feedSession.state.guid = answer.guid;
        g_feedSession.state.interval = std::chrono::milliseconds(std::max(answer.intervalMs, 100));
    }
    gf_logLine("Authenticater: logged in, traffic every {} ms", std::max(answer.intervalMs, 100));
    return true;
}

void gf_logout()
{
    auto source = gf_trafficSource();
    std::string guid;
    {
        std::lock_guard lock(g_feedSession.mutex);
        guid = std::exchange(g_feedSession.state.guid, std::string());
    }
    if (!source || guid.empty()) {
        return;
    }
    lf_noteApiVisit();
    if (source->logout(guid)) {
        gf_logLine("Logged out of the traffic service");
    } else {
        gf_logWarning("Logout from the traffic service failed");
    }
}

void lf_feedSleep(std::chrono::milliseconds DURATION)
{
    std::function<void(std::chrono::milliseconds)> sleep;
    {
        std::lock_guard lock(s_sleepMutex);
        sleep = s_sleep;
    }
    if (sleep) {
        sleep(DURATION);
    } else {
        gf_loopSleepFor(DURATION);
    }
}

void gf_setFeedSleepForTests(std::function<void(std::chrono::milliseconds)> SLEEP)
{
    std::lock_guard lock(s_sleepMutex);
    s_sleep = std::move(SLEEP);
}

void gf_startGatheringTraffic()
{
    g_buffersLoaded = true;
}

void gf_takeGatheredTraffic(std::unordered_set<std::string>& CALLSIGNS, std::unordered_set<uint32_t>& HEX_IDS)
{
    // Down first: what the reader adds after the take-over waits for the next gathering.
    g_buffersLoaded.exchange(false);
    std::lock_guard lock(g_bufferMutex);
    CALLSIGNS = std::move(g_bufferCallsigns);
    HEX_IDS = std::move(g_bufferHexIds);
    g_bufferCallsigns.clear();
    g_bufferHexIds.clear();
}

void gf_dropGatheredTraffic()
{
    std::unordered_set<std::string> callsigns;
    std::unordered_set<uint32_t> hexIds;
    gf_takeGatheredTraffic(callsigns, hexIds);
}

void gf_resetFeedForTests()
{
    gf_stopReaders();
    g_trafficRecords.clear();
    g_trafficCount = 0;
    g_trafficReceived = false;
    g_qnh = kQnhDefault;
    g_qnhReceived = false;
    g_trafficRangeNm = 0.0;
    g_buffersLoaded = false;
    {
        std::lock_guard lock(g_bufferMutex);
        g_bufferCallsigns.clear();
        g_bufferHexIds.clear();
    }
    g_parkedTraffic.clear();
    lf_resetParkedRequest();
    lf_resetBlockedNotes();
    {
        std::lock_guard lock(g_feedSession.mutex);
        g_feedSession.state = FeedSession::State{};
    }
    gf_setFeedSleepForTests(nullptr);
    gf_resetRangeForTests();
}

} // namespace qmt
