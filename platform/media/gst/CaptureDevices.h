#pragma once
// Audio capture devices: the PulseAudio sources that are not monitors of a
// sink, in the server's order.
//
// A device's moniker holds what the server said at enumeration: its friendly
// name ("FriendlyName" in the property bag, the source's description) and its
// input ports. BindToObject makes a capture filter:
//   input pins   one per port, named by the port's description (its name when
//                the description is empty or already taken), or one pin "Capture"
//                for a source without ports; they carry no stream, only the
//                input mixer
//   output pin   "Output": pulsesrc for the source, asked for signed 16-bit
//                samples at the source's own rate and at most two channels
//
// The input mixer of a pin: put_Enable(true) makes the pin's port the source's
// active port (nothing to do for "Capture"); put_Enable(false) succeeds without
// a change, PulseAudio having no disabled ports. The mix level is the source's
// volume, level 1.0 being PulseAudio's normal volume on every channel. Automatic
// gain is not offered by PulseAudio sources.
//
// Every question to the server is bounded in time (PulseSession), so a server
// that stops answering makes these calls fail rather than hang.
//
// When the device goes away while it records, PulseAudio moves the recording
// to another source; so does whoever moves it in the desktop's sound settings.
// The filter then stops delivering and posts an error, which the graph reports
// as EC_ERRORABORT: "The capture device ... is no longer available" when the
// source is gone, "The recording from ... was moved to another device ..."
// when it is still there. The learner is never recorded from a device they did
// not choose here. The next run starts on the chosen device again, or fails
// when it is still gone.
//
// Threads: one thread at a time. The device-change callback runs on the
// PulseAudio client thread and the drop probe on the streaming thread; they
// share only the DeviceWatch.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "GstFilter.h"
#include "Media.h"
#include "PulseSession.h"

namespace media::gst {

class DeviceEnumerator final : public ICreateDevEnum {
  public:
    HRESULT CreateClassEnumerator(DeviceCategory category,
                                  std::shared_ptr<IEnumMoniker>* enumerator) override;
};

class CaptureInputPin final : public GstPin, public IAMAudioInputMixer {
  public:
    CaptureInputPin(std::wstring name, std::string source, std::string port);

    HRESULT put_Enable(bool enable) override;
    HRESULT put_MixLevel(double level) override;
    HRESULT get_MixLevel(double* level) override;

  private:
    std::string source_;
    std::string port_;  // empty for the pin of a source without ports
};

class CaptureFilter final : public GstFilter {
  public:
    // Null (last error set) when GStreamer lacks the needed elements.
    static std::shared_ptr<CaptureFilter> Create(const PulseSource& source);

    // Refuses to start when the server does not answer or the source is gone.
    HRESULT PrepareToStart() override;
    void AfterStateChange(GstState target) override;

    struct DeviceWatch {
        std::string source;
        std::string description;
        std::atomic<bool> moved{false};
    };

  private:
    explicit CaptureFilter(std::string source);
    bool Build(const PulseSource& source);
    void AddInputPins(const PulseSource& source);
    void WatchDevice(GstElement* pulse, GstElement* output);

    std::string source_;
    std::shared_ptr<DeviceWatch> watch_;
};

}  // namespace media::gst
