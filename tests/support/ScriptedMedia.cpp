#include "ScriptedMedia.h"

#include <algorithm>
#include <deque>
#include <optional>

#include "LastError.h"

namespace media::scripted {
namespace {

HRESULT Fail(HRESULT hr, const wchar_t* text = L"scripted failure") {
    SetLastError(static_cast<std::uint32_t>(hr), text);
    return hr;
}

struct Pin : IPin {
    Pin(std::wstring pinName, PinDirection pinDirection, std::optional<WaveFormat> delivered = {})
        : name(std::move(pinName)), direction(pinDirection), format(delivered) {}
    HRESULT QueryDirection(PinDirection* out) override {
        *out = direction;
        return S_OK;
    }
    HRESULT QueryPinInfo(std::wstring* out) override {
        *out = name;
        return S_OK;
    }
    HRESULT ConnectedTo(std::shared_ptr<IPin>* other) override {
        *other = peer.lock();
        return *other ? S_OK : VFW_E_NOT_CONNECTED;
    }
    std::wstring name;
    PinDirection direction;
    std::optional<WaveFormat> format;  // what an output pin delivers
    std::weak_ptr<Pin> peer;
};

struct Filter : IBaseFilter {
    explicit Filter(std::string filterLabel) : label(std::move(filterLabel)) {}
    HRESULT EnumPins(std::vector<std::shared_ptr<IPin>>* out) override {
        if (FAILED(enumPinsResult))
            return Fail(enumPinsResult);
        out->assign(pins.begin(), pins.end());
        return S_OK;
    }
    HRESULT FindPin(const wchar_t* id, std::shared_ptr<IPin>* pin) override {
        for (auto& p : pins)
            if (p->name == id) {
                *pin = p;
                return S_OK;
            }
        pin->reset();
        return Fail(VFW_E_NOT_FOUND);
    }
    std::string label;
    std::vector<std::shared_ptr<Pin>> pins;
    HRESULT enumPinsResult = S_OK;
};

struct Grabber : Filter, ISampleGrabber {
    Grabber() : Filter("Sample Grabber") {
        pins = {std::make_shared<Pin>(L"Input", PinDirection::Input),
                std::make_shared<Pin>(L"Output", PinDirection::Output)};
    }
    HRESULT SetMediaType(const AM_MEDIA_TYPE&) override { return S_OK; }
    HRESULT SetOneShot(bool) override { return S_OK; }
    HRESULT SetBufferSamples(bool) override { return S_OK; }
    HRESULT SetCallback(ISampleGrabberCB* receiver, int) override {
        callback = receiver;
        return S_OK;
    }
    // The format of whatever feeds the input pin.
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) override {
        auto feeder = pins[0]->peer.lock();
        if (!feeder || !feeder->format)
            return VFW_E_NOT_CONNECTED;
        *type = {MajorType::Audio, SubType::PCM, FormatType::WaveFormatEx, true, *feeder->format};
        return S_OK;
    }
    ISampleGrabberCB* callback = nullptr;
};

struct NullRenderer : Filter, IMediaFilter {
    NullRenderer() : Filter("Null Renderer") {
        pins = {std::make_shared<Pin>(L"In", PinDirection::Input)};
    }
    HRESULT SetSyncSource(const std::shared_ptr<IReferenceClock>&) override { return S_OK; }
};

struct Source : Filter {
    explicit Source(ScriptedFileSpec file) : Filter("source"), spec(std::move(file)) {
        pins = {std::make_shared<Pin>(L"Output", PinDirection::Output, spec.format)};
    }
    ScriptedFileSpec spec;
};

// The end of a playback chain: its volume is the graph's, its clock the script's.
struct Renderer : Filter, IBasicAudio, IReferenceClock {
    Renderer(IBasicAudio* owner, std::shared_ptr<ScriptedMedia> script)
        : Filter("Audio Renderer"), graph(owner), media(std::move(script)) {}
    HRESULT put_Volume(long volume) override { return graph->put_Volume(volume); }
    HRESULT get_Volume(long* volume) override { return graph->get_Volume(volume); }
    HRESULT GetTime(std::int64_t* time) override {
        *time = media->clock;
        return S_OK;
    }
    IBasicAudio* graph;
    std::shared_ptr<ScriptedMedia> media;
};

struct CaptureBuilder : ICaptureGraphBuilder2 {
    HRESULT SetFiltergraph(const std::shared_ptr<IGraphBuilder>&) override { return S_OK; }
};

}  // namespace

