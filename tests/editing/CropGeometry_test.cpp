// Display fitting and handle geometry of the crop dialog.
#include "editing/CropGeometry.h"

#include <gtest/gtest.h>

using namespace CropGeometry;

TEST(CropGeometry, DisplayFitCases) {
    struct TCase {
        int W, H;
        float A;
        bool HeightFitted;
        double ShownWidth, ShownHeight, Ox, Oy;
    };
    const TCase cases[] = {
        // 720 x 576 at its own ratio: s = 271 / 576, 338.75 wide, centred at 61.125.
        {720, 576, 0, true, 338.75, 271, 61.125, 0},
        // 1920 x 800: width-fitted, s = 461 / 1920.
        {1920, 800, 0, false, 461, 800 * 461.0 / 1920, 0, (271 - 800 * 461.0 / 1920) / 2},
        // "Scal to fit": always height-fitted, the whole panel (L = nearest(979.85) = 980).
        {720, 576, -1, true, 980 * 271.0 / 576, 271, (461 - 980 * 271.0 / 576) / 2, 0},
        {1920, 800, -1, true, 1361 * 271.0 / 800, 271, (461 - 1361 * 271.0 / 800) / 2,
         0}, // L = nearest(1360.89)
        // 4:3 of 720 x 576: L = nearest(576 * 1.33333337) = 768.
        {720, 576, 4.0f / 3.0f, true, 768 * 271.0 / 576, 271, (461 - 768 * 271.0 / 576) / 2, 0},
        // 2.35:1 is wider than the panel: width-fitted, L = nearest(720 / 2.35) = 306.
        {720, 576, 2.35f, false, 461, 306 * 461.0 / 720, 0, (271 - 306 * 461.0 / 720) / 2},
    };
    for (const TCase& c : cases) {
        const TDisplayFit fit = ComputeDisplayFit(c.W, c.H, c.A, 461, 271);
        ASSERT_TRUE(fit.Valid);
        EXPECT_EQ(fit.HeightFitted, c.HeightFitted) << c.W << "x" << c.H << " " << c.A;
        EXPECT_NEAR(fit.ShownWidth, c.ShownWidth, 1e-9) << c.W << "x" << c.H << " " << c.A;
        EXPECT_NEAR(fit.ShownHeight, c.ShownHeight, 1e-9) << c.W << "x" << c.H << " " << c.A;
        EXPECT_NEAR(fit.Ox, c.Ox, 1e-9) << c.W << "x" << c.H << " " << c.A;
        EXPECT_NEAR(fit.Oy, c.Oy, 1e-9) << c.W << "x" << c.H << " " << c.A;
        // The whole frame maps onto the shown picture.
        EXPECT_NEAR(fit.ShownX(c.W), fit.Ox + fit.ShownWidth, 0.6);
        EXPECT_NEAR(fit.ShownY(c.H), fit.Oy + fit.ShownHeight, 0.6);
    }
    EXPECT_NEAR(ComputeDisplayFit(1920, 800, 0, 461, 271).Oy, 39.458, 0.001);
    EXPECT_NEAR(ComputeDisplayFit(720, 576, -1, 461, 271).Ox, 0, 0.05);
    EXPECT_FALSE(ComputeDisplayFit(0, 0, 0, 461, 271).Valid);
    EXPECT_FALSE(ComputeDisplayFit(720, 576, 0, 0, 271).Valid);
}

