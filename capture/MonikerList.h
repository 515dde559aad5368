#pragma once
// The machine's audio capture devices: friendly names and monikers, the one bound
// capture filter, its input pins, and the one enabled pin with its mixer.
// UI thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Media.h"

class MonikerList {
  public:
    MonikerList() = default;
    ~MonikerList();
    MonikerList(const MonikerList&) = delete;
    MonikerList& operator=(const MonikerList&) = delete;

    HRESULT EnumFilters();
    HRESULT AddMoniker(std::shared_ptr<media::IMoniker> moniker);
    HRESULT SetMonikerIndex(std::int32_t n);
    HRESULT EnumInputPinsOnFilter();
    void AddInputPinName(const std::shared_ptr<media::IPin>& pin);
    HRESULT ActivateInputPin(std::int32_t n);
    HRESULT DeactivateInputPin(std::int32_t n);
    void DisableAllInputPins();
    void ApplyAutomaticGain();
    // Index of the first device whose friendly name equals name exactly; -1 if none.
    std::int32_t FindMoniker(const wchar_t* name) const;
    const std::shared_ptr<media::IBaseFilter>& Filter() const { return m_InputFilter; }

    std::int32_t Count() const { return m_nCount; }
    const std::vector<std::wstring>& Names() const { return m_Names; }
    // The bound device's index, -1 when none is.
    std::int32_t Current() const { return m_nCurrent; }
    // The bound device's friendly name; nullptr when none is bound.
    const wchar_t* CurrentName() const;
    std::int32_t PinCount() const { return m_nPinCount; }
    const std::vector<std::wstring>& PinNames() const { return m_InputPinNames; }
    // The enabled pin's index, -1 when none is.
    std::int32_t ActivePin() const { return m_nActivePin; }
    // The enabled pin's name; nullptr when none is enabled.
    const wchar_t* ActivePinName() const;
    // Index of the first pin of the bound device named exactly name; -1 if none.
    std::int32_t FindPin(const wchar_t* name) const;
    void ReleaseFilter();
    void RemoveAll();

    static constexpr std::size_t kMaxPinName = 127;

    std::int32_t m_nCount = 0;
    std::int32_t m_nCurrent = -1;
    std::vector<std::wstring> m_Names;
    std::vector<std::shared_ptr<media::IMoniker>> m_Monikers;
    std::shared_ptr<media::IBaseFilter> m_InputFilter;
    std::vector<std::wstring> m_InputPinNames;
    std::int32_t m_nPinCount = 0;
    std::int32_t m_nActivePin = -1;
    std::shared_ptr<media::IAMAudioInputMixer> m_pMixer;
    double m_MixLevel = 0.5;

  private:
    void ReadBackMixLevel();
};
