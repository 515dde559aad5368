#include "ScriptedMedia.h"

#include <algorithm>
#include <thread>

#include "LastError.h"

namespace media::scripted {
namespace {

std::string Narrow(const std::wstring& s) {
    return NarrowUtf8(s);
}

class ScriptedPin : public IPin {
  public:
    ScriptedPin(std::wstring name, PinDirection direction)
        : name_(std::move(name)), direction_(direction) {}
    HRESULT QueryDirection(PinDirection* direction) override {
        if (!direction)
            return E_POINTER;
        *direction = direction_;
        return S_OK;
    }
    HRESULT QueryPinInfo(std::wstring* name) override {
        if (!name)
            return E_POINTER;
        *name = name_;
        return S_OK;
    }
    HRESULT ConnectedTo(std::shared_ptr<IPin>* other) override {
        if (!other)
            return E_POINTER;
        *other = peer_.lock();
        return *other ? S_OK : VFW_E_NOT_CONNECTED;
    }
    void SetPeer(const std::shared_ptr<IPin>& peer) { peer_ = peer; }
    const std::wstring& Name() const { return name_; }

  private:
    std::wstring name_;
    PinDirection direction_;
    std::weak_ptr<IPin> peer_;
};

class ScriptedMixerPin : public ScriptedPin, public IAMAudioInputMixer {
  public:
    ScriptedMixerPin(std::shared_ptr<ScriptedMedia> media, int device, int index,
                     const ScriptedPinSpec& script)
        : ScriptedPin(script.name, PinDirection::Input),
          media_(std::move(media)),
          device_(device),
          index_(index),
          script_(script) {}
    HRESULT put_Enable(bool enable) override {
        media_->Log("enable " + Narrow(Name()) + (enable ? " on" : " off"));
        if (FAILED(script_.enableResult))
            return Fail(script_.enableResult);
        auto& m = media_->MixerRef(device_, index_);
        m.enabled = enable;
        ++m.enableCalls;
        return S_OK;
    }
    HRESULT put_MixLevel(double level) override {
        media_->Log("level " + Narrow(Name()) + " " + std::to_string(level));
        if (level == AMF_AUTOMATICGAIN && !script_.supportsAutomaticGain)
            return Fail(E_NOTIMPL);
        media_->MixerRef(device_, index_).level = level;
        return S_OK;
    }
    HRESULT get_MixLevel(double* level) override {
        if (!level)
            return E_POINTER;
        if (!script_.levelReadable)
            return Fail(E_FAIL);
        *level = media_->MixerRef(device_, index_).level;
        return S_OK;
    }

  private:
    static HRESULT Fail(HRESULT hr) {
        SetLastError(static_cast<std::uint32_t>(hr), L"scripted mixer failure");
        return hr;
    }
    std::shared_ptr<ScriptedMedia> media_;
    int device_;
    int index_;
    ScriptedPinSpec script_;
};

class ScriptedFilter : public IBaseFilter {
  public:
    explicit ScriptedFilter(std::string label) : label_(std::move(label)) {}
    HRESULT EnumPins(std::vector<std::shared_ptr<IPin>>* pins) override {
        if (!pins)
            return E_POINTER;
        if (FAILED(enumPinsResult)) {
            SetLastError(static_cast<std::uint32_t>(enumPinsResult), L"scripted EnumPins failure");
            return enumPinsResult;
        }
        *pins = pins_;
        return S_OK;
    }
    HRESULT FindPin(const wchar_t* id, std::shared_ptr<IPin>* pin) override {
        if (!pin || !id)
            return E_POINTER;
        for (auto& p : pins_) {
            std::wstring name;
            p->QueryPinInfo(&name);
            if (name == id) {
                *pin = p;
                return S_OK;
            }
        }
        pin->reset();
        SetLastError(static_cast<std::uint32_t>(VFW_E_NOT_FOUND), L"no such pin");
        return VFW_E_NOT_FOUND;
    }
    void AddPin(std::shared_ptr<IPin> pin) { pins_.push_back(std::move(pin)); }
    const std::string& Label() const { return label_; }
    const std::vector<std::shared_ptr<IPin>>& Pins() const { return pins_; }
    HRESULT enumPinsResult = S_OK;

