// The narrator's playback on the GStreamer backend against a private PulseAudio
// server: what SourceData plays is checked on the output's monitor by
// cross-correlation with the file, its clock-derived cursor against the time
// the audio was heard, and the playback survives a stalled output, fifty phrases
// in a row and a server that goes away.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "AudioFiles.h"
#include "AudioMatch.h"
#include "GstBackend.h"
#include "LastError.h"
#include "Media.h"
#include "MessageRecorder.h"
#include "MonitorRecorder.h"
#include "Playback.h"
#include "PulseServer.h"
#include "SourceData.h"

using namespace audio_files;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kWords =
    "Peter Piper picked a peck of pickled peppers. How many pickled peppers did he pick?";
constexpr int kRate = 22050;  // espeak-ng's, and the monitor's after HalfRateMono
constexpr long kMs = kRate / 1000;

PulseServer* server = nullptr;
ScratchFolder* inputs = nullptr;

class PulseEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        media::SetMediaFactory(CreateGstMediaFactory());
        server_ = std::make_unique<PulseServer>(1);
        ASSERT_TRUE(server_->Running()) << server_->Error();
        server = server_.get();
        folder_ = std::make_unique<ScratchFolder>("playback-inputs");
        inputs = folder_.get();
        ASSERT_TRUE(MakeSpeech(inputs->Path("speech.wav"), kWords));
        ASSERT_TRUE(RunTool({"sox", "-n", "-r", "22050", "-c", "1", "-b", "16",
                             inputs->Path("tone.wav"), "synth", "3", "sine", "440", "vol", "0.5"}));
    }
    void TearDown() override {
        inputs = nullptr;
        folder_.reset();
        server = nullptr;
        server_.reset();
        media::SetMediaFactory(nullptr);
    }

  private:
    std::unique_ptr<PulseServer> server_;
    std::unique_ptr<ScratchFolder> folder_;
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new PulseEnvironment);

std::vector<float> SourceSamples(const std::string& path) {
    return audio_match::ToFloat(Samples16(*ReadWav(path)));
}

// A loud sample at or after `from`, so that a span starting (or ending) there
// is heard from its first (to its last) sample.
long LoudSampleFrom(const std::vector<float>& source, long from) {
    float level = 0.3f * audio_match::Peak(source);
    while (from < static_cast<long>(source.size()) && std::fabs(source[from]) < level)
        ++from;
    return from;
}

struct CursorSample {
    Clock::time_point when;
    std::int32_t cursor;
};

// The cursor as the presenter's 10 ms timer sees it, until the update reports
// the end. The bound only keeps a broken playback from holding the run.
template <class Update>
std::vector<CursorSample> FollowUntilEnd(SourceData& source, Update update,
                                         std::chrono::seconds bound = 20s) {
    std::vector<CursorSample> samples;
    auto giveUp = Clock::now() + bound;
    while (Clock::now() < giveUp) {
        bool going = update();
        samples.push_back({Clock::now(), source.cursorSample});
        if (!going)
            break;
        std::this_thread::sleep_for(10ms);
    }
    return samples;
}

// What the monitor heard, at the narrator's rate, and where the loud part lies
// in the file.
struct Heard {
    std::vector<float> samples;
    std::size_t first = 0;  // loud part, in the recording
    std::size_t last = 0;
    long offset = -1;  // file sample = recording sample + offset
    double score = 0;
};

// `expected` is where the loud part should start in the file; the match is
// sought within half a second of it.
Heard Analyse(const MonitorRecorder& monitor, const std::vector<float>& source, long expected) {
    Heard heard;
    heard.samples = audio_match::HalfRateMono(monitor.Samples(), 2);
    auto span = audio_match::LoudSpan(heard.samples, 0.1f * audio_match::Peak(source));
    if (!span)
        return heard;
    std::tie(heard.first, heard.last) = *span;
    // A 200 ms piece from near the start of what was heard places it in the file.
    std::size_t piece = heard.first + 20 * kMs;
    long guess = expected + 20 * kMs;
    auto match = audio_match::BestMatch(source, heard.samples, piece, 200 * kMs, guess - 500 * kMs,
                                        guess + 500 * kMs);
    heard.offset = match.offset - static_cast<long>(piece);
    heard.score = match.score;
    return heard;
}

class PlaybackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server && inputs);
        Load("speech.wav");
    }
    void TearDown() override {
        source.ReleaseGraph();
        source.Clear();
    }

    void Load(const char* name) {
        path = inputs->Path(name);
        file = SourceSamples(path);
        // As the presenter does before every load.
        source.Clear();
        bool loaded = source.LoadFile(WidenUtf8(path).c_str());
        std::string shown;
        for (const auto& text : recorder.Texts())
            shown += NarrowUtf8(text) + "\n";
        ASSERT_TRUE(loaded) << shown;
        ASSERT_TRUE(source.pRC) << "the renderer offers no clock";
        ASSERT_THAT(recorder.Messages(), ::testing::IsEmpty());
    }

    void Select(long first, long end) {
        source.selectionStart = static_cast<std::int32_t>(first);
        source.selectionEnd = static_cast<std::int32_t>(end);
    }

    // As the presenter plays a phrase: the cursor at its start first.
    void StartSelection() {
        source.cursorSample = source.selectionStart;
        source.PlaySelection(true);
    }

    std::vector<CursorSample> PlaySelection() {
        StartSelection();
        auto samples = FollowUntilEnd(source, [this] { return source.UpdateSelectionPlayback(); });
        source.PlaySelection(false);
        return samples;
    }

    // Records the monitor around `play`, with some silence on both sides.
    template <class Play>
    Heard Hear(long expected, Play play) {
        MonitorRecorder monitor;
        EXPECT_TRUE(monitor.AwaitFrames(4410));
        play();
        monitor.AwaitFrames(monitor.Frames() + 13230);
        monitor.Stop();
        heard = Analyse(monitor, file, expected);
        arrivalOfFirst = monitor.ArrivalOf(heard.first * 2);
        arrivalOfLast = monitor.ArrivalOf(heard.last * 2);
        return heard;
    }

    MessageRecorder recorder;
    SourceData source;
    std::string path;
    std::vector<float> file;
    Heard heard;
    std::optional<Clock::time_point> arrivalOfFirst;
    std::optional<Clock::time_point> arrivalOfLast;
};

// ---- what is heard ------------------------------------------------------------

TEST_F(PlaybackTest, SelectionIsHeardExactlyAndTheCursorFollowsTheAudioToItsEnd) {
    long first = LoudSampleFrom(file, kRate);
    long end = LoudSampleFrom(file, 2 * kRate + kRate / 2) + 1;
    Select(first, end);
    std::vector<CursorSample> cursor;
    Hear(first, [&] { cursor = PlaySelection(); });

    ASSERT_GT(heard.score, 0.9) << "what was heard is not the narrator's file";
    EXPECT_NEAR(static_cast<long>(heard.first) + heard.offset, first, 3 * kMs);
    EXPECT_NEAR(static_cast<long>(heard.last) + heard.offset, end - 1, 20 * kMs);
    EXPECT_FALSE(source.TakePlaybackError());

    // The cursor runs with the audio: at every tick it shows what was being
    // heard then, give or take the monitor's own latency.
    ASSERT_TRUE(arrivalOfFirst && arrivalOfLast);
    ASSERT_FALSE(cursor.empty());
    std::vector<double> lagMs;
    for (const CursorSample& sample : cursor) {
        if (sample.cursor <= first || sample.cursor >= end - 1)
            continue;
        double heardAt =
            first + std::chrono::duration<double>(sample.when - *arrivalOfFirst).count() * kRate;
        lagMs.push_back((sample.cursor - heardAt) / kMs);
    }
    ASSERT_GT(lagMs.size(), 50u);
    auto [low, high] = std::minmax_element(lagMs.begin(), lagMs.end());
    EXPECT_GT(*low, -60) << "the cursor runs behind the audio";
    EXPECT_LT(*high, 80) << "the cursor runs ahead of the audio";
    EXPECT_LT(*high - *low, 50) << "the cursor drifts against the audio";
    RecordProperty("cursor_lag_ms", std::to_string(*low) + ".." + std::to_string(*high));

    // The end is reported when the last sample has been heard, and the
    // cursor stands at the selection's end (a tick's worth past it at most).
    EXPECT_GE(cursor.back().cursor, end);
    EXPECT_LT(cursor.back().cursor, end + 30 * kMs);
    double endLagMs =
        std::chrono::duration<double, std::milli>(cursor.back().when - *arrivalOfLast).count();
    EXPECT_GT(endLagMs, -80);
    EXPECT_LT(endLagMs, 80);
    RecordProperty("end_reported_after_last_heard_ms", std::to_string(endLagMs));
}

