// The learner's voice on the GStreamer backend against a private PulseAudio
// server: InputData records from a virtual microphone that the test speaks into,
// in half-second buffers, from the speech to the second quiet buffer; the take
// plays back on the output; a switched device records in its own format, and
// its loss or a move of the recording ends the recording with an error.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <sstream>

#include "AudioMatch.h"
#include "Eventually.h"
#include "InputData.h"
#include "LastError.h"
#include "MessageRecorder.h"
#include "MonitorRecorder.h"
#include "PulseServer.h"
#include "TempFile.h"
#include "Window.h"

using namespace audio_files;
using namespace std::chrono_literals;
using ::testing::Each;
using ::testing::HasSubstr;

namespace {

std::unique_ptr<ScratchFolder> inputs;
bool made = false;

// Microphone 1: 16 kHz mono; 2: 44.1 kHz stereo, taken away by the last test.
// What the learner says: a second of silence, the words, two seconds of silence.
class CaptureEnvironment final : public PulseEnvironment {
  public:
    CaptureEnvironment() : PulseEnvironment({{"", 16000, 1}, {"", 44100, 2}}) {}
    void SetUp() override {
        PulseEnvironment::SetUp();
        inputs = std::make_unique<ScratchFolder>("capture-inputs");
        auto in = [](const char* name) { return inputs->Path(name); };
        made = MakeSpeech(in("speech.wav"), "How many pickled peppers did Peter Piper pick?") &&
               RunTool({"sox", in("speech.wav"), in("feed.wav"), "pad", "1", "2"}) &&
               RunTool({"sox", in("speech.wav"), "-r", "16000", in("speech16k.wav")});
    }
    void TearDown() override {
        inputs.reset();
        PulseEnvironment::TearDown();
    }
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new CaptureEnvironment);

class NotifiedWindow final : public IWindow {
  public:
    void PostMessage(std::uint32_t message, std::uintptr_t, std::intptr_t) override {
        notifications += message == WM_CAPTURE_NOTIFY;
    }
    std::atomic<int> notifications{0};
};

// InputData as the program uses it, noting the length and time of every buffer.
class ObservedInput final : public InputData {
  public:
    void AddSamples(const std::uint8_t* buffer, long length, double sampleTime) override {
        {
            std::lock_guard lock(mutex_);
            buffers_.emplace_back(length, sampleTime);
        }
        InputData::AddSamples(buffer, length, sampleTime);
    }
    std::vector<long> Lengths() {
        std::lock_guard lock(mutex_);
        std::vector<long> lengths;
        for (auto [length, time] : buffers_)
            lengths.push_back(length);
        return lengths;
    }
    double Time(std::size_t buffer) {
        std::lock_guard lock(mutex_);
        return buffers_.at(buffer).second;
    }
    void Forget() {
        std::lock_guard lock(mutex_);
        buffers_.clear();
    }

  private:
    std::mutex mutex_;
    std::vector<std::pair<long, double>> buffers_;
};

using Event = std::pair<long, std::intptr_t>;

std::vector<float> Floats(const std::string& wavPath) {
    return audio_match::ToFloat(Samples16(*ReadWav(wavPath)));
}

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(PulseEnvironment::Server() && made) << "espeak-ng and sox make the inputs";
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
        input.Forget();
        events.clear();
        ASSERT_EQ(input.StartCapturing(&window), S_OK) << NarrowUtf8(GetLastErrorText());
        ASSERT_EQ(input.m_CaptureState, CAPTURE_ARMED);
        ASSERT_TRUE(Eventually([&] { return input.Lengths().size() >= 2; })) << "nothing heard";
    }

    MessageRecorder recorder;
    NotifiedWindow window;
    ObservedInput input;
    std::vector<Event> events;
};

