#include "InputData.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "ErrorReport.h"
#include "LastError.h"
#include "MessageBox.h"
#include "Pins.h"
#include "Tick.h"
#include "VoiceActivity.h"
#include "Window.h"

using namespace media;

namespace {
constexpr std::uint32_t kStartTimeoutMs = 30000;
constexpr std::uint32_t kStopTimeoutMs = 20000;
constexpr std::uint32_t kPlaybackStartTimeoutMs = 20000;
constexpr long kStatePollMs = 100;
}  // namespace

InputData::InputData() {
    volume = -5000;
}

InputData::~InputData() {
    DetachCaptureFilters();
    m_MonikerList.RemoveAll();
    ReleaseCaptureGraph();
}

HRESULT InputData::InitCapture() {
    pGB.reset();
    pMC.reset();
    pME.reset();
    pMES.reset();
    pCapture.reset();
    pGrabberF.reset();
    pNullRenderer.reset();
    m_pCallback.reset();
    HRESULT hr = EnumInputDevices();
    if (FAILED(hr)) {
        ShowError(L"EnumInputDevices()\n");
        return hr;
    }
    hr = BuildCaptureGraph();
    if (FAILED(hr))
        ShowError(L"BuildCaptureGraph()\n");
    return hr;
}

HRESULT InputData::EnumInputDevices() {
    HRESULT hr = m_MonikerList.EnumFilters();
    if (FAILED(hr)) {
        ShowError(L"m_MonikerList.EnumFilters()\n");
        return hr;
    }
    if (m_MonikerList.m_nCount == 0) {
        MessageBoxW(L"There were no audio capture devices detected on this system.\r\n\r\n",
                    L"No audio capture hardware!", MB_OK | MB_ICONERROR);
        return E_FAIL;
    }
    hr = m_MonikerList.SetMonikerIndex(0);
    if (FAILED(hr)) {
        ShowError(L"m_MonikerList.SetMonikerIndex(0)\n");
        return hr;
    }
    hr = m_MonikerList.ActivateInputPin(0);
    if (FAILED(hr)) {
        ShowError(L"m_MonikerList.ActivateInputPin(0)\n");
        return hr;
    }
    m_MonikerList.ApplyAutomaticGain();
    return hr;
}

HRESULT InputData::BuildCaptureGraph() {
    HRESULT hr = CoCreateInstance(Clsid::FilterGraph, &pGB);
    if (FAILED(hr)) {
        ShowError(
            L"CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC, IID_IGraphBuilder, "
            L"(void **)&pGB)\n");
        return hr;
    }
    hr = CoCreateInstance(Clsid::CaptureGraphBuilder2, &pCapture);
    if (FAILED(hr)) {
        ShowError(
            L"CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC, "
            L"IID_ICaptureGraphBuilder2, (void **)&pCapture)\n");
        return hr;
    }
    if (!pGB || !pCapture)
        return E_NOINTERFACE;
    hr = pCapture->SetFiltergraph(pGB);
    if (FAILED(hr)) {
        ShowError(L"pCapture->SetFiltergraph(pGB)\n");
        return hr;
    }
    hr = QueryInterface(pGB, &pMC);
    if (FAILED(hr)) {
        ShowError(L"pGB->QueryInterface(IID_IMediaControl, (void **)&pMC)\n");
        return hr;
    }
    hr = QueryInterface(pGB, &pME);
    if (FAILED(hr)) {
        ShowError(L"pGB->QueryInterface(IID_IMediaEventEx, (void **)&pME)\n");
        return hr;
    }
    hr = QueryInterface(pGB, &pMES);
    if (FAILED(hr)) {
        ShowError(L"pGB->QueryInterface(IID_IMediaEventSink, (void **)&pMES)\n");
        return hr;
    }
    hr = pGB->AddFilter(m_MonikerList.Filter(), INPUT_DEVICE_NAME);
    if (FAILED(hr)) {
        ShowError(L"pGB->AddFilter(m_MonikerList.Filter(), INPUT_DEVICE_NAME)\n");
        return hr;
    }
    hr = CreateAndAddGrabber();
    if (FAILED(hr)) {
        ShowError(L"CreateAndAddGrabber()\n");
        return hr;
    }
    hr = ConnectFilters(pGB, m_MonikerList.Filter(), pGrabberF, PinErrors::Report);
    if (FAILED(hr)) {
        ShowError(L"ConnectFilters(pGB, m_MonikerList.Filter(), pGrabberF)\n");
        return hr;
    }
    hr = CoCreateInstance(Clsid::NullRenderer, &pNullRenderer);
    if (FAILED(hr)) {
        ShowError(
            L"CoCreateInstance(CLSID_NullRenderer, NULL, CLSCTX_INPROC_SERVER, "
            L"IID_IBaseFilter, (void **)&pNullRenderer)\n");
        return hr;
    }
    hr = pGB->AddFilter(pNullRenderer, L"Null Renderer");
    if (FAILED(hr)) {
        ShowError(L"pGB->AddFilter(pNullRenderer, L\"Null Renderer\")\n");
        return hr;
    }
    return ConnectFilters(pGB, pGrabberF, pNullRenderer, PinErrors::Report);
}

