#include "FilterGraph.h"

#include <algorithm>
#include <cassert>
#include <cstdio>

#include "BusErrors.h"
#include "LastError.h"
#include "Playback.h"
#include "PlaybackFilters.h"
#include "SourceFilter.h"

namespace media::gst {

// What the bus handler reaches: the graph's events and, once a file is
// rendered, the renderer's clock.
struct BusRoute {
    std::shared_ptr<EventQueue> events;
    std::mutex mutex;
    std::shared_ptr<StreamClock> clock;

    std::shared_ptr<StreamClock> Clock() {
        std::lock_guard lock(mutex);
        return clock;
    }
};

namespace {

HRESULT NotImplemented(const wchar_t* what) {
    return Fail(E_NOTIMPL, std::wstring(what) + L" is not supported by this graph");
}

FilterState ToFilterState(GstState state) {
    switch (state) {
        case GST_STATE_PLAYING:
            return FilterState::Running;
        case GST_STATE_PAUSED:
            return FilterState::Paused;
        default:
            return FilterState::Stopped;
    }
}

// Runs on whichever thread posts the message; hands the two messages the graph
// reports as events to the queue and keeps nothing on the bus. The clock hears
// first, so that whoever sees the event finds the clock as it says.
GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer userData) {
    auto& route = SharedBox<BusRoute>::Get(userData);
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR:
            if (auto clock = route.Clock())
                clock->Fail();
            if (route.events->RecordFirstError(ErrorOfMessage(message)))
                route.events->Push({EC_ERRORABORT, static_cast<std::intptr_t>(E_FAIL), 0});
            break;
        case GST_MESSAGE_EOS:
            if (auto clock = route.Clock())
                clock->RunFree();
            route.events->Push({EC_COMPLETE, static_cast<std::intptr_t>(S_OK), 0});
            break;
        default:
            break;
    }
    return GST_BUS_DROP;
}

bool HasChildNamed(GstElement* bin, const std::string& name) {
    bool found = false;
    GST_OBJECT_LOCK(bin);
    for (GList* child = GST_BIN_CHILDREN(bin); child && !found; child = child->next) {
        const gchar* childName = GST_OBJECT_NAME(child->data);
        found = childName && name == childName;
    }
    GST_OBJECT_UNLOCK(bin);
    return found;
}

// Beyond these the tempo stage no longer sounds like speech.
constexpr double kMinRate = 0.25;
constexpr double kMaxRate = 4.0;

std::chrono::milliseconds BoundedWait(long timeoutMs) {
    if (timeoutMs < 0)
        return FilterGraph::kMaxStateWait;
    return std::min(std::chrono::milliseconds(timeoutMs), FilterGraph::kMaxStateWait);
}

std::wstring PinLabel(const GstPin& pin) {
    return L"\"" + pin.Name() + L"\"";
}

}  // namespace

// A second thread arriving while another is inside is a caller's fault; the
// same thread may nest calls.
class FilterGraph::CallerCheck {
  public:
    explicit CallerCheck(std::atomic<std::thread::id>& caller) : caller_(caller) {
        std::thread::id none;
        claimed_ = caller_.compare_exchange_strong(none, std::this_thread::get_id());
        assert((claimed_ || none == std::this_thread::get_id()) &&
               "two threads inside one filter graph");
    }
    ~CallerCheck() {
        if (claimed_)
            caller_.store(std::thread::id());
    }
    CallerCheck(const CallerCheck&) = delete;
    CallerCheck& operator=(const CallerCheck&) = delete;

  private:
    std::atomic<std::thread::id>& caller_;
    bool claimed_ = false;
};

FilterGraph::FilterGraph()
    : pipeline_(ElementHandle::RefSink(gst_pipeline_new(nullptr))),
      events_(std::make_shared<EventQueue>()),
      route_(std::make_shared<BusRoute>()) {
    route_->events = events_;
    bus_ = BusHandle::Adopt(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus_.get(), OnBusMessage, SharedBox<BusRoute>::Make(route_),
                             SharedBox<BusRoute>::Destroy);
}

