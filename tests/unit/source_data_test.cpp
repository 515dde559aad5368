// The narrator's audio object: display values of every sample width, the WAV
// copy, peak columns (plain and summarised) and the view state in samples.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "LastError.h"
#include "MessageRecorder.h"
#include "ScriptedMedia.h"
#include "SourceData.h"
#include "TempFile.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

class SourceDataTest : public ::testing::Test {
  protected:
    void SetUp() override { media = media::scripted::InstallScriptedMedia(); }
    void TearDown() override { media::SetMediaFactory(nullptr); }

    // Decodes the given raw buffers in the given format.
    bool Load(media::WaveFormat format, std::vector<std::vector<std::uint8_t>> buffers,
              std::int64_t duration = 10000000, bool failMidStream = false) {
        media::scripted::ScriptedFileSpec script;
        script.format = format;
        script.buffers = std::move(buffers);
        script.duration = duration;
        script.failMidStream = failMidStream;
        media->files[L"/narrator"] = script;
        return source.LoadFile(L"/narrator");
    }

    std::vector<std::int16_t> Display() {
        std::ifstream in(source.displayFile.path, std::ios::binary);
        std::vector<std::int16_t> values(static_cast<std::size_t>(source.sampleCount));
        in.read(reinterpret_cast<char*>(values.data()),
                static_cast<std::streamsize>(values.size() * 2));
        return values;
    }

    std::vector<short> Peaks(int width, int height, double* start = nullptr,
                             double* span = nullptr) {
        short* peaks = nullptr;
        double s = 0, d = 0;
        int count = source.GetPeaks(&peaks, width, height, &s, &d);
        if (start)
            *start = s;
        if (span)
            *span = d;
        std::vector<short> out(peaks, peaks + count);
        delete[] peaks;
        return out;
    }

    std::shared_ptr<media::scripted::ScriptedMedia> media;
    MessageRecorder messages;
    SourceData source;
};

TEST_F(SourceDataTest, DisplayValuesTakeTheTop16BitsOfEveryWidth) {
    // 8-bit is unsigned: 0x80 is silence.
    ASSERT_TRUE(Load({1, 1, 8000, 8000, 1, 8}, {{0x80, 0xFF, 0x00, 0x81}}));
    EXPECT_THAT(Display(), ElementsAre(0, 32512, -32768, 256));
    EXPECT_EQ(source.peak, 32768);
    source.Clear();
    ASSERT_TRUE(Load({1, 1, 8000, 24000, 3, 24}, {{0x11, 0x34, 0x12, 0xFF, 0xFF, 0xFF}}));
    EXPECT_THAT(Display(), ElementsAre(0x1234, -1));
    source.Clear();
    ASSERT_TRUE(Load({1, 1, 8000, 32000, 4, 32}, {{0x01, 0x02, 0x00, 0x80}}));
    EXPECT_THAT(Display(), ElementsAre(-32768));
    EXPECT_EQ(source.bytesPerSample, 4);
}

TEST_F(SourceDataTest, StereoIsHalfOfEachChannelAndTheWavKeepsTheBytes) {
    std::vector<std::uint8_t> frames = {0xE8, 0x03, 0x18, 0xFC,   // 1000, -1000
                                        0xFF, 0x7F, 0xFF, 0x7F,   // 32767, 32767
                                        0x00, 0x80, 0x00, 0x80};  // -32768, -32768
    ASSERT_TRUE(Load({1, 2, 44100, 176400, 4, 16}, {frames}));
    EXPECT_THAT(Display(), ElementsAre(0, 32766, -32768));
    EXPECT_EQ(source.sampleCount, 3);
    std::ifstream wav(source.wavFile.path, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(wav), {}};
    ASSERT_EQ(bytes.size(), 44 + frames.size());
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 44, bytes.end()), frames);
    EXPECT_EQ(bytes[22], 2);
    EXPECT_EQ(source.cursorSample, 0);
}

