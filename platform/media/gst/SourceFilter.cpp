#include "SourceFilter.h"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

#include "BusErrors.h"
#include "LastError.h"

namespace media::gst {

struct SourceFilter::Stream {
    std::mutex mutex;
    std::condition_variable changed;
    PadHandle output;         // the bin's ghost pad behind the pin "Output"
    PadHandle chain;          // the resampling chain's input
    ElementHandle format;     // the chain's capsfilter: the first part's format
    GstPad* audio = nullptr;  // the decoder's pad feeding the chain; not owned
    gulong holdProbe = 0;
    bool reachedData = false;
    bool noMorePads = false;
    std::optional<GraphError> error;
    CapsHandle caps;

    bool Settled() const { return reachedData || error || (noMorePads && !audio); }
};

namespace {

using Stream = SourceFilter::Stream;
using SharedStream = std::shared_ptr<Stream>;

// Every GLib callback gets a copy of the shared state, freed with the callback,
// so the state outlives the last call whatever the order of tear-down.
gpointer KeepStream(const SharedStream& stream) {
    return new SharedStream(stream);
}
void DropStream(gpointer data) {
    delete static_cast<SharedStream*>(data);
}
void DropStreamClosure(gpointer data, GClosure*) {
    DropStream(data);
}
const SharedStream& StreamOf(gpointer data) {
    return *static_cast<SharedStream*>(data);
}

HRESULT Fail(HRESULT hr, const std::wstring& text) {
    SetLastError(static_cast<std::uint32_t>(hr), text);
    return hr;
}

bool IsRawAudio(GstPad* pad) {
    auto caps = CapsHandle::Adopt(gst_pad_get_current_caps(pad));
    if (!caps)
        caps = CapsHandle::Adopt(gst_pad_query_caps(pad, nullptr));
    if (!caps || gst_caps_is_empty(caps.get()) || gst_caps_is_any(caps.get()))
        return false;
    return gst_structure_has_name(gst_caps_get_structure(caps.get(), 0), "audio/x-raw");
}

// Streaming thread: the first buffer, gap or end of stream is held here until
// the graph starts. The events before it (stream start, caps, segment, tags)
// pass on to the bin's pad, which keeps them for whatever it gets linked to.
GstPadProbeReturn HoldFirstData(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEventType type = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
        if (type != GST_EVENT_EOS && type != GST_EVENT_GAP)
            return GST_PAD_PROBE_PASS;
    }
    Stream& stream = *StreamOf(data);
    {
        std::lock_guard lock(stream.mutex);
        if (!stream.reachedData) {
            stream.reachedData = true;
            stream.caps = CapsHandle::Adopt(gst_pad_get_current_caps(pad));
        }
    }
    stream.changed.notify_all();
    return GST_PAD_PROBE_OK;
}

// Streaming thread. True when `pad` became the stream of the pin "Output".
bool TakeAudioPad(const SharedStream& shared, GstPad* pad) {
    Stream& stream = *shared;
    std::lock_guard lock(stream.mutex);
    if (stream.audio)
        return false;
    stream.audio = pad;
    // The whole file comes out in the format its first part has, so that a
    // later change of rate (joined recordings) is resampled, not cut.
    if (auto caps = CapsHandle::Adopt(gst_pad_get_current_caps(pad)))
        g_object_set(stream.format.get(), "caps", caps.get(), nullptr);
    if (gst_pad_link(pad, stream.chain.get()) != GST_PAD_LINK_OK) {
        stream.audio = nullptr;
        return false;
    }
    // A pin already connected (a graph run again after a stop) has somewhere
    // for the data to go: nothing to hold back.
    if (!gst_pad_is_linked(stream.output.get())) {
        stream.holdProbe =
            gst_pad_add_probe(pad,
                              static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK |
                                                           GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM),
                              HoldFirstData, KeepStream(shared), DropStream);
    }
    return true;
}

