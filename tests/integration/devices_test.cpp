// Capture devices and the capture graph of the GStreamer backend against a
// private PulseAudio server with two virtual microphones.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "GstBackend.h"
#include "LastError.h"
#include "Media.h"
#include "PulseServer.h"

using namespace media;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

PulseServer* server = nullptr;

// One server for the whole program: starting one takes about two seconds.
class PulseEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        SetMediaFactory(CreateGstMediaFactory());
        server_ = std::make_unique<PulseServer>(std::vector<PulseMicrophone>{
            {"Desk Microphone", 16000, 1}, {"Headset Microphone", 48000, 2}});
        ASSERT_TRUE(server_->Running()) << server_->Error();
        server = server_.get();
    }
    void TearDown() override {
        server = nullptr;
        server_.reset();
        SetMediaFactory(nullptr);
    }

  private:
    std::unique_ptr<PulseServer> server_;
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new PulseEnvironment);

// Polls until the condition holds; the bound only keeps a broken build from
// hanging the run.
template <class Condition>
bool Eventually(Condition condition, std::chrono::milliseconds bound = 20s) {
    auto giveUp = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::wstring LastErrorText() {
    return GetLastErrorText();
}

struct Post {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    bool operator==(const Post&) const = default;
};

class RecordingWindow final : public IWindow {
  public:
    void PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        std::lock_guard lock(mutex_);
        posts_.push_back({message, wParam, lParam});
    }
    std::vector<Post> Posts() const {
        std::lock_guard lock(mutex_);
        return posts_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Post> posts_;
};

class CountingCallback final : public ISampleGrabberCB {
  public:
    HRESULT SampleCB(double, const std::uint8_t* buffer, long length) override {
        if (!buffer || length <= 0)
            empty_ = true;
        lengths_.fetch_add(1);
        bytes_.fetch_add(length);
        if (blockAlign_ > 0 && length % blockAlign_ != 0)
            misaligned_ = true;
        return S_OK;
    }
    void ExpectBlockAlign(long blockAlign) { blockAlign_ = blockAlign; }
    long Buffers() const { return lengths_.load(); }
    bool Misaligned() const { return misaligned_.load(); }
    bool Empty() const { return empty_.load(); }

  private:
    std::atomic<long> lengths_{0};
    std::atomic<long> bytes_{0};
    std::atomic<long> blockAlign_{0};
    std::atomic<bool> misaligned_{false};
    std::atomic<bool> empty_{false};
};

std::vector<std::shared_ptr<IMoniker>> Devices() {
    std::shared_ptr<ICreateDevEnum> devices;
    EXPECT_EQ(CoCreateInstance(Clsid::SystemDeviceEnum, &devices), S_OK);
    std::vector<std::shared_ptr<IMoniker>> monikers;
    if (!devices)
        return monikers;
    std::shared_ptr<IEnumMoniker> enumerator;
    EXPECT_EQ(devices->CreateClassEnumerator(DeviceCategory::AudioInput, &enumerator), S_OK)
        << NarrowUtf8(LastErrorText());
    std::shared_ptr<IMoniker> moniker;
    while (enumerator && enumerator->Next(&moniker) == S_OK)
        monikers.push_back(moniker);
    return monikers;
}

std::wstring FriendlyName(const std::shared_ptr<IMoniker>& moniker) {
    std::shared_ptr<IPropertyBag> bag;
    std::wstring name;
    EXPECT_EQ(moniker->BindToStorage(&bag), S_OK);
    if (bag) {
        EXPECT_EQ(bag->Read(L"FriendlyName", &name), S_OK);
    }
    return name;
}

std::shared_ptr<IBaseFilter> BindDevice(std::size_t index) {
    auto devices = Devices();
    std::shared_ptr<IBaseFilter> filter;
    if (index < devices.size()) {
        EXPECT_EQ(devices[index]->BindToObject(&filter), S_OK);
    }
    return filter;
}

std::shared_ptr<IAMAudioInputMixer> MixerOf(const std::shared_ptr<IBaseFilter>& filter,
                                            const wchar_t* pin) {
    std::shared_ptr<IPin> found;
    std::shared_ptr<IAMAudioInputMixer> mixer;
    if (filter && filter->FindPin(pin, &found) == S_OK)
        QueryInterface(found, &mixer);
    return mixer;
}

// The program's own helpers: the first free pin of a direction, and joining two
// filters through their first free pins.
std::shared_ptr<IPin> UnconnectedPin(const std::shared_ptr<IBaseFilter>& filter,
                                     PinDirection direction) {
    std::vector<std::shared_ptr<IPin>> pins;
    filter->EnumPins(&pins);
    for (const auto& pin : pins) {
        PinDirection d;
        std::shared_ptr<IPin> peer;
        if (pin->QueryDirection(&d) == S_OK && d == direction && FAILED(pin->ConnectedTo(&peer))) {
            return pin;
        }
    }
    return nullptr;
}

HRESULT ConnectFilters(const std::shared_ptr<IGraphBuilder>& graph,
                       const std::shared_ptr<IBaseFilter>& source,
                       const std::shared_ptr<IBaseFilter>& destination) {
    auto out = UnconnectedPin(source, PinDirection::Output);
    auto in = UnconnectedPin(destination, PinDirection::Input);
    if (!out || !in)
        return E_FAIL;
    return graph->Connect(out, in);
}

std::optional<WaveFormat> ConnectedFormat(const std::shared_ptr<ISampleGrabber>& grabber) {
    AM_MEDIA_TYPE type;
    if (grabber->GetConnectedMediaType(&type) != S_OK)
        return std::nullopt;
    EXPECT_EQ(type.majortype, MajorType::Audio);
    EXPECT_EQ(type.subtype, SubType::PCM);
    EXPECT_EQ(type.formattype, FormatType::WaveFormatEx);
    return type.format;
}

// The capture graph, built in the order the recorder builds it.
struct CaptureGraph {
    std::shared_ptr<IGraphBuilder> graph;
    std::shared_ptr<ICaptureGraphBuilder2> builder;
    std::shared_ptr<IMediaControl> control;
    std::shared_ptr<IMediaEventEx> events;
    std::shared_ptr<IMediaEventSink> sink;
    std::shared_ptr<IBaseFilter> capture;
    std::shared_ptr<IBaseFilter> grabberFilter;
    std::shared_ptr<ISampleGrabber> grabber;
    std::shared_ptr<IBaseFilter> renderer;

    void Build(std::shared_ptr<IBaseFilter> captureFilter, ISampleGrabberCB* callback) {
        capture = std::move(captureFilter);
        ASSERT_TRUE(capture);
        ASSERT_EQ(CoCreateInstance(Clsid::FilterGraph, &graph), S_OK);
        ASSERT_EQ(CoCreateInstance(Clsid::CaptureGraphBuilder2, &builder), S_OK);
        ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
        ASSERT_EQ(QueryInterface(graph, &control), S_OK);
        ASSERT_EQ(QueryInterface(graph, &events), S_OK);
        ASSERT_EQ(QueryInterface(graph, &sink), S_OK);
        ASSERT_EQ(graph->AddFilter(capture, L"Audio Capture"), S_OK);
        ASSERT_EQ(CoCreateInstance(Clsid::SampleGrabber, &grabberFilter), S_OK);
        ASSERT_EQ(graph->AddFilter(grabberFilter, L"Sample Grabber"), S_OK);
        ASSERT_EQ(QueryInterface(grabberFilter, &grabber), S_OK);
        AM_MEDIA_TYPE anyPcm;
        anyPcm.majortype = MajorType::Audio;
        anyPcm.subtype = SubType::PCM;
        anyPcm.formattype = FormatType::WaveFormatEx;
        grabber->SetMediaType(anyPcm);
        grabber->SetOneShot(false);
        grabber->SetBufferSamples(true);
        ASSERT_EQ(grabber->SetCallback(callback, 0), S_OK);
        ASSERT_EQ(ConnectFilters(graph, capture, grabberFilter), S_OK)
            << NarrowUtf8(LastErrorText());
        ASSERT_EQ(CoCreateInstance(Clsid::NullRenderer, &renderer), S_OK);
        ASSERT_EQ(graph->AddFilter(renderer, L"Null Renderer"), S_OK);
        ASSERT_EQ(ConnectFilters(graph, grabberFilter, renderer), S_OK);
    }

    // Polls GetState the way the recorder does, in 100 ms steps.
    bool Reaches(FilterState wanted) {
        return Eventually([&] {
            FilterState state;
            return control->GetState(100, &state) == S_OK && state == wanted;
        });
    }

    ~CaptureGraph() {
        if (control)
            control->Stop();
    }
};

std::vector<std::pair<std::wstring, PinDirection>> PinsOf(const std::shared_ptr<IBaseFilter>& f) {
    std::vector<std::shared_ptr<IPin>> pins;
    EXPECT_EQ(f->EnumPins(&pins), S_OK);
    std::vector<std::pair<std::wstring, PinDirection>> described;
    for (const auto& pin : pins) {
        std::wstring name;
        PinDirection direction;
        pin->QueryPinInfo(&name);
        pin->QueryDirection(&direction);
        described.emplace_back(name, direction);
    }
    return described;
}

class DevicesTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(server, nullptr) << "the PulseAudio server did not start"; }
};