HRESULT InputData::CreateAndAddGrabber() {
    CoCreateInstance(Clsid::SampleGrabber, &pGrabberF);
    HRESULT hr = pGrabberF ? pGB->AddFilter(pGrabberF, L"Sample Grabber") : E_POINTER;
    if (FAILED(hr)) {
        ShowError(L"pGB->AddFilter(pGrabberF, L\"Sample Grabber\")\n");
        return hr;
    }
    std::shared_ptr<ISampleGrabber> pGrabber;
    hr = QueryInterface(pGrabberF, &pGrabber);
    if (FAILED(hr)) {
        ShowError(L"pGrabberF->QueryInterface(IID_ISampleGrabber, (void **)&pGrabber)\n");
        return hr;
    }
    AM_MEDIA_TYPE type;
    type.majortype = MajorType::Audio;
    type.subtype = SubType::PCM;
    type.formattype = FormatType::WaveFormatEx;
    pGrabber->SetMediaType(type);
    pGrabber->SetOneShot(false);
    pGrabber->SetBufferSamples(true);
    m_pCallback = std::make_unique<CCallback>(this);
    hr = pGrabber->SetCallback(m_pCallback.get(), 0);
    if (FAILED(hr))
        ShowError(L"pGrabber->SetCallback(m_pCallback, 0)\n");
    return hr;
}

HRESULT InputData::FillWavParamField() {
    std::shared_ptr<ISampleGrabber> pGrabber;
    HRESULT hr = QueryInterface(pGrabberF, &pGrabber);
    if (FAILED(hr)) {
        ShowError(L"pGrabberF->QueryInterface(IID_ISampleGrabber, (void **)&pGrabber)\n");
        return hr;
    }
    AM_MEDIA_TYPE type;
    hr = pGrabber->GetConnectedMediaType(&type);
    if (FAILED(hr)) {
        ShowError(L"pGrabber->GetConnectedMediaType(&amt)\n");
        return hr;
    }
    channels = type.format.channels;
    sampleRate = type.format.samplesPerSec;
    blockAlign = type.format.blockAlign;
    bytesPerSample = channels ? static_cast<std::uint16_t>(blockAlign / channels) : 0;
    m_nSignShift = (4 - bytesPerSample) * 8;
    m_nThreshold = 0;
    if (bytesPerSample > 0 && bytesPerSample <= 4) {
        double full = static_cast<double>((std::int64_t{1} << (8 * bytesPerSample - 1)) - 1);
        m_nThreshold = static_cast<std::int32_t>(full * 0.0009);
    }
    return S_OK;
}

