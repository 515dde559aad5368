#include "PhraseFinder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// Seconds. A level covers a window long enough to span a voice's pitch period
// at most rates, so that voiced sound does not read as gaps between its pulses.
constexpr double kWindow = 0.010;
constexpr double kMinPause = 0.250;
constexpr double kMinSound = 0.050;  // a click or a breath, not a phrase
constexpr double kMargin = 0.040;
// A recording whose sound stays below this (about -66 dB of full scale) holds
// nothing to find.
constexpr int kSilent = 16;
constexpr std::size_t kFloorPercent = 5;
constexpr std::size_t kLoudPercent = 90;
// The threshold's bounds as factors: 9 dB above the floor, but no less than
// 50 dB and no more than 12 dB below the loud level.
constexpr double kAboveFloor = 2.8;
constexpr double kBelowLoud = 1 / 316.0;
constexpr double kNearLoud = 1 / 4.0;

// The value that `percent` of `values` lie below (the values are reordered).
int Percentile(std::vector<std::uint16_t>& values, std::size_t percent) {
    auto nth = values.begin() + static_cast<std::ptrdiff_t>(values.size() * percent / 100);
    std::nth_element(values.begin(), nth, values.end());
    return *nth;
}

// The level from which a window counts as sound; -1 when none does. The loud
// level is taken from the windows clearly above the floor only, so that a
// recording that is mostly pause still measures its speech.
double Threshold(std::vector<std::uint16_t> levels) {
    const int highest = *std::max_element(levels.begin(), levels.end());
    const int floor = Percentile(levels, kFloorPercent);
    std::erase_if(levels, [floor](std::uint16_t level) { return level <= 2 * floor; });
    const double loud = levels.empty() ? highest : Percentile(levels, kLoudPercent);
    if (loud < kSilent)
        return -1;
    // Close above the floor, as the quiet ends of words (a final "s") are not
    // far above it; never so close to the loud level that the quieter half of
    // speech reads as pause, and a recording without a floor of its own (a
    // tone, steady noise) is all sound.
    return std::clamp(kAboveFloor * floor, loud * kBelowLoud, loud * kNearLoud);
}

}  // namespace

std::vector<Phrase> FindPhrases(const std::uint16_t* blockMaxima, std::int64_t blocks,
                                std::int64_t blockSamples, int sampleRate,
                                std::int32_t sampleCount) {
    std::vector<Phrase> phrases;
    if (blocks <= 0 || blockSamples <= 0 || sampleRate <= 0 || sampleCount <= 0)
        return phrases;
    const std::int64_t windowBlocks = std::max<std::int64_t>(
        1, std::llround(kWindow * sampleRate / static_cast<double>(blockSamples)));
    const std::int64_t windowSamples = windowBlocks * blockSamples;
    std::vector<std::uint16_t> levels(static_cast<std::size_t>((blocks - 1) / windowBlocks + 1));
    for (std::int64_t b = 0; b < blocks; ++b) {
        std::uint16_t& level = levels[static_cast<std::size_t>(b / windowBlocks)];
        level = std::max(level, blockMaxima[b]);
    }
    const double threshold = Threshold(levels);
    if (threshold < 0)
        return phrases;

    auto windows = [&](double seconds) {
        return std::max<std::int64_t>(
            1, std::llround(seconds * sampleRate / static_cast<double>(windowSamples)));
    };
    const std::int64_t minPause = windows(kMinPause), minSound = windows(kMinSound);
    const auto margin = static_cast<std::int64_t>(kMargin * sampleRate);
    std::int64_t first = -1, last = -1;  // the sound windows of the phrase being found
    auto end = [&] {
        if (first < 0 || last - first + 1 < minSound)
            return;
        std::int64_t from = std::max<std::int64_t>(first * windowSamples - margin, 0);
        std::int64_t to = std::min<std::int64_t>((last + 1) * windowSamples + margin, sampleCount);
        if (from < to)
            phrases.push_back({static_cast<std::int32_t>(from), static_cast<std::int32_t>(to)});
    };
    for (std::int64_t w = 0; w < static_cast<std::int64_t>(levels.size()); ++w) {
        if (levels[static_cast<std::size_t>(w)] < threshold)
            continue;
        if (first >= 0 && w - last - 1 >= minPause) {
            end();
            first = -1;
        }
        if (first < 0)
            first = w;
        last = w;
    }
    end();
    return phrases;
}