FilterGraph::~FilterGraph() {
    // The watchdog goes first: it must not restart what is being taken down.
    playback_.reset();
    events_->SetNotifyWindow(nullptr, 0, 0);
    SetPipelineState(GST_STATE_NULL);
    // Filters outlive the graph when their owners still hold them: give them
    // back unlinked and without a parent, ready for another graph.
    for (const Link& link : links_)
        Unlink(link);
    links_.clear();
    for (const Member& member : members_) {
        gst_bin_remove(GST_BIN(pipeline_.get()), member.filter->Element());
    }
    members_.clear();
    gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
}

// ---- building ---------------------------------------------------------------

FilterGraph::Member* FilterGraph::FindMember(const GstFilter* filter) {
    auto found = std::find_if(members_.begin(), members_.end(),
                              [filter](const Member& m) { return m.filter.get() == filter; });
    return found == members_.end() ? nullptr : &*found;
}

GstFilter* FilterGraph::OwnerOf(const GstPin& pin) {
    for (const Member& member : members_) {
        if (member.filter->Owns(pin))
            return member.filter.get();
    }
    return nullptr;
}

bool FilterGraph::InGraph(const GstPin& pin) const {
    return std::any_of(members_.begin(), members_.end(),
                       [&pin](const Member& m) { return m.filter->Owns(pin); });
}

std::string FilterGraph::UniqueName(const wchar_t* requested) const {
    std::string base = requested && *requested ? NarrowUtf8(requested) : "Filter";
    std::string name = base;
    for (int n = 1; HasChildNamed(pipeline_.get(), name); ++n) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, " %04d", n);
        name = base + suffix;
    }
    return name;
}

HRESULT FilterGraph::AddFilter(const std::shared_ptr<IBaseFilter>& filter, const wchar_t* name) {
    CallerCheck check(caller_);
    if (!filter)
        return E_POINTER;
    auto gstFilter = std::dynamic_pointer_cast<GstFilter>(filter);
    if (!gstFilter)
        return Fail(E_INVALIDARG, L"The filter does not belong to this media backend");
    if (FindMember(gstFilter.get()) || GST_OBJECT_PARENT(gstFilter->Element())) {
        return Fail(E_INVALIDARG, L"The filter is already in a graph");
    }
    std::string unique = UniqueName(name);
    gst_object_set_name(GST_OBJECT(gstFilter->Element()), unique.c_str());
    if (!gst_bin_add(GST_BIN(pipeline_.get()), gstFilter->Element())) {
        return Fail(E_FAIL, L"The filter could not join the graph");
    }
    members_.push_back({gstFilter, WidenUtf8(unique)});
    return S_OK;
}

HRESULT FilterGraph::RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) {
    CallerCheck check(caller_);
    if (!filter)
        return E_POINTER;
    auto gstFilter = std::dynamic_pointer_cast<GstFilter>(filter);
    if (!gstFilter || !FindMember(gstFilter.get())) {
        return Fail(VFW_E_NOT_FOUND, L"The filter is not in this graph");
    }
    // Stopped first, so that a running source never pushes into an unlinked pad.
    gst_element_set_state(gstFilter->Element(), GST_STATE_NULL);
    DisconnectFilter(*gstFilter);
    gst_bin_remove(GST_BIN(pipeline_.get()), gstFilter->Element());
    std::erase_if(members_, [&](const Member& m) { return m.filter == gstFilter; });
    return S_OK;
}

HRESULT FilterGraph::EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>* filters) {
    CallerCheck check(caller_);
    if (!filters)
        return E_POINTER;
    filters->clear();
    for (const Member& member : members_)
        filters->push_back(member.filter);
    return S_OK;
}

HRESULT FilterGraph::CheckConnectable(const GstPin& out, const GstPin& in) const {
    if (out.Direction() != PinDirection::Output || in.Direction() != PinDirection::Input) {
        return Fail(E_INVALIDARG, L"Connect needs an output pin and an input pin");
    }
    if (!out.Pad() || !in.Pad()) {
        return Fail(VFW_E_CANNOT_CONNECT, L"The pin " + PinLabel(!out.Pad() ? out : in) +
                                              L" carries no stream and cannot be connected");
    }
    if (!InGraph(out) || !InGraph(in)) {
        return Fail(E_INVALIDARG, L"The pins' filters must be in this graph");
    }
    if (out.Peer() || in.Peer()) {
        return Fail(VFW_E_CANNOT_CONNECT,
                    L"The pin " + PinLabel(out.Peer() ? out : in) + L" is already connected");
    }
    return S_OK;
}

