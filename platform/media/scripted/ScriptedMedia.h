#pragma once
// A deterministic media backend for unit tests: devices, pins and graphs whose
// behaviour the test scripts, with a journal of what was called. Never used by
// the program itself.
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Media.h"

namespace media::scripted {

struct ScriptedPinSpec {
    std::wstring name;
    bool hasMixer = true;
    HRESULT enableResult = S_OK;
    bool supportsAutomaticGain = false;
    bool levelReadable = true;
};

struct ScriptedDeviceSpec {
    std::wstring friendlyName;
    bool hasFriendlyName = true;
    HRESULT bindStorageResult = S_OK;
    HRESULT bindObjectResult = S_OK;
    HRESULT enumPinsResult = S_OK;
    std::vector<ScriptedPinSpec> inputPins{{L"Capture"}};
    WaveFormat format{1, 1, 44100, 88200, 2, 16};
};

// A file the scripted source filter can open: its format and the buffers a
// decode delivers, in order, on a streaming thread of the graph.
struct ScriptedFileSpec {
    WaveFormat format{1, 1, 8000, 16000, 2, 16};
    std::vector<std::vector<std::uint8_t>> buffers;
    std::int64_t duration = 0;   // 100-ns units; 0 = unknown
    bool failMidStream = false;  // an error event instead of the completion
};

// What a scripted input pin's mixer was told, for tests to read.
struct MixerRecord {
    bool enabled = false;
    double level = 0.5;
    int enableCalls = 0;
};

class ScriptedMedia : public IMediaFactory, public std::enable_shared_from_this<ScriptedMedia> {
  public:
    // ---- script ----
    std::vector<ScriptedDeviceSpec> devices;
    HRESULT createDevEnumResult = S_OK;
    HRESULT classEnumeratorResult = S_OK;  // S_OK lists the devices (S_FALSE when none)
    std::map<Clsid, HRESULT> createFailures;
    HRESULT connectResult = S_OK;
    HRESULT addFilterResult = S_OK;
    HRESULT removeFilterResult = S_OK;
    HRESULT abortResult = S_OK;
    HRESULT runResult = S_OK;
    HRESULT stopResult = S_OK;
    // GetState answers Stopped/Running according to the last Run/Stop unless set.
    HRESULT getStateResult = S_OK;
    std::map<std::wstring, ScriptedFileSpec> files;
    // Called on the streaming thread before a decode delivers its first buffer.
    std::function<void()> beforeDelivery;
    // Playback: what RenderFile answers, the renderers' clock (100 ns) and what
    // the last rendered graph was told.
    HRESULT renderFileResult = S_OK;
    std::int64_t renderedDuration = 10000000;
    std::uint32_t seekingCapabilities =
        AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetCurrentPos;
    bool volumeReadable = true;
    std::atomic<std::int64_t> clock{0};
    struct Playback {
        std::wstring file;
        std::int64_t start = -1, stop = -1;
        long volume = 0;
        bool running = false;
    };
    Playback LastPlayback(const std::wstring& file) const;
    // Queues an event on every graph that rendered `file` (e.g. its completion).
    void NotifyRendered(const std::wstring& file, long code);

    // ---- observation ----
    std::vector<std::string> Journal() const;
    void ClearJournal();
    // Mixer state of pin `pin` of device `device` (by index in `devices`).
    MixerRecord Mixer(int device, int pin) const;
    int LiveGraphs() const;

    HRESULT CreateInstance(Clsid clsid, std::shared_ptr<IUnknown>* object) override;

    // internal
    void Log(const std::string& entry);
    void Rendered(const std::wstring& file, std::weak_ptr<IMediaEventSink> graph);
    void UpdatePlayback(const std::wstring& file, const std::function<void(Playback&)>& change);
    MixerRecord& MixerRef(int device, int pin);
    void GraphCreated(int delta);

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> journal_;
    std::map<std::pair<int, int>, MixerRecord> mixers_;
    int liveGraphs_ = 0;
    std::map<std::wstring, Playback> playbacks_;
    std::vector<std::pair<std::wstring, std::weak_ptr<IMediaEventSink>>> rendered_;
};

// Installs a fresh scripted backend as the media factory and returns it.
std::shared_ptr<ScriptedMedia> InstallScriptedMedia();

}  // namespace media::scripted
