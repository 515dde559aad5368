#pragma once
// Filters and pins of the GStreamer backend.
//
// A filter is a GstBin that lives outside any pipeline until a graph adds it;
// its pins that carry a stream are ghost pads of that bin. A filter keeps its
// own reference to the bin, so it stays usable after RemoveFilter and can be
// added to a graph again. Pins that carry no stream (the input lines of a
// capture device) have no pad.
//
// Connections are made and broken only by the graph (FilterGraph::Connect,
// RemoveFilter); a pin merely remembers its peer.
//
// Threads: filters and pins are used from one thread at a time (the UI thread or
// a loading thread), like the graph that holds them. Subclasses state what their
// streaming-thread parts touch.
#include <memory>
#include <string>
#include <vector>

#include "GstHandles.h"
#include "Media.h"

namespace media::gst {

class GstPin : public IPin, public std::enable_shared_from_this<GstPin> {
  public:
    // `pad` is the bin's ghost pad, or empty for a pin that carries no stream.
    GstPin(std::wstring name, PinDirection direction, PadHandle pad);

    // The fixed format of the stream an output pin carries when it is known
    // before the graph runs (a file source that has read its first data);
    // empty for a live source, whose format settles only when it starts.
    virtual CapsHandle StreamCaps() const { return {}; }

    HRESULT QueryDirection(PinDirection* direction) override;
    HRESULT QueryPinInfo(std::wstring* name) override;
    HRESULT ConnectedTo(std::shared_ptr<IPin>* other) override;

    const std::wstring& Name() const { return name_; }
    PinDirection Direction() const { return direction_; }
    GstPad* Pad() const { return pad_.get(); }

    // A live pin (a capture device's output) delivers data as it happens, at
    // the device's pace and in the device's own buffer sizes.
    bool Live() const { return live_; }
    void SetLive(bool live) { live_ = live; }

    std::shared_ptr<GstPin> Peer() const { return peer_.lock(); }
    void SetPeer(const std::shared_ptr<GstPin>& peer) { peer_ = peer; }
    void ClearPeer() { peer_.reset(); }

  private:
    std::wstring name_;
    PinDirection direction_;
    PadHandle pad_;
    std::weak_ptr<GstPin> peer_;
    bool live_ = false;
};

class GstFilter : public IBaseFilter {
  public:
    HRESULT EnumPins(std::vector<std::shared_ptr<IPin>>* pins) override;
    HRESULT FindPin(const wchar_t* id, std::shared_ptr<IPin>* pin) override;

    GstElement* Element() const { return bin_.get(); }
    const std::vector<std::shared_ptr<GstPin>>& Pins() const { return pins_; }
    bool Owns(const GstPin& pin) const;

    // The graph calls this before it leaves the stopped state. A filter that
    // talks to a device checks here, within a bounded time, that the device
    // answers, because GStreamer's own state change would block far longer on a
    // server that has stopped responding.
    virtual HRESULT PrepareToStart() { return S_OK; }
    // The graph calls these around every state change of its pipeline (before
    // only when the change was not refused). A filter that keeps a state of its
    // own while the graph is stopped joins the pipeline's state here.
    virtual void BeforeStateChange(GstState /*target*/) {}
    virtual void AfterStateChange(GstState /*target*/) {}
    // Answers a query (duration, position, seeking) about the stream the filter
    // produces, for a graph whose pipeline cannot answer yet; false when it
    // has no answer.
    virtual bool Query(GstQuery* /*query*/) { return false; }
    // The graph calls these after it linked or unlinked one of this filter's pins.
    virtual void PinConnected(GstPin&) {}
    virtual void PinDisconnected(GstPin&) {}

  protected:
    explicit GstFilter(const char* binName);
    // Exposes `innerPad` of `inner` (an element already in the bin) as a pin.
    std::shared_ptr<GstPin> AddStreamPin(const std::wstring& name, PinDirection direction,
                                         GstElement* inner, const char* innerPad);
    void AddPin(std::shared_ptr<GstPin> pin) { pins_.push_back(std::move(pin)); }
    // Adds a new element to the bin; false (last error set) when it is missing.
    bool AddToBin(const ElementHandle& element);

  private:
    ElementHandle bin_;
    std::vector<std::shared_ptr<GstPin>> pins_;
};

// The discarding end of a graph: one input pin "In". Not synchronised to the
// clock, so it takes buffers as fast as they come (a capture source paces
// itself; a decoding graph runs at full speed). SetSyncSource with a clock
// makes it keep to the pipeline's clock; with none it takes every buffer at once.
class NullRenderer final : public GstFilter, public IMediaFilter {
  public:
    // Null (last error set) when GStreamer lacks the needed element.
    static std::shared_ptr<NullRenderer> Create();

    HRESULT SetSyncSource(const std::shared_ptr<IReferenceClock>& clock) override;

  private:
    NullRenderer();
    ElementHandle sink_;
};

}  // namespace media::gst