HRESULT FilterGraph::Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) {
    CallerCheck check(caller_);
    if (!out || !in)
        return E_POINTER;
    auto outPin = std::dynamic_pointer_cast<GstPin>(out);
    auto inPin = std::dynamic_pointer_cast<GstPin>(in);
    if (!outPin || !inPin)
        return Fail(E_INVALIDARG, L"The pin does not belong to this media backend");
    HRESULT hr = CheckConnectable(*outPin, *inPin);
    if (FAILED(hr))
        return hr;

    Link link{outPin, inPin, {}};
    GstPadLinkReturn direct = gst_pad_link(outPin->Pad(), inPin->Pad());
    if (direct != GST_PAD_LINK_OK && !LinkThroughConverter(link)) {
        return Fail(VFW_E_CANNOT_CONNECT, L"Cannot connect " + PinLabel(*outPin) + L" to " +
                                              PinLabel(*inPin) + L": " +
                                              WidenUtf8(gst_pad_link_get_name(direct)));
    }
    outPin->SetPeer(inPin);
    inPin->SetPeer(outPin);
    links_.push_back(link);
    OwnerOf(*outPin)->PinConnected(*outPin);
    OwnerOf(*inPin)->PinConnected(*inPin);
    return S_OK;
}

bool FilterGraph::LinkThroughConverter(Link& link) {
    auto bin = ElementHandle::RefSink(gst_bin_new(UniqueName(L"Converter").c_str()));
    auto convert = MakeElement("audioconvert");
    auto resample = MakeElement("audioresample");
    if (!convert || !resample)
        return false;
    gst_bin_add_many(GST_BIN(bin.get()), convert.get(), resample.get(), nullptr);
    if (!gst_element_link(convert.get(), resample.get()))
        return false;
    auto convertSink = PadHandle::Adopt(gst_element_get_static_pad(convert.get(), "sink"));
    auto resampleSrc = PadHandle::Adopt(gst_element_get_static_pad(resample.get(), "src"));
    auto sink = PadHandle::RefSink(gst_ghost_pad_new("sink", convertSink.get()));
    auto src = PadHandle::RefSink(gst_ghost_pad_new("src", resampleSrc.get()));
    gst_element_add_pad(bin.get(), sink.get());
    gst_element_add_pad(bin.get(), src.get());

    if (!gst_bin_add(GST_BIN(pipeline_.get()), bin.get()))
        return false;
    if (gst_pad_link(link.out->Pad(), sink.get()) != GST_PAD_LINK_OK) {
        gst_bin_remove(GST_BIN(pipeline_.get()), bin.get());
        return false;
    }
    if (gst_pad_link(src.get(), link.in->Pad()) != GST_PAD_LINK_OK) {
        gst_pad_unlink(link.out->Pad(), sink.get());
        gst_bin_remove(GST_BIN(pipeline_.get()), bin.get());
        return false;
    }
    gst_element_sync_state_with_parent(bin.get());
    link.converter = bin;
    return true;
}

void FilterGraph::Unlink(const Link& link) {
    if (link.converter) {
        auto sink = PadHandle::Adopt(gst_element_get_static_pad(link.converter.get(), "sink"));
        auto src = PadHandle::Adopt(gst_element_get_static_pad(link.converter.get(), "src"));
        gst_pad_unlink(link.out->Pad(), sink.get());
        gst_pad_unlink(src.get(), link.in->Pad());
        gst_element_set_state(link.converter.get(), GST_STATE_NULL);
        gst_bin_remove(GST_BIN(pipeline_.get()), link.converter.get());
    } else {
        gst_pad_unlink(link.out->Pad(), link.in->Pad());
    }
    link.out->ClearPeer();
    link.in->ClearPeer();
    if (GstFilter* owner = OwnerOf(*link.out))
        owner->PinDisconnected(*link.out);
    if (GstFilter* owner = OwnerOf(*link.in))
        owner->PinDisconnected(*link.in);
}

