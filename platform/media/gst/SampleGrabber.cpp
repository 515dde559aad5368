#include "SampleGrabber.h"

#include <gst/audio/audio.h>

#include <algorithm>

#include "LastError.h"

namespace media::gst {

namespace {

constexpr const char* kDeliveredCaps =
    "audio/x-raw, format=(string)S16LE, layout=(string)interleaved, channels=(int)[1, 2]";
constexpr std::uint16_t kDeliveredBits = 16;

using Tap = SampleGrabber::Tap;

double SampleTime(const GstBuffer* buffer) {
    GstClockTime pts = GST_BUFFER_PTS(buffer);
    return GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<double>(pts) / GST_SECOND : 0.0;
}

void HandOver(ISampleGrabberCB& callback, GstBuffer* buffer, double time) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    callback.SampleCB(time, map.data, static_cast<long>(map.size));
    gst_buffer_unmap(buffer, &map);
}

// Streaming thread: whole half seconds of a live stream, each with the time of
// its first frame.
void Gather(Tap& tap, ISampleGrabberCB& callback, GstBuffer* buffer) {
    std::lock_guard lock(tap.gatherMutex);
    if (tap.halfSecondBytes == 0)
        return;
    GstAdapter* adapter = tap.adapter.get();
    gst_adapter_push(adapter, gst_buffer_ref(buffer));
    while (gst_adapter_available(adapter) >= tap.halfSecondBytes) {
        guint64 distance = 0;
        GstClockTime pts = gst_adapter_prev_pts(adapter, &distance);
        double time = 0.0;
        if (GST_CLOCK_TIME_IS_VALID(pts)) {
            double frames = static_cast<double>(distance) / tap.frameBytes;
            time = static_cast<double>(pts) / GST_SECOND + frames / tap.rate;
        }
        auto half = BufferHandle::Adopt(gst_adapter_take_buffer(adapter, tap.halfSecondBytes));
        if (half)
            HandOver(callback, half.get(), time);
    }
}

// Streaming thread.
void Deliver(Tap& tap, GstBuffer* buffer) {
    ISampleGrabberCB* callback = tap.callback.load(std::memory_order_acquire);
    if (!callback || !buffer)
        return;
    if (tap.gather.load(std::memory_order_acquire)) {
        Gather(tap, *callback, buffer);
        return;
    }
    HandOver(*callback, buffer, SampleTime(buffer));
}

void RememberCaps(Tap& tap, GstEvent* event) {
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    {
        std::lock_guard lock(tap.capsMutex);
        tap.negotiated = CapsHandle::Ref(caps);
    }
    GstAudioInfo info;
    bool known = caps && gst_audio_info_from_caps(&info, caps);
    std::lock_guard lock(tap.gatherMutex);
    int rate = known ? GST_AUDIO_INFO_RATE(&info) : 0;
    int frameBytes = known ? GST_AUDIO_INFO_BPF(&info) : 0;
    if (rate == tap.rate && frameBytes == tap.frameBytes)
        return;
    // What was gathered in the old format cannot join the new.
    gst_adapter_clear(tap.adapter.get());
    tap.rate = rate;
    tap.frameBytes = frameBytes;
    tap.halfSecondBytes = static_cast<std::size_t>(rate / 2) * static_cast<std::size_t>(frameBytes);
}

GstPadProbeReturn OnConvertedData(GstPad*, GstPadProbeInfo* info, gpointer userData) {
    Tap& tap = SharedBox<Tap>::Get(userData);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        Deliver(tap, GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        gst_buffer_list_foreach(
            GST_PAD_PROBE_INFO_BUFFER_LIST(info),
            [](GstBuffer** buffer, guint, gpointer data) -> gboolean {
                Deliver(*static_cast<Tap*>(data), *buffer);
                return TRUE;
            },
            &tap);
    } else if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS)
            RememberCaps(tap, event);
        else if (GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START ||
                 GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP)
            tap.DropGathered();
    }
    return GST_PAD_PROBE_OK;
}

