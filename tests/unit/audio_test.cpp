// The narrator's audio object over the scripted backend (display values, the WAV
// copy, peak columns, the pixel mapping), its temporary store and the error report.
#include <gmock/gmock.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "LastError.h"
#include "MessageRecorder.h"
#include "ScriptedMedia.h"
#include "SourceData.h"
#include "TempFile.h"
#include "TestAudio.h"

using media::scripted::Pcm16;
using test_audio::ReadBytes;
using ::testing::ElementsAre;
using ::testing::StartsWith;
using Bytes = std::vector<std::uint8_t>;

namespace {

const media::WaveFormat kMono16{1, 1, 8000, 16000, 2, 16};

class SourceDataTest : public ::testing::Test {
  protected:
    void SetUp() override { media = media::scripted::InstallScriptedMedia(); }
    void TearDown() override { media::SetMediaFactory(nullptr); }

    bool Load(media::WaveFormat format, std::vector<Bytes> buffers, bool failMidStream = false) {
        media->files[L"/narrator"] = {format, std::move(buffers), 10000000, failMidStream};
        return source.LoadFile(L"/narrator");
    }
    std::vector<short> Peaks(int width, int height) {
        short* peaks = nullptr;
        double start, span;
        int count = source.GetPeaks(&peaks, width, height, &start, &span);
        std::vector<short> out(peaks, peaks + count);
        delete[] peaks;
        return out;
    }

