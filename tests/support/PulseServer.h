#pragma once
// A private PulseAudio server for integration tests, started by the
// `pulse-server` script next to this file (which describes what it offers:
// the default sink test_sink, microphones test_mic1..N fed through the sinks
// mic_feedK) and stopped when the object goes. While it lives, PULSE_SERVER and
// PULSE_CLIENTCONFIG point libpulse, GStreamer and pactl at it, and then at
// whichever server they named before.
// Make, hang and drop it on the test's main thread.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TestAudio.h"

// Named "Test Microphone K".
struct PulseMicrophone {
    int rate = 16000;
    int channels = 1;
};

class PulseServer {
  public:
    // `settled`: started only once its sinks play at low latency (seconds more),
    // for tests that time what they hear.
    explicit PulseServer(int microphones, bool settled = true)
        : PulseServer(std::vector<PulseMicrophone>(static_cast<std::size_t>(microphones)),
                      settled) {}
    explicit PulseServer(const std::vector<PulseMicrophone>& microphones, bool settled = true);
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // False when the server did not come up; Error() then says why.
    bool Running() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }
    pid_t Pid() const { return pid_; }

    // Runs pactl against this server; its standard output, or nullopt when it failed.
    std::optional<std::string> Pactl(const std::string& arguments) const;
    // The index on the first `pactl list short KIND` line holding `text`, else "none".
    std::string Index(const std::string& kind, const std::string& text) const;

  private:
    test_audio::ScratchFolder dir_{"pulse"};
    std::string error_;
    pid_t pid_ = 0;
    std::optional<std::string> previous_[2];  // PULSE_SERVER, PULSE_CLIENTCONFIG
};

// One server for a whole test program (starting one takes seconds), with the
// GStreamer backend installed, and the program's inputs made once in a folder
// of their own: speech.wav (espeak-ng's 22,050 Hz 16-bit mono) and whatever the
// `make` commands write, their "@NAME" arguments standing for Input(NAME).
//   [[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(
//       new PulseEnvironment({}, {{"sox", "@speech.wav", "-b", "24", "@s24.wav"}}));
// A test runs only once all of it is there.
class PulseEnvironment : public ::testing::Environment {
  public:
    explicit PulseEnvironment(std::vector<PulseMicrophone> microphones,
                              std::vector<std::vector<std::string>> make = {}, bool settled = true)
        : microphones_(std::move(microphones)), make_(std::move(make)), settled_(settled) {}
    void SetUp() override;
    void TearDown() override;
    // The running server; null before SetUp, after TearDown or when it did not start.
    static PulseServer* Server();
    static std::string Input(const std::string& name);

  private:
    std::vector<PulseMicrophone> microphones_;
    std::vector<std::vector<std::string>> make_;
    bool settled_;
};
