#pragma once
// What a PulseAudio source hears, for integration tests: `parec` records the
// source (by default the test server's output monitor, test_sink.monitor) into
// memory while the object lives, noting when each piece arrived, so that a test
// can tell what was played and when. A background process runs any other tool
// (paplay feeding a microphone) while the test goes on.
//
//   MonitorRecorder monitor;                     // 44.1 kHz stereo, 16 bits
//   ASSERT_TRUE(monitor.AwaitFrames(2205));      // recording for 50 ms
//   ... play ...
//   monitor.Stop();
//   auto heard = audio_match::HalfRateMono(monitor.Samples(), 2);
//
// Both need PULSE_SERVER in the environment (PulseServer sets it). Not
// thread-safe: use each object on one thread.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace monitor_recorder {

// Starts a program with its arguments (no shell); with `output` set, its
// standard output goes there, otherwise to /dev/null. Returns its process id,
// or -1.
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

inline int Reap(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace monitor_recorder

// A tool running beside the test (paplay into a microphone); waited for when
// the object goes, or earlier with Wait.
class BackgroundProcess {
  public:
    explicit BackgroundProcess(const std::vector<std::string>& command)
        : pid_(monitor_recorder::Spawn(command)) {}
    ~BackgroundProcess() { Wait(); }
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    // The exit status (0 for success).
    int Wait() {
        if (pid_ > 0) {
            status_ = monitor_recorder::Reap(pid_);
            pid_ = -1;
        }
        return status_;
    }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};

class MonitorRecorder {
  public:
    using Clock = std::chrono::steady_clock;

    explicit MonitorRecorder(const std::string& device = "test_sink.monitor", int rate = 44100,
                             int channels = 2)
        : rate_(rate), channels_(channels) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid_ = monitor_recorder::Spawn(
            {"parec", "--raw", "--latency-msec=10", "-d", device, "--format=s16le",
             "--rate=" + std::to_string(rate), "--channels=" + std::to_string(channels)},
            fds[1]);
        ::close(fds[1]);
        if (pid_ <= 0) {
            ::close(fds[0]);
            return;
        }
        reader_ = std::thread([this, fd = fds[0]] { Read(fd); });
    }
    ~MonitorRecorder() { Stop(); }
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    int Rate() const { return rate_; }

    // Ends the recording; what was heard stays readable.
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            monitor_recorder::Reap(pid_);
            pid_ = -1;
        }
        if (reader_.joinable())
            reader_.join();
    }

    std::size_t Frames() const {
        std::lock_guard lock(mutex_);
        return bytes_.size() / FrameBytes();
    }

    // Waits (bounded) until `frames` frames have arrived; false when the
    // recording ended or the time ran out first.
    bool AwaitFrames(std::size_t frames,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, timeout, [&] {
            return bytes_.size() / FrameBytes() >= frames || ended_;
        }) && bytes_.size() / FrameBytes() >= frames;
    }

    // Interleaved samples of everything recorded so far.
    std::vector<std::int16_t> Samples() const {
        std::lock_guard lock(mutex_);
        std::vector<std::int16_t> samples(bytes_.size() / 2);
        std::memcpy(samples.data(), bytes_.data(), samples.size() * 2);
        return samples;
    }

    // When the piece holding `frame` arrived; nullopt when it never did.
    std::optional<Clock::time_point> ArrivalOf(std::size_t frame) const {
        std::lock_guard lock(mutex_);
        std::size_t end = (frame + 1) * FrameBytes();
        for (const auto& [bytes, when] : arrivals_) {
            if (bytes >= end)
                return when;
        }
        return std::nullopt;
    }

  private:
    std::size_t FrameBytes() const { return static_cast<std::size_t>(2 * channels_); }

    void Read(int fd) {
        std::vector<char> buffer(8192);
        for (;;) {
            ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            auto now = Clock::now();
            {
                std::lock_guard lock(mutex_);
                bytes_.insert(bytes_.end(), buffer.begin(), buffer.begin() + n);
                arrivals_.emplace_back(bytes_.size(), now);
            }
            arrived_.notify_all();
        }
        ::close(fd);
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        arrived_.notify_all();
    }

    int rate_;
    int channels_;
    pid_t pid_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<char> bytes_;
    std::vector<std::pair<std::size_t, Clock::time_point>> arrivals_;
    bool ended_ = false;
};
