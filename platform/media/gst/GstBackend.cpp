#include "GstBackend.h"

#include <gst/gst.h>

#include <mutex>

#include "CaptureDevices.h"
#include "FilterGraph.h"
#include "LastError.h"
#include "SampleGrabber.h"

namespace media::gst {
namespace {

class GstMediaFactory final : public IMediaFactory {
  public:
    HRESULT CreateInstance(Clsid clsid, std::shared_ptr<IUnknown>* object) override {
        if (!object)
            return E_POINTER;
        *object = Make(clsid);
        // Makers that can fail have set the last error already.
        return *object ? S_OK : E_FAIL;
    }

  private:
    static std::shared_ptr<IUnknown> Make(Clsid clsid) {
        switch (clsid) {
            case Clsid::SystemDeviceEnum:
                return std::make_shared<DeviceEnumerator>();
            case Clsid::FilterGraph:
                return std::make_shared<FilterGraph>();
            case Clsid::CaptureGraphBuilder2:
                return std::make_shared<CaptureGraphBuilder>();
            case Clsid::SampleGrabber:
                return SampleGrabber::Create();
            case Clsid::NullRenderer:
                return NullRenderer::Create();
        }
        SetLastError(static_cast<std::uint32_t>(E_NOINTERFACE), L"Unknown media object class");
        return nullptr;
    }
};

}  // namespace
}  // namespace media::gst

std::shared_ptr<media::IMediaFactory> CreateGstMediaFactory() {
    static std::once_flag initialised;
    std::call_once(initialised, [] { gst_init(nullptr, nullptr); });
    return std::make_shared<media::gst::GstMediaFactory>();
}
