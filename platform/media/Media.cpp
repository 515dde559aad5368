#include "Media.h"

#include <mutex>

#include "../LastError.h"

namespace media {
namespace {
std::mutex factoryMutex;
std::shared_ptr<IMediaFactory>& Factory() {
    static std::shared_ptr<IMediaFactory> factory;
    return factory;
}
}  // namespace

void SetMediaFactory(std::shared_ptr<IMediaFactory> factory) {
    std::lock_guard lock(factoryMutex);
    Factory() = std::move(factory);
}

std::shared_ptr<IMediaFactory> GetMediaFactory() {
    std::lock_guard lock(factoryMutex);
    return Factory();
}

HRESULT CoCreateInstance(Clsid clsid, std::shared_ptr<IUnknown>* object) {
    if (!object)
        return E_POINTER;
    object->reset();
    auto factory = GetMediaFactory();
    if (!factory) {
        SetLastError(static_cast<std::uint32_t>(E_NOINTERFACE), L"No media backend is installed.");
        return E_NOINTERFACE;
    }
    return factory->CreateInstance(clsid, object);
}

}  // namespace media
