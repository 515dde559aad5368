// Narrator files decoded by SourceData on the GStreamer backend: every PCM
// width, float and MP3 reach the temporary store as the file holds them, and
// broken files end in one report or keep what decodes, without a hang or a
// leftover temporary file. A load ends with the playback graph on the stored
// WAV file, so every width is also rendered to a private PulseAudio server.
#include <gmock/gmock.h>

#include "GstBackend.h"
#include "GstFilter.h"
#include "LastError.h"
#include "MessageRecorder.h"
#include "Pins.h"
#include "PulseServer.h"
#include "SourceData.h"

using namespace test_audio;

namespace {

const auto Input = PulseEnvironment::Input;

std::vector<std::string> Sox(std::vector<std::string> options) {
    options.insert(options.begin(), {"sox", "@speech.wav"});
    return options;
}

// LoadFile ends by building the playback graph, which needs a sound server.
// -D: no dither, so that the 8-bit file is the 16-bit speech rounded. The
// joined MP3 is two recordings, the second at another rate.
[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new PulseEnvironment(
        {},
        {Sox({"-D", "-b", "8", "@u8.wav"}),
         Sox({"-b", "24", "@s24.wav"}),
         Sox({"-b", "32", "-e", "signed-integer", "@s32.wav"}),
         Sox({"-b", "32", "-e", "floating-point", "@float.wav"}),
         Sox({"-c", "2", "@stereo.wav"}),
         Sox({"-c", "6", "@six.wav"}),
         Sox({"-r", "16000", "@speech16k.wav"}),
         {"lame", "--quiet", "@speech.wav", "@mono.mp3"},
         {"lame", "--quiet", "@stereo.wav", "@stereo.mp3"},
         {"lame", "--quiet", "@speech16k.wav", "@mono16k.mp3"},
         {"sh", "-c", "cat \"$0\" \"$1\" >\"$2\"", "@mono.mp3", "@mono16k.mp3", "@joined.mp3"}},
        false));

class DecodeTest : public ::testing::Test {
  protected:
    // Loads `path`; the texts of the messages shown meanwhile.
    std::string Load(const std::string& path) {
        recorder.Clear();
        source.Clear();
        loaded = source.LoadFile(WidenUtf8(path).c_str());
        std::string shown;
        for (const auto& text : recorder.Texts())
            shown += NarrowUtf8(text) + "\n";
        return shown;
    }

    std::vector<float> speech = ReadWav(Input("speech.wav"))->Samples();
    MessageRecorder recorder;
    SourceData source;
    bool loaded = false;
};

// Each file's store holds its PCM as it is (or 16 bits from MP3 and float) and
// the display its top sixteen bits.
TEST_F(DecodeTest, StoreHoldsThePcmAndTheDisplayItsTopSixteenBits) {
    struct Format {
        const char* file;
        int channels;
        int bits;       // in the store
        bool samePcm;   // the store holds the file's own PCM bytes
        int tolerance;  // display against the 16-bit speech; -1: MP3, not aligned to it
        int parts;      // lengths of the speech in the file
    } rows[] = {{"u8.wav", 1, 8, true, 256, 1},     {"speech.wav", 1, 16, true, 0, 1},
                {"s24.wav", 1, 24, true, 0, 1},     {"s32.wav", 1, 32, true, 0, 1},
                {"float.wav", 1, 32, false, 1, 1},  {"stereo.wav", 2, 16, true, 1, 1},
                {"mono.mp3", 1, 16, false, -1, 1},  {"stereo.mp3", 2, 16, false, -1, 1},
                {"joined.mp3", 1, 16, false, -1, 2}};
    for (const Format& f : rows) {
        SCOPED_TRACE(f.file);
        ASSERT_EQ(Load(Input(f.file)), "");
        ASSERT_TRUE(loaded);
        EXPECT_EQ(source.channels, f.channels);
        EXPECT_EQ(source.sampleRate, 22050u) << "the rate of the file's first part";
        EXPECT_EQ(source.bytesPerSample, f.bits / 8);
        const auto frames = static_cast<double>(f.parts * speech.size());
        // MP3 keeps its encoder's delay and padding: at most a frame each side.
        EXPECT_NEAR(source.sampleCount, frames, f.tolerance < 0 ? 2 * 1152 * f.parts : 0);
        EXPECT_NEAR(source.duration * 1e-7 * 22050, source.sampleCount,
                    f.tolerance < 0 ? 0.01 * frames : 2);

        auto stored = ReadWav(source.wavFile.path);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->channels, f.channels);
        EXPECT_EQ(stored->bits, f.bits);
        EXPECT_EQ(stored->declaredSize, stored->data.size());
        EXPECT_EQ(stored->data.size(), static_cast<std::size_t>(source.sampleCount) *
                                           static_cast<std::size_t>(f.channels * f.bits / 8));
        EXPECT_TRUE(!f.samePcm || stored->data == ReadWav(Input(f.file))->data) << "other PCM";

        auto display = Wav{.data = ReadBytes(source.displayFile.path)}.Samples();
        ASSERT_EQ(display.size(), static_cast<std::size_t>(source.sampleCount));
        float worst = 0;
        for (std::size_t i = 0; i < display.size() && f.tolerance >= 0; ++i)
            worst = std::max(worst, std::fabs(display[i] - speech[i]));
        EXPECT_LE(worst, std::max(f.tolerance, 0));
        EXPECT_EQ(source.peak, Peak(display));
        EXPECT_GT(source.peak, 3000);
        // With the duration known, progress follows the sample time to the last
        // buffer; without it, it counts buffers, wrapping at 100.
        EXPECT_GT(source.progress.load(), f.tolerance < 0 ? -1 : 90);
        EXPECT_LE(source.progress.load(), 100);
    }
}

