// How soon the program answers the learner, on the GStreamer backend against a
// private PulseAudio server (as the integration tests start it). Prints one
// "name=value" line a figure; asserts nothing.
//
// A click is SourceData::Play or PlaySelection(true), as the presenter calls
// them for Play and Loop; it is heard when the first loud frame of the narrator
// (a tone, loud from the selection's first sample) arrives on the output's
// monitor (parec). The monitor delivers what the null sink renders as it
// renders it, so the arrival is at most the monitor's own delay after the
// sample was at the sink: that delay is not taken off, and the figures are
// upper bounds by monitor_latency_ms.
//
//   click_to_sound_after_load_ms  the first click after a file was loaded and
//                                 left a second (median of the loads)
//   click_to_sound_after_stop_ms  a click after a stop, as Pause leaves the
//                                 graph and as each phrase of the cycle starts
//                                 (median)
//   click_to_sound_ms             the slower of those two
//   click_to_sound_server_ms      the same, until the server reports the first
//                                 sample played: the renderer's clock, which
//                                 follows the sink's position with the server's
//                                 latency taken off, starts to move
//   monitor_latency_ms            what the monitor adds: a stream of the bench's
//                                 own, kept playing, turns loud when the server
//                                 says its audio takes so long to be played;
//                                 arrival on the monitor minus that (median)
//   device_switch_ms              the input device switched (SetInputDevice
//                                 and the stop on its first pin, as the device
//                                 list's choice calls them) until the capture
//                                 graph runs on the new device: StartCapturing
//                                 returned with the graph PLAYING and the
//                                 recording armed (median)
//   device_switch_first_buffer_ms the same switches until the new device's
//                                 first half-second buffer arrived, the half
//                                 second it holds included (median)
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSetup.h"
#include "GstBackend.h"
#include "InputData.h"
#include "LastError.h"
#include "MessageBox.h"
#include "PulseServer.h"
#include "SourceData.h"
#include "TempFile.h"
#include "Window.h"

using namespace test_audio;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr long kRate = 22050;  // of the tone, and of what MonitorRecorder hands back
constexpr int kLoads = 4;
constexpr int kClicksAfterStop = 3;  // per load
constexpr int kSwitches = 10;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? NAN : values[values.size() / 2];
}

void Print(const char* name, double value) {
    std::printf("%s=%.1f\n", name, value);
    std::fflush(stdout);
}

// Notes when each chunk of the monitor arrives, so that a frame's arrival
// time is known afterwards.
class ArrivalLog {
  public:
    explicit ArrivalLog(const MonitorRecorder& monitor)
        : thread_([this, &monitor](std::stop_token stop) {
              for (std::size_t last = monitor.Frames(); !stop.stop_requested();) {
                  std::size_t now = monitor.Frames();
                  if (now != last) {
                      std::lock_guard lock(mutex_);
                      arrivals_.emplace_back(Clock::now(), now);
                      last = now;
                  }
                  std::this_thread::sleep_for(100us);
              }
          }) {}

    // When the monitor's frame `frame` had arrived; ends the log.
    std::optional<Clock::time_point> ArrivalOf(std::size_t frame) {
        thread_.request_stop();
        thread_.join();
        for (auto [when, frames] : arrivals_) {
            if (frames > frame)
                return when;
        }
        return std::nullopt;
    }

  private:
    std::mutex mutex_;
    std::vector<std::pair<Clock::time_point, std::size_t>> arrivals_;
    std::jthread thread_;
};

// When the first loud frame after `from` arrived on the monitor, which is
// stopped then.
std::optional<Clock::time_point> HeardAt(MonitorRecorder& monitor, ArrivalLog& arrivals,
                                         std::size_t from) {
    monitor.AwaitFrames(monitor.Frames() + kRate / 2);
    monitor.Stop();
    auto heard = monitor.Heard();
    for (std::size_t i = from; i < heard.size(); ++i) {
        if (std::fabs(heard[i]) > 2000)
            return arrivals.ArrivalOf(i);
    }
    return std::nullopt;
}

