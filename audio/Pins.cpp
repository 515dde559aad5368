#include "Pins.h"

#include "ErrorReport.h"

using namespace media;

HRESULT GetUnconnectedPin(const std::shared_ptr<IBaseFilter>& filter, PinDirection direction,
                          std::shared_ptr<IPin>* pin, PinErrors errors) {
    pin->reset();
    std::vector<std::shared_ptr<IPin>> pins;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr)) {
        if (errors == PinErrors::Report)
            ShowError(L"pFilter->EnumPins(&pEnum)\n");
        return hr;
    }
    for (const auto& candidate : pins) {
        PinDirection d;
        if (FAILED(candidate->QueryDirection(&d)) || d != direction)
            continue;
        std::shared_ptr<IPin> connected;
        if (FAILED(candidate->ConnectedTo(&connected))) {
            *pin = candidate;
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT ConnectFilters(const std::shared_ptr<IGraphBuilder>& graph,
                       const std::shared_ptr<IPin>& out,
                       const std::shared_ptr<IBaseFilter>& destination, PinErrors errors) {
    if (!graph || !out || !destination)
        return E_POINTER;
    std::shared_ptr<IPin> in;
    HRESULT hr = GetUnconnectedPin(destination, PinDirection::Input, &in, errors);
    if (FAILED(hr)) {
        if (errors == PinErrors::Report)
            ShowError(L"GetUnconnectedPin(pDest, PINDIR_INPUT, &pIn)\n");
        return hr;
    }
    return graph->Connect(out, in);
}

HRESULT ConnectFilters(const std::shared_ptr<IGraphBuilder>& graph,
                       const std::shared_ptr<IBaseFilter>& source,
                       const std::shared_ptr<IBaseFilter>& destination, PinErrors errors) {
    if (!graph || !source || !destination)
        return E_POINTER;
    std::shared_ptr<IPin> out;
    HRESULT hr = GetUnconnectedPin(source, PinDirection::Output, &out, errors);
    if (FAILED(hr)) {
        if (errors == PinErrors::Report)
            ShowError(L"GetUnconnectedPin(pSrc, PINDIR_OUTPUT, &pOut)\n");
        return hr;
    }
    return ConnectFilters(graph, out, destination, errors);
}
