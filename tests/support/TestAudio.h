#pragma once
// Audio for the tests that play and record through a private PulseAudio server
// (PulseServer.h): the programs run beside a test, a scratch folder, the PCM of
// a WAV file, what the output played, and where a piece of a recording lies in
// the source. The unit tier reads its files' bytes with it too.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Eventually.h"

namespace test_audio {

// Starts a program (no shell), its standard output going to `output` and its
// errors to `errors`, else nowhere; its process id, or -1.
inline pid_t Spawn(const std::vector<std::string>& command, int output = -1, int errors = -1) {
    pid_t child = ::fork();
    if (child != 0)
        return child;
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(output >= 0 ? output : null, STDOUT_FILENO);
    ::dup2(errors >= 0 ? errors : null, STDERR_FILENO);
    ::dup2(null, STDIN_FILENO);
    std::vector<char*> argv;
    for (const auto& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

// Waits for the program to end; its exit status, -1 when it did not exit.
inline int Reap(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool RunTool(const std::vector<std::string>& command) {
    pid_t child = Spawn(command);
    return child > 0 && Reap(child) == 0;
}

// A folder of its own under $TMPDIR (else /tmp), removed with everything in it.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& prefix)
        : path_(std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")) {
        path_ = ::mkdtemp(path_.data()) ? path_ : "";
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string Path(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The format and the PCM bytes of a RIFF/WAVE file; the data chunk's bytes are
// cut to what the file holds when its header claims more.
struct Wav {
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t bits = 0;
    std::size_t dataOffset = 0;
    std::uint32_t declaredSize = 0;
    std::vector<std::uint8_t> data;

    // The samples of a 16-bit file.
    std::vector<float> Samples() const {
        std::vector<std::int16_t> samples(data.size() / 2);
        std::memcpy(samples.data(), data.data(), samples.size() * 2);
        return {samples.begin(), samples.end()};
    }
};

inline std::optional<Wav> ReadWav(const std::string& path) {
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    auto le = [&](std::size_t at, int size) {
        std::uint32_t value = 0;  // little-endian, as the host
        std::memcpy(&value, &bytes[at], static_cast<std::size_t>(size));
        return value;
    };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return std::nullopt;
    Wav wav;
    for (std::size_t at = 12; at + 8 <= bytes.size();
         at += 8 + le(at + 4, 4) + (le(at + 4, 4) & 1)) {
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && at + 24 <= bytes.size()) {
            wav.channels = static_cast<std::uint16_t>(le(at + 10, 2));
            wav.rate = le(at + 12, 4);
            wav.bits = static_cast<std::uint16_t>(le(at + 22, 2));
        } else if (std::memcmp(&bytes[at], "data", 4) == 0) {
            wav.dataOffset = at + 8;
            wav.declaredSize = le(at + 4, 4);
            wav.data.assign(bytes.begin() + static_cast<long>(wav.dataOffset),
                            bytes.begin() + static_cast<long>(std::min<std::size_t>(
                                                bytes.size(), wav.dataOffset + wav.declaredSize)));
            return wav.channels ? std::optional<Wav>(wav) : std::nullopt;
        }
    }
    return std::nullopt;
}

inline float Peak(const std::vector<float>& s) {
    float peak = 0;
    for (float v : s)
        peak = std::max(peak, std::fabs(v));
    return peak;
}

// The first and last index whose magnitude reaches `level`.
inline std::optional<std::pair<std::size_t, std::size_t>> LoudSpan(const std::vector<float>& s,
                                                                   float level) {
    auto loud = [level](float v) { return std::fabs(v) >= level; };
    auto first = std::find_if(s.begin(), s.end(), loud);
    if (first == s.end())
        return std::nullopt;
    auto last = std::find_if(s.rbegin(), s.rend(), loud);
    return std::make_pair(static_cast<std::size_t>(first - s.begin()),
                          static_cast<std::size_t>(s.rend() - last - 1));
}

struct Match {
    long offset = -1;  // where in the source the piece starts
    double score = 0;  // normalised correlation, 1 for a perfect match
};

// Where the `length` samples of `recording` from `at` lie in `source`,
// searching source offsets lo..hi.
inline Match BestMatch(const std::vector<float>& source, const std::vector<float>& recording,
                       std::size_t at, std::size_t length, long lo = 0, long hi = -1) {
    Match best;
    if (at + length > recording.size() || length == 0 || length > source.size())
        return best;
    hi = std::min(hi < 0 ? LONG_MAX : hi, static_cast<long>(source.size() - length));
    const float* piece = recording.data() + at;
    auto dot = [length](const float* a, const float* b) {
        return std::inner_product(a, a + length, b, 0.0);
    };
    double pieceEnergy = dot(piece, piece);
    for (long offset = std::max(lo, 0L); offset <= hi; ++offset) {
        const float* candidate = source.data() + offset;
        double energy = dot(candidate, candidate);
        double score = energy > 0 && pieceEnergy > 0
                           ? dot(piece, candidate) / std::sqrt(energy * pieceEnergy)
                           : 0;
        if (score > best.score)
            best = {offset, score};
    }
    return best;
}

// What the test server's output plays, as 22,050 Hz mono (the rate of
// espeak-ng's speech): `parec` records its monitor into a file while the object
// lives, at the sink's own rate and channels, so that nothing resamples it.
class MonitorRecorder {
  public:
    MonitorRecorder()
        : pid_(Spawn({"parec", "--raw", "--latency-msec=10", "-d", "test_sink.monitor",
                      "--format=s16le", "--rate=44100", "--channels=2"},
                     fileno(file_))) {}
    ~MonitorRecorder() {
        Stop();
        std::fclose(file_);
    }
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    // Ends the recording; what was heard stays readable.
    void Stop() {
        if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0)
            Reap(std::exchange(pid_, -1));
    }

    std::size_t Frames() const {
        struct stat info {};
        return ::fstat(fileno(file_), &info) == 0 ? static_cast<std::size_t>(info.st_size) / 8 : 0;
    }

    // Waits (bounded) until `frames` frames have arrived.
    bool AwaitFrames(std::size_t frames) {
        return Eventually([&] { return Frames() >= frames; }, std::chrono::seconds(10));
    }

    // Calls `start` once the recording runs, then `going` every 10 ms while it
    // holds, and records `tail` frames more before stopping; false when
    // nothing was recorded or `going` held to the bound.
    bool Hear(const std::function<void()>& start, const std::function<bool()>& going,
              std::size_t tail) {
        if (!AwaitFrames(2205))
            return false;
        start();
        bool ended = Eventually([&] { return !going(); });
        AwaitFrames(Frames() + tail);
        Stop();
        return ended;
    }

    std::vector<float> Heard() const {
        std::vector<std::int16_t> samples(Frames() * 4);
        auto got = ::pread(fileno(file_), samples.data(), samples.size() * 2, 0);
        std::vector<float> heard;  // the left channel, averaged in pairs
        for (std::size_t i = 0; i + 3 < static_cast<std::size_t>(std::max(got, 0L)) / 2; i += 4)
            heard.push_back((static_cast<float>(samples[i]) + samples[i + 2]) / 2);
        return heard;
    }

  private:
    std::FILE* file_ = std::tmpfile();
    pid_t pid_;
};

}  // namespace test_audio
