#pragma once
// The two filters a rendered file is played through.
//
// WaveSource: filesrc ! wavparse, one output pin "Output" carrying the file's
// PCM as the file holds it. The file is read when the graph first pauses.
//
// AudioRenderer: the default audio output. Input pin "Audio Input pin
// (rendered)": audioconvert ! scaletempo ! audioresample !
// volume ! pulsesink, so any PCM plays, at the rate of the graph's seek with
// the pitch kept (Tempo.h), every sample 20 ms after its time, so that the
// start of a new stream is not lost where the server takes it in
// (PlaybackFilters.cpp). It answers
//   IBasicAudio      volume in hundredths of a decibel, gain 10^(v/2000),
//                    -10000 silent; values are clamped to -10000..0 and read
//                    back as stored. A change is heard at once on a playing
//                    graph (after what the sink has already buffered).
//   IReferenceClock  its StreamClock: 100-ns units, advancing with the audio
//                    heard (see StreamClock.h).
// Before the graph leaves the stopped state it asks the sound server, within
// a bounded time, whether it answers: pulsesink itself would block for half a
// minute on a server that has stopped responding. Before the output is
// rebuilt after a stall it also goes back to the default output: pulsesink
// follows its stream wherever the server moved it, which may be the very sink
// that stopped taking audio; the server's own routing decides afresh.
//
// Threads: the volume and the clock may be used from any thread; everything
// else from one thread at a time, like the graph.
#include <atomic>
#include <memory>
#include <string>

#include "GstFilter.h"
#include "StreamClock.h"

namespace media::gst {

class WaveSource final : public GstFilter {
  public:
    // Null (last error set) when GStreamer lacks the needed elements.
    static std::shared_ptr<WaveSource> Create(const std::string& path);

  private:
    WaveSource();
    bool Build(const std::string& path);
};

class AudioRenderer final : public GstFilter, public IBasicAudio, public IReferenceClock {
  public:
    static constexpr long kSilence = -10000;

    // Null (last error set) when GStreamer lacks the needed elements.
    static std::shared_ptr<AudioRenderer> Create();

    HRESULT put_Volume(long volume) override;
    HRESULT get_Volume(long* volume) override;
    HRESULT GetTime(std::int64_t* time) override;
    HRESULT PrepareToStart() override;
    // On the stopped output, before a rebuild (Playback.h): the next start
    // goes to the default device.
    void ForgetDevice();

    const std::shared_ptr<StreamClock>& Clock() const { return clock_; }

  private:
    AudioRenderer();
    bool Build();

    ElementHandle volume_;
    ElementHandle sink_;
    std::shared_ptr<StreamClock> clock_;
    std::atomic<long> level_{0};
};

}  // namespace media::gst
