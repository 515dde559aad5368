#pragma once
// Audio files made at test time with the tools scripts/bootstrap installs
// (espeak-ng, sox, lame), the programs a test runs beside it, and a reader for
// the PCM of a RIFF/WAVE file.
//
//   ScratchFolder folder("decode");
//   ASSERT_TRUE(MakeSpeech(folder.Path("speech.wav"), "Hello there"));
//   ASSERT_TRUE(RunTool({"sox", folder.Path("speech.wav"), "-b", "24", folder.Path("s24.wav")}));
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace audio_files {

// Starts a program with its arguments (no shell), its standard output going to
// `output` (else nowhere); its process id, or -1.
inline pid_t Spawn(const std::vector<std::string>& command, int output = -1) {
    pid_t child = ::fork();
    if (child != 0)
        return child;
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(output >= 0 ? output : null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
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

// True when the program ran and exited with status 0.
inline bool RunTool(const std::vector<std::string>& command) {
    pid_t child = Spawn(command);
    return child > 0 && Reap(child) == 0;
}

// A folder of its own under $TMPDIR (else /tmp), removed with everything in it,
// even files a test made unreadable.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& prefix) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~ScratchFolder() {
        if (path_.empty())
            return;
        RunTool({"chmod", "-R", "u+rwx", path_});
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Ok() const { return !path_.empty(); }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// 16-bit mono speech at 22,050 Hz.
inline bool MakeSpeech(const std::string& wavPath, const std::string& words) {
    return RunTool({"espeak-ng", "-w", wavPath, words});
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// The format and the PCM bytes of a RIFF/WAVE file; the data chunk's bytes are
// cut to what the file holds when its header claims more.
struct WavContents {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::size_t dataOffset = 0;
    std::uint32_t declaredDataSize = 0;
    std::vector<std::uint8_t> data;
};

inline std::optional<WavContents> ReadWav(const std::string& path) {
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    auto le = [&](std::size_t at, int size) {
        std::uint32_t value = 0;
        for (int k = size - 1; k >= 0; --k)
            value = value << 8 | bytes[at + static_cast<std::size_t>(k)];
        return value;
    };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return std::nullopt;
    WavContents wav;
    for (std::size_t at = 12; at + 8 <= bytes.size();
         at += 8 + le(at + 4, 4) + (le(at + 4, 4) & 1)) {
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && at + 24 <= bytes.size()) {
            wav.formatTag = static_cast<std::uint16_t>(le(at + 8, 2));
            wav.channels = static_cast<std::uint16_t>(le(at + 10, 2));
            wav.sampleRate = le(at + 12, 4);
            wav.blockAlign = static_cast<std::uint16_t>(le(at + 20, 2));
            wav.bitsPerSample = static_cast<std::uint16_t>(le(at + 22, 2));
        } else if (std::memcmp(&bytes[at], "data", 4) == 0) {
            wav.dataOffset = at + 8;
            wav.declaredDataSize = le(at + 4, 4);
            auto end = bytes.begin() + static_cast<long>(std::min<std::size_t>(
                                           bytes.size(), wav.dataOffset + wav.declaredDataSize));
            wav.data.assign(bytes.begin() + static_cast<long>(wav.dataOffset), end);
            return wav.channels ? std::optional<WavContents>(wav) : std::nullopt;
        }
    }
    return std::nullopt;
}

// The samples of a 16-bit WAV file.
inline std::vector<std::int16_t> Samples16(const WavContents& wav) {
    std::vector<std::int16_t> samples(wav.data.size() / 2);
    std::memcpy(samples.data(), wav.data.data(), samples.size() * 2);
    return samples;
}

}  // namespace audio_files
