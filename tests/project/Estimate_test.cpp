#include "project/Estimate.h"

#include <gtest/gtest.h>

namespace {
TVideoFile Title(int64_t microseconds) {
    TVideoFile f;
    f.TrimmedLength = microseconds;
    return f;
}
} // namespace

TEST(Estimate, SizesAndOverflow) {
    struct TCase {
        std::vector<int64_t> Lengths;
        int DiscType;
        int Size;
        int Overflow;
    } cases[] = {
        {{}, 0, 20, 0},
        {{60'000'000}, 0, 38, 0},
        {{60'900'000}, 0, 38, 0},           // whole seconds only
        {{256'000'000}, 0, 96, 0},          // 76.5 rounds to the even 76
        {{999'999}, 0, 20, 0},              // under a second adds nothing
        {{30'000'000}, 0, 29, 0},           // the 60 s title trimmed to 30 s
        {{60'000'000, 256'000'000}, 0, 114, 0},
    };
    for (const TCase& c : cases) {
        TVideoFiles files;
        for (int64_t l : c.Lengths)
            files << Title(l);
        const TEstimate e = EstimateOutputSize(files, c.DiscType);
        EXPECT_EQ(e.Size, c.Size) << c.Lengths.size() << " titles";
        EXPECT_EQ(e.Overflow, c.Overflow);
        EXPECT_FALSE(e.Failed);
    }
}

TEST(Estimate, OverflowFollowsDiscType) {
    // 4480 MB of titles plus 20: (4480 * 1024 / 306) seconds.
    const int64_t seconds = 4480LL * 1024 / 306;
    TVideoFiles files{Title(seconds * 1'000'000)};
    const TEstimate d5 = EstimateOutputSize(files, 0);
    ASSERT_EQ(d5.Size, 4500);
    EXPECT_EQ(d5.Overflow, 18);
    EXPECT_EQ(EstimateOutputSize(files, 1).Overflow, 0);
}

TEST(Estimate, DamagedTitleStopsTheSum) {
    TVideoFiles files{Title(60'000'000), Title(-5'000'000), Title(60'000'000)};
    const TEstimate e = EstimateOutputSize(files, 0);
    EXPECT_TRUE(e.Failed);
    EXPECT_EQ(e.Size, 38);
}

TEST(Estimate, RoundHalfEven) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(17.93), 18);
}
