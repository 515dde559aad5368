#include "SourceData.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "Callback.h"
#include "ErrorReport.h"
#include "LastError.h"
#include "MessageBox.h"
#include "Pins.h"

SourceData::~SourceData() {
    ReleaseGraph();
}

void SourceData::ReleaseGraphObjects() {
    if (pMC)
        pMC->Stop();
    pMS.reset();
    pRC.reset();
    pBA.reset();
    pNullRenderer.reset();
    pMC.reset();
    pME.reset();
    pGrabberF.reset();
    pGB.reset();
}

void SourceData::AbortGraph() {
    if (!pGB)
        return;
    pGB->Abort();
    ReleaseGraphObjects();
}

void SourceData::ReleaseGraph() {
    if (!pGB)
        return;
    if (pMC)
        pMC->Stop();
    AbortGraph();
}

void SourceData::Clear() {
    if (pMC)
        pMC->Stop();
    if (DeleteTempFile(displayFile))
        DeleteTempFile(wavFile);
    summary.Delete();
    phrases.clear();
    columnPeaks_.clear();
    zoom = kDefaultZoom;
    scrollSample = 0;
    sampleCount = 0;
    duration = 0;
    peak = 1;
    cursorSample = -1;
    selectionStart = -1;
    selectionEnd = -1;
}

// ---- decoding ---------------------------------------------------------------

namespace {

// The display value of one channel sample: its most significant 16 bits, with
// unsigned 8-bit samples re-centred on zero.
std::int16_t DisplayValue(const std::uint8_t* sample, int bytesPerSample) {
    if (bytesPerSample == 1)
        return static_cast<std::int16_t>((sample[0] - 128) * 256);
    const std::uint8_t* top = sample + bytesPerSample - 2;
    return static_cast<std::int16_t>(top[0] | (top[1] << 8));
}

bool Fail(const wchar_t* label) {
    ShowError(label);
    return false;
}

}  // namespace

bool SourceData::LoadFile(const wchar_t* name) {
    progress = 0;
    if (pGB) {
        if (pMC)
            pMC->Stop();
        pGB->Abort();
        ReleaseGraphObjects();
    }
    fileName = name;
    phrases.clear();
    columnPeaks_.clear();
    storeFailure_ = StoreFailure::None;
    decodeStopped_ = false;
    bool ok = CreateTempFiles(*this) && summary.Create() && BuildDecodeGraph();
    // What the store could not keep is of no use, and may be large.
    if (!ok && storeFailure_ != StoreFailure::None)
        DiscardStore();
    ok = ok && BuildPlaybackGraph();
    fileName = nullptr;
    if (!ok)
        return false;
    cursorSample = 0;
    return true;
}

bool SourceData::BuildDecodeGraph() {
    peak = -1;
    // A load without a Clear in between starts counting afresh too.
    sampleCount = 0;
    acceptedFrames_ = 0;
    positionKnown_ = false;
    std::shared_ptr<media::ISampleGrabber> grabber;
    auto fail = [this](const wchar_t* label) {
        AbortGraph();
        return Fail(label);
    };
    if (FAILED(media::CoCreateInstance(media::Clsid::FilterGraph, &pGB)))
        return fail(L"CoCreateInstance(CLSID_FilterGraph,...)");
    if (FAILED(media::CoCreateInstance(media::Clsid::SampleGrabber, &pGrabberF)))
        return fail(L"CoCreateInstance(CLSID_SampleGrabber,...");
    if (FAILED(pGB->AddFilter(pGrabberF, L"Sample Grabber")))
        return fail(L"AddFilter(pGrabberF,...)");
    if (FAILED(media::QueryInterface(pGrabberF, &grabber)))
        return fail(L"QueryInterface(IID_ISampleGrabber,...)");
    if (FAILED(media::QueryInterface(pGB, &pMC)))
        return fail(L"QueryInterface(IID_IMediaControl,...)");
    if (FAILED(media::QueryInterface(pGB, &pME)))
        return fail(L"QueryInterface(IID_IMediaEvent,...)");
    media::AM_MEDIA_TYPE type;
    type.majortype = media::MajorType::Audio;
    type.subtype = media::SubType::PCM;
    type.formattype = media::FormatType::WaveFormatEx;
    if (FAILED(grabber->SetMediaType(type)))
        return fail(L"SetMediaType()");
    if (FAILED(grabber->SetOneShot(true)))
        return fail(L"SetOneShot()");
    if (FAILED(grabber->SetBufferSamples(false)))
        return fail(L"SetBufferSamples()");
    CCallback callback(this);
    if (FAILED(grabber->SetCallback(&callback, 0)))
        return fail(L"SetCallback()");
    store_.Start(
        [this](const std::uint8_t* block, std::size_t length) { StoreBlock(block, length); });
    bool ok = DecodeToEnd(grabber);
    // The streaming threads end with the graph, before the callback goes; then
    // the writer stores what they left it.
    AbortGraph();
    store_.Finish();
    decodeEvents_.reset();
    bool stored = summary.Finish();
    stored = FinishWavFile(*this) && stored;
    // A write that failed after the decoder's end was not reported yet.
    if (ok && (decodeStopped_.load() || !stored)) {
        StopDecoding(StoreFailure::Write);
        ReportStoreFailure();
        ok = false;
    }
    return ok;
}