TEST(CropGeometry, FieldsToHandlesAndBack) {
    const TDisplayFit fit = ComputeDisplayFit(720, 576, 0, 461, 271);
    EXPECT_EQ(HandleForSourcePoint(fit, 0, 0), QPoint(57, -4));
    EXPECT_EQ(HandleForSourcePoint(fit, 720, 576), QPoint(396, 267));
    const THandles h = HandlesFromCorners(QPoint(57, -4), QPoint(396, 267));
    EXPECT_EQ(h.LeftBottom, QPoint(57, 267));
    EXPECT_EQ(h.RightTop, QPoint(396, -4));
    EXPECT_EQ(h.LeftMiddle, QPoint(57, -4 + 271 / 2));
    EXPECT_EQ(h.TopMiddle, QPoint(57 + 339 / 2, -4));
    EXPECT_EQ(h.BottomMiddle, QPoint(226, 267));
    EXPECT_EQ(h.RightMiddle, QPoint(396, 131));
    // Back to source pixels: (61 - 61.125) / (271 / 576) rounds to 0.
    EXPECT_EQ(SourceRectFromHandles(fit, h.LeftTop, h.RightBottom), (TSourceRect{0, 0, 720, 576}));
    // Round trips of whole source pixels are stable for a width-fitted source as well.
    const TDisplayFit wide = ComputeDisplayFit(1920, 800, 0, 461, 271);
    const auto lt = HandleForSourcePoint(wide, 100, 50);
    const auto rb = HandleForSourcePoint(wide, 1800, 700);
    ASSERT_TRUE(lt && rb);
    const auto back = SourceRectFromHandles(wide, *lt, *rb);
    ASSERT_TRUE(back);
    EXPECT_NEAR(back->Left, 100, 3);
    EXPECT_NEAR(back->Bottom, 700, 3);
    // Middles halve toward zero.
    EXPECT_EQ(HandlesFromCorners(QPoint(-9, -4), QPoint(-2, -1)).LeftMiddle, QPoint(-9, -3));
    EXPECT_EQ(HandlesFromCorners(QPoint(-9, -4), QPoint(-2, -1)).TopMiddle, QPoint(-6, -4));
    // Values beyond 32 bits fail instead of wrapping.
    EXPECT_FALSE(HandleForSourcePoint(fit, 1e12, 0));
    EXPECT_FALSE(HandleForSourcePoint(ComputeDisplayFit(0, 0, 0, 461, 271), 0, 0));
}

TEST(CropGeometry, DragTable) {
    const THandles start = HandlesFromCorners(QPoint(100, 50), QPoint(300, 200));
    struct TCase {
        THandle Handle;
        QPoint Candidate;
        bool Taken;
        QPoint LeftTop, RightBottom;
    };
    const TCase cases[] = {
        {THandle::LeftTop, {120, 60}, true, {120, 60}, {300, 200}},
        {THandle::LeftTop, {300, 60}, false, {100, 50}, {300, 200}},
        {THandle::LeftTop, {-40, 60}, true, {-40, 60}, {300, 200}}, // left of the picture: taken
        {THandle::RightBottom, {250, 180}, true, {100, 50}, {250, 180}},
        {THandle::RightBottom, {250, 50}, false, {100, 50}, {300, 200}},
        {THandle::LeftBottom, {110, 190}, true, {110, 50}, {300, 190}},
        {THandle::LeftBottom, {110, 50}, false, {100, 50}, {300, 200}},
        {THandle::RightTop, {280, 70}, true, {100, 70}, {280, 200}},
        {THandle::RightTop, {100, 70}, false, {100, 50}, {300, 200}},
        {THandle::TopMiddle, {200, 80}, true, {100, 80}, {300, 200}},
        {THandle::TopMiddle, {200, 200}, false, {100, 50}, {300, 200}},
        {THandle::BottomMiddle, {200, 150}, true, {100, 50}, {300, 150}},
        {THandle::BottomMiddle, {200, 50}, false, {100, 50}, {300, 200}},
        {THandle::LeftMiddle, {150, 125}, true, {150, 50}, {300, 200}},
        {THandle::LeftMiddle, {301, 125}, false, {100, 50}, {300, 200}},
        {THandle::RightMiddle, {260, 125}, true, {100, 50}, {260, 200}},
        {THandle::RightMiddle, {100, 125}, false, {100, 50}, {300, 200}},
    };
    for (const TCase& c : cases) {
        THandles h = start;
        EXPECT_EQ(DragHandle(h, c.Handle, c.Candidate), c.Taken) << int(c.Handle);
        EXPECT_EQ(h.LeftTop, c.LeftTop) << int(c.Handle);
        EXPECT_EQ(h.RightBottom, c.RightBottom) << int(c.Handle);
        // Whatever moved, the other six follow the two defining handles.
        EXPECT_EQ(h, HandlesFromCorners(h.LeftTop, h.RightBottom)) << int(c.Handle);
    }
}

TEST(CropGeometry, AspectItems) {
    EXPECT_EQ(AspectValue(0), 0.0f);
    EXPECT_EQ(AspectValue(1), -1.0f);
    EXPECT_FLOAT_EQ(AspectValue(2), 1.33333337f);
    EXPECT_FLOAT_EQ(AspectValue(3), 1.77777779f);
    EXPECT_FLOAT_EQ(AspectValue(4), 1.85000002f);
    EXPECT_FLOAT_EQ(AspectValue(5), 2.34999990f);
    EXPECT_EQ(AspectValue(6), 0.0f);
    EXPECT_EQ(AspectValue(-1), 0.0f);
    EXPECT_EQ(AspectItemText(1), QStringLiteral("Scal to fit"));
}
