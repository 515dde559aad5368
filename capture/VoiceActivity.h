#pragma once
// The voice test's three-band splitter: a low and a high four-stage filter whose
// bands, with the middle band, add up to the input of three frames earlier.
#include <cmath>

struct BandSplitState {
    double lowCoefficient = 0;
    double low[4] = {};
    double highCoefficient = 0;
    double high[4] = {};
    double history[3] = {};  // newest first
    double lowGain = 1.0;
    double midGain = 1.0;
    double highGain = 1.0;

    BandSplitState(double sampleRate, double lowCrossover = 880.0, double highCrossover = 5000.0)
        : lowCoefficient(2.0 * std::sin(M_PI * lowCrossover / sampleRate)),
          highCoefficient(2.0 * std::sin(M_PI * highCrossover / sampleRate)) {}

    double Process(double x) {
        constexpr double vsa = 1.0 / 4294967295.0;
        low[0] += lowCoefficient * (x - low[0]) + vsa;
        for (int i = 1; i < 4; ++i)
            low[i] += lowCoefficient * (low[i - 1] - low[i]);
        double l = low[3];
        high[0] += highCoefficient * (x - high[0]) + vsa;
        for (int i = 1; i < 4; ++i)
            high[i] += highCoefficient * (high[i - 1] - high[i]);
        double h = history[2] - high[3];
        double m = history[2] - (h + l);
        history[2] = history[1];
        history[1] = history[0];
        history[0] = x;
        return l * lowGain + m * midGain + h * highGain;
    }
};
