// The presenter's start-up, shutdown and the entry actions of the empty, loading
// and loaded states, against the scripted media backend and a recording view.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <fstream>

#include "FakeView.h"
#include "MessageRecorder.h"
#include "Presenter.h"
#include "ScriptedMedia.h"

using media::scripted::ScriptedDeviceSpec;
using media::scripted::ScriptedMedia;
using ::testing::ElementsAre;

namespace {

const std::wstring kNoSource =
    L"Click the Open button to load an audio file or select a file from the \"Recent Files\" "
    L"list above.";
const std::wstring kWithoutSelection =
    L"Drag your mouse through the oscillogram and select a particular part.";

class PresenterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        iniPath = (dir.path() + "/Level0.conf").toStdString();
        media = media::scripted::InstallScriptedMedia();
        media->devices = {
            ScriptedDeviceSpec{L"Mic A", true, S_OK, S_OK, S_OK, {{L"Capture"}}},
            ScriptedDeviceSpec{L"Mic B", true, S_OK, S_OK, S_OK, {{L"Microphone"}, {L"Line In"}}},
        };
    }
    void TearDown() override {
        presenter.reset();
        media::SetMediaFactory(nullptr);
    }

    std::unique_ptr<IniReg> MakeStore() { return std::make_unique<IniReg>(1280, 1024, iniPath); }

    void WriteSetting(const QString& key, const QVariant& value) {
        QSettings store(QString::fromStdString(iniPath.string()), QSettings::IniFormat);
        store.setValue(key, value);
    }

    // Builds the presenter with stored settings and runs the window creation.
    int Start() {
        presenter = std::make_unique<Presenter>(&view, MakeStore());
        presenter->Settings().Load();
        return presenter->OnCreate(nullptr);
    }

    bool Journaled(const std::string& entry) const {
        return std::find(view.journal.begin(), view.journal.end(), entry) != view.journal.end();
    }

    QTemporaryDir dir;
    std::filesystem::path iniPath;
    std::shared_ptr<ScriptedMedia> media;
    MessageRecorder messages;
    FakeView view;
    std::unique_ptr<Presenter> presenter;
};

TEST_F(PresenterTest, StartUpFillsTheWindowInOrderAndEntersTheEmptyState) {
    ASSERT_EQ(Start(), 0);
    std::vector<std::string> expected = {"OnCreate",
                                         "AddInputDevice Mic A",
                                         "AddInputDevice Mic B",
                                         "ShowInputDevices true",
                                         "SelectInputDevice 0",
                                         "AddInputPin Capture",
                                         "ShowInputPins false",
                                         "SelectInputPin 0",
                                         "SetMicVolumePos 50",
                                         "SetSpeakerVolumePos 50",
                                         "ClearRecentFiles"};
    ASSERT_GE(view.journal.size(), expected.size());
    EXPECT_EQ(
        std::vector<std::string>(view.journal.begin(), view.journal.begin() + expected.size()),
        expected);
    EXPECT_EQ(presenter->State(), NO_SOURCE_DATA_STATE);
    EXPECT_EQ(view.status, kNoSource);
    EXPECT_TRUE(view.enabled["open"] && view.enabled["device"] && view.enabled["mic"]);
    EXPECT_FALSE(view.enabled["play"] || view.enabled["loop"] || view.enabled["zoomin"] ||
                 view.enabled["zoomout"]);
    EXPECT_TRUE(messages.Messages().empty());
    // The first device's first pin is live, with the capture graph built around it.
    EXPECT_TRUE(media->Mixer(0, 0).enabled);
    EXPECT_EQ(presenter->Input().m_CaptureState, CAPTURE_READY);
    EXPECT_EQ(media->LiveGraphs(), 1);
}

