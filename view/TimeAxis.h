#pragma once
// Labels and ticks of the time axis, worked out apart from any painting so that the
// rules can be checked without a window. Pure functions, any thread.
#include <array>
#include <string>
#include <vector>

// "hh:mm:ss", or "hh:mm:ss,cc" with the hundredths padded with a space, not a zero
// (1.05 s reads "00:00:01, 5"). Every field is truncated, never rounded. Hours take
// as many digits as they need ("123:04:05"); a negative time gets a leading '-'.
std::wstring FormatTime(double t, bool hundredths);

// One labelled major tick of the strip and the four minor ticks that follow it.
struct TimeTick {
    int x;          // strip column of the major tick
    int labelLeft;  // left edge of the label's text cell
    std::wstring label;
    std::array<int, 4> minorTicks;  // strip columns, left to right; may lie outside the strip
};

// The labels of a strip stripWidth pixels wide showing spanSeconds from
// startSeconds across spanPixels pixels. labelWidth8 and labelWidth11 are the text
// widths of "00:00:00" and "00:00:00,00". Labels stand two label widths apart at
// whole multiples of that interval, the first at or before the left edge (it may
// lie left of the strip); an interval below one second shows hundredths, and one
// below a hundredth is widened to a hundredth so that no two labels read the same.
// Each label sits one pixel right of its time's offset, over the waveform column
// showing that time (the waveform's columns start inside its one-pixel frame).
// Empty when there is no span or nothing to measure with.
std::vector<TimeTick> ComputeTimeTicks(double startSeconds, double spanSeconds, int stripWidth,
                                       int spanPixels, int labelWidth8, int labelWidth11);
