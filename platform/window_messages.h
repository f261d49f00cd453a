// The message queue of the headless main window: what the worker and the other threads post to
// the window thread, and what the window thread waits for.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace qmt {

// Posted messages of the main window.
inline constexpr std::uint32_t WM_APP_STARTUP = 0x8001;  // start a worker (param 1: automatic restart)
inline constexpr std::uint32_t WM_APP_REPAINT = 0x8002;  // repaint the window
inline constexpr std::uint32_t WM_APP_EXIT = 0x8003;     // end the message loop (param: exit code)
inline constexpr std::uint32_t WM_CLOSE = 0x0010;        // the user closes the window
inline constexpr std::uint32_t WM_COMMAND = 0x0111;      // a control was used (param: the window's command id)

struct WindowMessage
{
    std::uint32_t id = 0;
    std::int64_t param = 0;
};

// Appends a message to the window's queue (any thread).
void gf_postWindowMessage(std::uint32_t ID, std::int64_t PARAM = 0);
// Takes the oldest message, waiting at most the given time.
std::optional<WindowMessage> gf_waitWindowMessage(std::chrono::milliseconds TIMEOUT);
// Number of messages waiting.
std::size_t gf_pendingWindowMessages();
void gf_resetWindowMessagesForTests();

}  // namespace qmt
