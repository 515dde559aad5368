#include "ScriptedMedia.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <tuple>

#include "LastError.h"

namespace media::scripted {
namespace {

HRESULT Fail(HRESULT hr, const wchar_t* text = L"scripted failure", std::uint32_t code = 0) {
    SetLastError(code ? code : static_cast<std::uint32_t>(hr), text);
    return hr;
}

// Hands a value out through an out-parameter.
template <class T, class U>
HRESULT Give(T* out, const U& value, HRESULT hr = S_OK) {
    *out = value;
    return hr;
}

// A capture device's input pins are its mixer lines, told what the script's
// line says and noting there what they were told.
struct Pin : IPin, IAMAudioInputMixer {
    Pin(std::wstring pinName, PinDirection pinDirection = PinDirection::Input,
        std::optional<WaveFormat> delivered = {})
        : name(std::move(pinName)), direction(pinDirection), format(delivered) {}
    HRESULT QueryDirection(PinDirection* out) override { return Give(out, direction); }
    HRESULT QueryPinInfo(std::wstring* out) override { return Give(out, name); }
    HRESULT ConnectedTo(std::shared_ptr<IPin>* other) override {
        return Give(other, peer.lock(), peer.expired() ? VFW_E_NOT_CONNECTED : S_OK);
    }
    HRESULT put_Enable(bool enable) override { return Give(&Line().enabled, enable); }
    HRESULT put_MixLevel(double level) override {
        bool refused = level == AMF_AUTOMATICGAIN && !Line().supportsAutomaticGain;
        return refused ? Fail(E_NOTIMPL) : Give(&Line().level, level);
    }
    HRESULT get_MixLevel(double* level) override {
        return Line().levelReadable ? Give(level, Line().level) : Fail(E_FAIL);
    }
    ScriptedPin& Line() { return media->devices.at(device).inputPins.at(line); }
    std::wstring name;
    PinDirection direction;
    std::optional<WaveFormat> format;  // what an output pin delivers
    std::weak_ptr<Pin> peer;
    std::shared_ptr<ScriptedMedia> media;  // and the line's place there, for a mixer line
    std::size_t device = 0, line = 0;
};

// Every filter may be given a clock and act as a sample grabber; a source
// filter is one with a file.
struct Filter : IBaseFilter, IMediaFilter, ISampleGrabber {
    explicit Filter(std::vector<std::shared_ptr<Pin>> filterPins = {})
        : pins(std::move(filterPins)) {}
    HRESULT EnumPins(std::vector<std::shared_ptr<IPin>>* out) override {
        return Give(out, std::vector<std::shared_ptr<IPin>>(pins.begin(), pins.end()));
    }
    HRESULT FindPin(const wchar_t* id, std::shared_ptr<IPin>* pin) override {
        auto it = std::find_if(pins.begin(), pins.end(), [&](auto& p) { return p->name == id; });
        return it == pins.end() ? Fail(VFW_E_NOT_FOUND) : Give(pin, *it);
    }
    HRESULT SetSyncSource(const std::shared_ptr<IReferenceClock>&) override { return S_OK; }
    HRESULT SetMediaType(const AM_MEDIA_TYPE&) override { return S_OK; }
    HRESULT SetOneShot(bool) override { return S_OK; }
    HRESULT SetBufferSamples(bool) override { return S_OK; }
    HRESULT SetCallback(ISampleGrabberCB* receiver, int) override {
        return Give(&callback, receiver);
    }
    // The format of whatever feeds the input pin.
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) override {
        auto feeder = pins[0]->peer.lock();
        if (!feeder || !feeder->format)
            return VFW_E_NOT_CONNECTED;
        return Give(type, AM_MEDIA_TYPE{MajorType::Audio, SubType::PCM, FormatType::WaveFormatEx,
                                        true, *feeder->format});
    }
    std::vector<std::shared_ptr<Pin>> pins;
    ISampleGrabberCB* callback = nullptr;
    std::optional<ScriptedFile> file;
};

// The end of a playback chain: its volume is the graph's, its clock the script's.
struct Renderer : Filter, IBasicAudio, IReferenceClock {
    Renderer(IBasicAudio* owner, std::shared_ptr<ScriptedMedia> script)
        : graph(owner), media(std::move(script)) {}
    HRESULT put_Volume(long volume) override { return graph->put_Volume(volume); }
    HRESULT get_Volume(long* volume) override { return graph->get_Volume(volume); }
    HRESULT GetTime(std::int64_t* time) override { return Give(time, media->clock.load()); }
    IBasicAudio* graph;
    std::shared_ptr<ScriptedMedia> media;
};

// The device enumerator, each enumeration it hands out and each device (its
// moniker and property bag). A device is read from the script when it is used,
// so a test may change it between the enumeration and the binding.
struct Devices : ICreateDevEnum, IEnumMoniker, IMoniker, IPropertyBag {
    explicit Devices(std::shared_ptr<ScriptedMedia> media, int index = 0)
        : media_(std::move(media)), index_(index) {}
    HRESULT CreateClassEnumerator(DeviceCategory,
                                  std::shared_ptr<IEnumMoniker>* enumerator) override {
        enumerator->reset();
        if (FAILED(media_->classEnumeratorResult))
            return Fail(media_->classEnumeratorResult, L"Connection refused");
        return media_->devices.empty() ? S_FALSE
                                       : Give(enumerator, std::make_shared<Devices>(media_));
    }
    HRESULT Next(std::shared_ptr<IMoniker>* moniker) override {
        bool more = index_ < static_cast<int>(media_->devices.size());
        return more ? Give(moniker, std::make_shared<Devices>(media_, index_++)) : S_FALSE;
    }
    HRESULT BindToStorage(std::shared_ptr<IPropertyBag>* bag) override {
        return Give(bag, std::make_shared<Devices>(media_, index_));
    }
    HRESULT Read(const wchar_t* property, std::wstring* value) override {
        bool named = Scripted().hasFriendlyName && std::wstring(property) == L"FriendlyName";
        return named ? Give(value, Scripted().friendlyName) : E_FAIL;
    }
    HRESULT BindToObject(std::shared_ptr<IBaseFilter>* filter) override {
        const auto& device = Scripted();
        if (FAILED(device.bindObjectResult))
            return Fail(device.bindObjectResult);
        auto capture = std::make_shared<Filter>();
        for (std::size_t i = 0; i < device.inputPins.size(); ++i) {
            auto& pin = capture->pins.emplace_back(std::make_shared<Pin>(device.inputPins[i].name));
            std::tie(pin->media, pin->device, pin->line) =
                std::tuple(media_, static_cast<std::size_t>(index_), i);
        }
        capture->pins.push_back(
            std::make_shared<Pin>(L"Capture", PinDirection::Output, device.format));
        return Give(filter, capture);
    }

