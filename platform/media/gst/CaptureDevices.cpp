#include "CaptureDevices.h"

#include <pulse/volume.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "LastError.h"
#include "SampleGrabber.h"

namespace media::gst {

namespace {

// Bounds the question, asked on the client thread, whether a moved recording's
// source is still there.
constexpr std::chrono::milliseconds kMoveCheckDeadline{1000};

class PropertyBag final : public IPropertyBag {
  public:
    explicit PropertyBag(std::wstring friendlyName) : friendlyName_(std::move(friendlyName)) {}

    HRESULT Read(const wchar_t* property, std::wstring* value) override {
        if (!property || !value)
            return E_POINTER;
        if (std::wcscmp(property, L"FriendlyName") != 0) {
            return Fail(E_INVALIDARG,
                        L"The device has no property \"" + std::wstring(property) + L"\"");
        }
        *value = friendlyName_;
        return S_OK;
    }

  private:
    std::wstring friendlyName_;
};

class Moniker final : public IMoniker {
  public:
    explicit Moniker(PulseSource source) : source_(std::move(source)) {}

    HRESULT BindToStorage(std::shared_ptr<IPropertyBag>* bag) override {
        if (!bag)
            return E_POINTER;
        *bag = std::make_shared<PropertyBag>(WidenUtf8(source_.description));
        return S_OK;
    }

    HRESULT BindToObject(std::shared_ptr<IBaseFilter>* filter) override {
        if (!filter)
            return E_POINTER;
        *filter = CaptureFilter::Create(source_);
        return *filter ? S_OK : E_FAIL;
    }

  private:
    PulseSource source_;
};

class EnumMoniker final : public IEnumMoniker {
  public:
    explicit EnumMoniker(std::vector<std::shared_ptr<IMoniker>> monikers)
        : monikers_(std::move(monikers)) {}

    HRESULT Next(std::shared_ptr<IMoniker>* moniker) override {
        if (!moniker)
            return E_POINTER;
        if (next_ >= monikers_.size()) {
            moniker->reset();
            return S_FALSE;
        }
        *moniker = monikers_[next_++];
        return S_OK;
    }

  private:
    std::vector<std::shared_ptr<IMoniker>> monikers_;
    std::size_t next_ = 0;
};

std::uint16_t DeliveredChannels(const PulseSource& source) {
    return static_cast<std::uint16_t>(std::min<unsigned>(source.channels, kMaxChannels));
}

// What pulsesrc is asked for: the source's own rate, so the server does not
// resample; 16-bit samples and at most two channels, which the server converts.
CapsHandle CaptureCaps(const PulseSource& source) {
    auto caps =
        CapsHandle::Adopt(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE",
                                              "layout", G_TYPE_STRING, "interleaved", nullptr));
    if (source.rate > 0) {
        gst_caps_set_simple(caps.get(), "rate", G_TYPE_INT, static_cast<int>(source.rate), nullptr);
    }
    if (source.channels > 0) {
        gst_caps_set_simple(caps.get(), "channels", G_TYPE_INT, int{DeliveredChannels(source)},
                            nullptr);
    }
    return caps;
}

using DeviceWatch = CaptureFilter::DeviceWatch;
using SharedWatch = std::shared_ptr<DeviceWatch>;

const SharedWatch& WatchOf(gpointer data) {
    return *static_cast<SharedWatch*>(data);
}

// What the learner is told when the recording left its source: the server
// moves it when the source goes away, and so does anyone who moves it in the
// desktop's sound settings while the source stays.
std::string MovedRecordingText(const DeviceWatch& watch, const std::string& current) {
    PulseSession session(kMoveCheckDeadline);
    PulseSource source;
    if (FAILED(session.GetSource(watch.source, &source)))
        return "The capture device \"" + watch.description + "\" is no longer available";
    std::string target =
        SUCCEEDED(session.GetSource(current, &source)) ? source.description : current;
    return "The recording from \"" + watch.description + "\" was moved to another device (\"" +
           target + "\") outside this program";
}

// PulseAudio client thread: the server moved the recording to another source.
void OnDeviceChanged(GObject* pulse, GParamSpec*, gpointer data) {
    DeviceWatch& watch = *WatchOf(data);
    gchar* raw = nullptr;
    g_object_get(pulse, "current-device", &raw, nullptr);
    GCharPtr current(raw);
    if (!current || watch.source == current.get() || watch.moved.exchange(true))
        return;
    std::string text = MovedRecordingText(watch, current.get());
    ErrorPtr error(
        g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND, text.c_str()));
    gst_element_post_message(GST_ELEMENT(pulse),
                             gst_message_new_error(GST_OBJECT(pulse), error.get(), nullptr));
}

// Streaming thread: nothing recorded from another device goes on.
GstPadProbeReturn DropWhenMoved(GstPad*, GstPadProbeInfo*, gpointer data) {
    return WatchOf(data)->moved.load() ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

std::wstring PinNameOf(const PulsePort& port, const std::vector<std::wstring>& taken) {
    std::wstring description = WidenUtf8(port.description);
    bool free =
        !description.empty() && std::find(taken.begin(), taken.end(), description) == taken.end();
    return free ? description : WidenUtf8(port.name);
}

}  // namespace

// ---- enumeration ------------------------------------------------------------

