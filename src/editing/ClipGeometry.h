#pragma once
// Timeline arithmetic of the trim dialog. Handle positions are the handles' left edges; the
// timeline starts at x = 10 and is as long as the seek slider is wide (w).
#include <QString>
#include <cstdint>
#include <optional>

namespace ClipGeometry {

inline constexpr int Origin = 10;
inline constexpr int SliderMax = 1000;
inline constexpr int HandleWidth = 12;

// w * (1000 * t div d) div 1000 + 10 in 64 bits; a file without a known duration (d <= 0) has
// an empty timeline and every time lies at its origin.
int TimeToHandleX(int64_t t, int64_t d, int w);
// w * v div 1000 + 10.
int SliderToHandleX(int v, int w);
// d * r div 1000 with r = (x - 10) * 1000 / w rounded half to even.
int64_t HandleXToSeekTime(int x, int64_t d, int w);
// d * v div 1000.
int64_t SliderToSeekTime(int v, int64_t d);
// pts * 1000 div d; -1 when the slider must not move (d <= 0 or pts negative).
int SliderValueForPts(int64_t pts, int64_t d);

// The line between the handles: from the right edge of the left handle to the left edge of the
// right one. A width of zero or less shows nothing.
struct TTrimmedLine {
    int Left = 0;
    int Width = 0;
};
TTrimmedLine TrimmedLine(int leftX, int rightX);

// Whether a dragged handle may go to newX: not onto or past its partner, and strictly inside
// the timeline.
bool LeftHandleMoveAllowed(int newX, int rightX, int w);
bool RightHandleMoveAllowed(int newX, int leftX, int w);

// A typed "hh:mm:ss" time of day to microseconds; hours 0 to 23, minutes and seconds 0 to 59.
// On failure returns nothing and sets error to the message shown to the user.
std::optional<int64_t> TimeToMicroseconds(const QString& text, QString* error = nullptr);

} // namespace ClipGeometry