TEST_F(PresenterTest, StoredDeviceAndPinAreRestoredByName) {
    WriteSetting("InputDeviceName", "Mic B");
    WriteSetting("InputPinName", "Line In");
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(view.selectedDevice, 1);
    EXPECT_EQ(view.selectedPin, 1);
    EXPECT_TRUE(view.pinsShown);
    EXPECT_THAT(view.pins, ElementsAre(L"Microphone", L"Line In"));
    EXPECT_TRUE(media->Mixer(1, 1).enabled);
    EXPECT_FALSE(media->Mixer(1, 0).enabled);
}

TEST_F(PresenterTest, UnknownOrUnusableStoredNamesFallBackToTheFirstDeviceAndPin) {
    WriteSetting("InputDeviceName", "mic b");  // names match case-sensitively
    WriteSetting("InputPinName", "Nothing");
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(view.selectedDevice, 0);
    EXPECT_EQ(view.selectedPin, 0);

    // A stored device that is there but fails to open is reported, and the first
    // one is used and saved, so the next start is clean.
    presenter.reset();
    WriteSetting("InputDeviceName", "Mic B");
    media->devices[1].bindObjectResult = E_FAIL;
    ASSERT_EQ(Start(), 0);
    EXPECT_THAT(messages.Texts().at(0),
                ::testing::StartsWith(L"m_Monikers[m_nCurrent]->BindToObject("));
    EXPECT_EQ(view.selectedDevice, 0);
    EXPECT_EQ(presenter->OnClose(), 1);
    EXPECT_STREQ(presenter->Settings().GetInputDeviceName(), L"Mic A");
}

TEST_F(PresenterTest, OneDeviceWithOnePinHidesBothCombos) {
    media->devices.resize(1);
    ASSERT_EQ(Start(), 0);
    EXPECT_FALSE(view.devicesShown);
    EXPECT_FALSE(view.pinsShown);
}

TEST_F(PresenterTest, StoredVolumesAreClampedAndReadBack) {
    WriteSetting("SpkVolPos", 500);
    WriteSetting("McVolPos", -3);
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(view.speakerPos, 100);
    EXPECT_EQ(view.micPos, 0);
    EXPECT_EQ(presenter->Source().volume, 0);
    EXPECT_EQ(presenter->Input().volume, -10000);
}

TEST_F(PresenterTest, NoCaptureDeviceReportsAndAbandonsStartUp) {
    media->devices.clear();
    EXPECT_EQ(Start(), -1);
    auto shown = messages.Messages();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].caption, L"Error");
    EXPECT_THAT(shown[0].text,
                ::testing::StartsWith(L"pSysDevEnum->CreateClassEnumerator(*clsid, &pEnumCat, 0)\n "
                                      L"failed with error "));
    EXPECT_EQ(shown[1].text,
              L"There were no audio capture devices detected on this system.\r\n\r\n");
    EXPECT_EQ(shown[1].caption, L"No audio capture hardware!");
    EXPECT_EQ(shown[1].flags, MB_OK | MB_ICONERROR);
    EXPECT_THAT(shown[2].text, ::testing::StartsWith(L"EnumInputDevices()\n failed with error "));
    EXPECT_FALSE(Journaled("OnCreate")) << "no window controls are made";
    EXPECT_EQ(media->LiveGraphs(), 0);
}

TEST_F(PresenterTest, UnreachableSoundServerReportsAndAbandonsStartUp) {
    media->classEnumeratorResult = E_FAIL;
    EXPECT_EQ(Start(), -1);
    auto texts = messages.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0],
              L"pSysDevEnum->CreateClassEnumerator(*clsid, &pEnumCat, 0)\n failed with error "
              L"-2147467259: Connection refused");
    EXPECT_THAT(texts[1], ::testing::StartsWith(L"m_MonikerList.EnumFilters()\n failed"));
    EXPECT_THAT(texts[2], ::testing::StartsWith(L"EnumInputDevices()\n failed"));
}

