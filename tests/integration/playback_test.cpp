// The narrator's playback on the GStreamer backend against a private PulseAudio
// server, checked on the output's monitor by cross-correlation with the file:
// the span asked for is heard with the cursor following it, the volume acts
// while playing, a stalled output is rebuilt (and a stop wins over that), and a
// server that goes away ends the playback with an error. The figures of how
// closely all this keeps time are bench/playback_bench's.
#include <gmock/gmock.h>

#include "GstBackend.h"
#include "LastError.h"
#include "Playback.h"
#include "PulseServer.h"
#include "SourceData.h"

using namespace test_audio;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr long kRate = 22050;  // espeak-ng's, and the monitor's
constexpr long kMs = kRate / 1000;
// How many times looser the timing bounds are where the build itself slows the
// streaming threads down (the ThreadSanitizer run sets it).
const long kSlack =
    std::getenv("SAYALIKE_TIMING_SLACK") ? std::atol(std::getenv("SAYALIKE_TIMING_SLACK")) : 1;

// 440 Hz for two seconds, then 880 Hz.
[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(
    new PulseEnvironment({}, {{"sox", "-n", "-r", "22050", "-c", "1", "-b", "16", "@tones.wav",
                               "synth", "2", "sine", "440", ":", "synth", "1", "sine", "880"}}));

class PlaybackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(source.LoadFile(WidenUtf8(path).c_str()));
        ASSERT_TRUE(source.pRC) << "the renderer offers no clock";
    }
    void TearDown() override {
        source.ReleaseGraph();
        source.Clear();
    }

    // A loud sample at or after `from`, so that a span starting (or ending)
    // there is heard from its first (to its last) sample.
    long LoudFrom(long from) const {
        for (float level = 0.3f * Peak(file);
             from < static_cast<long>(file.size()) && std::fabs(file[from]) < level;)
            ++from;
        return from;
    }

    // Plays [first, end) as the presenter does (end -1: Play to the end of the
    // file) and follows the cursor until the end is reported, calling `tick`
    // each time; what the output played meanwhile goes to `heard`, the loud
    // part of it from `loud` to `last`.
    void Play(
        long first, long end, const std::function<void()>& tick = [] {}) {
        MonitorRecorder monitor;
        cursor.clear();
        EXPECT_TRUE(monitor.Hear(
            [&] {
                source.cursorSample = source.selectionStart = static_cast<std::int32_t>(first);
                source.selectionEnd = static_cast<std::int32_t>(end);
                end < 0 ? source.Play(true) : source.PlaySelection(true);
            },
            [&] {
                bool going = end < 0 ? source.UpdatePlayback() : source.UpdateSelectionPlayback();
                cursor.emplace_back(monitor.Frames(), source.cursorSample);
                tick();
                return going || (source.Play(false), false);
            },
            6615))
            << "the end was never reported";
        heard = monitor.Heard();
        auto span = LoudSpan(heard, 0.1f * Peak(file));
        ASSERT_TRUE(span) << "nothing was heard";
        std::tie(loud, last) = *span;
        offset = Locate(loud + 20 * kMs, first + 20 * kMs);
    }

    // File sample minus heard sample for the 200 ms heard from `at`, sought
    // within a tenth of a second of `guess` (the search is costly).
    long Locate(std::size_t at, long guess) {
        auto match = BestMatch(file, heard, at, 200 * kMs, guess - 100 * kMs, guess + 100 * kMs);
        EXPECT_GT(match.score, 0.9) << "what was heard there is not the file";
        return match.offset - static_cast<long>(at);
    }

    // The level heard from `from` to `to` against the file's there, in decibels.
    double LevelDb(long from, long to) const {
        auto rms = [](const std::vector<float>& s, long at, long n) {
            double sum = 0;
            for (long i = at; i < at + n; ++i)
                sum += static_cast<double>(s.at(static_cast<std::size_t>(i))) * s[i];
            return std::sqrt(sum / static_cast<double>(n));
        };
        return 20 * std::log10(rms(heard, from, to - from) / rms(file, from + offset, to - from));
    }

    std::string path = PulseEnvironment::Input("speech.wav");
    std::vector<float> file = ReadWav(path)->Samples();
    SourceData source;
    std::vector<std::pair<std::size_t, std::int32_t>> cursor;  // frames heard by then
    std::vector<float> heard;
    std::size_t loud = 0, last = 0;
    long offset = 0;
};

