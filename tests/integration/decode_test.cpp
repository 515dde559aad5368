// Narrator files decoded by SourceData on the GStreamer backend: MP3 and WAV of
// every sample width reach the temporary store exactly as the file holds them,
// more than two channels are refused, and broken files end in their error
// report (or keep what decodes) without a hang or a leaked temporary file. A
// load ends with the playback graph on the finished WAV file, so every width
// is also rendered to a private PulseAudio server's output.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "AudioFiles.h"
#include "GstBackend.h"
#include "GstFilter.h"
#include "LastError.h"
#include "Media.h"
#include "MessageRecorder.h"
#include "Pins.h"
#include "PulseServer.h"
#include "SourceData.h"

using namespace audio_files;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr const char* kWords =
    "Peter Piper picked a peck of pickled peppers. How many pickled peppers did he pick?";

// The names of the temporary store's files in $TMPDIR.
std::set<std::string> StoreFiles() {
    std::set<std::string> names;
    const char* tmp = std::getenv("TMPDIR");
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(tmp ? tmp : "/tmp", ignored)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("PRR", 0) == 0)
            names.insert(name);
    }
    return names;
}

std::vector<std::int16_t> DisplayValues(const SourceData& source) {
    std::vector<std::uint8_t> bytes = ReadBytes(source.displayFile.path);
    std::vector<std::int16_t> values(bytes.size() / 2);
    std::memcpy(values.data(), bytes.data(), values.size() * 2);
    return values;
}

// The largest difference between two equally long sample runs.
int MaxDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    int worst = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

// Takes from the calling thread the capabilities that let root read any file,
// so that a file without read permission is unreadable whoever runs the test
// (the source opens its file on the thread that loads).
class WithoutReadOverride {
  public:
    WithoutReadOverride() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutReadOverride() {
        if (active_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    WithoutReadOverride(const WithoutReadOverride&) = delete;
    WithoutReadOverride& operator=(const WithoutReadOverride&) = delete;
    bool Active() const { return active_; }

  private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

// LoadFile ends by building the playback graph on the finished WAV file, which
// needs a sound server: one for the whole program.
PulseServer* server = nullptr;

class PulseEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        server_ = std::make_unique<PulseServer>(0);
        server = server_.get();
    }
    void TearDown() override {
        server = nullptr;
        server_.reset();
    }

  private:
    std::unique_ptr<PulseServer> server_;
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new PulseEnvironment);

class DecodeTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        media::SetMediaFactory(CreateGstMediaFactory());
        inputs = new ScratchFolder("decode-inputs");
        made = inputs->Ok() && MakeInputs();
    }
    static void TearDownTestSuite() {
        delete inputs;
        inputs = nullptr;
        media::SetMediaFactory(nullptr);
    }

    static bool MakeInputs() {
        auto in = [](const char* name) { return inputs->Path(name); };
        // -D: no dither, so that the 8-bit file is the 16-bit speech rounded.
        return MakeSpeech(in("speech.wav"), kWords) &&
               RunTool({"sox", in("speech.wav"), "-D", "-b", "8", in("u8.wav")}) &&
               RunTool({"sox", in("speech.wav"), "-b", "24", in("s24.wav")}) &&
               RunTool(
                   {"sox", in("speech.wav"), "-b", "32", "-e", "signed-integer", in("s32.wav")}) &&
               RunTool({"sox", in("speech.wav"), "-b", "32", "-e", "floating-point",
                        in("float.wav")}) &&
               RunTool({"sox", in("speech.wav"), "-c", "2", in("stereo.wav")}) &&
               RunTool({"sox", in("speech.wav"), "-c", "6", in("six.wav")}) &&
               RunTool({"lame", "--quiet", in("speech.wav"), in("mono.mp3")}) &&
               RunTool({"lame", "--quiet", in("stereo.wav"), in("stereo.mp3")}) &&
               RunTool({"sox", in("speech.wav"), "-r", "16000", in("speech16k.wav")}) &&
               RunTool({"lame", "--quiet", in("speech16k.wav"), in("mono16k.mp3")}) &&
               Join({in("mono.mp3"), in("mono16k.mp3")}, in("joined.mp3"));
    }
    static bool Join(const std::vector<std::string>& parts, const std::string& whole) {
        std::vector<std::uint8_t> bytes;
        for (const auto& part : parts) {
            auto more = ReadBytes(part);
            bytes.insert(bytes.end(), more.begin(), more.end());
        }
        return WriteBytes(whole, bytes);
    }

    void SetUp() override {
        ASSERT_TRUE(server && server->Running()) << (server ? server->Error() : "");
        ASSERT_TRUE(made) << "espeak-ng, sox and lame (scripts/bootstrap) make the inputs";
        storeBefore = StoreFiles();
    }
    void TearDown() override {
        source.Clear();
        EXPECT_EQ(StoreFiles(), storeBefore) << "a temporary file was left behind";
    }

    static std::string Input(const char* name) { return inputs->Path(name); }
    static std::vector<std::int16_t> Speech() { return Samples16(*ReadWav(Input("speech.wav"))); }

    bool Load(const std::string& path) { return source.LoadFile(WidenUtf8(path).c_str()); }

    // A load that fails must show exactly one error report of the source filter.
    void ExpectSourceReport(const std::string& path, const char* text) {
        SCOPED_TRACE(path);
        recorder.Clear();
        EXPECT_FALSE(Load(path));
        auto messages = recorder.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].caption, L"Error");
        EXPECT_THAT(NarrowUtf8(messages[0].text),
                    StartsWith("AddSourceFilter() failed with error "));
        EXPECT_THAT(NarrowUtf8(messages[0].text), HasSubstr(text));
        source.Clear();
        EXPECT_EQ(StoreFiles(), storeBefore);
    }

    void ExpectLoadsSilently(const std::string& path) {
        recorder.Clear();
        bool loaded = Load(path);
        std::string shown;
        for (const auto& text : recorder.Texts())
            shown += NarrowUtf8(text) + "\n";
        ASSERT_TRUE(loaded) << path << "\n" << shown;
        EXPECT_EQ(shown, "");
    }

    static inline ScratchFolder* inputs = nullptr;
    static inline bool made = false;
    std::set<std::string> storeBefore;
    MessageRecorder recorder;
    SourceData source;
};