TEST_F(PresenterTest, FailedGraphBuildIsReportedAndTornDown) {
    media->connectResult = E_FAIL;
    EXPECT_EQ(Start(), -1);
    auto texts = messages.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_THAT(texts[0], ::testing::StartsWith(
                              L"ConnectFilters(pGB, m_MonikerList.Filter(), pGrabberF)\n failed"));
    EXPECT_THAT(texts[1], ::testing::StartsWith(L"BuildCaptureGraph()\n failed"));
    EXPECT_EQ(presenter->Input().m_CaptureState, CAPTURE_NONE);
    EXPECT_EQ(presenter->Input().m_MonikerList.m_nCount, 0);
    EXPECT_EQ(media->LiveGraphs(), 0);
}

TEST_F(PresenterTest, ViewThatCannotCreateItsControlsAbandonsStartUpSilently) {
    view.createResult = -1;
    EXPECT_EQ(Start(), -1);
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(PresenterTest, LoadingAndLoadedEntryActions) {
    ASSERT_EQ(Start(), 0);
    view.journal.clear();
    presenter->RequestState(LOADING_SOURCE_DATA_STATE);
    EXPECT_EQ(presenter->State(), LOADING_SOURCE_DATA_STATE);
    EXPECT_EQ(view.status, L"Please wait...");
    EXPECT_TRUE(view.progressShown);
    for (const auto& [name, on] : view.enabled)
        EXPECT_FALSE(on) << name;

    // A second load request while loading is refused and changes nothing.
    presenter->RequestState(LOADING_SOURCE_DATA_STATE);
    EXPECT_EQ(messages.Texts().back(),
              L"Can't move to LOADING_SOURCE_DATA_STATE from this current state");
    EXPECT_EQ(messages.Messages().back().caption, L"Error!");
    EXPECT_EQ(presenter->State(), LOADING_SOURCE_DATA_STATE);

    presenter->RequestState(LOADED_SOURCE_DATA_STATE);
    EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);
    EXPECT_FALSE(view.progressShown);
    EXPECT_TRUE(Journaled("SetScrollRange 0 0"));
    EXPECT_EQ(view.status, kWithoutSelection);
    EXPECT_TRUE(view.enabled["play"] && view.enabled["zoomin"] && view.enabled["open"]);
    EXPECT_FALSE(view.enabled["loop"]) << "no selection, no loop";
}

TEST_F(PresenterTest, RefusedAndUnknownRequests) {
    ASSERT_EQ(Start(), 0);
    presenter->RequestState(SETTING_CURSOR_AND_SAMPLE_STATE);
    presenter->RequestState(8);
    presenter->RequestState(LOADED_SOURCE_DATA_STATE);
    EXPECT_THAT(
        messages.Texts(),
        ElementsAre(L"Can't move to SETTING_CURSOR_AND_SAMPLE_STATE from this current state",
                    L"Wrong state is requested",
                    L"Can't move to LOADED_SOURCE_DATA_STATE from this current state"));
    EXPECT_EQ(presenter->State(), NO_SOURCE_DATA_STATE);

    // In the loaded state a second request for it is refused, then refreshes the controls.
    presenter->RequestState(LOADING_SOURCE_DATA_STATE);
    presenter->RequestState(LOADED_SOURCE_DATA_STATE);
    view.enabled.clear();
    view.status.clear();
    messages.Clear();
    presenter->RequestState(LOADED_SOURCE_DATA_STATE);
    EXPECT_THAT(messages.Texts(),
                ElementsAre(L"Can't move to LOADED_SOURCE_DATA_STATE from this current state"));
    EXPECT_EQ(view.status, kWithoutSelection);
    EXPECT_TRUE(view.enabled["play"]);

    presenter->RequestState(SETTING_CURSOR_AND_SAMPLE_STATE);
    EXPECT_EQ(presenter->State(), SETTING_CURSOR_AND_SAMPLE_STATE);
    presenter->RequestState(LOADED_SOURCE_DATA_STATE);
    EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);

    presenter->RequestState(NO_SOURCE_DATA_STATE);
    EXPECT_EQ(presenter->State(), NO_SOURCE_DATA_STATE);
    EXPECT_EQ(view.status, kNoSource);
}

