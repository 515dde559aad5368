// The learner's voice on the GStreamer backend against a private PulseAudio
// server: InputData records from a virtual microphone that the test speaks into,
// in half-second buffers, from the speech to the second quiet buffer (the take's
// playback is the narrator's, heard end to end); a switched device records in its
// own format, and its loss or a move of the recording ends the recording with an error.
#include <gmock/gmock.h>

#include <atomic>
#include <future>
#include <mutex>

#include "InputData.h"
#include "LastError.h"
#include "MessageRecorder.h"
#include "PulseServer.h"
#include "TempFile.h"
#include "Window.h"

using namespace test_audio;
using namespace std::chrono_literals;
using ::testing::_;
using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::Pair;

namespace {

// Microphone 1: 16 kHz mono; 2: 44.1 kHz stereo, taken away by the last test.
// What the learner says: half a second of silence and the first sentence (the
// microphone's feed is silent when nothing plays into it).
[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new PulseEnvironment(
        {{16000, 1}, {44100, 2}},
        {{"sox", "@speech.wav", "@feed.wav", "trim", "0", "2.6", "pad", "0.5"},
         {"sox", "@speech.wav", "-r", "16000", "@words16k.wav", "trim", "0", "2.6"}}));

// InputData as the program uses it, noting the length and time of every buffer;
// it is also the window its notifications go to.
class ObservedInput final : public InputData, public IWindow {
  public:
    void AddSamples(const std::uint8_t* buffer, long length, double sampleTime) override {
        std::unique_lock lock(mutex_);
        buffers_.emplace_back(length, sampleTime);
        lock.unlock();
        InputData::AddSamples(buffer, length, sampleTime);
    }
    void PostMessage(std::uint32_t message, std::uintptr_t, std::intptr_t) override {
        notifications += message == WM_CAPTURE_NOTIFY;
    }
    // The buffers since the last that were forgotten.
    std::vector<std::pair<long, double>> Buffers(bool forget = false) {
        std::lock_guard lock(mutex_);
        return forget ? std::exchange(buffers_, {}) : buffers_;
    }
    std::atomic<int> notifications{0};

  private:
    std::mutex mutex_;
    std::vector<std::pair<long, double>> buffers_;
};

using Event = std::pair<long, std::intptr_t>;

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(CreateTempFiles(input));
        ASSERT_EQ(input.InitCapture(), S_OK);
        input.m_CaptureState = CAPTURE_READY;
    }
    void TearDown() override {
        input.ShutdownCapture();
        EXPECT_THAT(recorder.Texts(), ::testing::IsEmpty());
    }

    // Takes the capture graph's events as the presenter does; true once
    // {code, param1} came.
    bool TakeEvents(long code = 0, std::intptr_t param1 = 0) {
        long c = 0;
        std::intptr_t p1 = 0, p2 = 0;
        while (input.pME->GetEvent(&c, &p1, &p2, 0) == S_OK)
            events.emplace_back(c, p1);
        return std::find(events.begin(), events.end(), Event{code, param1}) != events.end();
    }
    bool AwaitEvent(long code, std::intptr_t param1) {
        return Eventually([&] { return TakeEvents(code, param1); });
    }

    // Starts a recording, waits until the graph delivers (silence) and forgets
    // the buffers before.
    void StartRecording() {
        input.Buffers(true);
        events.clear();
        ASSERT_EQ(input.StartCapturing(&input), S_OK) << NarrowUtf8(GetLastErrorText());
        ASSERT_EQ(input.m_CaptureState, CAPTURE_ARMED);
        ASSERT_TRUE(Eventually([&] { return input.Buffers().size() >= 2; })) << "nothing heard";
    }

    MessageRecorder recorder;
    ObservedInput input;
    std::vector<Event> events;
};

