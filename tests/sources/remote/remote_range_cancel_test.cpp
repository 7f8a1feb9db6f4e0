// A TIFF read by range requests: a block fetch under way stops as soon as no read waits for it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "gl_test_environment.h"
#include "remote_reading.h"
#include "view_drawing.h"

namespace remote_test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class RemoteTiffView : public zelvan_test::GlTest {};

TEST_F(RemoteTiffView, CancelledReadStopsItsBlockFetchAtOnce) {
    if (!servers().missing.empty()) GTEST_SKIP() << servers().missing;
    servers().setRules("");
    std::string error;
    auto source = openPicture(servers().proxied("pyramid.tif"), testOptions(), error);
    ASSERT_TRUE(source) << error;
    auto view = std::make_unique<zelvan::TileView>(*source);
    ASSERT_TRUE(*view);
    const zelvan::Placement small = at(1.0 / 8, 750, 550);  // the whole picture, at its coarsest level
    view->place(small);
    ASSERT_TRUE(drawFor(*view, milliseconds(5000), [&] { return view->stats().complete; }));
    // The next block asked for, one of level 0's, stalls half way, and would hold its reads for the
    // whole 1.5 s timeout.
    servers().setRules("/pyramid.tif stall 1\n");
    view->place(at(1, 256, 256));
    ASSERT_TRUE(drawFor(*view, milliseconds(5000), [&] {
        return count(servers().log(), "/pyramid.tif stall") > 0 && source->transfers().requestsInFlight > 0;
    }));

    const auto moved = steady_clock::now();
    view->place(small);  // level 0 no longer wanted
    const bool gone =
        drawFor(*view, milliseconds(3000), [&] { return count(servers().log(), "gone /pyramid.tif") > 0; });
    EXPECT_GE(view->stats().readsCancelled, 1u);
    view.reset();  // waits for its reads to return
    const auto took = steady_clock::now() - moved;
    EXPECT_TRUE(gone) << servers().log();
    EXPECT_LT(took, milliseconds(800));
    EXPECT_GE(source->transfers().cancelled, 1u);
    EXPECT_EQ(source->transfers().failed, 0u);
    EXPECT_EQ(source->lastError(), "");

    // The block was not kept half fetched: the whole level reads right.
    const Read again = readRect(*source, 0, 0, 0, kPictureWidth, kPictureHeight);
    ASSERT_TRUE(again.ok) << source->lastError();
    EXPECT_EQ(largestDifference(again, 0, 0, 0, kPictureWidth, kPictureHeight), 0);
}

}  // namespace
}  // namespace remote_test
