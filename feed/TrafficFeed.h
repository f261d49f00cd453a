#pragma once

// The live traffic feed: the session with the traffic service (Authenticater),
// the Traffic Reader and Weather Reader threads, the hand-over of traffic
// batches to the worker, parked traffic, the QNH and the gathering of live
// callsigns for the static parking.
//
// Lock order: every mutex of this header is taken alone (never two of them,
// and none of them together with a lock of another folder), except that the
// readers post notifications under g_simNotifyMutex while holding none.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/TrafficSource.h"
#include "records/TrafficRecords.h"

namespace qmt {

// ---------------------------------------------------------------------------------------------
// Batches handed to the engine
//
// Two kinds of batch leave the Traffic Reader: the five history batches at start (the service's
// buffered answers of the last 30 seconds) and one live batch per live answer. Each goes, as the
// argument of the sink, to the engine's intake, which keeps what the worker is to take (the live
// batch waiting there is the engine's g_bufferedTraffic).

// The batch being delivered; the Traffic Reader thread fills it and hands it to the sink, which
// empties it.
extern std::vector<LiveTrafficRecord> g_trafficRecords;
// Records of the last traffic answer; 0 after an empty batch.
extern std::atomic<int> g_trafficCount;
// Up once the history batches at start and the first live answer were handed over;
// the session start waits for it.
extern std::atomic<bool> g_trafficReceived;

// Where the Traffic Reader hands each batch: the engine's intake, which plays BATCH DELAY seconds
// from now and leaves BATCH empty. The engine registers it at start-up (the feed sits below the
// engine and never includes it); while none is registered a batch is dropped.
using TrafficBatchSink = void (*)(std::vector<LiveTrafficRecord>& BATCH, int32_t DELAY);
void gf_setTrafficBatchSink(TrafficBatchSink SINK);

// Delays (seconds) of the five history batches at start and of every live batch.
inline constexpr int32_t kHistoryDelays[5] = {0, 6, 12, 18, 24};
inline constexpr int32_t kLiveDelay = 30;

// ---------------------------------------------------------------------------------------------
// Weather and query box

inline constexpr int kQnhMin = 900;
inline constexpr int kQnhMax = 1100;
inline constexpr int kQnhDefault = 1013;
// QNH in hPa from the Weather Reader, kept within 900..1100; read by the air driver.
extern std::atomic<int> g_qnh;
// Up once the Weather Reader has stored a QNH; the session start waits for it.
extern std::atomic<bool> g_qnhReceived;
// Stores a reported QNH rounded to whole hPa; a value outside 900..1100 is refused with
// a warning and the previous QNH kept. True when stored.
bool gf_setQnh(double HPA);

// The traffic range of the query box, nm; set by the worker, read by the reader and the engine.
extern std::atomic<double> g_trafficRangeNm;
// Centre of the traffic query box (the user aircraft), set by the worker every 5 s.
void gf_setQueryCentre(double LAT, double LON);
// The live traffic query box: g_trafficRangeNm around the query centre.
QueryBox gf_trafficQueryBox();

// ---------------------------------------------------------------------------------------------
// Live traffic gathered for the static parking

// While up, the Traffic Reader adds every live callsign and hex id to the two sets below.
// Raised when a park change is armed or the static parking is calculated; the static parking
// takes the sets over with gf_takeGatheredTraffic.
extern std::atomic<bool> g_buffersLoaded;
// Guards g_bufferCallsigns and g_bufferHexIds; taken alone.
extern std::mutex g_bufferMutex;
extern std::unordered_set<std::string> g_bufferCallsigns; // guarded by g_bufferMutex
extern std::unordered_set<uint32_t> g_bufferHexIds;       // guarded by g_bufferMutex

// Worker: the reader gathers from its next answer on.
void gf_startGatheringTraffic();
// Worker: stops the gathering and moves what was gathered into the two sets (which it replaces).
// What the reader adds after this waits for the next gathering.
void gf_takeGatheredTraffic(std::unordered_set<std::string>& CALLSIGNS, std::unordered_set<uint32_t>& HEX_IDS);
// Worker: stops the gathering and drops what was gathered (nobody will read it).
void gf_dropGatheredTraffic();

// ---------------------------------------------------------------------------------------------
// Parked traffic

// The parked traffic of the last successful gf_getParkedTraffic: ages set, at most MAX_FIT
// half hours old unless RT_PARKTRAFFIC_ONLY is on, youngest first, one per stand text.
// Worker thread only.
extern std::vector<ParkedTrafficRecord> g_parkedTraffic;
// Half size of the parked-traffic box around the park airport, nm.
inline constexpr double kParkedBoxNm = 3.0;
// Worker: asks the Traffic Reader for the parked traffic around the park airport and waits,
// polling every 100 ms, at most 10 s ("ParkedTraffic receiving timed out after 10 seconds"
// and false). True when records are available in g_parkedTraffic.
bool gf_getParkedTraffic();
// The same for a box around the given position.
bool gf_getParkedTrafficAt(double LAT, double LON);

// ---------------------------------------------------------------------------------------------
// Service session and reader threads

// The traffic service (the stand-in on this machine); set before the session starts.
void gf_setTrafficSource(std::shared_ptr<TrafficSource> SOURCE);
std::shared_ptr<TrafficSource> gf_trafficSource();

// Authenticater, on the worker: logs in with RT_KEY and keeps the session GUID and the
// query interval. False (with a warning) when there is no source or the login fails.
bool gf_authenticate();
// The session GUID, empty while not logged in.
std::string gf_sessionGuid();
// Query interval announced at login.
std::chrono::milliseconds gf_trafficInterval();
// Logs out when logged in (closing down).
void gf_logout();
// Seconds since the last query to the service (a large number before the first one).
double gf_secondsSinceApiVisit();

// Start the reader threads; each runs until gf_stopReaders or a stop flag of the session.
// Starting clears g_trafficReceived (traffic) or g_qnhReceived (weather) for the new session.
void gf_startWeatherReader();
void gf_startTrafficReader();
// Stops both readers and waits for them to end.
void gf_stopReaders();

// One turn of the readers' loops; the threads run them, tests call them directly.
// The five history batches at start (the service's buffered answers), each handed to the
// intake with its delay.
void gf_loadHistoryTraffic();
// One live answer, handed to the intake with delay 30. False when the query failed.
bool gf_readLiveTrafficOnce();
// One weather answer. False when the query failed or the QNH was refused.
bool gf_readWeatherOnce();
// Answers a pending parked-traffic request of the worker; false when none was pending.
bool gf_serveParkedRequest();

// Tests: how the waiting of gf_getParkedTraffic passes 100 ms (default: the thread sleeps).
void gf_setFeedSleepForTests(std::function<void(std::chrono::milliseconds)> SLEEP);
// Sets RANGE within its bounds and updates the range control and the traffic range.
void gf_setRange(int VALUE);
// Applies AUTO_RANGE (remembers or restores the manual range).
void gf_switchAutoRange();
void gf_resetRangeForTests();

// Tests: stops the readers and puts every piece of feed state back to its start.
void gf_resetFeedForTests();

} // namespace qmt
