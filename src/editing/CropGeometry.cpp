#include "editing/CropGeometry.h"

#include <cmath>
#include <limits>

namespace CropGeometry {

QPoint& THandles::At(THandle h) {
    switch (h) {
    case THandle::LeftTop:
        return LeftTop;
    case THandle::TopMiddle:
        return TopMiddle;
    case THandle::RightTop:
        return RightTop;
    case THandle::RightMiddle:
        return RightMiddle;
    case THandle::RightBottom:
        return RightBottom;
    case THandle::BottomMiddle:
        return BottomMiddle;
    case THandle::LeftBottom:
        return LeftBottom;
    case THandle::LeftMiddle:
        break;
    }
    return LeftMiddle;
}

float AspectValue(int index) {
    switch (index) {
    case 1:
        return -1.0f;
    case 2:
        return 4.0f / 3.0f;
    case 3:
        return 16.0f / 9.0f;
    case 4:
        return 1.85f;
    case 5:
        return 2.35f;
    default:
        return 0.0f;
    }
}

QString AspectItemText(int index) {
    static const char* const texts[AspectItemCount] = {"Keep Original", "Scal to fit", "4:3",
                                                       "16:9",          "1.85:1",      "2.35:1"};
    return index >= 0 && index < AspectItemCount ? QString::fromLatin1(texts[index]) : QString();
}

namespace {
std::optional<int> ToInt32(double v) {
    const double r = NearestEven(v);
    if (!std::isfinite(r) || r < std::numeric_limits<int>::min() ||
        r > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(r);
}
} // namespace

std::optional<QPoint> HandleForSourcePoint(const TDisplayFit& fit, double x, double y) {
    if (!fit.Valid)
        return std::nullopt;
    const auto sx = ToInt32(fit.ShownX(x));
    const auto sy = ToInt32(fit.ShownY(y));
    if (!sx || !sy || *sx < std::numeric_limits<int>::min() + HandleOffset ||
        *sy < std::numeric_limits<int>::min() + HandleOffset)
        return std::nullopt;
    return QPoint(*sx - HandleOffset, *sy - HandleOffset);
}

void RecomputeMiddles(THandles& h) {
    h.LeftMiddle = QPoint(h.LeftTop.x(), h.LeftTop.y() + (h.LeftBottom.y() - h.LeftTop.y()) / 2);
    h.TopMiddle = QPoint(h.LeftTop.x() + (h.RightTop.x() - h.LeftTop.x()) / 2, h.LeftTop.y());
    h.BottomMiddle =
        QPoint(h.LeftBottom.x() + (h.RightBottom.x() - h.LeftBottom.x()) / 2, h.LeftBottom.y());
    h.RightMiddle =
        QPoint(h.RightTop.x(), h.RightTop.y() + (h.RightBottom.y() - h.RightTop.y()) / 2);
}

THandles HandlesFromCorners(QPoint leftTop, QPoint rightBottom) {
    THandles h;
    h.LeftTop = leftTop;
    h.RightBottom = rightBottom;
    h.LeftBottom = QPoint(leftTop.x(), rightBottom.y());
    h.RightTop = QPoint(rightBottom.x(), leftTop.y());
    RecomputeMiddles(h);
    return h;
}

bool DragHandle(THandles& h, THandle handle, QPoint c) {
    const int x = c.x(), y = c.y();
    switch (handle) {
    case THandle::LeftTop:
        if (!(x < h.RightBottom.x() && y < h.RightBottom.y()))
            return false;
        h.LeftTop = c;
        h.LeftBottom.setX(x);
        h.RightTop.setY(y);
        break;
    case THandle::RightBottom:
        if (!(x > h.LeftTop.x() && y > h.LeftTop.y()))
            return false;
        h.RightBottom = c;
        h.LeftBottom.setY(y);
        h.RightTop.setX(x);
        break;
    case THandle::LeftBottom:
        if (!(x < h.RightTop.x() && y > h.RightTop.y()))
            return false;
        h.LeftBottom = c;
        h.LeftTop.setX(x);
        h.RightBottom.setY(y);
        break;
    case THandle::RightTop:
        if (!(x > h.LeftBottom.x() && y < h.LeftBottom.y()))
            return false;
        h.RightTop = c;
        h.LeftTop.setY(y);
        h.RightBottom.setX(x);
        break;
    case THandle::TopMiddle:
        if (!(y < h.BottomMiddle.y()))
            return false;
        h.TopMiddle.setY(y);
        h.LeftTop.setY(y);
        h.RightTop.setY(y);
        break;
    case THandle::BottomMiddle:
        if (!(y > h.TopMiddle.y()))
            return false;
        h.BottomMiddle.setY(y);
        h.LeftBottom.setY(y);
        h.RightBottom.setY(y);
        break;
    case THandle::LeftMiddle:
        if (!(x < h.RightMiddle.x()))
            return false;
        h.LeftMiddle.setX(x);
        h.LeftTop.setX(x);
        h.LeftBottom.setX(x);
        break;
    case THandle::RightMiddle:
        if (!(x > h.LeftMiddle.x()))
            return false;
        h.RightMiddle.setX(x);
        h.RightTop.setX(x);
        h.RightBottom.setX(x);
        break;
    }
    RecomputeMiddles(h);
    return true;
}

std::optional<TSourceRect> SourceRectFromHandles(const TDisplayFit& fit, QPoint leftTop,
                                                 QPoint rightBottom) {
    if (!fit.Valid)
        return std::nullopt;
    const auto l = ToInt32(fit.SourceX(double(leftTop.x()) + HandleOffset));
    const auto t = ToInt32(fit.SourceY(double(leftTop.y()) + HandleOffset));
    const auto r = ToInt32(fit.SourceX(double(rightBottom.x()) + HandleOffset));
    const auto b = ToInt32(fit.SourceY(double(rightBottom.y()) + HandleOffset));
    if (!l || !t || !r || !b)
        return std::nullopt;
    return TSourceRect{*l, *t, *r, *b};
}

} // namespace CropGeometry
