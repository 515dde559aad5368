#pragma once
// What a PulseAudio source hears: `parec` records the source (by default the
// test server's output monitor) into memory while the object lives, noting when
// each piece arrived. It needs the environment PulseServer sets.
//
//   MonitorRecorder monitor;                     // 44.1 kHz stereo, 16 bits
//   ASSERT_TRUE(monitor.AwaitFrames(2205));      // recording for 50 ms
//   ... play ...
//   monitor.Stop();
//   auto heard = audio_match::HalfRateMono(monitor.Samples(), 2);
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "AudioFiles.h"

class MonitorRecorder {
  public:
    using Clock = std::chrono::steady_clock;

    explicit MonitorRecorder(const std::string& device = "test_sink.monitor", int rate = 44100,
                             int channels = 2)
        : frameBytes_(static_cast<std::size_t>(2 * channels)) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid_ = audio_files::Spawn(
            {"parec", "--raw", "--latency-msec=10", "-d", device, "--format=s16le",
             "--rate=" + std::to_string(rate), "--channels=" + std::to_string(channels)},
            fds[1]);
        ::close(fds[1]);
        reader_ = std::thread([this, fd = fds[0]] { Read(fd); });
    }
    ~MonitorRecorder() { Stop(); }
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    // Ends the recording; what was heard stays readable.
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            audio_files::Reap(std::exchange(pid_, -1));
        }
        if (reader_.joinable())
            reader_.join();
    }

    std::size_t Frames() const {
        std::lock_guard lock(mutex_);
        return bytes_.size() / frameBytes_;
    }

    // Waits (bounded) until `frames` frames have arrived; false when the
    // recording ended or the time ran out first.
    bool AwaitFrames(std::size_t frames,
                     std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, bound,
                          [&] { return bytes_.size() / frameBytes_ >= frames || ended_; });
        return bytes_.size() / frameBytes_ >= frames;
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
        for (const auto& [bytes, when] : arrivals_) {
            if (bytes >= (frame + 1) * frameBytes_)
                return when;
        }
        return std::nullopt;
    }

  private:
    void Read(int fd) {
        char buffer[8192];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                break;
            std::lock_guard lock(mutex_);
            bytes_.insert(bytes_.end(), buffer, buffer + n);
            arrivals_.emplace_back(bytes_.size(), Clock::now());
            arrived_.notify_all();
        }
        ::close(fd);
        std::lock_guard lock(mutex_);
        ended_ = true;
        arrived_.notify_all();
    }

    std::size_t frameBytes_;
    pid_t pid_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<char> bytes_;
    std::vector<std::pair<std::size_t, Clock::time_point>> arrivals_;
    bool ended_ = false;
};
