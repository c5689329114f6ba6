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

#include "project/Settings.h"

TEST(SpeedList, EntriesFromTheDrive) {
    // A DVD writer of 16x that sets every speed asked for, rounded down to whole KB/s multiples of 8x steps.
    QList<int> requests;
    const QStringList dvd = SpeedListEntries(10, 22160, [&requests](int request) {
        requests << request;
        return request >= 11080 ? (request / 2770) * 2770 : request;
    });
    EXPECT_EQ(requests.first(), 22160);
    EXPECT_EQ(requests.last(), 1385);
    EXPECT_EQ(requests.size(), 16);
    ASSERT_FALSE(dvd.isEmpty());
    EXPECT_EQ(dvd.first(), QStringLiteral("16x (22,160 KB/s)"));
    EXPECT_TRUE(dvd.contains(QStringLiteral("8x (11,080 KB/s)")));
    EXPECT_EQ(dvd.last(), QStringLiteral("1x (1,385 KB/s)"));
    EXPECT_EQ(QStringList(dvd).removeDuplicates(), 0);
    // A drive that only knows two speeds gives two entries.
    const QStringList two = SpeedListEntries(10, 11080, [](int request) { return request > 5540 ? 11080 : 5540; });
    EXPECT_EQ(two, (QStringList{QStringLiteral("8x (11,080 KB/s)"), QStringLiteral("4x (5,540 KB/s)")}));
    // CDs count in 176.46 KB/s, Blu-ray in 4495.5 KB/s; requests past 16 bits are skipped.
    EXPECT_EQ(SpeedUnit(1), 176.46);
    EXPECT_EQ(SpeedUnit(15), 4495.5);
    const QStringList bd = SpeedListEntries(15, 4495 * 16, [](int r) { return r; });
    EXPECT_EQ(bd.first(), QStringLiteral("14x (62,937 KB/s)"));
}
