// The learner's side over the scripted backend: the capture devices and their
// mixers, the voice test and the voice-activated recording, the take's playback.
#include <gmock/gmock.h>

#include "InputData.h"
#include "LastError.h"
#include "MessageRecorder.h"
#include "MonikerList.h"
#include "ScriptedMedia.h"
#include "TestAudio.h"

using media::scripted::ScriptedDevice;
using media::scripted::ScriptedPin;
using ::testing::ElementsAre;
using ::testing::StartsWith;
using Bytes = std::vector<std::uint8_t>;

namespace {

const media::WaveFormat kMono16{1, 1, 16000, 32000, 2, 16};

// Alternating +-amplitude, 16-bit mono.
Bytes Square(int amplitude, int frames) {
    std::vector<std::int16_t> samples;
    for (int i = 0; i < frames; ++i)
        samples.push_back(static_cast<std::int16_t>(i % 2 ? amplitude : -amplitude));
    return media::scripted::Pcm16(samples);
}

ScriptedDevice Device(std::wstring name, std::vector<ScriptedPin> pins = {{L"Capture"}}) {
    return {.friendlyName = std::move(name), .inputPins = std::move(pins), .format = kMono16};
}

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        media = media::scripted::InstallScriptedMedia();
        media->devices = {Device(L"Mic")};
    }
    void TearDown() override {
        input.reset();
        media::SetMediaFactory(nullptr);
    }
    // A fresh input on the first device, started.
    void Start(IWindow* window = nullptr) {
        input = std::make_unique<InputData>();
        ASSERT_TRUE(CreateTempFiles(*input));
        ASSERT_EQ(input->InitCapture(), S_OK);
        input->m_CaptureState = CAPTURE_READY;
        ASSERT_EQ(input->StartCapturing(window), S_OK);
    }
    void Feed(const Bytes& b) { input->AddSamples(b.data(), static_cast<long>(b.size()), 0); }

    std::shared_ptr<media::scripted::ScriptedMedia> media;
    MessageRecorder messages;
    std::unique_ptr<InputData> input;
};

// The mean level after the band split against the threshold of the sample width.
TEST_F(CaptureTest, QuietBuffersAreThoseBelowTheThreshold) {
    const std::tuple<media::WaveFormat, Bytes, bool, const char*> rows[] = {
        {kMono16, Square(0, 8000), true, "silence"},
        {kMono16, Square(58, 8000), true, "the loudest quiet level"},
        {kMono16, Square(59, 8000), false, "the softest voice"},
        {kMono16, Square(30000, 3), true, "three frames never reach the level"},
        {kMono16, Square(30000, 4), false, "four frames do"},
        {{1, 1, 8000, 8000, 1, 8}, Bytes(4000, 0x80), false, "8-bit capture is never quiet"},
    };
    for (const auto& [format, b, quiet, what] : rows) {
        media->devices[0].format = format;
        Start();
        EXPECT_EQ(input->IsQuietBuffer(b.data(), static_cast<long>(b.size())), quiet) << what;
    }
}

TEST_F(CaptureTest, RecordingStartsWithTheVoiceAndEndsAtTheSecondQuietBuffer) {
    struct Window : IWindow {
        int posted = 0;
        void PostMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override { ++posted; }
    } window;
    Start(&window);
    const auto quiet = Square(10, 8000), loud = Square(2000, 8000);
    const std::pair<const Bytes*, int> steps[] = {
        {&quiet, CAPTURE_ARMED}, {&loud, CAPTURE_VOICE},     {&quiet, CAPTURE_TRAILING},
        {&loud, CAPTURE_VOICE},  {&quiet, CAPTURE_TRAILING}, {&quiet, CAPTURE_READY},
        {&loud, CAPTURE_READY}};
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        Feed(*steps[i].first);
        EXPECT_EQ(input->m_CaptureState, steps[i].second) << "after buffer " << i;
    }
    long code;
    std::intptr_t voice, unused;
    std::vector<std::intptr_t> events;
    while (input->pME->GetEvent(&code, &voice, &unused, 0) == S_OK)
        events.push_back(code == media::EC_BUFFERING_DATA ? voice : -1);
    EXPECT_THAT(events, ElementsAre(1, 0)) << "the voice's start and end";
    EXPECT_EQ(window.posted, 2);
    ASSERT_EQ(input->StopCapturing(), S_OK);
    Bytes bytes = test_audio::ReadBytes(input->wavFile.path);
    ASSERT_EQ(bytes.size(), 44u + 5 * 16000) << "from the first loud buffer to the last quiet one";
    EXPECT_TRUE(std::equal(loud.begin(), loud.end(), bytes.begin() + 44));
}