// ---- WAV: every sample width arrives exactly --------------------------------

struct WavCase {
    const char* file;
    int bits;
    int channels;
    // How far the display values may be from the 16-bit speech they came from.
    int tolerance;
};

void PrintTo(const WavCase& c, std::ostream* out) {
    *out << c.file;
}

class WavDecodeTest : public DecodeTest, public ::testing::WithParamInterface<WavCase> {};

TEST_P(WavDecodeTest, StoreHoldsTheFilesPcmAndItsMostSignificantBitsForDisplay) {
    const WavCase& c = GetParam();
    auto original = ReadWav(Input(c.file));
    ASSERT_TRUE(original);
    ASSERT_NO_FATAL_FAILURE(ExpectLoadsSilently(Input(c.file)));

    EXPECT_EQ(source.channels, c.channels);
    EXPECT_EQ(source.sampleRate, 22050u);
    EXPECT_EQ(source.bytesPerSample, c.bits / 8);
    EXPECT_EQ(source.blockAlign, c.channels * c.bits / 8);
    EXPECT_EQ(source.sampleCount,
              static_cast<std::int32_t>(original->data.size() / original->blockAlign));

    // The temporary WAV file: a plain PCM header and the source's bytes.
    auto stored = ReadWav(source.wavFile.path);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->dataOffset, 44u);
    EXPECT_EQ(stored->formatTag, 1);
    EXPECT_EQ(stored->channels, c.channels);
    EXPECT_EQ(stored->sampleRate, 22050u);
    EXPECT_EQ(stored->bitsPerSample, c.bits);
    EXPECT_EQ(stored->declaredDataSize, original->data.size());
    EXPECT_TRUE(stored->data == original->data) << "the PCM bytes differ";

    // Whatever the width, the display shows the speech itself.
    auto speech = Speech();
    auto display = DisplayValues(source);
    ASSERT_EQ(display.size(), speech.size());
    EXPECT_LE(MaxDifference(display, speech), c.tolerance);
    int loudest = 0;
    for (auto v : display)
        loudest = std::max(loudest, std::abs(static_cast<int>(v)));
    EXPECT_EQ(source.peak, loudest);

    double seconds = static_cast<double>(source.sampleCount) / 22050;
    EXPECT_NEAR(source.duration * 1e-7, seconds, 1e-4);
    // With the duration known, progress follows the sample time: the last
    // buffer starts in the file's last tenth.
    EXPECT_GT(source.progress.load(), 90);
    EXPECT_LE(source.progress.load(), 100);
    EXPECT_EQ(source.cursorSample, 0);
}