WaveFormat MakeWaveFormat(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    WaveFormat format;
    format.channels = channels;
    format.samplesPerSec = rate;
    format.bitsPerSample = bits;
    format.blockAlign = static_cast<std::uint16_t>(channels * ((bits + 7) / 8));
    format.avgBytesPerSec = rate * format.blockAlign;
    return format;
}

}  // namespace

CapsHandle DeliveredCapsFor(GstCaps* stream) {
    GstAudioInfo info;
    if (!stream || !gst_caps_is_fixed(stream) || !gst_audio_info_from_caps(&info, stream))
        return {};
    GstAudioFormat delivered = GST_AUDIO_FORMAT_S32LE;
    if (GST_AUDIO_INFO_IS_INTEGER(&info)) {
        int depth = GST_AUDIO_INFO_DEPTH(&info);
        if (depth <= 8)
            delivered = GST_AUDIO_FORMAT_U8;
        else if (depth <= 16)
            delivered = GST_AUDIO_FORMAT_S16LE;
        else if (depth <= 24)
            delivered = GST_AUDIO_FORMAT_S24LE;
    }
    // Rate, channels and their positions as they come: nothing is remixed.
    GstAudioInfo out;
    gst_audio_info_set_format(&out, delivered, GST_AUDIO_INFO_RATE(&info),
                              GST_AUDIO_INFO_CHANNELS(&info), info.position);
    return CapsHandle::Adopt(gst_audio_info_to_caps(&out));
}

bool WaveFormatFromCaps(GstCaps* caps, WaveFormat* format) {
    if (!caps || !gst_caps_is_fixed(caps))
        return false;
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, caps) || !GST_AUDIO_INFO_IS_INTEGER(&info))
        return false;
    *format = MakeWaveFormat(static_cast<std::uint16_t>(GST_AUDIO_INFO_CHANNELS(&info)),
                             static_cast<std::uint32_t>(GST_AUDIO_INFO_RATE(&info)),
                             static_cast<std::uint16_t>(GST_AUDIO_INFO_WIDTH(&info)));
    format->blockAlign = static_cast<std::uint16_t>(GST_AUDIO_INFO_BPF(&info));
    format->avgBytesPerSec = format->samplesPerSec * format->blockAlign;
    return true;
}

void SampleGrabber::Tap::DropGathered() {
    std::lock_guard lock(gatherMutex);
    gst_adapter_clear(adapter.get());
}

SampleGrabber::SampleGrabber() : GstFilter("sample-grabber") {}

std::shared_ptr<SampleGrabber> SampleGrabber::Create() {
    std::shared_ptr<SampleGrabber> grabber(new SampleGrabber());
    return grabber->Build() ? grabber : nullptr;
}

bool SampleGrabber::Build() {
    auto convert = MakeElement("audioconvert");
    auto format = MakeElement("capsfilter");
    if (!AddToBin(convert) || !AddToBin(format))
        return false;
    format_ = format;
    SetDeliveredCaps(CapsHandle::Adopt(gst_caps_from_string(kDeliveredCaps)));
    if (!gst_element_link(convert.get(), format.get()))
        return false;

    input_ = AddStreamPin(L"Input", PinDirection::Input, convert.get(), "sink");
    auto output = AddStreamPin(L"Output", PinDirection::Output, format.get(), "src");
    if (!input_ || !output)
        return false;

    auto converted = PadHandle::Adopt(gst_element_get_static_pad(format.get(), "src"));
    gst_pad_add_probe(
        converted.get(),
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                     GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        OnConvertedData, SharedBox<Tap>::Make(tap_), SharedBox<Tap>::Destroy);
    return true;
}

void SampleGrabber::SetDeliveredCaps(const CapsHandle& caps) {
    g_object_set(format_.get(), "caps", caps.get(), nullptr);
}

// Every type that can be asked for is met by the integer PCM the grabber
// delivers, so there is nothing to keep.
HRESULT SampleGrabber::SetMediaType(const AM_MEDIA_TYPE&) {
    return S_OK;
}