void FilterGraph::DisconnectFilter(const GstFilter& filter) {
    std::erase_if(links_, [&](const Link& link) {
        if (!filter.Owns(*link.out) && !filter.Owns(*link.in))
            return false;
        Unlink(link);
        return true;
    });
}

HRESULT FilterGraph::AddSourceFilter(const wchar_t* fileName, const wchar_t* filterName,
                                     std::shared_ptr<IBaseFilter>* filter) {
    CallerCheck check(caller_);
    if (!fileName || !filter)
        return E_POINTER;
    filter->reset();
    auto source = SourceFilter::Create(NarrowUtf8(fileName), kMaxStateWait);
    if (!source)
        return E_FAIL;
    HRESULT hr = AddFilter(source, filterName);
    if (FAILED(hr))
        return hr;
    *filter = source;
    return S_OK;
}

HRESULT FilterGraph::RenderFile(const wchar_t* fileName, const wchar_t*) {
    CallerCheck check(caller_);
    if (!fileName)
        return E_POINTER;
    if (renderer_)
        return Fail(E_UNEXPECTED, L"The graph already plays a file");
    return RenderWave(NarrowUtf8(fileName));
}

HRESULT FilterGraph::RenderWave(const std::string& path) {
    auto source = WaveSource::Create(path);
    auto renderer = AudioRenderer::Create();
    if (!source || !renderer)
        return E_FAIL;
    HRESULT hr = AddFilter(source, L"Source");
    if (SUCCEEDED(hr))
        hr = AddFilter(renderer, L"Audio Renderer");
    if (SUCCEEDED(hr))
        hr = Connect(source->Pins().front(), renderer->Pins().front());
    if (SUCCEEDED(hr))
        hr = Preroll();
    if (FAILED(hr)) {
        // Leave the graph as it was, with the reason as the last error.
        std::uint32_t code = GetLastError();
        std::wstring text = GetLastErrorText();
        SetPipelineState(GST_STATE_NULL);
        if (FindMember(source.get()))
            RemoveFilter(source);
        if (FindMember(renderer.get()))
            RemoveFilter(renderer);
        DropEvents();
        SetLastError(code, text);
        return hr;
    }
    {
        std::lock_guard lock(route_->mutex);
        route_->clock = renderer->Clock();
    }
    renderer_ = renderer;
    auto duration = QueryTime(GST_QUERY_DURATION);
    rendered_ = {duration, Capabilities() & ~AM_SEEKING_CanGetCurrentPos};
    GstClockTime nanoseconds =
        duration ? static_cast<GstClockTime>(*duration) * 100 : GST_CLOCK_TIME_NONE;
    // A stream that waits prerolled keeps time all the same, and its first run
    // puts the first sample that far into it, after as much silence (a quarter
    // of a second and more). The output waits connected but without a stream
    // instead; the next start opens one at once.
    SetPipelineState(GST_STATE_READY);
    events_->ClearError();
    events_->ResetEnd();
    OutputControl output{[device = renderer.get()] { return device->PrepareToStart(); },
                         [device = renderer.get()] { device->ForgetDevice(); }};
    playback_ = std::make_unique<Playback>(pipeline_.get(), events_, renderer->Clock(),
                                           std::move(output), nanoseconds);
    return S_OK;
}

// Waits for the graph to settle in PAUSED, or for the error that keeps it from
// settling (a parser that refuses the file fails on its streaming thread, and
// the state change alone would only time out).
HRESULT FilterGraph::Preroll() {
    HRESULT hr = ChangeState(GST_STATE_PAUSED);
    if (FAILED(hr))
        return hr;
    auto deadline = std::chrono::steady_clock::now() + kMaxRenderWait;
    while (std::chrono::steady_clock::now() < deadline) {
        if (events_->LastError())
            return FailWithPipelineError(L"The file could not be played");
        switch (gst_element_get_state(pipeline_.get(), nullptr, nullptr, 20 * GST_MSECOND)) {
            case GST_STATE_CHANGE_FAILURE:
                return FailWithPipelineError(L"The file could not be played");
            case GST_STATE_CHANGE_ASYNC:
                break;
            default:
                return S_OK;
        }
    }
    return Fail(VFW_E_TIMEOUT, L"The audio output did not get ready in time");
}

