// The presenter against the scripted media backend and a stand-in window:
// start-up and close, loading a narrator file, and what every event does in
// every state.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>
#include <condition_variable>
#include <fstream>
#include <functional>

#include "FakeView.h"
#include "MessageRecorder.h"
#include "ScriptedMedia.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

constexpr std::int64_t kSecond = 10000000;
const wchar_t* const kNoSource =
    L"Click the Open button to load an audio file or select a file from the \"Recent Files\" "
    L"list above.";
const wchar_t* const kLoading = L"Please wait...";
const wchar_t* const kDrag =
    L"Drag your mouse through the oscillogram and select a particular part.";
const wchar_t* const kLoopHint = L"Click the \"Loop\" button to begin training.";
const wchar_t* const kPlaying = L"Click the \"Pause\" button to stop the file playing.";
const wchar_t* const kListen =
    L"Listen to the narrator. Click \"Pause\" button to stop the process.";
const wchar_t* const kRepeat =
    L"Try to repeat what you have just heard. Click \"Pause\" button to stop the process.";
const wchar_t* const kCompare =
    L"Listen carefully how you and the narrator say the same phrase, check for pronunciation "
    L"mistakes, compare both variants accurately.";
// What else the learner sees with each status: the enabled buttons, lamps and modes.
const std::map<std::wstring, std::string> kLooks = {{kNoSource, "open "},
                                                    {kLoading, ""},
                                                    {kDrag, "open play zoomin zoomout "},
                                                    {kLoopHint, "loop open play zoomin zoomout "},
                                                    {kPlaying, "play playing "},
                                                    {kListen, "listen loop looping "},
                                                    {kRepeat, "loop looping say "},
                                                    {kCompare, "listen loop looping "}};

std::vector<std::uint8_t> Pcm16(std::vector<std::int16_t> samples) {
    std::vector<std::uint8_t> bytes;
    for (auto s : samples)
        bytes.insert(bytes.end(),
                     {static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(s >> 8)});
    return bytes;
}

class PresenterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Install();
        ASSERT_EQ(Start(), 0);
    }
    void TearDown() override {
        presenter.reset();
        media::SetMediaFactory(nullptr);
    }

    // A fresh backend with two microphones and a narrator of ten seconds at 8 kHz
    // (400 columns at the first zoom), and a fresh window.
    void Install() {
        presenter.reset();
        media = media::scripted::InstallScriptedMedia();
        media->devices = {
            {L"Mic A", true, S_OK, S_OK, S_OK, {{L"Capture"}}, {1, 1, 16000, 32000, 2, 16}},
            {L"Mic B", true, S_OK, S_OK, S_OK, {{L"Microphone"}, {L"Line In"}}}};
        narrator = MakeFile("narrator.wav");
        media->files[narrator].buffers = {std::vector<std::uint8_t>(160000, 0x10)};
        media->files[narrator].duration = media->renderedDuration = 10 * kSecond;
        view = FakeView{};
        view.openPath = narrator;
        messages.Clear();
    }
    int Start() {
        presenter = std::make_unique<Presenter>(&view, std::make_unique<IniReg>(1280, 1024, ini));
        presenter->Settings().Load();
        return presenter->OnCreate(nullptr);
    }
    void Load() {
        presenter->OnOpenClick();
        FinishLoad(*presenter);
        ASSERT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);
        narratorWav = WidenUtf8(presenter->Source().wavFile.path);
    }
    // Drives a fresh presenter to `target`; beyond loading through a selection.
    void Reach(int target) {
        Install();
        ASSERT_EQ(Start(), 0);
        if (target == LOADING_SOURCE_DATA_STATE)
            presenter->RequestState(target);
        if (target <= LOADING_SOURCE_DATA_STATE)
            return;
        Load();
        Select(50, 150);
        if (target == SETTING_CURSOR_AND_SAMPLE_STATE)
            presenter->OnMouseDown(&kPoint);
        if (target == PLAYING_SOURCE_DATA_STATE)
            presenter->OnPlayClick();
        if (target >= LISTENING_SAMPLE_STATE)
            presenter->OnLoopClick();
        if (target >= RECORDING_INPUT_DATA_STATE)
            EndPhrase();
        if (target >= COMPARING_SOURCE_SAMPLE_STATE)
            Speak();
        if (target >= COMPARING_INPUT_DATA_STATE)
            EndPhrase();
        ASSERT_EQ(presenter->State(), target);
    }

    std::wstring MakeFile(const char* name) {
        std::string path = dir.filePath(name).toStdString();
        std::ofstream(path) << "x";
        return WidenUtf8(path);
    }
    void WriteSetting(const char* key, const QVariant& value) {
        QSettings(QString::fromStdString(ini), QSettings::IniFormat).setValue(key, value);
    }
    void Select(short from, short to) {
        POINTS a{from, 10}, b{to, 10};
        presenter->OnMouseDown(&a);
        presenter->OnMouseDrag(&b);
        presenter->OnMouseUp(&b);
    }
    // The narrator's clock moves on past the selection and the timer sees it.
    void EndPhrase() {
        media->clock += 3 * kSecond;
        presenter->OnTimer();
    }
    // Half a second of voice, then silence: the capture reports the end of speech.
    void Speak() {
        for (auto amplitude : {3000, 0, 0}) {
            auto tone =
                Pcm16(std::vector<std::int16_t>(8000, static_cast<std::int16_t>(amplitude)));
            presenter->Input().AddSamples(tone.data(), static_cast<long>(tone.size()), 0);
        }
        presenter->OnCaptureEvent();
    }
    std::wstring Take() { return WidenUtf8(presenter->Input().wavFile.path); }

    static constexpr POINTS kPoint{100, 10};
    QTemporaryDir dir;
    std::string ini = dir.filePath("Level0.conf").toStdString();
    std::shared_ptr<media::scripted::ScriptedMedia> media;
    MessageRecorder messages;
    FakeView view;
    std::unique_ptr<Presenter> presenter;
    std::wstring narrator, narratorWav;
};

