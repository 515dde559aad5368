#pragma once
// Joining filters by their first free pins. The narrator's graphs use these
// silently and report failures under their own labels; the capture graph has
// every missing pin reported where it is found.
#include <memory>

#include "Media.h"

enum class PinErrors { Silent, Report };

HRESULT GetUnconnectedPin(const std::shared_ptr<media::IBaseFilter>& filter,
                          media::PinDirection direction, std::shared_ptr<media::IPin>* pin,
                          PinErrors errors);
HRESULT ConnectFilters(const std::shared_ptr<media::IGraphBuilder>& graph,
                       const std::shared_ptr<media::IPin>& out,
                       const std::shared_ptr<media::IBaseFilter>& destination, PinErrors errors);
HRESULT ConnectFilters(const std::shared_ptr<media::IGraphBuilder>& graph,
                       const std::shared_ptr<media::IBaseFilter>& source,
                       const std::shared_ptr<media::IBaseFilter>& destination, PinErrors errors);
