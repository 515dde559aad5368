#pragma once
// A private PulseAudio server for integration tests, started by the
// `pulse-server` script next to this file and stopped (by its process id) when
// the object goes away. While it lives, PULSE_SERVER and PULSE_CLIENTCONFIG in
// this process's environment point at it, so libpulse, GStreamer's pulse
// elements and pactl all talk to it; the previous values come back afterwards.
//
// The server offers a default sink "test_sink" and microphones test_mic1..N
// (sources that are not monitors), each fed through the sink mic_feedK.
//
// Not thread-safe: make, hang and drop it on the test's main thread.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

struct PulseMicrophone {
    std::string description;  // empty: "Test Microphone K"
    int rate = 16000;
    int channels = 1;
};

// Sets an environment variable for the object's lifetime.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

class PulseServer {
  public:
    explicit PulseServer(int microphones);
    explicit PulseServer(const std::vector<PulseMicrophone>& microphones);
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // False when the server did not come up; Error() then says why.
    bool Running() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }
    pid_t Pid() const { return pid_; }
    const std::string& Directory() const { return dir_; }

    // Stops the server process (SIGSTOP): its socket still accepts connections
    // but nothing answers, as with a hung server. Resume undoes it.
    void Hang();
    void Resume();

    // Runs pactl against this server; its standard output, or nullopt when it failed.
    std::optional<std::string> Pactl(const std::string& arguments) const;

  private:
    void Start(const std::vector<PulseMicrophone>& microphones);

    std::string dir_;
    std::string error_;
    pid_t pid_ = 0;
    bool hung_ = false;
    std::optional<ScopedEnv> server_;
    std::optional<ScopedEnv> clientConfig_;
};

// While it lives, clients find no server: PULSE_SERVER names a socket that does
// not exist, and autospawn is off.
class NoPulseServer {
  public:
    NoPulseServer();
    ~NoPulseServer();
    NoPulseServer(const NoPulseServer&) = delete;
    NoPulseServer& operator=(const NoPulseServer&) = delete;

  private:
    std::string dir_;
    std::optional<ScopedEnv> server_;
    std::optional<ScopedEnv> clientConfig_;
};
