// The playing cursor as the program computes it: loads a narrator file with
// SourceData on the GStreamer backend, plays it from the start and, every
// 10 ms as the window's timer would, calls UpdatePlayback and logs the
// cursor's sample against the monotonic clock. cycle_bench.py records the
// default output meanwhile and compares the two; this program only logs.
//
//   cursor_bench FILE SECONDS LOG [FROM]
//
// FROM: seconds into the file where playing starts (0 by default), put into
// the cursor as a click on the waveform would.
// LOG gets one line per tick: nanoseconds of CLOCK_MONOTONIC (the clock
// Python's time.monotonic reads), the cursor sample, and 1 while playing goes
// on. The first line is "rate SAMPLES-PER-SECOND SAMPLES DURATION", the
// duration in 100-ns units as the playback graph reported it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "BenchSetup.h"
#include "GstBackend.h"
#include "LastError.h"
#include "MessageBox.h"
#include "SourceData.h"

namespace {

using Clock = std::chrono::steady_clock;

long long Nanoseconds(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: cursor_bench FILE SECONDS LOG [FROM]\n");
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    SetUpBenchmark("cursor_bench");
    auto source = std::make_unique<SourceData>();
    if (!source->LoadFile(WidenUtf8(argv[1]).c_str()) || source->sampleCount <= 0) {
        std::fprintf(stderr, "cursor_bench: could not load %s\n", argv[1]);
        return 1;
    }
    std::FILE* log = std::fopen(argv[3], "w");
    if (!log) {
        std::fprintf(stderr, "cursor_bench: cannot write %s\n", argv[3]);
        return 1;
    }
    std::fprintf(log, "rate %u %d %lld\n", source->sampleRate, source->sampleCount,
                 static_cast<long long>(source->duration));
    source->SetVolume(100);
    const double from = argc == 5 ? std::atof(argv[4]) : 0.0;
    source->SetCursor(static_cast<int>(from * source->sampleRate * source->zoom));

    const auto period = std::chrono::milliseconds(10);
    const auto start = Clock::now();
    source->Play(true);
    std::fprintf(log, "%lld %d 1\n", Nanoseconds(start), source->cursorSample);
    auto next = start + period;
    bool playing = true;
    while (playing && Clock::now() - start < std::chrono::duration<double>(seconds)) {
        std::this_thread::sleep_until(next);
        next += period;
        // The time stamp is taken next to the clock read, as a paint would show it.
        playing = source->UpdatePlayback();
        std::fprintf(log, "%lld %d %d\n", Nanoseconds(Clock::now()), source->cursorSample,
                     playing ? 1 : 0);
    }
    source->Play(false);
    std::fclose(log);
    source->ReleaseGraph();
    source->Clear();
    return 0;
}
