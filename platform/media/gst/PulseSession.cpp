#include "PulseSession.h"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/rtclock.h>
#include <pulse/thread-mainloop.h>
#include <pulse/volume.h>

#include <cstdlib>
#include <mutex>
#include <sstream>

#include "LastError.h"

namespace media::gst {

// The client thread stops before its mainloop goes.
struct LoopRelease {
    void operator()(pa_threaded_mainloop* loop) const {
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }
};

// A context is taken down under its mainloop's lock, with no callback left to
// run on a session that is going away.
struct ContextRelease {
    pa_threaded_mainloop* loop = nullptr;
    void operator()(pa_context* context) const {
        pa_threaded_mainloop_lock(loop);
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        pa_threaded_mainloop_unlock(loop);
    }
};

using LoopPtr = std::unique_ptr<pa_threaded_mainloop, LoopRelease>;
using ContextPtr = std::unique_ptr<pa_context, ContextRelease>;

// One connection to the server, shared by the sessions that ask through it.
// Members in this order: the context goes before the mainloop it runs on.
struct PulseConnection {
    std::string server;  // the environment's naming of the server it was made for
    LoopPtr loop;
    ContextPtr context;

    pa_threaded_mainloop* Loop() const { return loop.get(); }
    pa_context* Context() const { return context.get(); }
};

namespace {

class MainloopLock {
  public:
    explicit MainloopLock(pa_threaded_mainloop* loop) : loop_(loop) {
        pa_threaded_mainloop_lock(loop_);
    }
    ~MainloopLock() { pa_threaded_mainloop_unlock(loop_); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

  private:
    pa_threaded_mainloop* loop_;
};

void Signal(pa_threaded_mainloop* loop) {
    pa_threaded_mainloop_signal(loop, 0);
}

std::wstring DeadlineText(std::chrono::milliseconds deadline) {
    std::wostringstream text;
    text << L"PulseAudio server did not answer within ";
    if (deadline.count() % 1000 == 0) {
        text << deadline.count() / 1000 << L" s";
    } else {
        text << deadline.count() << L" ms";
    }
    return text.str();
}

HRESULT FailTimeout(std::chrono::milliseconds deadline) {
    SetLastError(PA_ERR_TIMEOUT, DeadlineText(deadline));
    return VFW_E_TIMEOUT;
}

HRESULT FailWithContextError(pa_context* context, const char* what) {
    int error = context ? pa_context_errno(context) : PA_ERR_UNKNOWN;
    if (error == PA_OK)
        error = PA_ERR_UNKNOWN;
    std::string text = pa_strerror(error);
    if (what)
        text = std::string(what) + ": " + text;
    SetLastError(static_cast<std::uint32_t>(error), WidenUtf8(text));
    return error == PA_ERR_NOENTITY ? VFW_E_NOT_FOUND : E_FAIL;
}

bool ContextBroken(pa_context* context) {
    return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
}

// Waits with the mainloop locked until `done` holds, the context breaks or the
// deadline passes. True unless the deadline passed first.
template <class Done>
bool WaitBounded(PulseConnection& s, std::chrono::milliseconds deadline, Done done) {
    struct Timer {
        pa_threaded_mainloop* loop;
        bool expired = false;
    } timer{s.Loop()};
    auto usec = static_cast<pa_usec_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(deadline).count());
    pa_time_event* event = pa_context_rttime_new(
        s.Context(), pa_rtclock_now() + usec,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
            auto* t = static_cast<Timer*>(userdata);
            t->expired = true;
            Signal(t->loop);
        },
        &timer);
    while (!done() && !ContextBroken(s.Context()) && !timer.expired) {
        pa_threaded_mainloop_wait(s.Loop());
    }
    if (event)
        pa_threaded_mainloop_get_api(s.Loop())->time_free(event);
    return done() || !timer.expired;
}

// Sees an operation through: waits for its callback to set `done`, cancelling
// it when the server does not answer in time so that the callback never runs
// on a finished wait.
template <class Done>
HRESULT Await(PulseConnection& s, std::chrono::milliseconds deadline, pa_operation* op, Done done,
              const char* what) {
    if (!op)
        return FailWithContextError(s.Context(), what);
    bool answered = WaitBounded(s, deadline, done);
    if (!done())
        pa_operation_cancel(op);
    pa_operation_unref(op);
    if (!answered)
        return FailTimeout(deadline);
    if (!done())
        return FailWithContextError(s.Context(), what);
    return S_OK;
}

PulseSource ToSource(const pa_source_info& info) {
    PulseSource source;
    source.name = info.name ? info.name : "";
    source.description = info.description ? info.description : source.name;
    source.rate = info.sample_spec.rate;
    source.channels = info.sample_spec.channels;
    for (std::uint32_t i = 0; i < info.n_ports && info.ports && info.ports[i]; ++i) {
        const pa_source_port_info* port = info.ports[i];
        source.ports.push_back(
            {port->name ? port->name : "", port->description ? port->description : ""});
    }
    source.volume = pa_cvolume_max(&info.volume);
    return source;
}

struct SourceQuery {
    pa_threaded_mainloop* loop = nullptr;
    bool skipMonitors = true;
    std::vector<PulseSource> sources;
    bool finished = false;
    bool failed = false;
};

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* query = static_cast<SourceQuery*>(userdata);
    if (eol != 0) {
        query->failed = eol < 0;
        query->finished = true;
        Signal(query->loop);
        return;
    }
    if (!info)
        return;
    if (query->skipMonitors && info->monitor_of_sink != PA_INVALID_INDEX)
        return;
    query->sources.push_back(ToSource(*info));
}