// Polls the graph until it reaches `wanted` or the time runs out, at the
// 100 ms pace even when the graph answers at once.
bool InputData::WaitForState(const std::shared_ptr<IMediaControl>& control, FilterState wanted,
                             std::uint32_t started, std::uint32_t timeoutMs) {
    for (;;) {
        std::uint32_t asked = GetTickCount();
        FilterState state;
        if (control->GetState(kStatePollMs, &state) == S_OK && state == wanted)
            return true;
        if (GetTickCount() - started >= timeoutMs)
            return false;
        std::uint32_t spent = GetTickCount() - asked;
        if (spent < static_cast<std::uint32_t>(kStatePollMs))
            std::this_thread::sleep_for(std::chrono::milliseconds(kStatePollMs - spent));
    }
}

HRESULT InputData::StartCapturing(HWND window) {
    if (m_CaptureState != CAPTURE_READY)
        return E_FAIL;
    HRESULT hr = FillWavParamField();
    if (FAILED(hr)) {
        ShowError(L"FillWavParamField()\n");
        return hr;
    }
    m_CaptureState = CAPTURE_BUSY;
    Clear();
    if (!CreateTempFiles(*this))
        return E_FAIL;
    std::uint32_t started = GetTickCount();
    hr = pMC->Run();
    if (hr == S_OK) {
        m_CaptureState = CAPTURE_ARMED;
        hr = pME->SetNotifyWindow(window, WM_CAPTURE_NOTIFY, 0);
        if (hr != S_OK) {
            pMC->Stop();
            m_CaptureState = CAPTURE_READY;
        }
        return hr;
    }
    if (WaitForState(pMC, FilterState::Running, started, kStartTimeoutMs) &&
        pME->SetNotifyWindow(window, WM_CAPTURE_NOTIFY, 0) == S_OK) {
        m_CaptureState = CAPTURE_ARMED;
        return S_OK;
    }
    pMC->Stop();
    m_CaptureState = CAPTURE_READY;
    return E_FAIL;
}

void InputData::Notify(long code, std::intptr_t param1) {
    if (pMES)
        pMES->Notify(code, param1, 0);
}

// The streaming side moves the state on only from the value it saw, so a stop
// that set CAPTURE_BUSY on the UI thread meanwhile is never overwritten.
void InputData::AddSamples(const std::uint8_t* buffer, long length, double) {
    std::int32_t state = m_CaptureState;
    switch (state) {
        case CAPTURE_ARMED:
            if (IsQuietBuffer(buffer, length))
                return;
            if (!m_CaptureState.compare_exchange_strong(state, CAPTURE_BUSY))
                return;
            WriteAll(wavFile.fd, buffer, static_cast<std::size_t>(length));
            state = CAPTURE_BUSY;
            if (m_CaptureState.compare_exchange_strong(state, CAPTURE_VOICE))
                Notify(EC_BUFFERING_DATA, 1);
            return;
        case CAPTURE_VOICE:
            WriteAll(wavFile.fd, buffer, static_cast<std::size_t>(length));
            if (IsQuietBuffer(buffer, length)) {
                m_dwQuietSince = GetTickCount();
                m_CaptureState.compare_exchange_strong(state, CAPTURE_TRAILING);
            }
            return;
        case CAPTURE_TRAILING:
            WriteAll(wavFile.fd, buffer, static_cast<std::size_t>(length));
            if (!IsQuietBuffer(buffer, length)) {
                m_CaptureState.compare_exchange_strong(state, CAPTURE_VOICE);
            } else if (GetTickCount() - m_dwQuietSince >= m_dwHoldTime &&
                       m_CaptureState.compare_exchange_strong(state, CAPTURE_READY)) {
                Notify(EC_BUFFERING_DATA, 0);
            }
            return;
        default:
            return;
    }
}

bool InputData::IsQuietBuffer(const std::uint8_t* buffer, long length) const {
    if (channels == 0 || bytesPerSample == 0 || blockAlign == 0 || length <= 0)
        return true;
    BandSplitState splitter(sampleRate);
    double accumulator = 0;
    for (long position = 0; position + blockAlign <= length; position += blockAlign) {
        double sum = 0;
        const std::uint8_t* sample = buffer + position;
        for (int c = 0; c < channels; ++c, sample += bytesPerSample) {
            std::uint32_t raw = 0;
            for (int k = 0; k < bytesPerSample; ++k)
                raw |= static_cast<std::uint32_t>(sample[k]) << (8 * k);
            auto value = static_cast<std::int32_t>(raw << m_nSignShift) >> m_nSignShift;
            sum += value;
        }
        accumulator += std::fabs(splitter.Process(sum / channels)) / length;
    }
    return static_cast<std::int64_t>(accumulator) < m_nThreshold;
}

