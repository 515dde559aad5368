#pragma once
// The narrator's recording: its temporary files, its playback graph and the
// oscillogram's view state (zoom, scroll, cursor and selection, all in samples).
//
// Threads: AddSamples runs on the decode graph's streaming thread while a file
// loads; everything else on the UI thread, or on the loading thread during a load.
#include <cstdint>
#include <memory>

#include "IData.h"
#include "Media.h"

class SourceData : public IData {
public:
    SourceData() = default;
    ~SourceData() override;

    void ReleaseGraph() override;
    void AddSamples(const std::uint8_t* buffer, long length, double sampleTime) override;
    void Clear() override;
    int GetWidth() override;
    int GetScrollPos() override;
    void ScrollBy(int dx) override;
    void SetScrollPos(int x) override;
    int SetCursor(int x) override;
    int GetCursorPos() override;
    int CenterCursor(int viewWidth) override;
    void Play(bool start) override;
    bool UpdatePlayback() override;
    int GetVolume() override;
    void SetVolume(int position) override;

    // One peak half-height per pixel column of the visible part; the caller owns
    // *peaks (array new). Returns the number of columns.
    virtual int GetPeaks(short** peaks, int width, int height, double* startSeconds,
                         double* spanSeconds);

    void SetSelection(int x1, int x2);
    void ZoomIn(int viewWidth, bool aroundCursor);
    void ZoomOut(int viewWidth, bool aroundCursor);

    static constexpr double kDefaultZoom = 0.005;
    static constexpr double kMaxZoom = 0.5;
    static constexpr double kMinZoom = 0.0001;

    std::int64_t duration = 0;  // 100-ns units; 0 = unknown
    std::shared_ptr<media::IGraphBuilder> pGB;
    std::shared_ptr<media::IMediaControl> pMC;
    std::shared_ptr<media::IMediaEvent> pME;
    std::shared_ptr<media::IBaseFilter> pGrabberF;
    std::shared_ptr<media::IBaseFilter> pNullRenderer;
    std::shared_ptr<media::IMediaSeeking> pMS;
    std::shared_ptr<media::IReferenceClock> pRC;
    std::shared_ptr<media::IBasicAudio> pBA;
    std::int64_t clockAtStart = 0;
    std::int64_t positionAtStart = 0;
    double zoom = kDefaultZoom;
    std::int32_t scrollSample = 0;
    std::int32_t sampleCount = 0;
    std::int32_t peak = 1;
    std::int32_t cursorSample = -1;
    std::int32_t selectionStart = -1;
    std::int32_t selectionEnd = -1;
    std::int32_t progress = 0;

private:
    std::int32_t ClampSample(double sample) const;
    void Zoom(int viewWidth, bool aroundCursor, bool in);
};
