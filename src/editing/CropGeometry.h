#pragma once
// Geometry of the crop dialog: where the eight sizing handles stand for a rectangle of source
// pixels, how a dragged handle moves the others, and back from handles to source pixels. The
// picture's placement in the panel is the player's own (ComputeDisplayFit).
#include "media/PlayerGeometry.h"
#include <QPoint>
#include <QString>
#include <optional>

namespace CropGeometry {

// A handle is 8 x 9 pixels; the point it stands for is its left + 4, top + 4.
inline constexpr int HandleOffset = 4;
inline constexpr int AspectItemCount = 6;

enum class THandle {
    LeftTop,
    TopMiddle,
    RightTop,
    RightMiddle,
    RightBottom,
    BottomMiddle,
    LeftBottom,
    LeftMiddle
};

struct THandles {
    QPoint LeftTop, TopMiddle, RightTop, RightMiddle, RightBottom, BottomMiddle, LeftBottom,
        LeftMiddle;
    QPoint& At(THandle h);
    QPoint At(THandle h) const { return const_cast<THandles*>(this)->At(h); }
    bool operator==(const THandles&) const = default;
};

// The display aspect value the player is given for an aspect item (any other index: 0).
float AspectValue(int index);
QString AspectItemText(int index);

// Handle position (left, top) for a source point: nearest(shown) - 4. Nothing when a result
// leaves the 32-bit range or the fit is not valid.
std::optional<QPoint> HandleForSourcePoint(const TDisplayFit& fit, double x, double y);

// The six other handles from the two defining ones.
THandles HandlesFromCorners(QPoint leftTop, QPoint rightBottom);
// The four middles from the four corners (integer halves truncate toward zero).
void RecomputeMiddles(THandles& h);

// Applies a drag of one handle to candidate (only the axes the handle moves are taken). Returns
// false and changes nothing when the move would cross the opposite handle.
bool DragHandle(THandles& h, THandle handle, QPoint candidate);

struct TSourceRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool operator==(const TSourceRect&) const = default;
};
// The source rectangle the two defining handles stand for. Nothing when the fit is not valid or
// a value leaves the 32-bit range.
std::optional<TSourceRect> SourceRectFromHandles(const TDisplayFit& fit, QPoint leftTop,
                                                 QPoint rightBottom);

} // namespace CropGeometry