TEST_F(PresenterTest, EveryStateAnswersEveryEvent) {
    auto request = [&](int n) { return [this, n] { presenter->RequestState(n); }; };
    auto play = [&] { presenter->OnPlayClick(); };
    auto pause = [&] { presenter->OnLoopClick(); };
    auto idle = [&] {
        presenter->OnPlayClick();
        presenter->OnLoopClick();
        presenter->OnZoomInClick();
        presenter->OnMouseDown(&kPoint);
        presenter->OnCaptureEvent();
        presenter->OnTimer();
    };
    // Closing, opening, devices, zoom, scrolling and the mouse wait while busy.
    auto busy = [&] {
        double zoom = presenter->Source().zoom;
        EXPECT_EQ(presenter->OnClose(), 0);
        presenter->OnOpenClick();
        presenter->OnRecentFileDoubleClick();
        view.selectedDevice = 1;
        presenter->OnInputDeviceChange();
        presenter->OnZoomInClick();
        presenter->OnScrollPage(true);
        presenter->OnMouseDown(&kPoint);
        EXPECT_EQ(presenter->Source().zoom, zoom);
        EXPECT_EQ(presenter->Input().m_MonikerList.m_nCurrent, 0);
    };
    auto stale = [&] {
        presenter->Input().pMES->Notify(media::EC_BUFFERING_DATA, 0, 0);
        presenter->OnCaptureEvent();
        EndPhrase();
        presenter->OnCaptureEvent();
    };
    // Reported once, then the cursor stands still until Pause.
    auto narratorBreaks = [&] {
        media->NotifyRendered(narratorWav, media::EC_ERRORABORT);
        presenter->OnTimer();
        presenter->OnTimer();
    };
    auto captureRefuses = [&] { media->runResult = E_FAIL, EndPhrase(); };
    auto captureBreaks = [&] {
        presenter->Input().pMES->Notify(media::EC_ERRORABORT, E_FAIL, 0);
        presenter->OnCaptureEvent();
    };
    auto takeEnds = [&] {
        media->NotifyRendered(Take(), media::EC_COMPLETE), presenter->OnTimer();
    };
    struct Row {
        int from;
        std::function<void()> event;
        int to;
        const wchar_t* status;
        const wchar_t* message = nullptr;  // its start
    };
    const int NO = NO_SOURCE_DATA_STATE, LOADING = LOADING_SOURCE_DATA_STATE,
              LOADED = LOADED_SOURCE_DATA_STATE, SETTING = SETTING_CURSOR_AND_SAMPLE_STATE,
              PLAYING = PLAYING_SOURCE_DATA_STATE, LISTENING = LISTENING_SAMPLE_STATE,
              RECORDING = RECORDING_INPUT_DATA_STATE, SOURCE = COMPARING_SOURCE_SAMPLE_STATE,
              INPUT = COMPARING_INPUT_DATA_STATE;
    const Row rows[] = {
        {NO, request(SETTING), NO, kNoSource,
         L"Can't move to SETTING_CURSOR_AND_SAMPLE_STATE from this current state"},
        {NO, request(8), NO, kNoSource, L"Wrong state is requested"},
        {NO, idle, NO, kNoSource},
        {NO, request(LOADING), LOADING, kLoading},
        {LOADING, request(LOADING), LOADING, kLoading,
         L"Can't move to LOADING_SOURCE_DATA_STATE from this current state"},
        {LOADING, busy, LOADING, kLoading},
        {LOADED, request(LOADED), LOADED, kLoopHint,
         L"Can't move to LOADED_SOURCE_DATA_STATE from this current state"},
        {LOADED, request(NO), NO, kNoSource},
        {LOADED, [&] { Select(100, 105); }, LOADED, kDrag},  // five columns are a click
        {LOADED, [&] { Select(106, 100); }, LOADED, kLoopHint},
        {LOADED, play, PLAYING, kPlaying},
        {LOADED, pause, LISTENING, kListen},
        {SETTING, busy, SETTING, kLoopHint},
        {SETTING, [&] { presenter->OnMouseUp(&kPoint); }, LOADED, kLoopHint},
        {PLAYING, busy, PLAYING, kPlaying},
        {PLAYING, play, LOADED, kLoopHint},
        {LISTENING, busy, LISTENING, kListen},
        {LISTENING, stale, RECORDING, kRepeat},  // an end of speech from before the take
        {LISTENING, narratorBreaks, LISTENING, kListen, L"Playback failed with error"},
        {LISTENING, captureRefuses, RECORDING, kRepeat, L"Recording from \"Mic A\" failed with"},
        {RECORDING, busy, RECORDING, kRepeat},
        {RECORDING, [&] { Speak(); }, SOURCE, kCompare},
        {RECORDING, captureBreaks, RECORDING, kRepeat, L"Recording failed with error"},
        {SOURCE, busy, SOURCE, kCompare},
        {SOURCE, [&] { EndPhrase(); }, INPUT, kCompare},
        {INPUT, busy, INPUT, kCompare},
        {INPUT, takeEnds, LISTENING, kListen},
    };
    std::vector<Row> all(std::begin(rows), std::end(rows));
    for (int from : {LISTENING, RECORDING, SOURCE, INPUT})
        all.push_back({from, pause, LOADED, kLoopHint});
    for (const Row& row : all) {
        SCOPED_TRACE(::testing::Message() << "from " << row.from << " to " << row.to);
        ASSERT_NO_FATAL_FAILURE(Reach(row.from));
        messages.Clear();
        row.event();
        EXPECT_EQ(presenter->State(), row.to);
        EXPECT_EQ(view.status, row.status);
        EXPECT_EQ(view.Shown(), kLooks.at(row.status));
        EXPECT_EQ(media->LastPlayback(narratorWav).running,
                  row.to == PLAYING || row.to == LISTENING || row.to == SOURCE);
        EXPECT_EQ(media->LastPlayback(Take()).running, row.to == INPUT);
        if (row.message)
            EXPECT_THAT(messages.Texts(), ElementsAre(StartsWith(row.message)));
        else
            EXPECT_THAT(messages.Texts(), IsEmpty());
    }
}