// A selection, and Play from the cursor to the end of the file: exactly that
// span is heard, and the cursor shows what is being heard up to the end.
TEST_F(PlaybackTest, TheSpanAskedForIsHeardWithTheCursorFollowingIt) {
    auto fileLoud = LoudSpan(file, 0.1f * Peak(file));
    for (auto [first, end] : {std::pair{LoudFrom(kRate), LoudFrom(2 * kRate) + 1},
                              std::pair{LoudFrom(4 * kRate), -1L}}) {
        SCOPED_TRACE(end < 0 ? "to the end" : "selection");
        ASSERT_NO_FATAL_FAILURE(Play(first, end));
        long endHeard = end < 0 ? static_cast<long>(fileLoud->second) : end - 1;
        EXPECT_NEAR(static_cast<long>(loud) + offset, first, 8 * kMs * kSlack);
        EXPECT_NEAR(static_cast<long>(last) + offset, endHeard, 20 * kMs * kSlack);
        EXPECT_FALSE(source.TakePlaybackError());
        // Generous bounds: the lag and drift figures are the benchmark's.
        for (std::size_t i = 1; i < cursor.size(); ++i) {
            auto [when, at] = cursor[i];
            double heardThen = first + static_cast<double>(when) - static_cast<double>(loud);
            EXPECT_TRUE(at <= first || at >= endHeard ||
                        std::fabs(at - heardThen) < 250 * kMs * kSlack)
                << "the cursor left the audio";
            EXPECT_GE(at, cursor[i - 1].second) << "the cursor went back";
        }
        long stop = end < 0 ? source.sampleCount : end;
        EXPECT_GE(cursor.back().second, stop);
        EXPECT_LT(cursor.back().second, stop + 250 * kMs * kSlack);
    }
}

// At half speed a tone keeps its pitch, the selection lasts twice as long and
// ends at its last sample (the tone changes right after it), and the cursor
// follows to that end; twice, as the loop repeats a phrase.
TEST_F(PlaybackTest, HalfSpeedKeepsThePitchAndEndsAtTheSelectionEnd) {
    source.ReleaseGraph();
    source.Clear();
    path = PulseEnvironment::Input("tones.wav");
    file = ReadWav(path)->Samples();
    ASSERT_TRUE(source.LoadFile(WidenUtf8(path).c_str()));
    source.SetSpeed(50);
    auto hertz = [&](std::size_t at, std::size_t n) {
        int crossings = 0;
        for (std::size_t i = at + 1; i < at + n; ++i)
            crossings += (heard[i - 1] < 0) != (heard[i] < 0);
        return crossings / 2.0 * kRate / static_cast<double>(n);
    };
    long first = kRate / 2, end = 2 * kRate;
    for (int round : {1, 2}) {
        SCOPED_TRACE(round);
        ASSERT_NO_FATAL_FAILURE(Play(first, end));
        EXPECT_NEAR(static_cast<double>(last - loud), 2.0 * (end - first), 30 * kMs * kSlack);
        EXPECT_NEAR(hertz(loud, last - loud), 440, 4);
        // Dropouts of a loaded machine blur a crossing count, not a tone's power.
        auto power = [&](std::size_t at, std::size_t n, double f) {  // Goertzel's
            double w = 2 * std::cos(2 * M_PI * f / kRate), s1 = 0, s2 = 0;
            for (std::size_t i = at; i < at + n; ++i)
                s2 = std::exchange(s1, heard[i] + w * s1 - s2);
            return s1 * s1 + s2 * s2 - w * s1 * s2;
        };
        EXPECT_LT(power(last - 40 * kMs, 40 * kMs, 880),
                  0.1 * power(last - 40 * kMs, 40 * kMs, 440))
            << "heard past the end";
        for (std::size_t i = 1; i < cursor.size(); ++i) {
            auto [when, at] = cursor[i];
            double heardThen =
                first + 0.5 * (static_cast<double>(when) - static_cast<double>(loud));
            EXPECT_TRUE(at <= first || at >= end || std::fabs(at - heardThen) < 250 * kMs * kSlack)
                << "the cursor left the audio";
            EXPECT_GE(at, cursor[i - 1].second) << "the cursor went back";
        }
        EXPECT_GE(cursor.back().second, end);
        EXPECT_NEAR(static_cast<double>(cursor.back().first), static_cast<double>(last),
                    250 * kMs * kSlack)
            << "the end was not reported as it was heard";
    }
    EXPECT_FALSE(source.TakePlaybackError());
}