INSTANTIATE_TEST_SUITE_P(Widths, WavDecodeTest,
                         ::testing::Values(WavCase{"u8.wav", 8, 1, 256},
                                           WavCase{"speech.wav", 16, 1, 0},
                                           WavCase{"s24.wav", 24, 1, 0},
                                           WavCase{"s32.wav", 32, 1, 0},
                                           // two equal channels: half of each, summed
                                           WavCase{"stereo.wav", 16, 2, 1}),
                         [](const auto& param) {
                             return std::to_string(param.param.bits) + "bit" +
                                    std::to_string(param.param.channels) + "ch";
                         });

TEST_F(DecodeTest, FloatingPointWavArrivesAsThirtyTwoBitIntegers) {
    ASSERT_NO_FATAL_FAILURE(ExpectLoadsSilently(Input("float.wav")));
    EXPECT_EQ(source.bytesPerSample, 4);
    auto stored = ReadWav(source.wavFile.path);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->formatTag, 1);
    EXPECT_EQ(stored->bitsPerSample, 32);
    auto display = DisplayValues(source);
    ASSERT_EQ(display.size(), Speech().size());
    EXPECT_LE(MaxDifference(display, Speech()), 1);
}

TEST_F(DecodeTest, SixChannelsAreRefusedWithTheSorryBox) {
    recorder.Clear();
    EXPECT_FALSE(Load(Input("six.wav")));
    EXPECT_THAT(recorder.Messages(),
                ::testing::ElementsAre(RecordedMessage{
                    L"Sorry! I can't process that file.\nLet me know about this message.",
                    L"Sorry!", MB_OK}));
    EXPECT_EQ(source.sampleCount, 0);
    // The refusal leaves the object ready for the next file.
    source.Clear();
    ASSERT_NO_FATAL_FAILURE(ExpectLoadsSilently(Input("speech.wav")));
    EXPECT_EQ(source.channels, 1);
}

// ---- MP3 ----------------------------------------------------------------------

TEST_F(DecodeTest, Mp3MonoAndStereoDecodeToSixteenBitsAtTheirOwnRate) {
    const auto speechFrames = static_cast<std::int32_t>(Speech().size());
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        ASSERT_NO_FATAL_FAILURE(
            ExpectLoadsSilently(Input(channels == 1 ? "mono.mp3" : "stereo.mp3")));
        EXPECT_EQ(source.channels, channels);
        EXPECT_EQ(source.sampleRate, 22050u);
        EXPECT_EQ(source.bytesPerSample, 2);
        // The encoder's delay and padding may stay: at most a frame each side.
        EXPECT_NEAR(source.sampleCount, speechFrames, 2 * 1152);
        ASSERT_GT(source.duration, 0);
        EXPECT_NEAR(source.duration * 1e-7 * 22050, source.sampleCount, 0.01 * speechFrames);
        EXPECT_GT(source.peak, 3000);
        // Small MP3 frames have no room for a header with the length, so the
        // duration may be unknown while decoding and progress counts instead.
        EXPECT_GE(source.progress.load(), 0);
        EXPECT_LE(source.progress.load(), 100);

        auto stored = ReadWav(source.wavFile.path);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->channels, channels);
        EXPECT_EQ(stored->data.size(), static_cast<std::size_t>(source.sampleCount) * 2 * channels);
        EXPECT_EQ(DisplayValues(source).size(), static_cast<std::size_t>(source.sampleCount));
        source.Clear();
    }
}