void SourceData::DiscardStore() {
    if (DeleteTempFile(displayFile))
        DeleteTempFile(wavFile);
    summary.Delete();
    sampleCount = 0;
    duration = 0;
}

// Streaming or writer thread: the first failure is kept with its cause, and the
// wait for the end of the decode is ended; later samples are dropped.
void SourceData::StopDecoding(StoreFailure failure) {
    {
        std::lock_guard lock(failureMutex_);
        if (decodeStopped_.load())
            return;
        storeFailure_ = failure;
        failureCode_ = GetLastError();
        failureText_ = GetLastErrorText();
        decodeStopped_ = true;
    }
    if (decodeEvents_)
        decodeEvents_->Notify(media::EC_USERABORT, 0, 0);
}

void SourceData::ReportStoreFailure() {
    if (storeFailure_ == StoreFailure::TooLong) {
        auto minutes =
            static_cast<long long>(maxFrames_ / std::max<std::uint32_t>(sampleRate, 1) / 60);
        std::wstring text = L"Sorry! This recording is too long to load.\nAt most " +
                            std::to_wstring(minutes / 60) + L" h " + std::to_wstring(minutes % 60) +
                            L" min of it fit in a temporary file.";
        MessageBoxW(text.c_str(), L"Sorry!", MB_OK);
        return;
    }
    SetLastError(failureCode_, L"Cannot write to the temporary folder \"" +
                                   WidenUtf8(TempFolder()) + L"\": " + failureText_);
    ShowError(L"WriteFile()");
}

// After the wait: a stop of our own or an error of the graph ends the load with
// its message. An error after some data keeps that data, as a file damaged
// near its end still loads what decodes.
bool SourceData::ReportDecodeEnd(long code) {
    if (decodeStopped_.load()) {
        ReportStoreFailure();
        return false;
    }
    if (code != media::EC_ERRORABORT)
        return true;
    SetLastError(static_cast<std::uint32_t>(E_FAIL), L"The file could not be decoded");
    long event = 0;
    std::intptr_t p1 = 0, p2 = 0;
    while (pME->GetEvent(&event, &p1, &p2, 0) == S_OK)
        pME->FreeEventParams(event, p1, p2);
    ShowError(L"WaitForCompletion()");
    return acceptedFrames_.load() > 0;
}

