// The GStreamer filter graph with sources that need no device: a test tone of a
// fixed number of buffers (so the stream ends) and a sink that takes only float
// samples (so Connect has to convert).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "GstBackend.h"
#include "GstFilter.h"
#include "LastError.h"
#include "Media.h"

using namespace media;
using namespace std::chrono_literals;
using media::gst::CapsHandle;
using media::gst::ElementHandle;
using media::gst::MakeElement;

namespace {

// A tone of `buffers` buffers in the given raw audio caps, then end of stream.
class ToneSource final : public gst::GstFilter {
  public:
    static std::shared_ptr<ToneSource> Create(const char* caps, int buffers) {
        std::shared_ptr<ToneSource> source(new ToneSource());
        auto tone = MakeElement("audiotestsrc");
        auto format = MakeElement("capsfilter");
        if (!source->AddToBin(tone) || !source->AddToBin(format))
            return nullptr;
        g_object_set(tone.get(), "num-buffers", buffers, "samplesperbuffer", 441, nullptr);
        auto fixed = CapsHandle::Adopt(gst_caps_from_string(caps));
        g_object_set(format.get(), "caps", fixed.get(), nullptr);
        gst_element_link(tone.get(), format.get());
        source->AddStreamPin(L"Output", PinDirection::Output, format.get(), "src");
        return source;
    }

  private:
    ToneSource() : GstFilter("tone") {}
};

// Accepts only 32-bit float samples and counts what arrives.
class FloatSink final : public gst::GstFilter {
  public:
    static std::shared_ptr<FloatSink> Create() {
        std::shared_ptr<FloatSink> sink(new FloatSink());
        auto format = MakeElement("capsfilter");
        auto discard = MakeElement("fakesink");
        if (!sink->AddToBin(format) || !sink->AddToBin(discard))
            return nullptr;
        auto floats = CapsHandle::Adopt(gst_caps_from_string("audio/x-raw, format=F32LE"));
        g_object_set(format.get(), "caps", floats.get(), nullptr);
        g_object_set(discard.get(), "sync", FALSE, "signal-handoffs", TRUE, nullptr);
        g_signal_connect(discard.get(), "handoff",
                         G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer counter) {
                             static_cast<std::atomic<int>*>(counter)->fetch_add(1);
                         }),
                         &sink->received_);
        gst_element_link(format.get(), discard.get());
        sink->AddStreamPin(L"In", PinDirection::Input, format.get(), "sink");
        return sink;
    }
    int Received() const { return received_.load(); }

  private:
    FloatSink() : GstFilter("float-sink") {}
    std::atomic<int> received_{0};
};

class Counter final : public ISampleGrabberCB {
  public:
    HRESULT SampleCB(double time, const std::uint8_t*, long length) override {
        if (time < last_.load())
            backwards_ = true;
        last_ = time;
        buffers_.fetch_add(1);
        bytes_.fetch_add(length);
        return S_OK;
    }
    int Buffers() const { return buffers_.load(); }
    long Bytes() const { return bytes_.load(); }
    bool WentBackwards() const { return backwards_.load(); }

  private:
    std::atomic<int> buffers_{0};
    std::atomic<long> bytes_{0};
    std::atomic<double> last_{-1.0};
    std::atomic<bool> backwards_{false};
};

class GstGraphTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { SetMediaFactory(CreateGstMediaFactory()); }
    static void TearDownTestSuite() { SetMediaFactory(nullptr); }

    void SetUp() override {
        ASSERT_EQ(CoCreateInstance(Clsid::FilterGraph, &graph), S_OK);
        ASSERT_EQ(QueryInterface(graph, &control), S_OK);
        ASSERT_EQ(QueryInterface(graph, &events), S_OK);
        ASSERT_EQ(CoCreateInstance(Clsid::SampleGrabber, &grabberFilter), S_OK);
        ASSERT_EQ(QueryInterface(grabberFilter, &grabber), S_OK);
        ASSERT_EQ(CoCreateInstance(Clsid::NullRenderer, &renderer), S_OK);
        ASSERT_EQ(grabber->SetCallback(&counter, 0), S_OK);
    }
    void TearDown() override {
        if (control)
            control->Stop();
    }

    std::shared_ptr<IPin> Pin(const std::shared_ptr<IBaseFilter>& filter, const wchar_t* name) {
        std::shared_ptr<IPin> pin;
        EXPECT_EQ(filter->FindPin(name, &pin), S_OK);
        return pin;
    }

    // source → grabber → sink, all added to the graph.
    void Chain(const std::shared_ptr<IBaseFilter>& source,
               const std::shared_ptr<IBaseFilter>& sink) {
        ASSERT_TRUE(source && sink);
        ASSERT_EQ(graph->AddFilter(source, L"Source"), S_OK);
        ASSERT_EQ(graph->AddFilter(grabberFilter, L"Sample Grabber"), S_OK);
        ASSERT_EQ(graph->AddFilter(sink, L"Sink"), S_OK);
        ASSERT_EQ(graph->Connect(Pin(source, L"Output"), Pin(grabberFilter, L"Input")), S_OK)
            << NarrowUtf8(GetLastErrorText());
        ASSERT_EQ(graph->Connect(Pin(grabberFilter, L"Output"), Pin(sink, L"In")), S_OK)
            << NarrowUtf8(GetLastErrorText());
    }

    long RunToCompletion() {
        EXPECT_TRUE(SUCCEEDED(control->Run())) << NarrowUtf8(GetLastErrorText());
        long code = 0;
        EXPECT_EQ(events->WaitForCompletion(20000, &code), S_OK);
        return code;
    }

    std::shared_ptr<IGraphBuilder> graph;
    std::shared_ptr<IMediaControl> control;
    std::shared_ptr<IMediaEventEx> events;
    std::shared_ptr<IBaseFilter> grabberFilter;
    std::shared_ptr<ISampleGrabber> grabber;
    std::shared_ptr<IBaseFilter> renderer;
    Counter counter;
};

TEST_F(GstGraphTest, EndOfStreamCompletesTheGraphAfterEveryBufferWasGrabbed) {
    ASSERT_NO_FATAL_FAILURE(Chain(ToneSource::Create("audio/x-raw, format=S16LE, rate=44100, "
                                                     "channels=1",
                                                     20),
                                  renderer));
    EXPECT_EQ(RunToCompletion(), EC_COMPLETE);
    EXPECT_EQ(counter.Buffers(), 20);
    EXPECT_EQ(counter.Bytes(), 20 * 441 * 2);
    EXPECT_FALSE(counter.WentBackwards());

    long code = 0;
    std::intptr_t p1 = 0, p2 = 0;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);

    // Stop returns the graph to the start: it plays the whole stream again.
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(RunToCompletion(), EC_COMPLETE);
    EXPECT_EQ(counter.Buffers(), 40);
}

TEST_F(GstGraphTest, GrabberDeliversSixteenBitsAndAtMostTwoChannels) {
    ASSERT_NO_FATAL_FAILURE(Chain(ToneSource::Create("audio/x-raw, format=F32LE, rate=22050, "
                                                     "channels=4, channel-mask=(bitmask)0x33",
                                                     10),
                                  renderer));
    AM_MEDIA_TYPE type;
    ASSERT_EQ(grabber->GetConnectedMediaType(&type), S_OK);
    EXPECT_EQ(type.format.samplesPerSec, 22050u);
    EXPECT_EQ(type.format.channels, 2);
    EXPECT_EQ(type.format.bitsPerSample, 16);

    EXPECT_EQ(RunToCompletion(), EC_COMPLETE);
    EXPECT_EQ(counter.Bytes(), 10 * 441 * 2 * 2);
    ASSERT_EQ(grabber->GetConnectedMediaType(&type), S_OK);
    EXPECT_EQ(type.format.samplesPerSec, 22050u);
    EXPECT_EQ(type.format.channels, 2);
    EXPECT_EQ(type.format.blockAlign, 4);
    EXPECT_EQ(type.format.avgBytesPerSec, 22050u * 4);
}

