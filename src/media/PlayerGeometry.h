#pragma once
// How a picture of W x H source pixels is fitted and centred into a render area of PW x PH
// pixels for a display aspect value A (0: the video's own ratio, -1: stretched to fill the
// area, above 1: that width-to-height ratio). The player draws with it and the crop dialog
// maps its handles with it, so both always agree on where a source pixel lands.
#include <cmath>
#include <cstdint>

struct TDisplayFit {
    bool Valid = false;        // false when W, H, PW or PH is not positive
    bool HeightFitted = false; // the picture fills the area's height
    double K = 1;              // horizontal stretch of a source pixel against its height
    double S = 1;              // scale from source to area pixels
    double L = 0; // shown length (width when height-fitted, height otherwise) in source units
    double Ox = 0, Oy = 0; // offset of the picture inside the area
    double Sx = 1, Sy = 1; // horizontal and vertical scales of a source pixel
    double ShownWidth = 0, ShownHeight = 0;

    double ShownX(double x) const { return x * Sx + Ox; }
    double ShownY(double y) const { return y * Sy + Oy; }
    double SourceX(double shownX) const { return (shownX - Ox) / Sx; }
    double SourceY(double shownY) const { return (shownY - Oy) / Sy; }
};

TDisplayFit ComputeDisplayFit(int w, int h, double aspect, int pw, int ph);

// Rounds to the nearest integer, ties to even (the rounding the program uses everywhere).
inline double NearestEven(double v) {
    return std::nearbyint(v); // the default floating point environment rounds ties to even
}
