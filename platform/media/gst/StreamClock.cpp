#include "StreamClock.h"

#include <algorithm>

namespace media::gst {

namespace {

// A sink reports its position clamped to the span's stop; anything further out
// belongs to another span (an answer given before a seek took effect).
constexpr GstClockTime kStopSlack = 5 * GST_MSECOND;

}  // namespace

StreamClock::StreamClock(ElementHandle sink, GstClockTime lead)
    : sink_(std::move(sink)),
      lead_(lead),
      movedAt_(std::chrono::steady_clock::now()),
      freeSince_(movedAt_) {}

std::int64_t StreamClock::FreeTime(TimePoint now) const {
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - freeSince_);
    return freeBase_ + elapsed.count() / 100;
}

std::int64_t StreamClock::HeardSinceStart(GstClockTime position) const {
    return static_cast<std::int64_t>(static_cast<double>(position - segmentStart_) / rate_ / 100.0);
}

void StreamClock::Settle() {
    if (mode_ == Mode::Free)
        reported_ = std::max(reported_, FreeTime(std::chrono::steady_clock::now()));
    ++generation_;
}

void StreamClock::ChangeMode(Mode mode) {
    Settle();
    mode_ = mode;
}

void StreamClock::Refresh() {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (mode_ != Mode::Following)
            return;
        generation = generation_;
    }
    const gint64 position = QueryPosition();
    if (position >= 0)
        Accept(static_cast<GstClockTime>(position), generation);
}

// The sink's position, -1 if it has none. The query is made once and asked
// again: the cursor asks a hundred times a second, and making one allocates.
gint64 StreamClock::QueryPosition() {
    std::lock_guard lock(queryMutex_);
    if (!query_)
        query_ = QueryHandle::Adopt(gst_query_new_position(GST_FORMAT_TIME));
    gst_query_set_position(query_.get(), GST_FORMAT_TIME, -1);
    gint64 position = -1;
    if (gst_element_query(sink_.get(), query_.get()))
        gst_query_parse_position(query_.get(), nullptr, &position);
    return position;
}

void StreamClock::Accept(GstClockTime sinkPosition, std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    const auto lead = static_cast<GstClockTime>(static_cast<double>(lead_) * rate_);
    if (generation != generation_ || mode_ != Mode::Following || sinkPosition < lead)
        return;
    if (GST_CLOCK_TIME_IS_VALID(stop_) && sinkPosition > stop_ + kStopSlack)
        return;
    GstClockTime position = sinkPosition - lead;
    if (position < segmentStart_)
        return;
    if (position > position_) {
        position_ = position;
        movedAt_ = std::chrono::steady_clock::now();
    }
    reported_ = std::max(reported_, base_ + HeardSinceStart(position_));
}

std::int64_t StreamClock::Now() {
    Refresh();
    std::lock_guard lock(mutex_);
    if (mode_ == Mode::Free)
        reported_ = std::max(reported_, FreeTime(std::chrono::steady_clock::now()));
    return reported_;
}

void StreamClock::BeginSegment(GstClockTime start, GstClockTime stop, double rate) {
    std::lock_guard lock(mutex_);
    Settle();
    position_ = start;
    stop_ = stop;
    rate_ = rate;
    segmentStart_ = start;
    base_ = reported_;
    movedAt_ = std::chrono::steady_clock::now();
}

void StreamClock::Follow() {
    std::lock_guard lock(mutex_);
    if (mode_ == Mode::Following)
        return;
    ChangeMode(Mode::Following);
    base_ = reported_;
    segmentStart_ = position_;
    movedAt_ = std::chrono::steady_clock::now();
}

void StreamClock::Hold() {
    // The last position heard before the pause is where a later run goes on.
    Refresh();
    std::lock_guard lock(mutex_);
    ChangeMode(Mode::Held);
}

void StreamClock::Rewind(GstClockTime stop) {
    std::lock_guard lock(mutex_);
    ChangeMode(Mode::Held);
    position_ = 0;
    stop_ = stop;
    rate_ = 1.0;
}

void StreamClock::RunFree() {
    std::lock_guard lock(mutex_);
    if (mode_ != Mode::Following)
        return;
    // Everything up to the stop was heard, whether or not a query saw it.
    if (GST_CLOCK_TIME_IS_VALID(stop_) && stop_ > position_) {
        position_ = stop_;
        reported_ = std::max(reported_, base_ + HeardSinceStart(position_));
    }
    ChangeMode(Mode::Free);
    freeBase_ = reported_;
    freeSince_ = std::chrono::steady_clock::now();
}

void StreamClock::Fail() {
    std::lock_guard lock(mutex_);
    ChangeMode(Mode::Held);
}

StreamClock::Progress StreamClock::Sample() {
    Refresh();
    std::lock_guard lock(mutex_);
    return {mode_ == Mode::Following, position_, stop_, movedAt_, rate_};
}

}  // namespace media::gst
