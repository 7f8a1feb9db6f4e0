// The viewer's pan, zoom and turn: what stays put under the cursor, and what moves.
#include "view_state.h"

#include <gtest/gtest.h>

using namespace zelvan_demo;

namespace {

constexpr std::uint32_t kWidth = 1000, kHeight = 500;

void expectSamePoint(ImagePoint a, ImagePoint b) {
    EXPECT_NEAR(a.x, b.x, 1e-6);
    EXPECT_NEAR(a.y, b.y, 1e-6);
}

zelvan::Placement turnedView() {
    zelvan::Placement view = zelvan::fit(kWidth, kHeight, 800, 600);
    view.rotateZ = 30;
    return view;
}

TEST(ViewState, FitShowsTheWholeImageCentredAcrossTheNarrowerSide) {
    const zelvan::Placement view = zelvan::fit(kWidth, kHeight, 800, 600);
    expectSamePoint(imagePointAt(view, kWidth, kHeight, 0, 300), {0, 250});       // left edge, middle
    expectSamePoint(imagePointAt(view, kWidth, kHeight, 800, 300), {1000, 250});  // right edge
    expectSamePoint(imagePointAt(view, kWidth, kHeight, 400, 500),
                    {500, 0});  // top row, 100 px below the top
}

TEST(ViewState, ZoomKeepsTheImagePointUnderTheCursor) {
    for (const double factor : {2.0, 0.3, 1e9, 1e-9}) {
        zelvan::Placement view = turnedView();
        const ImagePoint before = imagePointAt(view, kWidth, kHeight, 123, 456);
        zoomAbout(view, 123, 456, factor);
        expectSamePoint(imagePointAt(view, kWidth, kHeight, 123, 456), before);
        EXPECT_GE(view.scaleX, kMinZoom);
        EXPECT_LE(view.scaleX, kMaxZoom);
        EXPECT_EQ(view.scaleX, view.scaleY);
    }
}

TEST(ViewState, TurnKeepsThePivotAndTurnsEverythingElseAboutIt) {
    zelvan::Placement view = turnedView();
    const ImagePoint pivot = imagePointAt(view, kWidth, kHeight, 400, 100);
    const ImagePoint above = imagePointAt(view, kWidth, kHeight, 400, 150);
    turnAbout(view, 400, 100, 90);
    expectSamePoint(imagePointAt(view, kWidth, kHeight, 400, 100), pivot);
    // Turned a quarter counter-clockwise, what was 50 px above the pivot is now 50 px to its left.
    expectSamePoint(imagePointAt(view, kWidth, kHeight, 350, 100), above);
    EXPECT_NEAR(view.rotateZ, 120, 1e-9);
    for (int i = 0; i < 100; ++i) turnAbout(view, 400, 100, 15);  // 4.17 turns more
    EXPECT_GT(view.rotateZ, -180.0);
    EXPECT_LE(view.rotateZ, 180.0);
    EXPECT_NEAR(view.rotateZ, 180, 1e-6);
}

TEST(ViewState, PanMovesEveryImagePointByTheDrag) {
    zelvan::Placement view = turnedView();
    const ImagePoint a = imagePointAt(view, kWidth, kHeight, 10, 20),
                     b = imagePointAt(view, kWidth, kHeight, 700, 500);
    pan(view, 35, -12);
    expectSamePoint(imagePointAt(view, kWidth, kHeight, 45, 8), a);
    expectSamePoint(imagePointAt(view, kWidth, kHeight, 735, 488), b);
}

TEST(ViewState, OpacityStaysWithinItsRange) {
    zelvan::Placement view;
    changeOpacity(view, 16);
    EXPECT_EQ(view.alpha, 255);
    changeOpacity(view, -100);
    EXPECT_EQ(view.alpha, 155);
    changeOpacity(view, -1000);
    EXPECT_EQ(view.alpha, 0);
}

}  // namespace

namespace {

TEST(ScaleBar, ARoundLengthThatFits) {
    EXPECT_EQ(scaleBarFor(0.325, 256).label, "50 \u00b5m");  // 83.2 µm fit
    EXPECT_EQ(scaleBarFor(10, 250).label, "2 mm");
    EXPECT_EQ(scaleBarFor(0.001, 300).label, "0.2 \u00b5m");
    EXPECT_TRUE(scaleBarFor(0, 300).label.empty());  // no pixel size
}

}  // namespace