TEST_F(DecodeTest, Mp3WhoseRateChangesMidwayLoadsWholeAtItsFirstRate) {
    ASSERT_NO_FATAL_FAILURE(ExpectLoadsSilently(Input("joined.mp3")));
    EXPECT_EQ(source.sampleRate, 22050u);
    const auto speechFrames = static_cast<std::int32_t>(Speech().size());
    EXPECT_NEAR(source.sampleCount, 2 * speechFrames, 4 * 1152);
}

TEST_F(DecodeTest, PeaksOfADecodedFileFillTheHeightAtItsLoudestColumn) {
    ASSERT_NO_FATAL_FAILURE(ExpectLoadsSilently(Input("mono.mp3")));
    const int height = 200;
    for (double zoom : {SourceData::kDefaultZoom, 0.02, SourceData::kMinZoom}) {
        SCOPED_TRACE(zoom);
        source.zoom = zoom;
        source.scrollSample = 0;
        short* raw = nullptr;
        double start = -1, span = -1;
        int count = source.GetPeaks(&raw, 1000, height, &start, &span);
        std::unique_ptr<short[]> peaks(raw);
        EXPECT_EQ(count, std::min(1000, static_cast<int>(std::ceil(source.sampleCount * zoom))));
        ASSERT_GT(count, 0);
        EXPECT_EQ(*std::max_element(peaks.get(), peaks.get() + count), height / 2);
        EXPECT_GE(*std::min_element(peaks.get(), peaks.get() + count), 0);
        EXPECT_EQ(start, 0.0);
        EXPECT_NEAR(span, 1000 / zoom / 22050, 1e-2 * (1000 / zoom / 22050));

        // The block summary written while decoding gives the same columns as
        // reading every sample.
        source.peakSummaryThreshold = 0;
        short* summarised = nullptr;
        ASSERT_EQ(source.GetPeaks(&summarised, 1000, height, &start, &span), count);
        std::unique_ptr<short[]> fromSummary(summarised);
        EXPECT_TRUE(std::equal(peaks.get(), peaks.get() + count, fromSummary.get()));
        source.peakSummaryThreshold = 1 << 18;
    }
}

// ---- broken files -------------------------------------------------------------