TEST_F(CaptureTest, RecordingRunsFromTheSpeechToTheSecondQuietHalfSecondAndPlaysBack) {
    ASSERT_NO_FATAL_FAILURE(StartRecording());
    auto said =
        std::async(std::launch::async, RunTool,
                   std::vector<std::string>{"paplay", "-d", "mic_feed1", inputs->Path("feed.wav")});
    EXPECT_TRUE(AwaitEvent(media::EC_BUFFERING_DATA, 0)) << "the recording never ended";
    EXPECT_TRUE(said.get());
    EXPECT_THAT(events, ::testing::ElementsAre(Event{media::EC_BUFFERING_DATA, 1},
                                               Event{media::EC_BUFFERING_DATA, 0}));
    EXPECT_GE(window.notifications.load(), 2);
    EXPECT_EQ(input.m_CaptureState, CAPTURE_READY);
    ASSERT_EQ(input.StopCapturing(), S_OK);
    EXPECT_THAT(input.Lengths(), Each(16000)) << "half seconds of 16 kHz mono 16-bit audio";

    auto wav = ReadWav(input.wavFile.path);
    ASSERT_TRUE(wav && wav->channels == 1 && wav->sampleRate == 16000);
    EXPECT_EQ(wav->declaredDataSize, wav->data.size());
    // Loud from its first half second; the last two quiet, the one before not.
    std::size_t halves = wav->data.size() / 16000;
    ASSERT_GE(halves, 4u);
    auto quiet = [&](std::size_t half) {
        return input.IsQuietBuffer(wav->data.data() + half * 16000, 16000);
    };
    EXPECT_THAT((std::vector{quiet(0), quiet(halves - 3), quiet(halves - 2), quiet(halves - 1)}),
                ::testing::ElementsAre(false, false, true, true));
    // The words, all of them, and at most two seconds besides.
    auto take = audio_match::ToFloat(Samples16(*wav));
    auto words16k = Floats(inputs->Path("speech16k.wav"));
    auto saidLoud = audio_match::LoudSpan(words16k, 0.1f * audio_match::Peak(words16k));
    auto takeLoud = audio_match::LoudSpan(take, 0.1f * audio_match::Peak(take));
    ASSERT_TRUE(saidLoud && takeLoud);
    EXPECT_GT(audio_match::BestMatch(words16k, take, takeLoud->first, 8000).score, 0.8);
    std::size_t words = saidLoud->second - saidLoud->first;
    EXPECT_THAT(take.size(), ::testing::AllOf(::testing::Ge(words), ::testing::Le(words + 32000)));

    input.SetVolume(100);
    MonitorRecorder monitor;
    ASSERT_TRUE(monitor.AwaitFrames(4410));
    input.Play(true);
    ASSERT_TRUE(input.pGBP) << "the take's playback did not start";
    EXPECT_TRUE(Eventually([&] { return input.IsPlaybackFinished(); })) << "it never completed";
    monitor.AwaitFrames(monitor.Frames() + 4410);
    monitor.Stop();
    auto heard = audio_match::HalfRateMono(monitor.Samples(), 2);
    auto heardLoud = audio_match::LoudSpan(heard, 0.1f * audio_match::Peak(take));
    ASSERT_TRUE(heardLoud) << "nothing was heard";
    auto speech = Floats(inputs->Path("speech.wav"));
    EXPECT_GT(audio_match::BestMatch(speech, heard, heardLoud->first, 11025).score, 0.8);
}

TEST_F(CaptureTest, SilenceRecordsNothingAndAStopStartsTheNextRunAfresh) {
    ASSERT_NO_FATAL_FAILURE(StartRecording());
    ASSERT_TRUE(Eventually([&] { return input.Lengths().size() >= 4; }));
    TakeEvents();
    EXPECT_THAT(events, ::testing::IsEmpty()) << "silence started a take";
    EXPECT_EQ(input.m_CaptureState, CAPTURE_ARMED);
    ASSERT_EQ(input.StopCapturing(), S_OK);
    EXPECT_EQ(ReadWav(input.wavFile.path)->declaredDataSize, 0u);
    // What was gathered of the next half second goes with the stop.
    ASSERT_NO_FATAL_FAILURE(StartRecording());
    EXPECT_THAT(input.Lengths(), Each(16000));
    EXPECT_LT(input.Time(0), 0.5) << "the first buffer held audio of the run before";
    EXPECT_NEAR(input.Time(1) - input.Time(0), 0.5, 0.005);
    ASSERT_EQ(input.StopCapturing(), S_OK);
}

// The index on the first `pactl list short KIND` line that holds `text`.
std::string IndexWhere(const std::string& kind, const std::string& text) {
    std::istringstream lines(PulseEnvironment::Server()->Pactl("list short " + kind).value_or(""));
    for (std::string line; std::getline(lines, line);) {
        if (line.find(text) != std::string::npos)
            return line.substr(0, line.find('\t'));
    }
    return "none";
}

TEST_F(CaptureTest, DeviceMovedOrGoneEndsTheRecordingSayingWhich) {
    PulseServer& server = *PulseEnvironment::Server();
    ASSERT_EQ(input.SetInputDevice(1), S_OK);
    ASSERT_NO_FATAL_FAILURE(StartRecording());
    EXPECT_THAT(input.Lengths(), Each(88200)) << "half seconds of 44.1 kHz stereo";
    // Moved to another microphone in the sound settings, the device staying.
    auto source = IndexWhere("sources", "\ttest_mic2\t");
    auto recording = IndexWhere("source-outputs", "\t" + source + "\t");
    ASSERT_TRUE(server.Pactl("move-source-output " + recording + " test_mic1"));
    EXPECT_TRUE(AwaitEvent(media::EC_ERRORABORT, E_FAIL));
    EXPECT_THAT(NarrowUtf8(GetLastErrorText()), HasSubstr("moved to another device"));
    ASSERT_EQ(input.StopCapturing(), S_OK);
    auto wav = ReadWav(input.wavFile.path);
    EXPECT_TRUE(wav && wav->channels == 2 && wav->sampleRate == 44100);

    ASSERT_NO_FATAL_FAILURE(StartRecording());
    int before = window.notifications;
    ASSERT_TRUE(server.Pactl("unload-module " + IndexWhere("modules", "source_name=test_mic2 ")));
    EXPECT_TRUE(AwaitEvent(media::EC_ERRORABORT, E_FAIL)) << "nothing said the device went";
    EXPECT_THAT(NarrowUtf8(GetLastErrorText()), HasSubstr("no longer available"));
    EXPECT_GT(window.notifications.load(), before);
    // Nothing recorded from whatever source the server moved the stream to.
    std::size_t delivered = input.Lengths().size();
    EXPECT_FALSE(Eventually([&] { return input.Lengths().size() > delivered; }, 1200ms));
    EXPECT_EQ(input.StopCapturing(), S_OK);
}

}  // namespace