  private:
    std::string label_;
    std::vector<std::shared_ptr<IPin>> pins_;
};

class ScriptedGrabber : public ScriptedFilter, public ISampleGrabber {
  public:
    ScriptedGrabber() : ScriptedFilter("Sample Grabber") {
        AddPin(std::make_shared<ScriptedPin>(L"Input", PinDirection::Input));
        AddPin(std::make_shared<ScriptedPin>(L"Output", PinDirection::Output));
    }
    HRESULT SetMediaType(const AM_MEDIA_TYPE&) override { return S_OK; }
    HRESULT SetOneShot(bool) override { return S_OK; }
    HRESULT SetBufferSamples(bool) override { return S_OK; }
    HRESULT SetCallback(ISampleGrabberCB* callback, int) override {
        callback_ = callback;
        return S_OK;
    }
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) override {
        if (!type)
            return E_POINTER;
        if (!connected_)
            return VFW_E_NOT_CONNECTED;
        type->majortype = MajorType::Audio;
        type->subtype = SubType::PCM;
        type->formattype = FormatType::WaveFormatEx;
        type->hasFormat = true;
        type->format = format_;
        return S_OK;
    }
    void SetConnectedFormat(const WaveFormat* format) {
        connected_ = format != nullptr;
        if (format)
            format_ = *format;
    }
    ISampleGrabberCB* Callback() const { return callback_; }

  private:
    ISampleGrabberCB* callback_ = nullptr;
    bool connected_ = false;
    WaveFormat format_;
};

class ScriptedCaptureFilter : public ScriptedFilter {
  public:
    ScriptedCaptureFilter(std::string label, WaveFormat connectedFormat)
        : ScriptedFilter(std::move(label)), format(connectedFormat) {}
    WaveFormat format;
};

class ScriptedSourceFilter : public ScriptedFilter {
  public:
    ScriptedSourceFilter(const std::wstring& name, ScriptedFileSpec fileScript)
        : ScriptedFilter("source " + Narrow(name)), script(std::move(fileScript)) {
        AddPin(std::make_shared<ScriptedPin>(L"Output", PinDirection::Output));
    }
    ScriptedFileSpec script;
};

class ScriptedNullRenderer : public ScriptedFilter, public IMediaFilter {
  public:
    ScriptedNullRenderer() : ScriptedFilter("Null Renderer") {
        AddPin(std::make_shared<ScriptedPin>(L"In", PinDirection::Input));
    }
    HRESULT SetSyncSource(const std::shared_ptr<IReferenceClock>&) override { return S_OK; }
};

// What RenderFile puts at the end of a playback graph: the audio renderer, with
// the volume and the clock.
class ScriptedRenderer : public ScriptedFilter, public IBasicAudio, public IReferenceClock {
  public:
    ScriptedRenderer(std::shared_ptr<ScriptedMedia> media, std::wstring file)
        : ScriptedFilter("Audio Renderer"), media_(std::move(media)), file_(std::move(file)) {
        AddPin(std::make_shared<ScriptedPin>(L"Audio Input pin", PinDirection::Input));
    }
    HRESULT put_Volume(long volume) override {
        volume_ = std::clamp(volume, -10000L, 0L);
        media_->UpdatePlayback(file_, [&](auto& p) { p.volume = volume_; });
        return S_OK;
    }
    HRESULT get_Volume(long* volume) override {
        if (!media_->volumeReadable)
            return E_NOTIMPL;
        *volume = volume_;
        return S_OK;
    }
    HRESULT GetTime(std::int64_t* time) override {
        *time = media_->clock;
        return S_OK;
    }