HRESULT InputData::StopCapturing() {
    if (!pME || !pMC)
        return E_POINTER;
    if (pME->SetNotifyWindow(nullptr, 0, 0) != S_OK)
        MessageBoxW(L"NULL event wasn't set", L"", MB_OK);
    std::int32_t previous = m_CaptureState.exchange(CAPTURE_BUSY);
    FilterState state;
    if (pMC->GetState(kStatePollMs, &state) == S_OK && state == FilterState::Stopped) {
        m_CaptureState = CAPTURE_READY;
        return S_OK;
    }
    std::uint32_t started = GetTickCount();
    if (pMC->Stop() != S_OK && !WaitForState(pMC, FilterState::Stopped, started, kStopTimeoutMs)) {
        m_CaptureState = previous;
        return E_FAIL;
    }
    HRESULT hr = FillWavParamField();
    if (FAILED(hr)) {
        ShowError(L"FillWavParamField()\n");
        return hr;
    }
    FinishWavFile(*this);
    m_CaptureState = CAPTURE_READY;
    return S_OK;
}

// Both switches start from a stopped, aborted graph.
HRESULT InputData::StopAndAbortCapture() {
    HRESULT hr = StopCapturing();
    if (FAILED(hr)) {
        ShowError(L"StopCapturing()\n");
        return hr;
    }
    hr = pGB->Abort();
    if (FAILED(hr))
        ShowError(L"pGB->Abort()\n");
    return hr;
}

HRESULT InputData::SetInputDevice(std::int32_t index) {
    HRESULT hr = StopAndAbortCapture();
    if (FAILED(hr))
        return hr;
    // After a switch that failed there is no capture filter left to remove.
    if (m_MonikerList.Filter()) {
        hr = pGB->RemoveFilter(m_MonikerList.Filter());
        if (FAILED(hr)) {
            ShowError(L"pGB->RemoveFilter(m_MonikerList.Filter())\n");
            return hr;
        }
    }
    hr = index < 0 ? E_INVALIDARG : m_MonikerList.SetMonikerIndex(index);
    if (FAILED(hr)) {
        ShowError(L"m_MonikerList.SetMonikerIndex(ind)\n");
        return hr;
    }
    hr = m_MonikerList.ActivateInputPin(0);
    if (FAILED(hr)) {
        ShowError(L"m_MonikerList.ActivateInputPin(0)\n");
        return hr;
    }
    auto filter = m_MonikerList.Filter();
    hr = pGB->AddFilter(filter, INPUT_DEVICE_NAME);
    if (FAILED(hr)) {
        ShowError(L"pGB->AddFilter(pFilter, INPUT_DEVICE_NAME)\n");
        return hr;
    }
    hr = ConnectFilters(pGB, filter, pGrabberF, PinErrors::Report);
    if (FAILED(hr))
        ShowError(L"ConnectFilters(pGB, pFilter, pGrabberF)\n");
    return hr;
}

HRESULT InputData::SetInputPin(std::int32_t index) {
    HRESULT hr = StopAndAbortCapture();
    return FAILED(hr) ? hr : m_MonikerList.ActivateInputPin(index);
}

void InputData::DetachCaptureFilters() {
    if (pMC)
        pMC->Stop();
    if (!pGB)
        return;
    if (m_MonikerList.Filter())
        pGB->RemoveFilter(m_MonikerList.Filter());
    if (pGrabberF)
        pGB->RemoveFilter(pGrabberF);
    if (pNullRenderer)
        pGB->RemoveFilter(pNullRenderer);
}

void InputData::ReleaseCaptureGraph() {
    if (pGB)
        pGB->Abort();
    pNullRenderer.reset();
    pGrabberF.reset();
    pME.reset();
    pMES.reset();
    pMC.reset();
    pCapture.reset();
    pGB.reset();
    m_pCallback.reset();
}

