#pragma once
// Expected size of the disc image, from the titles' trimmed lengths at fixed bit rates.
#include "project/VideoFile.h"

// Capacity in MB of 1,024,000 bytes, by position of the disc type choice.
inline constexpr int DiscCapacity[2] = {4482, 8500};
inline constexpr const char* DiscTypeItems[2] = {"D5    4.7G", "D9    8.5G"};

struct TEstimate {
    int Size = 20;     // MB, at least 20
    int Overflow = 0;  // MB above the capacity
    bool Failed = false;
};

// 250 kB/s of video and 56 kB/s of audio per whole second of title, in MB of 1024 kB rounded
// half to even, plus 20 MB.
TEstimate EstimateOutputSize(const TVideoFiles& files, int discType);

// Round half to even, as every rounding of the program does.
long long RoundHalfEven(double value);
