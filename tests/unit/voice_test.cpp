// The voice test and the voice-activated recording it drives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "FakeView.h"
#include "InputData.h"
#include "MessageRecorder.h"
#include "ScriptedMedia.h"
#include "VoiceActivity.h"

namespace {

std::vector<std::uint8_t> Square(int amplitude, int frames, int channels = 1) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            auto v = static_cast<std::int16_t>(i % 2 ? amplitude : -amplitude);
            bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
        }
    return bytes;
}

TEST(BandSplitter, OutputsTheInputOfThreeFramesEarlier) {
    BandSplitState splitter(16000);
    std::vector<double> input = {100, -250, 3000, 7, -32768, 12, 900, -1};
    std::vector<double> output;
    for (double x : input)
        output.push_back(splitter.Process(x));
    EXPECT_NEAR(output[0], 0, 1e-6);
    EXPECT_NEAR(output[2], 0, 1e-6);
    for (std::size_t i = 3; i < input.size(); ++i)
        EXPECT_NEAR(output[i], input[i - 3], 1e-6) << i;
}

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        media = media::scripted::InstallScriptedMedia();
        media->devices = {{L"Mic", true, S_OK, S_OK, S_OK, {{L"Capture"}}}};
        media->devices[0].format = {1, 1, 16000, 32000, 2, 16};
        input = std::make_unique<InputData>();
        ASSERT_TRUE(CreateTempFiles(*input));
        ASSERT_EQ(input->InitCapture(), S_OK);
        input->m_CaptureState = CAPTURE_READY;
    }
    void TearDown() override {
        input.reset();
        media::SetMediaFactory(nullptr);
    }

    void Feed(const std::vector<std::uint8_t>& buffer) {
        input->AddSamples(buffer.data(), static_cast<long>(buffer.size()), 0);
    }

    std::vector<std::pair<long, std::intptr_t>> Events() {
        std::vector<std::pair<long, std::intptr_t>> events;
        long code;
        std::intptr_t p1, p2;
        while (input->pME->GetEvent(&code, &p1, &p2, 0) == S_OK)
            events.emplace_back(code, p1);
        return events;
    }

    std::shared_ptr<media::scripted::ScriptedMedia> media;
    MessageRecorder messages;
    std::unique_ptr<InputData> input;
};

TEST_F(CaptureTest, SixteenBitMonoIsQuietBelowAMeanLevelOf58) {
    ASSERT_EQ(input->StartCapturing(nullptr), S_OK);
    EXPECT_EQ(input->m_nThreshold, 29);
    EXPECT_EQ(input->m_nSignShift, 16);
    EXPECT_TRUE(input->IsQuietBuffer(Square(0, 8000).data(), 16000));
    EXPECT_TRUE(input->IsQuietBuffer(Square(58, 8000).data(), 16000));
    EXPECT_FALSE(input->IsQuietBuffer(Square(59, 8000).data(), 16000));
    // Three frames never reach the level: a buffer of three loud frames is quiet.
    EXPECT_TRUE(input->IsQuietBuffer(Square(30000, 3).data(), 6));
    EXPECT_FALSE(input->IsQuietBuffer(Square(30000, 4).data(), 8));
}

TEST_F(CaptureTest, RecordingStartsWithTheVoiceAndEndsAtTheSecondQuietBuffer) {
    ASSERT_EQ(input->StartCapturing(nullptr), S_OK);
    EXPECT_EQ(input->m_CaptureState, CAPTURE_ARMED);
    auto quiet = Square(10, 8000), loud = Square(2000, 8000);
    Feed(quiet);
    EXPECT_EQ(input->m_CaptureState, CAPTURE_ARMED) << "silence is dropped";
    Feed(loud);
    EXPECT_EQ(input->m_CaptureState, CAPTURE_VOICE);
    Feed(quiet);
    EXPECT_EQ(input->m_CaptureState, CAPTURE_TRAILING);
    Feed(loud);
    EXPECT_EQ(input->m_CaptureState, CAPTURE_VOICE) << "a pause of one buffer goes on";
    Feed(quiet);
    Feed(quiet);
    EXPECT_EQ(input->m_CaptureState, CAPTURE_READY);
    Feed(loud);
    EXPECT_THAT(Events(), ::testing::ElementsAre(std::make_pair(media::EC_BUFFERING_DATA, 1),
                                                 std::make_pair(media::EC_BUFFERING_DATA, 0)));
    ASSERT_EQ(input->StopCapturing(), S_OK);
    std::ifstream wav(input->wavFile.path, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(wav), {}};
    ASSERT_EQ(bytes.size(), 44u + 5 * 16000)
        << "from the first loud buffer to the closing quiet one";
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(bytes[40] | (bytes[41] << 8) | (bytes[42] << 16), 5 * 16000);
    EXPECT_TRUE(std::equal(loud.begin(), loud.end(), bytes.begin() + 44));
}