  private:
    std::shared_ptr<ScriptedMedia> media_;
    std::wstring file_;
    long volume_ = 0;
};

class ScriptedBag : public IPropertyBag {
  public:
    explicit ScriptedBag(const ScriptedDeviceSpec& script) : script_(script) {}
    HRESULT Read(const wchar_t* property, std::wstring* value) override {
        if (!value || !property)
            return E_POINTER;
        if (std::wstring(property) != L"FriendlyName" || !script_.hasFriendlyName)
            return E_FAIL;
        *value = script_.friendlyName;
        return S_OK;
    }

  private:
    ScriptedDeviceSpec script_;
};

class ScriptedMoniker : public IMoniker {
  public:
    ScriptedMoniker(std::shared_ptr<ScriptedMedia> media, int index)
        : media_(std::move(media)), index_(index) {}
    HRESULT BindToStorage(std::shared_ptr<IPropertyBag>* bag) override {
        const auto& script = media_->devices.at(static_cast<std::size_t>(index_));
        if (FAILED(script.bindStorageResult))
            return Fail(script.bindStorageResult);
        *bag = std::make_shared<ScriptedBag>(script);
        return S_OK;
    }
    HRESULT BindToObject(std::shared_ptr<IBaseFilter>* filter) override {
        const auto& script = media_->devices.at(static_cast<std::size_t>(index_));
        media_->Log("bind " + Narrow(script.friendlyName));
        if (FAILED(script.bindObjectResult))
            return Fail(script.bindObjectResult);
        auto f = std::make_shared<ScriptedCaptureFilter>("capture " + Narrow(script.friendlyName),
                                                         script.format);
        f->enumPinsResult = script.enumPinsResult;
        for (std::size_t i = 0; i < script.inputPins.size(); ++i) {
            const auto& pin = script.inputPins[i];
            if (pin.hasMixer)
                f->AddPin(
                    std::make_shared<ScriptedMixerPin>(media_, index_, static_cast<int>(i), pin));
            else
                f->AddPin(std::make_shared<ScriptedPin>(pin.name, PinDirection::Input));
        }
        f->AddPin(std::make_shared<ScriptedPin>(L"Capture", PinDirection::Output));
        *filter = f;
        return S_OK;
    }

  private:
    static HRESULT Fail(HRESULT hr) {
        SetLastError(static_cast<std::uint32_t>(hr), L"scripted bind failure");
        return hr;
    }
    std::shared_ptr<ScriptedMedia> media_;
    int index_;
};

class ScriptedEnum : public IEnumMoniker {
  public:
    explicit ScriptedEnum(std::shared_ptr<ScriptedMedia> media) : media_(std::move(media)) {}
    HRESULT Next(std::shared_ptr<IMoniker>* moniker) override {
        if (!moniker)
            return E_POINTER;
        if (next_ >= static_cast<int>(media_->devices.size()))
            return S_FALSE;
        *moniker = std::make_shared<ScriptedMoniker>(media_, next_++);
        return S_OK;
    }

  private:
    std::shared_ptr<ScriptedMedia> media_;
    int next_ = 0;
};

class ScriptedDevEnum : public ICreateDevEnum {
  public:
    explicit ScriptedDevEnum(std::shared_ptr<ScriptedMedia> media) : media_(std::move(media)) {}
    HRESULT CreateClassEnumerator(DeviceCategory,
                                  std::shared_ptr<IEnumMoniker>* enumerator) override {
        if (!enumerator)
            return E_POINTER;
        enumerator->reset();
        if (FAILED(media_->classEnumeratorResult)) {
            SetLastError(static_cast<std::uint32_t>(media_->classEnumeratorResult),
                         L"Connection refused");
            return media_->classEnumeratorResult;
        }
        if (media_->devices.empty())
            return S_FALSE;
        *enumerator = std::make_shared<ScriptedEnum>(media_);
        return S_OK;
    }

