#pragma once
// A file source for decoding: filesrc ! decodebin in a bin, with one output pin
// "Output" carrying the file's first audio stream as raw audio, all of it in the
// format (rate, width, channels) of its first part: a file whose rate changes
// midway is resampled from there on. Any other stream
// of the file (video, a second audio track) ends in a discarding sink inside.
//
// Create reads the file up to its first decoded data before it returns, so the
// pin's format is known as soon as the filter exists, as a caller connecting and
// inspecting formats before Run expects. The wait is bounded: a file that cannot
// be opened, is not media, has no audio or cannot be decoded fails there, with
// GStreamer's text as the last error ("Resource not found.", "Could not
// determine type of stream.").
//
// After that first read the decoder's first buffer (or the end of a file that
// decodes to nothing) is held back on the decoder's pad, and the bin keeps its
// own PAUSED state, locked against the graph's pipeline, which is still stopped.
// When the graph starts (AfterStateChange to PAUSED or PLAYING), the bin takes
// the pipeline's state and the held data flows on; a graph that stops first
// takes the bin down with it, which discards the held data.
//
// Threads: the decoder's streaming thread runs the pad callbacks and the probe;
// they touch only the shared Stream state, under its mutex. Every other
// operation: one thread at a time, like the graph.
#include <chrono>
#include <memory>
#include <string>

#include "GstFilter.h"

namespace media::gst {

class SourceFilter final : public GstFilter {
  public:
    // Null, with the last error set, when the file cannot be decoded or its
    // first data does not arrive within `wait`.
    static std::shared_ptr<SourceFilter> Create(const std::string& path,
                                                std::chrono::milliseconds wait);
    ~SourceFilter() override;
    SourceFilter(const SourceFilter&) = delete;
    SourceFilter& operator=(const SourceFilter&) = delete;

    void BeforeStateChange(GstState target) override;
    void AfterStateChange(GstState target) override;
    bool Query(GstQuery* query) override;

    struct Stream;

  private:
    SourceFilter();
    bool Build(const std::string& path);
    bool Preroll(std::chrono::milliseconds wait);
    bool ReadFirstData(std::chrono::steady_clock::time_point deadline);
    void ReleaseHeldData();

    std::shared_ptr<Stream> stream_;
    // Locked in its own PAUSED state with the first data held back.
    bool held_ = false;
};

}  // namespace media::gst