HRESULT DeviceEnumerator::CreateClassEnumerator(DeviceCategory category,
                                                std::shared_ptr<IEnumMoniker>* enumerator) {
    if (!enumerator)
        return E_POINTER;
    enumerator->reset();
    if (category != DeviceCategory::AudioInput) {
        return Fail(E_INVALIDARG, L"Only audio input devices can be enumerated");
    }
    PulseSession session;
    std::vector<PulseSource> sources;
    HRESULT hr = session.ListCaptureSources(&sources);
    if (FAILED(hr))
        return hr;
    if (sources.empty()) {
        // Not a failure, but callers report it as one: leave no stale error text.
        SetLastError(0, L"");
        return S_FALSE;
    }
    std::vector<std::shared_ptr<IMoniker>> monikers;
    for (PulseSource& source : sources)
        monikers.push_back(std::make_shared<Moniker>(std::move(source)));
    *enumerator = std::make_shared<EnumMoniker>(std::move(monikers));
    return S_OK;
}

// ---- input pins and their mixer ----------------------------------------------

CaptureInputPin::CaptureInputPin(std::wstring name, std::string source, std::string port)
    : GstPin(std::move(name), PinDirection::Input, {}),
      source_(std::move(source)),
      port_(std::move(port)) {}

HRESULT CaptureInputPin::put_Enable(bool enable) {
    if (!enable || port_.empty())
        return S_OK;
    PulseSession session;
    return session.SetActivePort(source_, port_);
}

HRESULT CaptureInputPin::put_MixLevel(double level) {
    if (level == AMF_AUTOMATICGAIN) {
        return Fail(E_NOTIMPL, L"automatic gain is not supported by this device");
    }
    if (!(level >= 0.0 && level <= 1.0)) {
        return Fail(E_INVALIDARG, L"The input level must lie between 0.0 and 1.0");
    }
    PulseSession session;
    PulseSource source;
    HRESULT hr = session.GetSource(source_, &source);
    if (FAILED(hr))
        return hr;
    auto volume = static_cast<std::uint32_t>(std::lround(level * PA_VOLUME_NORM));
    return session.SetVolume(source_, source.channels, volume);
}

HRESULT CaptureInputPin::get_MixLevel(double* level) {
    if (!level)
        return E_POINTER;
    PulseSession session;
    PulseSource source;
    HRESULT hr = session.GetSource(source_, &source);
    if (FAILED(hr))
        return hr;
    *level = std::min(1.0, static_cast<double>(source.volume) / PA_VOLUME_NORM);
    return S_OK;
}

// ---- the capture filter -------------------------------------------------------

CaptureFilter::CaptureFilter(std::string source)
    : GstFilter("audio-capture"),
      source_(std::move(source)),
      watch_(std::make_shared<DeviceWatch>()) {}

std::shared_ptr<CaptureFilter> CaptureFilter::Create(const PulseSource& source) {
    std::shared_ptr<CaptureFilter> filter(new CaptureFilter(source.name));
    return filter->Build(source) ? filter : nullptr;
}

bool CaptureFilter::Build(const PulseSource& source) {
    auto pulse = MakeElement("pulsesrc");
    auto format = MakeElement("capsfilter");
    if (!AddToBin(pulse) || !AddToBin(format))
        return false;
    g_object_set(pulse.get(), "device", source.name.c_str(), "client-name", "Sayalike", nullptr);
    auto caps = CaptureCaps(source);
    g_object_set(format.get(), "caps", caps.get(), nullptr);
    if (!gst_element_link(pulse.get(), format.get()))
        return false;
    AddInputPins(source);
    auto output = AddStreamPin(L"Output", PinDirection::Output, format.get(), "src");
    if (!output)
        return false;
    output->SetLive(true);
    watch_->source = source.name;
    watch_->description = source.description;
    WatchDevice(pulse.get(), format.get());
    return true;
}

void CaptureFilter::WatchDevice(GstElement* pulse, GstElement* output) {
    auto keep = [this] { return new SharedWatch(watch_); };
    auto drop = [](gpointer data) { delete static_cast<SharedWatch*>(data); };
    g_signal_connect_data(
        pulse, "notify::current-device", G_CALLBACK(OnDeviceChanged), keep(),
        [](gpointer data, GClosure*) { delete static_cast<SharedWatch*>(data); }, GConnectFlags{});
    auto pad = PadHandle::Adopt(gst_element_get_static_pad(output, "src"));
    gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, DropWhenMoved, keep(), drop);
}

void CaptureFilter::AfterStateChange(GstState target) {
    if (target <= GST_STATE_READY)
        watch_->moved = false;
}

void CaptureFilter::AddInputPins(const PulseSource& source) {
    if (source.ports.empty()) {
        AddPin(std::make_shared<CaptureInputPin>(L"Capture", source.name, std::string()));
        return;
    }
    std::vector<std::wstring> taken;
    for (const PulsePort& port : source.ports) {
        taken.push_back(PinNameOf(port, taken));
        AddPin(std::make_shared<CaptureInputPin>(taken.back(), source.name, port.name));
    }
}

HRESULT CaptureFilter::PrepareToStart() {
    PulseSession session;
    PulseSource source;
    return session.GetSource(source_, &source);
}

}  // namespace media::gst
