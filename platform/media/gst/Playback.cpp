#include "Playback.h"

#include <condition_variable>

#include "LastError.h"
#include "Media.h"

namespace media::gst {

namespace {

using namespace std::chrono_literals;

constexpr auto kWatchPeriod = 50ms;
constexpr auto kStallLimit = 250ms;
constexpr int kMaxFruitlessRebuilds = 4;
// Bounds every wait for the pipeline inside a seek or a rebuild.
constexpr GstClockTime kSettleWait = 5 * GST_SECOND;
// A position this close to the stop has played the span.
constexpr GstClockTime kEndSlack = 2 * GST_MSECOND;

std::atomic<std::uint64_t> rebuilds{0};

// How often a rebuild waiting for the pipeline looks for a stop.
constexpr GstClockTime kSettleSlice = 10 * GST_MSECOND;

}  // namespace

std::uint64_t OutputRebuilds() {
    return rebuilds.load();
}

Playback::Playback(GstElement* pipeline, std::shared_ptr<EventQueue> events,
                   std::shared_ptr<StreamClock> clock, OutputControl output, GstClockTime duration)
    : pipeline_(pipeline),
      events_(std::move(events)),
      clock_(std::move(clock)),
      output_(std::move(output)),
      duration_(duration),
      stop_(duration),
      watchdog_([this](std::stop_token stop) { Watch(stop); }) {
    clock_->Rewind(duration_);
}

// The watchdog thread is asked to stop and joined by its own destructor, the
// first member to go.
Playback::~Playback() = default;

// ---- the graph's side ---------------------------------------------------------

std::unique_lock<std::timed_mutex> Playback::LockToStop() {
    stops_.fetch_add(1);
    return std::unique_lock(control_, kStopWait);
}

void Playback::BeforeStateChange(GstState target) {
    if (target == GST_STATE_PLAYING)
        return;
    if (target == GST_STATE_PAUSED) {
        clock_->Hold();
        return;
    }
    // Stopped, the stream starts over from the beginning and plays to the end.
    stop_ = duration_;
    clock_->Rewind(duration_);
}

void Playback::AfterStateChange(GstState from, GstState target, GstStateChangeReturn result) {
    // A graph already running (or run to its end) starts nothing new.
    if (target != GST_STATE_PLAYING || from == GST_STATE_PLAYING ||
        result == GST_STATE_CHANGE_FAILURE)
        return;
    clock_->Follow();
}

void Playback::Fail(HRESULT hr, const std::wstring& text) {
    // The pipeline's own error, when it posted one, is the better text.
    if (auto error = events_->LastError()) {
        SetLastError(error->code, error->text);
        return;
    }
    SetLastError(static_cast<std::uint32_t>(hr), text);
    events_->RecordError({static_cast<std::uint32_t>(hr), text});
    events_->Push({EC_ERRORABORT, static_cast<std::intptr_t>(hr), 0});
}

HRESULT Playback::Seek(GstClockTime start, GstClockTime stop, double rate) {
    // A pipeline on its way to PAUSED cannot seek yet: its parser has not
    // found the stream.
    GstState current = GST_STATE_NULL;
    GstState pending = GST_STATE_VOID_PENDING;
    switch (gst_element_get_state(pipeline_, &current, &pending, kSettleWait)) {
        case GST_STATE_CHANGE_FAILURE:
            if (auto error = events_->LastError()) {
                SetLastError(error->code, error->text);
                return E_FAIL;
            }
            SetLastError(static_cast<std::uint32_t>(E_FAIL), L"The graph cannot seek: it failed");
            return E_FAIL;
        case GST_STATE_CHANGE_ASYNC:
            SetLastError(static_cast<std::uint32_t>(VFW_E_TIMEOUT),
                         L"The graph did not settle in time to seek");
            return VFW_E_TIMEOUT;
        default:
            break;
    }
    if (current < GST_STATE_PAUSED) {
        SetLastError(static_cast<std::uint32_t>(E_UNEXPECTED),
                     L"A stopped graph cannot seek; pause it first");
        return E_UNEXPECTED;
    }
    if (!GST_CLOCK_TIME_IS_VALID(stop))
        stop = stop_;
    clock_->BeginSegment(start, stop, rate);
    auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek(pipeline_, rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                          static_cast<gint64>(start), GST_SEEK_TYPE_SET,
                          static_cast<gint64>(stop))) {
        SetLastError(static_cast<std::uint32_t>(E_FAIL),
                     L"The stream could not move to the asked position");
        return E_FAIL;
    }
    stop_ = stop;
    // A running graph plays the new span at once.
    if (current == GST_STATE_PLAYING)
        clock_->Follow();
    return S_OK;
}