// Streaming thread: a stream the pin does not carry still needs a taker, or
// the decoder would stop on "not linked".
void DiscardStream(GstElement* decoder, GstPad* pad) {
    auto bin = ElementHandle::Adopt(GST_ELEMENT(gst_element_get_parent(decoder)));
    auto sink = MakeElement("fakesink");
    if (!bin || !sink)
        return;
    g_object_set(sink.get(), "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(bin.get()), sink.get());
    auto sinkPad = PadHandle::Adopt(gst_element_get_static_pad(sink.get(), "sink"));
    gst_pad_link(pad, sinkPad.get());
    gst_element_sync_state_with_parent(sink.get());
}

void OnPadAdded(GstElement* decoder, GstPad* pad, gpointer data) {
    if (IsRawAudio(pad) && TakeAudioPad(StreamOf(data), pad))
        return;
    DiscardStream(decoder, pad);
}

void OnPadRemoved(GstElement*, GstPad* pad, gpointer data) {
    Stream& stream = *StreamOf(data);
    std::lock_guard lock(stream.mutex);
    if (pad != stream.audio)
        return;
    // The probe and the link go with the pad.
    stream.audio = nullptr;
    stream.holdProbe = 0;
}

void OnNoMorePads(GstElement*, gpointer data) {
    Stream& stream = *StreamOf(data);
    {
        std::lock_guard lock(stream.mutex);
        stream.noMorePads = true;
    }
    stream.changed.notify_all();
}

// Messages of the bin while it reads the file alone, before any graph has it.
GstBusSyncReply OnPrerollMessage(GstBus*, GstMessage* message, gpointer data) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        Stream& stream = *StreamOf(data);
        {
            std::lock_guard lock(stream.mutex);
            if (!stream.error)
                stream.error = ErrorOfMessage(message);
        }
        stream.changed.notify_all();
    }
    return GST_BUS_DROP;
}

void Connect(GstElement* element, const char* signal, GCallback callback,
             const SharedStream& stream) {
    g_signal_connect_data(element, signal, callback, KeepStream(stream), DropStreamClosure,
                          GConnectFlags{});
}

// The pin of the decoded stream: its format is known once the file was read.
class SourcePin final : public GstPin {
  public:
    SourcePin(PadHandle pad, SharedStream stream)
        : GstPin(L"Output", PinDirection::Output, std::move(pad)), stream_(std::move(stream)) {}

    CapsHandle StreamCaps() const override {
        std::lock_guard lock(stream_->mutex);
        return stream_->caps;
    }

  private:
    SharedStream stream_;
};

}  // namespace

SourceFilter::SourceFilter() : GstFilter("source"), stream_(std::make_shared<Stream>()) {}

SourceFilter::~SourceFilter() {
    // Stops the streaming thread, which also lets go of any held data.
    gst_element_set_state(Element(), GST_STATE_NULL);
}

std::shared_ptr<SourceFilter> SourceFilter::Create(const std::string& path,
                                                   std::chrono::milliseconds wait) {
    // A FIFO or a device would block the opening thread or never end; a
    // missing file or a folder is left to GStreamer, which words it well.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
        Fail(E_FAIL, L"\"" + WidenUtf8(path) + L"\" is not a regular file.");
        return nullptr;
    }
    std::shared_ptr<SourceFilter> source(new SourceFilter());
    if (!source->Build(path) || !source->Preroll(wait))
        return nullptr;
    return source;
}

bool SourceFilter::Build(const std::string& path) {
    auto file = MakeElement("filesrc");
    auto decoder = MakeElement("decodebin");
    if (!AddToBin(file) || !AddToBin(decoder))
        return false;
    g_object_set(file.get(), "location", path.c_str(), nullptr);
    // decoder ! audioconvert ! audioresample ! audioconvert ! capsfilter: with
    // the format unchanged every step passes the samples through untouched (no
    // dither on the way back to the file's width).
    auto widen = MakeElement("audioconvert");
    auto resample = MakeElement("audioresample");
    auto narrow = MakeElement("audioconvert");
    auto format = MakeElement("capsfilter");
    if (!AddToBin(widen) || !AddToBin(resample) || !AddToBin(narrow) || !AddToBin(format))
        return false;
    g_object_set(narrow.get(), "dithering", 0, "noise-shaping", 0, nullptr);
    if (!gst_element_link(file.get(), decoder.get()) ||
        !gst_element_link_many(widen.get(), resample.get(), narrow.get(), format.get(), nullptr)) {
        Fail(E_FAIL, L"Cannot assemble the source filter");
        return false;
    }
    stream_->chain = PadHandle::Adopt(gst_element_get_static_pad(widen.get(), "sink"));
    stream_->format = format;
    auto formatOut = PadHandle::Adopt(gst_element_get_static_pad(format.get(), "src"));
    stream_->output = PadHandle::RefSink(gst_ghost_pad_new("src", formatOut.get()));
    if (!stream_->output || !gst_element_add_pad(Element(), stream_->output.get())) {
        Fail(E_FAIL, L"Cannot assemble the source filter");
        return false;
    }
    AddPin(std::make_shared<SourcePin>(stream_->output, stream_));
    Connect(decoder.get(), "pad-added", G_CALLBACK(OnPadAdded), stream_);
    Connect(decoder.get(), "pad-removed", G_CALLBACK(OnPadRemoved), stream_);
    Connect(decoder.get(), "no-more-pads", G_CALLBACK(OnNoMorePads), stream_);
    return true;
}

