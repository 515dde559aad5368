// Playing the file and the training cycle: listen, repeat, compare, and Pause
// from every phase, driven by timer ticks, the clock and capture events.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <thread>

#include "FakeView.h"
#include "MessageRecorder.h"
#include "Presenter.h"
#include "ScriptedMedia.h"

using ::testing::Contains;

namespace {

constexpr std::int64_t kSecond = 10000000;

class TrainingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        media = media::scripted::InstallScriptedMedia();
        media->devices = {{L"Mic", true, S_OK, S_OK, S_OK, {{L"Capture"}}}};
        media->devices[0].format = {1, 1, 16000, 32000, 2, 16};
        std::string path = dir.filePath("narrator.wav").toStdString();
        std::ofstream(path) << "x";
        narrator = std::wstring(path.begin(), path.end());
        // Ten seconds at 8 kHz: 80000 samples, 400 px at the default zoom.
        media::scripted::ScriptedFileSpec script;
        script.format = {1, 1, 8000, 16000, 2, 16};
        script.buffers = {std::vector<std::uint8_t>(160000, 0x10)};
        script.duration = 10 * kSecond;
        media->files[narrator] = script;
        media->renderedDuration = 10 * kSecond;
        view.waveformSize = {300, 100};
        presenter = std::make_unique<Presenter>(
            &view,
            std::make_unique<IniReg>(1280, 1024, (dir.path() + "/Level0.conf").toStdString()));
        ASSERT_EQ(presenter->OnCreate(nullptr), 0);
        view.openPath = narrator;
        presenter->OnOpenClick();
        for (int i = 0; i < 5000 && presenter->State() == LOADING_SOURCE_DATA_STATE; ++i) {
            presenter->OnTimer();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);
        narratorWav = WidenUtf8(presenter->Source().wavFile.path);
    }
    void TearDown() override {
        presenter.reset();
        media::SetMediaFactory(nullptr);
    }

    // Drags over columns [from, to] of the waveform.
    void Select(short from, short to) {
        POINTS a{from, 10}, b{to, 10};
        presenter->OnMouseDown(&a);
        presenter->OnMouseDrag(&b);
        presenter->OnMouseUp(&b);
    }

    // The narrator's clock as if playback ran `elapsed` since the last start.
    void Elapse(std::int64_t elapsed) { media->clock += elapsed; }

    std::vector<std::uint8_t> Tone(int amplitude, int frames = 8000) {
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < frames; ++i) {
            auto v = static_cast<std::int16_t>(i % 2 ? amplitude : -amplitude);
            bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
        }
        return bytes;
    }

    void Speak() {
        auto loud = Tone(3000), quiet = Tone(0);
        InputData& input = presenter->Input();
        input.AddSamples(loud.data(), static_cast<long>(loud.size()), 0);
        input.AddSamples(quiet.data(), static_cast<long>(quiet.size()), 0);
        input.AddSamples(quiet.data(), static_cast<long>(quiet.size()), 0);
    }

    bool Enabled(const char* name) { return view.enabled[name]; }

    QTemporaryDir dir;
    std::shared_ptr<media::scripted::ScriptedMedia> media;
    MessageRecorder messages;
    FakeView view;
    std::unique_ptr<Presenter> presenter;
    std::wstring narrator, narratorWav;
};

TEST_F(TrainingTest, LoopWithoutSelectionDoesNothing) {
    presenter->OnLoopClick();
    EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_FALSE(view.looping);
}

TEST_F(TrainingTest, DragsOfFiveColumnsSelectNothingAndSixSelect) {
    Select(100, 105);
    EXPECT_EQ(presenter->Source().selectionStart, -1);
    EXPECT_FALSE(Enabled("loop"));
    Select(106, 100);
    EXPECT_EQ(presenter->Source().selectionStart, 100 * 200);
    EXPECT_EQ(presenter->Source().selectionEnd, 106 * 200);
    EXPECT_TRUE(Enabled("loop"));
    EXPECT_EQ(view.status, L"Click the \"Loop\" button to begin training.");
    EXPECT_EQ(presenter->Source().cursorSample, 100 * 200) << "the cursor follows the mouse";
}

