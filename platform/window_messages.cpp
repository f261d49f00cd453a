#include "platform/window_messages.h"

#include "core/LoopClock.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace qmt {

namespace {
// Guards the queue; taken alone.
std::mutex s_queueMutex;
std::condition_variable s_queueChanged;
std::deque<WindowMessage> s_queue;
}  // namespace

void gf_postWindowMessage(std::uint32_t ID, std::int64_t PARAM)
{
    {
        std::lock_guard lock(s_queueMutex);
        s_queue.push_back(WindowMessage{ID, PARAM});
    }
    s_queueChanged.notify_one();
    gf_loopWake();
}

std::optional<WindowMessage> gf_waitWindowMessage(std::chrono::milliseconds TIMEOUT)
{
    std::unique_lock lock(s_queueMutex);
    if (!gf_loopWaitFor(lock, s_queueChanged, TIMEOUT, [] { return !s_queue.empty(); }))
        return std::nullopt;
    WindowMessage message = s_queue.front();
    s_queue.pop_front();
    return message;
}

std::size_t gf_pendingWindowMessages()
{
    std::lock_guard lock(s_queueMutex);
    return s_queue.size();
}

void gf_resetWindowMessagesForTests()
{
    std::lock_guard lock(s_queueMutex);
    s_queue.clear();
}

}  // namespace qmt