bool SourceData::DecodeToEnd(const std::shared_ptr<media::ISampleGrabber>& grabber) {
    std::shared_ptr<media::IBaseFilter> sourceFilter;
    if (FAILED(pGB->AddSourceFilter(fileName, L"Source", &sourceFilter)))
        return Fail(L"AddSourceFilter()");
    if (FAILED(ConnectFilters(pGB, sourceFilter, pGrabberF, PinErrors::Silent)))
        return Fail(L"ConnectFilters()");
    media::AM_MEDIA_TYPE type;
    if (FAILED(grabber->GetConnectedMediaType(&type)))
        return Fail(L"GetConnectedMediaType()");
    if (type.format.channels > 2) {
        MessageBoxW(L"Sorry! I can't process that file.\nLet me know about this message.",
                    L"Sorry!", MB_OK);
        return false;
    }
    channels = type.format.channels;
    sampleRate = type.format.samplesPerSec;
    blockAlign = type.format.blockAlign;
    bytesPerSample = static_cast<std::uint16_t>(channels ? blockAlign / channels : 0);
    maxFrames_ = std::min(storeFrameLimit, MaxStoredFrames(blockAlign));
    if (FAILED(grabber->SetOneShot(false)))
        return Fail(L"SetOneShot()");
    if (FAILED(grabber->SetBufferSamples(false)))
        return Fail(L"SetBufferSamples()");
    if (FAILED(media::CoCreateInstance(media::Clsid::NullRenderer, &pNullRenderer)))
        return Fail(L"CoCreateInstance(CLSID_NullRenderer,...)");
    if (FAILED(pGB->AddFilter(pNullRenderer, L"Null Renderer")))
        return Fail(L"AddFilter()");
    if (FAILED(ConnectFilters(pGB, pGrabberF, pNullRenderer, PinErrors::Silent)))
        return Fail(L"ConnectFilters()");
    duration = 0;
    if (SUCCEEDED(media::QueryInterface(pGB, &pMS))) {
        std::uint32_t capabilities = media::AM_SEEKING_CanGetDuration;
        if (pMS->CheckCapabilities(&capabilities) == S_OK && FAILED(pMS->GetDuration(&duration)))
            duration = 0;
    }
    media::QueryInterface(pGB, &decodeEvents_);
    if (FAILED(pMC->Run()))
        return Fail(L"Run()");
    std::shared_ptr<media::IMediaFilter> renderer;
    if (FAILED(media::QueryInterface(pNullRenderer, &renderer)) ||
        FAILED(renderer->SetSyncSource(nullptr)))
        return Fail(L"SetSyncSource()");
    long code = 0;
    pME->WaitForCompletion(-1, &code);
    return ReportDecodeEnd(code);
}

// Streaming thread: only counts and copies, so that the decoder gets the core
// back at once; the writer thread does the rest.
void SourceData::AddSamples(const std::uint8_t* buffer, long length, double sampleTime) {
    if (decodeStopped_.load() || length <= 0)
        return;
    long frames = blockAlign ? length / blockAlign : 0;
    // The sample count, the positions and the WAV header must all stay exact.
    std::int64_t accepted = acceptedFrames_.load(std::memory_order_relaxed) + frames;
    if (accepted > maxFrames_) {
        StopDecoding(StoreFailure::TooLong);
        return;
    }
    acceptedFrames_.store(accepted, std::memory_order_relaxed);
    if (store_.Running()) {
        // The next buffer's frames count from its own start, so a buffer that
        // ends within a frame ends its block.
        store_.Add(buffer, static_cast<std::size_t>(length),
                   blockAlign != 0 && length % blockAlign != 0);
    } else if (!StoreSamples(buffer, length, frames)) {
        StopDecoding(StoreFailure::Write);
        return;
    }
    UpdateProgress(sampleTime);
}

// Writer thread: once storing has stopped, the rest is dropped.
void SourceData::StoreBlock(const std::uint8_t* block, std::size_t length) {
    if (decodeStopped_.load())
        return;
    auto bytes = static_cast<long>(length);
    if (!StoreSamples(block, bytes, blockAlign ? bytes / blockAlign : 0))
        StopDecoding(StoreFailure::Write);
}

// The count grows only by what both files took, so that a sample index always
// names stored audio.
bool SourceData::StoreSamples(const std::uint8_t* buffer, long length, long frames) {
    if (wavFile.IsOpen() && !WriteAll(wavFile.fd, buffer, static_cast<std::size_t>(length)))
        return false;
    if (channels == 0 || bytesPerSample == 0 || frames <= 0)
        return true;
    monoBuffer_.resize(static_cast<std::size_t>(frames));
    if (bytesPerSample == 2)
        MonoFrom16Bit(buffer, frames);
    else
        MonoFromAnyWidth(buffer, frames);
    if (displayFile.IsOpen() &&
        !WriteAll(displayFile.fd, monoBuffer_.data(), static_cast<std::size_t>(frames) * 2))
        return false;
    if (!summary.Add(monoBuffer_.data(), monoBuffer_.size()))
        return false;
    sampleCount += static_cast<std::int32_t>(frames);
    return true;
}