// Both settings matter only to a caller that reads the last sample back, which
// no caller can here (samples reach the callback only): accepted, not kept.
HRESULT SampleGrabber::SetOneShot(bool) {
    return S_OK;
}

HRESULT SampleGrabber::SetBufferSamples(bool) {
    return S_OK;
}

HRESULT SampleGrabber::SetCallback(ISampleGrabberCB* callback, int whichMethod) {
    if (whichMethod != 0) {
        return Fail(E_INVALIDARG, L"The sample grabber calls back with whole samples only");
    }
    tap_->callback.store(callback, std::memory_order_release);
    return S_OK;
}

bool SampleGrabber::AnnouncedFormat(WaveFormat* format) const {
    auto caps = CapsHandle::Adopt(gst_pad_peer_query_caps(input_->Pad(), nullptr));
    if (!caps || gst_caps_is_empty(caps.get()) || gst_caps_is_any(caps.get()))
        return false;
    const GstStructure* structure = gst_caps_get_structure(caps.get(), 0);
    int rate = 0;
    int channels = 0;
    if (!gst_structure_has_name(structure, "audio/x-raw") ||
        !gst_structure_get_int(structure, "rate", &rate) ||
        !gst_structure_get_int(structure, "channels", &channels) || rate <= 0 || channels <= 0) {
        return false;
    }
    auto delivered = static_cast<std::uint16_t>(std::min<int>(channels, kMaxChannels));
    *format = MakeWaveFormat(delivered, static_cast<std::uint32_t>(rate), kDeliveredBits);
    return true;
}

HRESULT SampleGrabber::GetConnectedMediaType(AM_MEDIA_TYPE* type) {
    if (!type)
        return E_POINTER;
    if (!input_->Peer())
        return Fail(VFW_E_NOT_CONNECTED, L"The sample grabber is not connected");
    WaveFormat format;
    bool known = false;
    {
        std::lock_guard lock(tap_->capsMutex);
        known = WaveFormatFromCaps(tap_->negotiated.get(), &format);
    }
    if (!known && streamFormat_) {
        format = *streamFormat_;
        known = true;
    }
    if (!known)
        known = AnnouncedFormat(&format);
    if (!known) {
        return Fail(VFW_E_NOT_CONNECTED,
                    L"The sample grabber's format is not settled until the graph runs");
    }
    *type = AM_MEDIA_TYPE{};
    type->majortype = MajorType::Audio;
    type->subtype = SubType::PCM;
    type->formattype = FormatType::WaveFormatEx;
    type->hasFormat = true;
    type->format = format;
    return S_OK;
}

void SampleGrabber::PinConnected(GstPin& pin) {
    if (&pin != input_.get())
        return;
    auto peer = pin.Peer();
    tap_->DropGathered();
    tap_->gather.store(peer && peer->Live(), std::memory_order_release);
    CapsHandle stream = peer ? peer->StreamCaps() : CapsHandle{};
    auto delivered = DeliveredCapsFor(stream.get());
    WaveFormat format;
    if (!WaveFormatFromCaps(delivered.get(), &format))
        return;
    // Exact caps rather than a choice left to audioconvert, so that what the
    // callback gets is what GetConnectedMediaType said before the graph ran.
    SetDeliveredCaps(delivered);
    streamFormat_ = format;
}

void SampleGrabber::PinDisconnected(GstPin& pin) {
    if (&pin != input_.get())
        return;
    tap_->gather.store(false, std::memory_order_release);
    tap_->DropGathered();
    if (streamFormat_) {
        streamFormat_.reset();
        SetDeliveredCaps(CapsHandle::Adopt(gst_caps_from_string(kDeliveredCaps)));
    }
    std::lock_guard lock(tap_->capsMutex);
    tap_->negotiated.reset();
}

void SampleGrabber::AfterStateChange(GstState target) {
    // Stopped: the streaming thread has ended, and the next run starts clean.
    if (target <= GST_STATE_READY)
        tap_->DropGathered();
}

}  // namespace media::gst