TEST_F(PlaybackTest, PlayRunsFromTheCursorToTheEndOfTheFile) {
    long from = LoudSampleFrom(file, 3 * kRate);
    source.cursorSample = static_cast<std::int32_t>(from);
    std::vector<CursorSample> cursor;
    Hear(from, [&] {
        source.Play(true);
        cursor = FollowUntilEnd(source, [this] { return source.UpdatePlayback(); });
        source.Play(false);
    });

    ASSERT_GT(heard.score, 0.9);
    EXPECT_NEAR(static_cast<long>(heard.first) + heard.offset, from, 3 * kMs);
    auto fileLoud = audio_match::LoudSpan(file, 0.1f * audio_match::Peak(file));
    ASSERT_TRUE(fileLoud);
    EXPECT_NEAR(static_cast<long>(heard.last) + heard.offset, static_cast<long>(fileLoud->second),
                20 * kMs);
    ASSERT_FALSE(cursor.empty());
    EXPECT_EQ(cursor.back().cursor, source.sampleCount);
    EXPECT_GE(cursor.back().when, *arrivalOfLast - 80ms);
}

// The level heard against the file's, in decibels, over the whole recording.
double LevelDb(const std::vector<float>& heard, const std::vector<float>& file, long first,
               long end) {
    double heardEnergy =
        std::pow(audio_match::Rms(heard, 0, heard.size()), 2) * static_cast<double>(heard.size());
    double fileEnergy =
        std::pow(audio_match::Rms(file, first, end), 2) * static_cast<double>(end - first);
    return 10 * std::log10(heardEnergy / fileEnergy);
}

TEST_F(PlaybackTest, VolumeIsSilentAtZeroFullAtTopAndActsWhilePlaying) {
    long first = LoudSampleFrom(file, kRate / 2);
    long end = LoudSampleFrom(file, 2 * kRate) + 1;
    Select(first, end);

    source.SetVolume(0);
    EXPECT_EQ(source.volume, -10000);
    Hear(first, [&] { PlaySelection(); });
    EXPECT_EQ(audio_match::Peak(heard.samples), 0.0f) << "silence was not silent";

    source.SetVolume(50);
    EXPECT_EQ(source.volume, -5000);
    Hear(first, [&] { PlaySelection(); });
    EXPECT_NEAR(LevelDb(heard.samples, file, first, end), -50.0, 2.0);

    source.SetVolume(100);
    EXPECT_EQ(source.volume, 0);
    Hear(first, [&] { PlaySelection(); });
    EXPECT_NEAR(LevelDb(heard.samples, file, first, end), 0.0, 1.0);

    // Turned down a third of the way through: full level before, silence soon after.
    std::optional<std::int32_t> turnedAt;
    Hear(first, [&] {
        StartSelection();
        FollowUntilEnd(source, [&] {
            bool going = source.UpdateSelectionPlayback();
            if (going && !turnedAt && source.cursorSample > first + (end - first) / 3) {
                turnedAt = source.cursorSample;
                source.SetVolume(0);
            }
            return going;
        });
        source.PlaySelection(false);
    });
    source.SetVolume(100);
    ASSERT_TRUE(turnedAt);
    ASSERT_GT(heard.score, 0.9);
    auto turned = static_cast<std::size_t>(*turnedAt - heard.offset);
    std::vector<float> before(heard.samples.begin() + static_cast<long>(heard.first),
                              heard.samples.begin() + static_cast<long>(turned - 50 * kMs));
    EXPECT_NEAR(LevelDb(before, file, static_cast<long>(heard.first) + heard.offset,
                        static_cast<long>(turned - 50 * kMs) + heard.offset),
                0.0, 1.0);
    auto lastLoud = audio_match::LoudSpan(
        std::vector<float>(heard.samples.begin() + static_cast<long>(turned), heard.samples.end()),
        1.0f);
    double heardForMs = lastLoud ? static_cast<double>(lastLoud->second) / kMs : 0.0;
    RecordProperty("volume_change_heard_after_ms", std::to_string(heardForMs));
    EXPECT_LT(heardForMs, 300) << "the change was not heard within 300 ms";
}

// ---- robustness ---------------------------------------------------------------