    const ScriptedDevice& Scripted() const {
        return media_->devices.at(static_cast<std::size_t>(index_));
    }
    std::shared_ptr<ScriptedMedia> media_;
    int index_;
};

}  // namespace

struct Graph : IGraphBuilder,
               IMediaControl,
               IMediaEventEx,
               IMediaEventSink,
               IMediaSeeking,
               IBasicAudio,
               ICaptureGraphBuilder2 {
    explicit Graph(std::shared_ptr<ScriptedMedia> media) : media_(std::move(media)) {}

    HRESULT AddFilter(const std::shared_ptr<IBaseFilter>& filter, const wchar_t*) override {
        if (!filter)
            return E_POINTER;
        filters_.push_back(filter);
        return S_OK;
    }
    HRESULT RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) override {
        if (!std::erase(filters_, filter))
            return Fail(VFW_E_NOT_FOUND);
        for (auto& pin : std::dynamic_pointer_cast<Filter>(filter)->pins)
            if (auto peer = pin->peer.lock())
                peer->peer = pin->peer = {};
        return S_OK;
    }
    HRESULT EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>* out) override {
        return Give(out, filters_);
    }
    HRESULT Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) override {
        auto from = std::dynamic_pointer_cast<Pin>(out), to = std::dynamic_pointer_cast<Pin>(in);
        if (FAILED(media_->connectResult))
            return Fail(media_->connectResult);
        from->peer = to;
        return Give(&to->peer, from);
    }
    HRESULT AddSourceFilter(const wchar_t* fileName, const wchar_t*,
                            std::shared_ptr<IBaseFilter>* filter) override {
        auto file = media_->files.find(fileName);
        if (file == media_->files.end())
            return Fail(E_FAIL, L"Resource not found.", 2);  // as for a missing file
        auto source = std::make_shared<Filter>(std::vector{
            std::make_shared<Pin>(L"Output", PinDirection::Output, file->second.format)});
        source->file = file->second;
        return AddFilter(*filter = source, nullptr);
    }
    HRESULT RenderFile(const wchar_t* file, const wchar_t*) override {
        if (FAILED(media_->renderFileResult))
            return Fail(media_->renderFileResult);
        playback.file = file;
        filters_.push_back(std::make_shared<Renderer>(this, media_));
        return S_OK;
    }
    HRESULT Abort() override { return S_OK; }
    HRESULT SetFiltergraph(const std::shared_ptr<IGraphBuilder>&) override { return S_OK; }

    HRESULT Run() override {
        if (FAILED(media_->runResult))
            return Fail(media_->runResult);
        playback.running = Rendering();
        Deliver();
        return Give(&state_, FilterState::Running);
    }
    HRESULT Pause() override { return Give(&state_, FilterState::Paused); }
    HRESULT Stop() override {
        playback.running = false;
        return Give(&state_, FilterState::Stopped);
    }
    HRESULT GetState(long, FilterState* state) override { return Give(state, state_); }

    HRESULT WaitForCompletion(long, long* code) override {
        return Give(code, completion_, completion_ ? S_OK : E_ABORT);
    }
    HRESULT GetEvent(long* code, std::intptr_t* p1, std::intptr_t* p2, long) override {
        if (events_.empty())
            return E_ABORT;
        std::tie(*code, *p1) = events_.front();
        events_.pop_front();
        return Give(p2, 0);
    }
    HRESULT FreeEventParams(long, std::intptr_t, std::intptr_t) override { return S_OK; }
    HRESULT SetNotifyWindow(HWND window, std::uint32_t message, std::intptr_t instance) override {
        return Give(&notify_, std::tuple(window, message, instance));
    }
    HRESULT Notify(long code, std::intptr_t p1, std::intptr_t) override {
        events_.emplace_back(code, p1);
        auto [window, message, instance] = notify_;
        if (window)
            window->PostMessage(message, 0, instance);
        return S_OK;
    }

    // Seeking and the duration are there when the length is known.
    HRESULT CheckCapabilities(std::uint32_t*) override { return Length() > 0 ? S_OK : S_FALSE; }
    HRESULT GetDuration(std::int64_t* duration) override {
        return Give(duration, Length(), Length() > 0 ? S_OK : E_NOTIMPL);
    }
    HRESULT GetCurrentPosition(std::int64_t* position) override { return Give(position, 0); }
    HRESULT SetPositions(std::int64_t*, std::uint32_t, std::int64_t*, std::uint32_t) override {
        return Rendering() ? S_OK : E_NOTIMPL;
    }
    HRESULT SetRate(double rate) override { return Give(&playback.rate, rate); }
    HRESULT GetRate(double* rate) override { return Give(rate, playback.rate); }
    HRESULT put_Volume(long volume) override {
        playback.volume = std::clamp(volume, -10000L, 0L);
        return Rendering() ? S_OK : E_NOTIMPL;
    }
    HRESULT get_Volume(long* volume) override {
        return Give(volume, playback.volume, Rendering() ? S_OK : E_NOTIMPL);
    }

    ScriptedMedia::Playback playback;

    bool Rendering() const { return !playback.file.empty(); }
    std::int64_t Length() const {
        auto source = Find([](auto& f) { return f.file.has_value(); });
        return Rendering() ? media_->renderedDuration : source ? source->file->duration : 0;
    }
    std::shared_ptr<Filter> Find(auto is) const {
        for (auto& filter : filters_)
            if (auto found = std::dynamic_pointer_cast<Filter>(filter); found && is(*found))
                return found;
        return nullptr;
    }
    // A decode hands the file's buffers to the grabber, then queues its end.
    void Deliver() {
        auto source = Find([](auto& f) { return f.file.has_value(); });
        auto grabber = Find([](auto& f) { return f.callback != nullptr; });
        if (!source || !grabber || completion_)
            return;
        if (media_->beforeDelivery)
            media_->beforeDelivery();
        double seconds = 0;
        for (const auto& buffer : source->file->buffers) {
            grabber->callback->SampleCB(seconds, buffer.data(), static_cast<long>(buffer.size()));
            seconds += static_cast<double>(buffer.size()) /
                       std::max<std::uint32_t>(source->file->format.avgBytesPerSec, 1);
        }
        completion_ = source->file->failMidStream ? EC_ERRORABORT : EC_COMPLETE;
        Notify(completion_, 0, 0);
    }

    std::shared_ptr<ScriptedMedia> media_;
    std::vector<std::shared_ptr<IBaseFilter>> filters_;
    FilterState state_ = FilterState::Stopped;
    long completion_ = 0;
    std::deque<std::pair<long, std::intptr_t>> events_;
    std::tuple<HWND, std::uint32_t, std::intptr_t> notify_{nullptr, 0, 0};
};

