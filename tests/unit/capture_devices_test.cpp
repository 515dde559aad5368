// The capture-device list: enumeration, binding, pins and their mixers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "InputData.h"
#include "MessageRecorder.h"
#include "MonikerList.h"
#include "ScriptedMedia.h"

using media::scripted::ScriptedDeviceSpec;
using media::scripted::ScriptedPinSpec;
using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

class MonikerListTest : public ::testing::Test {
  protected:
    void SetUp() override { media = media::scripted::InstallScriptedMedia(); }
    void TearDown() override { media::SetMediaFactory(nullptr); }
    ScriptedDeviceSpec Device(std::wstring name,
                              std::vector<ScriptedPinSpec> pins = {{L"Capture"}}) {
        ScriptedDeviceSpec script;
        script.friendlyName = std::move(name);
        script.inputPins = std::move(pins);
        return script;
    }
    std::shared_ptr<media::scripted::ScriptedMedia> media;
    MessageRecorder messages;
};

TEST_F(MonikerListTest, DevicesWithoutFriendlyNameAreLeftOutAndDuplicatesResolveToTheFirst) {
    auto nameless = Device(L"ignored");
    nameless.hasFriendlyName = false;
    media->devices = {Device(L"Same"), nameless, Device(L"Same"), Device(L"Other")};
    MonikerList list;
    ASSERT_EQ(list.EnumFilters(), S_OK);
    EXPECT_EQ(list.m_nCount, 3);
    EXPECT_THAT(list.m_Names, ElementsAre(L"Same", L"Same", L"Other"));
    EXPECT_EQ(list.FindMoniker(L"Same"), 0);
    EXPECT_EQ(list.FindMoniker(L"Other"), 2);
    EXPECT_EQ(list.FindMoniker(L"other"), -1);
    EXPECT_EQ(list.FindMoniker(nullptr), -1);
    EXPECT_TRUE(messages.Messages().empty()) << "a missing name is not reported";
}

TEST_F(MonikerListTest, IndicesAtTheCountAreRefusedWithoutChange) {
    media->devices = {Device(L"A", {{L"One"}, {L"Two"}})};
    MonikerList list;
    ASSERT_EQ(list.EnumFilters(), S_OK);
    EXPECT_EQ(list.SetMonikerIndex(1), E_INVALIDARG);
    EXPECT_EQ(list.m_nCurrent, -1);
    ASSERT_EQ(list.SetMonikerIndex(0), S_OK);
    EXPECT_EQ(list.m_nActivePin, -1) << "binding leaves every pin disabled";
    EXPECT_EQ(list.ActivateInputPin(2), E_INVALIDARG);
    EXPECT_EQ(list.ActivateInputPin(-1), E_INVALIDARG);
    EXPECT_EQ(list.m_nActivePin, -1);
}

TEST_F(MonikerListTest, ActivatingMovesBetweenPinsAndAppliesTheLevel) {
    media->devices = {Device(L"A", {{L"One"}, {L"Two"}})};
    MonikerList list;
    list.EnumFilters();
    list.SetMonikerIndex(0);
    ASSERT_EQ(list.ActivateInputPin(0), S_OK);
    EXPECT_TRUE(media->Mixer(0, 0).enabled);
    EXPECT_DOUBLE_EQ(media->Mixer(0, 0).level, 0.5);
    ASSERT_EQ(list.ActivateInputPin(1), S_OK);
    EXPECT_FALSE(media->Mixer(0, 0).enabled);
    EXPECT_TRUE(media->Mixer(0, 1).enabled);
    // The same pin twice: disabled and enabled again.
    int calls = media->Mixer(0, 1).enableCalls;
    ASSERT_EQ(list.ActivateInputPin(1), S_OK);
    EXPECT_EQ(media->Mixer(0, 1).enableCalls, calls + 2);
    EXPECT_TRUE(media->Mixer(0, 1).enabled);
}

TEST_F(MonikerListTest, LongPinNamesAreCutTo127Characters) {
    std::wstring longName(200, L'x');
    media->devices = {Device(L"A", {{longName, false}})};
    MonikerList list;
    list.EnumFilters();
    list.SetMonikerIndex(0);
    ASSERT_EQ(list.m_nPinCount, 1);
    EXPECT_EQ(list.m_InputPinNames[0], std::wstring(127, L'x'));
}

