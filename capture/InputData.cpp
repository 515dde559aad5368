#include "InputData.h"

#include <algorithm>
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
// The error report of a step that failed, under the label the step is known
// by; the step's answer passes through.
HRESULT Checked(HRESULT hr, const wchar_t* label) {
    if (FAILED(hr))
        ShowError(label);
    return hr;
}

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
    HRESULT hr = Checked(EnumInputDevices(), L"EnumInputDevices()\n");
    if (FAILED(hr))
        return hr;
    return Checked(BuildCaptureGraph(), L"BuildCaptureGraph()\n");
}

HRESULT InputData::EnumInputDevices() {
    HRESULT hr = Checked(m_MonikerList.EnumFilters(), L"m_MonikerList.EnumFilters()\n");
    if (FAILED(hr))
        return hr;
    if (m_MonikerList.m_nCount == 0) {
        MessageBoxW(L"There were no audio capture devices detected on this system.\r\n\r\n",
                    L"No audio capture hardware!", MB_OK | MB_ICONERROR);
        return E_FAIL;
    }
    hr = Checked(m_MonikerList.SetMonikerIndex(0), L"m_MonikerList.SetMonikerIndex(0)\n");
    if (FAILED(hr))
        return hr;
    hr = Checked(m_MonikerList.ActivateInputPin(0), L"m_MonikerList.ActivateInputPin(0)\n");
    if (FAILED(hr))
        return hr;
    m_MonikerList.ApplyAutomaticGain();
    return hr;
}

HRESULT InputData::BuildCaptureGraph() {
    HRESULT hr =
        Checked(CoCreateInstance(Clsid::FilterGraph, &pGB),
                L"CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC, IID_IGraphBuilder, "
                L"(void **)&pGB)\n");
    if (FAILED(hr))
        return hr;
    hr = Checked(CoCreateInstance(Clsid::CaptureGraphBuilder2, &pCapture),
                 L"CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC, "
                 L"IID_ICaptureGraphBuilder2, (void **)&pCapture)\n");
    if (FAILED(hr))
        return hr;
    if (!pGB || !pCapture)
        return E_NOINTERFACE;
    hr = Checked(pCapture->SetFiltergraph(pGB), L"pCapture->SetFiltergraph(pGB)\n");
    if (FAILED(hr))
        return hr;
    hr = Checked(QueryInterface(pGB, &pMC),
                 L"pGB->QueryInterface(IID_IMediaControl, (void **)&pMC)\n");
    if (FAILED(hr))
        return hr;
    hr = Checked(QueryInterface(pGB, &pME),
                 L"pGB->QueryInterface(IID_IMediaEventEx, (void **)&pME)\n");
    if (FAILED(hr))
        return hr;
    hr = Checked(QueryInterface(pGB, &pMES),
                 L"pGB->QueryInterface(IID_IMediaEventSink, (void **)&pMES)\n");
    if (FAILED(hr))
        return hr;
    hr = Checked(pGB->AddFilter(m_MonikerList.Filter(), INPUT_DEVICE_NAME),
                 L"pGB->AddFilter(m_MonikerList.Filter(), INPUT_DEVICE_NAME)\n");
    if (FAILED(hr))
        return hr;
    hr = Checked(CreateAndAddGrabber(), L"CreateAndAddGrabber()\n");
    if (FAILED(hr))
        return hr;
    hr = Checked(ConnectFilters(pGB, m_MonikerList.Filter(), pGrabberF, PinErrors::Report),
                 L"ConnectFilters(pGB, m_MonikerList.Filter(), pGrabberF)\n");
    if (FAILED(hr))
        return hr;
    hr = Checked(CoCreateInstance(Clsid::NullRenderer, &pNullRenderer),
                 L"CoCreateInstance(CLSID_NullRenderer, NULL, CLSCTX_INPROC_SERVER, "
                 L"IID_IBaseFilter, (void **)&pNullRenderer)\n");
    if (FAILED(hr))
        return hr;
    hr = Checked(pGB->AddFilter(pNullRenderer, L"Null Renderer"),
                 L"pGB->AddFilter(pNullRenderer, L\"Null Renderer\")\n");
    if (FAILED(hr))
        return hr;
    return ConnectFilters(pGB, pGrabberF, pNullRenderer, PinErrors::Report);
}

