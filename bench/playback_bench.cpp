// How closely the narrator's playback keeps time, on the GStreamer backend
// against a private PulseAudio server (as the integration tests start it), by
// ear: the output's monitor is recorded and placed in the file by
// cross-correlation. Prints one "name=value" line a figure; asserts nothing.
//
//   cursor_lag_ms_min/max   the cursor against what was being heard, per 10 ms tick
//   cursor_drift_ms         max - min of that lag over one selection
//   end_after_last_heard_ms the end reported after the selection's last sample was heard
//   volume_heard_after_ms   a turn to silence while playing, until the output fell silent
//   phrases_whole           of 50 short phrases in a row, how many were heard whole
//   phrases_ended           of those, how many reported their end
//   output_rebuilds         stalled outputs the watchdog rebuilt meanwhile
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BenchSetup.h"
#include "GstBackend.h"
#include "LastError.h"
#include "MessageBox.h"
#include "Playback.h"
#include "PulseServer.h"
#include "SourceData.h"

using namespace test_audio;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr long kRate = 22050;
constexpr long kMs = kRate / 1000;

struct Tick {
    std::size_t heard;  // frames the monitor had by then
    std::int32_t cursor;
};

// Plays the selection, following it every 10 ms until its end is reported
// (20 s at most); `tick` runs at every tick.
template <class OnTick>
std::vector<Tick> PlaySelection(SourceData& source, const MonitorRecorder& monitor, long first,
                                long end, OnTick tick) {
    std::vector<Tick> ticks;
    source.selectionStart = static_cast<std::int32_t>(first);
    source.selectionEnd = static_cast<std::int32_t>(end);
    source.cursorSample = source.selectionStart;
    source.PlaySelection(true);
    for (auto giveUp = Clock::now() + 20s; Clock::now() < giveUp;) {
        bool going = source.UpdateSelectionPlayback();
        ticks.push_back({monitor.Frames(), source.cursorSample});
        tick();
        if (!going)
            break;
        std::this_thread::sleep_for(10ms);
    }
    source.PlaySelection(false);
    return ticks;
}

long LoudFrom(const std::vector<float>& file, long from) {
    float level = 0.3f * Peak(file);
    while (from < static_cast<long>(file.size()) && std::fabs(file[from]) < level)
        ++from;
    return from;
}

void Print(const char* name, double value) {
    std::printf("%s=%.1f\n", name, value);
}

void Unavailable(const char* name) {
    std::printf("%s unavailable\n", name);
}

}  // namespace

int main() {
    SetUpBenchmark("playback_bench");
    PulseServer server(0);
    ScratchFolder folder("playback-bench");
    std::string speech = folder.Path("speech.wav");
    std::string tone = folder.Path("tone.wav");
    if (!server.Running() ||
        !RunTool({"espeak-ng", "-w", speech,
                  "Peter Piper picked a peck of pickled peppers. "
                  "How many pickled peppers did he pick?"}) ||
        !RunTool({"sox", "-n", "-r", "22050", "-c", "1", "-b", "16", tone, "synth", "3", "sine",
                  "440", "vol", "0.5"})) {
        std::fprintf(stderr, "playback_bench: no server or no inputs (%s)\n",
                     server.Error().c_str());
        return 1;
    }
    auto file = ReadWav(speech)->Samples();
    SourceData source;
    if (!source.LoadFile(WidenUtf8(speech).c_str()))
        return 1;

    // The cursor against the audio, over one selection.
    {
        long first = LoudFrom(file, kRate);
        long end = LoudFrom(file, 5 * kRate / 2) + 1;
        MonitorRecorder monitor;
        monitor.AwaitFrames(2205);
        auto ticks = PlaySelection(source, monitor, first, end, [] {});
        monitor.AwaitFrames(monitor.Frames() + 6615);
        monitor.Stop();
        auto heard = monitor.Heard();
        auto span = LoudSpan(heard, 0.1f * Peak(file));
        std::vector<double> lag;
        for (const Tick& t : ticks) {
            if (!span || t.cursor <= first || t.cursor >= end - 1)
                continue;
            double heardThen =
                first + static_cast<double>(t.heard) - static_cast<double>(span->first);
            lag.push_back((t.cursor - heardThen) / kMs);
        }
        if (lag.empty()) {
            Unavailable("cursor_lag_ms");
        } else {
            auto [low, high] = std::minmax_element(lag.begin(), lag.end());
            Print("cursor_lag_ms_min", *low);
            Print("cursor_lag_ms_max", *high);
            Print("cursor_drift_ms", *high - *low);
            Print("end_after_last_heard_ms",
                  (static_cast<double>(ticks.back().heard) - static_cast<double>(span->second)) /
                      kMs);
        }
    }

    // A turn to silence while playing, until the output fell silent.
    {
        long first = LoudFrom(file, kRate / 2);
        long end = LoudFrom(file, 2 * kRate) + 1;
        source.SetVolume(100);
        MonitorRecorder monitor;
        monitor.AwaitFrames(2205);
        std::size_t turnedFrame = 0;
        PlaySelection(source, monitor, first, end, [&] {
            if (turnedFrame == 0 && source.cursorSample > first + (end - first) / 3) {
                turnedFrame = monitor.Frames();
                source.SetVolume(0);
            }
        });
        monitor.AwaitFrames(monitor.Frames() + 6615);
        monitor.Stop();
        source.SetVolume(100);
        auto heard = monitor.Heard();
        auto after = std::vector<float>(
            heard.begin() + static_cast<long>(std::min(turnedFrame, heard.size())), heard.end());
        auto loud = LoudSpan(after, 1.0f);
        Print("volume_heard_after_ms", loud ? static_cast<double>(loud->second) / kMs : 0.0);
    }

    // Fifty short phrases in a row, as the training cycle plays them.
    {
        source.Clear();
        if (!source.LoadFile(WidenUtf8(tone).c_str()))
            return 1;
        auto rebuilds = media::gst::OutputRebuilds();
        MonitorRecorder monitor;
        monitor.AwaitFrames(2205);
        int whole = 0;
        int ended = 0;
        for (int i = 0; i < 50; ++i) {
            std::size_t from = monitor.Frames();
            auto ticks = PlaySelection(source, monitor, kRate / 2, kRate / 2 + 300 * kMs, [] {});
            ended += !ticks.empty() && ticks.back().cursor >= source.selectionEnd ? 1 : 0;
            monitor.AwaitFrames(monitor.Frames() + 2205);
            auto samples = monitor.Heard();
            std::size_t loud = 0;
            for (std::size_t f = from; f < samples.size(); ++f)
                loud += std::fabs(samples[f]) > 1000 ? 1 : 0;
            // A 440 Hz sine at half scale is above 1000 for ~96 % of its samples.
            whole += static_cast<double>(loud) / 0.96 / kRate > 0.29 ? 1 : 0;
        }
        Print("phrases_whole", whole);
        Print("phrases_ended", ended);
        Print("output_rebuilds", static_cast<double>(media::gst::OutputRebuilds() - rebuilds));
    }
    source.ReleaseGraph();
    return 0;
}
