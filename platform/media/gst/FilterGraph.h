#pragma once
// The filter graph over a GstPipeline.
//
// Filters (GstFilter bins) join and leave the pipeline with AddFilter and
// RemoveFilter; Connect links their ghost pads, putting an audioconvert !
// audioresample pair between them when the formats do not meet directly.
//
// States: Stop and Abort take the pipeline to NULL, which releases the devices
// and lets a later Run start from scratch; Pause is PAUSED, Run is PLAYING.
// Before leaving NULL every filter may veto the start (a capture filter whose
// server does not answer in time), so Run never blocks on a dead device server.
// GetState always waits a bounded time (at most kMaxStateWait).
//
// Events: a bus sync handler turns the pipeline's ERROR into EC_ERRORABORT (the
// error text kept for the caller's last error) and EOS into EC_COMPLETE, and
// drops every message from the bus; Notify adds events from any thread. Both
// land in the EventQueue, which posts the notify window's message per event.
//
// Sources: AddSourceFilter makes a SourceFilter for a file, which has read the
// file up to its first decoded data before it returns (bounded by
// kMaxStateWait), so its output format is known before the graph runs. Filters
// hear of every pipeline state change (BeforeStateChange, AfterStateChange).
//
// Seeking: CheckCapabilities, GetDuration and GetCurrentPosition ask the
// pipeline, or, while it is stopped, the filters (a source that has read its
// file knows its duration). Times are converted to 100-ns units. SetPositions
// is a flushing, accurate seek with a stop position, so that the pipeline
// itself ends the stream there (EOS, then EC_COMPLETE); it needs a paused or
// running graph and waits (bounded) for a pause still under way. It plays at
// the rate last given to SetRate (0.25 to 4; a rendered file keeps its pitch).
//
// Playback: RenderFile builds WaveSource -> AudioRenderer (PlaybackFilters.h)
// for a WAV file and prerolls the graph to PAUSED within kMaxRenderWait; a
// file that does not play, or a sound server that does not answer, fails it
// with the reason as the last error. It leaves the graph stopped but connected
// to the server (READY), where the file's duration and seeking still answer,
// so that the first Run does not start a stream that has been kept waiting.
// The graph then answers IBasicAudio (the
// renderer's volume) and IGraphClock (the renderer's clock), and a Playback
// (Playback.h) follows its states and seeks and watches for a stalled output.
// After the first ERROR of a run further ones are dropped: a sink whose server
// went away reports one for every question asked of it.
//
// Threads: one thread at a time (the UI thread or a loading thread) for every
// operation except Notify, which any thread may call, and GetCurrentPosition,
// which the graph's own streaming threads may also call while it runs (a
// decoder reporting progress). put_Volume and get_Volume may be called from
// any thread. The bus handler runs on GStreamer's threads and touches only the
// EventQueue and the renderer's clock; a rendered graph's watchdog runs on a
// thread of its own (Playback.h). The one-thread-at-a-time operations assert
// that no other thread is inside the graph when they are called: a graph is
// handed from thread to thread (a file's graph is built on the loading thread
// and played on the UI thread), but never shared.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "EventQueue.h"
#include "GstFilter.h"
#include "GstHandles.h"
#include "Media.h"