HRESULT InputData::CreateAndAddGrabber() {
    CoCreateInstance(Clsid::SampleGrabber, &pGrabberF);
    HRESULT hr = Checked(pGrabberF ? pGB->AddFilter(pGrabberF, L"Sample Grabber") : E_POINTER,
                         L"pGB->AddFilter(pGrabberF, L\"Sample Grabber\")\n");
    if (FAILED(hr))
        return hr;
    std::shared_ptr<ISampleGrabber> pGrabber;
    hr = Checked(QueryInterface(pGrabberF, &pGrabber),
                 L"pGrabberF->QueryInterface(IID_ISampleGrabber, (void **)&pGrabber)\n");
    if (FAILED(hr))
        return hr;
    AM_MEDIA_TYPE type;
    type.majortype = MajorType::Audio;
    type.subtype = SubType::PCM;
    type.formattype = FormatType::WaveFormatEx;
    pGrabber->SetMediaType(type);
    pGrabber->SetOneShot(false);
    pGrabber->SetBufferSamples(true);
    m_pCallback = std::make_unique<CCallback>(this);
    return Checked(pGrabber->SetCallback(m_pCallback.get(), 0),
                   L"pGrabber->SetCallback(m_pCallback, 0)\n");
}

HRESULT InputData::FillWavParamField() {
    std::shared_ptr<ISampleGrabber> pGrabber;
    HRESULT hr = Checked(QueryInterface(pGrabberF, &pGrabber),
                         L"pGrabberF->QueryInterface(IID_ISampleGrabber, (void **)&pGrabber)\n");
    if (FAILED(hr))
        return hr;
    AM_MEDIA_TYPE type;
    hr =
        Checked(pGrabber->GetConnectedMediaType(&type), L"pGrabber->GetConnectedMediaType(&amt)\n");
    if (FAILED(hr))
        return hr;
    channels = type.format.channels;
    sampleRate = type.format.samplesPerSec;
    blockAlign = type.format.blockAlign;
    bytesPerSample = static_cast<std::uint16_t>(channels ? blockAlign / channels : 0);
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
    if (!m_MonikerList.Filter()) {
        SetLastError(static_cast<std::uint32_t>(E_FAIL),
                     L"No input device is in use; choose one in the list");
        ShowError(L"Recording");
        return E_FAIL;
    }
    HRESULT hr = Checked(FillWavParamField(), L"FillWavParamField()\n");
    if (FAILED(hr))
        return hr;
    m_dLevel = 0.0;
    m_CaptureState = CAPTURE_BUSY;
    Clear();
    if (!CreateTempFiles(*this))
        return E_FAIL;
    // The graph is stopped: whatever is still queued belongs to an earlier take
    // (an end of speech that came after a Pause) and would end this one.
    DropCaptureEvents();
    std::uint32_t started = GetTickCount();
    hr = pMC->Run();
    if (FAILED(hr)) {
        // A device or server that refuses the start does not come round by
        // waiting: say so at once, naming the device.
        ReportRecordingFailure();
        pMC->Stop();
        m_CaptureState = CAPTURE_READY;
        return hr;
    }
    if (hr == S_OK) {
        m_CaptureState = CAPTURE_ARMED;
        hr = pME->SetNotifyWindow(window, WM_CAPTURE_NOTIFY, 0);
        if (hr != S_OK) {
            pMC->Stop();
            m_CaptureState = CAPTURE_READY;
        }
        return hr;
    }
    if (!WaitForState(pMC, FilterState::Running, started, kStartTimeoutMs)) {
        SetLastError(static_cast<std::uint32_t>(VFW_E_TIMEOUT),
                     L"The input device did not start within " +
                         std::to_wstring(kStartTimeoutMs / 1000) + L" s");
        ReportRecordingFailure();
    } else if (pME->SetNotifyWindow(window, WM_CAPTURE_NOTIFY, 0) == S_OK) {
        m_CaptureState = CAPTURE_ARMED;
        return S_OK;
    }
    pMC->Stop();
    m_CaptureState = CAPTURE_READY;
    return E_FAIL;
}