// ---- the watchdog ---------------------------------------------------------------

void Playback::Watch(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    while (!stop.stop_requested()) {
        {
            std::unique_lock lock(mutex);
            wake.wait_for(lock, stop, kWatchPeriod, [] { return false; });
        }
        if (!stop.stop_requested())
            CheckProgress();
    }
}

std::chrono::milliseconds Playback::StallLimit() const {
    return kStallLimit * (1 << fruitlessRebuilds_);
}

void Playback::CheckProgress() {
    StreamClock::Progress progress = clock_->Sample();
    if (!progress.following) {
        fruitlessRebuilds_ = 0;
        rebuiltAt_ = GST_CLOCK_TIME_NONE;
        return;
    }
    if (GST_CLOCK_TIME_IS_VALID(rebuiltAt_) && progress.position > rebuiltAt_) {
        fruitlessRebuilds_ = 0;
        rebuiltAt_ = GST_CLOCK_TIME_NONE;
    }
    if (std::chrono::steady_clock::now() - progress.since >= StallLimit())
        Rebuild(progress);
}

void Playback::Rebuild(const StreamClock::Progress& stalled) {
    // A server that does not answer would block every state change of the
    // pipeline: leave it alone and say so.
    if (FAILED(output_.probe())) {
        clock_->Fail();
        Fail(E_FAIL, GetLastErrorText());
        return;
    }
    std::unique_lock lock(control_);
    // The graph may have paused, stopped or sought, or the sink moved on,
    // while the server was asked and the lock taken.
    StreamClock::Progress now = clock_->Sample();
    if (!now.following || now.since != stalled.since)
        return;
    if (GST_CLOCK_TIME_IS_VALID(now.stop) && now.position + kEndSlack >= now.stop) {
        clock_->RunFree();
        events_->Push({EC_COMPLETE, static_cast<std::intptr_t>(S_OK), 0});
        return;
    }
    if (fruitlessRebuilds_ >= kMaxFruitlessRebuilds) {
        clock_->Fail();
        Fail(E_FAIL, L"The audio output stopped playing");
        return;
    }
    ++fruitlessRebuilds_;
    rebuiltAt_ = now.position;
    rebuilds.fetch_add(1);
    if (!RestartOutput(now.position, now.stop, now.rate, stops_.load()))
        clock_->Fail();
}

// Waits for the pipeline in short slices; false when it failed, did not settle
// within kSettleWait, or a stop was asked for meanwhile.
bool Playback::SettleUnlessStopped(std::uint64_t stops) {
    for (GstClockTime waited = 0; waited < kSettleWait; waited += kSettleSlice) {
        if (stops_.load() != stops)
            return false;
        switch (gst_element_get_state(pipeline_, nullptr, nullptr, kSettleSlice)) {
            case GST_STATE_CHANGE_ASYNC:
                continue;
            case GST_STATE_CHANGE_FAILURE:
                return false;
            default:
                return stops_.load() == stops;
        }
    }
    return false;
}

// A stop came while the output was being rebuilt: leave it stopped, as the
// stop would, whether or not the stop could wait for this.
void Playback::GiveUpForStop() {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    stop_ = duration_;
    clock_->Rewind(duration_);
}

// `stops` is the stop count when the rebuild began. True when the output plays
// again or a stop ended the rebuild.
bool Playback::RestartOutput(GstClockTime from, GstClockTime stop, double rate,
                             std::uint64_t stops) {
    auto stopped = [&] {
        if (stops_.load() == stops)
            return false;
        GiveUpForStop();
        return true;
    };
    auto fail = [this] {
        Fail(E_FAIL, L"The audio output could not be restarted");
        return false;
    };
    clock_->Hold();
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    output_.forgetDevice();
    if (stopped())
        return true;
    bool paused = gst_element_set_state(pipeline_, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE &&
                  SettleUnlessStopped(stops);
    if (stopped())
        return true;
    if (!paused)
        return fail();
    clock_->BeginSegment(from, stop, rate);
    auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    bool sought =
        gst_element_seek(pipeline_, rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                         static_cast<gint64>(from), GST_SEEK_TYPE_SET, static_cast<gint64>(stop)) &&
        SettleUnlessStopped(stops);
    if (stopped())
        return true;
    if (!sought)
        return fail();
    clock_->Follow();
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return fail();
    return true;
}

}  // namespace media::gst