// The training cycle plays the phrase again and again: every playback must end.
TEST_F(PlaybackTest, FiftyPhrasesInARowAllPlayToTheirEnd) {
    ASSERT_NO_FATAL_FAILURE(Load("tone.wav"));
    Select(kRate / 2, kRate / 2 + 300 * kMs);
    MonitorRecorder monitor;
    ASSERT_TRUE(monitor.AwaitFrames(4410));
    std::uint64_t rebuildsBefore = media::gst::OutputRebuilds();
    // The stretch of the recording that belongs to each playback.
    std::vector<std::pair<std::size_t, std::size_t>> stretches;
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE("playback " + std::to_string(i + 1));
        std::size_t from = monitor.Frames();
        auto cursor = PlaySelection();
        ASSERT_FALSE(cursor.empty());
        ASSERT_GE(cursor.back().cursor, source.selectionEnd) << "the playback never ended";
        // A gap between phrases, as the cycle's recording makes one.
        ASSERT_TRUE(monitor.AwaitFrames(monitor.Frames() + 4410));
        stretches.emplace_back(from, monitor.Frames());
    }
    monitor.Stop();
    EXPECT_FALSE(source.TakePlaybackError());
    RecordProperty("output_rebuilds",
                   std::to_string(media::gst::OutputRebuilds() - rebuildsBefore));

    // Each phrase was heard, and only once: its 300 ms of tone lie in its own
    // stretch. All of it, unless the machine is so starved that the sink
    // drops samples that come too late (it keeps to the clock).
    auto heardTone = audio_match::FirstChannel(monitor.Samples(), 2);
    auto aboveLevel = [](float v) { return std::fabs(v) > 1000; };
    double loudShare =
        static_cast<double>(std::count_if(file.begin() + source.selectionStart,
                                          file.begin() + source.selectionEnd, aboveLevel)) /
        (source.selectionEnd - source.selectionStart);
    std::size_t whole = 0;
    for (const auto& [from, to] : stretches) {
        std::size_t loud = 0;
        for (std::size_t i = from; i < std::min(to, heardTone.size()); ++i)
            loud += aboveLevel(heardTone[i]) ? 1 : 0;
        double seconds = static_cast<double>(loud) / loudShare / 44100;
        EXPECT_GT(seconds, 0.1) << "a phrase was hardly heard";
        EXPECT_LT(seconds, 0.31) << "more than the phrase was heard";
        whole += seconds > 0.29 ? 1 : 0;
    }
    RecordProperty("phrases_heard_whole", std::to_string(whole));
}

// The id of this program's playback stream on the server.
std::optional<std::string> OurSinkInput() {
    auto listing = server->Pactl("list sink-inputs");
    if (!listing)
        return std::nullopt;
    std::regex block(R"(Sink Input #(\d+)([^#]*))");
    for (std::sregex_iterator it(listing->begin(), listing->end(), block), end; it != end; ++it) {
        if ((*it)[2].str().find("application.name = \"Sayalike\"") != std::string::npos)
            return (*it)[1].str();
    }
    return std::nullopt;
}

// An output whose sink stops taking audio (here: moved to a suspended sink)
// is rebuilt on the default output, and the phrase plays on to its end with
// the cursor moving on without a jump.
TEST_F(PlaybackTest, StalledOutputIsRebuiltAndThePhrasePlaysToItsEnd) {
    ASSERT_TRUE(server->Pactl("load-module module-null-sink sink_name=parking"));
    ASSERT_TRUE(server->Pactl("suspend-sink parking 1"));
    long first = LoudSampleFrom(file, kRate / 2);
    long end = LoudSampleFrom(file, 3 * kRate) + 1;
    Select(first, end);
    std::uint64_t rebuildsBefore = media::gst::OutputRebuilds();
    std::vector<CursorSample> cursor;
    bool moved = false;
    Hear(first, [&] {
        StartSelection();
        cursor = FollowUntilEnd(source, [&] {
            if (!moved && source.cursorSample > first + kRate / 2) {
                auto input = OurSinkInput();
                moved = input && server->Pactl("move-sink-input " + *input + " parking");
            }
            return source.UpdateSelectionPlayback();
        });
        source.PlaySelection(false);
    });
    server->Pactl("unload-module module-null-sink sink_name=parking");
    ASSERT_TRUE(moved);
    EXPECT_GT(media::gst::OutputRebuilds(), rebuildsBefore);
    EXPECT_FALSE(source.TakePlaybackError());
    ASSERT_FALSE(cursor.empty());
    EXPECT_GE(cursor.back().cursor, end);
    // The cursor stood while the output was stalled and then went on, never
    // back and without a jump.
    std::int32_t stoodAt = 0;
    std::size_t longest = 0;
    for (std::size_t i = 1, run = 0; i < cursor.size(); ++i) {
        std::int32_t step = cursor[i].cursor - cursor[i - 1].cursor;
        EXPECT_GE(step, 0) << "the cursor went back";
        EXPECT_LT(step, 80 * kMs) << "the cursor jumped";
        run = step == 0 ? run + 1 : 0;
        if (run > longest && cursor[i].cursor < end) {
            longest = run;
            stoodAt = cursor[i].cursor;
        }
    }
    ASSERT_GT(longest, 10u) << "the output never stalled";

    // The rest of the phrase was heard on the default output, from where the
    // stalled output had stopped to the phrase's last sample.
    std::size_t tail = heard.last - 300 * kMs;
    long guess = end - 1 - 300 * kMs;
    auto atEnd = audio_match::BestMatch(file, heard.samples, tail, 200 * kMs, guess - 500 * kMs,
                                        guess + 500 * kMs);
    ASSERT_GT(atEnd.score, 0.9);
    long offset = atEnd.offset - static_cast<long>(tail);
    EXPECT_NEAR(static_cast<long>(heard.last) + offset, end - 1, 20 * kMs);
    long resumed = stoodAt + 20 * kMs;
    auto afterStall =
        audio_match::BestMatch(file, heard.samples, static_cast<std::size_t>(resumed - offset),
                               200 * kMs, resumed - 5 * kMs, resumed + 5 * kMs);
    EXPECT_GT(afterStall.score, 0.8) << "the phrase did not go on where it had stalled";
}