  private:
    std::shared_ptr<ScriptedMedia> media_;
};

class ScriptedGraph : public IGraphBuilder,
                      public IMediaControl,
                      public IMediaEventEx,
                      public IMediaEventSink,
                      public IMediaSeeking,
                      public IBasicAudio,
                      public std::enable_shared_from_this<ScriptedGraph> {
  public:
    explicit ScriptedGraph(std::shared_ptr<ScriptedMedia> media) : media_(std::move(media)) {
        media_->GraphCreated(+1);
    }
    ~ScriptedGraph() override {
        JoinStreaming();
        media_->GraphCreated(-1);
    }

    HRESULT AddFilter(const std::shared_ptr<IBaseFilter>& filter, const wchar_t* name) override {
        if (!filter)
            return E_POINTER;
        media_->Log("add " + Label(filter) + " as " + Narrow(name ? name : L""));
        if (FAILED(media_->addFilterResult))
            return Fail(media_->addFilterResult);
        filters_.push_back(filter);
        return S_OK;
    }
    HRESULT RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) override {
        if (!filter)
            return E_POINTER;
        media_->Log("remove " + Label(filter));
        if (FAILED(media_->removeFilterResult))
            return Fail(media_->removeFilterResult);
        auto it = std::find(filters_.begin(), filters_.end(), filter);
        if (it == filters_.end())
            return Fail(VFW_E_NOT_FOUND);
        Disconnect(filter);
        filters_.erase(it);
        return S_OK;
    }
    HRESULT EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>* filters) override {
        if (!filters)
            return E_POINTER;
        *filters = filters_;
        return S_OK;
    }
    HRESULT Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) override {
        if (!out || !in)
            return E_POINTER;
        std::wstring a, b;
        out->QueryPinInfo(&a);
        in->QueryPinInfo(&b);
        media_->Log("connect " + Narrow(a) + " -> " + Narrow(b));
        if (FAILED(media_->connectResult))
            return Fail(media_->connectResult);
        std::dynamic_pointer_cast<ScriptedPin>(out)->SetPeer(in);
        std::dynamic_pointer_cast<ScriptedPin>(in)->SetPeer(out);
        UpdateGrabberFormat();
        return S_OK;
    }
    HRESULT AddSourceFilter(const wchar_t* fileName, const wchar_t* name,
                            std::shared_ptr<IBaseFilter>* filter) override {
        if (!fileName || !filter)
            return E_POINTER;
        auto file = media_->files.find(fileName);
        if (file == media_->files.end()) {
            SetLastError(2, L"Resource not found.");
            return E_FAIL;
        }
        auto source = std::make_shared<ScriptedSourceFilter>(file->first, file->second);
        *filter = source;
        return AddFilter(source, name);
    }
    HRESULT RenderFile(const wchar_t* file, const wchar_t*) override {
        if (!file)
            return E_POINTER;
        media_->Log("render " + Narrow(file));
        if (FAILED(media_->renderFileResult))
            return Fail(media_->renderFileResult);
        rendered_ = file;
        renderer_ = std::make_shared<ScriptedRenderer>(media_, rendered_);
        filters_.push_back(renderer_);
        media_->Rendered(rendered_, std::static_pointer_cast<IMediaEventSink>(shared_from_this()));
        return S_OK;
    }
    HRESULT Abort() override {
        media_->Log("abort");
        JoinStreaming();
        return media_->abortResult;
    }

    HRESULT Run() override {
        media_->Log("run");
        if (FAILED(media_->runResult))
            return Fail(media_->runResult);
        state_ = FilterState::Running;
        if (renderer_)
            media_->UpdatePlayback(rendered_, [](auto& p) { p.running = true; });
        StartStreaming();
        return S_OK;
    }
    HRESULT Pause() override {
        state_ = FilterState::Paused;
        return S_OK;
    }
    HRESULT Stop() override {
        media_->Log("stop");
        JoinStreaming();
        if (renderer_)
            media_->UpdatePlayback(rendered_, [](auto& p) { p.running = false; });
        if (FAILED(media_->stopResult))
            return Fail(media_->stopResult);
        state_ = FilterState::Stopped;
        return S_OK;
    }
    HRESULT GetState(long, FilterState* state) override {
        if (!state)
            return E_POINTER;
        *state = state_;
        return media_->getStateResult;
    }

    HRESULT WaitForCompletion(long, long* code) override {
        if (code)
            *code = 0;
        if (!streaming_.joinable())
            return E_ABORT;
        JoinStreaming();
        if (code)
            *code = completion_;
        return S_OK;
    }
    HRESULT GetEvent(long* code, std::intptr_t* p1, std::intptr_t* p2, long) override {
        std::lock_guard lock(eventMutex_);
        if (events_.empty())
            return E_ABORT;
        auto e = events_.front();
        events_.pop_front();
        *code = e.code;
        *p1 = e.p1;
        *p2 = e.p2;
        return S_OK;
    }
    HRESULT FreeEventParams(long, std::intptr_t, std::intptr_t) override { return S_OK; }
    HRESULT SetNotifyWindow(HWND window, std::uint32_t message, std::intptr_t instance) override {
        std::lock_guard lock(eventMutex_);
        window_ = window;
        message_ = message;
        instance_ = instance;
        return S_OK;
    }
    HRESULT Notify(long code, std::intptr_t p1, std::intptr_t p2) override {
        HWND window;
        std::uint32_t message;
        std::intptr_t instance;
        {
            std::lock_guard lock(eventMutex_);
            events_.push_back({code, p1, p2});
            window = window_;
            message = message_;
            instance = instance_;
        }
        if (window)
            window->PostMessage(message, 0, instance);
        return S_OK;
    }

    HRESULT CheckCapabilities(std::uint32_t* capabilities) override {
        if (!capabilities)
            return E_POINTER;
        auto source = Source();
        std::uint32_t offered = AM_SEEKING_CanGetCurrentPos;
        if (source && source->script.duration > 0)
            offered |= AM_SEEKING_CanGetDuration | AM_SEEKING_CanSeekAbsolute;
        if (renderer_)
            offered = media_->seekingCapabilities;
        std::uint32_t asked = *capabilities;
        *capabilities &= offered;
        if (*capabilities == asked)
            return S_OK;
        return *capabilities ? S_FALSE : E_FAIL;
    }
    HRESULT GetDuration(std::int64_t* duration) override {
        if (renderer_) {
            *duration = media_->renderedDuration;
            return *duration > 0 ? S_OK : E_FAIL;
        }
        auto source = Source();
        if (!source || source->script.duration <= 0)
            return E_NOTIMPL;
        *duration = source->script.duration;
        return S_OK;
    }
    HRESULT GetCurrentPosition(std::int64_t* position) override {
        *position = 0;
        return S_OK;
    }
    HRESULT SetPositions(std::int64_t* current, std::uint32_t, std::int64_t* stop,
                         std::uint32_t) override {
        if (!renderer_)
            return E_NOTIMPL;
        media_->UpdatePlayback(rendered_, [&](auto& p) {
            p.start = current ? *current : -1;
            p.stop = stop ? *stop : -1;
        });
        return S_OK;
    }
    HRESULT put_Volume(long volume) override {
        return renderer_ ? renderer_->put_Volume(volume) : E_NOTIMPL;
    }
    HRESULT get_Volume(long* volume) override {
        return renderer_ ? renderer_->get_Volume(volume) : E_NOTIMPL;
    }

  private:
    struct Event {
        long code;
        std::intptr_t p1, p2;
    };
    std::shared_ptr<ScriptedSourceFilter> Source() const {
        for (auto& filter : filters_)
            if (auto source = std::dynamic_pointer_cast<ScriptedSourceFilter>(filter))
                return source;
        return nullptr;
    }
    std::shared_ptr<ScriptedGrabber> Grabber() const {
        for (auto& filter : filters_)
            if (auto grabber = std::dynamic_pointer_cast<ScriptedGrabber>(filter))
                return grabber;
        return nullptr;
    }
    // A decode delivers the file's buffers on a thread of its own, as a real
    // graph's streaming thread would, then queues its ending event.
    void StartStreaming() {
        auto source = Source();
        auto grabber = Grabber();
        if (!source || !grabber || !grabber->Callback() || streaming_.joinable())
            return;
        streaming_ = std::thread([this, source, callback = grabber->Callback()] {
            if (media_->beforeDelivery)
                media_->beforeDelivery();
            const auto& script = source->script;
            double seconds = 0;
            for (const auto& buffer : script.buffers) {
                callback->SampleCB(seconds, buffer.data(), static_cast<long>(buffer.size()));
                if (script.format.avgBytesPerSec)
                    seconds += static_cast<double>(buffer.size()) / script.format.avgBytesPerSec;
            }
            completion_ = script.failMidStream ? EC_ERRORABORT : EC_COMPLETE;
            Notify(completion_, 0, 0);
        });
    }
    void JoinStreaming() {
        if (streaming_.joinable())
            streaming_.join();
    }
    static HRESULT Fail(HRESULT hr) {
        SetLastError(static_cast<std::uint32_t>(hr), L"scripted graph failure");
        return hr;
    }
    static std::string Label(const std::shared_ptr<IBaseFilter>& filter) {
        auto f = std::dynamic_pointer_cast<ScriptedFilter>(filter);
        return f ? f->Label() : "?";
    }
    void Disconnect(const std::shared_ptr<IBaseFilter>& filter) {
        auto f = std::dynamic_pointer_cast<ScriptedFilter>(filter);
        if (!f)
            return;
        for (auto& pin : f->Pins()) {
            std::shared_ptr<IPin> peer;
            if (SUCCEEDED(pin->ConnectedTo(&peer))) {
                std::dynamic_pointer_cast<ScriptedPin>(peer)->SetPeer(nullptr);
                std::dynamic_pointer_cast<ScriptedPin>(pin)->SetPeer(nullptr);
            }
        }
        UpdateGrabberFormat();
    }
    // The grabber reports the format of the capture filter feeding it.
    void UpdateGrabberFormat() {
        for (auto& filter : filters_) {
            auto grabber = std::dynamic_pointer_cast<ScriptedGrabber>(filter);
            if (!grabber)
                continue;
            const WaveFormat* format = nullptr;
            std::shared_ptr<IPin> in, peer;
            grabber->FindPin(L"Input", &in);
            if (in && SUCCEEDED(in->ConnectedTo(&peer))) {
                for (auto& other : filters_) {
                    if (auto capture = std::dynamic_pointer_cast<ScriptedCaptureFilter>(other)) {
                        for (auto& p : capture->Pins())
                            if (p == peer)
                                format = &capture->format;
                    } else if (auto source =
                                   std::dynamic_pointer_cast<ScriptedSourceFilter>(other)) {
                        for (auto& p : source->Pins())
                            if (p == peer)
                                format = &source->script.format;
                    }
                }
            }
            grabber->SetConnectedFormat(format);
        }
    }

    std::shared_ptr<ScriptedMedia> media_;
    std::vector<std::shared_ptr<IBaseFilter>> filters_;
    FilterState state_ = FilterState::Stopped;
    std::thread streaming_;
    long completion_ = 0;
    std::wstring rendered_;
    std::shared_ptr<ScriptedRenderer> renderer_;
    std::mutex eventMutex_;
    std::deque<Event> events_;
    HWND window_ = nullptr;
    std::uint32_t message_ = 0;
    std::intptr_t instance_ = 0;
};