bool SourceFilter::Preroll(std::chrono::milliseconds wait) {
    // Alone, the bin has no bus: lend it one to hear its errors.
    auto bus = BusHandle::Adopt(gst_bus_new());
    gst_bus_set_sync_handler(bus.get(), OnPrerollMessage, KeepStream(stream_), DropStream);
    gst_element_set_bus(Element(), bus.get());
    bool ok = ReadFirstData(std::chrono::steady_clock::now() + wait);
    gst_element_set_bus(Element(), nullptr);
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    if (!ok)
        return false;
    gst_element_set_locked_state(Element(), TRUE);
    held_ = true;
    return true;
}

bool SourceFilter::ReadFirstData(std::chrono::steady_clock::time_point deadline) {
    auto failed = [this](HRESULT hr, const wchar_t* fallback) {
        std::lock_guard lock(stream_->mutex);
        if (stream_->error)
            SetLastError(stream_->error->code, stream_->error->text);
        else
            Fail(hr, fallback);
        return false;
    };
    if (gst_element_set_state(Element(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        return failed(E_FAIL, L"The file could not be opened");
    {
        std::unique_lock lock(stream_->mutex);
        bool settled =
            stream_->changed.wait_until(lock, deadline, [this] { return stream_->Settled(); });
        bool hasAudio = stream_->reachedData && stream_->caps;
        if (!settled || stream_->error || !hasAudio) {
            lock.unlock();
            return failed(settled ? E_FAIL : VFW_E_TIMEOUT,
                          settled ? L"The file holds no audio" : L"The file gave no data in time");
        }
    }
    // The whole bin, its decoder's asynchronous start included, must have
    // settled in PAUSED, so that a pipeline taking it in has nothing to wait for.
    auto left = std::max(std::chrono::nanoseconds(0), deadline - std::chrono::steady_clock::now());
    if (gst_element_get_state(Element(), nullptr, nullptr,
                              static_cast<GstClockTime>(left.count())) != GST_STATE_CHANGE_SUCCESS)
        return failed(VFW_E_TIMEOUT, L"The file gave no data in time");
    return true;
}

void SourceFilter::ReleaseHeldData() {
    PadHandle pad;
    gulong probe = 0;
    {
        std::lock_guard lock(stream_->mutex);
        pad = PadHandle::Ref(stream_->audio);
        probe = std::exchange(stream_->holdProbe, 0);
    }
    if (pad && probe)
        gst_pad_remove_probe(pad.get(), probe);
}

void SourceFilter::BeforeStateChange(GstState target) {
    if (!held_ || target >= GST_STATE_PAUSED)
        return;
    // Taken down with the graph; going down discards the held data.
    gst_element_set_locked_state(Element(), FALSE);
    held_ = false;
    gst_element_set_state(Element(), target);
}

void SourceFilter::AfterStateChange(GstState target) {
    if (!held_ || target < GST_STATE_PAUSED)
        return;
    gst_element_set_locked_state(Element(), FALSE);
    held_ = false;
    gst_element_sync_state_with_parent(Element());
    ReleaseHeldData();
}

bool SourceFilter::Query(GstQuery* query) {
    return gst_pad_query(stream_->output.get(), query);
}

}  // namespace media::gst