// ---- enumeration and binding ------------------------------------------------

TEST_F(DevicesTest, ListsTheMicrophonesByDescriptionInServerOrderLeavingOutMonitors) {
    std::vector<std::wstring> names;
    for (const auto& moniker : Devices())
        names.push_back(FriendlyName(moniker));
    EXPECT_THAT(names, ElementsAre(L"Desk Microphone", L"Headset Microphone"));

    std::shared_ptr<IPropertyBag> bag;
    ASSERT_EQ(Devices().front()->BindToStorage(&bag), S_OK);
    std::wstring value;
    EXPECT_TRUE(FAILED(bag->Read(L"DevicePath", &value)));
}

TEST_F(DevicesTest, BoundDeviceHasCaptureInputWithMixerAndOneOutput) {
    auto filter = BindDevice(0);
    ASSERT_TRUE(filter);
    EXPECT_THAT(PinsOf(filter),
                ElementsAre(std::pair{std::wstring(L"Capture"), PinDirection::Input},
                            std::pair{std::wstring(L"Output"), PinDirection::Output}));
    EXPECT_TRUE(MixerOf(filter, L"Capture"));
    EXPECT_FALSE(MixerOf(filter, L"Output"));
    std::shared_ptr<IPin> pin;
    EXPECT_EQ(filter->FindPin(L"Line In", &pin), VFW_E_NOT_FOUND);

    std::vector<std::shared_ptr<IPin>> pins;
    filter->EnumPins(&pins);
    for (const auto& p : pins) {
        std::shared_ptr<IPin> peer;
        EXPECT_EQ(p->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    }
}

TEST_F(DevicesTest, ServerWithOnlyMonitorsOffersNoCaptureDevice) {
    PulseServer speakersOnly(0);
    ASSERT_TRUE(speakersOnly.Running()) << speakersOnly.Error();
    std::shared_ptr<ICreateDevEnum> devices;
    ASSERT_EQ(CoCreateInstance(Clsid::SystemDeviceEnum, &devices), S_OK);
    std::shared_ptr<IEnumMoniker> enumerator;
    EXPECT_EQ(devices->CreateClassEnumerator(DeviceCategory::AudioInput, &enumerator), S_FALSE);
    EXPECT_FALSE(enumerator);
}

// ---- the input mixer ------------------------------------------------------------

TEST_F(DevicesTest, MixLevelIsTheSourceVolumeOnEveryChannel) {
    auto mono = MixerOf(BindDevice(0), L"Capture");
    auto stereo = MixerOf(BindDevice(1), L"Capture");
    ASSERT_TRUE(mono && stereo);
    EXPECT_EQ(mono->put_Enable(true), S_OK);
    EXPECT_EQ(mono->put_Enable(false), S_OK);

    ASSERT_EQ(mono->put_MixLevel(0.3), S_OK) << NarrowUtf8(LastErrorText());
    double level = 0;
    ASSERT_EQ(mono->get_MixLevel(&level), S_OK);
    EXPECT_NEAR(level, 0.3, 0.001);
    EXPECT_THAT(server->Pactl("get-source-volume test_mic1").value_or(""), HasSubstr("30%"));

    ASSERT_EQ(stereo->put_MixLevel(0.5), S_OK);
    std::string volume = server->Pactl("get-source-volume test_mic2").value_or("");
    EXPECT_THAT(volume, HasSubstr("front-left: 32768 /  50%"));
    EXPECT_THAT(volume, HasSubstr("front-right: 32768 /  50%"));
    // The other device keeps its own level.
    ASSERT_EQ(mono->get_MixLevel(&level), S_OK);
    EXPECT_NEAR(level, 0.3, 0.001);

    ASSERT_EQ(mono->put_MixLevel(1.0), S_OK);
    ASSERT_EQ(stereo->put_MixLevel(1.0), S_OK);
    EXPECT_THAT(server->Pactl("get-source-volume test_mic1").value_or(""), HasSubstr("100%"));
}

TEST_F(DevicesTest, AutomaticGainAndOutOfRangeLevelsAreRefusedLeavingTheLevel) {
    auto mixer = MixerOf(BindDevice(0), L"Capture");
    ASSERT_TRUE(mixer);
    ASSERT_EQ(mixer->put_MixLevel(0.6), S_OK);

    EXPECT_TRUE(FAILED(mixer->put_MixLevel(AMF_AUTOMATICGAIN)));
    EXPECT_THAT(NarrowUtf8(LastErrorText()), HasSubstr("automatic gain"));
    EXPECT_EQ(mixer->put_MixLevel(1.5), E_INVALIDARG);
    EXPECT_EQ(mixer->put_MixLevel(-0.5), E_INVALIDARG);

    double level = 0;
    ASSERT_EQ(mixer->get_MixLevel(&level), S_OK);
    EXPECT_NEAR(level, 0.6, 0.001);
    mixer->put_MixLevel(1.0);
}

// ---- the capture graph ---------------------------------------------------------------

TEST_F(DevicesTest, CaptureGraphDeliversSamplesInTheSourcesOwnFormat) {
    CountingCallback callback;
    CaptureGraph capture;
    ASSERT_NO_FATAL_FAILURE(capture.Build(BindDevice(0), &callback));

    // Known from the device before anything runs, as the recorder reads it then.
    auto format = ConnectedFormat(capture.grabber);
    ASSERT_TRUE(format) << NarrowUtf8(LastErrorText());
    EXPECT_EQ(format->channels, 1);
    EXPECT_EQ(format->samplesPerSec, 16000u);
    EXPECT_EQ(format->bitsPerSample, 16);
    EXPECT_EQ(format->blockAlign, 2);
    EXPECT_EQ(format->avgBytesPerSec, 32000u);

    callback.ExpectBlockAlign(format->blockAlign);
    ASSERT_TRUE(SUCCEEDED(capture.control->Run())) << NarrowUtf8(LastErrorText());
    ASSERT_TRUE(capture.Reaches(FilterState::Running));
    ASSERT_TRUE(Eventually([&] { return callback.Buffers() >= 5; }));
    EXPECT_FALSE(callback.Misaligned());
    EXPECT_FALSE(callback.Empty());

    ASSERT_EQ(capture.control->Stop(), S_OK);
    FilterState state;
    EXPECT_EQ(capture.control->GetState(100, &state), S_OK);
    EXPECT_EQ(state, FilterState::Stopped);
    long stoppedAt = callback.Buffers();
    // The negotiated format outlives the run: the recorder reads it after stopping.
    auto after = ConnectedFormat(capture.grabber);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->samplesPerSec, 16000u);
    EXPECT_EQ(after->channels, 1);

    // A stopped graph runs again from scratch.
    ASSERT_TRUE(SUCCEEDED(capture.control->Run())) << NarrowUtf8(LastErrorText());
    ASSERT_TRUE(capture.Reaches(FilterState::Running));
    EXPECT_TRUE(Eventually([&] { return callback.Buffers() > stoppedAt + 5; }));
}

