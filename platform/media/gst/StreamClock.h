#pragma once
// The reference clock of a playback graph, in 100-ns units: it advances with
// the audio the output has actually played and never jumps or goes back.
//
// While the graph runs, the clock follows the audio sink's stream position
// (the sample being heard now, the server's latency taken off): it advances by
// exactly what was heard since the span began. A caller that notes the clock
// when it starts a span and adds the clock's progress to the span's start
// therefore gets the position being heard. Until the first sample of a span is
// heard the clock stands still; it stands still while the graph is paused or
// stopped and after an error. A sink that plays each sample a lead after its
// time (PlaybackFilters.h) has that lead taken off too; it reports no position
// past the span's stop, so the clock stands a lead short of it while the last
// of the span is heard. After the end of the stream it runs on with the
// system's monotonic clock, as a renderer's clock keeps time after its last
// sample, so a caller waiting for the end sees it pass.
//
// Whatever restarts the output (a seek, a stop, the watchdog rebuilding a
// stalled sink), the clock goes on from the value it had.
//
// A span played at another rate (a seek's rate, Tempo.h) moves the stream
// position by the rate times the time heard; the clock still advances with
// the time heard, the position's progress divided by the rate. The sink's
// lead is time heard, so it stands for the lead times the rate in the stream.
//
// Stream positions are GStreamer nanoseconds; GST_CLOCK_TIME_NONE as a stop
// means "the end of the stream".
//
// Threads: every operation may be called from any thread, the bus handler on
// a streaming thread included. The position query runs without the clock's
// lock held, one at a time.
#include <gst/gst.h>

#include <chrono>
#include <cstdint>
#include <mutex>

#include "GstHandles.h"

namespace media::gst {

class StreamClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // `sink` answers the position queries; it plays each sample `lead`
    // nanoseconds after the position it reports for it.
    explicit StreamClock(ElementHandle sink, GstClockTime lead = 0);

    // The clock's time in 100-ns units.
    std::int64_t Now();

    // The span the next run plays (after a seek), or the one being played when
    // the graph seeks while it runs, and the rate it plays at.
    void BeginSegment(GstClockTime start, GstClockTime stop, double rate = 1.0);
    // The graph starts running: follow the position from where the stream stands.
    void Follow();
    // The graph pauses: stand still; a later Follow goes on from the paused position.
    void Hold();
    // The graph stops: stand still; the stream starts over at 0 and plays to
    // `stop` at rate 1.
    void Rewind(GstClockTime stop);
    // The stream ended: run on with the system clock.
    void RunFree();
    // The output failed: stand still, and ask the sink nothing more (a sink whose
    // server went away reports a new error for every question).
    void Fail();

    // For the watchdog: where the stream stands and since when it has not moved.
    struct Progress {
        bool following = false;
        GstClockTime position = 0;
        GstClockTime stop = GST_CLOCK_TIME_NONE;
        TimePoint since;
        double rate = 1.0;
    };
    Progress Sample();

  private:
    enum class Mode { Held, Following, Free };

    void Refresh();
    gint64 QueryPosition();
    void Accept(GstClockTime sinkPosition, std::uint64_t generation);
    // The time heard while the stream moved from the segment's start to `position`.
    std::int64_t HeardSinceStart(GstClockTime position) const;
    // Brings a free-running time up to date and voids positions asked for before.
    void Settle();
    void ChangeMode(Mode mode);
    std::int64_t FreeTime(TimePoint now) const;

    ElementHandle sink_;
    GstClockTime lead_;
    std::mutex queryMutex_;
    QueryHandle query_;
    std::mutex mutex_;
    Mode mode_ = Mode::Held;
    // Bumped by every change of mode or span, so that a position asked for
    // before the change is not taken after it.
    std::uint64_t generation_ = 0;
    std::int64_t reported_ = 0;  // 100 ns; what Now last answered
    // While following: reported = base + (position - segmentStart) / rate.
    std::int64_t base_ = 0;
    GstClockTime segmentStart_ = 0;
    double rate_ = 1.0;
    GstClockTime stop_ = GST_CLOCK_TIME_NONE;
    GstClockTime position_ = 0;  // where the stream stands
    TimePoint movedAt_;
    // While free: reported = freeBase + (now - freeSince).
    std::int64_t freeBase_ = 0;
    TimePoint freeSince_;
};

}  // namespace media::gst
