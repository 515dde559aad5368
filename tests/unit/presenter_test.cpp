// The presenter against the scripted media backend and a stand-in window:
// start-up and close, loading a narrator file, and what every event does in
// every state.
#include <gmock/gmock.h>

#include <QSettings>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>

#include "FakeView.h"
#include "MessageRecorder.h"
#include "ScriptedMedia.h"

using media::scripted::Pcm16;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Matcher;
using ::testing::StartsWith;

namespace {

constexpr std::int64_t kSecond = 10000000;
constexpr int NO = NO_SOURCE_DATA_STATE, LOADING = LOADING_SOURCE_DATA_STATE,
              LOADED = LOADED_SOURCE_DATA_STATE, SETTING = SETTING_CURSOR_AND_SAMPLE_STATE,
              PLAYING = PLAYING_SOURCE_DATA_STATE, LISTENING = LISTENING_SAMPLE_STATE,
              RECORDING = RECORDING_INPUT_DATA_STATE, SOURCE = COMPARING_SOURCE_SAMPLE_STATE,
              INPUT = COMPARING_INPUT_DATA_STATE;
// What the learner sees: the status, and the enabled buttons, lamps and modes.
using Look = std::pair<const wchar_t*, const char*>;
const Look kNoSource{
    L"Click the Open button to load an audio file or select a file from the "
    L"\"Recent Files\" list above.",
    "open "},
    kLoading{L"Please wait...", "progress "},
    kDrag{L"Drag your mouse through the oscillogram and select a particular part.",
          "open play zoomin zoomout "},
    kLoopHint{L"Click the \"Loop\" button to begin training.", "loop open play zoomin zoomout "},
    kPlaying{L"Click the \"Pause\" button to stop the file playing.", "play playing "},
    kListen{L"Listen to the narrator. Click \"Pause\" button to stop the process.",
            "listen loop looping "},
    kRepeat{L"Try to repeat what you have just heard. Click \"Pause\" button to stop the process.",
            "loop looping say "},
    kMicHint{
        L"Try to repeat what you have just heard. Click \"Pause\" button to stop the process. "
        L"No voice heard yet: check that the microphone is connected, not muted, and its "
        L"level is up.",
        "loop looping say "},
    kCompare{
        L"Listen carefully how you and the narrator say the same phrase, check for "
        L"pronunciation mistakes, compare both variants accurately.",
        "listen loop looping "};

class PresenterTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Start(), 0); }
    void TearDown() override { presenter.reset(), media::SetMediaFactory(nullptr); }

    // A fresh backend with two microphones and a narrator of ten seconds at 8 kHz
    // (400 columns at the first zoom), a fresh window, and `fault` before start-up.
    int Start(const std::function<void()>& fault = {}) {
        presenter.reset();
        media = media::scripted::InstallScriptedMedia();
        media->devices = {{.friendlyName = L"Mic A", .format = {1, 1, 16000, 32000, 2, 16}},
                          {.friendlyName = L"Mic B", .inputPins = {{L"Microphone"}, {L"Line In"}}}};
        narrator = MakeFile("narrator.wav");
        media->files[narrator].buffers = {std::vector<std::uint8_t>(160000, 0x10)};
        media->files[narrator].duration = media->renderedDuration = 10 * kSecond;
        view = FakeView{}, view.openPath = narrator, messages.Clear();
        if (fault)
            fault();
        presenter = std::make_unique<Presenter>(
            &view, std::make_unique<IniReg>(1280, 1024, ini.toStdString()));
        presenter->Settings().Load();
        return presenter->OnCreate(nullptr);
    }
    void Open(const std::wstring& path) {
        view.openPath = path, presenter->OnOpenClick(), FinishLoad();
    }
    // The load's thread has ended, so the tick that hands the outcome over finds it.
    void FinishLoad() { presenter->WaitForLoad(), presenter->OnTimer(); }
    // Drives a fresh presenter to `target`; beyond loading through a selection.
    void Reach(int target) {
        ASSERT_EQ(Start(), 0);
        target == LOADING ? presenter->RequestState(target) : void();
        if (target > LOADING)
            Open(narrator), narratorWav = WidenUtf8(presenter->Source().wavFile.path),
                            Select(50, 150);
        target == SETTING ? presenter->OnMouseDown(&kPoint) : void();
        target == PLAYING ? presenter->OnPlayClick() : void();
        target >= LISTENING ? presenter->OnLoopClick() : void();
        target >= RECORDING ? Tick() : void();
        target >= SOURCE ? Speak() : void();
        target >= INPUT ? Tick() : void();
        ASSERT_EQ(presenter->State(), target);
    }

    std::wstring MakeFile(const char* name) {
        std::ofstream(dir.filePath(name).toStdString()) << "x";
        return dir.filePath(name).toStdWString();
    }
    void Set(std::initializer_list<std::pair<const char*, QVariant>> values) {
        QSettings stored(ini, QSettings::IniFormat);
        for (const auto& [key, value] : values)
            stored.setValue(key, value);
    }
    void Select(short from, short to) {
        POINTS a{from, 10}, b{to, 10};
        presenter->OnMouseDown(&a), presenter->OnMouseDrag(&b), presenter->OnMouseUp(&b);
    }
    // The narrator's clock moves on, by default past the selection, and the timer sees it.
    void Tick(std::int64_t by = 3 * kSecond) { media->clock += by, presenter->OnTimer(); }
    // Half a second of voice, then silence: the capture reports the end of speech.
    void Speak() {
        for (std::int16_t amplitude : {3000, 0, 0})
            presenter->Input().AddSamples(Pcm16(std::vector(8000, amplitude)).data(), 16000, 0);
        presenter->OnCaptureEvent();
    }
    std::wstring Take() { return WidenUtf8(presenter->Input().wavFile.path); }

    static constexpr POINTS kPoint{100, 10};
    QTemporaryDir dir;
    QString ini = dir.filePath("Level0.conf");
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
        play(), pause(), presenter->OnZoomInClick(), presenter->OnMouseDown(&kPoint);
        presenter->OnCaptureEvent(), presenter->OnTimer();
    };
    // Closing, opening, devices, zoom, scrolling and the mouse wait while busy.
    auto busy = [&] {
        double zoom = presenter->Source().zoom;
        EXPECT_EQ(presenter->OnClose(), 0);
        view.selectedDevice = 1;
        presenter->OnOpenClick(), presenter->OnRecentFileDoubleClick();
        presenter->OnInputDeviceChange(), presenter->OnZoomInClick();
        presenter->OnScrollPage(true), presenter->OnMouseDown(&kPoint);
        EXPECT_EQ(presenter->Source().zoom, zoom);
        EXPECT_EQ(presenter->Input().m_MonikerList.m_nCurrent, 0);
    };
    // The file's progress, its place in the recent list and the hidden progress window.
    auto load = [&](const char* name, const media::scripted::ScriptedFile* script, int progress) {
        return [=, this] {
            std::wstring path = MakeFile(name);
            if (script)
                media->files[path] = *script;
            Open(path);
            EXPECT_EQ(view.progress, progress);
            EXPECT_THAT(view.recent, ElementsAre(path)) << "a file that failed stays";
        };
    };
    // The second buffer of `half` starts half-way; `endless` has no duration, so its
    // progress steps a buffer at a time and wraps after 100.
    const media::scripted::ScriptedFile half{
        .buffers = {Pcm16({0, 1000, -2000}), Pcm16({300, -32768, 5})}, .duration = 7500},
        endless{.buffers = std::vector(103, Pcm16({1}))},
        surround{.format = {1, 6, 48000, 576000, 12, 16}, .buffers = {}};
    auto resizeWhileLoading = [&] {
        presenter->OnSize(SIZE_MINIMIZED, 0, 0), presenter->OnMove();
        EXPECT_THAT(view.calls, IsEmpty());
        std::promise<void> go;
        media->beforeDelivery = [held = go.get_future().share()] { held.wait(); };
        presenter->OnOpenClick();
        // The source is the loading thread's now.
        presenter->OnSize(SIZE_RESTORED, 800, 500), presenter->OnMove();
        EXPECT_EQ(view.calls,
                  (std::map<std::string, int>{{"Layout", 1}, {"CenterProgressDialog", 2}}));
        go.set_value();
        FinishLoad();
    };
    auto playing = [&] {
        Select(100, 100), play(), view.frameDue = false, Tick(4 * kSecond);
        EXPECT_EQ(view.cursorColumn, 100) << "no picture is built between two frames";
        view.frameDue = true, Tick(0);
        EXPECT_EQ(view.cursorColumn, 150) << "playing keeps the cursor in the middle";
        view.speakerPos = 70, view.micPos = 150;
        presenter->OnSpeakerVolumeChange(), presenter->OnMicVolumeChange();
        EXPECT_EQ(media->LastPlayback(narratorWav).volume, -3000) << "volumes act at once";
        EXPECT_EQ(presenter->Input().volume, 0);
    };
    auto pauseKeepsColumn = [&] {
        Tick(kSecond);
        int column = view.cursorColumn;
        presenter->OnLoopClick();
        EXPECT_EQ(view.cursorColumn, column) << "Pause keeps the cursor's screen column";
    };
    auto stale = [&] {
        presenter->Input().pMES->Notify(media::EC_BUFFERING_DATA, 0, 0);
        presenter->OnCaptureEvent(), Tick(), presenter->OnCaptureEvent();
    };
    // Reported once, then the cursor stands still until Pause.
    auto narratorBreaks = [&] {
        media->NotifyRendered(narratorWav, media::EC_ERRORABORT), Tick(0), Tick(0);
    };
    auto captureRefuses = [&] { media->runResult = E_FAIL, Tick(); };
    auto captureBreaks = [&] {
        presenter->Input().pMES->Notify(media::EC_ERRORABORT, E_FAIL, 0);
        presenter->OnCaptureEvent();
    };
    auto compare = [&] {
        Speak();
        EXPECT_EQ(presenter->Source().cursorSample, 10000) << "the phrase again from its start";
        view.frameDue = false, Tick(kSecond / 8), Tick();
        EXPECT_GE(view.cursorColumn, 150) << "the picture catches up when the phrase ends";
        view.frameDue = true;
        EXPECT_EQ(media->LastPlayback(Take()).volume, -5000);
    };
    // Opened or picked from the list, the list keeps the most recent first.
    auto recentFiles = [&] {
        Open(L"");
        EXPECT_EQ(presenter->Settings().filterIndex, 1) << "a cancelled dialog changes nothing";
        auto other = MakeFile("other.wav"), gone = MakeFile("gone.wav");
        media->files[other].buffers = {Pcm16({7, 7, 7, 7})};
        presenter->Settings().AddRecent(other.c_str());
        presenter->Settings().AddRecent(gone.c_str());
        std::filesystem::remove(gone);
        Open(narrator);
        EXPECT_THAT(view.recent, ElementsAre(narrator, other)) << "a vanished file is dropped";
        EXPECT_EQ(presenter->Settings().filterIndex, 2);
        EXPECT_STREQ(presenter->Settings().initialDir.data(), L"/chosen/folder");
        EXPECT_EQ(view.scrollMax, 401) << "the whole file can be scrolled to";
        view.selectedRecent = 1, presenter->OnRecentFileDoubleClick();
        EXPECT_THAT(view.recent, ElementsAre(other, narrator));
        FinishLoad();
        EXPECT_EQ(presenter->Source().sampleCount, 4) << "only the new file's samples";
        std::filesystem::remove(other);
        view.selectedRecent = 0, presenter->OnRecentFileDoubleClick();
        EXPECT_THAT(view.recent, ElementsAre(narrator));
    };
    // A failed switch keeps the device that still records and a later one recovers;
    // close saves what the learner chose and releases every graph.
    auto switchAndClose = [&] {
        media->devices[1].bindObjectResult = E_FAIL;
        view.selectedDevice = 1, presenter->OnInputDeviceChange();
        EXPECT_THAT(messages.Texts(),
                    ElementsAre(StartsWith(L"m_Monikers[m_nCurrent]->BindToObject("),
                                StartsWith(L"m_MonikerList.SetMonikerIndex(ind)")));
        EXPECT_TRUE(view.selectedDevice == 0 && view.selectedPin == 0 &&
                    media->Mixer(0, 0).enabled);
        media->devices[1].bindObjectResult = S_OK, messages.Clear();
        view.selectedDevice = 1, presenter->OnInputDeviceChange();
        EXPECT_TRUE(view.pinsShown && media->Mixer(1, 0).enabled);
        view.selectedPin = 1, presenter->OnInputPinChange();
        EXPECT_THAT(view.pins, ElementsAre(L"Microphone", L"Line In"));
        EXPECT_TRUE(media->Mixer(1, 1).enabled && !media->Mixer(1, 0).enabled);
        EXPECT_EQ(media->LiveGraphs(), 2) << "the narrator's and one capture";
        view.micPos = 30, view.speakerPos = 80, view.maximized = true;
        view.advanceAfter = 3, view.speed = 70;
        presenter->OnMicVolumeChange(), presenter->OnSpeakerVolumeChange();
        presenter->OnAdvanceAfterChange(), presenter->OnSpeedChange();
        EXPECT_EQ(presenter->OnClose(), 1);
        EXPECT_EQ(media->LiveGraphs(), 0);
        IniReg stored(1280, 1024, ini.toStdString());
        stored.Load();
        EXPECT_EQ(std::vector({stored.left, stored.top, stored.width, stored.height,
                               stored.maximized, stored.GetMcVolPos(), stored.GetSpkVolPos(),
                               stored.advanceAfter, stored.speed}),
                  std::vector({10, 20, 800, 500, 1, 30, 80, 3, 70}));
        EXPECT_EQ(std::wstring(stored.GetInputDeviceName()) + stored.GetInputPinName(),
                  L"Mic BLine In");
        std::filesystem::remove(ini.toStdString());  // the next rows start afresh
    };
    auto takeEnds = [&] { media->NotifyRendered(Take(), media::EC_COMPLETE), Tick(0); };
    // Phrases at columns 40-80, 120-200 and 280-360 of a view 300 wide.
    auto selected = [&] { return presenter->Source().selectionStart; };
    auto phrases = [&] {
        presenter->Source().phrases = {{8000, 16000}, {24000, 40000}, {56000, 72000}};
        POINTS inSecond{150, 10};
        presenter->OnMouseDoubleClick(&inSecond);
        EXPECT_EQ(std::tuple(selected(), presenter->Source().selectionEnd, view.cursorColumn),
                  std::tuple(24000, 40000, 120));
        presenter->OnPhraseKey(true);
        EXPECT_EQ(std::tuple(selected(), view.scrollPos), std::tuple(56000, 170)) << "in view";
        EXPECT_THAT(view.marks, ElementsAre(30, 110, 190));
        presenter->OnPhraseKey(false), presenter->OnPhraseKey(false);
        EXPECT_EQ(selected(), 8000);
    };
    // Two cycles a phrase; a key pressed meanwhile takes effect when its cycle ends;
    // after the last phrase the loop stops as Pause does.
    auto advance = [&] {
        presenter->Source().phrases = {{24000, 40000}, {56000, 72000}};
        view.advanceAfter = 2, presenter->OnAdvanceAfterChange(), pause();
        auto cycles = [&](int n, bool key = false) {
            for (int i = 0; i < n; ++i)
                Tick(), key ? presenter->OnPhraseKey(true) : void(), Speak(), Tick(), takeEnds();
            return selected();
        };
        EXPECT_EQ(std::vector({cycles(1), cycles(1, true), cycles(1), cycles(1)}),
                  std::vector({10000, 24000, 24000, 56000}));
        cycles(2);
    };
    auto slower = [&] {
        view.speed = 50, presenter->OnSpeedChange(), Select(100, 100), play(), Tick(4 * kSecond);
        EXPECT_EQ(presenter->Source().cursorSample, 36000) << "2.5 s + 4 s at half speed";
    };
    // The level shows while the program waits; a silent microphone gets a hint,
    // which goes when the voice comes.
    auto silentMic = [&] {
        for (int i = 0; i < 1000; ++i)
            presenter->OnTimer();
        EXPECT_EQ(view.status, kMicHint.first);
        presenter->Input().AddSamples(Pcm16(std::vector(8000, std::int16_t{3000})).data(), 16000,
                                      0);
        presenter->OnTimer();
        EXPECT_GT(view.level, IView::kInputLevelThreshold);
    };
    struct Row {
        int from;
        std::function<void()> event;
        int to;
        Look look;
        const wchar_t* message = nullptr;  // its start
    };
    std::vector<Row> rows = {
        {NO, request(SETTING), NO, kNoSource,
         L"Can't move to SETTING_CURSOR_AND_SAMPLE_STATE from this current state"},
        {NO, request(8), NO, kNoSource, L"Wrong state is requested"},
        {NO, idle, NO, kNoSource},
        {NO, request(LOADING), LOADING, kLoading},
        {NO, load("half.wav", &half, 50), LOADED, kDrag},
        {NO, load("endless.wav", &endless, 2), LOADED, kDrag},
        {NO, load("surround.wav", &surround, 0), NO, kNoSource,
         L"Sorry! I can't process that file.\nLet me know about this message."},
        {NO, load("noise.mp3", nullptr, 0), NO, kNoSource,
         L"AddSourceFilter() failed with error 2: Resource not found."},
        {NO, resizeWhileLoading, LOADED, kDrag},
        {NO, recentFiles, LOADED, kDrag, L"Sorry, such file doesn't exist..."},
        {LOADING, request(LOADING), LOADING, kLoading,
         L"Can't move to LOADING_SOURCE_DATA_STATE from this current state"},
        {LOADING, busy, LOADING, kLoading},
        {LOADED, request(LOADED), LOADED, kLoopHint,
         L"Can't move to LOADED_SOURCE_DATA_STATE from this current state"},
        {LOADED, request(NO), NO, kNoSource},
        {LOADED, [&] { Select(100, 105); }, LOADED, kDrag},  // five columns are a click
        {LOADED, [&] { Select(106, 100); }, LOADED, kLoopHint},
        {LOADED, playing, PLAYING, kPlaying},
        {LOADED, pause, LISTENING, kListen},
        {LOADED, switchAndClose, LOADED, kLoopHint},
        {LOADED, phrases, LOADED, kLoopHint},
        {LOADED, advance, LOADED, kLoopHint},
        {LOADED, slower, PLAYING, kPlaying},
        {SETTING, busy, SETTING, kLoopHint},
        {SETTING, [&] { presenter->OnMouseUp(&kPoint); }, LOADED, kLoopHint},
        {PLAYING, busy, PLAYING, kPlaying},
        {PLAYING, play, LOADED, kLoopHint},
        {LISTENING, busy, LISTENING, kListen},
        {LISTENING, pauseKeepsColumn, LOADED, kLoopHint},
        {LISTENING, stale, RECORDING, kRepeat},  // an end of speech from before the take
        {LISTENING, narratorBreaks, LISTENING, kListen, L"Playback failed with error"},
        {LISTENING, captureRefuses, RECORDING, kRepeat, L"Recording from \"Mic A\" failed with"},
        {RECORDING, busy, RECORDING, kRepeat},
        {RECORDING, silentMic, RECORDING, kRepeat},
        {RECORDING, compare, INPUT, kCompare},
        {RECORDING, captureBreaks, RECORDING, kRepeat, L"Recording failed with error"},
        {SOURCE, busy, SOURCE, kCompare},
        {INPUT, busy, INPUT, kCompare},
        {INPUT, takeEnds, LISTENING, kListen},
    };
    for (int from : {RECORDING, SOURCE, INPUT})
        rows.push_back({from, pause, LOADED, kLoopHint});
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << &row - rows.data());
        ASSERT_NO_FATAL_FAILURE(Reach(row.from));
        messages.Clear();
        row.event();
        EXPECT_EQ(presenter->State(), row.to);
        EXPECT_EQ(view.status, row.look.first);
        EXPECT_EQ(view.Shown(), row.look.second);
        EXPECT_EQ(media->LastPlayback(narratorWav).running,
                  row.to == PLAYING || row.to == LISTENING || row.to == SOURCE);
        EXPECT_EQ(media->LastPlayback(Take()).running, row.to == INPUT);
        EXPECT_THAT(messages.Texts(), row.message ? Matcher<std::vector<std::wstring>>(
                                                        ElementsAre(StartsWith(row.message)))
                                                  : IsEmpty());
    }
}