class MixerPin : public Pin, public IAMAudioInputMixer {
  public:
    MixerPin(std::shared_ptr<ScriptedMedia> media, int device, int index, ScriptedPinSpec spec)
        : Pin(spec.name, PinDirection::Input),
          media_(std::move(media)),
          key_(device, index),
          spec_(std::move(spec)) {}
    HRESULT put_Enable(bool enable) override {
        if (FAILED(spec_.enableResult))
            return Fail(spec_.enableResult);
        std::lock_guard lock(media_->mutex_);
        media_->mixers_[key_].enabled = enable;
        ++media_->mixers_[key_].enableCalls;
        return S_OK;
    }
    HRESULT put_MixLevel(double level) override {
        if (level == AMF_AUTOMATICGAIN && !spec_.supportsAutomaticGain)
            return Fail(E_NOTIMPL);
        std::lock_guard lock(media_->mutex_);
        media_->mixers_[key_].level = level;
        return S_OK;
    }
    HRESULT get_MixLevel(double* level) override {
        if (!spec_.levelReadable)
            return Fail(E_FAIL);
        std::lock_guard lock(media_->mutex_);
        *level = media_->mixers_[key_].level;
        return S_OK;
    }

  private:
    std::shared_ptr<ScriptedMedia> media_;
    std::pair<int, int> key_;
    ScriptedPinSpec spec_;
};

namespace {

// A device is read from the script when it is bound, so a test may change it
// between the enumeration and the binding.
class Moniker : public IMoniker, public IPropertyBag {
  public:
    Moniker(std::shared_ptr<ScriptedMedia> media, int index)
        : media_(std::move(media)), index_(index) {}
    HRESULT BindToStorage(std::shared_ptr<IPropertyBag>* bag) override {
        if (FAILED(Spec().bindStorageResult))
            return Fail(Spec().bindStorageResult);
        *bag = std::make_shared<Moniker>(media_, index_);
        return S_OK;
    }
    HRESULT Read(const wchar_t* property, std::wstring* value) override {
        if (std::wstring(property) != L"FriendlyName" || !Spec().hasFriendlyName)
            return E_FAIL;
        *value = Spec().friendlyName;
        return S_OK;
    }
    HRESULT BindToObject(std::shared_ptr<IBaseFilter>* filter) override {
        const auto& spec = Spec();
        if (FAILED(spec.bindObjectResult))
            return Fail(spec.bindObjectResult);
        auto capture = std::make_shared<Filter>("capture " + NarrowUtf8(spec.friendlyName));
        capture->enumPinsResult = spec.enumPinsResult;
        for (int i = 0; i < static_cast<int>(spec.inputPins.size()); ++i) {
            const auto& pin = spec.inputPins[static_cast<std::size_t>(i)];
            if (pin.hasMixer)
                capture->pins.push_back(std::make_shared<MixerPin>(media_, index_, i, pin));
            else
                capture->pins.push_back(std::make_shared<Pin>(pin.name, PinDirection::Input));
        }
        capture->pins.push_back(
            std::make_shared<Pin>(L"Capture", PinDirection::Output, spec.format));
        *filter = capture;
        return S_OK;
    }

  private:
    const ScriptedDeviceSpec& Spec() const {
        return media_->devices.at(static_cast<std::size_t>(index_));
    }
    std::shared_ptr<ScriptedMedia> media_;
    int index_;
};

// The device enumerator, and each enumeration it hands out.
class Devices : public ICreateDevEnum, public IEnumMoniker {
  public:
    explicit Devices(std::shared_ptr<ScriptedMedia> media) : media_(std::move(media)) {}
    HRESULT CreateClassEnumerator(DeviceCategory,
                                  std::shared_ptr<IEnumMoniker>* enumerator) override {
        enumerator->reset();
        if (FAILED(media_->classEnumeratorResult))
            return Fail(media_->classEnumeratorResult, L"Connection refused");
        if (media_->devices.empty())
            return S_FALSE;
        *enumerator = std::make_shared<Devices>(media_);
        return S_OK;
    }
    HRESULT Next(std::shared_ptr<IMoniker>* moniker) override {
        if (next_ >= static_cast<int>(media_->devices.size()))
            return S_FALSE;
        *moniker = std::make_shared<Moniker>(media_, next_++);
        return S_OK;
    }

  private:
    std::shared_ptr<ScriptedMedia> media_;
    int next_ = 0;
};

}  // namespace

