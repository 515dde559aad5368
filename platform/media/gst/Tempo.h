#pragma once
// The tempo stage of a playback chain: scaletempo, which plays a segment of
// rate r at r times the speed and keeps the pitch. At rate 1 it passes the
// audio through untouched.
//
// scaletempo alone would not play a span whole at another rate: it works on a
// queue of input (~50 ms) and drops what is left there at the end of the
// stream, and it keeps that queue across a flush or a stop, so the next span
// starts late by what was left and loses as much at its end. What MakeTempo
// adds around it, for every segment of a rate other than 1:
// - before the segment, the queue is run through silence and emptied, with
//   nothing of that reaching the output, so each span starts as from a new
//   element;
// - the segment reaches the element without its stop, and at the end of the
//   stream silence follows the span's last sample, which pushes the queue out;
//   the output's segment stops where the span's stop falls at that rate, so the
//   sink plays the span to its last sample and nothing after it.
//
// Threads: the additions run on the streaming thread that pushes the segment,
// the buffers and the end of the stream.
#include "GstHandles.h"

namespace media::gst {

// Empty (last error set) when GStreamer lacks scaletempo.
ElementHandle MakeTempo();

}  // namespace media::gst