void InputData::ReportRecordingFailure() const {
    const MonikerList& devices = m_MonikerList;
    std::wstring label = L"Recording";
    if (devices.m_nCurrent >= 0 && devices.m_nCurrent < devices.m_nCount)
        label +=
            L" from \"" + devices.m_Names[static_cast<std::size_t>(devices.m_nCurrent)] + L"\"";
    ShowError(label.c_str());
}

void InputData::DropCaptureEvents() {
    long code = 0;
    std::intptr_t p1 = 0, p2 = 0;
    while (pME->GetEvent(&code, &p1, &p2, 0) == S_OK)
        pME->FreeEventParams(code, p1, p2);
}

void InputData::Notify(long code, std::intptr_t param1) {
    if (pMES)
        pMES->Notify(code, param1, 0);
}

// The streaming side moves the state on only from the value it saw, so a stop
// that set CAPTURE_BUSY on the UI thread meanwhile is never overwritten.
void InputData::AddSamples(const std::uint8_t* buffer, long length, double) {
    std::int32_t state = m_CaptureState;
    if (state != CAPTURE_ARMED && state != CAPTURE_VOICE && state != CAPTURE_TRAILING)
        return;
    const double level = MeanLevel(buffer, length);
    m_dLevel = m_nThreshold > 0 ? std::max(level, 0.0) / m_nThreshold : 0.0;
    const bool quiet = IsQuietLevel(level);
    switch (state) {
        case CAPTURE_ARMED:
            if (quiet)
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
            if (quiet) {
                m_dwQuietSince = GetTickCount();
                m_CaptureState.compare_exchange_strong(state, CAPTURE_TRAILING);
            }
            return;
        case CAPTURE_TRAILING:
            WriteAll(wavFile.fd, buffer, static_cast<std::size_t>(length));
            if (!quiet) {
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
    return IsQuietLevel(MeanLevel(buffer, length));
}

bool InputData::IsQuietLevel(double accumulator) const {
    return static_cast<std::int64_t>(accumulator) < m_nThreshold;
}

// The voice test's measure: the mean magnitude of the voice band, in sample units;
// below any threshold when there is nothing to measure.
double InputData::MeanLevel(const std::uint8_t* buffer, long length) const {
    if (channels == 0 || bytesPerSample == 0 || blockAlign == 0 || length <= 0)
        return -1.0;
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
        accumulator += std::fabs(splitter.Process(sum / channels)) / static_cast<double>(length);
    }
    return accumulator;
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
    HRESULT hr = Checked(FillWavParamField(), L"FillWavParamField()\n");
    if (FAILED(hr))
        return hr;
    FinishWavFile(*this);
    m_CaptureState = CAPTURE_READY;
    return S_OK;
}

// Both switches start from a stopped, aborted graph.
HRESULT InputData::StopAndAbortCapture() {
    HRESULT hr = Checked(StopCapturing(), L"StopCapturing()\n");
    if (FAILED(hr))
        return hr;
    return Checked(pGB->Abort(), L"pGB->Abort()\n");
}

HRESULT InputData::StopOnFirstPin() {
    HRESULT hr = StopAndAbortCapture();
    if (SUCCEEDED(hr))
        m_MonikerList.ActivateInputPin(0);
    return hr;
}

bool InputData::NextCaptureEvent(long* code, std::intptr_t* param1) {
    std::intptr_t param2 = 0;
    if (!pME || FAILED(pME->GetEvent(code, param1, &param2, 0)))
        return false;
    pME->FreeEventParams(*code, *param1, param2);
    return true;
}

HRESULT InputData::SetInputDevice(std::int32_t index) {
    HRESULT hr = StopAndAbortCapture();
    if (FAILED(hr))
        return hr;
    // After a switch that failed there is no capture filter left to remove.
    if (m_MonikerList.Filter()) {
        hr = Checked(pGB->RemoveFilter(m_MonikerList.Filter()),
                     L"pGB->RemoveFilter(m_MonikerList.Filter())\n");
        if (FAILED(hr))
            return hr;
    }
    std::int32_t previous = m_MonikerList.m_nCurrent;
    std::int32_t previousPin = m_MonikerList.m_nActivePin;
    hr = AttachInputDevice(index, true);
    if (FAILED(hr)) {
        // Record on from the device that worked, and let the list name the
        // device actually in use (none when that one fails now as well).
        if (previous >= 0 && SUCCEEDED(AttachInputDevice(previous, false))) {
            if (previousPin > 0)
                m_MonikerList.ActivateInputPin(previousPin);
        } else {
            m_MonikerList.m_nCurrent = -1;
        }
    }
    return hr;
}

// Binds the device and puts its filter into the graph before the grabber. On
// failure nothing of it is left bound or in the graph.
HRESULT InputData::AttachInputDevice(std::int32_t index, bool report) {
    auto fail = [&](HRESULT hr, const wchar_t* label) {
        if (report)
            ShowError(label);
        m_MonikerList.ReleaseFilter();
        return hr;
    };
    HRESULT hr = index < 0 ? E_INVALIDARG : m_MonikerList.SetMonikerIndex(index);
    if (FAILED(hr))
        return fail(hr, L"m_MonikerList.SetMonikerIndex(ind)\n");
    hr = m_MonikerList.ActivateInputPin(0);
    if (FAILED(hr))
        return fail(hr, L"m_MonikerList.ActivateInputPin(0)\n");
    auto filter = m_MonikerList.Filter();
    hr = pGB->AddFilter(filter, INPUT_DEVICE_NAME);
    if (FAILED(hr))
        return fail(hr, L"pGB->AddFilter(pFilter, INPUT_DEVICE_NAME)\n");
    hr = ConnectFilters(pGB, filter, pGrabberF, PinErrors::Report);
    if (FAILED(hr)) {
        fail(hr, L"ConnectFilters(pGB, pFilter, pGrabberF)\n");
        pGB->RemoveFilter(filter);
    }
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
    HRESULT hr = Checked(CoCreateInstance(Clsid::FilterGraph, &pGBP),
                         L"CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, "
                         L"IID_IGraphBuilder, (void **)&pGBP)\n");
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = Checked(QueryInterface(pGBP, &pMCP),
                            L"pGBP->QueryInterface(IID_IMediaControl, (void **)&pMCP)\n")))
        return hr;
    if (FAILED(hr = Checked(QueryInterface(pGBP, &pMEP),
                            L"pGBP->QueryInterface(IID_IMediaEvent, (void **)&pMEP)\n")))
        return hr;
    if (pGBP->RenderFile(WidenUtf8(wavFile.path).c_str(), nullptr) != S_OK)
        return E_FAIL;
    if (FAILED(hr = Checked(QueryInterface(pGBP, &pBAP),
                            L"pGBP->QueryInterface(IID_IBasicAudio, (void **)&pBAP)\n")))
        return hr;
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
    return PositionFromVolume(volume);
}

void InputData::SetVolume(int position) {
    std::int32_t remembered = volume;
    volume = VolumeFromPosition(position);
    if (!pBAP)
        return;
    pBAP->put_Volume(volume);
    long readBack = 0;
    if (pBAP->get_Volume(&readBack) == S_OK)
        volume = static_cast<std::int32_t>(readBack);
    else
        volume = remembered;
}
