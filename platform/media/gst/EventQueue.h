#pragma once
// A graph's event queue: events from any thread (the graph's own bus messages,
// Notify calls from streaming threads) wait here until the owner thread takes
// them with GetEvent. When a notify window is set, every queued event posts that
// window's message.
//
// Threads: every operation may be called from any thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "Window.h"

namespace media::gst {

struct GraphEvent {
    long code = 0;
    std::intptr_t param1 = 0;
    std::intptr_t param2 = 0;
};

struct GraphError {
    std::uint32_t code = 0;
    std::wstring text;
};

class EventQueue {
  public:
    void Push(const GraphEvent& event);
    // A negative timeout waits without a bound.
    std::optional<GraphEvent> Pop(std::chrono::milliseconds timeout);

    void SetNotifyWindow(HWND window, std::uint32_t message, std::intptr_t instanceData);

    // The first ending event (complete, user abort, error abort) since the last reset.
    std::optional<long> WaitForEnd(std::chrono::milliseconds timeout);
    void ResetEnd();

    // The latest error the pipeline reported, kept for the caller's thread to
    // read as its last error.
    void RecordError(GraphError error);
    // Records the error unless one is kept already; true when it was recorded.
    bool RecordFirstError(GraphError error);
    std::optional<GraphError> LastError() const;
    void ClearError();

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<GraphEvent> events_;
    std::optional<long> end_;
    std::optional<GraphError> error_;

    // Held while posting, so that once SetNotifyWindow returns no other thread
    // is still posting to the window it replaced.
    std::mutex notifyMutex_;
    HWND window_ = nullptr;
    std::uint32_t message_ = 0;
    std::intptr_t instanceData_ = 0;
};

}  // namespace media::gst