struct Click {
    std::optional<double> heardMs;
    std::optional<double> serverMs;
};

// Play (whole) or Loop clicked, the narrator heard for half a second, then
// stopped as Pause does.
Click ClickAndHear(SourceData& source, bool whole) {
    Click click;
    source.cursorSample = source.selectionStart = static_cast<std::int32_t>(kRate / 2);
    source.selectionEnd = static_cast<std::int32_t>(2 * kRate);
    MonitorRecorder monitor;
    if (!monitor.AwaitFrames(kRate / 5))
        return click;
    std::size_t from = monitor.Frames();
    ArrivalLog arrivals(monitor);
    std::this_thread::sleep_for(20ms);
    auto clicked = Clock::now();
    whole ? source.Play(true) : source.PlaySelection(true);
    for (auto giveUp = clicked + 3s; Clock::now() < giveUp; std::this_thread::sleep_for(200us)) {
        std::int64_t now = source.clockAtStart;
        if (source.pRC && SUCCEEDED(source.pRC->GetTime(&now)) && now > source.clockAtStart) {
            click.serverMs = Ms(Clock::now() - clicked);
            break;
        }
    }
    auto heard = HeardAt(monitor, arrivals, from);
    whole ? source.Play(false) : source.StopGraph();
    if (heard)
        click.heardMs = Ms(*heard - clicked);
    return click;
}

double MonitorLatencyMs() {
    pa_sample_spec format{PA_SAMPLE_S16LE, 44100, 2};
    pa_buffer_attr attr{};
    attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(10000, &format));
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "response_bench", PA_STREAM_PLAYBACK, nullptr,
                                      "calibration", &format, nullptr, &attr, &error);
    if (!stream)
        return NAN;
    // 10 ms blocks: silence, or a square wave on the left channel.
    std::vector<std::int16_t> quiet(2 * 441, 0), loud(2 * 441, 0);
    for (std::size_t i = 0; i < loud.size(); i += 2)
        loud[i] = (i / 2) % 50 < 25 ? 16000 : -16000;
    std::atomic<bool> turn{false}, done{false};
    std::atomic<double> latencyMs{NAN};
    std::thread writer([&] {
        for (int loudLeft = 0; !done;) {
            if (turn.exchange(false)) {
                latencyMs = static_cast<double>(pa_simple_get_latency(stream, &error)) / 1000.0;
                loudLeft = 20;
            }
            auto& block = loudLeft-- > 0 ? loud : quiet;
            pa_simple_write(stream, block.data(), block.size() * 2, &error);
        }
    });
    std::vector<double> found;
    for (int round = 0; round < 5; ++round) {
        MonitorRecorder monitor;
        if (!monitor.AwaitFrames(kRate / 5))
            break;
        std::size_t from = monitor.Frames();
        ArrivalLog arrivals(monitor);
        std::this_thread::sleep_for(20ms);
        auto turned = Clock::now();
        turn = true;
        if (auto heard = HeardAt(monitor, arrivals, from))
            found.push_back(Ms(*heard - turned) - latencyMs.load());
    }
    done = true;
    writer.join();
    pa_simple_free(stream);
    return Median(found);
}

