#include "GstFilter.h"

#include <algorithm>
#include <cwchar>

#include "LastError.h"

namespace media::gst {

namespace {
// Debian packages of the elements this backend makes, for a helpful message.
const char* PackageOf(const std::string& factory) {
    if (factory == "pulsesrc" || factory == "pulsesink" || factory == "wavparse" ||
        factory == "scaletempo") {
        return "gstreamer1.0-plugins-good";
    }
    return "gstreamer1.0-plugins-base";
}
}  // namespace

ElementHandle MakeElement(const char* factory, const char* name) {
    auto element = ElementHandle::RefSink(gst_element_factory_make(factory, name));
    if (!element) {
        std::string text = std::string("The GStreamer element \"") + factory +
                           "\" is not available (package " + PackageOf(factory) + ")";
        SetLastError(static_cast<std::uint32_t>(E_NOINTERFACE), WidenUtf8(text));
    }
    return element;
}

GstPin::GstPin(std::wstring name, PinDirection direction, PadHandle pad)
    : name_(std::move(name)), direction_(direction), pad_(std::move(pad)) {}

HRESULT GstPin::QueryDirection(PinDirection* direction) {
    if (!direction)
        return E_POINTER;
    *direction = direction_;
    return S_OK;
}

HRESULT GstPin::QueryPinInfo(std::wstring* name) {
    if (!name)
        return E_POINTER;
    *name = name_;
    return S_OK;
}

HRESULT GstPin::ConnectedTo(std::shared_ptr<IPin>* other) {
    if (!other)
        return E_POINTER;
    *other = Peer();
    return *other ? S_OK : VFW_E_NOT_CONNECTED;
}

GstFilter::GstFilter(const char* binName) : bin_(ElementHandle::RefSink(gst_bin_new(binName))) {}

HRESULT GstFilter::EnumPins(std::vector<std::shared_ptr<IPin>>* pins) {
    if (!pins)
        return E_POINTER;
    pins->assign(pins_.begin(), pins_.end());
    return S_OK;
}

HRESULT GstFilter::FindPin(const wchar_t* id, std::shared_ptr<IPin>* pin) {
    if (!id || !pin)
        return E_POINTER;
    pin->reset();
    auto found =
        std::find_if(pins_.begin(), pins_.end(), [id](const auto& p) { return p->Name() == id; });
    if (found == pins_.end())
        return VFW_E_NOT_FOUND;
    *pin = *found;
    return S_OK;
}

bool GstFilter::Owns(const GstPin& pin) const {
    return std::any_of(pins_.begin(), pins_.end(),
                       [&pin](const auto& p) { return p.get() == &pin; });
}

bool GstFilter::AddToBin(const ElementHandle& element) {
    if (!element)
        return false;
    if (!gst_bin_add(GST_BIN(bin_.get()), element.get())) {
        SetLastError(static_cast<std::uint32_t>(E_FAIL), L"Cannot assemble the filter");
        return false;
    }
    return true;
}

std::shared_ptr<GstPin> GstFilter::AddStreamPin(const std::wstring& name, PinDirection direction,
                                                GstElement* inner, const char* innerPad) {
    auto target = PadHandle::Adopt(gst_element_get_static_pad(inner, innerPad));
    std::string padName = direction == PinDirection::Input ? "sink" : "src";
    padName += std::to_string(pins_.size());
    auto ghost = PadHandle::RefSink(gst_ghost_pad_new(padName.c_str(), target.get()));
    if (!ghost || !gst_element_add_pad(bin_.get(), ghost.get()))
        return nullptr;
    auto pin = std::make_shared<GstPin>(name, direction, ghost);
    AddPin(pin);
    return pin;
}

NullRenderer::NullRenderer() : GstFilter("null-renderer") {}

std::shared_ptr<NullRenderer> NullRenderer::Create() {
    std::shared_ptr<NullRenderer> renderer(new NullRenderer());
    auto sink = MakeElement("fakesink");
    if (!renderer->AddToBin(sink))
        return nullptr;
    g_object_set(sink.get(), "sync", FALSE, "async", FALSE, nullptr);
    if (!renderer->AddStreamPin(L"In", PinDirection::Input, sink.get(), "sink"))
        return nullptr;
    renderer->sink_ = sink;
    return renderer;
}

HRESULT NullRenderer::SetSyncSource(const std::shared_ptr<IReferenceClock>& clock) {
    g_object_set(sink_.get(), "sync", clock ? TRUE : FALSE, nullptr);
    return S_OK;
}

}  // namespace media::gst