TEST_F(DevicesTest, SwitchingDevicesExchangesOnlyTheCaptureFilter) {
    CountingCallback callback;
    CaptureGraph capture;
    ASSERT_NO_FATAL_FAILURE(capture.Build(BindDevice(0), &callback));
    ASSERT_TRUE(SUCCEEDED(capture.control->Run()));
    ASSERT_TRUE(capture.Reaches(FilterState::Running));

    auto first = capture.capture;
    ASSERT_EQ(capture.graph->Abort(), S_OK);
    ASSERT_EQ(capture.graph->RemoveFilter(first), S_OK);
    std::vector<std::shared_ptr<IBaseFilter>> filters;
    capture.graph->EnumFilters(&filters);
    EXPECT_THAT(filters, ElementsAre(capture.grabberFilter, capture.renderer));
    EXPECT_TRUE(UnconnectedPin(capture.grabberFilter, PinDirection::Input));
    EXPECT_TRUE(UnconnectedPin(first, PinDirection::Output));
    AM_MEDIA_TYPE type;
    EXPECT_EQ(capture.grabber->GetConnectedMediaType(&type), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(capture.graph->RemoveFilter(first), VFW_E_NOT_FOUND);

    auto second = BindDevice(1);
    ASSERT_EQ(MixerOf(second, L"Capture")->put_Enable(true), S_OK);
    ASSERT_EQ(capture.graph->AddFilter(second, L"Audio Capture"), S_OK);
    ASSERT_EQ(ConnectFilters(capture.graph, second, capture.grabberFilter), S_OK);
    auto format = ConnectedFormat(capture.grabber);
    ASSERT_TRUE(format);
    EXPECT_EQ(format->samplesPerSec, 48000u);
    EXPECT_EQ(format->channels, 2);
    EXPECT_EQ(format->blockAlign, 4);

    callback.ExpectBlockAlign(4);
    long before = callback.Buffers();
    ASSERT_TRUE(SUCCEEDED(capture.control->Run())) << NarrowUtf8(LastErrorText());
    ASSERT_TRUE(capture.Reaches(FilterState::Running));
    ASSERT_TRUE(Eventually([&] { return callback.Buffers() > before + 5; }));
    EXPECT_FALSE(callback.Misaligned());

    // The filter taken out is still whole: it goes back in and captures again.
    ASSERT_EQ(capture.control->Stop(), S_OK);
    ASSERT_EQ(capture.graph->RemoveFilter(second), S_OK);
    ASSERT_EQ(capture.graph->AddFilter(first, L"Audio Capture"), S_OK);
    ASSERT_EQ(ConnectFilters(capture.graph, first, capture.grabberFilter), S_OK);
    callback.ExpectBlockAlign(2);
    before = callback.Buffers();
    ASSERT_TRUE(SUCCEEDED(capture.control->Run()));
    ASSERT_TRUE(Eventually([&] { return callback.Buffers() > before + 5; }));
    ASSERT_EQ(capture.control->Stop(), S_OK);
    EXPECT_EQ(ConnectedFormat(capture.grabber)->samplesPerSec, 16000u);
}

TEST_F(DevicesTest, GraphRefusesConnectionsThatCannotBe) {
    CaptureGraph capture;
    ASSERT_NO_FATAL_FAILURE(capture.Build(BindDevice(0), nullptr));
    std::shared_ptr<IPin> line, output, rendererIn;
    capture.capture->FindPin(L"Capture", &line);
    capture.capture->FindPin(L"Output", &output);
    capture.renderer->FindPin(L"In", &rendererIn);
    ASSERT_TRUE(line && output && rendererIn);
    // Already connected on both sides.
    EXPECT_EQ(capture.graph->Connect(output, rendererIn), VFW_E_CANNOT_CONNECT);
    // A mixer line carries no stream.
    std::shared_ptr<IBaseFilter> spare;
    ASSERT_EQ(CoCreateInstance(Clsid::NullRenderer, &spare), S_OK);
    ASSERT_EQ(capture.graph->AddFilter(spare, L"Null Renderer"), S_OK);
    std::shared_ptr<IPin> spareIn;
    spare->FindPin(L"In", &spareIn);
    EXPECT_TRUE(FAILED(capture.graph->Connect(line, spareIn)));
    // A filter outside the graph.
    std::shared_ptr<IBaseFilter> outsider;
    ASSERT_EQ(CoCreateInstance(Clsid::SampleGrabber, &outsider), S_OK);
    EXPECT_TRUE(
        FAILED(capture.graph->Connect(UnconnectedPin(outsider, PinDirection::Output), spareIn)));
    // A filter already in this graph, or another one.
    EXPECT_TRUE(FAILED(capture.graph->AddFilter(spare, L"Again")));
    std::shared_ptr<IGraphBuilder> other;
    ASSERT_EQ(CoCreateInstance(Clsid::FilterGraph, &other), S_OK);
    EXPECT_TRUE(FAILED(other->AddFilter(spare, L"Null Renderer")));
}

// ---- events ------------------------------------------------------------------------------

TEST_F(DevicesTest, NotifiedEventsQueueAndPostTheWindowMessage) {
    std::shared_ptr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(Clsid::FilterGraph, &graph), S_OK);
    std::shared_ptr<IMediaEventEx> events;
    std::shared_ptr<IMediaEventSink> sink;
    ASSERT_EQ(QueryInterface(graph, &events), S_OK);
    ASSERT_EQ(QueryInterface(graph, &sink), S_OK);
    RecordingWindow window;
    ASSERT_EQ(events->SetNotifyWindow(&window, WM_CAPTURE_NOTIFY, 7), S_OK);

    std::thread streaming([&] { sink->Notify(EC_BUFFERING_DATA, 1, 0); });
    streaming.join();
    EXPECT_THAT(window.Posts(), ElementsAre(Post{WM_CAPTURE_NOTIFY, 0, 7}));

    long code = 0;
    std::intptr_t p1 = -1, p2 = -1;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_BUFFERING_DATA);
    EXPECT_EQ(p1, 1);
    EXPECT_EQ(p2, 0);
    EXPECT_EQ(events->FreeEventParams(code, p1, p2), S_OK);
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);

    // Without a window events still queue, and nothing is posted.
    ASSERT_EQ(events->SetNotifyWindow(nullptr, 0, 0), S_OK);
    sink->Notify(EC_BUFFERING_DATA, 0, 0);
    EXPECT_EQ(window.Posts().size(), 1u);
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(p1, 0);
}

