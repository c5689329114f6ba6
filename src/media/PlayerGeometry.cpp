#include "media/PlayerGeometry.h"

TDisplayFit ComputeDisplayFit(int w, int h, double aspect, int pw, int ph) {
    TDisplayFit fit;
    if (w <= 0 || h <= 0 || pw <= 0 || ph <= 0)
        return fit;
    const double W = w, H = h, PW = pw, PH = ph;
    const double F = W / H;
    const double A = aspect;
    // Any value that is neither 0, -1 nor above 1 is shown at the video's own ratio.
    const bool own = !(A == -1 || A > 1);
    double k = own ? 1 : A / F;
    fit.Valid = true;
    fit.HeightFitted = PW > W * (PH / H) * k;
    if (fit.HeightFitted) {
        if (own) {
            fit.L = W;
            k = 1;
        } else if (A == -1) {
            fit.L = NearestEven(H * PW / PH);
            k = (PW / PH) / F;
        } else {
            fit.L = NearestEven(H * A);
            k = A / F;
        }
        fit.S = PH / H;
        fit.ShownWidth = fit.L * fit.S;
        fit.ShownHeight = PH;
        fit.Ox = (PW - fit.L * fit.S) / 2;
        fit.Oy = 0;
        fit.Sx = fit.S * k;
        fit.Sy = fit.S;
    } else {
        if (own) {
            fit.L = H;
            k = 1;
        } else if (A == -1) {
            fit.L = NearestEven(W / (PW / PH));
            k = (PW / PH) / F;
        } else {
            fit.L = NearestEven(W / A);
            k = A / F;
        }
        fit.S = PW / W;
        fit.ShownWidth = PW;
        fit.ShownHeight = fit.L * fit.S;
        fit.Ox = 0;
        fit.Oy = (PH - fit.L * fit.S) / 2;
        fit.Sx = fit.S;
        fit.Sy = fit.S / k;
    }
    fit.K = k;
    return fit;
}
