// A TIFF read by range requests: a block fetch under way stops as soon as no read waits for it. The
// stalled fetch would wait 20 s for more bytes, far longer than the test: the proxy seeing the client
// leave with no transfer failed says the cancellation closed it, not the timeout.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "gl_test_environment.h"
#include "remote_reading.h"
#include "view_drawing.h"

namespace remote_test {
namespace {

using std::chrono::milliseconds;

class RemoteTiffView : public zelvan_test::GlTest {};

TEST_F(RemoteTiffView, CancelledReadStopsItsBlockFetchAtOnce) {
    if (!servers().missing.empty()) GTEST_SKIP() << servers().missing;
    servers().setRules("");
    std::string error;
    zelvan::sources::OpenOptions options = testOptions();
    options.timeout = std::chrono::seconds(20);
    auto source = openPicture(servers().proxied("pyramid.tif"), options, error);
    ASSERT_TRUE(source) << error;
    auto view = std::make_unique<zelvan::TileView>(*source);
    ASSERT_TRUE(*view);
    const zelvan::Placement small = at(1.0 / 8, 750, 550);  // the whole picture, at its coarsest level
    view->place(small);
    ASSERT_TRUE(drawFor(*view, milliseconds(60000), [&] { return view->stats().complete; }));
    // The next block asked for, one of level 0's, stalls half way, and would hold its reads for the
    // whole timeout.
    servers().setRules("/pyramid.tif stall 1\n");
    view->place(at(1, 256, 256));
    ASSERT_TRUE(drawFor(*view, milliseconds(60000), [&] {
        return count(servers().log(), "/pyramid.tif stall") > 0 && source->transfers().requestsInFlight > 0;
    }));

    view->place(small);  // level 0 no longer wanted
    const bool gone = drawFor(*view, milliseconds(60000), [&] {
        return count(servers().log(), "gone /pyramid.tif") > 0 && view->stats().readsCancelled >= 1;
    });
    EXPECT_TRUE(gone) << servers().log();
    EXPECT_GE(view->stats().readsCancelled, 1u);
    view.reset();  // waits for its reads to return
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