void MeasureClicks() {
    ScratchFolder folder("response-bench");
    std::string tone = folder.Path("tone.wav");
    if (!RunTool({"sox", "-n", "-r", "22050", "-c", "1", "-b", "16", tone, "synth", "3", "sine",
                  "440", "vol", "0.5"})) {
        std::printf("click_to_sound_ms unavailable\n");
        return;
    }
    SourceData source;
    std::vector<double> afterLoad, afterStop, serverAfterLoad, serverAfterStop;
    int missed = 0;
    for (int load = 0; load < kLoads; ++load) {
        source.Clear();
        if (!source.LoadFile(WidenUtf8(tone).c_str()))
            break;
        std::this_thread::sleep_for(1s);
        for (int i = 0; i <= kClicksAfterStop; ++i) {
            Click click = ClickAndHear(source, (load + i) % 2 == 0);
            if (click.heardMs)
                (i == 0 ? afterLoad : afterStop).push_back(*click.heardMs);
            if (click.serverMs)
                (i == 0 ? serverAfterLoad : serverAfterStop).push_back(*click.serverMs);
            missed += click.heardMs ? 0 : 1;
        }
    }
    source.ReleaseGraph();
    if (missed > 0)
        std::fprintf(stderr, "response_bench: %d clicks were not heard\n", missed);
    if (afterLoad.empty() || afterStop.empty()) {
        std::printf("click_to_sound_ms unavailable\n");
        return;
    }
    Print("click_to_sound_after_load_ms", Median(afterLoad));
    Print("click_to_sound_after_stop_ms", Median(afterStop));
    Print("click_to_sound_ms", std::max(Median(afterLoad), Median(afterStop)));
    Print("click_to_sound_server_ms", std::max(Median(serverAfterLoad), Median(serverAfterStop)));
}

class NoWindow final : public IWindow {
  public:
    void PostMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
};

// The learner's input, noting when its first buffer arrives.
class TimedInput final : public InputData {
  public:
    void AddSamples(const std::uint8_t* buffer, long length, double sampleTime) override {
        Clock::rep none = 0;
        firstBuffer_.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
        InputData::AddSamples(buffer, length, sampleTime);
    }
    void Forget() { firstBuffer_ = 0; }
    std::optional<Clock::time_point> FirstBuffer() const {
        Clock::rep at = firstBuffer_.load();
        return at ? std::optional(Clock::time_point(Clock::duration(at))) : std::nullopt;
    }

  private:
    std::atomic<Clock::rep> firstBuffer_{0};
};

void MeasureSwitches() {
    TimedInput input;
    NoWindow window;
    if (!CreateTempFiles(input) || FAILED(input.InitCapture())) {
        std::printf("device_switch_ms unavailable\n");
        return;
    }
    input.m_CaptureState = CAPTURE_READY;
    std::vector<double> running, firstBuffer;
    for (int i = 0; i < kSwitches; ++i) {
        int target = (input.Devices().Current() + 1) % 2;
        input.Forget();
        auto asked = Clock::now();
        HRESULT hr = input.SetInputDevice(target);
        if (SUCCEEDED(hr))
            hr = input.StopOnFirstPin();
        if (SUCCEEDED(hr))
            hr = input.StartCapturing(&window);
        auto runs = Clock::now();
        // The two microphones differ in rate: the recording's tells which one runs.
        std::uint32_t rate = target == 0 ? 16000 : 44100;
        if (FAILED(hr) || input.m_CaptureState != CAPTURE_ARMED || input.sampleRate != rate) {
            std::fprintf(stderr, "response_bench: switch %d failed: %s\n", i,
                         NarrowUtf8(GetLastErrorText()).c_str());
            input.StopCapturing();
            continue;
        }
        running.push_back(Ms(runs - asked));
        for (auto giveUp = runs + 3s; !input.FirstBuffer() && Clock::now() < giveUp;)
            std::this_thread::sleep_for(200us);
        if (auto first = input.FirstBuffer())
            firstBuffer.push_back(Ms(*first - asked));
        input.StopCapturing();
    }
    input.ShutdownCapture();
    if (running.empty()) {
        std::printf("device_switch_ms unavailable\n");
        return;
    }
    Print("device_switch_ms", Median(running));
    Print("device_switch_first_buffer_ms", Median(firstBuffer));
}

}  // namespace

int main() {
    SetUpBenchmark("response_bench");
    // Microphone 1 is 16 kHz mono, microphone 2 44.1 kHz stereo.
    PulseServer server({{16000, 1}, {44100, 2}});
    if (!server.Running()) {
        std::fprintf(stderr, "response_bench: no server (%s)\n", server.Error().c_str());
        return 1;
    }
    Print("monitor_latency_ms", MonitorLatencyMs());
    MeasureClicks();
    MeasureSwitches();
    return 0;
}
