// Loading a long narrator file: a 60-minute stereo 44.1 kHz MP3 decoded by
// SourceData::LoadFile on the GStreamer backend to the loaded state (the
// playback graph on a private PulseAudio server, as the integration tests start
// it), against ffmpeg decoding the same file to nothing in the same run, the
// best of three each; then finding its phrases, and GetPeaks from the closest
// zoom to the farthest. One line a figure, nothing asserted.
//
//   load_bench [DATA_FOLDER]
//
// The MP3 is made once (espeak-ng speech, repeated by sox, encoded by lame)
// and kept in DATA_FOLDER (by default bench-data in the build tree); the
// temporary store goes to DATA_FOLDER/tmp.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchSetup.h"
#include "GstBackend.h"
#include "LastError.h"
#include "MessageBox.h"
#include "PulseServer.h"
#include "SourceData.h"
#include "TestAudio.h"

#ifndef SAYALIKE_BENCH_DATA
#define SAYALIKE_BENCH_DATA "bench-data"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using test_audio::RunTool;

constexpr int kMinutes = 60;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && info.st_size > 0;
}

// About ten seconds of speech, repeated to an hour, as 128 kbit/s stereo.
bool MakeLongMp3(const std::string& folder, const std::string& mp3) {
    std::string speech = folder + "/speech.wav";
    std::string partial = mp3 + ".partial";
    if (!RunTool({"espeak-ng", "-w", speech,
                  "Peter Piper picked a peck of pickled peppers. A peck of "
                  "pickled peppers Peter Piper picked. If Peter Piper picked a "
                  "peck of pickled peppers, where is the peck he picked?"}))
        return false;
    // Repeated far enough (the speech lasts longer than five seconds), then cut.
    std::string command = "sox '" + speech + "' -r 44100 -c 2 -t wav - pad 0 0.5 repeat " +
                          std::to_string(kMinutes * 60 / 5) + " trim 0 " +
                          std::to_string(kMinutes * 60) + " | lame --quiet -b 128 - '" + partial +
                          "'";
    if (std::system(command.c_str()) != 0)
        return false;
    std::filesystem::rename(partial, mp3);
    return true;
}

void Print(const char* name, double value) {
    std::printf("%s=%.6g\n", name, value);
    std::fflush(stdout);
}

// The mean of a round of calls, best of five rounds: other processes share the
// machine, and a round they interrupt says nothing about GetPeaks. The calls take
// turns at two places a view apart, so none finds the columns of the last one.
double MeanMicrosecondsOfGetPeaks(SourceData& source, double zoom, int width, int calls) {
    source.zoom = zoom;
    const std::int32_t middle = source.sampleCount / 2;
    const auto view = static_cast<std::int32_t>(width / zoom);
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        auto start = Clock::now();
        for (int i = 0; i < calls; ++i) {
            source.scrollSample = i % 2 == 0 ? middle : std::max(middle - view, 0);
            short* peaks = nullptr;
            double startSeconds = 0, spanSeconds = 0;
            source.GetPeaks(&peaks, width, 600, &startSeconds, &spanSeconds);
            delete[] peaks;
        }
        double mean = SecondsSince(start) * 1e6 / calls;
        best = round == 0 ? mean : std::min(best, mean);
    }
    return best;
}

