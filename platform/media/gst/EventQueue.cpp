#include "EventQueue.h"

#include "Media.h"

namespace media::gst {

namespace {
bool EndsTheGraph(long code) {
    return code == EC_COMPLETE || code == EC_USERABORT || code == EC_ERRORABORT;
}

template <class Predicate>
bool WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
            std::chrono::milliseconds timeout, Predicate ready) {
    if (timeout.count() < 0) {
        cv.wait(lock, ready);
        return true;
    }
    // A look without a wait: the playing cursor's tick asks so every 10 ms, and
    // a wait that has already timed out still costs a kernel timer.
    if (timeout.count() == 0)
        return ready();
    return cv.wait_for(lock, timeout, ready);
}
}  // namespace

void EventQueue::Push(const GraphEvent& event) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        if (EndsTheGraph(event.code) && !end_)
            end_ = event.code;
    }
    changed_.notify_all();
    std::lock_guard notifyLock(notifyMutex_);
    if (window_)
        window_->PostMessage(message_, 0, instanceData_);
}

std::optional<GraphEvent> EventQueue::Pop(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!WaitOn(changed_, lock, timeout, [this] { return !events_.empty(); }))
        return std::nullopt;
    GraphEvent event = events_.front();
    events_.pop_front();
    return event;
}

void EventQueue::SetNotifyWindow(HWND window, std::uint32_t message, std::intptr_t instanceData) {
    std::lock_guard notifyLock(notifyMutex_);
    window_ = window;
    message_ = message;
    instanceData_ = instanceData;
}

std::optional<long> EventQueue::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!WaitOn(changed_, lock, timeout, [this] { return end_.has_value(); }))
        return std::nullopt;
    return end_;
}

void EventQueue::ResetEnd() {
    std::lock_guard lock(mutex_);
    end_.reset();
}

void EventQueue::RecordError(GraphError error) {
    std::lock_guard lock(mutex_);
    error_ = std::move(error);
}

bool EventQueue::RecordFirstError(GraphError error) {
    std::lock_guard lock(mutex_);
    if (error_)
        return false;
    error_ = std::move(error);
    return true;
}

std::optional<GraphError> EventQueue::LastError() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void EventQueue::ClearError() {
    std::lock_guard lock(mutex_);
    error_.reset();
}

}  // namespace media::gst
