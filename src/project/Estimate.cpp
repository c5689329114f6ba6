#include "project/Estimate.h"

#include <cfenv>
#include <cmath>

long long RoundHalfEven(double value) {
    // nearbyint follows the current rounding mode, which is to-nearest-even unless changed.
    const int mode = std::fegetround();
    if (mode != FE_TONEAREST)
        std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(value);
    if (mode != FE_TONEAREST)
        std::fesetround(mode);
    return static_cast<long long>(r);
}

TEstimate EstimateOutputSize(const TVideoFiles& files, int discType) {
    TEstimate e;
    double total = 0;
    for (const TVideoFile& f : files) {
        const int64_t s = f.TrimmedLength / 1000000;
        if (s < 0) {
            // A negative length can only come from a damaged title; stop summing here.
            e.Failed = true;
            break;
        }
        total = total + static_cast<double>(s) * 250 + static_cast<double>(s) * 56;
    }
    e.Size = static_cast<int>(RoundHalfEven(total / 1024) + 20);
    const int capacity = DiscCapacity[discType == 1 ? 1 : 0];
    e.Overflow = capacity < e.Size ? e.Size - capacity : 0;
    return e;
}