TEST_F(DevicesTest, StreamingErrorBecomesAnErrorAbortEventWithItsText) {
    std::shared_ptr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(Clsid::FilterGraph, &graph), S_OK);
    std::shared_ptr<IMediaControl> control;
    std::shared_ptr<IMediaEventEx> events;
    ASSERT_EQ(QueryInterface(graph, &control), S_OK);
    ASSERT_EQ(QueryInterface(graph, &events), S_OK);
    RecordingWindow window;
    events->SetNotifyWindow(&window, WM_CAPTURE_NOTIFY, 0);
    // A capture filter whose output leads nowhere cannot stream.
    ASSERT_EQ(graph->AddFilter(BindDevice(0), L"Audio Capture"), S_OK);
    control->Run();

    long code = 0;
    std::intptr_t p1 = 0, p2 = 0;
    SetLastError(0, L"");
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 10000), S_OK);
    EXPECT_EQ(code, EC_ERRORABORT);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(p1)));
    EXPECT_THAT(NarrowUtf8(LastErrorText()), HasSubstr("not-linked"));
    EXPECT_TRUE(Eventually([&] { return !window.Posts().empty(); }));
    long ended = 0;
    EXPECT_EQ(events->WaitForCompletion(0, &ended), S_OK);
    EXPECT_EQ(ended, EC_ERRORABORT);
    EXPECT_EQ(control->Stop(), S_OK);
}

