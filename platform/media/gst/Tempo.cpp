#include "Tempo.h"

#include <gst/audio/audio.h>

#include <atomic>
#include <cmath>
#include <memory>

namespace media::gst {

namespace {

// Longer than the element's queue (search + stride + overlap, ~50 ms by default).
constexpr GstClockTime kSilence = 200 * GST_MSECOND;
// A rate at which one output stride consumes more than the queue holds, which
// empties it.
constexpr double kEmptyingRate = 1000.0;

struct Span {
    // The stop of the segment being played, while its rate is not 1.
    std::atomic<GstClockTime> stop{GST_CLOCK_TIME_NONE};
    // While the queue is being emptied: its output goes nowhere.
    std::atomic<bool> emptying{false};
};

bool Stretched(const GstSegment& segment) {
    // scaletempo's own test for a segment it passes through.
    return segment.format == GST_FORMAT_TIME && std::abs(segment.rate - 1.0) >= 1e-10;
}

GstEvent* SegmentLike(const GstSegment& segment, double rate, GstClockTime stop, guint32 seqnum) {
    GstSegment copy;
    gst_segment_copy_into(&segment, &copy);
    copy.rate = rate;
    copy.stop = stop;
    GstEvent* event = gst_event_new_segment(&copy);
    if (seqnum != GST_SEQNUM_INVALID)
        gst_event_set_seqnum(event, seqnum);
    return event;
}

void PushSilence(GstPad* pad, GstClockTime at) {
    auto caps = CapsHandle::Adopt(gst_pad_get_current_caps(pad));
    GstAudioInfo info;
    if (!caps || !gst_audio_info_from_caps(&info, caps.get()) || info.bpf <= 0)
        return;
    auto frames = gst_util_uint64_scale(kSilence, static_cast<guint64>(info.rate), GST_SECOND);
    gsize bytes = frames * static_cast<gsize>(info.bpf);
    GstBuffer* silence = gst_buffer_new_allocate(nullptr, bytes, nullptr);
    gst_buffer_memset(silence, 0, 0, bytes);
    GST_BUFFER_PTS(silence) = at;
    GST_BUFFER_DURATION(silence) = kSilence;
    gst_pad_chain(pad, silence);
}

// Leaves the element's queue empty and its overlap silent, as in a new element.
void EmptyQueue(GstPad* pad, Span& span, const GstSegment& segment) {
    span.emptying = true;
    gst_pad_send_event(pad,
                       SegmentLike(segment, segment.rate, GST_CLOCK_TIME_NONE, GST_SEQNUM_INVALID));
    PushSilence(pad, segment.start);
    gst_pad_send_event(
        pad, SegmentLike(segment, kEmptyingRate, GST_CLOCK_TIME_NONE, GST_SEQNUM_INVALID));
    PushSilence(pad, segment.start);
    span.emptying = false;
}

GstPadProbeReturn OnInput(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    Span& span = SharedBox<Span>::Get(data);
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (span.emptying)
        return GST_PAD_PROBE_OK;
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (!Stretched(*segment)) {
            span.stop = GST_CLOCK_TIME_NONE;
            return GST_PAD_PROBE_OK;
        }
        EmptyQueue(pad, span, *segment);
        span.stop = segment->stop;
        GST_PAD_PROBE_INFO_DATA(info) =
            SegmentLike(*segment, segment->rate, GST_CLOCK_TIME_NONE, gst_event_get_seqnum(event));
        gst_event_unref(event);
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
        GstClockTime stop = span.stop;
        if (GST_CLOCK_TIME_IS_VALID(stop))
            PushSilence(pad, stop);
    }
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn OnOutput(GstPad*, GstPadProbeInfo* info, gpointer data) {
    Span& span = SharedBox<Span>::Get(data);
    if (span.emptying)
        return GST_PAD_PROBE_DROP;
    if (!(info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM))
        return GST_PAD_PROBE_OK;
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    GstClockTime stop = span.stop;
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT || !GST_CLOCK_TIME_IS_VALID(stop))
        return GST_PAD_PROBE_OK;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    if (segment->format != GST_FORMAT_TIME || segment->applied_rate == 1.0 || stop < segment->start)
        return GST_PAD_PROBE_OK;
    // Where the span's stop falls at this rate, as the element maps a stop.
    auto played = static_cast<GstClockTime>(static_cast<double>(stop - segment->start) /
                                            std::abs(segment->applied_rate));
    GST_PAD_PROBE_INFO_DATA(info) =
        SegmentLike(*segment, segment->rate, segment->start + played, gst_event_get_seqnum(event));
    gst_event_unref(event);
    return GST_PAD_PROBE_OK;
}

}  // namespace

ElementHandle MakeTempo() {
    auto tempo = MakeElement("scaletempo");
    if (!tempo)
        return tempo;
    auto span = std::make_shared<Span>();
    auto input = PadHandle::Adopt(gst_element_get_static_pad(tempo.get(), "sink"));
    auto output = PadHandle::Adopt(gst_element_get_static_pad(tempo.get(), "src"));
    gst_pad_add_probe(input.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, OnInput,
                      SharedBox<Span>::Make(span), SharedBox<Span>::Destroy);
    gst_pad_add_probe(output.get(), GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM, OnOutput,
                      SharedBox<Span>::Make(span), SharedBox<Span>::Destroy);
    return tempo;
}

}  // namespace media::gst