class ScriptedCaptureBuilder : public ICaptureGraphBuilder2 {
  public:
    HRESULT SetFiltergraph(const std::shared_ptr<IGraphBuilder>& graph) override {
        if (!graph)
            return E_POINTER;
        graph_ = graph;
        return S_OK;
    }

  private:
    std::weak_ptr<IGraphBuilder> graph_;
};

}  // namespace

std::vector<std::string> ScriptedMedia::Journal() const {
    std::lock_guard lock(mutex_);
    return journal_;
}

void ScriptedMedia::ClearJournal() {
    std::lock_guard lock(mutex_);
    journal_.clear();
}

MixerRecord ScriptedMedia::Mixer(int device, int pin) const {
    std::lock_guard lock(mutex_);
    auto it = mixers_.find({device, pin});
    return it == mixers_.end() ? MixerRecord{} : it->second;
}

int ScriptedMedia::LiveGraphs() const {
    std::lock_guard lock(mutex_);
    return liveGraphs_;
}

ScriptedMedia::Playback ScriptedMedia::LastPlayback(const std::wstring& file) const {
    std::lock_guard lock(mutex_);
    auto it = playbacks_.find(file);
    return it == playbacks_.end() ? Playback{} : it->second;
}

void ScriptedMedia::Rendered(const std::wstring& file, std::weak_ptr<IMediaEventSink> graph) {
    std::lock_guard lock(mutex_);
    playbacks_[file] = Playback{file};
    rendered_.emplace_back(file, std::move(graph));
}