    std::shared_ptr<media::scripted::ScriptedMedia> media;
    MessageRecorder messages;
    SourceData source;
};

// The header is read back field by field, little-endian.
TEST_F(SourceDataTest,
       DisplayValuesAreTheTop16BitsOfTheChannelMeanAndTheWavKeepsTheBytesTillCleared) {
    const std::tuple<media::WaveFormat, Bytes, std::vector<std::int16_t>> rows[] = {
        {{1, 1, 8000, 8000, 1, 8}, {0x80, 0xFF, 0x00, 0x81}, {0, 32512, -32768, 256}},
        {{1, 1, 8000, 24000, 3, 24}, {0x11, 0x34, 0x12, 0xFF, 0xFF, 0xFF}, {0x1234, -1}},
        {{1, 1, 8000, 32000, 4, 32}, {0x01, 0x02, 0x00, 0x80}, {-32768}},
        {{1, 2, 44100, 176400, 4, 16},
         Pcm16({1000, -1000, 32767, 32767, -32768, -32768}),
         {0, 32766, -32768}},
    };
    for (const auto& [f, bytes, display] : rows) {
        ASSERT_TRUE(Load(f, {bytes}));
        EXPECT_EQ(ReadBytes(source.displayFile.path), Pcm16(display)) << f.bitsPerSample << " bits";
        auto wav = ReadBytes(source.wavFile.path);
        EXPECT_EQ(Bytes(wav.begin() + 44, wav.end()), bytes);
        auto le = [&](std::size_t at, std::size_t size) {
            std::uint32_t read = 0;
            for (std::size_t k = 0; k < size; ++k)
                read |= std::uint32_t{wav[at + k]} << (8 * k);
            return read;
        };
        EXPECT_THAT((std::vector{le(4, 4), le(20, 2), le(22, 2), le(24, 4), le(28, 4), le(32, 2),
                                 le(34, 2), le(40, 4)}),
                    ElementsAre(36 + bytes.size(), 1, f.channels, f.samplesPerSec, f.avgBytesPerSec,
                                f.blockAlign, f.bitsPerSample, bytes.size()));
        const std::string paths[] = {source.displayFile.path, source.wavFile.path,
                                     source.summary.Path()};
        source.Clear();
        EXPECT_TRUE(std::ranges::none_of(paths, [](auto& p) { return std::filesystem::exists(p); }))
            << "no temporary file is left";
    }
}

// Whatever ends a decode early, the load ends with its message.
TEST_F(SourceDataTest, FailedDecodesEndWithTheirMessage) {
    const std::vector<Bytes> long3(3, Bytes(800, 1));  // 1200 frames
    const auto unlimited = source.storeFrameLimit;
    // buffers, failing mid-stream, frame limit, file limit (a small one: a full disk), message
    const std::tuple<std::vector<Bytes>, bool, std::int64_t, rlim_t, const wchar_t*> rows[] = {
        {{}, true, unlimited, 0, L"WaitForCompletion() failed"},
        {long3, false, 1000, 0, L"Sorry! This recording is too long"},
        {long3, false, unlimited, 1000, L"WriteFile() failed with error 27: Cannot write"},
    };
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto handler = std::signal(SIGXFSZ, SIG_IGN);
    for (const auto& [buffers, failMidStream, frameLimit, fileLimit, message] : rows) {
        source.storeFrameLimit = frameLimit;
        rlimit limit{fileLimit ? fileLimit : saved.rlim_cur, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        bool loaded = Load(kMono16, buffers, failMidStream);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_FALSE(loaded);
        EXPECT_THAT(messages.Texts(), ElementsAre(StartsWith(message)));
        EXPECT_EQ(source.sampleCount, 0);
        // What the store could not keep is removed.
        EXPECT_TRUE(
            failMidStream ||
            (source.displayFile.path + source.wavFile.path + source.summary.Path()).empty());
        messages.Clear();
        source.Clear();
    }
    std::signal(SIGXFSZ, handler);
}

// Each column shows the loudest sample of its own share of the view, to the last;
// silence draws flat and nothing draws nothing.
TEST_F(SourceDataTest, PeakColumnsShowTheLoudestSampleOfTheirShare) {
    ASSERT_TRUE(Load(kMono16, {Pcm16({0, 0, 0, 0, 100, 0, 0, -50})}));
    source.zoom = 0.5;  // two samples a column, 100 the full height
    EXPECT_THAT(Peaks(40, 200), ElementsAre(0, 0, 100, 50));
    source.Clear();
    ASSERT_TRUE(Load(kMono16, {Bytes(200, 0)}));
    EXPECT_THAT(Peaks(10, 100), ::testing::Each(0));
    source.Clear();
    ASSERT_TRUE(Load(kMono16, {}));
    EXPECT_EQ(source.GetWidth(), 0);
    EXPECT_TRUE(Peaks(10, 100).empty());
    EXPECT_EQ(source.SetCursor(5), 0);
    EXPECT_EQ(source.cursorSample, -1) << "no sample to put the cursor on";
    source.Play(true);
    EXPECT_FALSE(source.UpdatePlayback()) << "nothing to play ends at once";
}

TEST_F(SourceDataTest, SummarisedPeaksEqualReadingEverySample) {
    std::mt19937 random(7);
    std::vector<Bytes> buffers;
    for (int b = 0; b < 40; ++b) {
        std::vector<std::int16_t> samples(static_cast<std::size_t>(997 + b * 131));  // ragged
        // Quiet stretches with rare loud samples make block edges matter.
        for (std::int16_t& v : samples)
            v = static_cast<std::int16_t>(static_cast<std::int16_t>(random() >> 7) /
                                          (random() % 97 ? 64 : 1));
        buffers.push_back(Pcm16(samples));
    }
    ASSERT_TRUE(Load(kMono16, buffers));
    ASSERT_TRUE(source.summary.Ready());
    for (double zoom : {0.5, 0.05, 0.013, 0.005, 0.0021, 0.0007, 0.0001})
        for (std::int32_t scroll : {0, 1, 63, 64, 65, 12345, source.sampleCount - 700})
            for (int width : {1, 97, 640}) {
                source.zoom = zoom;
                source.scrollSample = scroll;
                source.peakSummaryThreshold = std::int64_t{1} << 40;
                auto plain = Peaks(width, 301);
                source.peakSummaryThreshold = 0;
                ASSERT_EQ(Peaks(width, 301), plain) << zoom << " " << scroll << " " << width;
            }
}

// Known sounds (bursts, espeak-ng's sentences) between known pauses, over
// digital silence or a noise floor 35 dB down: each sound is a phrase of its
// own, a little wider, or all one phrase when the pauses are too short.
TEST_F(SourceDataTest, PhrasesAreTheSoundsBetweenPausesOverAnyFloor) {
    using Sound = std::vector<std::int16_t>;
    constexpr int kRate = 22050, kMs = kRate / 1000;
    test_audio::ScratchFolder folder("phrases");
    auto speech = [&](const char* text) {  // without its quiet ends
        test_audio::RunTool({"espeak-ng", "-w", folder.Path("s.wav"), text});
        auto s = test_audio::ReadWav(folder.Path("s.wav")).value().Samples();
        auto [first, last] = test_audio::LoudSpan(s, 0.03f * test_audio::Peak(s)).value();
        return Sound(s.begin() + static_cast<long>(first), s.begin() + static_cast<long>(last));
    };
    const std::vector<Sound> bursts(3, Sound(400 * kMs, 10000)), silence(3, Sound(400 * kMs)),
        sentences{speech("Peter Piper picked a peck of pickled peppers."),
                  speech("How many did he pick?"), speech("Where is the peck he picked?")};
    // sounds, pause (ms), noise (its peak), phrases; espeak-ng peaks near 25000
    const std::tuple<const std::vector<Sound>*, int, int, std::size_t> rows[] = {
        {&bursts, 300, 0, 3},      {&bursts, 200, 0, 1},  {&bursts, 0, 0, 1},
        {&bursts, 300, 178, 3},    {&silence, 300, 0, 0}, {&sentences, 300, 0, 3},
        {&sentences, 300, 450, 3},
    };
    std::mt19937 random(3);
    for (const auto& [sounds, pause, noise, count] : rows) {
        SCOPED_TRACE(testing::Message() << sounds->size() << " " << pause << " " << noise);
        Sound samples;
        std::vector<std::pair<int, int>> spans;  // of the sounds, as phrases should see them
        for (const Sound& sound : *sounds) {
            samples.resize(samples.size() + static_cast<std::size_t>(pause * kMs));
            spans.emplace_back(samples.size(), samples.size() + sound.size());
            samples.insert(samples.end(), sound.begin(), sound.end());
        }
        samples.resize(samples.size() + static_cast<std::size_t>(pause * kMs));
        for (std::int16_t& v : samples)  // none near full scale
            v = static_cast<std::int16_t>(v + std::uniform_int_distribution(-noise, noise)(random));
        if (count == 1)
            spans = {{spans.front().first, spans.back().second}};
        ASSERT_TRUE(Load({1, 1, kRate, 2 * kRate, 2, 16}, {Pcm16(samples)}));
        ASSERT_TRUE(source.FindPhrases());
        ASSERT_EQ(source.phrases.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            auto [start, end] = source.phrases[i];
            // The margin each side, give or take a window, within the recording.
            EXPECT_NEAR(start, std::max(spans[i].first - 42 * kMs, 0), 17 * kMs) << i;
            EXPECT_NEAR(end, std::min(spans[i].second + 42 * kMs, source.sampleCount), 17 * kMs);
            const int n = static_cast<int>(i);
            EXPECT_THAT((std::array{source.PhraseAt(start - 1), source.PhraseAt(start),
                                    source.PhraseAt(end - 1), source.PhraseAt(end)}),
                        ElementsAre(-1, n, n, -1));
        }
        source.Clear();
        EXPECT_TRUE(source.phrases.empty());
    }
}

TEST_F(SourceDataTest, ZoomStopsAtItsLimitsAndKeepsTheAnchorInTheMiddle) {
    ASSERT_TRUE(Load(kMono16, {Bytes(400000, 1)}));  // 200000 samples
    for (int i = 0; i < 200; ++i)
        source.ZoomIn(600, false);
    EXPECT_EQ(source.GetWidth(), 100000) << "two samples a pixel at the closest";
    for (int i = 0; i < 400; ++i)
        source.ZoomOut(600, false);
    EXPECT_EQ(source.GetWidth(), 20) << "ten thousand samples a pixel at the farthest";
    source.zoom = 0.01;
    source.cursorSample = 100000;
    source.ZoomIn(600, true);
    EXPECT_EQ(source.scrollSample, 100000 - 27272) << "300 pixels of 1/0.011 samples, cut";
    source.cursorSample = 10;
    source.ZoomIn(600, true);
    EXPECT_EQ(source.scrollSample, 0) << "never scrolled before the start";
}

TEST_F(SourceDataTest, CursorSelectionAndScrollStayInTheFile) {
    ASSERT_TRUE(Load(kMono16, {Bytes(2000, 1)}));
    source.zoom = 0.5;  // 1000 samples, 500 pixels
    EXPECT_EQ(source.SetCursor(10000), 499);
    EXPECT_EQ(source.cursorSample, 999);
    EXPECT_EQ(source.SetCursor(-7), 0);
    for (auto [x1, x2, start, end] :
         {std::array{-10, 40, 0, 80}, {10, 10, -1, -1}, {400, 9000, 800, 999}}) {
        source.SetSelection(x1, x2);
        EXPECT_EQ(std::pair(source.selectionStart, source.selectionEnd), std::pair(start, end))
            << x1;
    }
    source.cursorSample = 20;
    EXPECT_EQ(source.CenterCursor(300), 0);
    source.SetScrollPos(100000);
    EXPECT_EQ(source.scrollSample, 999);
    source.ScrollBy(-100000);
    EXPECT_EQ(source.scrollSample, 0);
}

// A close the system refuses (the descriptor was not ours) still lets go of it.
TEST(TempStore, AFailedCloseIsReportedAndAFileTooLongForItsHeaderGetsNone) {
    MessageRecorder messages;
    SourceData data;
    ASSERT_TRUE(CreateTempFiles(data));
    ::close(data.displayFile.fd);
    EXPECT_FALSE(CreateTempFile(data.displayFile));
    EXPECT_FALSE(data.displayFile.IsOpen());
    EXPECT_THAT(messages.Texts(), ElementsAre(StartsWith(L"CloseHandle() failed with error 9")));
    ASSERT_EQ(::ftruncate(data.wavFile.fd, kMaxWavFileSize + 1), 0);  // sparse
    EXPECT_FALSE(FinishWavFile(data));
    std::ifstream in(data.wavFile.path, std::ios::binary);
    std::vector<char> header(44);
    in.read(header.data(), 44);
    EXPECT_EQ(header, std::vector<char>(44, 0)) << "no wrapped size";
}

TEST(ErrorReport, EachThreadHasItsOwnLastError) {
    SetLastError(5, L"Access is denied.");
    std::uint32_t seen = 1;
    std::thread([&] { seen = GetLastError(); }).join();
    EXPECT_EQ(std::pair(seen, GetLastError()), std::pair(0u, 5u));
}

}  // namespace