TEST_F(PresenterTest, StartUpRestoresTheStoredDeviceFallsBackToTheFirstOrGivesUp) {
    struct Row {
        QString device, pin;
        std::function<void()> fault;
        int selected, selectedPin;  // -1: no start
        std::size_t messages = 0;
        long alarms = 0;  // messages with the error icon
    };
    for (const Row& row : {
             Row{"", "", {}, 0, 0},
             Row{"Mic B", "Line In", {}, 1, 1},
             Row{"mic b", "Nothing", {}, 0, 0},  // names match exactly
             Row{"Mic B", "Line In", [&] { media->devices[1].bindObjectResult = E_FAIL; }, 0, 0, 2},
             Row{"", "", [&] { media->devices.resize(1), view.placementReadable = false; }, 0, 0},
             Row{"", "", [&] { media->devices.clear(); }, -1, -1, 3, 1},
             Row{"", "", [&] { media->classEnumeratorResult = E_FAIL; }, -1, -1, 3},  // no server
             Row{"", "", [&] { media->connectResult = E_FAIL; }, -1, -1, 2},
             Row{"", "", [&] { view.createResult = -1; }, -1, -1},
         }) {
        SCOPED_TRACE(row.device.toStdString() + " " + std::to_string(row.messages));
        Set({{"InputDeviceName", row.device},
             {"InputPinName", row.pin},
             {"Left", 33},
             {"SpkVolPos", 500},
             {"McVolPos", -3},
             {"Speed", 60}});
        EXPECT_EQ(Start(row.fault), row.selected < 0 ? -1 : 0);
        auto shown = messages.Messages();
        EXPECT_EQ(shown.size(), row.messages);
        EXPECT_EQ(std::ranges::count_if(shown, [](auto& m) { return m.flags & MB_ICONERROR; }),
                  row.alarms);
        if (row.selected < 0) {
            EXPECT_TRUE(view.devices.empty());
            presenter.reset();
            EXPECT_EQ(media->LiveGraphs(), 0);
            continue;
        }
        std::vector<std::wstring> names{L"Mic A", L"Mic B"};
        names.resize(media->devices.size());
        EXPECT_EQ(view.devices, names);
        EXPECT_EQ(
            std::tuple(view.devicesShown, view.selectedDevice, view.selectedPin, view.pins.size(),
                       view.pinsShown, view.speakerPos, view.micPos, view.speed),
            std::tuple(names.size() > 1, row.selected, row.selectedPin, row.selected + 1u,
                       row.selected == 1, 100, 0, 60));  // the volumes clamped
        EXPECT_TRUE(media->Mixer(row.selected, row.selectedPin).enabled &&
                    media->LiveGraphs() == 1);
        EXPECT_EQ(presenter->OnClose(), 1);
        EXPECT_EQ(presenter->Settings().GetInputDeviceName(), view.devices[row.selected])
            << "the device in use is saved, so the next start is clean";
        EXPECT_EQ(QSettings(ini, QSettings::IniFormat).value("Left"),
                  view.placementReadable ? 10 : 33)
            << "an unreadable placement keeps the stored one";
    }
}

}  // namespace