TEST_F(PresenterTest, TheViewFollowsTheCursor) {
    Load();
    presenter->OnPlayClick();
    media->clock += 4 * kSecond;
    presenter->OnTimer();
    EXPECT_EQ(view.cursorColumn, 150) << "playing keeps the cursor in the middle";
    ASSERT_NO_FATAL_FAILURE(Reach(LISTENING_SAMPLE_STATE));
    media->clock += kSecond;
    presenter->OnTimer();
    int column = view.cursorColumn;
    presenter->OnLoopClick();
    EXPECT_EQ(view.cursorColumn, column) << "Pause keeps the cursor's screen column";
    presenter->OnLoopClick();
    EndPhrase();
    Speak();
    EXPECT_EQ(presenter->Source().cursorSample, 10000) << "the phrase again from its start";
    EndPhrase();
    EXPECT_EQ(media->LastPlayback(Take()).volume, -5000);
}

TEST_F(PresenterTest, StartUpRestoresTheStoredDeviceAndPinOrFallsBackToTheFirst) {
    struct Row {
        QString device, pin;
        HRESULT bind;  // of the second device
        int selected, selectedPin;
        const wchar_t* message = nullptr;
    };
    for (const Row& row :
         {Row{"", "", S_OK, 0, 0}, Row{"Mic B", "Line In", S_OK, 1, 1},
          Row{"mic b", "Nothing", S_OK, 0, 0},  // names match exactly
          Row{"Mic B", "Line In", E_FAIL, 0, 0, L"m_Monikers[m_nCurrent]->BindToObject("}}) {
        SCOPED_TRACE(row.device.toStdString() + " " + row.pin.toStdString());
        WriteSetting("InputDeviceName", row.device);
        WriteSetting("InputPinName", row.pin);
        Install();
        media->devices[1].bindObjectResult = row.bind;
        ASSERT_EQ(Start(), 0);
        EXPECT_THAT(view.devices, ElementsAre(L"Mic A", L"Mic B"));
        EXPECT_TRUE(view.devicesShown);
        EXPECT_EQ(view.selectedDevice, row.selected);
        EXPECT_EQ(view.selectedPin, row.selectedPin);
        EXPECT_EQ(view.pins.size(), row.selected + 1u);
        EXPECT_EQ(view.pinsShown, row.selected == 1);
        EXPECT_TRUE(media->Mixer(row.selected, row.selectedPin).enabled);
        EXPECT_EQ(media->LiveGraphs(), 1);
        if (row.message)
            EXPECT_THAT(messages.Texts().at(0), StartsWith(row.message));
        else
            EXPECT_THAT(messages.Texts(), IsEmpty());
        EXPECT_EQ(presenter->OnClose(), 1);
        EXPECT_EQ(presenter->Settings().GetInputDeviceName(), view.devices[row.selected])
            << "the device in use is saved, so the next start is clean";
    }
    Install();
    media->devices.resize(1);
    ASSERT_EQ(Start(), 0);
    EXPECT_FALSE(view.devicesShown || view.pinsShown);
}

