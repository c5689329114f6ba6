#include "editing/ClipGeometry.h"

#include <QStringList>
#include <cmath>

namespace ClipGeometry {

int TimeToHandleX(int64_t t, int64_t d, int w) {
    if (d <= 0)
        return Origin;
    return static_cast<int>(int64_t(w) * (1000 * t / d) / 1000 + Origin);
}

int SliderToHandleX(int v, int w) {
    return w * v / 1000 + Origin;
}

int64_t HandleXToSeekTime(int x, int64_t d, int w) {
    if (w <= 0)
        return 0;
    const auto r = static_cast<int64_t>(std::nearbyint(double(x - Origin) * 1000.0 / double(w)));
    return d * r / 1000;
}

int64_t SliderToSeekTime(int v, int64_t d) {
    return d * v / SliderMax;
}

int SliderValueForPts(int64_t pts, int64_t d) {
    if (pts < 0 || d <= 0)
        return -1;
    return static_cast<int>(pts * SliderMax / d);
}

TTrimmedLine TrimmedLine(int leftX, int rightX) {
    TTrimmedLine line;
    line.Left = leftX + HandleWidth / 2 + 6;
    line.Width = rightX + HandleWidth / 2 - line.Left - 6;
    return line;
}

bool LeftHandleMoveAllowed(int newX, int rightX, int w) {
    return newX < rightX && newX > Origin && newX < w + Origin;
}

bool RightHandleMoveAllowed(int newX, int leftX, int w) {
    return newX > leftX && newX > Origin && newX < w + Origin;
}

std::optional<int64_t> TimeToMicroseconds(const QString& text, QString* error) {
    const QStringList parts = text.split(QLatin1Char(':'));
    int values[3] = {0, 0, 0};
    bool ok = parts.size() == 3;
    for (int i = 0; ok && i < 3; ++i) {
        const QString part = parts[i].trimmed();
        values[i] = part.toInt(&ok);
        ok = ok && !part.isEmpty() && !part.startsWith(QLatin1Char('-')) &&
             !part.startsWith(QLatin1Char('+'));
    }
    ok = ok && values[0] <= 23 && values[1] <= 59 && values[2] <= 59;
    if (!ok) {
        if (error)
            *error = QStringLiteral("'%1' is not a valid time").arg(text);
        return std::nullopt;
    }
    const int64_t ms =
        int64_t(values[0]) * 3600000 + int64_t(values[1]) * 60000 + int64_t(values[2]) * 1000;
    return ms * 1000;
}

} // namespace ClipGeometry