TEST_F(SourceDataTest, SilentAndEmptyRecordings) {
    ASSERT_TRUE(Load({1, 1, 8000, 16000, 2, 16}, {std::vector<std::uint8_t>(200, 0)}));
    EXPECT_EQ(source.peak, 0);
    EXPECT_THAT(Peaks(10, 100), ::testing::Each(0));
    source.Clear();
    ASSERT_TRUE(Load({1, 1, 8000, 16000, 2, 16}, {}));
    EXPECT_EQ(source.peak, -1);
    EXPECT_EQ(source.sampleCount, 0);
    EXPECT_EQ(source.GetWidth(), 0);
    EXPECT_TRUE(Peaks(10, 100).empty());
    EXPECT_EQ(source.SetCursor(5), 0);
    EXPECT_EQ(source.cursorSample, -1) << "no sample to put the cursor on";
    source.Play(true);
    EXPECT_FALSE(source.UpdatePlayback()) << "nothing to play ends at once";
}

// Whatever ends a decode early, the load ends with its message; what the store
// could not keep is removed.
TEST_F(SourceDataTest, DecodeErrorsAndStoreFailuresEndTheLoadWithTheirMessage) {
    const media::WaveFormat mono16{1, 1, 8000, 16000, 2, 16};
    const std::vector<std::vector<std::uint8_t>> buffers(3, std::vector<std::uint8_t>(800, 1));
    auto expectGone = [this] {
        EXPECT_EQ(source.sampleCount, 0);
        EXPECT_TRUE(source.displayFile.path.empty() && source.wavFile.path.empty());
        EXPECT_TRUE(source.summary.Path().empty());
    };
    // A graph error before any sample: nothing loads, and the error is shown.
    EXPECT_FALSE(Load(mono16, {}, 10000000, true));
    EXPECT_THAT(messages.Texts(),
                ElementsAre(::testing::StartsWith(L"WaitForCompletion() failed")));
    messages.Clear();
    source.Clear();

    // More than the store can describe: refused as too long.
    source.storeFrameLimit = 1000;
    EXPECT_FALSE(Load(mono16, buffers));
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].caption, L"Sorry!");
    EXPECT_THAT(messages.Texts()[0], ::testing::StartsWith(L"Sorry! This recording is too long"));
    expectGone();
    messages.Clear();
    source.storeFrameLimit = 2000;
    EXPECT_TRUE(Load(mono16, buffers));
    EXPECT_EQ(source.sampleCount, 1200);
    source.Clear();
    EXPECT_EQ(MaxStoredFrames(1), 2147483647) << "the 32-bit sample count";
    EXPECT_EQ(MaxStoredFrames(2), (4294967295 - 44) / 2) << "the 32-bit RIFF size";
    EXPECT_EQ(MaxStoredFrames(8), (4294967295 - 44) / 8);

    // A write that fails (the file size limit stands in for a full disk).
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool loaded = Load(mono16, buffers);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(loaded);
    std::wstring expected =
        L"WriteFile() failed with error 27: Cannot write to the temporary "
        L"folder \"" +
        WidenUtf8(TempFolder()) + L"\": " + WidenUtf8(std::strerror(EFBIG));
    EXPECT_THAT(messages.Texts(), ElementsAre(expected));
    expectGone();
}

TEST_F(SourceDataTest, PeaksFillBucketsAndStopAtTheEnd) {
    // 1000 samples rising to -32768 at the end; 0.005 px per sample: 5 columns of 200.
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 1000; ++i) {
        std::int16_t v = static_cast<std::int16_t>(i == 999 ? -32768 : i * 10);
        bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    }
    ASSERT_TRUE(Load({1, 1, 1000, 2000, 2, 16}, {bytes}, 10000000));
    double start = -1, span = -1;
    auto peaks = Peaks(40, 200, &start, &span);
    ASSERT_EQ(peaks.size(), 5u) << "fewer columns than the width at the end of the file";
    EXPECT_EQ(peaks[4], 100) << "-32768 counts in full";
    EXPECT_EQ(peaks[0], static_cast<short>(1990 * (200 / 65536.0)));
    EXPECT_DOUBLE_EQ(start, 0.0);
    EXPECT_DOUBLE_EQ(span, 8.0) << "the span covers the whole width";

    // Two samples a column at the widest zoom, the last column closing the file.
    source.zoom = 0.5;
    source.scrollSample = 996;
    peaks = Peaks(100, 200);
    EXPECT_THAT(peaks, ElementsAre(9970 * 200 / 65536, 100));
}