TEST_F(PresenterTest, StartUpWithoutAWorkingCaptureGraphGivesUpAndReleasesIt) {
    struct Row {
        std::function<void()> fault;
        std::size_t messages;
        long alarms;  // messages with the error icon
    };
    for (const Row& row : {Row{[&] { media->devices.clear(); }, 3, 1},
                           Row{[&] { media->classEnumeratorResult = E_FAIL; }, 3, 0},  // no server
                           Row{[&] { media->connectResult = E_FAIL; }, 2, 0},
                           Row{[&] { view.createResult = -1; }, 0, 0}}) {
        SCOPED_TRACE(row.messages);
        Install();
        row.fault();
        EXPECT_EQ(Start(), -1);
        auto shown = messages.Messages();
        EXPECT_EQ(shown.size(), row.messages);
        EXPECT_EQ(std::count_if(shown.begin(), shown.end(),
                                [](auto& m) { return (m.flags & MB_ICONERROR) != 0; }),
                  row.alarms);
        EXPECT_TRUE(view.devices.empty());
        presenter.reset();
        EXPECT_EQ(media->LiveGraphs(), 0);
    }
}

TEST_F(PresenterTest, DeviceSwitchesRebuildTheCaptureAndAFailedOneKeepsTheDeviceInUse) {
    media->devices[1].bindObjectResult = E_FAIL;
    view.selectedDevice = 1;
    presenter->OnInputDeviceChange();
    EXPECT_THAT(messages.Texts(), ElementsAre(StartsWith(L"m_Monikers[m_nCurrent]->BindToObject("),
                                              StartsWith(L"m_MonikerList.SetMonikerIndex(ind)")));
    EXPECT_EQ(view.selectedDevice, 0) << "the device that still records";
    EXPECT_EQ(view.selectedPin, 0);
    EXPECT_TRUE(media->Mixer(0, 0).enabled);

    media->devices[1].bindObjectResult = S_OK;
    messages.Clear();
    view.selectedDevice = 1;
    presenter->OnInputDeviceChange();
    EXPECT_EQ(view.selectedDevice, 1);
    EXPECT_THAT(view.pins, ElementsAre(L"Microphone", L"Line In"));
    EXPECT_TRUE(view.pinsShown);
    EXPECT_EQ(view.selectedPin, 0);
    EXPECT_TRUE(media->Mixer(1, 0).enabled);
    view.selectedPin = 1;
    presenter->OnInputPinChange();
    EXPECT_TRUE(media->Mixer(1, 1).enabled && !media->Mixer(1, 0).enabled);
    EXPECT_EQ(media->LiveGraphs(), 1);
    EXPECT_THAT(messages.Texts(), IsEmpty());
}