// Files that are not audio end in one message naming the cause; damaged ones
// keep what decodes. Each leaves the way free for the next.
TEST_F(DecodeTest, BrokenFilesEndInOneReportOrKeepWhatDecodes) {
    ScratchFolder folder("decode-broken");
    ASSERT_EQ(::mkfifo(folder.Path("pipe.mp3").c_str(), 0600), 0);
    auto wav = *ReadWav(Input("speech.wav"));
    auto cut = ReadBytes(Input("speech.wav"));
    cut.resize(wav.dataOffset + 30001);  // mid-sample
    auto half = ReadBytes(Input("mono.mp3"));
    half.resize(half.size() / 2);
    const long all = static_cast<long>(speech.size());
    struct Broken {
        std::string path;
        std::optional<std::vector<std::uint8_t>> bytes;  // written to the path first
        const char* shown;                               // nullptr: loads silently
        long frames;                                     // kept, from the speech's start
        long tolerance;
    } rows[] = {
        {folder.Path("empty.mp3"), std::vector<std::uint8_t>{}, "Stream contains no data.", 0, 0},
        {folder.Path("missing.wav"), std::nullopt, "Resource not found.", 0, 0},
        // Opening a FIFO would wait for a writer that never comes.
        {folder.Path("pipe.mp3"), std::nullopt, "is not a regular file.", 0, 0},
        {Input("six.wav"), std::nullopt, "Sorry! I can't process that file.", 0, 0},
        {folder.Path("cut.wav"), cut, nullptr, 15000, 0},
        {folder.Path("half.mp3"), half, nullptr, all / 2, all / 10},
    };
    for (const Broken& row : rows) {
        SCOPED_TRACE(row.path);
        if (row.bytes)
            std::ofstream(row.path, std::ios::binary)
                .write(reinterpret_cast<const char*>(row.bytes->data()),
                       static_cast<std::streamsize>(row.bytes->size()));
        std::string shown = Load(row.path);
        EXPECT_EQ(loaded, row.shown == nullptr);
        EXPECT_EQ(recorder.Messages().size(), row.shown ? 1u : 0u) << shown;
        EXPECT_THAT(shown, ::testing::HasSubstr(row.shown ? row.shown : ""));
        EXPECT_NEAR(source.sampleCount, row.frames, row.tolerance);
        if (!row.shown && row.tolerance == 0) {
            wav.data.resize(static_cast<std::size_t>(row.frames) * 2);
            EXPECT_TRUE(ReadWav(source.wavFile.path)->data == wav.data);
        }
    }
}

// An error the source raised as it read ahead, before the graph ran, ends the
// wait for the end of the decode with its text; a stop forgets it.
TEST_F(DecodeTest, AnErrorBeforeTheGraphRunsEndsTheWaitWithIt) {
    std::shared_ptr<media::IGraphBuilder> graph;
    std::shared_ptr<media::IMediaControl> control;
    std::shared_ptr<media::IMediaEventEx> events;
    std::shared_ptr<media::IBaseFilter> file, grabber, sink;
    ASSERT_EQ(media::CoCreateInstance(media::Clsid::FilterGraph, &graph), S_OK);
    ASSERT_EQ(media::QueryInterface(graph, &control), S_OK);
    ASSERT_EQ(media::QueryInterface(graph, &events), S_OK);
    ASSERT_EQ(media::CoCreateInstance(media::Clsid::SampleGrabber, &grabber), S_OK);
    ASSERT_EQ(media::CoCreateInstance(media::Clsid::NullRenderer, &sink), S_OK);
    ASSERT_EQ(graph->AddSourceFilter(WidenUtf8(Input("speech.wav")).c_str(), L"Source", &file),
              S_OK);
    auto* element = std::dynamic_pointer_cast<media::gst::GstFilter>(file)->Element();
    GST_ELEMENT_ERROR(element, STREAM, DECODE, ("A broken frame."), (nullptr));
    ASSERT_EQ(graph->AddFilter(grabber, L"Sample Grabber"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink, L"Sink"), S_OK);
    ASSERT_EQ(ConnectFilters(graph, file, grabber, PinErrors::Silent), S_OK);
    ASSERT_EQ(ConnectFilters(graph, grabber, sink, PinErrors::Silent), S_OK);
    for (bool first : {true, false}) {
        EXPECT_TRUE(SUCCEEDED(control->Run())) << NarrowUtf8(GetLastErrorText());
        long code = 0;
        std::intptr_t p1 = 0, p2 = 0;
        // The bound only keeps a broken graph from holding the tier.
        EXPECT_EQ(events->WaitForCompletion(60000, &code), S_OK);
        EXPECT_EQ(code, first ? media::EC_ERRORABORT : media::EC_COMPLETE);
        ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
        EXPECT_EQ(code, first ? media::EC_ERRORABORT : media::EC_COMPLETE);
        EXPECT_TRUE(!first || NarrowUtf8(GetLastErrorText()) == "A broken frame.");
        ASSERT_EQ(control->Stop(), S_OK);
    }
    graph->Abort();
}

}  // namespace
