#pragma once
// The narrator's recording: its temporary files, its playback graph and the
// oscillogram's view state (zoom, scroll, cursor and selection, all in samples).
//
// Threads: AddSamples runs on the decode graph's streaming thread while a file
// loads, and hands the samples to a writer thread of the load's own that stores
// them; everything else on the UI thread, or on the loading thread during a load.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "BlockQueue.h"
#include "IData.h"
#include "Media.h"
#include "PeakSummary.h"
#include "PhraseFinder.h"

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

    // Decodes the file into the temporary store and puts the cursor on its first
    // sample. Blocks until decoding has finished; failures are reported here.
    bool LoadFile(const wchar_t* fileName);
    void SetSelection(int x1, int x2);
    // Plays from the selection start to its end; false stops.
    void PlaySelection(bool start);
    // Moves the cursor with the playing selection; false once it reached the end.
    bool UpdateSelectionPlayback();
    // Drains the playback graph's events; true when one reported a failure (the
    // last error then describes it).
    bool TakePlaybackError();
    // Stops the playback graph where it is, and nothing else.
    void StopGraph();
    void ZoomIn(int viewWidth, bool aroundCursor);
    void ZoomOut(int viewWidth, bool aroundCursor);

    // The narrator's speed in percent (100 normal), pitch kept; taken up by the
    // next Play or PlaySelection. The cursor follows the stream at that speed.
    void SetSpeed(int percent) { speed_ = std::clamp(percent, 25, 400); }
    int GetSpeed() const { return speed_; }

    // Finds the phrases of the loaded recording from its peak summary, on the
    // loading thread once LoadFile has succeeded; false (last error set) when
    // the summary could not be read, and then there are none.
    bool FindPhrases();
    // The index of the phrase that holds `sample`; -1 for none.
    int PhraseAt(std::int32_t sample) const;
    std::vector<Phrase> phrases;  // in order, apart from each other

    static constexpr double kDefaultZoom = 0.005;
    static constexpr double kMaxZoom = 0.5;
    static constexpr double kMinZoom = 0.0001;

    const wchar_t* fileName = nullptr;  // only while LoadFile runs
    std::int64_t duration = 0;          // 100-ns units; 0 = unknown
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
    // Written by the streaming thread while a file decodes, read by the UI timer.
    std::atomic<std::int32_t> progress{0};
    // Visible spans longer than this many samples are summarised from the block
    // maxima instead of being read in full.
    std::int64_t peakSummaryThreshold = 1 << 18;
    PeakSummary summary;
    // A load that would store more frames than this is refused as too long; the
    // store's own limit (MaxStoredFrames) applies whatever this says.
    std::int64_t storeFrameLimit = std::numeric_limits<std::int64_t>::max();

  private:
    // Why the streaming thread stopped taking samples.
    enum class StoreFailure { None, Write, TooLong };

    bool BuildDecodeGraph();
    bool StoreSamples(const std::uint8_t* buffer, long length, long frames);
    void StoreBlock(const std::uint8_t* block, std::size_t length);
    void StopDecoding(StoreFailure failure);
    bool ReportDecodeEnd(long code);
    void ReportStoreFailure();
    void DiscardStore();
    bool BuildPlaybackGraph();
    void PlaySpan(std::int64_t begin, std::int64_t end);
    bool FollowClock(std::int64_t* position);
    std::int64_t SampleToTime(std::int64_t sample) const;
    bool DecodeToEnd(const std::shared_ptr<media::ISampleGrabber>& grabber);
    void ReleaseGraphObjects();
    void AbortGraph();
    void UpdateProgress(double sampleTime);
    void MonoFrom16Bit(const std::uint8_t* buffer, long frames);
    void MonoFromAnyWidth(const std::uint8_t* buffer, long frames);
    void ColumnMaximaFromSamples(const std::vector<std::int64_t>& edges, std::vector<int>* maxima);
    void ColumnMaximaFromSummary(const std::vector<std::int64_t>& edges,
                                 std::vector<int>* maxima) const;
    std::int32_t ClampSample(double sample) const;
    // The columns the last read of raw samples gave, by their stretch of samples:
    // while the narrator plays, the view moves on by a few columns a tick, and the
    // others are the same stretches again. Kept for one recording.
    struct ColumnPeak {
        std::int64_t first, last;
        int maximum;
    };
    std::vector<ColumnPeak> columnPeaks_, nextColumnPeaks_;
    std::vector<std::int16_t> monoBuffer_;  // writer thread only
    // What the streaming thread has taken so far, in frames; it answers for the
    // store's limit before the writer has caught up.
    std::atomic<std::int64_t> acceptedFrames_{0};
    bool positionKnown_ = false;  // streaming thread only
    // Decoded buffers on their way from the streaming thread to the store.
    BlockQueue store_{std::size_t{1} << 18, 4};
    // Set by the thread that stops storing (streaming thread: too long; writer:
    // a failed write); the rest is written under the mutex before the flag, and
    // read on the loading thread once the graph and the writer have gone.
    std::mutex failureMutex_;
    std::atomic<bool> decodeStopped_{false};
    StoreFailure storeFailure_ = StoreFailure::None;
    std::uint32_t failureCode_ = 0;
    std::wstring failureText_;
    std::int64_t maxFrames_ = 0;
    // The decode graph's event sink, for the streaming thread to end the wait.
    std::shared_ptr<media::IMediaEventSink> decodeEvents_;
    void Zoom(int viewWidth, bool aroundCursor, bool in);
    double Rate() const { return speed_ / 100.0; }
    int speed_ = 100;
};