TEST_F(PresenterTest, VolumesClampAndActAtOnceInEveryState) {
    WriteSetting("SpkVolPos", 500);
    WriteSetting("McVolPos", -3);
    Install();
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(view.speakerPos, 100);
    EXPECT_EQ(view.micPos, 0);
    Load();
    presenter->OnPlayClick();
    view.speakerPos = 70;
    presenter->OnSpeakerVolumeChange();
    view.micPos = 150;
    presenter->OnMicVolumeChange();
    EXPECT_EQ(media->LastPlayback(narratorWav).volume, -3000);
    EXPECT_EQ(presenter->Input().volume, 0);
}

TEST_F(PresenterTest, CloseSavesWhatTheLearnerChoseAndReleasesEveryGraph) {
    WriteSetting("Left", 33);
    Install();
    ASSERT_EQ(Start(), 0);
    view.placementReadable = false;
    EXPECT_EQ(presenter->OnClose(), 1);
    EXPECT_EQ(QSettings(QString::fromStdString(ini), QSettings::IniFormat).value("Left").toInt(),
              33)
        << "an unreadable placement keeps the stored one";

    Install();
    ASSERT_EQ(Start(), 0);
    Load();
    view.selectedDevice = 1;
    presenter->OnInputDeviceChange();
    view.selectedPin = 1;
    presenter->OnInputPinChange();
    view.micPos = 30;
    presenter->OnMicVolumeChange();
    view.speakerPos = 80;
    presenter->OnSpeakerVolumeChange();
    view.maximized = true;
    EXPECT_EQ(presenter->OnClose(), 1);
    EXPECT_EQ(media->LiveGraphs(), 0);
    IniReg stored(1280, 1024, ini);
    stored.Load();
    EXPECT_EQ(std::vector({stored.left, stored.top, stored.width, stored.height, stored.maximized,
                           stored.GetMcVolPos(), stored.GetSpkVolPos()}),
              std::vector({10, 20, 800, 500, 1, 30, 80}));
    EXPECT_STREQ(stored.GetInputDeviceName(), L"Mic B");
    EXPECT_STREQ(stored.GetInputPinName(), L"Line In");
}