// The common case, kept tight: 16-bit samples need no width handling.
void SourceData::MonoFrom16Bit(const std::uint8_t* buffer, long frames) {
    int loudest = peak;
    const int shift = channels - 1;
    for (long f = 0; f < frames; ++f) {
        const std::uint8_t* frame = buffer + f * blockAlign;
        int sum = 0;
        for (int c = 0; c < channels; ++c) {
            auto value = static_cast<std::int16_t>(frame[2 * c] | (frame[2 * c + 1] << 8));
            sum += static_cast<std::int16_t>(value >> shift);
        }
        auto mono = static_cast<std::int16_t>(sum);
        monoBuffer_[static_cast<std::size_t>(f)] = mono;
        loudest = std::max(loudest, std::abs(static_cast<int>(mono)));
    }
    peak = loudest;
}

void SourceData::MonoFromAnyWidth(const std::uint8_t* buffer, long frames) {
    for (long f = 0; f < frames; ++f) {
        const std::uint8_t* frame = buffer + f * blockAlign;
        int sum = 0;
        for (int c = 0; c < channels; ++c) {
            std::int16_t value = DisplayValue(frame + c * bytesPerSample, bytesPerSample);
            sum += static_cast<std::int16_t>(value >> (channels - 1));
        }
        auto mono = static_cast<std::int16_t>(sum);
        monoBuffer_[static_cast<std::size_t>(f)] = mono;
        peak = std::max(peak, std::abs(static_cast<std::int32_t>(mono)));
    }
}

void SourceData::UpdateProgress(double sampleTime) {
    // The graph is asked until it first knows its position; from then on the
    // buffer's time says where the decoder is, without a query per buffer.
    std::int64_t position = 0;
    if (!positionKnown_ && duration != 0 && pMS)
        positionKnown_ = pMS->GetCurrentPosition(&position) == S_OK;
    std::int32_t next;
    if (duration != 0 && positionKnown_)
        next = static_cast<std::int32_t>(sampleTime / (static_cast<double>(duration) * 1e-7) * 100);
    else
        next = progress + 1;
    if (next > 100)
        next = 0;
    progress = next;
}

int SourceData::GetWidth() {
    if (sampleCount <= 0)
        return 0;
    return static_cast<int>((sampleCount - 1) * zoom) + 1;
}

int SourceData::GetScrollPos() {
    return static_cast<int>(scrollSample * zoom);
}

std::int32_t SourceData::ClampSample(double sample) const {
    auto s = static_cast<std::int64_t>(sample);
    if (s >= sampleCount)
        s = sampleCount - 1;
    if (s < 0)
        s = 0;
    return static_cast<std::int32_t>(s);
}

void SourceData::ScrollBy(int dx) {
    scrollSample = ClampSample(scrollSample + std::trunc(dx / zoom));
}

void SourceData::SetScrollPos(int x) {
    scrollSample = ClampSample(x / zoom);
}

int SourceData::SetCursor(int x) {
    auto s = static_cast<std::int64_t>(x / zoom);
    if (s > sampleCount - 1)
        s = sampleCount - 1;
    if (s < 0 && sampleCount > 0)
        s = 0;
    cursorSample = static_cast<std::int32_t>(s);
    return static_cast<int>(cursorSample * zoom);
}

int SourceData::GetCursorPos() {
    if (cursorSample < 0)
        return -1;
    return static_cast<int>((cursorSample - scrollSample) * zoom);
}

int SourceData::CenterCursor(int viewWidth) {
    auto s = static_cast<std::int64_t>(cursorSample - std::trunc((viewWidth >> 1) / zoom));
    scrollSample = static_cast<std::int32_t>(std::max<std::int64_t>(s, 0));
    return GetScrollPos();
}

// ---- playback -----------------------------------------------------------------