// Turned down from full a third of the way through: the level heard before
// and, once the output's buffer has played out, after.
TEST_F(PlaybackTest, VolumeActsWhilePlaying) {
    long first = LoudFrom(kRate / 2);
    long end = LoudFrom(2 * kRate) + 1;
    for (auto [position, low, high] : {std::tuple{0, -INFINITY, -90.0}, {50, -52.0, -48.0}}) {
        SCOPED_TRACE(position);
        source.SetVolume(100);
        long turned = -1;
        ASSERT_NO_FATAL_FAILURE(Play(first, end, [&] {
            if (turned < 0 && source.cursorSample > first + (end - first) / 3) {
                turned = source.cursorSample;
                source.SetVolume(position);
            }
        }));
        ASSERT_GT(turned, 0);
        EXPECT_NEAR(LevelDb(static_cast<long>(loud), turned - offset - 50 * kMs), 0.0, 1.0);
        double after = LevelDb(turned - offset + 500 * kMs, end - offset);
        EXPECT_GE(after, low);
        EXPECT_LE(after, high);
    }
}

// An output whose sink stops taking audio (moved to a suspended sink) is
// rebuilt on the default output; the phrase goes on where it stalled and
// plays to its end, the cursor standing meanwhile and never going back.
TEST_F(PlaybackTest, StalledOutputIsRebuiltAndThePhrasePlaysToItsEnd) {
    PulseServer& server = *PulseEnvironment::Server();
    auto parking = server.Pactl("load-module module-null-sink sink_name=parking");
    ASSERT_TRUE(parking && server.Pactl("suspend-sink parking 1"));
    long first = LoudFrom(kRate / 2);
    long end = LoudFrom(3 * kRate) + 1;
    auto rebuildsBefore = media::gst::OutputRebuilds();
    bool moved = false;
    ASSERT_NO_FATAL_FAILURE(Play(first, end, [&] {
        if (!moved && source.cursorSample > first + kRate / 2)
            moved = server
                        .Pactl("move-sink-input " + server.Index("sink-inputs", "protocol-native") +
                               " parking")
                        .has_value();
    }));
    server.Pactl("unload-module " + *parking);
    ASSERT_TRUE(moved);
    EXPECT_GT(media::gst::OutputRebuilds(), rebuildsBefore);
    EXPECT_FALSE(source.TakePlaybackError());
    EXPECT_GE(cursor.back().second, end);
    // The longest stand after the move is where it stalled.
    std::int32_t stoodAt = 0;
    for (std::size_t i = 1, run = 0, longest = 10; i < cursor.size(); ++i) {
        run = cursor[i].second == cursor[i - 1].second ? run + 1 : 0;
        if (run > longest && cursor[i].second > first + kRate / 2 && cursor[i].second < end)
            longest = run, stoodAt = cursor[i].second;
    }
    ASSERT_GT(stoodAt, 0) << "the output never stalled";
    // The tail was heard to the phrase's last sample, and the phrase went on
    // where it had stood.
    long tailOffset = Locate(last - 300 * kMs, end - 1 - 300 * kMs);
    EXPECT_NEAR(static_cast<long>(last) + tailOffset, end - 1, 20 * kMs * kSlack);
    long resumed = stoodAt + 20 * kMs;
    auto there = BestMatch(file, heard, static_cast<std::size_t>(resumed - tailOffset), 200 * kMs,
                           resumed - 5 * kMs * kSlack, resumed + 5 * kMs * kSlack);
    EXPECT_GT(there.score, 0.8) << "the phrase did not go on where it had stalled";
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
        ASSERT_TRUE(Eventually([&] { return rebuilding.load(); }, 10s)) << "no rebuild";
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
// event, once, every later call returns, and the next load plays again.
TEST_F(PlaybackTest, ServerThatGoesAwayEndsThePlaybackWithAnError) {
    source.ReleaseGraph();
    {
        PulseServer doomed(0, false);
        ASSERT_TRUE(doomed.Running()) << doomed.Error();
        SourceData other;
        ASSERT_TRUE(other.LoadFile(WidenUtf8(path).c_str()));
        other.selectionStart = kRate / 2;
        other.selectionEnd = 4 * kRate;
        other.PlaySelection(true);
        ASSERT_TRUE(Eventually(
            [&] { return !other.UpdateSelectionPlayback() || other.cursorSample >= kRate; }));
        ::kill(doomed.Pid(), SIGKILL);
        EXPECT_TRUE(Eventually([&] {
            other.UpdateSelectionPlayback();
            return other.TakePlaybackError();
        })) << "no EC_ERRORABORT after the server went away";
        EXPECT_FALSE(GetLastErrorText().empty());
        std::int32_t stood = other.cursorSample;
        other.UpdateSelectionPlayback();
        EXPECT_EQ(other.cursorSample, stood);
        EXPECT_FALSE(other.TakePlaybackError());
        other.PlaySelection(false);
        other.PlaySelection(true);
        other.Play(false);
        other.ReleaseGraph();
    }
    // The test's own server is still there for the next load.
    source.Clear();
    ASSERT_TRUE(source.LoadFile(WidenUtf8(path).c_str()));
}

}  // namespace