TEST_F(SourceDataTest, SummarisedPeaksEqualReadingEverySample) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> amplitude(-32768, 32767);
    std::vector<std::vector<std::uint8_t>> buffers;
    for (int b = 0; b < 40; ++b) {
        std::vector<std::uint8_t> buffer;
        int length = 997 + b * 131;  // ragged buffers across block edges
        for (int i = 0; i < length; ++i) {
            // Quiet stretches with rare loud samples make block edges matter.
            int v = (random() % 97 == 0) ? amplitude(random) : amplitude(random) / 64;
            buffer.push_back(static_cast<std::uint8_t>(v & 0xFF));
            buffer.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
        }
        buffers.push_back(std::move(buffer));
    }
    ASSERT_TRUE(Load({1, 1, 8000, 16000, 2, 16}, buffers));
    ASSERT_TRUE(source.summary.Ready());
    for (double zoom : {0.5, 0.05, 0.013, 0.005, 0.0021, 0.0007, 0.0001}) {
        for (std::int32_t scroll : {0, 1, 63, 64, 65, 12345, source.sampleCount - 700}) {
            for (int width : {1, 97, 640}) {
                source.zoom = zoom;
                source.scrollSample = scroll;
                source.peakSummaryThreshold = std::int64_t{1} << 40;
                auto plain = Peaks(width, 301);
                source.peakSummaryThreshold = 0;
                auto summarised = Peaks(width, 301);
                ASSERT_EQ(summarised, plain) << zoom << " " << scroll << " " << width;
            }
        }
    }
}

TEST_F(SourceDataTest, ZoomStopsAtItsLimitsAndKeepsTheAnchorInTheMiddle) {
    ASSERT_TRUE(Load({1, 1, 8000, 16000, 2, 16}, {std::vector<std::uint8_t>(400000, 1)}));
    for (int i = 0; i < 200; ++i)
        source.ZoomIn(600, false);
    EXPECT_EQ(source.zoom, SourceData::kMaxZoom);
    for (int i = 0; i < 400; ++i)
        source.ZoomOut(600, false);
    EXPECT_EQ(source.zoom, SourceData::kMinZoom);
    source.zoom = 0.01;
    source.cursorSample = 100000;
    source.ZoomIn(600, true);
    EXPECT_EQ(source.scrollSample, 100000 - static_cast<int>(300 / source.zoom));
    source.cursorSample = 10;
    source.ZoomIn(600, true);
    EXPECT_EQ(source.scrollSample, 0) << "never scrolled before the start";
}

TEST_F(SourceDataTest, CursorAndSelectionAreClampedToTheFile) {
    ASSERT_TRUE(Load({1, 1, 8000, 16000, 2, 16}, {std::vector<std::uint8_t>(2000, 1)}));
    source.zoom = 0.5;  // 1000 samples, 500 pixels
    EXPECT_EQ(source.SetCursor(10000), 499);
    EXPECT_EQ(source.cursorSample, 999);
    EXPECT_EQ(source.SetCursor(-7), 0);
    source.SetSelection(-10, 40);
    EXPECT_EQ(source.selectionStart, 0);
    EXPECT_EQ(source.selectionEnd, 80);
    source.SetSelection(10, 10);
    EXPECT_EQ(source.selectionStart, -1);
    EXPECT_EQ(source.selectionEnd, -1);
    source.SetSelection(400, 9000);
    EXPECT_EQ(source.selectionEnd, 999);
    source.cursorSample = 20;
    EXPECT_EQ(source.CenterCursor(300), 0);
    source.SetScrollPos(100000);
    EXPECT_EQ(source.scrollSample, 999);
    source.ScrollBy(-100000);
    EXPECT_EQ(source.scrollSample, 0);
}

TEST_F(SourceDataTest, ClearLeavesNoTemporaryFile) {
    ASSERT_TRUE(Load({1, 1, 8000, 16000, 2, 16}, {std::vector<std::uint8_t>(20, 1)}));
    std::vector<std::string> paths = {source.displayFile.path, source.wavFile.path,
                                      source.summary.Path()};
    for (const auto& p : paths)
        EXPECT_TRUE(std::filesystem::exists(p)) << p;
    source.Clear();
    for (const auto& p : paths)
        EXPECT_FALSE(std::filesystem::exists(p)) << p;
    EXPECT_EQ(source.zoom, SourceData::kDefaultZoom);
    EXPECT_EQ(source.sampleCount, 0);
}

}  // namespace