TEST_F(GstGraphTest, ConnectConvertsWhenFormatsDoNotMeetAndRemovalUndoesIt) {
    auto floats = FloatSink::Create();
    ASSERT_NO_FATAL_FAILURE(Chain(ToneSource::Create("audio/x-raw, format=S16LE, rate=44100, "
                                                     "channels=2",
                                                     10),
                                  floats));
    std::shared_ptr<IPin> peer;
    ASSERT_EQ(Pin(floats, L"In")->ConnectedTo(&peer), S_OK);
    EXPECT_EQ(peer, Pin(grabberFilter, L"Output"));
    EXPECT_EQ(RunToCompletion(), EC_COMPLETE);
    EXPECT_EQ(floats->Received(), 10);

    // Taking the sink out, converter and all, leaves the grabber free for another.
    ASSERT_EQ(control->Stop(), S_OK);
    ASSERT_EQ(graph->RemoveFilter(floats), S_OK);
    EXPECT_EQ(Pin(grabberFilter, L"Output")->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(graph->AddFilter(renderer, L"Null Renderer"), S_OK);
    ASSERT_EQ(graph->Connect(Pin(grabberFilter, L"Output"), Pin(renderer, L"In")), S_OK);
    EXPECT_EQ(RunToCompletion(), EC_COMPLETE);
    EXPECT_EQ(counter.Buffers(), 20);
}

TEST_F(GstGraphTest, GetStateReportsPausedAndStoppedWithinItsTimeout) {
    ASSERT_NO_FATAL_FAILURE(Chain(ToneSource::Create("audio/x-raw, format=S16LE, rate=44100, "
                                                     "channels=1",
                                                     1000),
                                  renderer));
    FilterState state = FilterState::Running;
    EXPECT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, FilterState::Stopped);

    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    HRESULT hr = control->GetState(5000, &state);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(state, FilterState::Paused);

    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(control->GetState(-1, &state), S_OK);
    EXPECT_EQ(state, FilterState::Stopped);
}

TEST_F(GstGraphTest, FiltersLeaveTheGraphWholeAndCanJoinAnother) {
    auto tone = ToneSource::Create("audio/x-raw, format=S16LE, rate=8000, channels=1", 5);
    ASSERT_NO_FATAL_FAILURE(Chain(tone, renderer));
    std::vector<std::shared_ptr<IBaseFilter>> filters;
    ASSERT_EQ(graph->EnumFilters(&filters), S_OK);
    EXPECT_EQ(filters.size(), 3u);

    // Two filters may ask for the same name.
    std::shared_ptr<IBaseFilter> second;
    ASSERT_EQ(CoCreateInstance(Clsid::NullRenderer, &second), S_OK);
    EXPECT_EQ(graph->AddFilter(second, L"Sink"), S_OK);
    EXPECT_EQ(graph->RemoveFilter(second), S_OK);

    // Dropping the graph hands its filters back unlinked.
    graph.reset();
    control.reset();
    events.reset();
    std::shared_ptr<IPin> peer;
    EXPECT_EQ(Pin(grabberFilter, L"Input")->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(CoCreateInstance(Clsid::FilterGraph, &graph), S_OK);
    ASSERT_EQ(QueryInterface(graph, &control), S_OK);
    ASSERT_EQ(QueryInterface(graph, &events), S_OK);
    ASSERT_NO_FATAL_FAILURE(Chain(tone, renderer));
    EXPECT_EQ(RunToCompletion(), EC_COMPLETE);
    EXPECT_EQ(counter.Buffers(), 5);
}

}  // namespace
