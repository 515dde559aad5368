#pragma once
// What a graph that renders a file adds to its pipeline: the clock's view of
// every state change and seek, and a watchdog for a stalled output.
//
// pulsesink was seen to stall after PAUSED -> PLAYING on a PulseAudio null
// sink: the position stands still, no end of stream comes, and the pipeline
// answers nothing well after that. While the graph is meant to be playing, the
// watchdog samples the stream clock every 50 ms. When the position has not
// moved for 250 ms before the stop position, it rebuilds the output:
// NULL -> PAUSED, a seek to the part not yet heard (at the span's rate), PLAYING. The clock goes on
// from where it stood, so the caller's cursor and its cycle simply continue.
// A rebuild that brings no progress doubles the wait before the next one;
// after four in a row the graph reports EC_ERRORABORT ("The audio output
// stopped playing") and stops watching. Stalled at the stop position, the
// stream counts as complete (EC_COMPLETE). Before it touches the pipeline the
// watchdog asks the sound server, within a bounded time, whether it answers:
// a server that has stopped responding would block the rebuild (and with it
// the graph) for half a minute; it is reported as EC_ERRORABORT instead.
// Nothing is logged.
//
// A stop always wins over a rebuild: LockToStop makes a rebuild under way give
// up at its next step (leaving the output stopped) and waits for it at most
// kStopWait, so the caller's Stop takes effect at once.
//
// Threads: the graph calls Lock, the state hooks and Seek on its own thread,
// holding the lock around the pipeline change, so that a rebuild never
// overlaps a Run, Pause, Stop or seek; Lock gives up after kControlWait rather
// than keep the graph's caller waiting on a rebuild. The watchdog runs on a
// thread of its own; it stops (and is joined) when the object goes.
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "EventQueue.h"
#include "Result.h"
#include "StreamClock.h"

namespace media::gst {

// What the watchdog asks of the output it rebuilds.
struct OutputControl {
    // Whether the device answers, within a bounded time (last error set when not).
    std::function<HRESULT()> probe;
    // On the stopped output: the next start goes to the default device.
    std::function<void()> forgetDevice;
};

class Playback {
  public:
    static constexpr std::chrono::milliseconds kControlWait{5000};
    static constexpr std::chrono::milliseconds kStopWait{200};

    // `duration` is the stream's length in nanoseconds, or GST_CLOCK_TIME_NONE.
    Playback(GstElement* pipeline, std::shared_ptr<EventQueue> events,
             std::shared_ptr<StreamClock> clock, OutputControl output, GstClockTime duration);
    ~Playback();
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    // Owns the lock unless a rebuild held it for longer than kControlWait.
    std::unique_lock<std::timed_mutex> Lock() { return std::unique_lock(control_, kControlWait); }
    // For a stop: a rebuild under way gives up, and the wait is at most kStopWait.
    std::unique_lock<std::timed_mutex> LockToStop();

    // Around a state change of the pipeline, with the lock held.
    void BeforeStateChange(GstState target);
    void AfterStateChange(GstState from, GstState target, GstStateChangeReturn result);

    // A flushing, accurate seek from `start` to `stop` (nanoseconds; stop
    // GST_CLOCK_TIME_NONE keeps the current stop) at `rate`, waiting first
    // (bounded) for a state change under way. With the lock held.
    HRESULT Seek(GstClockTime start, GstClockTime stop, double rate = 1.0);

  private:
    void Watch(std::stop_token stop);
    void CheckProgress();
    void Rebuild(const StreamClock::Progress& stalled);
    bool RestartOutput(GstClockTime from, GstClockTime stop, double rate, std::uint64_t stops);
    bool SettleUnlessStopped(std::uint64_t stops);
    void GiveUpForStop();
    void Fail(HRESULT hr, const std::wstring& text);
    std::chrono::milliseconds StallLimit() const;

    GstElement* pipeline_;  // the graph's, which outlives this object
    std::shared_ptr<EventQueue> events_;
    std::shared_ptr<StreamClock> clock_;
    OutputControl output_;
    GstClockTime duration_;
    // Of the span being played; a stop that could not wait for a rebuild sets
    // it beside the rebuild.
    std::atomic<GstClockTime> stop_;

    std::timed_mutex control_;
    // Counts the stops asked for; a rebuild that sees it change gives up.
    std::atomic<std::uint64_t> stops_{0};
    // Watchdog thread only.
    int fruitlessRebuilds_ = 0;
    GstClockTime rebuiltAt_ = GST_CLOCK_TIME_NONE;
    std::jthread watchdog_;
};

// How many times the watchdogs of this process rebuilt a stalled output.
std::uint64_t OutputRebuilds();

}  // namespace media::gst