TEST_F(PresenterTest, LoadsShowTheirProgressAndRefuseWhatTheyCannotShow) {
    media::scripted::ScriptedFileSpec half, endless, surround;
    half.buffers = {Pcm16({0, 1000, -2000}), Pcm16({300, -32768, 5})};
    half.duration = 7500;                     // the second buffer starts half-way
    endless.buffers.assign(103, Pcm16({1}));  // no duration: a step a buffer, 100 then 0
    surround.format = {1, 6, 48000, 576000, 12, 16};
    struct Row {
        const char* name;
        const media::scripted::ScriptedFileSpec* script;
        int state, progress;
        const wchar_t* message;
    };
    for (const Row& row :
         {Row{"half.wav", &half, LOADED_SOURCE_DATA_STATE, 50, nullptr},
          Row{"endless.wav", &endless, LOADED_SOURCE_DATA_STATE, 2, nullptr},
          Row{"surround.wav", &surround, NO_SOURCE_DATA_STATE, 0,
              L"Sorry! I can't process that file.\nLet me know about this message."},
          Row{"noise.mp3", nullptr, NO_SOURCE_DATA_STATE, 0,
              L"AddSourceFilter() failed with error 2: Resource not found."}}) {
        SCOPED_TRACE(row.name);
        Install();
        ASSERT_EQ(Start(), 0);
        view.openPath = MakeFile(row.name);
        if (row.script)
            media->files[view.openPath] = *row.script;
        presenter->OnOpenClick();
        FinishLoad(*presenter);
        EXPECT_EQ(presenter->State(), row.state);
        EXPECT_EQ(view.progress, row.progress);
        EXPECT_FALSE(view.progressShown);
        EXPECT_THAT(view.recent, ElementsAre(view.openPath)) << "a file that failed stays";
        if (row.message)
            EXPECT_THAT(messages.Texts(), ElementsAre(row.message));
        else
            EXPECT_EQ(view.status, kDrag);
    }
}

TEST_F(PresenterTest, OpenAndRecentFilesLoadAndKeepTheListMostRecentFirst) {
    view.openPath.clear();
    presenter->OnOpenClick();
    EXPECT_EQ(presenter->Settings().filterIndex, 1) << "a cancelled dialog changes nothing";
    auto other = MakeFile("other.wav"), gone = MakeFile("gone.wav");
    media->files[other].buffers = {Pcm16({7, 7, 7, 7})};
    presenter->Settings().AddRecent(other.c_str());
    presenter->Settings().AddRecent(gone.c_str());
    std::filesystem::remove(NarrowUtf8(gone.c_str()));

    view.openPath = narrator;
    Load();
    EXPECT_THAT(view.recent, ElementsAre(narrator, other)) << "a vanished file is dropped";
    EXPECT_EQ(presenter->Settings().filterIndex, 2);
    EXPECT_STREQ(presenter->Settings().initialDir.data(), L"/chosen/folder");
    EXPECT_EQ(view.scrollMax, 401) << "the whole file can be scrolled to";

    view.selectedRecent = 1;
    presenter->OnRecentFileDoubleClick();
    EXPECT_THAT(view.recent, ElementsAre(other, narrator));
    FinishLoad(*presenter);
    EXPECT_EQ(presenter->Source().sampleCount, 4) << "only the new file's samples";

    std::filesystem::remove(NarrowUtf8(other.c_str()));
    view.selectedRecent = 0;
    presenter->OnRecentFileDoubleClick();
    EXPECT_THAT(messages.Texts(), ElementsAre(L"Sorry, such file doesn't exist..."));
    EXPECT_THAT(view.recent, ElementsAre(narrator));
    EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);
}

TEST_F(PresenterTest, ResizingDuringALoadOnlyLaysOutAndCentresTheProgress) {
    view.calls.clear();
    presenter->OnSize(SIZE_MINIMIZED, 0, 0);
    presenter->OnMove();
    EXPECT_THAT(view.calls, IsEmpty());
    std::mutex mutex;
    std::condition_variable released;
    bool go = false;
    media->beforeDelivery = [&] {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return go; });
    };
    presenter->OnOpenClick();
    presenter->OnSize(SIZE_RESTORED, 800, 500);  // source is the loading thread's now
    presenter->OnMove();
    EXPECT_EQ(view.calls, (std::map<std::string, int>{{"Layout", 1}, {"CenterProgressDialog", 2}}));
    {
        std::lock_guard lock(mutex);
        go = true;
    }
    released.notify_all();
    FinishLoad(*presenter);
    EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);
}

}  // namespace
