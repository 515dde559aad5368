#include "PlaybackFilters.h"

#include <algorithm>
#include <cmath>

#include "LastError.h"
#include "PulseSession.h"
#include "Tempo.h"

namespace media::gst {

namespace {

// Where a new stream's first sample goes. The server takes a stream in by
// rewinding what its output has mixed ahead, and what lies in that stretch
// (up to ~9 ms on a PulseAudio null sink) can be lost; a stream that starts
// this far in loses silence there instead of the phrase's first sound.
constexpr GstClockTime kStartLead = 20 * GST_MSECOND;

// The stretch the output is handed at a time: each one wakes the streaming
// thread and libpulse's once, and the sink's default of 10 ms is a good part of
// what the program costs while it plays. The first sound still comes as soon
// as the first stretch is written, and a stop still ends at its sample.
constexpr gint64 kSegmentMicroseconds = 40000;

double GainOf(long volume) {
    return std::pow(10.0, static_cast<double>(volume) / 2000.0);
}

}  // namespace

// ---- the file source --------------------------------------------------------

WaveSource::WaveSource() : GstFilter("wave-source") {}

std::shared_ptr<WaveSource> WaveSource::Create(const std::string& path) {
    std::shared_ptr<WaveSource> source(new WaveSource());
    return source->Build(path) ? source : nullptr;
}

bool WaveSource::Build(const std::string& path) {
    auto file = MakeElement("filesrc");
    auto parser = MakeElement("wavparse");
    if (!AddToBin(file) || !AddToBin(parser))
        return false;
    g_object_set(file.get(), "location", path.c_str(), nullptr);
    if (!gst_element_link(file.get(), parser.get())) {
        SetLastError(static_cast<std::uint32_t>(E_FAIL), L"Cannot assemble the file source");
        return false;
    }
    return AddStreamPin(L"Output", PinDirection::Output, parser.get(), "src") != nullptr;
}

// ---- the audio renderer -----------------------------------------------------

AudioRenderer::AudioRenderer() : GstFilter("audio-renderer") {}

std::shared_ptr<AudioRenderer> AudioRenderer::Create() {
    std::shared_ptr<AudioRenderer> renderer(new AudioRenderer());
    return renderer->Build() ? renderer : nullptr;
}

bool AudioRenderer::Build() {
    auto convert = MakeElement("audioconvert");
    auto tempo = MakeTempo();
    auto resample = MakeElement("audioresample");
    auto volume = MakeElement("volume");
    auto sink = MakeElement("pulsesink");
    if (!AddToBin(convert) || !AddToBin(tempo) || !AddToBin(resample) || !AddToBin(volume) ||
        !AddToBin(sink))
        return false;
    g_object_set(sink.get(), "client-name", "Sayalike", "ts-offset",
                 static_cast<gint64>(kStartLead), "latency-time", kSegmentMicroseconds, nullptr);
    if (!gst_element_link_many(convert.get(), tempo.get(), resample.get(), volume.get(), sink.get(),
                               nullptr)) {
        SetLastError(static_cast<std::uint32_t>(E_FAIL), L"Cannot assemble the audio renderer");
        return false;
    }
    if (!AddStreamPin(L"Audio Input pin (rendered)", PinDirection::Input, convert.get(), "sink"))
        return false;
    volume_ = volume;
    sink_ = sink;
    clock_ = std::make_shared<StreamClock>(sink, kStartLead);
    return true;
}

HRESULT AudioRenderer::put_Volume(long volume) {
    volume = std::clamp(volume, kSilence, 0L);
    level_ = volume;
    g_object_set(volume_.get(), "volume", GainOf(volume), "mute", volume <= kSilence, nullptr);
    return S_OK;
}

HRESULT AudioRenderer::get_Volume(long* volume) {
    if (!volume)
        return E_POINTER;
    *volume = level_;
    return S_OK;
}

HRESULT AudioRenderer::GetTime(std::int64_t* time) {
    if (!time)
        return E_POINTER;
    *time = clock_->Now();
    return S_OK;
}

HRESULT AudioRenderer::PrepareToStart() {
    PulseSession session;
    return session.Connect();
}

void AudioRenderer::ForgetDevice() {
    g_object_set(sink_.get(), "device", nullptr, nullptr);
}

}  // namespace media::gst