// A stop while the watchdog rebuilds a stalled output (here one that never
// prerolls again) takes the lock at once and the output stays stopped.
TEST(PlaybackWatchdog, StopWinsOverARebuildUnderWay) {
    GError* error = nullptr;
    auto pipeline =
        media::gst::ElementHandle::RefSink(gst_parse_launch("appsrc ! fakesink name=sink", &error));
    ASSERT_TRUE(pipeline) << (error ? error->message : "");
    auto sink =
        media::gst::ElementHandle::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    auto events = std::make_shared<media::gst::EventQueue>();
    auto clock = std::make_shared<media::gst::StreamClock>(sink);
    std::atomic<bool> rebuilding{false};
    media::gst::OutputControl output{[] { return S_OK; }, [&] { rebuilding = true; }};
    {
        media::gst::Playback playback(pipeline.get(), events, clock, std::move(output),
                                      10 * GST_SECOND);
        clock->Follow();  // as if playing, with a position that never moves
        auto giveUp = Clock::now() + 10s;
        while (!rebuilding && Clock::now() < giveUp)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(rebuilding) << "the watchdog never rebuilt the output";
        auto asked = Clock::now();
        auto lock = playback.LockToStop();
        // Generous: the rebuild's own wait for the output is 5 s.
        EXPECT_TRUE(lock && Clock::now() - asked < 2s) << "the stop waited for the rebuild";
        playback.BeforeStateChange(GST_STATE_NULL);
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    }
    GstState state = GST_STATE_VOID_PENDING;
    gst_element_get_state(pipeline.get(), &state, nullptr, 0);
    EXPECT_EQ(state, GST_STATE_NULL);
    EXPECT_FALSE(events->Pop(0ms)) << "a stop is no failure of the output";
}

// A server that goes away while the narrator plays: the error arrives as an
// event, every later call returns, and the next load plays again.
TEST_F(PlaybackTest, ServerThatGoesAwayEndsThePlaybackWithAnError) {
    source.ReleaseGraph();
    auto doomed = std::make_unique<PulseServer>(0);
    ASSERT_TRUE(doomed->Running()) << doomed->Error();
    SourceData other;
    ASSERT_TRUE(other.LoadFile(WidenUtf8(path).c_str()));
    other.selectionStart = kRate / 2;
    other.selectionEnd = 4 * kRate;
    other.PlaySelection(true);
    auto playing = FollowUntilEnd(other, [&] {
        other.UpdateSelectionPlayback();
        return other.cursorSample < kRate;
    });
    ASSERT_GE(playing.back().cursor, kRate);

    ::kill(doomed->Pid(), SIGKILL);
    bool failed = false;
    auto giveUp = Clock::now() + 20s;
    while (!failed && Clock::now() < giveUp) {
        other.UpdateSelectionPlayback();
        failed = other.TakePlaybackError();
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(failed) << "no EC_ERRORABORT after the server went away";
    EXPECT_FALSE(GetLastErrorText().empty());
    // Reported once: the cursor stands and no further error piles up.
    std::int32_t stood = other.cursorSample;
    other.UpdateSelectionPlayback();
    EXPECT_EQ(other.cursorSample, stood);
    EXPECT_FALSE(other.TakePlaybackError());

    other.PlaySelection(false);
    other.PlaySelection(true);
    other.Play(false);
    other.ReleaseGraph();
    doomed.reset();

    // The test's own server is still there for the next load.
    ASSERT_NO_FATAL_FAILURE(Load("speech.wav"));
}

}  // namespace