bool SourceData::BuildPlaybackGraph() {
    auto refuse = [this](const wchar_t* text, const wchar_t* caption) {
        MessageBoxW(text, caption, MB_OK);
        AbortGraph();
        return false;
    };
    if (FAILED(media::CoCreateInstance(media::Clsid::FilterGraph, &pGB)))
        return refuse(L"Could not create the Filter Graph Manager.", L"Error");
    if (FAILED(media::QueryInterface(pGB, &pMC)))
        return refuse(L"Could not create IMediaControl interface.", L"Error");
    if (FAILED(media::QueryInterface(pGB, &pME)))
        return refuse(L"Could not create IMediaEvent interface.", L"Error");
    if (FAILED(pGB->RenderFile(WidenUtf8(wavFile.path).c_str(), nullptr))) {
        ShowError(L"RenderFile()");
        AbortGraph();
        return false;
    }
    if (FAILED(media::QueryInterface(pGB, &pMS)))
        return refuse(L"Could not get IMediaSeeking interface.", L"Error");
    std::uint32_t capabilities =
        media::AM_SEEKING_CanSeekAbsolute | media::AM_SEEKING_CanGetDuration;
    if (pMS->CheckCapabilities(&capabilities) != S_OK)
        return refuse(
            L"Sorry! This stream can't seek to an absolute position.\nLet me know about "
            L"this message.",
            L"Sorry!");
    duration = 0;
    if (FAILED(pMS->GetDuration(&duration)))
        return refuse(
            L"Sorry! Couldn't get duration for this stream.\nLet me know about this "
            L"message.",
            L"Sorry!");
    if (FAILED(media::QueryInterface(pGB, &pBA)))
        return refuse(
            L"Sorry! Couldn't get IBasicAudio interface.\nLet me know about thes message.",
            L"Sorry!");
    pBA->put_Volume(volume);
    long readBack = 0;
    if (pBA->get_Volume(&readBack) == S_OK)
        volume = static_cast<std::int32_t>(readBack);
    std::vector<std::shared_ptr<media::IBaseFilter>> filters;
    pGB->EnumFilters(&filters);
    for (const auto& filter : filters) {
        std::shared_ptr<media::IBasicAudio> audio;
        std::shared_ptr<media::IReferenceClock> clock;
        if (SUCCEEDED(media::QueryInterface(filter, &audio)) &&
            SUCCEEDED(media::QueryInterface(filter, &clock)))
            pRC = clock;
    }
    return true;
}

std::int64_t SourceData::SampleToTime(std::int64_t sample) const {
    if (sampleCount <= 0)
        return 0;
    return static_cast<std::int64_t>(static_cast<double>(sample) / sampleCount *
                                     static_cast<double>(duration));
}

void SourceData::PlaySpan(std::int64_t begin, std::int64_t end) {
    if (!pMC || !pMS)
        return;
    pMC->Pause();
    pMS->SetRate(Rate());
    pMS->SetPositions(&begin, media::AM_SEEKING_AbsolutePositioning, &end,
                      media::AM_SEEKING_AbsolutePositioning);
    pMC->Run();
    clockAtStart = 0;
    if (pRC)
        pRC->GetTime(&clockAtStart);
    positionAtStart = begin;
}

void SourceData::Play(bool start) {
    if (!start) {
        if (pMC)
            pMC->Stop();
        return;
    }
    PlaySpan(SampleToTime(cursorSample), duration);
}

void SourceData::PlaySelection(bool start) {
    if (!start) {
        if (pMC)
            pMC->Stop();
        return;
    }
    PlaySpan(SampleToTime(selectionStart), SampleToTime(selectionEnd));
}

// Puts the cursor where the clock says playback is; false when the clock can't
// be read (the caller then counts the playback as still going).
bool SourceData::FollowClock(std::int64_t* position) {
    std::int64_t now = 0;
    if (!pRC || FAILED(pRC->GetTime(&now)) || duration <= 0)
        return false;
    // The clock keeps the time heard; the stream moves at the speed played.
    *position = positionAtStart + std::llround(static_cast<double>(now - clockAtStart) * Rate());
    double ratio = static_cast<double>(*position) / static_cast<double>(duration);
    cursorSample = ratio < 1 ? static_cast<std::int32_t>(ratio * sampleCount) : sampleCount;
    return true;
}

bool SourceData::UpdatePlayback() {
    // Nothing to play is played at once.
    if (sampleCount <= 0 || duration <= 0) {
        cursorSample = sampleCount;
        return false;
    }
    std::int64_t position = 0;
    if (!FollowClock(&position))
        return true;
    return duration - position > 1;
}

