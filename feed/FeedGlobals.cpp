// Definitions of the feed's globals.

#include "feed/FeedInternal.h"
#include "feed/TrafficFeed.h"

namespace qmt {

std::vector<LiveTrafficRecord> g_trafficRecords;
std::atomic<int> g_trafficCount{0};
std::atomic<bool> g_trafficReceived{false};

std::atomic<int> g_qnh{kQnhDefault};
std::atomic<bool> g_qnhReceived{false};
std::atomic<double> g_trafficRangeNm{0.0};

std::atomic<bool> g_buffersLoaded{false};
std::mutex g_bufferMutex;
std::unordered_set<std::string> g_bufferCallsigns;
std::unordered_set<uint32_t> g_bufferHexIds;

std::vector<ParkedTrafficRecord> g_parkedTraffic;

FeedSession g_feedSession;

} // namespace qmt
