#include "TimeAxis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace {

// Far beyond any recording, and small enough that the hours fit a long long.
constexpr double kLongestTime = 1e15;
constexpr double kHundredth = 0.01;

// Truncation toward zero, held far enough inside the int range that the tick
// arithmetic cannot overflow.
int TruncToColumn(double value) {
    constexpr double kFar = 1 << 28;
    if (std::isnan(value))
        return static_cast<int>(-kFar);
    return static_cast<int>(std::clamp(value, -kFar, kFar));
}

}  // namespace

std::wstring FormatTime(double t, bool hundredths) {
    if (!std::isfinite(t))
        return std::wstring();
    std::wstring text = t < 0 ? L"-" : L"";
    t = std::min(std::fabs(t), kLongestTime);
    // Truncated in whole units of the last field; a label time held a rounding error
    // short of its hundredth (0.29 s as 0.28999...) still reads as that hundredth.
    const double scale = hundredths ? 100.0 : 1.0;
    const auto units = static_cast<long long>(t * scale + 1e-6);
    const long long seconds = hundredths ? units / 100 : units;
    const long long h = seconds / 3600;
    const int m = static_cast<int>(seconds / 60 % 60);
    const int s = static_cast<int>(seconds % 60);
    wchar_t buffer[40];
    if (hundredths) {
        const int c = static_cast<int>(units % 100);
        std::swprintf(buffer, std::size(buffer), L"%.2lld:%.2d:%.2d,%2d", h, m, s, c);
    } else {
        std::swprintf(buffer, std::size(buffer), L"%.2lld:%.2d:%.2d", h, m, s);
    }
    return text + buffer;
}

std::vector<TimeTick> ComputeTimeTicks(double startSeconds, double spanSeconds, int stripWidth,
                                       int spanPixels, int labelWidth8, int labelWidth11) {
    std::vector<TimeTick> ticks;
    if (!(spanSeconds > 0.0) || !std::isfinite(spanSeconds) || !std::isfinite(startSeconds) ||
        spanPixels <= 0 || labelWidth8 <= 0 || labelWidth11 <= 0) {
        return ticks;
    }
    const double secondsPerPixel = spanSeconds / spanPixels;
    // One label per two label widths, but never closer than the hundredths the
    // labels show, or neighbours would read the same.
    const double labelSpacing = 2.0 * labelWidth8 * secondsPerPixel;
    const bool hundredths = labelSpacing < 1.0;
    const double interval = std::max(labelSpacing, kHundredth);
    const int half = (hundredths ? labelWidth11 : labelWidth8) / 2;
    const auto column = [&](double t) {
        return TruncToColumn((t - startSeconds) / secondsPerPixel) + 1;
    };

    double k = std::floor(startSeconds / interval);
    double t = k * interval;
    int x = column(t);
    while (x - half < stripWidth) {
        TimeTick tick{x, x - half, FormatTime(t, hundredths), {}};
        const int previous = x;
        k += 1.0;
        t = k * interval;
        x = column(t);
        const double step = (x - previous) * -0.2;
        for (int j = 1; j <= 4; ++j)
            tick.minorTicks[j - 1] = previous - static_cast<int>(j * step);
        ticks.push_back(std::move(tick));
        // Guards against times too large for the interval to move a label on.
        if (x <= previous)
            break;
    }
    return ticks;
}
