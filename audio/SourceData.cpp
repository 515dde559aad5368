#include "SourceData.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

SourceData::~SourceData() { ReleaseGraph(); }

void SourceData::ReleaseGraph() {
    if (!pGB) return;
    if (pMC) pMC->Stop();
    pGB->Abort();
    pBA.reset();
    pRC.reset();
    pMS.reset();
    pNullRenderer.reset();
    pGrabberF.reset();
    pME.reset();
    pMC.reset();
    pGB.reset();
}

void SourceData::AddSamples(const std::uint8_t*, long, double) {
    // Decoding delivers nothing until a file is loaded.
}

void SourceData::Clear() {
    if (pMC) pMC->Stop();
    if (DeleteTempFile(displayFile)) DeleteTempFile(wavFile);
    zoom = kDefaultZoom;
    scrollSample = 0;
    sampleCount = 0;
    duration = 0;
    peak = 1;
    cursorSample = -1;
    selectionStart = -1;
    selectionEnd = -1;
}

int SourceData::GetWidth() {
    if (sampleCount <= 0) return 0;
    return static_cast<int>((sampleCount - 1) * zoom) + 1;
}

int SourceData::GetScrollPos() { return static_cast<int>(scrollSample * zoom); }

std::int32_t SourceData::ClampSample(double sample) const {
    auto s = static_cast<std::int64_t>(sample);
    if (s >= sampleCount) s = sampleCount - 1;
    if (s < 0) s = 0;
    return static_cast<std::int32_t>(s);
}

void SourceData::ScrollBy(int dx) { scrollSample = ClampSample(scrollSample + std::trunc(dx / zoom)); }

void SourceData::SetScrollPos(int x) { scrollSample = ClampSample(x / zoom); }

int SourceData::SetCursor(int x) {
    auto s = static_cast<std::int64_t>(x / zoom);
    if (s > sampleCount - 1) s = sampleCount - 1;
    if (s < 0 && sampleCount > 0) s = 0;
    cursorSample = static_cast<std::int32_t>(s);
    return static_cast<int>(cursorSample * zoom);
}

int SourceData::GetCursorPos() {
    if (cursorSample < 0) return -1;
    return static_cast<int>((cursorSample - scrollSample) * zoom);
}

int SourceData::CenterCursor(int viewWidth) {
    auto s = static_cast<std::int64_t>(cursorSample - std::trunc((viewWidth >> 1) / zoom));
    scrollSample = static_cast<std::int32_t>(std::max<std::int64_t>(s, 0));
    return GetScrollPos();
}

void SourceData::Play(bool start) {
    // Playback arrives with its graph; stopping without one has nothing to stop.
    if (!start && pMC) pMC->Stop();
}

bool SourceData::UpdatePlayback() { return false; }

int SourceData::GetVolume() { return volume / 100 + 100; }

void SourceData::SetVolume(int position) {
    position = std::clamp(position, 0, 100);
    volume = (position - 100) * 100;
    if (pBA) pBA->put_Volume(volume);
}

int SourceData::GetPeaks(short** peaks, int width, int height, double* startSeconds,
                         double* spanSeconds) {
    *startSeconds = 0.0;
    *spanSeconds = 0.0;
    *peaks = nullptr;
    if (sampleCount > 0)
        *startSeconds = static_cast<double>(scrollSample) / sampleCount * duration * 1e-7;
    std::int64_t visible = static_cast<std::int64_t>(sampleCount) - scrollSample;
    if (visible <= 0) return 0;
    auto n = static_cast<std::int64_t>(width / zoom);
    *spanSeconds = static_cast<double>(n) / sampleCount * duration * 1e-7;
    std::int64_t m = std::min(visible, n);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(std::max<std::int64_t>(m, 0)));
    if (m > 0 && displayFile.IsOpen())
        ::pread(displayFile.fd, samples.data(), static_cast<std::size_t>(m) * 2,
                static_cast<off_t>(scrollSample) * 2);
    auto count = static_cast<int>(std::ceil(m * zoom));
    if (count > width) count = width;
    if (count <= 0) return 0;
    *peaks = new short[static_cast<std::size_t>(count)]();
    double scale = peak > 0 ? height / (2.0 * peak) : 0.0;
    std::int64_t i = 0;
    for (int j = 0; j < count; ++j) {
        std::int64_t r = count - j;
        std::int64_t end = i + (m - i) / r;
        if (end > m || r == 1) end = m;
        int value = 0;
        for (std::int64_t k = i; k < end; ++k)
            value = std::max(value, std::abs(static_cast<int>(samples[static_cast<std::size_t>(k)])));
        (*peaks)[j] = static_cast<short>(value * scale);
        i = end;
    }
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
    std::int64_t anchor = aroundCursor ? cursorSample
                                       : static_cast<std::int64_t>(half / zoom) + scrollSample;
    if (in) {
        zoom *= 1.1;
        if (zoom > kMaxZoom) zoom = kMaxZoom;
    } else {
        zoom *= 0.9;
        if (zoom <= kMinZoom) zoom = kMinZoom;
    }
    std::int64_t s = anchor - static_cast<std::int64_t>(half / zoom);
    scrollSample = static_cast<std::int32_t>(std::max<std::int64_t>(s, 0));
}

void SourceData::ZoomIn(int viewWidth, bool aroundCursor) { Zoom(viewWidth, aroundCursor, true); }

void SourceData::ZoomOut(int viewWidth, bool aroundCursor) { Zoom(viewWidth, aroundCursor, false); }
