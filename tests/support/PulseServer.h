#pragma once
// A private PulseAudio server for integration tests, started by the
// `pulse-server` script next to this file (which describes what it offers:
// the default sink test_sink, microphones test_mic1..N fed through the sinks
// mic_feedK) and stopped when the object goes. While it lives, PULSE_SERVER and
// PULSE_CLIENTCONFIG point libpulse, GStreamer and pactl at it.
// Make, hang and drop it on the test's main thread.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AudioFiles.h"

struct PulseMicrophone {
    std::string description;  // empty: "Test Microphone K"
    int rate = 16000;
    int channels = 1;
};

// Points libpulse's clients at `server` while it lives.
class PulseClientEnv {
  public:
    PulseClientEnv(const std::string& server, const std::string& config);
    ~PulseClientEnv();
    PulseClientEnv(const PulseClientEnv&) = delete;
    PulseClientEnv& operator=(const PulseClientEnv&) = delete;

  private:
    std::optional<std::string> previous_[2];
};

// While it lives, clients find no server.
class NoPulseServer : public PulseClientEnv {
  public:
    NoPulseServer() : PulseClientEnv("unix:/nonexistent/pulse/native", "/dev/null") {}
};

class PulseServer {
  public:
    explicit PulseServer(int microphones)
        : PulseServer(std::vector<PulseMicrophone>(static_cast<std::size_t>(microphones))) {}
    explicit PulseServer(const std::vector<PulseMicrophone>& microphones);
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // False when the server did not come up; Error() then says why.
    bool Running() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }
    pid_t Pid() const { return pid_; }

    // Stops the server process: its socket still accepts connections but
    // nothing answers, as with a hung server. Resume undoes it.
    void Hang();
    void Resume();

    // Runs pactl against this server; its standard output, or nullopt when it failed.
    std::optional<std::string> Pactl(const std::string& arguments) const;

  private:
    audio_files::ScratchFolder dir_{"pulse"};
    std::string error_;
    pid_t pid_ = 0;
    std::unique_ptr<PulseClientEnv> env_;
};

// One server for a whole test program (starting one takes seconds), with the
// GStreamer backend installed:
//   [[maybe_unused]] const auto* const environment =
//       ::testing::AddGlobalTestEnvironment(new PulseEnvironment(1));
// and PulseEnvironment::Server() in the tests. Derive to make inputs as well.
class PulseEnvironment : public ::testing::Environment {
  public:
    explicit PulseEnvironment(std::vector<PulseMicrophone> microphones)
        : microphones_(std::move(microphones)) {}
    explicit PulseEnvironment(int microphones)
        : microphones_(static_cast<std::size_t>(microphones)) {}
    void SetUp() override;
    void TearDown() override;
    // The running server; null before SetUp, after TearDown or when it did not start.
    static PulseServer* Server();

  private:
    std::vector<PulseMicrophone> microphones_;
};