TEST_F(PresenterTest, CloseIsRefusedWhileBusyAndSavesEverythingOtherwise) {
    ASSERT_EQ(Start(), 0);
    presenter->RequestState(LOADING_SOURCE_DATA_STATE);
    EXPECT_EQ(presenter->OnClose(), 0);
    presenter->RequestState(LOADED_SOURCE_DATA_STATE);
    presenter->RequestState(SETTING_CURSOR_AND_SAMPLE_STATE);
    EXPECT_EQ(presenter->OnClose(), 0);
    EXPECT_FALSE(std::filesystem::exists(iniPath)) << "a refused close saves nothing";
    presenter->RequestState(LOADED_SOURCE_DATA_STATE);

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
    EXPECT_EQ(media->LiveGraphs(), 0) << "every graph is released on close";

    IniReg stored(1280, 1024, iniPath);
    stored.Load();
    EXPECT_EQ(stored.left, 10);
    EXPECT_EQ(stored.top, 20);
    EXPECT_EQ(stored.width, 800);
    EXPECT_EQ(stored.height, 500);
    EXPECT_EQ(stored.maximized, 1);
    EXPECT_EQ(stored.GetMcVolPos(), 30);
    EXPECT_EQ(stored.GetSpkVolPos(), 80);
    EXPECT_EQ(std::wstring(stored.GetInputDeviceName()), L"Mic B");
    EXPECT_EQ(std::wstring(stored.GetInputPinName()), L"Line In");
}

TEST_F(PresenterTest, UnreadablePlacementKeepsTheStoredOne) {
    WriteSetting("Left", 33);
    ASSERT_EQ(Start(), 0);
    view.placementReadable = false;
    EXPECT_EQ(presenter->OnClose(), 1);
    IniReg stored(1280, 1024, iniPath);
    stored.Load();
    EXPECT_EQ(stored.left, 33);
}

TEST_F(PresenterTest, SwitchingDeviceRefillsPinsAndRebuildsTheGraph) {
    ASSERT_EQ(Start(), 0);
    media->ClearJournal();
    view.journal.clear();
    view.selectedDevice = 1;
    presenter->OnInputDeviceChange();
    EXPECT_EQ(view.selectedDevice, 1);
    EXPECT_THAT(view.pins, ElementsAre(L"Microphone", L"Line In"));
    EXPECT_TRUE(view.pinsShown);
    EXPECT_EQ(view.selectedPin, 0);
    EXPECT_EQ(presenter->Input().m_MonikerList.m_nCurrent, 1);
    EXPECT_TRUE(media->Mixer(1, 0).enabled);
    auto journal = media->Journal();
    auto has = [&](const std::string& e) {
        return std::find(journal.begin(), journal.end(), e) != journal.end();
    };
    EXPECT_TRUE(has("remove capture Mic A"));
    EXPECT_TRUE(has("add capture Mic B as Audio Capture"));
    EXPECT_TRUE(has("connect Capture -> Input"));
    EXPECT_TRUE(messages.Messages().empty());

    view.selectedPin = 1;
    presenter->OnInputPinChange();
    EXPECT_EQ(view.selectedPin, 1);
    EXPECT_TRUE(media->Mixer(1, 1).enabled);
    EXPECT_FALSE(media->Mixer(1, 0).enabled);
}

TEST_F(PresenterTest, DeviceAndPinChoicesAreIgnoredWhileBusy) {
    ASSERT_EQ(Start(), 0);
    presenter->RequestState(LOADING_SOURCE_DATA_STATE);
    view.selectedDevice = 1;
    presenter->OnInputDeviceChange();
    view.selectedPin = 0;
    presenter->OnInputPinChange();
    EXPECT_EQ(presenter->Input().m_MonikerList.m_nCurrent, 0);
}

