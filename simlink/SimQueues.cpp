#include "simlink/SimQueues.h"

#include <utility>

namespace qmt {

std::mutex g_simQueueMutex;
std::mutex g_simRequestMutex;
std::vector<ClientEventCmd> g_clientEventQueue;
std::vector<PositionUpdate> g_positionWriteBuffer;
std::vector<PositionUpdate> g_positionReadBuffer;
std::vector<AiCreateRequest> g_createQueue;
std::vector<std::uint32_t> g_removeQueue;
std::vector<DirectRequest> g_directRequests;

std::mutex g_simNotifyMutex;
std::vector<SimNotification> g_simNotifications;

void gf_queueAiCreate(AiCreateRequest REQUEST)
{
    std::lock_guard lock(g_simRequestMutex);
    g_createQueue.push_back(std::move(REQUEST));
}

void gf_queueRemove(std::uint32_t OBJECT_ID)
{
    std::lock_guard lock(g_simRequestMutex);
    g_removeQueue.push_back(OBJECT_ID);
}

void gf_queueClientEvent(std::uint32_t OBJECT_ID, std::uint32_t EVENT_ID, std::uint32_t VALUE)
{
    std::lock_guard lock(g_simRequestMutex);
    g_clientEventQueue.push_back({OBJECT_ID, EVENT_ID, VALUE});
}

void gf_queueLights(std::uint32_t OBJECT_ID, std::uint32_t NAV, std::uint32_t BEACON, std::uint32_t LANDING,
                    std::uint32_t TAXI, std::uint32_t STROBES, std::uint32_t LOGO, std::uint32_t CABIN)
{
    std::lock_guard lock(g_simRequestMutex);
    g_clientEventQueue.push_back({OBJECT_ID, NAV_LIGHTS_SET, NAV});
    g_clientEventQueue.push_back({OBJECT_ID, BEACON_LIGHTS_SET, BEACON});
    g_clientEventQueue.push_back({OBJECT_ID, LANDING_LIGHTS_SET, LANDING});
    g_clientEventQueue.push_back({OBJECT_ID, TAXI_LIGHTS_SET, TAXI});
    g_clientEventQueue.push_back({OBJECT_ID, STROBES_SET, STROBES});
    g_clientEventQueue.push_back({OBJECT_ID, LOGO_LIGHTS_SET, LOGO});
    g_clientEventQueue.push_back({OBJECT_ID, CABIN_LIGHTS_SET, CABIN});
}

void gf_queueCabinLights(std::uint32_t OBJECT_ID, std::uint32_t VALUE)
{
    gf_queueClientEvent(OBJECT_ID, CABIN_LIGHTS_SET, VALUE);
}

void gf_queueEngineStart(std::uint32_t OBJECT_ID)
{
    gf_queueClientEvent(OBJECT_ID, ENGINE_AUTO_START, 0);
}

void gf_queueEngineShutdown(std::uint32_t OBJECT_ID)
{
    gf_queueClientEvent(OBJECT_ID, ENGINE_AUTO_SHUTDOWN, 0);
}

bool gf_swapPositionBuffers()
{
    std::unique_lock lock(g_simQueueMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        // The simulator thread is flushing: this tick's positions are dropped, the next tick
        // sends newer ones.
        g_positionWriteBuffer.clear();
        return false;
    }
    std::swap(g_positionWriteBuffer, g_positionReadBuffer);
    g_positionWriteBuffer.clear();
    return true;
}

void gf_addSimNotification(const SimNotification& NOTE)
{
    std::lock_guard lock(g_simNotifyMutex);
    g_simNotifications.push_back(NOTE);
}

bool gf_takeSimNotifications(std::vector<SimNotification>& INTO)
{
    std::unique_lock lock(g_simNotifyMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        return false;
    }
    INTO.swap(g_simNotifications);
    return true;
}

void gf_clearSimQueues()
{
    {
        std::lock_guard lock(g_simQueueMutex);
        std::lock_guard requests(g_simRequestMutex);
        g_clientEventQueue.clear();
        g_positionWriteBuffer.clear();
        g_positionReadBuffer.clear();
        g_createQueue.clear();
        g_removeQueue.clear();
        g_directRequests.clear();
    }
    std::lock_guard lock(g_simNotifyMutex);
    g_simNotifications.clear();
}

void gf_resetSimQueuesForTests()
{
    gf_clearSimQueues();
}

} // namespace qmt