TEST_F(MonikerListTest, LevelIsKeptWhereTheDeviceRefusesAutomaticGainOrItsReadBack) {
    media->devices = {Device(L"A", {{L"Plain"}}), Device(L"B", {{L"Agc", true, S_OK, true}}),
                      Device(L"C", {{L"Unreadable", true, S_OK, false, false}})};
    MonikerList list;
    list.EnumFilters();
    list.SetMonikerIndex(0);
    list.ActivateInputPin(0);
    list.ApplyAutomaticGain();
    EXPECT_DOUBLE_EQ(list.m_MixLevel, 0.5);
    list.SetMonikerIndex(2);
    list.ActivateInputPin(0);
    list.ApplyAutomaticGain();
    EXPECT_DOUBLE_EQ(list.m_MixLevel, 0.5) << "a failed read-back must not mute the next pin";
    list.SetMonikerIndex(1);
    list.ActivateInputPin(0);
    list.ApplyAutomaticGain();
    EXPECT_DOUBLE_EQ(list.m_MixLevel, media::AMF_AUTOMATICGAIN);
}

TEST_F(MonikerListTest, PinWithoutMixerFailsStartUpWithItsReport) {
    media->devices = {Device(L"A", {{L"NoMixer", false}})};
    InputData input;
    EXPECT_TRUE(FAILED(input.EnumInputDevices()));
    EXPECT_EQ(input.m_MonikerList.m_nActivePin, -1);
    auto texts = messages.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_THAT(texts[0], StartsWith(L"m_MonikerList.ActivateInputPin(0)\n failed with error "));
}

TEST_F(MonikerListTest, FailedSwitchKeepsTheDeviceInUseAndLaterSwitchesRecover) {
    media->devices = {Device(L"A", {{L"One"}, {L"Two"}}), Device(L"B")};
    media->devices[1].bindObjectResult = E_FAIL;
    InputData input;
    ASSERT_TRUE(CreateTempFiles(input));
    ASSERT_EQ(input.InitCapture(), S_OK);
    input.m_CaptureState = CAPTURE_READY;
    ASSERT_EQ(input.SetInputPin(1), S_OK);
    EXPECT_TRUE(FAILED(input.SetInputDevice(1)));
    EXPECT_EQ(input.m_MonikerList.m_nCurrent, 0) << "the name saved is the device recording";
    EXPECT_EQ(input.m_MonikerList.m_nActivePin, 1);
    EXPECT_EQ(input.StartCapturing(nullptr), S_OK);

    media->devices[0].bindObjectResult = E_FAIL;
    EXPECT_TRUE(FAILED(input.SetInputDevice(1)));
    EXPECT_EQ(input.m_MonikerList.m_nCurrent, -1) << "neither device binds: none is in use";
    EXPECT_EQ(input.StartCapturing(nullptr), E_FAIL);
    EXPECT_THAT(messages.Texts().back(), StartsWith(L"Recording failed with error"));

    media->devices[1].bindObjectResult = S_OK;
    EXPECT_EQ(input.SetInputDevice(1), S_OK);
    EXPECT_EQ(input.m_MonikerList.m_nCurrent, 1);
    EXPECT_EQ(input.StartCapturing(nullptr), S_OK);
}

TEST_F(MonikerListTest, RemoveAllEmptiesTheList) {
    media->devices = {Device(L"A"), Device(L"B")};
    MonikerList list;
    list.EnumFilters();
    list.SetMonikerIndex(1);
    list.ActivateInputPin(0);
    list.RemoveAll();
    EXPECT_EQ(list.m_nCount, 0);
    EXPECT_EQ(list.m_nCurrent, -1);
    EXPECT_EQ(list.m_nPinCount, 0);
    EXPECT_EQ(list.m_nActivePin, -1);
    EXPECT_EQ(list.Filter(), nullptr);
    EXPECT_TRUE(list.m_Names.empty());
}

TEST(InputDataVolume, MapsTrackbarPositionsAndClamps) {
    InputData input;
    EXPECT_EQ(input.GetVolume(), 50);
    input.SetVolume(150);
    EXPECT_EQ(input.volume, 0);
    input.SetVolume(-5);
    EXPECT_EQ(input.volume, -10000);
    EXPECT_EQ(input.GetVolume(), 0);
    input.SetVolume(37);
    EXPECT_EQ(input.volume, -6300);
    EXPECT_EQ(input.GetVolume(), 37);
}

}  // namespace
