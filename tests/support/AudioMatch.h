#pragma once
// Comparing what a test heard with what it played: sample conversion, the loud
// part of a recording, levels, and where a piece of a recording lies in the
// source (best normalised cross-correlation).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace audio_match {

inline std::vector<float> ToFloat(const std::vector<std::int16_t>& samples) {
    return {samples.begin(), samples.end()};
}

// The first channel of interleaved samples, averaged in pairs: a 44.1 kHz
// recording brought to the 22,050 Hz of espeak-ng's speech.
inline std::vector<float> HalfRateMono(const std::vector<std::int16_t>& interleaved, int channels) {
    std::vector<float> out;
    auto step = static_cast<std::size_t>(channels);
    out.reserve(interleaved.size() / (2 * step));
    for (std::size_t i = 0; i + step < interleaved.size(); i += 2 * step)
        out.push_back((static_cast<float>(interleaved[i]) + interleaved[i + step]) / 2);
    return out;
}

// The first and last index whose magnitude reaches `level`.
inline std::optional<std::pair<std::size_t, std::size_t>> LoudSpan(const std::vector<float>& s,
                                                                   float level) {
    auto loud = [level](float v) { return std::fabs(v) >= level; };
    auto first = std::find_if(s.begin(), s.end(), loud);
    if (first == s.end())
        return std::nullopt;
    auto last = std::find_if(s.rbegin(), s.rend(), loud);
    return std::make_pair(static_cast<std::size_t>(first - s.begin()),
                          static_cast<std::size_t>(s.rend() - last - 1));
}

inline float Peak(const std::vector<float>& s) {
    float peak = 0;
    for (float v : s)
        peak = std::max(peak, std::fabs(v));
    return peak;
}

// The root mean square of samples [from, to).
inline double Rms(const std::vector<float>& s, std::size_t from, std::size_t to) {
    to = std::min(to, s.size());
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0;
}

struct Match {
    long offset = -1;  // where in the source the piece starts
    double score = 0;  // normalised correlation, 1 for a perfect match
};

// Where the `length` samples of `recording` from `at` lie in `source`,
// searching source offsets lo..hi.
inline Match BestMatch(const std::vector<float>& source, const std::vector<float>& recording,
                       std::size_t at, std::size_t length, long lo = 0, long hi = -1) {
    Match best;
    if (at + length > recording.size() || length == 0 || length > source.size())
        return best;
    long last = static_cast<long>(source.size() - length);
    if (hi < 0 || hi > last)
        hi = last;
    lo = std::max(lo, 0L);
    const float* piece = recording.data() + at;
    double pieceEnergy = 0;
    for (std::size_t k = 0; k < length; ++k)
        pieceEnergy += static_cast<double>(piece[k]) * piece[k];
    for (long offset = lo; offset <= hi; ++offset) {
        const float* candidate = source.data() + offset;
        double dot = 0;
        double energy = 0;
        for (std::size_t k = 0; k < length; ++k) {
            dot += static_cast<double>(piece[k]) * candidate[k];
            energy += static_cast<double>(candidate[k]) * candidate[k];
        }
        double score = energy > 0 && pieceEnergy > 0 ? dot / std::sqrt(energy * pieceEnergy) : 0;
        if (score > best.score)
            best = {offset, score};
    }
    return best;
}

}  // namespace audio_match