namespace media::gst {

class AudioRenderer;
class Playback;
struct BusRoute;

class FilterGraph final : public IGraphBuilder,
                          public IMediaControl,
                          public IMediaEventEx,
                          public IMediaEventSink,
                          public IMediaSeeking,
                          public IBasicAudio,
                          public IGraphClock {
  public:
    static constexpr std::chrono::milliseconds kMaxStateWait{10000};
    static constexpr std::chrono::milliseconds kMaxRenderWait{5000};

    FilterGraph();
    ~FilterGraph() override;
    FilterGraph(const FilterGraph&) = delete;
    FilterGraph& operator=(const FilterGraph&) = delete;

    // IGraphBuilder
    HRESULT AddFilter(const std::shared_ptr<IBaseFilter>& filter, const wchar_t* name) override;
    HRESULT RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) override;
    HRESULT EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>* filters) override;
    HRESULT Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) override;
    HRESULT AddSourceFilter(const wchar_t* fileName, const wchar_t* filterName,
                            std::shared_ptr<IBaseFilter>* filter) override;
    HRESULT RenderFile(const wchar_t* fileName, const wchar_t* playList) override;
    HRESULT Abort() override;

    // IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(long timeoutMs, FilterState* state) override;

    // IMediaEventEx
    HRESULT WaitForCompletion(long timeoutMs, long* eventCode) override;
    HRESULT GetEvent(long* eventCode, std::intptr_t* param1, std::intptr_t* param2,
                     long timeoutMs) override;
    HRESULT FreeEventParams(long eventCode, std::intptr_t param1, std::intptr_t param2) override;
    HRESULT SetNotifyWindow(HWND window, std::uint32_t message,
                            std::intptr_t instanceData) override;

    // IMediaEventSink
    HRESULT Notify(long eventCode, std::intptr_t param1, std::intptr_t param2) override;

    // IMediaSeeking
    HRESULT CheckCapabilities(std::uint32_t* capabilities) override;
    HRESULT GetDuration(std::int64_t* duration) override;
    HRESULT GetCurrentPosition(std::int64_t* position) override;
    HRESULT SetPositions(std::int64_t* current, std::uint32_t currentFlags, std::int64_t* stop,
                         std::uint32_t stopFlags) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetRate(double* rate) override;

    // IBasicAudio
    HRESULT put_Volume(long volume) override;
    HRESULT get_Volume(long* volume) override;

    // IGraphClock
    HRESULT GetReferenceClock(std::shared_ptr<IReferenceClock>* clock) override;

  private:
    // Marks the calling thread as the graph's caller for the length of a call.
    class CallerCheck;

    struct Member {
        std::shared_ptr<GstFilter> filter;
        std::wstring name;
    };
    struct Link {
        std::shared_ptr<GstPin> out;
        std::shared_ptr<GstPin> in;
        ElementHandle converter;  // empty for a direct link
    };

    Member* FindMember(const GstFilter* filter);
    GstFilter* OwnerOf(const GstPin& pin);
    std::string UniqueName(const wchar_t* requested) const;
    bool InGraph(const GstPin& pin) const;
    HRESULT CheckConnectable(const GstPin& out, const GstPin& in) const;
    bool LinkThroughConverter(Link& link);
    void Unlink(const Link& link);
    void DisconnectFilter(const GstFilter& filter);
    HRESULT PrepareFiltersToStart();
    HRESULT ChangeState(GstState target);
    GstStateChangeReturn SetPipelineState(GstState target);
    // The state the pipeline is in or on its way to.
    GstState TargetState() const;
    bool QueryStream(GstQuery* query);
    std::optional<std::int64_t> QueryTime(GstQueryType type);
    std::optional<std::int64_t> QueryStreamTime(GstQueryType type);
    std::uint32_t Capabilities();
    HRESULT FailWithPipelineError(const wchar_t* fallback);
    HRESULT Preroll();
    HRESULT RenderWave(const std::string& path);
    void DropEvents();

    ElementHandle pipeline_;
    BusHandle bus_;
    std::shared_ptr<EventQueue> events_;
    std::shared_ptr<BusRoute> route_;
    std::vector<Member> members_;
    std::vector<Link> links_;
    // Set once a file is rendered.
    std::shared_ptr<AudioRenderer> renderer_;
    // What the rendered file's preroll found, for the stopped graph to answer.
    struct Rendered {
        std::optional<std::int64_t> duration;
        std::uint32_t capabilities = 0;
    } rendered_;
    std::unique_ptr<Playback> playback_;
    // For the next SetPositions.
    double rate_ = 1.0;
    // The thread inside a one-thread-at-a-time operation; none outside them.
    std::atomic<std::thread::id> caller_{};
};

class CaptureGraphBuilder final : public ICaptureGraphBuilder2 {
  public:
    HRESULT SetFiltergraph(const std::shared_ptr<IGraphBuilder>& graph) override;
};

}  // namespace media::gst