struct SuccessQuery {
    pa_threaded_mainloop* loop;
    bool finished = false;
    bool succeeded = false;
};

void OnSuccess(pa_context*, int success, void* userdata) {
    auto* query = static_cast<SuccessQuery*>(userdata);
    query->succeeded = success != 0;
    query->finished = true;
    Signal(query->loop);
}

std::string EnvironmentServer() {
    const char* server = std::getenv("PULSE_SERVER");
    const char* config = std::getenv("PULSE_CLIENTCONFIG");
    return std::string(server ? server : "") + '\n' + (config ? config : "");
}

// The process's connection, and who is making a new one.
class Connections {
  public:
    std::shared_ptr<PulseConnection> Current() {
        std::lock_guard lock(mutex_);
        return current_;
    }
    void Keep(std::shared_ptr<PulseConnection> connection) {
        std::lock_guard lock(mutex_);
        current_ = std::move(connection);
    }

    std::timed_mutex connecting;

  private:
    std::mutex mutex_;
    std::shared_ptr<PulseConnection> current_;
};

Connections& TheConnections() {
    static Connections connections;
    return connections;
}

// The kept connection when it still serves `server`.
std::shared_ptr<PulseConnection> Usable(const std::string& server) {
    auto connection = TheConnections().Current();
    if (!connection || connection->server != server)
        return nullptr;
    MainloopLock lock(connection->Loop());
    if (pa_context_get_state(connection->Context()) != PA_CONTEXT_READY)
        return nullptr;
    return connection;
}

