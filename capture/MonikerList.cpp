#include "MonikerList.h"

#include "ErrorReport.h"

using namespace media;

MonikerList::~MonikerList() {
    RemoveAll();
}

HRESULT MonikerList::EnumFilters() {
    std::shared_ptr<ICreateDevEnum> pSysDevEnum;
    HRESULT hr = CoCreateInstance(Clsid::SystemDeviceEnum, &pSysDevEnum);
    if (FAILED(hr)) {
        ShowError(
            L"CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC, "
            L"IID_ICreateDevEnum, (void **)&pSysDevEnum)\n");
        return hr;
    }
    std::shared_ptr<IEnumMoniker> pEnumCat;
    hr = pSysDevEnum->CreateClassEnumerator(DeviceCategory::AudioInput, &pEnumCat);
    if (hr != S_OK) {
        ShowError(L"pSysDevEnum->CreateClassEnumerator(*clsid, &pEnumCat, 0)\n");
        return hr;
    }
    std::shared_ptr<IMoniker> moniker;
    while (pEnumCat->Next(&moniker) == S_OK) {
        AddMoniker(std::move(moniker));
        moniker.reset();
    }
    return hr;
}

HRESULT MonikerList::AddMoniker(std::shared_ptr<IMoniker> moniker) {
    if (!moniker)
        return E_POINTER;
    std::shared_ptr<IPropertyBag> pPropBag;
    HRESULT hr = moniker->BindToStorage(&pPropBag);
    if (FAILED(hr)) {
        ShowError(L"pMoniker->BindToStorage(0, 0, IID_IPropertyBag, (void **)&pPropBag)\n");
        return hr;
    }
    std::wstring name;
    hr = pPropBag->Read(L"FriendlyName", &name);
    if (FAILED(hr))
        return hr;
    m_Names.push_back(std::move(name));
    m_Monikers.push_back(std::move(moniker));
    ++m_nCount;
    return S_OK;
}

HRESULT MonikerList::SetMonikerIndex(std::int32_t n) {
    if (n >= m_nCount)
        return E_INVALIDARG;
    ReleaseFilter();
    m_nCurrent = n;
    HRESULT hr = m_Monikers[static_cast<std::size_t>(n)]->BindToObject(&m_InputFilter);
    if (FAILED(hr)) {
        m_InputFilter.reset();
        ShowError(
            L"m_Monikers[m_nCurrent]->BindToObject(0, 0, IID_IBaseFilter, "
            L"(void **)&m_InputFilter)\n");
        return hr;
    }
    hr = EnumInputPinsOnFilter();
    if (FAILED(hr)) {
        ShowError(L"EnumInputPinsOnFilter()\n");
        return hr;
    }
    DisableAllInputPins();
    return S_OK;
}

HRESULT MonikerList::EnumInputPinsOnFilter() {
    std::vector<std::shared_ptr<IPin>> pins;
    HRESULT hr = m_InputFilter->EnumPins(&pins);
    if (FAILED(hr)) {
        ShowError(L"m_InputFilter->EnumPins(&pEnum)\n");
        return hr;
    }
    for (const auto& pin : pins) {
        PinDirection direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PinDirection::Input)
            AddInputPinName(pin);
    }
    return S_OK;
}

void MonikerList::AddInputPinName(const std::shared_ptr<IPin>& pin) {
    std::wstring name;
    if (FAILED(pin->QueryPinInfo(&name)))
        return;
    if (name.size() > kMaxPinName)
        name.resize(kMaxPinName);
    m_InputPinNames.push_back(std::move(name));
    ++m_nPinCount;
}

void MonikerList::DisableAllInputPins() {
    for (const auto& name : m_InputPinNames) {
        std::shared_ptr<IPin> pin;
        if (FAILED(m_InputFilter->FindPin(name.c_str(), &pin)))
            continue;
        std::shared_ptr<IAMAudioInputMixer> mixer;
        if (FAILED(QueryInterface(pin, &mixer)))
            continue;
        mixer->put_Enable(false);
    }
}

HRESULT MonikerList::DeactivateInputPin(std::int32_t n) {
    std::shared_ptr<IPin> pin;
    HRESULT hr = m_InputFilter->FindPin(m_InputPinNames[static_cast<std::size_t>(n)].c_str(), &pin);
    if (FAILED(hr))
        return hr;
    std::shared_ptr<IAMAudioInputMixer> mixer;
    hr = QueryInterface(pin, &mixer);
    if (FAILED(hr))
        return hr;
    return mixer->put_Enable(false);
}

HRESULT MonikerList::ActivateInputPin(std::int32_t n) {
    if (n < 0 || n >= m_nPinCount)
        return E_INVALIDARG;
    if (m_nActivePin >= 0) {
        DeactivateInputPin(m_nActivePin);
        m_nActivePin = -1;
        m_pMixer.reset();
    }
    std::shared_ptr<IPin> pin;
    HRESULT hr = m_InputFilter->FindPin(m_InputPinNames[static_cast<std::size_t>(n)].c_str(), &pin);
    if (FAILED(hr)) {
        ShowError(L"m_InputFilter->FindPin(m_InputPinNames[n], &pPin)\n");
        return hr;
    }
    hr = QueryInterface(pin, &m_pMixer);
    if (FAILED(hr))
        return hr;
    hr = m_pMixer->put_Enable(true);
    if (SUCCEEDED(hr))
        m_nActivePin = n;
    m_pMixer->put_MixLevel(m_MixLevel);
    ReadBackMixLevel();
    return hr;
}

void MonikerList::ApplyAutomaticGain() {
    if (!m_pMixer)
        return;
    m_pMixer->put_MixLevel(AMF_AUTOMATICGAIN);
    ReadBackMixLevel();
}

// A level that can't be read back is not taken as silence: the remembered level
// is applied to every later pin, and 0 would mute the learner's microphone.
void MonikerList::ReadBackMixLevel() {
    double level = 0.0;
    if (m_pMixer->get_MixLevel(&level) == S_OK)
        m_MixLevel = level;
}

std::int32_t MonikerList::FindMoniker(const wchar_t* name) const {
    if (m_nCount == 0 || !name)
        return -1;
    for (std::int32_t i = 0; i < m_nCount; ++i)
        if (m_Names[static_cast<std::size_t>(i)] == name)
            return i;
    return -1;
}

const wchar_t* MonikerList::CurrentName() const {
    return m_nCurrent >= 0 ? m_Names[static_cast<std::size_t>(m_nCurrent)].c_str() : nullptr;
}

const wchar_t* MonikerList::ActivePinName() const {
    return m_nActivePin >= 0 ? m_InputPinNames[static_cast<std::size_t>(m_nActivePin)].c_str()
                             : nullptr;
}

std::int32_t MonikerList::FindPin(const wchar_t* name) const {
    if (!name)
        return -1;
    for (std::int32_t i = 0; i < m_nPinCount; ++i)
        if (m_InputPinNames[static_cast<std::size_t>(i)] == name)
            return i;
    return -1;
}

void MonikerList::ReleaseFilter() {
    if (m_InputFilter) {
        m_pMixer.reset();
        m_InputFilter.reset();
        m_InputPinNames.clear();
    }
    m_nPinCount = 0;
    m_nActivePin = -1;
}

void MonikerList::RemoveAll() {
    ReleaseFilter();
    if (m_nCount > 0) {
        m_Names.clear();
        m_Monikers.clear();
        m_nCount = 0;
        m_nCurrent = -1;
    }
}