bool SourceData::UpdateSelectionPlayback() {
    std::int64_t position = 0;
    FollowClock(&position);
    return selectionEnd - cursorSample > 0;
}

bool SourceData::TakePlaybackError() {
    if (!pME)
        return false;
    bool failed = false;
    long code = 0;
    std::intptr_t p1 = 0, p2 = 0;
    while (pME->GetEvent(&code, &p1, &p2, 0) == S_OK) {
        pME->FreeEventParams(code, p1, p2);
        if (code == media::EC_ERRORABORT)
            failed = true;
    }
    return failed;
}

void SourceData::StopGraph() {
    if (pMC)
        pMC->Stop();
}

int SourceData::GetVolume() {
    return PositionFromVolume(volume);
}

void SourceData::SetVolume(int position) {
    std::int32_t old = volume;
    volume = VolumeFromPosition(position);
    if (!pBA)
        return;
    pBA->put_Volume(volume);
    long readBack = 0;
    if (pBA->get_Volume(&readBack) == S_OK)
        volume = static_cast<std::int32_t>(readBack);
    else
        volume = old;
}

namespace {

// Bucket edges of the plain algorithm: m samples in count consecutive buckets.
std::vector<std::int64_t> BucketEdges(std::int64_t m, int count) {
    std::vector<std::int64_t> edges(static_cast<std::size_t>(count) + 1, 0);
    std::int64_t i = 0;
    for (int j = 0; j < count; ++j) {
        std::int64_t r = count - j;
        std::int64_t end = i + (m - i) / r;
        if (end > m || r == 1)
            end = m;
        edges[static_cast<std::size_t>(j) + 1] = end;
        i = end;
    }
    return edges;
}

int MaxOf(const std::uint16_t* values, std::int64_t n) {
    std::uint16_t high = 0;
    for (std::int64_t k = 0; k < n; ++k)
        high = std::max(high, values[k]);
    return high;
}

// Stretches of a file of 16-bit values, read with few system calls: stretches
// asked for in increasing order are read as one run when fewer than kJoin values
// lie between them, as a call costs about what copying that many does.
template <class T>
class Stretches {
  public:
    // Values [first, last); `first` no smaller than any asked for before.
    void Want(std::int64_t first, std::int64_t last) {
        if (first >= last)
            return;
        if (!runs_.empty() && first <= runs_.back().last + kJoin)
            runs_.back().last = std::max(runs_.back().last, last);
        else
            runs_.push_back({first, last, 0});
    }
    // What a short read left out reads as zero.
    void Read(int fd) {
        std::size_t total = 0;
        for (Run& run : runs_) {
            run.at = total;
            total += static_cast<std::size_t>(run.last - run.first);
        }
        values_.reset(new T[total]);
        for (const Run& run : runs_) {
            T* into = values_.get() + run.at;
            auto wanted = static_cast<std::size_t>(run.last - run.first) * sizeof(T);
            ssize_t got =
                fd < 0 ? -1 : ::pread(fd, into, wanted, run.first * std::int64_t{sizeof(T)});
            auto kept = static_cast<std::size_t>(std::max<ssize_t>(got, 0));
            std::memset(reinterpret_cast<char*>(into) + kept, 0, wanted - kept);
        }
    }
    // The values from `index` on, which lies in a stretch asked for.
    const T* At(std::int64_t index) const {
        auto run = std::upper_bound(runs_.begin(), runs_.end(), index,
                                    [](std::int64_t i, const Run& r) { return i < r.first; });
        --run;
        return values_.get() + run->at + static_cast<std::size_t>(index - run->first);
    }

  private:
    static constexpr std::int64_t kJoin = 2048;
    struct Run {
        std::int64_t first, last;
        std::size_t at;
    };
    std::vector<Run> runs_;
    std::unique_ptr<T[]> values_;
};

constexpr int kUnknown = std::numeric_limits<int>::max();

}  // namespace