TEST_F(CaptureTest, RecordingRunsFromTheSpeechToItsEndInHalfSecondBuffers) {
    ASSERT_NO_FATAL_FAILURE(StartRecording());
    ASSERT_TRUE(Eventually([&] { return input.Buffers().size() >= 4; }));
    TakeEvents();
    EXPECT_THAT(events, ::testing::IsEmpty()) << "silence started a take";
    EXPECT_EQ(input.m_CaptureState, CAPTURE_ARMED);
    ASSERT_EQ(input.StopCapturing(), S_OK);
    EXPECT_EQ(ReadWav(input.wavFile.path)->declaredSize, 0u);
    // What was gathered of the next half second goes with the stop.
    ASSERT_NO_FATAL_FAILURE(StartRecording());
    auto buffers = input.Buffers();
    EXPECT_LT(buffers[0].second, 0.5) << "the first buffer held audio of the run before";
    EXPECT_NEAR(buffers[1].second - buffers[0].second, 0.5, 0.005);
    auto said = std::async(
        std::launch::async, RunTool,
        std::vector<std::string>{"paplay", "-d", "mic_feed1", PulseEnvironment::Input("feed.wav")});
    EXPECT_TRUE(AwaitEvent(media::EC_BUFFERING_DATA, 0)) << "the recording never ended";
    EXPECT_TRUE(said.get());
    EXPECT_THAT(events, ::testing::ElementsAre(Event{media::EC_BUFFERING_DATA, 1},
                                               Event{media::EC_BUFFERING_DATA, 0}));
    EXPECT_GE(input.notifications.load(), 2);
    EXPECT_EQ(input.m_CaptureState, CAPTURE_READY);
    ASSERT_EQ(input.StopCapturing(), S_OK);
    EXPECT_THAT(input.Buffers(), Each(Pair(16000, _)))
        << "half seconds of 16 kHz mono 16-bit audio";

    auto wav = ReadWav(input.wavFile.path);
    ASSERT_TRUE(wav && wav->channels == 1 && wav->rate == 16000);
    EXPECT_EQ(wav->declaredSize, wav->data.size());
    // The words, all of them, and at most two seconds besides.
    auto take = wav->Samples();
    auto words16k = ReadWav(PulseEnvironment::Input("words16k.wav"))->Samples();
    auto saidLoud = LoudSpan(words16k, 0.1f * Peak(words16k));
    auto takeLoud = LoudSpan(take, 0.1f * Peak(take));
    ASSERT_TRUE(saidLoud && takeLoud);
    // Sought within a tenth of a second of where the words start: the search is costly.
    auto start = static_cast<long>(saidLoud->first);
    EXPECT_GT(BestMatch(words16k, take, takeLoud->first, 8000, start - 1600, start + 1600).score,
              0.8);
    std::size_t words = saidLoud->second - saidLoud->first;
    EXPECT_THAT(take.size(), ::testing::AllOf(::testing::Ge(words), ::testing::Le(words + 32000)));
}

TEST_F(CaptureTest, DeviceMovedOrGoneEndsTheRecordingSayingWhich) {
    PulseServer& server = *PulseEnvironment::Server();
    ASSERT_EQ(input.SetInputDevice(1), S_OK);
    ASSERT_NO_FATAL_FAILURE(StartRecording());
    EXPECT_THAT(input.Buffers(), Each(Pair(88200, _))) << "half seconds of 44.1 kHz stereo";
    // Moved to another microphone in the sound settings, the device staying.
    auto source = server.Index("sources", "\ttest_mic2\t");
    auto recording = server.Index("source-outputs", "\t" + source + "\t");
    ASSERT_TRUE(server.Pactl("move-source-output " + recording + " test_mic1"));
    EXPECT_TRUE(AwaitEvent(media::EC_ERRORABORT, E_FAIL));
    EXPECT_THAT(NarrowUtf8(GetLastErrorText()), HasSubstr("moved to another device"));
    ASSERT_EQ(input.StopCapturing(), S_OK);
    auto wav = ReadWav(input.wavFile.path);
    EXPECT_TRUE(wav && wav->channels == 2 && wav->rate == 44100);

    ASSERT_NO_FATAL_FAILURE(StartRecording());
    int before = input.notifications;
    ASSERT_TRUE(server.Pactl("unload-module " + server.Index("modules", "source_name=test_mic2 ")));
    EXPECT_TRUE(AwaitEvent(media::EC_ERRORABORT, E_FAIL)) << "nothing said the device went";
    EXPECT_THAT(NarrowUtf8(GetLastErrorText()), HasSubstr("no longer available"));
    EXPECT_GT(input.notifications.load(), before);
    // Nothing recorded from whatever source the server moved the stream to.
    std::size_t delivered = input.Buffers().size();
    EXPECT_FALSE(Eventually([&] { return input.Buffers().size() > delivered; }, 1200ms));
    EXPECT_EQ(input.StopCapturing(), S_OK);
}

}  // namespace