TEST_F(TrainingTest, OneFullCycleListensRecordsAndCompares) {
    Select(50, 150);
    presenter->OnLoopClick();
    ASSERT_EQ(presenter->State(), LISTENING_SAMPLE_STATE);
    EXPECT_TRUE(view.looping && view.listenLamp && !view.sayLamp);
    EXPECT_FALSE(Enabled("play") || Enabled("open") || Enabled("zoomin"));
    EXPECT_TRUE(Enabled("loop"));
    EXPECT_EQ(view.status, L"Listen to the narrator. Click \"Pause\" button to stop the process.");
    auto played = media->LastPlayback(narratorWav);
    EXPECT_TRUE(played.running);
    EXPECT_EQ(played.start, 50 * 200 * 10 * kSecond / 80000);
    EXPECT_EQ(played.stop, 150 * 200 * 10 * kSecond / 80000);

    // Half-way the cursor moves on, at the end the recording starts.
    Elapse(kSecond);
    presenter->OnTimer();
    EXPECT_EQ(presenter->State(), LISTENING_SAMPLE_STATE);
    EXPECT_EQ(presenter->Source().cursorSample, 50 * 200 + 8000);
    Elapse(2 * kSecond);
    presenter->OnTimer();
    ASSERT_EQ(presenter->State(), RECORDING_INPUT_DATA_STATE);
    EXPECT_FALSE(media->LastPlayback(narratorWav).running);
    EXPECT_TRUE(view.sayLamp && !view.listenLamp);
    EXPECT_EQ(
        view.status,
        L"Try to repeat what you have just heard. Click \"Pause\" button to stop the process.");
    EXPECT_EQ(presenter->Input().m_CaptureState, CAPTURE_ARMED);

    // The learner speaks and falls silent: the end-of-speech event moves on.
    Speak();
    EXPECT_EQ(presenter->Input().m_CaptureState, CAPTURE_READY);
    presenter->OnCaptureEvent();
    ASSERT_EQ(presenter->State(), COMPARING_SOURCE_SAMPLE_STATE);
    EXPECT_TRUE(view.listenLamp && !view.sayLamp);
    EXPECT_EQ(view.status,
              L"Listen carefully how you and the narrator say the same phrase, check for "
              L"pronunciation mistakes, compare both variants accurately.");
    EXPECT_TRUE(media->LastPlayback(narratorWav).running);
    EXPECT_EQ(presenter->Source().cursorSample, 50 * 200)
        << "the phrase plays again from its start";

    Elapse(3 * kSecond);
    presenter->OnTimer();
    ASSERT_EQ(presenter->State(), COMPARING_INPUT_DATA_STATE);
    EXPECT_FALSE(media->LastPlayback(narratorWav).running);
    auto take = WidenUtf8(presenter->Input().wavFile.path);
    EXPECT_TRUE(media->LastPlayback(take).running) << "the learner's take plays";
    EXPECT_EQ(media->LastPlayback(take).volume, -5000);

    presenter->OnTimer();
    EXPECT_EQ(presenter->State(), COMPARING_INPUT_DATA_STATE);
    media->NotifyRendered(take, media::EC_COMPLETE);
    presenter->OnTimer();
    ASSERT_EQ(presenter->State(), LISTENING_SAMPLE_STATE) << "the next cycle";
    EXPECT_TRUE(media->LastPlayback(narratorWav).running);
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(TrainingTest, PauseFromEveryPhaseReturnsToTheLoadedState) {
    Select(50, 150);
    auto pauseIn = [&](int expected) {
        ASSERT_EQ(presenter->State(), expected);
        presenter->OnLoopClick();
        EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);
        EXPECT_FALSE(view.looping || view.listenLamp || view.sayLamp);
        EXPECT_EQ(view.status, L"Click the \"Loop\" button to begin training.");
        EXPECT_TRUE(Enabled("play") && Enabled("loop") && Enabled("open") && Enabled("zoomin"));
        EXPECT_FALSE(media->LastPlayback(narratorWav).running);
        presenter->OnLoopClick();
    };
    presenter->OnLoopClick();
    Elapse(kSecond);
    presenter->OnTimer();
    int column = presenter->Source().GetCursorPos();
    pauseIn(LISTENING_SAMPLE_STATE);
    EXPECT_EQ(view.cursorColumn, column) << "the cursor keeps its screen column";

    Elapse(3 * kSecond);
    presenter->OnTimer();
    pauseIn(RECORDING_INPUT_DATA_STATE);
    EXPECT_EQ(presenter->Input().m_CaptureState, CAPTURE_READY);

    Elapse(3 * kSecond);
    presenter->OnTimer();
    Speak();
    presenter->OnCaptureEvent();
    pauseIn(COMPARING_SOURCE_SAMPLE_STATE);

    Elapse(3 * kSecond);
    presenter->OnTimer();
    Speak();
    presenter->OnCaptureEvent();
    Elapse(3 * kSecond);
    presenter->OnTimer();
    auto take = WidenUtf8(presenter->Input().wavFile.path);
    ASSERT_TRUE(media->LastPlayback(take).running);
    pauseIn(COMPARING_INPUT_DATA_STATE);
    EXPECT_FALSE(media->LastPlayback(take).running) << "the learner's playback stops at once";
}