// Runs in a child process, so that its peak resident memory is the load's own.
// Hands the load's seconds to the parent through `report`; the first load also
// prints what it loaded and measures GetPeaks on it.
int LoadAndMeasure(const std::string& mp3, int report, bool first) {
    SetUpBenchmark("load_bench");
    auto source = std::make_unique<SourceData>();

    auto start = Clock::now();
    bool loaded = source->LoadFile(WidenUtf8(mp3).c_str());
    double seconds = SecondsSince(start);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);

    std::string text = std::to_string(seconds);
    if (::write(report, text.data(), text.size()) < 0)
        return 1;
    ::close(report);
    if (!first)
        return loaded ? 0 : 1;
    Print("load_60min_mp3_loaded", loaded ? 1 : 0);
    Print("load_60min_mp3_samples", source->sampleCount);
    Print("load_60min_mp3_peak_rss_mb", usage.ru_maxrss / 1024.0);
    if (source->sampleCount <= 0)
        return 1;

    // Finding the phrases, as the loading thread does next; the best of five.
    double phraseMs = -1;
    for (int round = 0; round < 5; ++round) {
        auto begin = Clock::now();
        bool found = source->FindPhrases();
        double ms = SecondsSince(begin) * 1e3;
        if (found && (phraseMs < 0 || ms < phraseMs))
            phraseMs = ms;
    }
    Print("phrase_detect_60min_ms", phraseMs);
    Print("phrase_count_60min", static_cast<double>(source->phrases.size()));

    // The default zoom, the two limits, and the widths of a column at which
    // GetPeaks changes how it reads (raw samples, block and group maxima).
    for (double zoom : {SourceData::kMaxZoom, SourceData::kDefaultZoom, 0.004, 0.002, 0.0005,
                        SourceData::kMinZoom}) {
        for (int width : {1000, 1920}) {
            int calls = 100;
            char name[64];
            std::snprintf(name, sizeof name, "getpeaks_zoom%g_w%d_us", zoom, width);
            Print(name, MeanMicrosecondsOfGetPeaks(*source, zoom, width, calls));
        }
    }
    source->Clear();
    return 0;
}

double SecondsOfFfmpeg(const std::string& mp3) {
    auto start = Clock::now();
    if (!RunTool(
            {"ffmpeg", "-v", "quiet", "-nostdin", "-i", mp3, "-f", "s16le", "-y", "/dev/null"}))
        return -1;
    return SecondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : SAYALIKE_BENCH_DATA;
    std::filesystem::create_directories(folder + "/tmp");
    std::string mp3 = folder + "/speech-60min-stereo-44k.mp3";
    if (!Exists(mp3)) {
        std::fprintf(stderr, "load_bench: making %s (once)\n", mp3.c_str());
        if (!MakeLongMp3(folder, mp3)) {
            std::fprintf(stderr, "load_bench: espeak-ng, sox and lame could not make the file\n");
            return 1;
        }
    }
    ::setenv("TMPDIR", (folder + "/tmp").c_str(), 1);
    // Stopped by its process id when it goes; the child only inherits its address.
    PulseServer server(0);
    if (!server.Running())
        std::fprintf(stderr, "load_bench: no sound server: %s\n", server.Error().c_str());

    // Warm the page cache for both decoders alike.
    SecondsOfFfmpeg(mp3);

    // Each the best of three, taken in turns: other processes share the
    // machine, and a run they slow down says nothing about either decoder.
    double load = -1, ffmpeg = -1;
    int result = 0;
    for (int run = 0; run < 3; ++run) {
        int report[2];
        if (::pipe(report) != 0)
            return 1;
        std::fflush(stdout);
        pid_t child = ::fork();
        if (child == 0) {
            ::close(report[0]);
            ::_exit(LoadAndMeasure(mp3, report[1], run == 0));
        }
        ::close(report[1]);
        char buffer[64] = {};
        ssize_t length = ::read(report[0], buffer, sizeof buffer - 1);
        ::close(report[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            result = 1;
        double seconds = length > 0 ? std::atof(buffer) : -1;
        if (seconds > 0 && (load < 0 || seconds < load))
            load = seconds;
        double reference = SecondsOfFfmpeg(mp3);
        if (reference > 0 && (ffmpeg < 0 || reference < ffmpeg))
            ffmpeg = reference;
    }
    Print("load_60min_mp3_seconds", load);
    Print("ffmpeg_60min_mp3_seconds", ffmpeg);
    if (load > 0 && ffmpeg > 0)
        Print("load_to_ffmpeg_ratio", load / ffmpeg);
    return result;
}