void ScriptedMedia::UpdatePlayback(const std::wstring& file,
                                   const std::function<void(Playback&)>& change) {
    std::lock_guard lock(mutex_);
    change(playbacks_[file]);
}

void ScriptedMedia::NotifyRendered(const std::wstring& file, long code) {
    std::vector<std::shared_ptr<IMediaEventSink>> graphs;
    {
        std::lock_guard lock(mutex_);
        for (auto& [name, graph] : rendered_)
            if (name == file)
                if (auto live = graph.lock())
                    graphs.push_back(live);
    }
    for (auto& graph : graphs)
        graph->Notify(code, 0, 0);
}

void ScriptedMedia::Log(const std::string& entry) {
    std::lock_guard lock(mutex_);
    journal_.push_back(entry);
}

MixerRecord& ScriptedMedia::MixerRef(int device, int pin) {
    std::lock_guard lock(mutex_);
    return mixers_[{device, pin}];
}

void ScriptedMedia::GraphCreated(int delta) {
    std::lock_guard lock(mutex_);
    liveGraphs_ += delta;
}

HRESULT ScriptedMedia::CreateInstance(Clsid clsid, std::shared_ptr<IUnknown>* object) {
    if (!object)
        return E_POINTER;
    object->reset();
    auto failure = createFailures.find(clsid);
    if (failure != createFailures.end()) {
        SetLastError(static_cast<std::uint32_t>(failure->second), L"scripted creation failure");
        return failure->second;
    }
    auto self = shared_from_this();
    switch (clsid) {
        case Clsid::SystemDeviceEnum:
            if (FAILED(createDevEnumResult))
                return createDevEnumResult;
            *object = std::make_shared<ScriptedDevEnum>(self);
            return S_OK;
        case Clsid::FilterGraph:
            *object =
                std::static_pointer_cast<IGraphBuilder>(std::make_shared<ScriptedGraph>(self));
            return S_OK;
        case Clsid::CaptureGraphBuilder2:
            *object = std::make_shared<ScriptedCaptureBuilder>();
            return S_OK;
        case Clsid::SampleGrabber:
            *object = std::static_pointer_cast<IBaseFilter>(std::make_shared<ScriptedGrabber>());
            return S_OK;
        case Clsid::NullRenderer:
            *object =
                std::static_pointer_cast<IBaseFilter>(std::make_shared<ScriptedNullRenderer>());
            return S_OK;
    }
    return E_NOINTERFACE;
}

std::shared_ptr<ScriptedMedia> InstallScriptedMedia() {
    auto media = std::make_shared<ScriptedMedia>();
    SetMediaFactory(media);
    return media;
}

}  // namespace media::scripted
