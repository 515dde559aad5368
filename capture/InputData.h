#pragma once
// The learner's voice: the capture devices and their pins, the capture graph that
// is built once at start-up and kept, and the playback of the recording.
//
// Threads: AddSamples runs on the capture graph's streaming thread and is gated by
// m_CaptureState alone; every other operation runs on the UI thread.
#include <atomic>
#include <cstdint>
#include <memory>

#include "Callback.h"
#include "IData.h"
#include "Media.h"
#include "MonikerList.h"

constexpr std::int32_t CAPTURE_NONE = 0;
constexpr std::int32_t CAPTURE_READY = 2;
constexpr std::int32_t CAPTURE_ARMED = 6;
constexpr std::int32_t CAPTURE_VOICE = 7;
constexpr std::int32_t CAPTURE_TRAILING = 8;
constexpr std::int32_t CAPTURE_BUSY = 255;

// Name of the capture filter inside the capture graph.
constexpr const wchar_t* INPUT_DEVICE_NAME = L"Audio Capture";

class InputData : public IData {
  public:
    InputData();
    ~InputData() override;

    void ReleaseGraph() override;
    void AddSamples(const std::uint8_t* buffer, long length, double sampleTime) override;
    void Clear() override;
    int GetWidth() override { return 0; }
    int GetScrollPos() override { return 0; }
    void ScrollBy(int) override {}
    void SetScrollPos(int) override {}
    int SetCursor(int) override { return 0; }
    int GetCursorPos() override { return 0; }
    int CenterCursor(int) override { return 0; }
    void Play(bool start) override;
    bool UpdatePlayback() override { return true; }
    int GetVolume() override;
    void SetVolume(int position) override;

    HRESULT InitCapture();
    void ShutdownCapture();
    // Runs the capture graph and arms the voice-activated recording; the graph
    // notifies `window` when it has events.
    HRESULT StartCapturing(HWND window);
    HRESULT StopCapturing();
    // One event of the learner's playback per call; true when none is under way.
    bool IsPlaybackFinished();
    // The voice test: true when the buffer's mean level is below the threshold.
    bool IsQuietBuffer(const std::uint8_t* buffer, long length) const;
    // The last captured buffer's level over the voice test's threshold (1: just
    // heard); 0 until a recording has taken a buffer.
    double InputLevel() const { return m_dLevel; }
    HRESULT SetInputDevice(std::int32_t index);
    HRESULT SetInputPin(std::int32_t index);
    HRESULT EnumInputDevices();
    // After a device switch: the capture graph stopped and aborted, then the new
    // device's first pin enabled. Failures are reported.
    HRESULT StopOnFirstPin();
    // The capture graph's next event, its parameters freed; false when there is
    // none or no graph.
    bool NextCaptureEvent(long* code, std::intptr_t* param1);
    const MonikerList& Devices() const { return m_MonikerList; }

    std::atomic<std::int32_t> m_CaptureState{CAPTURE_NONE};
    std::shared_ptr<media::IGraphBuilder> pGB;
    std::shared_ptr<media::IGraphBuilder> pGBP;
    std::shared_ptr<media::IMediaControl> pMC;
    std::shared_ptr<media::IMediaControl> pMCP;
    std::shared_ptr<media::IMediaEventEx> pME;
    std::shared_ptr<media::IMediaEvent> pMEP;
    std::shared_ptr<media::IMediaEventSink> pMES;
    std::shared_ptr<media::IBasicAudio> pBAP;
    std::shared_ptr<media::ICaptureGraphBuilder2> pCapture;
    std::shared_ptr<media::IBaseFilter> pGrabberF;
    std::shared_ptr<media::IBaseFilter> pNullRenderer;
    MonikerList m_MonikerList;
    std::unique_ptr<CCallback> m_pCallback;
    std::int32_t m_nSignShift = 0;
    std::int32_t m_nThreshold = 0;
    std::uint32_t m_dwHoldTime = 0;
    std::uint32_t m_dwQuietSince = 0;   // streaming thread only
    std::atomic<double> m_dLevel{0.0};  // written by the streaming thread

  private:
    double MeanLevel(const std::uint8_t* buffer, long length) const;
    bool IsQuietLevel(double accumulator) const;
    HRESULT BuildCaptureGraph();
    HRESULT CreateAndAddGrabber();
    HRESULT FillWavParamField();
    HRESULT StartPlayback();
    HRESULT StopAndAbortCapture();
    HRESULT AttachInputDevice(std::int32_t index, bool report);
    void ReportRecordingFailure() const;
    void DropCaptureEvents();
    static bool WaitForState(const std::shared_ptr<media::IMediaControl>& control,
                             media::FilterState wanted, std::uint32_t started,
                             std::uint32_t timeoutMs);
    void Notify(long code, std::intptr_t param1);
    void DetachCaptureFilters();
    void ReleaseCaptureGraph();
    void ReleasePlaybackGraph();
};
