// The capture devices of the GStreamer backend on a private PulseAudio server:
// which sources are listed, the input level each one's mixer sets, and a
// server that stops answering.
#include <gmock/gmock.h>

#include <fstream>
#include <regex>

#include "Eventually.h"
#include "InputData.h"
#include "LastError.h"
#include "MessageRecorder.h"
#include "PulseServer.h"
#include "TempFile.h"

using namespace media;
using ::testing::HasSubstr;

namespace {

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new PulseEnvironment({{16000, 1}, {48000, 2}}, {}, false));

HRESULT ListDevices(std::vector<std::shared_ptr<IMoniker>>* devices) {
    std::shared_ptr<ICreateDevEnum> enumerator;
    std::shared_ptr<IEnumMoniker> list;
    HRESULT hr = CoCreateInstance(Clsid::SystemDeviceEnum, &enumerator);
    if (SUCCEEDED(hr))
        hr = enumerator->CreateClassEnumerator(DeviceCategory::AudioInput, &list);
    for (std::shared_ptr<IMoniker> device; list && list->Next(&device) == S_OK;)
        devices->push_back(device);
    return hr;
}

class DevicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ListDevices(&devices), S_OK) << NarrowUtf8(GetLastErrorText());
    }
    std::vector<std::shared_ptr<IMoniker>> devices;
};

// Each row sets one device's level; the server then holds `percent` on every
// channel of that source, and a refused level leaves the one set before. The
// monitors are not listed as microphones.
TEST_F(DevicesTest, MixLevelIsTheSourceVolumeOnEveryChannel) {
    ASSERT_EQ(devices.size(), 2u);
    struct Row {
        std::size_t device;
        double level;
        HRESULT result;
        int percent;
    } rows[] = {{0, 0.3, S_OK, 30},
                {1, 0.5, S_OK, 50},
                {0, AMF_AUTOMATICGAIN, E_NOTIMPL, 30},
                {0, 1.5, E_INVALIDARG, 30},
                {1, -0.5, E_INVALIDARG, 50},
                {0, 1.0, S_OK, 100},
                {1, 1.0, S_OK, 100}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.level);
        std::shared_ptr<IBaseFilter> filter;
        std::shared_ptr<IPin> pin;
        std::shared_ptr<IAMAudioInputMixer> mixer;
        ASSERT_EQ(devices[row.device]->BindToObject(&filter), S_OK);
        ASSERT_EQ(filter->FindPin(L"Capture", &pin), S_OK);
        ASSERT_EQ(QueryInterface(pin, &mixer), S_OK);
        EXPECT_EQ(mixer->put_MixLevel(row.level), row.result);
        double level = -1;
        EXPECT_EQ(mixer->get_MixLevel(&level), S_OK);
        EXPECT_NEAR(level, row.percent / 100.0, 0.001);
        auto mic = "get-source-volume test_mic" + std::to_string(row.device + 1);
        std::string volume = PulseEnvironment::Server()->Pactl(mic).value_or("");
        std::regex percent(" " + std::to_string(row.percent) + "%");
        auto channels = std::distance(std::sregex_iterator(volume.begin(), volume.end(), percent),
                                      std::sregex_iterator());
        EXPECT_EQ(channels, static_cast<long>(row.device) + 1) << volume;
    }
}

// Every call that needs the server gives up after its deadline with the reason,
// and works again once the server answers.
TEST_F(DevicesTest, HungServerMakesDeviceCallsFailInsteadOfHanging) {
    MessageRecorder recorder;
    InputData input;
    ASSERT_TRUE(CreateTempFiles(input));
    ASSERT_EQ(input.InitCapture(), S_OK);
    input.m_CaptureState = CAPTURE_READY;
    // Stopped, its socket still takes connections but nothing answers.
    ::kill(PulseEnvironment::Server()->Pid(), SIGSTOP);
    ASSERT_TRUE(Eventually([] {  // a signal is asked for, not at once obeyed
        std::ifstream stat("/proc/" + std::to_string(PulseEnvironment::Server()->Pid()) + "/stat");
        return std::string(std::istreambuf_iterator<char>(stat), {}).find(") T ") !=
               std::string::npos;
    }));

    std::vector<std::shared_ptr<IMoniker>> none;
    EXPECT_TRUE(FAILED(ListDevices(&none)));
    EXPECT_THAT(NarrowUtf8(GetLastErrorText()), HasSubstr("did not answer"));
    EXPECT_TRUE(FAILED(input.StartCapturing(nullptr)));
    ASSERT_EQ(recorder.Texts().size(), 1u);
    EXPECT_THAT(NarrowUtf8(recorder.Texts()[0]),
                ::testing::AllOf(HasSubstr("Recording from \"Test Microphone 1\""),
                                 HasSubstr("did not answer")));
    ::kill(PulseEnvironment::Server()->Pid(), SIGCONT);
    EXPECT_EQ(ListDevices(&none), S_OK);
    EXPECT_EQ(input.StartCapturing(nullptr), S_OK) << NarrowUtf8(GetLastErrorText());
    EXPECT_EQ(input.StopCapturing(), S_OK);
    input.ShutdownCapture();
}

}  // namespace