void InputData::ShutdownCapture() {
    if (pGB) {
        pGB->Abort();
        ReleaseCaptureGraph();
    }
    m_MonikerList.RemoveAll();
    if (pGBP) {
        pGBP->Abort();
        ReleasePlaybackGraph();
    }
    m_CaptureState = CAPTURE_NONE;
}

void InputData::ReleaseGraph() {
    DetachCaptureFilters();
    m_MonikerList.RemoveAll();
    ReleaseCaptureGraph();
}

void InputData::Clear() {
    if (FAILED(StopCapturing()))
        return;
    Play(false);
    if (DeleteTempFile(displayFile))
        DeleteTempFile(wavFile);
}

void InputData::Play(bool start) {
    if (start) {
        if (!pGBP && FAILED(StartPlayback()))
            ReleasePlaybackGraph();
        return;
    }
    if (!pGBP)
        return;
    if (pMCP)
        pMCP->Stop();
    pGBP->Abort();
    ReleasePlaybackGraph();
}

HRESULT InputData::StartPlayback() {
    if (pGBP) {
        if (pMCP)
            pMCP->Stop();
        pGBP->Abort();
        ReleasePlaybackGraph();
    }
    HRESULT hr = CoCreateInstance(Clsid::FilterGraph, &pGBP);
    if (FAILED(hr)) {
        ShowError(
            L"CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, "
            L"IID_IGraphBuilder, (void **)&pGBP)\n");
        return hr;
    }
    if (FAILED(hr = QueryInterface(pGBP, &pMCP))) {
        ShowError(L"pGBP->QueryInterface(IID_IMediaControl, (void **)&pMCP)\n");
        return hr;
    }
    if (FAILED(hr = QueryInterface(pGBP, &pMEP))) {
        ShowError(L"pGBP->QueryInterface(IID_IMediaEvent, (void **)&pMEP)\n");
        return hr;
    }
    if (pGBP->RenderFile(WidenUtf8(wavFile.path).c_str(), nullptr) != S_OK)
        return E_FAIL;
    if (FAILED(hr = QueryInterface(pGBP, &pBAP))) {
        ShowError(L"pGBP->QueryInterface(IID_IBasicAudio, (void **)&pBAP)\n");
        return hr;
    }
    pBAP->put_Volume(volume);
    long readBack = 0;
    if (pBAP->get_Volume(&readBack) == S_OK)
        volume = static_cast<std::int32_t>(readBack);
    std::uint32_t started = GetTickCount();
    if (pMCP->Run() == S_OK)
        return S_OK;
    return WaitForState(pMCP, FilterState::Running, started, kPlaybackStartTimeoutMs) ? S_OK
                                                                                      : E_FAIL;
}

bool InputData::IsPlaybackFinished() {
    if (!pGBP)
        return true;
    long code = 0;
    std::intptr_t p1 = 0, p2 = 0;
    if (pMEP->GetEvent(&code, &p1, &p2, 0) != S_OK)
        return false;
    pMEP->FreeEventParams(code, p1, p2);
    // A take that breaks off is reported; the cycle then waits for Pause.
    if (code == EC_ERRORABORT)
        ShowError(L"Playback");
    if (code != EC_COMPLETE)
        return false;
    pMCP->Stop();
    pGBP->Abort();
    ReleasePlaybackGraph();
    return true;
}

void InputData::ReleasePlaybackGraph() {
    pBAP.reset();
    pMEP.reset();
    pMCP.reset();
    pGBP.reset();
}

int InputData::GetVolume() {
    return volume / 100 + 100;
}

void InputData::SetVolume(int position) {
    std::int32_t remembered = volume;
    if (position < 0)
        position = 0;
    if (position > 100)
        position = 100;
    volume = (position - 100) * 100;
    if (!pBAP)
        return;
    pBAP->put_Volume(volume);
    long readBack = 0;
    if (pBAP->get_Volume(&readBack) == S_OK)
        volume = static_cast<std::int32_t>(readBack);
    else
        volume = remembered;
}