// A take stopped before any voice is empty and still plays.
TEST_F(CaptureTest, AnEmptyTakePlaysAndItsPlaybackTakesOneEventPerCall) {
    Start();
    EXPECT_EQ(input->StartCapturing(nullptr), E_FAIL) << "already started";
    ASSERT_EQ(input->StopCapturing(), S_OK);
    EXPECT_EQ(input->StopCapturing(), S_OK) << "a stopped graph only becomes ready again";
    EXPECT_EQ(input->m_CaptureState, CAPTURE_READY);
    input->Play(true);
    auto take = WidenUtf8(input->wavFile.path);
    ASSERT_TRUE(media->LastPlayback(take).running);
    media->NotifyRendered(take, media::EC_ERRORABORT);
    media->NotifyRendered(take, media::EC_COMPLETE);
    EXPECT_FALSE(input->IsPlaybackFinished()) << "the break comes first";
    EXPECT_TRUE(input->IsPlaybackFinished());
    EXPECT_THAT(messages.Texts(), ElementsAre(StartsWith(L"Playback failed with error")));
    media->renderFileResult = E_FAIL;
    input->Play(true);
    EXPECT_TRUE(input->IsPlaybackFinished()) << "a take that can't be rendered counts as played";
    EXPECT_EQ(messages.Texts().size(), 1u);
    input->SetVolume(-5);
    EXPECT_EQ(input->volume, -10000) << "the volume is clamped";
    input->m_CaptureState = CAPTURE_BUSY;  // a stop under way
    Feed(Square(3000, 8000));
    EXPECT_EQ(input->m_CaptureState, CAPTURE_BUSY) << "late buffers are dropped";
}

// Automatic gain where the device has it, else the level is kept.
TEST_F(CaptureTest, DeviceListSkipsNamelessDevicesRefusesIndicesPastTheEndAndSetsTheGain) {
    media->devices = {Device(L"Same", {{L"One"}, {L"Two"}}), Device(L"ignored"), Device(L"Same"),
                      Device(L"Agc", {{L"Agc", true}}),
                      Device(L"Unreadable", {{L"Unreadable", false, false}})};
    media->devices[1].hasFriendlyName = false;
    MonikerList list;
    ASSERT_EQ(list.EnumFilters(), S_OK);
    EXPECT_THAT(list.m_Names, ElementsAre(L"Same", L"Same", L"Agc", L"Unreadable"));
    EXPECT_EQ(list.FindMoniker(L"Same"), 0) << "a duplicate name finds the first";
    EXPECT_EQ(list.FindMoniker(L"Agc"), 2);
    EXPECT_EQ(list.SetMonikerIndex(4), E_INVALIDARG);
    EXPECT_EQ(list.m_nCurrent, -1);
    ASSERT_EQ(list.SetMonikerIndex(0), S_OK);
    EXPECT_EQ(list.ActivateInputPin(2), E_INVALIDARG);
    EXPECT_EQ(list.m_nActivePin, -1) << "binding leaves every pin disabled";
    ASSERT_EQ(list.ActivateInputPin(0), S_OK);
    ASSERT_EQ(list.ActivateInputPin(1), S_OK);
    EXPECT_FALSE(media->Mixer(0, 0).enabled);
    EXPECT_TRUE(media->Mixer(0, 1).enabled);
    // A failed read-back must not mute the next pin.
    for (auto [device, level] : {std::pair{1, 0.5}, {3, 0.5}, {2, media::AMF_AUTOMATICGAIN}}) {
        list.SetMonikerIndex(device);
        list.ActivateInputPin(0);
        list.ApplyAutomaticGain();
        EXPECT_DOUBLE_EQ(list.m_MixLevel, level) << device;
    }
}

// The presenter's tests switch back to the device in use; here its pin stays too,
// and when no device binds, none is in use.
TEST_F(CaptureTest, FailedSwitchKeepsTheDeviceAndPinInUseOrNoneAndLaterSwitchesRecover) {
    media->devices = {Device(L"A", {{L"One"}, {L"Two"}}), Device(L"B")};
    media->devices[1].bindObjectResult = E_FAIL;
    Start();
    ASSERT_EQ(input->StopCapturing(), S_OK);
    ASSERT_EQ(input->SetInputPin(1), S_OK);
    EXPECT_TRUE(FAILED(input->SetInputDevice(1)));
    EXPECT_EQ(input->m_MonikerList.m_nActivePin, 1);
    media->devices[0].bindObjectResult = E_FAIL;
    EXPECT_TRUE(FAILED(input->SetInputDevice(1)));
    EXPECT_EQ(input->m_MonikerList.m_nCurrent, -1) << "neither device binds: none is in use";
    EXPECT_EQ(input->StartCapturing(nullptr), E_FAIL);
    EXPECT_THAT(messages.Texts().back(), StartsWith(L"Recording failed with error"));

    media->devices[1].bindObjectResult = S_OK;
    EXPECT_EQ(input->SetInputDevice(1), S_OK);
    EXPECT_EQ(input->StartCapturing(nullptr), S_OK);
}

}  // namespace