void SourceData::ColumnMaximaFromSamples(const std::vector<std::int64_t>& edges,
                                         std::vector<int>* maxima) {
    std::vector<ColumnPeak>& next = nextColumnPeaks_;
    next.resize(edges.size() - 1);
    Stretches<std::int16_t> samples;
    std::size_t known = 0;
    for (std::size_t j = 0; j < next.size(); ++j) {
        ColumnPeak& column = next[j];
        column = {scrollSample + edges[j], scrollSample + edges[j + 1], kUnknown};
        while (known < columnPeaks_.size() && columnPeaks_[known].first < column.first)
            ++known;
        if (known < columnPeaks_.size() && columnPeaks_[known].first == column.first &&
            columnPeaks_[known].last == column.last)
            column.maximum = columnPeaks_[known].maximum;
        else if (column.first == column.last)
            column.maximum = 0;
        else
            samples.Want(column.first, column.last);
    }
    samples.Read(displayFile.fd);
    for (std::size_t j = 0; j < next.size(); ++j) {
        ColumnPeak& column = next[j];
        if (column.maximum == kUnknown)
            column.maximum = MaxAbs(samples.At(column.first), column.last - column.first);
        (*maxima)[j] = column.maximum;
    }
    columnPeaks_.swap(next);
}

// The inside of each column comes from the group maxima; the rest of it, its
// fringes, from the block maxima, and what no whole block covers from raw
// samples. A fringe is not read when the maximum over the groups or blocks that
// hold it is no larger than what its column already has: it could not change
// the column.
void SourceData::ColumnMaximaFromSummary(const std::vector<std::int64_t>& edges,
                                         std::vector<int>* maxima) const {
    constexpr std::int64_t B = PeakSummary::kBlock;
    constexpr std::int64_t G = PeakSummary::kGroup;
    const std::vector<std::uint16_t>& groups = summary.Groups();
    const auto wholeGroups = static_cast<std::int64_t>(groups.size());
    const std::int64_t blocks = summary.Blocks();
    struct Fringe {
        std::size_t column;
        std::int64_t first, last;  // samples
    };

    std::vector<Fringe> fringes;
    for (std::size_t j = 0; j < edges.size() - 1; ++j) {
        std::int64_t first = scrollSample + edges[j], last = scrollSample + edges[j + 1];
        std::int64_t a = std::min((first + G - 1) / G, wholeGroups);
        std::int64_t b = std::min(last / G, wholeGroups);
        int& value = (*maxima)[j];
        auto keep = [&](std::int64_t from, std::int64_t to) {
            if (from >= to)
                return;
            std::int64_t g = from / G, h = (to - 1) / G + 1;
            if (h > wholeGroups || MaxOf(groups.data() + g, h - g) > value)
                fringes.push_back({j, from, to});
        };
        if (a < b) {
            value = MaxOf(groups.data() + a, b - a);
            keep(first, a * G);
            keep(b * G, last);
        } else {
            keep(first, last);
        }
    }

    Stretches<std::uint16_t> blockMaxima;
    for (const Fringe& f : fringes)
        blockMaxima.Want(f.first / B, std::min((f.last + B - 1) / B, blocks));
    blockMaxima.Read(summary.File());
    std::vector<Fringe> ends;
    for (const Fringe& f : fringes) {
        std::int64_t a = std::min((f.first + B - 1) / B, blocks);
        std::int64_t b = std::min(f.last / B, blocks);
        if (a < b) {
            int& value = (*maxima)[f.column];
            value = std::max(value, MaxOf(blockMaxima.At(a), b - a));
            ends.push_back({f.column, f.first, a * B});
            ends.push_back({f.column, b * B, f.last});
        } else {
            ends.push_back(f);
        }
    }

    Stretches<std::int16_t> samples;
    auto needed = [&](const Fringe& e) {
        if (e.first >= e.last)
            return false;
        std::int64_t k = e.first / B, l = (e.last - 1) / B + 1;
        int bound = l > blocks ? kUnknown : MaxOf(blockMaxima.At(k), l - k);
        return bound > (*maxima)[e.column];
    };
    std::erase_if(ends, [&](const Fringe& e) { return !needed(e); });
    for (const Fringe& e : ends)
        samples.Want(e.first, e.last);
    samples.Read(displayFile.fd);
    for (const Fringe& e : ends) {
        int& value = (*maxima)[e.column];
        value = std::max(value, MaxAbs(samples.At(e.first), e.last - e.first));
    }
}