TEST_F(TrainingTest, CaptureEventsOutsideTheRecordingAreIgnoredAndNeverEndTheNextTake) {
    Select(50, 150);
    presenter->OnLoopClick();
    presenter->Input().pMES->Notify(media::EC_BUFFERING_DATA, 0, 0);
    presenter->OnCaptureEvent();
    EXPECT_EQ(presenter->State(), LISTENING_SAMPLE_STATE);
    Elapse(3 * kSecond);
    presenter->OnTimer();
    ASSERT_EQ(presenter->State(), RECORDING_INPUT_DATA_STATE);
    presenter->OnCaptureEvent();
    EXPECT_EQ(presenter->State(), RECORDING_INPUT_DATA_STATE)
        << "an end event left from before the take ended it";
}

TEST_F(TrainingTest, PlayRunsToTheEndOrStopsOnASecondClick) {
    presenter->OnPlayClick();
    ASSERT_EQ(presenter->State(), PLAYING_SOURCE_DATA_STATE);
    EXPECT_TRUE(view.playing);
    EXPECT_TRUE(Enabled("play"));
    EXPECT_FALSE(Enabled("loop") || Enabled("open") || Enabled("zoomout"));
    EXPECT_EQ(view.status, L"Click the \"Pause\" button to stop the file playing.");
    EXPECT_EQ(media->LastPlayback(narratorWav).start, 0);
    EXPECT_EQ(media->LastPlayback(narratorWav).stop, 10 * kSecond);

    Elapse(4 * kSecond);
    presenter->OnTimer();
    EXPECT_EQ(presenter->Source().cursorSample, 32000);
    EXPECT_EQ(view.cursorColumn, 150) << "the cursor stays in the middle of the view";
    presenter->OnPlayClick();
    EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);
    EXPECT_FALSE(view.playing);
    EXPECT_EQ(presenter->Source().cursorSample, 32000) << "the cursor stays where playing stopped";

    presenter->OnPlayClick();
    EXPECT_EQ(media->LastPlayback(narratorWav).start, 4 * kSecond);
    Elapse(6 * kSecond - 1);
    presenter->OnTimer();
    EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE) << "one unit before the end is the end";
    EXPECT_EQ(presenter->Source().cursorSample, 79999);
}

TEST_F(TrainingTest, VolumeChangesActOnThePlayingNarratorAtOnce) {
    presenter->OnPlayClick();
    view.speakerPos = 70;
    presenter->OnSpeakerVolumeChange();
    EXPECT_EQ(media->LastPlayback(narratorWav).volume, -3000);
    EXPECT_EQ(presenter->Source().GetVolume(), 70);
}

TEST_F(TrainingTest, ZoomAndScrollActOnlyInTheLoadedState) {
    view.cursorColumn = -1;
    double zoom = presenter->Source().zoom;
    presenter->OnZoomInClick();
    EXPECT_DOUBLE_EQ(presenter->Source().zoom, zoom * 1.1);
    presenter->OnPlayClick();
    presenter->OnZoomInClick();
    presenter->OnScrollPage(true);
    EXPECT_DOUBLE_EQ(presenter->Source().zoom, zoom * 1.1);
}

}  // namespace

namespace {

TEST_F(TrainingTest, BrokenDownPlaybackAndRecordingAreReportedAndPauseStillWorks) {
    Select(50, 150);
    presenter->OnLoopClick();
    media->NotifyRendered(narratorWav, media::EC_ERRORABORT);
    presenter->OnTimer();
    presenter->OnTimer();
    ASSERT_EQ(messages.Texts().size(), 1u);
    EXPECT_THAT(messages.Texts()[0], ::testing::StartsWith(L"Playback failed with error"));
    EXPECT_EQ(presenter->State(), LISTENING_SAMPLE_STATE);

    Elapse(3 * kSecond);
    presenter->OnTimer();
    ASSERT_EQ(presenter->State(), RECORDING_INPUT_DATA_STATE);
    presenter->Input().pMES->Notify(media::EC_ERRORABORT, E_FAIL, 0);
    presenter->OnCaptureEvent();
    ASSERT_EQ(messages.Texts().size(), 2u);
    EXPECT_THAT(messages.Texts()[1], ::testing::StartsWith(L"Recording failed with error"));
    EXPECT_EQ(presenter->State(), RECORDING_INPUT_DATA_STATE) << "the cycle waits";
    presenter->OnLoopClick();
    EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);

    // A capture graph that refuses to run is reported at once, naming the device.
    presenter->OnLoopClick();
    media->runResult = E_FAIL;
    Elapse(3 * kSecond);
    presenter->OnTimer();
    ASSERT_EQ(messages.Texts().size(), 3u);
    EXPECT_THAT(messages.Texts()[2], ::testing::StartsWith(L"Recording from \"Mic\" failed with"));
    EXPECT_EQ(presenter->State(), RECORDING_INPUT_DATA_STATE) << "the cycle waits";
    presenter->OnLoopClick();
    EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);
}

}  // namespace
