#pragma once
// The media backend of the unit tests: devices, files and playback whose
// behaviour a test scripts and reads back. A decode delivers its buffers within
// Run, on the caller's thread, so a load has ended when LoadFile returns.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Media.h"

namespace media::scripted {

struct Graph;

// 16-bit samples as a file holds them, little-endian.
inline std::vector<std::uint8_t> Pcm16(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> bytes;
    for (std::int16_t s : samples)
        bytes.insert(bytes.end(),
                     {static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(s >> 8)});
    return bytes;
}

// An input pin of a capture device (a mixer line), and what its mixer was told.
struct ScriptedPin {
    std::wstring name;
    bool supportsAutomaticGain = false;
    bool levelReadable = true;
    bool enabled = false;
    double level = 0.5;
};

struct ScriptedDevice {
    std::wstring friendlyName;
    bool hasFriendlyName = true;
    HRESULT bindObjectResult = S_OK;
    std::vector<ScriptedPin> inputPins{{L"Capture"}};
    WaveFormat format{1, 1, 44100, 88200, 2, 16};
};

// A file the source filter can open: its format and the buffers a decode delivers.
struct ScriptedFile {
    WaveFormat format{1, 1, 8000, 16000, 2, 16};
    std::vector<std::vector<std::uint8_t>> buffers;
    std::int64_t duration = 0;   // 100-ns units; 0 = unknown
    bool failMidStream = false;  // an error event instead of the completion
};

class ScriptedMedia : public IMediaFactory, public std::enable_shared_from_this<ScriptedMedia> {
  public:
    // ---- script ----
    std::vector<ScriptedDevice> devices;
    HRESULT classEnumeratorResult = S_OK;
    HRESULT connectResult = S_OK;
    HRESULT runResult = S_OK;
    std::map<std::wstring, ScriptedFile> files;
    // Called before a decode delivers its first buffer.
    std::function<void()> beforeDelivery;
    // Playback: what RenderFile answers, the length of what it renders and the
    // renderers' clock (100 ns).
    HRESULT renderFileResult = S_OK;
    std::int64_t renderedDuration = 10000000;
    std::atomic<std::int64_t> clock{0};

    // ---- observation ----
    // What the last live graph that rendered a file was told.
    struct Playback {
        std::wstring file;
        long volume = 0;
        bool running = false;
        double rate = 1.0;
    };
    Playback LastPlayback(const std::wstring& file) const;
    // Queues an event on every live graph that rendered `file`.
    void NotifyRendered(const std::wstring& file, long code);
    const ScriptedPin& Mixer(std::size_t device, std::size_t pin) const {
        return devices.at(device).inputPins.at(pin);
    }
    int LiveGraphs() const { return static_cast<int>(Live(nullptr).size()); }

    HRESULT CreateInstance(Clsid clsid, std::shared_ptr<IUnknown>* object) override;

  private:
    // The graphs alive, or those of them that rendered `file`.
    std::vector<std::shared_ptr<Graph>> Live(const std::wstring* file) const;
    mutable std::mutex mutex_;  // the graphs: a load has a thread of its own
    std::vector<std::weak_ptr<Graph>> graphs_;
};

// Installs a fresh scripted backend as the media factory and returns it.
std::shared_ptr<ScriptedMedia> InstallScriptedMedia();

}  // namespace media::scripted
