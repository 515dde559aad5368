#pragma once
// Device questions to the PulseAudio server: the list of capture sources, one
// source's state, its active port and its volume.
//
// Sessions are cheap: they all ask through the process's one connection, made
// on first use and kept, so a question costs a round trip rather than a new
// client thread and a connection. The connection is made afresh when the
// server went away or the environment names another server (PULSE_SERVER,
// PULSE_CLIENTCONFIG).
//
// Every wait on the server, connecting included, is bounded by the session's
// deadline (2 s by default), so a server that accepts the connection but never
// answers (a stopped process) makes the call fail instead of hanging the
// caller. Failing calls set the calling thread's last error ("Connection
// refused", "PulseAudio server did not answer within 2 s", ...).
//
// Threads: a session belongs to the thread that made it; sessions on several
// threads ask at once. libpulse runs the connection's mainloop on a thread of
// its own, which only signals the waiting callers; no session may be used on
// that thread.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Result.h"

namespace media::gst {

struct PulseConnection;

struct PulsePort {
    std::string name;
    std::string description;
};

struct PulseSource {
    std::string name;
    std::string description;
    std::uint32_t rate = 0;
    std::uint8_t channels = 0;
    std::vector<PulsePort> ports;
    // Highest channel volume, PA_VOLUME_NORM being full level.
    std::uint32_t volume = 0;
};

class PulseSession {
  public:
    static constexpr std::chrono::milliseconds kDefaultDeadline{2000};

    explicit PulseSession(std::chrono::milliseconds deadline = kDefaultDeadline);
    ~PulseSession();
    PulseSession(const PulseSession&) = delete;
    PulseSession& operator=(const PulseSession&) = delete;

    // Makes sure of a connection to the server the environment names
    // (PULSE_SERVER), never starting one.
    HRESULT Connect();
    // Capture sources in the server's order; monitors of sinks are left out.
    HRESULT ListCaptureSources(std::vector<PulseSource>* sources);
    HRESULT GetSource(const std::string& name, PulseSource* source);
    HRESULT SetActivePort(const std::string& source, const std::string& port);
    // Sets every channel of the source to `volume` (PA_VOLUME_NORM = full level).
    HRESULT SetVolume(const std::string& source, std::uint8_t channels, std::uint32_t volume);

  private:
    // One source by name, or every source when name is null; `what` names the
    // request in a failure.
    HRESULT QuerySources(const std::string* name, const char* what,
                         std::vector<PulseSource>* sources);

    std::chrono::milliseconds deadline_;
    std::shared_ptr<PulseConnection> state_;
};

}  // namespace media::gst