// ---- an unreachable or hung server ----------------------------------------------------------

TEST_F(DevicesTest, WithoutAServerEnumerationAndStartingFailWithTheReason) {
    CaptureGraph capture;
    ASSERT_NO_FATAL_FAILURE(capture.Build(BindDevice(0), nullptr));
    auto mixer = MixerOf(capture.capture, L"Capture");
    NoPulseServer gone;

    std::shared_ptr<ICreateDevEnum> devices;
    ASSERT_EQ(CoCreateInstance(Clsid::SystemDeviceEnum, &devices), S_OK);
    std::shared_ptr<IEnumMoniker> enumerator;
    SetLastError(0, L"");
    EXPECT_TRUE(FAILED(devices->CreateClassEnumerator(DeviceCategory::AudioInput, &enumerator)));
    EXPECT_FALSE(enumerator);
    EXPECT_THAT(NarrowUtf8(LastErrorText()), HasSubstr("Connection refused"));

    double level = 0;
    EXPECT_TRUE(FAILED(mixer->get_MixLevel(&level)));
    EXPECT_TRUE(FAILED(mixer->put_MixLevel(0.5)));
    SetLastError(0, L"");
    EXPECT_TRUE(FAILED(capture.control->Run()));
    EXPECT_THAT(NarrowUtf8(LastErrorText()), HasSubstr("Connection refused"));
    FilterState state;
    EXPECT_EQ(capture.control->GetState(100, &state), S_OK);
    EXPECT_EQ(state, FilterState::Stopped);
}

TEST_F(DevicesTest, HungServerMakesDeviceCallsFailInsteadOfHanging) {
    CaptureGraph capture;
    ASSERT_NO_FATAL_FAILURE(capture.Build(BindDevice(0), nullptr));
    auto mixer = MixerOf(capture.capture, L"Capture");
    server->Hang();

    std::shared_ptr<ICreateDevEnum> devices;
    ASSERT_EQ(CoCreateInstance(Clsid::SystemDeviceEnum, &devices), S_OK);
    std::shared_ptr<IEnumMoniker> enumerator;
    EXPECT_TRUE(FAILED(devices->CreateClassEnumerator(DeviceCategory::AudioInput, &enumerator)));
    EXPECT_THAT(NarrowUtf8(LastErrorText()), HasSubstr("did not answer"));
    double level = 0;
    EXPECT_TRUE(FAILED(mixer->get_MixLevel(&level)));
    EXPECT_TRUE(FAILED(capture.control->Run()));
    EXPECT_THAT(NarrowUtf8(LastErrorText()), HasSubstr("did not answer"));

    server->Resume();
    EXPECT_EQ(Devices().size(), 2u);
    EXPECT_EQ(mixer->get_MixLevel(&level), S_OK);
}

}  // namespace
