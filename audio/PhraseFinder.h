#pragma once
// The phrases of a recording: its spans of sound between pauses, found from the
// block maxima of its display file (PeakSummary), never from the samples.
//
// A pause is a stretch of at least a quarter of a second whose short-window
// peaks all stay below a threshold taken from the recording's own levels: a
// little above its floor (digital silence, room noise, a music bed), within
// bounds set by the level of its sound. So a noise floor does not join
// everything into one phrase, and a quiet speaker is measured against their own
// level.
#include <cstdint>
#include <vector>

struct Phrase {
    std::int32_t start;  // display-file samples, end exclusive
    std::int32_t end;
};

// The phrases in order, apart from each other, within [0, sampleCount), each
// widened by a few hundredths of a second so that a phrase played alone keeps
// its onset and tail. Bursts of sound too short to be speech are left out; a
// silent recording has no phrases, and one without a pause has one.
std::vector<Phrase> FindPhrases(const std::uint16_t* blockMaxima, std::int64_t blocks,
                                std::int64_t blockSamples, int sampleRate,
                                std::int32_t sampleCount);
