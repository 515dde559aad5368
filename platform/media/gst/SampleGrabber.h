#pragma once
// The sample grabber: pins "Input" and "Output"; inside, audioconvert and a caps
// filter deliver interleaved integer PCM at the incoming rate. A probe on the
// converted stream hands every buffer to ISampleGrabberCB::SampleCB.
//
// What it delivers depends on what feeds it:
//   a stream whose format is known at connection (a file source, GstPin::
//   StreamCaps): that stream exactly as it is, with its channel count and its
//   sample width (unsigned 8, signed 16, 24 or 32 bits little-endian; wider or
//   floating-point samples become signed 32 bits, other widths the next of
//   these up), so a file's PCM reaches the callback byte for byte;
//   any other (a capture device): signed 16 bits, at most two channels.
//
// From a live pin (a capture device, GstPin::Live) the callback gets
// half-second buffers, as a capture device's default buffering gives them:
// exactly rate/2 frames each, gathered from the device's small buffers, with
// the time of each one's first frame. What is left of a half second when the
// graph stops (or the format changes) is dropped; every run starts afresh.
// Any other stream reaches the callback in the buffers its source cuts.
//
// GetConnectedMediaType answers the format the grabber delivers: the negotiated
// format once buffers have flowed (kept after the graph stops, dropped when the
// input is disconnected); before that the format it will deliver for a stream
// known at connection, or the one the connected source announces when it is a
// fixed one (a capture device); else VFW_E_NOT_CONNECTED.
//
// Threads: the callback is called on the streaming thread; the probe there reads
// the callback pointer (atomic), stores the negotiated caps and gathers half
// seconds (each under its mutex), nothing else. All other operations: one
// thread at a time.
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include <gst/base/gstadapter.h>

#include "GstFilter.h"

namespace media::gst {

// Capture hands on at most stereo: the server mixes a source with more
// channels down.
constexpr std::uint16_t kMaxChannels = 2;

class SampleGrabber final : public GstFilter, public ISampleGrabber {
  public:
    // Null (last error set) when GStreamer lacks the needed elements.
    static std::shared_ptr<SampleGrabber> Create();

    HRESULT SetMediaType(const AM_MEDIA_TYPE& type) override;
    HRESULT SetOneShot(bool oneShot) override;
    HRESULT SetBufferSamples(bool buffer) override;
    HRESULT SetCallback(ISampleGrabberCB* callback, int whichMethod) override;
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) override;

    void PinConnected(GstPin& pin) override;
    void PinDisconnected(GstPin& pin) override;
    void AfterStateChange(GstState target) override;

    using AdapterHandle = Handle<GstAdapter, GObjectTraits<GstAdapter>>;

    // What the streaming thread shares with the grabber. Owned jointly by the
    // grabber and the probe, so a late buffer never reaches a freed grabber.
    struct Tap {
        std::atomic<ISampleGrabberCB*> callback{nullptr};
        std::mutex capsMutex;
        CapsHandle negotiated;

        // Half-second gathering of a live stream.
        std::atomic<bool> gather{false};
        std::mutex gatherMutex;
        AdapterHandle adapter = AdapterHandle::Adopt(gst_adapter_new());
        std::size_t halfSecondBytes = 0;  // 0 until the format is known
        int rate = 0;
        int frameBytes = 0;

        void DropGathered();
    };

  private:
    SampleGrabber();
    bool Build();
    bool AnnouncedFormat(WaveFormat* format) const;

    std::shared_ptr<Tap> tap_ = std::make_shared<Tap>();
    void SetDeliveredCaps(const CapsHandle& caps);

    std::shared_ptr<GstPin> input_;
    ElementHandle format_;
    // The format for a stream known at connection; empty otherwise.
    std::optional<WaveFormat> streamFormat_;
};

// The wave format of raw integer audio caps; false for anything else.
bool WaveFormatFromCaps(GstCaps* caps, WaveFormat* format);
// The integer PCM caps the grabber delivers for a stream of fixed raw audio
// caps: same rate and channels, the sample width kept (see above); empty for
// caps that are not fixed raw audio.
CapsHandle DeliveredCapsFor(GstCaps* stream);

}  // namespace media::gst