class Graph : public IGraphBuilder,
              public IMediaControl,
              public IMediaEventEx,
              public IMediaEventSink,
              public IMediaSeeking,
              public IBasicAudio,
              public std::enable_shared_from_this<Graph> {
  public:
    explicit Graph(std::shared_ptr<ScriptedMedia> media) : media_(std::move(media)) {
        std::lock_guard lock(media_->mutex_);
        ++media_->liveGraphs_;
    }
    ~Graph() override {
        std::lock_guard lock(media_->mutex_);
        --media_->liveGraphs_;
    }

    HRESULT AddFilter(const std::shared_ptr<IBaseFilter>& filter, const wchar_t* name) override {
        if (!filter)
            return E_POINTER;
        Log("add " + Label(filter) + " as " + NarrowUtf8(name));
        filters_.push_back(filter);
        return S_OK;
    }
    HRESULT RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) override {
        auto it = std::find(filters_.begin(), filters_.end(), filter);
        if (it == filters_.end())
            return Fail(VFW_E_NOT_FOUND);
        Log("remove " + Label(filter));
        for (auto& pin : std::dynamic_pointer_cast<Filter>(filter)->pins)
            if (auto peer = pin->peer.lock()) {
                peer->peer.reset();
                pin->peer.reset();
            }
        filters_.erase(it);
        return S_OK;
    }
    HRESULT EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>* filters) override {
        *filters = filters_;
        return S_OK;
    }
    HRESULT Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) override {
        auto from = std::dynamic_pointer_cast<Pin>(out), to = std::dynamic_pointer_cast<Pin>(in);
        Log("connect " + NarrowUtf8(from->name) + " -> " + NarrowUtf8(to->name));
        if (FAILED(media_->connectResult))
            return Fail(media_->connectResult);
        from->peer = to;
        to->peer = from;
        return S_OK;
    }
    HRESULT AddSourceFilter(const wchar_t* fileName, const wchar_t* name,
                            std::shared_ptr<IBaseFilter>* filter) override {
        auto file = media_->files.find(fileName);
        if (file == media_->files.end()) {
            SetLastError(2, L"Resource not found.");
            return E_FAIL;
        }
        *filter = std::make_shared<Source>(file->second);
        return AddFilter(*filter, name);
    }
    HRESULT RenderFile(const wchar_t* file, const wchar_t*) override {
        if (FAILED(media_->renderFileResult))
            return Fail(media_->renderFileResult);
        file_ = file;
        renderer_ = std::make_shared<Renderer>(this, media_);
        filters_.push_back(renderer_);
        std::lock_guard lock(media_->mutex_);
        media_->playbacks_[file_] = {file_};
        media_->rendered_.emplace_back(file_, weak_from_this());
        return S_OK;
    }
    HRESULT Abort() override { return S_OK; }

    HRESULT Run() override {
        if (FAILED(media_->runResult))
            return Fail(media_->runResult);
        state_ = FilterState::Running;
        Update([](auto& p) { p.running = true; });
        Deliver();
        return S_OK;
    }
    HRESULT Pause() override {
        state_ = FilterState::Paused;
        return S_OK;
    }
    HRESULT Stop() override {
        state_ = FilterState::Stopped;
        Update([](auto& p) { p.running = false; });
        return S_OK;
    }
    HRESULT GetState(long, FilterState* state) override {
        *state = state_;
        return S_OK;
    }

    HRESULT WaitForCompletion(long, long* code) override {
        *code = completion_;
        return completion_ ? S_OK : E_ABORT;
    }
    HRESULT GetEvent(long* code, std::intptr_t* p1, std::intptr_t* p2, long) override {
        std::lock_guard lock(eventMutex_);
        if (events_.empty())
            return E_ABORT;
        *code = events_.front().first;
        *p1 = events_.front().second;
        *p2 = 0;
        events_.pop_front();
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
    HRESULT Notify(long code, std::intptr_t p1, std::intptr_t) override {
        std::unique_lock lock(eventMutex_);
        events_.emplace_back(code, p1);
        HWND window = window_;
        auto message = message_;
        auto instance = instance_;
        lock.unlock();
        if (window)
            window->PostMessage(message, 0, instance);
        return S_OK;
    }

    HRESULT CheckCapabilities(std::uint32_t* capabilities) override {
        std::int64_t known = 0;
        std::uint32_t offered = AM_SEEKING_CanGetCurrentPos;
        if (GetDuration(&known) == S_OK)
            offered |= AM_SEEKING_CanGetDuration | AM_SEEKING_CanSeekAbsolute;
        std::uint32_t asked = *capabilities;
        *capabilities &= offered;
        return *capabilities == asked ? S_OK : *capabilities ? S_FALSE : E_FAIL;
    }
    HRESULT GetDuration(std::int64_t* duration) override {
        auto source = Find<Source>();
        *duration = renderer_ ? media_->renderedDuration : source ? source->spec.duration : 0;
        return *duration > 0 ? S_OK : E_NOTIMPL;
    }
    HRESULT GetCurrentPosition(std::int64_t* position) override {
        *position = 0;
        return S_OK;
    }
    HRESULT SetPositions(std::int64_t* current, std::uint32_t, std::int64_t* stop,
                         std::uint32_t) override {
        if (!renderer_)
            return E_NOTIMPL;
        Update([&](auto& p) {
            p.start = *current;
            p.stop = *stop;
        });
        return S_OK;
    }
    HRESULT put_Volume(long volume) override {
        if (!renderer_)
            return E_NOTIMPL;
        volume_ = std::clamp(volume, -10000L, 0L);
        Update([&](auto& p) { p.volume = volume_; });
        return S_OK;
    }
    HRESULT get_Volume(long* volume) override {
        *volume = volume_;
        return renderer_ ? S_OK : E_NOTIMPL;
    }

  private:
    template <class T>
    std::shared_ptr<T> Find() const {
        for (auto& filter : filters_)
            if (auto found = std::dynamic_pointer_cast<T>(filter))
                return found;
        return nullptr;
    }
    // A decode hands the file's buffers to the grabber, then queues its end.
    void Deliver() {
        auto source = Find<Source>();
        auto grabber = Find<Grabber>();
        if (!source || !grabber || !grabber->callback || completion_)
            return;
        if (media_->beforeDelivery)
            media_->beforeDelivery();
        double seconds = 0;
        for (const auto& buffer : source->spec.buffers) {
            grabber->callback->SampleCB(seconds, buffer.data(), static_cast<long>(buffer.size()));
            seconds += static_cast<double>(buffer.size()) /
                       std::max<std::uint32_t>(source->spec.format.avgBytesPerSec, 1);
        }
        completion_ = source->spec.failMidStream ? EC_ERRORABORT : EC_COMPLETE;
        Notify(completion_, 0, 0);
    }
    void Update(const std::function<void(ScriptedMedia::Playback&)>& change) {
        std::lock_guard lock(media_->mutex_);
        if (renderer_)
            change(media_->playbacks_[file_]);
    }
    void Log(std::string entry) {
        std::lock_guard lock(media_->mutex_);
        media_->journal_.push_back(std::move(entry));
    }
    static std::string Label(const std::shared_ptr<IBaseFilter>& filter) {
        return std::dynamic_pointer_cast<Filter>(filter)->label;
    }

    std::shared_ptr<ScriptedMedia> media_;
    std::vector<std::shared_ptr<IBaseFilter>> filters_;
    FilterState state_ = FilterState::Stopped;
    long completion_ = 0;
    std::wstring file_;
    std::shared_ptr<Renderer> renderer_;
    long volume_ = 0;
    std::mutex eventMutex_;
    std::deque<std::pair<long, std::intptr_t>> events_;
    HWND window_ = nullptr;
    std::uint32_t message_ = 0;
    std::intptr_t instance_ = 0;
};

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

void ScriptedMedia::NotifyRendered(const std::wstring& file, long code) {
    std::vector<std::shared_ptr<IMediaEventSink>> graphs;
    {
        std::lock_guard lock(mutex_);
        for (auto& [name, graph] : rendered_)
            if (auto live = graph.lock(); live && name == file)
                graphs.push_back(live);
    }
    for (auto& graph : graphs)
        graph->Notify(code, 0, 0);
}

HRESULT ScriptedMedia::CreateInstance(Clsid clsid, std::shared_ptr<IUnknown>* object) {
    auto self = shared_from_this();
    switch (clsid) {
        case Clsid::SystemDeviceEnum:
            *object = std::make_shared<Devices>(self);
            return S_OK;
        case Clsid::FilterGraph:
            *object = std::make_shared<Graph>(self);
            return S_OK;
        case Clsid::CaptureGraphBuilder2:
            *object = std::make_shared<CaptureBuilder>();
            return S_OK;
        case Clsid::SampleGrabber:
            *object = std::make_shared<Grabber>();
            return S_OK;
        case Clsid::NullRenderer:
            *object = std::make_shared<NullRenderer>();
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