std::vector<std::shared_ptr<Graph>> ScriptedMedia::Live(const std::wstring* file) const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Graph>> live;
    for (auto& graph : graphs_)
        if (auto g = graph.lock(); g && (!file || g->playback.file == *file))
            live.push_back(g);
    return live;
}

ScriptedMedia::Playback ScriptedMedia::LastPlayback(const std::wstring& file) const {
    auto rendering = Live(&file);
    return rendering.empty() ? Playback{} : rendering.back()->playback;
}

void ScriptedMedia::NotifyRendered(const std::wstring& file, long code) {
    for (auto& graph : Live(&file))
        graph->Notify(code, 0, 0);
}

HRESULT ScriptedMedia::CreateInstance(Clsid clsid, std::shared_ptr<IUnknown>* object) {
    auto self = shared_from_this();
    switch (clsid) {
        case Clsid::SystemDeviceEnum:
            return Give(object, std::make_shared<Devices>(self));
        case Clsid::FilterGraph: {
            auto graph = std::make_shared<Graph>(self);
            std::lock_guard lock(mutex_);
            graphs_.push_back(graph);
            return Give(object, graph);
        }
        case Clsid::CaptureGraphBuilder2:
            return Give(object, std::make_shared<Graph>(self));  // a builder, never run
        case Clsid::SampleGrabber:
            return Give(object, std::make_shared<Filter>(std::vector{
                                    std::make_shared<Pin>(L"Input"),
                                    std::make_shared<Pin>(L"Output", PinDirection::Output)}));
        case Clsid::NullRenderer:
            return Give(object,
                        std::make_shared<Filter>(std::vector{std::make_shared<Pin>(L"In")}));
    }
    return E_NOINTERFACE;
}

std::shared_ptr<ScriptedMedia> InstallScriptedMedia() {
    auto media = std::make_shared<ScriptedMedia>();
    SetMediaFactory(media);
    return media;
}

}  // namespace media::scripted