HRESULT Open(PulseConnection& c, std::chrono::milliseconds deadline) {
    c.loop.reset(pa_threaded_mainloop_new());
    if (!c.Loop() || pa_threaded_mainloop_start(c.Loop()) < 0) {
        SetLastError(PA_ERR_INTERNAL, L"Cannot start the PulseAudio client thread");
        return E_FAIL;
    }
    MainloopLock lock(c.Loop());
    c.context = ContextPtr(pa_context_new(pa_threaded_mainloop_get_api(c.Loop()), "Sayalike"),
                           ContextRelease{c.Loop()});
    if (!c.Context()) {
        SetLastError(PA_ERR_INTERNAL, L"Cannot create a PulseAudio context");
        return E_FAIL;
    }
    pa_context_set_state_callback(
        c.Context(),
        [](pa_context*, void* loop) { Signal(static_cast<pa_threaded_mainloop*>(loop)); },
        c.Loop());
    if (pa_context_connect(c.Context(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return FailWithContextError(c.Context(), nullptr);
    auto ready = [&c] { return pa_context_get_state(c.Context()) == PA_CONTEXT_READY; };
    if (!WaitBounded(c, deadline, ready))
        return FailTimeout(deadline);
    if (!ready())
        return FailWithContextError(c.Context(), nullptr);
    return S_OK;
}

}  // namespace

PulseSession::PulseSession(std::chrono::milliseconds deadline) : deadline_(deadline) {}

PulseSession::~PulseSession() = default;

HRESULT PulseSession::Connect() {
    std::string server = EnvironmentServer();
    if ((state_ = Usable(server)))
        return S_OK;
    Connections& connections = TheConnections();
    std::unique_lock lock(connections.connecting, std::defer_lock);
    if (!lock.try_lock_for(deadline_))
        return FailTimeout(deadline_);
    // Another session may have connected while this one waited.
    if ((state_ = Usable(server)))
        return S_OK;
    auto fresh = std::make_shared<PulseConnection>();
    fresh->server = server;
    HRESULT hr = Open(*fresh, deadline_);
    // A connection that failed is not kept: the next question tries afresh.
    connections.Keep(SUCCEEDED(hr) ? fresh : nullptr);
    if (SUCCEEDED(hr))
        state_ = fresh;
    return hr;
}

HRESULT PulseSession::QuerySources(const std::string* name, const char* what,
                                   std::vector<PulseSource>* sources) {
    HRESULT hr = Connect();
    if (FAILED(hr))
        return hr;
    MainloopLock lock(state_->Loop());
    SourceQuery query;
    query.loop = state_->Loop();
    query.skipMonitors = name == nullptr;
    pa_operation* op =
        name ? pa_context_get_source_info_by_name(state_->Context(), name->c_str(), OnSourceInfo,
                                                  &query)
             : pa_context_get_source_info_list(state_->Context(), OnSourceInfo, &query);
    hr = Await(
        *state_, deadline_, op, [&] { return query.finished; }, what);
    if (FAILED(hr))
        return hr;
    if (query.failed || (name && query.sources.empty()))
        return FailWithContextError(state_->Context(), what);
    *sources = std::move(query.sources);
    return S_OK;
}

HRESULT PulseSession::ListCaptureSources(std::vector<PulseSource>* sources) {
    if (!sources)
        return E_POINTER;
    return QuerySources(nullptr, "Listing capture devices", sources);
}

HRESULT PulseSession::GetSource(const std::string& name, PulseSource* source) {
    if (!source)
        return E_POINTER;
    std::vector<PulseSource> found;
    std::string what = "Capture device \"" + name + "\"";
    HRESULT hr = QuerySources(&name, what.c_str(), &found);
    if (FAILED(hr))
        return hr;
    *source = std::move(found.front());
    return S_OK;
}

HRESULT PulseSession::SetActivePort(const std::string& source, const std::string& port) {
    HRESULT hr = Connect();
    if (FAILED(hr))
        return hr;
    MainloopLock lock(state_->Loop());
    SuccessQuery query{state_->Loop()};
    pa_operation* op = pa_context_set_source_port_by_name(state_->Context(), source.c_str(),
                                                          port.c_str(), OnSuccess, &query);
    std::string what = "Selecting input \"" + port + "\"";
    hr = Await(
        *state_, deadline_, op, [&] { return query.finished; }, what.c_str());
    if (FAILED(hr))
        return hr;
    if (!query.succeeded)
        return FailWithContextError(state_->Context(), what.c_str());
    return S_OK;
}

HRESULT PulseSession::SetVolume(const std::string& source, std::uint8_t channels,
                                std::uint32_t volume) {
    if (channels == 0 || channels > PA_CHANNELS_MAX)
        return E_INVALIDARG;
    HRESULT hr = Connect();
    if (FAILED(hr))
        return hr;
    pa_cvolume levels;
    pa_cvolume_set(&levels, channels, static_cast<pa_volume_t>(volume));
    MainloopLock lock(state_->Loop());
    SuccessQuery query{state_->Loop()};
    pa_operation* op = pa_context_set_source_volume_by_name(state_->Context(), source.c_str(),
                                                            &levels, OnSuccess, &query);
    hr = Await(
        *state_, deadline_, op, [&] { return query.finished; }, "Setting the input level");
    if (FAILED(hr))
        return hr;
    if (!query.succeeded) {
        return FailWithContextError(state_->Context(), "Setting the input level");
    }
    return S_OK;
}

}  // namespace media::gst
