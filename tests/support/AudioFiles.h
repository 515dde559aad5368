#pragma once
// Audio files made at test time: speech from espeak-ng, converted with sox and
// encoded with lame (all installed by scripts/bootstrap), and a reader for the
// PCM of a RIFF/WAVE file to compare decoded data with.
//
//   ScratchFolder folder("decode");
//   std::string speech = folder.Path("speech.wav");
//   ASSERT_TRUE(MakeSpeech(speech, "Hello there"));
//   ASSERT_TRUE(RunTool({"sox", speech, "-b", "24", folder.Path("s24.wav")}));
#include <fcntl.h>
#include <sys/stat.h>
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

// Runs a program with its arguments (no shell), its output discarded; true
// when it exits with status 0.
inline bool RunTool(const std::vector<std::string>& command) {
    pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        std::vector<char*> argv;
        for (const auto& argument : command)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A folder of its own under $TMPDIR (else /tmp), removed with everything in it.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& prefix) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()))
            path_ = buffer.data();
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) {
            // Files made unreadable by a test must not stop the clean-up.
            std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
            for (const auto& entry : std::filesystem::directory_iterator(path_, ignored)) {
                std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            }
            std::filesystem::remove_all(path_, ignored);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Ok() const { return !path_.empty(); }
    const std::string& Root() const { return path_; }
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

inline std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
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
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return std::nullopt;
    WavContents wav;
    bool haveFormat = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::uint8_t* chunk = bytes.data() + at;
        std::uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && at + 8 + 16 <= bytes.size()) {
            wav.formatTag = Le16(chunk + 8);
            wav.channels = Le16(chunk + 10);
            wav.sampleRate = Le32(chunk + 12);
            wav.blockAlign = Le16(chunk + 20);
            wav.bitsPerSample = Le16(chunk + 22);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            wav.dataOffset = at + 8;
            wav.declaredDataSize = size;
            std::size_t available = std::min<std::size_t>(size, bytes.size() - wav.dataOffset);
            wav.data.assign(chunk + 8, chunk + 8 + available);
            return haveFormat ? std::optional<WavContents>(wav) : std::nullopt;
        }
        at += 8 + size + (size & 1);
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