TEST_F(CaptureTest, SilentRoomKeepsWaitingAndStopsWithAnEmptyTake) {
    ASSERT_EQ(input->StartCapturing(nullptr), S_OK);
    for (int i = 0; i < 5; ++i)
        Feed(Square(0, 8000));
    EXPECT_EQ(input->m_CaptureState, CAPTURE_ARMED);
    ASSERT_EQ(input->StopCapturing(), S_OK);
    EXPECT_EQ(std::filesystem::file_size(input->wavFile.path), 44u);
    EXPECT_TRUE(Events().empty());
    // A stopped graph only becomes ready again; the header is not written twice.
    EXPECT_EQ(input->StopCapturing(), S_OK);
    EXPECT_EQ(input->m_CaptureState, CAPTURE_READY);
}

TEST_F(CaptureTest, StartingTwiceIsRefusedAndStopIgnoresLateBuffers) {
    ASSERT_EQ(input->StartCapturing(nullptr), S_OK);
    EXPECT_EQ(input->StartCapturing(nullptr), E_FAIL);
    input->m_CaptureState = CAPTURE_BUSY;
    Feed(Square(3000, 8000));
    EXPECT_EQ(input->m_CaptureState, CAPTURE_BUSY);
    EXPECT_TRUE(Events().empty());
}

TEST_F(CaptureTest, EightBitCaptureIsNeverQuiet) {
    input.reset();
    media->devices[0].format = {1, 1, 8000, 8000, 1, 8};
    input = std::make_unique<InputData>();
    ASSERT_TRUE(CreateTempFiles(*input));
    ASSERT_EQ(input->InitCapture(), S_OK);
    input->m_CaptureState = CAPTURE_READY;
    ASSERT_EQ(input->StartCapturing(nullptr), S_OK);
    EXPECT_EQ(input->m_nThreshold, 0);
    std::vector<std::uint8_t> silence(4000, 0x80);
    EXPECT_FALSE(input->IsQuietBuffer(silence.data(), 4000));
    Feed(silence);
    EXPECT_EQ(input->m_CaptureState, CAPTURE_VOICE);
}

TEST_F(CaptureTest, EventsReachTheNotifyWindow) {
    struct Window : IWindow {
        std::vector<std::uint32_t> posted;
        void PostMessage(std::uint32_t message, std::uintptr_t, std::intptr_t) override {
            posted.push_back(message);
        }
    } window;
    ASSERT_EQ(input->StartCapturing(&window), S_OK);
    Feed(Square(3000, 8000));
    EXPECT_THAT(window.posted, ::testing::ElementsAre(WM_CAPTURE_NOTIFY));
    input->StopCapturing();
    Feed(Square(3000, 8000));
    EXPECT_EQ(window.posted.size(), 1u);
}

TEST_F(CaptureTest, LearnersPlaybackTakesOneEventPerCall) {
    ASSERT_EQ(input->StartCapturing(nullptr), S_OK);
    ASSERT_EQ(input->StopCapturing(), S_OK);
    input->Play(true);
    auto take = WidenUtf8(input->wavFile.path);
    ASSERT_TRUE(media->LastPlayback(take).running);
    EXPECT_FALSE(input->IsPlaybackFinished());
    media->NotifyRendered(take, media::EC_ERRORABORT);
    media->NotifyRendered(take, media::EC_COMPLETE);
    EXPECT_FALSE(input->IsPlaybackFinished()) << "another event is consumed first";
    EXPECT_TRUE(input->IsPlaybackFinished());
    EXPECT_EQ(input->pGBP, nullptr);
    EXPECT_TRUE(input->IsPlaybackFinished());

    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_THAT(messages.Texts()[0], ::testing::StartsWith(L"Playback failed with error"));

    media->renderFileResult = E_FAIL;
    input->Play(true);
    EXPECT_EQ(input->pGBP, nullptr) << "a take that can't be rendered counts as played";
    EXPECT_EQ(messages.Messages().size(), 1u);
}

}  // namespace