TEST_F(PresenterTest, FailedDeviceSwitchIsReportedAndTheCombosShowWhatIsInUse) {
    ASSERT_EQ(Start(), 0);
    media->devices[1].bindObjectResult = E_FAIL;
    view.selectedDevice = 1;
    presenter->OnInputDeviceChange();
    auto texts = messages.Texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_THAT(texts[0], ::testing::StartsWith(
                              L"m_Monikers[m_nCurrent]->BindToObject(0, 0, IID_IBaseFilter, "
                              L"(void **)&m_InputFilter)\n failed"));
    EXPECT_THAT(texts[1], ::testing::StartsWith(L"m_MonikerList.SetMonikerIndex(ind)\n failed"));
    EXPECT_EQ(view.selectedDevice, 0) << "the device that still records";
    EXPECT_EQ(view.selectedPin, 0);
    EXPECT_EQ(presenter->State(), NO_SOURCE_DATA_STATE);
}

TEST_F(PresenterTest, VolumesActInEveryStateAndClamp) {
    ASSERT_EQ(Start(), 0);
    presenter->RequestState(LOADING_SOURCE_DATA_STATE);
    view.micPos = 150;
    presenter->OnMicVolumeChange();
    EXPECT_EQ(presenter->Input().volume, 0);
    view.speakerPos = 25;
    presenter->OnSpeakerVolumeChange();
    EXPECT_EQ(presenter->Source().volume, -7500);
    EXPECT_EQ(presenter->Source().GetVolume(), 25);
}

TEST_F(PresenterTest, SizeLaysOutUnlessMinimisedAndMinimumSizeComesFromTheStore) {
    ASSERT_EQ(Start(), 0);
    view.journal.clear();
    presenter->OnSize(SIZE_MINIMIZED, 0, 0);
    EXPECT_TRUE(view.journal.empty());
    presenter->OnSize(SIZE_RESTORED, 700, 380);
    EXPECT_THAT(view.journal, ::testing::Contains("Layout 0 700x380"));
    EXPECT_THAT(view.journal, ::testing::Contains("SetScrollRange 0 0"));
    presenter->OnMove();
    EXPECT_THAT(view.journal, ::testing::Not(::testing::Contains("CenterProgressDialog")));
    presenter->RequestState(LOADING_SOURCE_DATA_STATE);
    presenter->OnMove();
    EXPECT_THAT(view.journal, ::testing::Contains("CenterProgressDialog"));
    MINMAXINFO info{};
    EXPECT_EQ(presenter->OnGetMinMaxInfo(&info), 0);
    EXPECT_EQ(info.ptMinTrackSize.x, 544);
    EXPECT_EQ(info.ptMinTrackSize.y, 400);
}

TEST_F(PresenterTest, RunLoadsTheStoreAndOpensTheWindowAtTheStoredPlacement) {
    WriteSetting("Left", 5);
    WriteSetting("Top", 6);
    WriteSetting("Width", 900);
    WriteSetting("Height", 600);
    WriteSetting("Maximized", 1);
    presenter = std::make_unique<Presenter>(&view, MakeStore());
    presenter->Run();
    EXPECT_THAT(view.journal, ElementsAre("Run 5,6 900x600 true"));
}

TEST_F(PresenterTest, RecentListDropsAVanishedFileAndKeepsTheRest) {
    std::string a = dir.filePath("a.wav").toStdString(), b = dir.filePath("b.wav").toStdString();
    for (const auto& p : {a, b})
        std::ofstream(p) << "x";
    WriteSetting("Files/File0", QString::fromStdString(a));
    WriteSetting("Files/File1", QString::fromStdString(b));
    presenter = std::make_unique<Presenter>(&view, MakeStore());
    presenter->Settings().Load();
    std::filesystem::remove(a);
    ASSERT_EQ(presenter->OnCreate(nullptr), 0);
    EXPECT_THAT(view.recent, ElementsAre(std::wstring(b.begin(), b.end())));
}

}  // namespace