TEST_F(DecodeTest, FilesThatAreNotAudioEndInTheSourceFilterReport) {
    ScratchFolder folder("decode-broken");
    ASSERT_TRUE(folder.Ok());
    std::vector<std::uint8_t> noise(20000);
    std::uint32_t seed = 12345;
    for (auto& byte : noise) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    std::string list;
    for (int i = 0; i < 100; ++i)
        list += "Milk, bread, eggs. This is a shopping list, not a recording.\n";
    ASSERT_TRUE(WriteBytes(folder.Path("empty.mp3"), {}));
    ASSERT_TRUE(WriteBytes(folder.Path("noise.mp3"), noise));
    ASSERT_TRUE(WriteBytes(folder.Path("noise.wav"), noise));
    ASSERT_TRUE(WriteBytes(folder.Path("list.wav"), {list.begin(), list.end()}));
    ASSERT_EQ(::mkdir(folder.Path("folder.wav").c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo(folder.Path("pipe.mp3").c_str(), 0600), 0);

    ExpectSourceReport(folder.Path("empty.mp3"), "Stream contains no data.");
    ExpectSourceReport(folder.Path("noise.mp3"), "Could not determine type of stream.");
    ExpectSourceReport(folder.Path("noise.wav"), "Could not determine type of stream.");
    ExpectSourceReport(folder.Path("list.wav"), "This appears to be a text file");
    ExpectSourceReport(folder.Path("folder.wav"), "is a directory.");
    ExpectSourceReport(folder.Path("missing.wav"), "Resource not found.");
    // Opening a FIFO would wait for a writer that never comes.
    ExpectSourceReport(folder.Path("pipe.mp3"), "is not a regular file.");

    // Nothing of the failures stays in the way of the next file.
    ASSERT_NO_FATAL_FAILURE(ExpectLoadsSilently(Input("speech.wav")));
    EXPECT_EQ(source.sampleCount, static_cast<std::int32_t>(Speech().size()));
}

TEST_F(DecodeTest, FileWithoutReadPermissionEndsInTheSourceFilterReport) {
    ScratchFolder folder("decode-unreadable");
    ASSERT_TRUE(folder.Ok());
    std::string locked = folder.Path("locked.wav");
    std::filesystem::copy_file(Input("speech.wav"), locked);
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    WithoutReadOverride unprivileged;
    if (::geteuid() == 0 && !unprivileged.Active())
        GTEST_SKIP() << "root without a way to drop its read override";
    ExpectSourceReport(locked, "Could not open file");
}

TEST_F(DecodeTest, DamagedFilesKeepWhatDecodes) {
    ScratchFolder folder("decode-damaged");
    ASSERT_TRUE(folder.Ok());
    auto speech = ReadBytes(Input("speech.wav"));
    auto wav = *ReadWav(Input("speech.wav"));
    auto withDataSize = [&](std::uint32_t size) {
        auto bytes = speech;
        for (int i = 0; i < 4; ++i)
            bytes[wav.dataOffset - 4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
        return bytes;
    };
    auto storedData = [&] { return ReadWav(source.wavFile.path)->data; };
    auto dataPrefix = [&](std::size_t bytes) {
        return std::vector<std::uint8_t>(wav.data.begin(), wav.data.begin() + bytes);
    };

    // Cut mid-sample: the whole samples before the cut.
    auto cut = std::vector<std::uint8_t>(speech.begin(), speech.begin() + wav.dataOffset + 30001);
    ASSERT_TRUE(WriteBytes(folder.Path("cut.wav"), cut));
    ASSERT_NO_FATAL_FAILURE(ExpectLoadsSilently(folder.Path("cut.wav")));
    EXPECT_EQ(source.sampleCount, 15000);
    EXPECT_TRUE(storedData() == dataPrefix(30000));
    source.Clear();

    // A header claiming twice the data there is: what is there.
    ASSERT_TRUE(WriteBytes(folder.Path("long.wav"), withDataSize(2 * wav.declaredDataSize)));
    ASSERT_NO_FATAL_FAILURE(ExpectLoadsSilently(folder.Path("long.wav")));
    EXPECT_TRUE(storedData() == wav.data);
    source.Clear();

    // A header claiming half: the half it claims.
    ASSERT_TRUE(WriteBytes(folder.Path("short.wav"), withDataSize(wav.declaredDataSize / 2)));
    ASSERT_NO_FATAL_FAILURE(ExpectLoadsSilently(folder.Path("short.wav")));
    EXPECT_TRUE(storedData() == dataPrefix(wav.declaredDataSize / 2));
    source.Clear();

    // An MP3 cut in half: about half the speech.
    auto mp3 = ReadBytes(Input("mono.mp3"));
    mp3.resize(mp3.size() / 2);
    ASSERT_TRUE(WriteBytes(folder.Path("half.mp3"), mp3));
    ASSERT_NO_FATAL_FAILURE(ExpectLoadsSilently(folder.Path("half.mp3")));
    EXPECT_NEAR(source.sampleCount, Speech().size() / 2, Speech().size() / 10);
    EXPECT_GE(source.progress.load(), 0);
    EXPECT_LE(source.progress.load(), 100);
}

// ---- the decode graph itself ----------------------------------------------------

// Passes a few buffers, then fails as a decoder meeting a broken frame would.
class FailingSink final : public media::gst::GstFilter {
  public:
    static std::shared_ptr<FailingSink> Create(int buffersBeforeError) {
        std::shared_ptr<FailingSink> sink(new FailingSink());
        auto fail = media::gst::MakeElement("identity");
        auto discard = media::gst::MakeElement("fakesink");
        if (!sink->AddToBin(fail) || !sink->AddToBin(discard))
            return nullptr;
        g_object_set(fail.get(), "error-after", buffersBeforeError, nullptr);
        g_object_set(discard.get(), "sync", FALSE, nullptr);
        gst_element_link(fail.get(), discard.get());
        sink->AddStreamPin(L"In", media::PinDirection::Input, fail.get(), "sink");
        return sink;
    }

  private:
    FailingSink() : GstFilter("failing-sink") {}
};

class ByteCounter final : public media::ISampleGrabberCB {
  public:
    HRESULT SampleCB(double, const std::uint8_t*, long length) override {
        bytes_.fetch_add(length);
        return S_OK;
    }
    long Bytes() const { return bytes_.load(); }

  private:
    std::atomic<long> bytes_{0};
};

// source → grabber → renderer, connected as a decode connects them, on the
// plain gst backend.
class SourceGraphTest : public DecodeTest {
  protected:
    static void SetUpTestSuite() {
        DecodeTest::SetUpTestSuite();
        media::SetMediaFactory(CreateGstMediaFactory());
    }

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(DecodeTest::SetUp());
        ASSERT_EQ(media::CoCreateInstance(media::Clsid::FilterGraph, &graph), S_OK);
        ASSERT_EQ(media::QueryInterface(graph, &control), S_OK);
        ASSERT_EQ(media::QueryInterface(graph, &events), S_OK);
        ASSERT_EQ(media::QueryInterface(graph, &seeking), S_OK);
        ASSERT_EQ(media::CoCreateInstance(media::Clsid::SampleGrabber, &grabberFilter), S_OK);
        ASSERT_EQ(media::QueryInterface(grabberFilter, &grabber), S_OK);
        ASSERT_EQ(graph->AddFilter(grabberFilter, L"Sample Grabber"), S_OK);
        ASSERT_EQ(grabber->SetCallback(&counter, 0), S_OK);
    }
    void TearDown() override {
        if (graph)
            graph->Abort();
        DecodeTest::TearDown();
    }

    void AddSource(const std::string& path) {
        ASSERT_EQ(graph->AddSourceFilter(WidenUtf8(path).c_str(), L"Source", &source), S_OK)
            << NarrowUtf8(GetLastErrorText());
        ASSERT_EQ(ConnectFilters(graph, source, grabberFilter, PinErrors::Silent), S_OK)
            << NarrowUtf8(GetLastErrorText());
    }
    void AddSink(const std::shared_ptr<media::IBaseFilter>& sink) {
        ASSERT_TRUE(sink);
        ASSERT_EQ(graph->AddFilter(sink, L"Sink"), S_OK);
        ASSERT_EQ(ConnectFilters(graph, grabberFilter, sink, PinErrors::Silent), S_OK)
            << NarrowUtf8(GetLastErrorText());
    }
    std::shared_ptr<media::IBaseFilter> NullRenderer() {
        std::shared_ptr<media::IBaseFilter> renderer;
        EXPECT_EQ(media::CoCreateInstance(media::Clsid::NullRenderer, &renderer), S_OK);
        return renderer;
    }
    // Awaits the end of the stream; the bound only keeps a broken graph from
    // holding the test until the tier's time-out.
    long RunToTheEnd() {
        EXPECT_TRUE(SUCCEEDED(control->Run())) << NarrowUtf8(GetLastErrorText());
        long code = 0;
        EXPECT_EQ(events->WaitForCompletion(60000, &code), S_OK);
        return code;
    }

    std::shared_ptr<media::IGraphBuilder> graph;
    std::shared_ptr<media::IMediaControl> control;
    std::shared_ptr<media::IMediaEventEx> events;
    std::shared_ptr<media::IMediaSeeking> seeking;
    std::shared_ptr<media::IBaseFilter> grabberFilter;
    std::shared_ptr<media::ISampleGrabber> grabber;
    std::shared_ptr<media::IBaseFilter> source;
    ByteCounter counter;
};

TEST_F(SourceGraphTest, FormatAndDurationAreKnownBeforeTheGraphRuns) {
    auto wav = *ReadWav(Input("s24.wav"));
    ASSERT_NO_FATAL_FAILURE(AddSource(Input("s24.wav")));
    media::AM_MEDIA_TYPE type;
    ASSERT_EQ(grabber->GetConnectedMediaType(&type), S_OK);
    EXPECT_EQ(type.format.channels, 1);
    EXPECT_EQ(type.format.samplesPerSec, 22050u);
    EXPECT_EQ(type.format.bitsPerSample, 24);
    EXPECT_EQ(type.format.blockAlign, 3);

    std::uint32_t capabilities = media::AM_SEEKING_CanGetDuration;
    EXPECT_EQ(seeking->CheckCapabilities(&capabilities), S_OK);
    std::int64_t duration = 0;
    ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
    double frames = static_cast<double>(wav.data.size()) / 3;
    EXPECT_NEAR(duration, frames / 22050 * 1e7, 1.0);
    // Only part of what is asked: S_FALSE, and the part that is there.
    capabilities = media::AM_SEEKING_CanGetDuration | media::AM_SEEKING_CanGetStopPos;
    EXPECT_EQ(seeking->CheckCapabilities(&capabilities), S_FALSE);
    EXPECT_EQ(capabilities, media::AM_SEEKING_CanGetDuration);

    ASSERT_NO_FATAL_FAILURE(AddSink(NullRenderer()));
    EXPECT_EQ(RunToTheEnd(), media::EC_COMPLETE);
    EXPECT_EQ(counter.Bytes(), static_cast<long>(wav.data.size()));
    std::int64_t position = -1;
    EXPECT_EQ(seeking->GetCurrentPosition(&position), S_OK);
}

TEST_F(SourceGraphTest, RunAfterStopDecodesTheWholeFileAgain) {
    ASSERT_NO_FATAL_FAILURE(AddSource(Input("stereo.mp3")));
    ASSERT_NO_FATAL_FAILURE(AddSink(NullRenderer()));
    EXPECT_EQ(RunToTheEnd(), media::EC_COMPLETE);
    long once = counter.Bytes();
    EXPECT_GT(once, 0);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(RunToTheEnd(), media::EC_COMPLETE);
    EXPECT_EQ(counter.Bytes(), 2 * once);
}

TEST_F(SourceGraphTest, AnErrorWhileDecodingEndsTheWaitWithTheDataSoFar) {
    ASSERT_NO_FATAL_FAILURE(AddSource(Input("speech.wav")));
    ASSERT_NO_FATAL_FAILURE(AddSink(FailingSink::Create(3)));
    EXPECT_EQ(RunToTheEnd(), media::EC_ERRORABORT);
    EXPECT_GT(counter.Bytes(), 0);
    long code = 0;
    std::intptr_t p1 = 0, p2 = 0;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, media::EC_ERRORABORT);
    EXPECT_FALSE(GetLastErrorText().empty());
}

TEST_F(SourceGraphTest, AnErrorBeforeTheGraphRunsEndsTheWaitWithIt) {
    ASSERT_NO_FATAL_FAILURE(AddSource(Input("speech.wav")));
    GstElement* element = std::dynamic_pointer_cast<media::gst::GstFilter>(source)->Element();
    GST_ELEMENT_ERROR(element, STREAM, DECODE, ("A broken frame."), (nullptr));
    ASSERT_NO_FATAL_FAILURE(AddSink(NullRenderer()));
    EXPECT_EQ(RunToTheEnd(), media::EC_ERRORABORT);
    long code = 0;
    std::intptr_t p1 = 0, p2 = 0;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, media::EC_ERRORABORT);
    EXPECT_EQ(NarrowUtf8(GetLastErrorText()), "A broken frame.");
}

}  // namespace