void FilterGraph::DropEvents() {
    while (events_->Pop(std::chrono::milliseconds(0))) {
    }
    events_->ResetEnd();
    events_->ClearError();
}

// ---- control ----------------------------------------------------------------

HRESULT FilterGraph::PrepareFiltersToStart() {
    GstState current = GST_STATE_NULL;
    gst_element_get_state(pipeline_.get(), &current, nullptr, 0);
    if (current > GST_STATE_READY)
        return S_OK;
    for (const Member& member : members_) {
        HRESULT hr = member.filter->PrepareToStart();
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT FilterGraph::FailWithPipelineError(const wchar_t* fallback) {
    if (auto error = events_->LastError()) {
        SetLastError(error->code, error->text);
    } else {
        SetLastError(static_cast<std::uint32_t>(E_FAIL), fallback);
    }
    return E_FAIL;
}

HRESULT FilterGraph::ChangeState(GstState target) {
    if (target > GST_STATE_READY) {
        HRESULT hr = PrepareFiltersToStart();
        if (FAILED(hr))
            return hr;
    }
    std::unique_lock<std::timed_mutex> lock;
    GstState from = TargetState();
    if (playback_) {
        lock = target == GST_STATE_NULL ? playback_->LockToStop() : playback_->Lock();
        if (!lock)
            return Fail(VFW_E_TIMEOUT, L"The audio output is busy restarting");
        playback_->BeforeStateChange(target);
    }
    // A start keeps what the filters reported while the graph was stopped (a
    // source failing on its own thread as it was added): the wait for the end
    // must see it. Every other change starts afresh.
    bool starting = from <= GST_STATE_READY && target > GST_STATE_READY;
    if (!starting) {
        events_->ClearError();
        events_->ResetEnd();
    }
    GstStateChangeReturn result = SetPipelineState(target);
    if (playback_)
        playback_->AfterStateChange(from, target, result);
    // What a graph says on its way down is of no concern to its next start.
    if (target <= GST_STATE_READY && result != GST_STATE_CHANGE_FAILURE) {
        events_->ClearError();
        events_->ResetEnd();
    }
    switch (result) {
        case GST_STATE_CHANGE_FAILURE:
            return FailWithPipelineError(L"The graph could not change its state");
        case GST_STATE_CHANGE_ASYNC:
            return S_FALSE;
        default:
            return S_OK;
    }
}

HRESULT FilterGraph::Run() {
    CallerCheck check(caller_);
    return ChangeState(GST_STATE_PLAYING);
}

HRESULT FilterGraph::Pause() {
    CallerCheck check(caller_);
    return ChangeState(GST_STATE_PAUSED);
}

HRESULT FilterGraph::Stop() {
    CallerCheck check(caller_);
    return ChangeState(GST_STATE_NULL);
}

HRESULT FilterGraph::Abort() {
    CallerCheck check(caller_);
    std::unique_lock<std::timed_mutex> lock;
    if (playback_) {
        lock = playback_->LockToStop();
        if (!lock)
            return Fail(VFW_E_TIMEOUT, L"The audio output is busy restarting");
        playback_->BeforeStateChange(GST_STATE_NULL);
    }
    SetPipelineState(GST_STATE_NULL);
    return S_OK;
}

GstState FilterGraph::TargetState() const {
    GstState current = GST_STATE_NULL;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(pipeline_.get(), &current, &pending, 0);
    return pending != GST_STATE_VOID_PENDING ? pending : current;
}

GstStateChangeReturn FilterGraph::SetPipelineState(GstState target) {
    for (const Member& member : members_)
        member.filter->BeforeStateChange(target);
    GstStateChangeReturn result = gst_element_set_state(pipeline_.get(), target);
    if (result == GST_STATE_CHANGE_FAILURE)
        return result;
    for (const Member& member : members_)
        member.filter->AfterStateChange(target);
    return result;
}

HRESULT FilterGraph::GetState(long timeoutMs, FilterState* state) {
    CallerCheck check(caller_);
    if (!state)
        return E_POINTER;
    GstState current = GST_STATE_NULL;
    GstState pending = GST_STATE_VOID_PENDING;
    auto wait = static_cast<GstClockTime>(BoundedWait(timeoutMs).count()) * GST_MSECOND;
    switch (gst_element_get_state(pipeline_.get(), &current, &pending, wait)) {
        case GST_STATE_CHANGE_FAILURE:
            *state = ToFilterState(current);
            return FailWithPipelineError(L"The graph failed to change its state");
        case GST_STATE_CHANGE_ASYNC:
            *state = ToFilterState(pending != GST_STATE_VOID_PENDING ? pending : current);
            return VFW_S_STATE_INTERMEDIATE;
        default:
            *state = ToFilterState(current);
            return S_OK;
    }
}

// ---- events -----------------------------------------------------------------

HRESULT FilterGraph::WaitForCompletion(long timeoutMs, long* eventCode) {
    CallerCheck check(caller_);
    if (!eventCode)
        return E_POINTER;
    auto end = events_->WaitForEnd(std::chrono::milliseconds(timeoutMs));
    *eventCode = end.value_or(0);
    return end ? S_OK : E_ABORT;
}

HRESULT FilterGraph::GetEvent(long* eventCode, std::intptr_t* param1, std::intptr_t* param2,
                              long timeoutMs) {
    CallerCheck check(caller_);
    if (!eventCode || !param1 || !param2)
        return E_POINTER;
    auto event = events_->Pop(std::chrono::milliseconds(timeoutMs));
    if (!event) {
        *eventCode = 0;
        *param1 = *param2 = 0;
        return E_ABORT;
    }
    *eventCode = event->code;
    *param1 = event->param1;
    *param2 = event->param2;
    if (event->code == EC_ERRORABORT) {
        if (auto error = events_->LastError())
            SetLastError(error->code, error->text);
    }
    return S_OK;
}

HRESULT FilterGraph::FreeEventParams(long, std::intptr_t, std::intptr_t) {
    return S_OK;
}

HRESULT FilterGraph::SetNotifyWindow(HWND window, std::uint32_t message,
                                     std::intptr_t instanceData) {
    CallerCheck check(caller_);
    events_->SetNotifyWindow(window, message, instanceData);
    return S_OK;
}

HRESULT FilterGraph::Notify(long eventCode, std::intptr_t param1, std::intptr_t param2) {
    events_->Push({eventCode, param1, param2});
    return S_OK;
}

// ---- seeking ----------------------------------------------------------------

bool FilterGraph::QueryStream(GstQuery* query) {
    if (gst_element_query(pipeline_.get(), query))
        return true;
    // A stopped pipeline does not answer yet; a source that has read its file does.
    return std::any_of(members_.begin(), members_.end(),
                       [query](const Member& m) { return m.filter->Query(query); });
}

std::optional<std::int64_t> FilterGraph::QueryTime(GstQueryType type) {
    std::optional<std::int64_t> time = QueryStreamTime(type);
    // A rendered file waits stopped: what its preroll found still holds.
    if (!time && type == GST_QUERY_DURATION)
        return rendered_.duration;
    return time;
}

std::optional<std::int64_t> FilterGraph::QueryStreamTime(GstQueryType type) {
    auto query =
        QueryHandle::Adopt(type == GST_QUERY_DURATION ? gst_query_new_duration(GST_FORMAT_TIME)
                                                      : gst_query_new_position(GST_FORMAT_TIME));
    if (!QueryStream(query.get()))
        return std::nullopt;
    GstFormat format = GST_FORMAT_UNDEFINED;
    gint64 time = -1;
    if (type == GST_QUERY_DURATION)
        gst_query_parse_duration(query.get(), &format, &time);
    else
        gst_query_parse_position(query.get(), &format, &time);
    if (format != GST_FORMAT_TIME || time < 0)
        return std::nullopt;
    return time / 100;
}

std::uint32_t FilterGraph::Capabilities() {
    std::uint32_t capabilities = 0;
    if (QueryTime(GST_QUERY_DURATION))
        capabilities |= AM_SEEKING_CanGetDuration;
    if (QueryTime(GST_QUERY_POSITION))
        capabilities |= AM_SEEKING_CanGetCurrentPos;
    auto seeking = QueryHandle::Adopt(gst_query_new_seeking(GST_FORMAT_TIME));
    gboolean seekable = FALSE;
    if (QueryStream(seeking.get())) {
        gst_query_parse_seeking(seeking.get(), nullptr, &seekable, nullptr, nullptr);
    }
    if (seekable) {
        capabilities |=
            AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards;
    }
    return capabilities | rendered_.capabilities;
}

HRESULT FilterGraph::CheckCapabilities(std::uint32_t* capabilities) {
    CallerCheck check(caller_);
    if (!capabilities)
        return E_POINTER;
    std::uint32_t asked = *capabilities;
    *capabilities = asked & Capabilities();
    if (*capabilities == asked)
        return S_OK;
    if (*capabilities != 0)
        return S_FALSE;
    return Fail(E_FAIL, L"The graph's stream offers none of the asked seeking capabilities");
}

HRESULT FilterGraph::GetDuration(std::int64_t* duration) {
    CallerCheck check(caller_);
    if (!duration)
        return E_POINTER;
    auto time = QueryTime(GST_QUERY_DURATION);
    if (!time)
        return Fail(E_FAIL, L"The duration of the graph's stream is not known");
    *duration = *time;
    return S_OK;
}

HRESULT FilterGraph::GetCurrentPosition(std::int64_t* position) {
    if (!position)
        return E_POINTER;
    auto time = QueryTime(GST_QUERY_POSITION);
    if (!time)
        return Fail(E_FAIL, L"The position of the graph's stream is not known");
    *position = *time;
    return S_OK;
}

HRESULT FilterGraph::SetPositions(std::int64_t* current, std::uint32_t currentFlags,
                                  std::int64_t* stop, std::uint32_t stopFlags) {
    CallerCheck check(caller_);
    bool setStop = (stopFlags & AM_SEEKING_AbsolutePositioning) != 0;
    if (!(currentFlags & AM_SEEKING_AbsolutePositioning))
        return Fail(E_INVALIDARG, L"Seeking needs an absolute start position");
    if (!current || (setStop && !stop))
        return E_POINTER;
    if (*current < 0 || (setStop && *stop < *current))
        return Fail(E_INVALIDARG, L"The positions lie outside the stream or in the wrong order");
    if (!playback_)
        return NotImplemented(L"Seeking");
    auto start = static_cast<GstClockTime>(*current) * 100;
    GstClockTime end = setStop ? static_cast<GstClockTime>(*stop) * 100 : GST_CLOCK_TIME_NONE;
    auto lock = playback_->Lock();
    if (!lock)
        return Fail(VFW_E_TIMEOUT, L"The audio output is busy restarting");
    return playback_->Seek(start, end, rate_);
}

HRESULT FilterGraph::SetRate(double rate) {
    CallerCheck check(caller_);
    if (!(rate >= kMinRate && rate <= kMaxRate))
        return Fail(E_INVALIDARG, L"The playback rate lies outside what the graph plays");
    rate_ = rate;
    return S_OK;
}

HRESULT FilterGraph::GetRate(double* rate) {
    CallerCheck check(caller_);
    if (!rate)
        return E_POINTER;
    *rate = rate_;
    return S_OK;
}

// ---- playback: volume and clock of the rendered file's output ----------------

HRESULT FilterGraph::put_Volume(long volume) {
    if (!renderer_)
        return NotImplemented(L"Volume");
    return renderer_->put_Volume(volume);
}

HRESULT FilterGraph::get_Volume(long* volume) {
    if (!renderer_)
        return NotImplemented(L"Volume");
    return renderer_->get_Volume(volume);
}

HRESULT FilterGraph::GetReferenceClock(std::shared_ptr<IReferenceClock>* clock) {
    CallerCheck check(caller_);
    if (!clock)
        return E_POINTER;
    clock->reset();
    if (!renderer_)
        return NotImplemented(L"A reference clock");
    *clock = renderer_;
    return S_OK;
}

// The capture chain is connected filter by filter by its owner, so the builder
// has nothing to build and keeps no graph.
HRESULT CaptureGraphBuilder::SetFiltergraph(const std::shared_ptr<IGraphBuilder>& graph) {
    return graph ? S_OK : E_POINTER;
}

}  // namespace media::gst
