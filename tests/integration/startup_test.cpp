// Start-up and shutdown of the presenter on the real backend: the devices of a
// private PulseAudio server, a device switch that survives a restart, and the
// reports when no server answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "FakeView.h"
#include "GstBackend.h"
#include "MessageRecorder.h"
#include "Presenter.h"
#include "PulseServer.h"

using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

class StartupTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { media::SetMediaFactory(CreateGstMediaFactory()); }
    static void TearDownTestSuite() { media::SetMediaFactory(nullptr); }

    std::unique_ptr<Presenter> Start(FakeView& view) {
        auto presenter = std::make_unique<Presenter>(
            &view,
            std::make_unique<IniReg>(1280, 1024, (dir.path() + "/Level0.conf").toStdString()));
        presenter->Settings().Load();
        result = presenter->OnCreate(nullptr);
        return presenter;
    }

    QTemporaryDir dir;
    MessageRecorder messages;
    int result = 0;
};

TEST_F(StartupTest, ListsMicrophonesByDescriptionAndRestoresTheChosenOne) {
    PulseServer server({{"Desk Microphone"}, {"Headset Microphone"}});
    ASSERT_TRUE(server.Running()) << server.Error();
    {
        FakeView view;
        auto presenter = Start(view);
        ASSERT_EQ(result, 0);
        EXPECT_THAT(view.devices, ElementsAre(L"Desk Microphone", L"Headset Microphone"));
        EXPECT_TRUE(view.devicesShown);
        EXPECT_THAT(view.pins, ElementsAre(L"Capture"));
        EXPECT_FALSE(view.pinsShown);
        EXPECT_EQ(view.selectedDevice, 0);

        view.selectedDevice = 1;
        presenter->OnInputDeviceChange();
        EXPECT_EQ(view.selectedDevice, 1);
        EXPECT_EQ(presenter->Input().m_MonikerList.m_nCurrent, 1);
        EXPECT_EQ(view.selectedPin, 0);
        EXPECT_EQ(presenter->OnClose(), 1);
        EXPECT_TRUE(messages.Messages().empty());
    }
    FakeView view;
    auto presenter = Start(view);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(view.selectedDevice, 1);
    EXPECT_EQ(std::wstring(presenter->Settings().GetInputDeviceName()), L"Headset Microphone");
    EXPECT_EQ(presenter->OnClose(), 1);
}

TEST_F(StartupTest, WithoutAServerStartUpReportsAndGivesUp) {
    NoPulseServer none;
    FakeView view;
    auto presenter = Start(view);
    EXPECT_EQ(result, -1);
    auto shown = messages.Messages();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_THAT(
        shown[0].text,
        StartsWith(
            L"pSysDevEnum->CreateClassEnumerator(*clsid, &pEnumCat, 0)\n failed with error"));
    EXPECT_THAT(shown[0].text, ::testing::HasSubstr(L"Connection refused"));
    EXPECT_THAT(shown[1].text, StartsWith(L"m_MonikerList.EnumFilters()\n failed"));
    EXPECT_THAT(shown[2].text, StartsWith(L"EnumInputDevices()\n failed"));
    EXPECT_TRUE(view.journal.empty()) << "no window controls are made";
}

TEST_F(StartupTest, AHungServerIsAFailureNotAHang) {
    PulseServer server(1);
    ASSERT_TRUE(server.Running()) << server.Error();
    server.Hang();
    FakeView view;
    auto presenter = Start(view);
    server.Resume();
    EXPECT_EQ(result, -1);
    ASSERT_FALSE(messages.Texts().empty());
    EXPECT_THAT(messages.Texts()[0], ::testing::HasSubstr(L"did not answer"));
}

}  // namespace