int SourceData::GetPeaks(short** peaks, int width, int height, double* startSeconds,
                         double* spanSeconds) {
    *startSeconds = 0.0;
    *spanSeconds = 0.0;
    *peaks = nullptr;
    if (sampleCount > 0)
        *startSeconds =
            static_cast<double>(scrollSample) / sampleCount * static_cast<double>(duration) * 1e-7;
    std::int64_t visible = static_cast<std::int64_t>(sampleCount) - scrollSample;
    if (visible <= 0)
        return 0;
    auto n = static_cast<std::int64_t>(width / zoom);
    *spanSeconds = static_cast<double>(n) / sampleCount * static_cast<double>(duration) * 1e-7;
    std::int64_t m = std::max<std::int64_t>(std::min(visible, n), 0);
    auto count = static_cast<int>(std::ceil(static_cast<double>(m) * zoom));
    if (count > width)
        count = width;
    if (count <= 0)
        return 0;

    auto edges = BucketEdges(m, count);
    std::vector<int> maxima(static_cast<std::size_t>(count), 0);
    // The summary pays off once a column covers several blocks.
    if (summary.Ready() && m > peakSummaryThreshold && m / count >= 4 * PeakSummary::kBlock)
        ColumnMaximaFromSummary(edges, &maxima);
    else
        ColumnMaximaFromSamples(edges, &maxima);

    *peaks = new short[static_cast<std::size_t>(count)]();
    // A silent recording (peak 0) or one that delivered nothing (peak -1) draws flat.
    double scale = peak > 0 ? height / (2.0 * peak) : 0.0;
    for (int j = 0; j < count; ++j)
        (*peaks)[j] = static_cast<short>(maxima[static_cast<std::size_t>(j)] * scale);
    return count;
}

void SourceData::SetSelection(int x1, int x2) {
    selectionStart = ClampSample(x1 / zoom);
    selectionEnd = ClampSample(x2 / zoom);
    if (sampleCount <= 0 || selectionStart >= selectionEnd) {
        selectionStart = -1;
        selectionEnd = -1;
    }
}

void SourceData::Zoom(int viewWidth, bool aroundCursor, bool in) {
    int half = viewWidth >> 1;
    std::int64_t anchor =
        aroundCursor ? cursorSample : static_cast<std::int64_t>(half / zoom) + scrollSample;
    if (in) {
        zoom *= 1.1;
        if (zoom > kMaxZoom)
            zoom = kMaxZoom;
    } else {
        zoom *= 0.9;
        if (zoom <= kMinZoom)
            zoom = kMinZoom;
    }
    std::int64_t s = anchor - static_cast<std::int64_t>(half / zoom);
    scrollSample = static_cast<std::int32_t>(std::max<std::int64_t>(s, 0));
}

void SourceData::ZoomIn(int viewWidth, bool aroundCursor) {
    Zoom(viewWidth, aroundCursor, true);
}

void SourceData::ZoomOut(int viewWidth, bool aroundCursor) {
    Zoom(viewWidth, aroundCursor, false);
}

// ---- phrases ----------------------------------------------------------------

bool SourceData::FindPhrases() {
    phrases.clear();
    if (!summary.Ready())
        return true;
    std::vector<std::uint16_t> maxima(static_cast<std::size_t>(summary.Blocks()));
    constexpr std::size_t kChunk = std::size_t{1} << 20;  // values a read
    for (std::size_t done = 0; done < maxima.size();) {
        std::size_t wanted = std::min(kChunk, maxima.size() - done) * sizeof(std::uint16_t);
        ssize_t got = ::pread(summary.File(), maxima.data() + done, wanted,
                              static_cast<off_t>(done * sizeof(std::uint16_t)));
        if (got <= 0) {
            // The summary holds every block it counts: an early end is damage.
            SetLastErrorFromErrno(got < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<std::size_t>(got) / sizeof(std::uint16_t);
    }
    phrases = ::FindPhrases(maxima.data(), summary.Blocks(), PeakSummary::kBlock,
                            static_cast<int>(sampleRate), sampleCount);
    return true;
}

int SourceData::PhraseAt(std::int32_t sample) const {
    auto after = std::ranges::upper_bound(phrases, sample, {}, &Phrase::start);
    if (after == phrases.begin() || sample >= std::prev(after)->end)
        return -1;
    return static_cast<int>(after - phrases.begin()) - 1;
}
