#include "TimeAxis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace {

// Far beyond any recording, and small enough that the hours fit a long long.
constexpr double kLongestTime = 1e15;

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
    const auto h = static_cast<long long>(t / 3600.0);
    double r = t - static_cast<double>(h) * 3600.0;
    const int m = static_cast<int>(r / 60.0);
    r -= m * 60.0;
    const int s = static_cast<int>(r);
    wchar_t buffer[40];
    if (hundredths) {
        const int c = static_cast<int>((r - s) * 100.0);
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
    // One label per two label widths.
    const double interval = 2.0 * labelWidth8 * secondsPerPixel;
    const bool hundredths = interval < 1.0;
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
