#include "tiled_picture.h"

#include <chrono>
#include <cstdio>

#include "program.h"

namespace zelvan_demo {

namespace {

// Past this the first frames show the background while the coarsest tile comes.
constexpr std::chrono::milliseconds kFirstTileWait{500};

// The frame of a program that draws one unit per pixel from its bottom-left corner.
zelvan::Frame pixelFrame(int width, int height) { return {0, 0, double(width), double(height), 1}; }

}  // namespace

TiledPicture::TiledPicture(std::unique_ptr<zelvan::sources::PictureSource> source, const std::string& name,
                           const zelvan::TileViewOptions& options, bool stillFrame)
    : name_(name), options_(options), source_(std::move(source)), waited_(stillFrame) {
    view_ = std::make_unique<zelvan::TileView>(*source_, options);
    if (!*view_)
        throw DemoError(name + ": the tile view cannot show this picture (" +
                        zelvan::describe(view_->status()) + ")");
}

void TiledPicture::place(const zelvan::Placement& placement) {
    placement_ = placement;
    view_->place(placement);
    if (nextView_) nextView_->place(placement);
}

void TiledPicture::setPasses(int passes) {
    options_.passes = passes;
    view_->setPasses(passes);
    if (nextView_) nextView_->setPasses(passes);
}

bool TiledPicture::showPlane(unsigned timePoint, unsigned depth, std::string& error) {
    std::unique_ptr<zelvan::sources::PictureSource> source = source_->openPlane(timePoint, depth, error);
    if (!source) return false;
    auto view = std::make_unique<zelvan::TileView>(*source, options_);
    if (!*view) {
        error =
            std::string("the tile view cannot show this plane (") + zelvan::describe(view->status()) + ")";
        return false;
    }
    view->place(placement_);
    // Its coarsest level uploaded through the mapping shown, not the picture's own.
    if (channels() != nullptr) view->setMapping(view_->mapping());
    nextView_.reset();  // a plane asked for before, not shown yet, goes before its source
    nextSource_ = std::move(source);
    nextView_ = std::move(view);
    return true;
}

void TiledPicture::takeNextPlane() {
    // Polls: uploads what has come of the coarsest level, never waits.
    if (!nextView_->waitUntilReady(std::chrono::milliseconds(0)) && nextView_->stats().readsGivenUp == 0)
        return;
    // The mapping the user set since, up to this frame, goes on.
    if (channels() != nullptr) nextView_->setMapping(view_->mapping());
    view_ = std::move(nextView_);  // the old view goes before the source it reads
    source_ = std::move(nextSource_);
}

void TiledPicture::draw(int frameWidth, int frameHeight) {
    // Until the one-tile level is read (a few milliseconds) a frame would show nothing: the first one
    // waits for it.
    if (!waited_) view_->waitUntilReady(kFirstTileWait);
    waited_ = true;
    if (nextView_) takeNextPlane();
    view_->draw(pixelFrame(frameWidth, frameHeight));
}

bool TiledPicture::waitForStillFrame(int frameWidth, int frameHeight, std::chrono::milliseconds timeout) {
    return view_->waitUntilComplete(pixelFrame(frameWidth, frameHeight), timeout);
}

zelvan::TileView* TiledPicture::channels() {
    return view_->sampleLayout().type == zelvan::SampleType::Bgra8 ? nullptr : view_.get();
}

bool TiledPicture::complete() const {
    return !nextView_ && nothingMoreToCome(view_->stats());  // with a plane still to show, not yet
}

std::string TiledPicture::status() const {
    const zelvan::TileStats s = view_->stats();
    std::string text = "level " + std::to_string(s.level);
    if (!complete()) text += ", " + std::to_string(s.readsPending) + " reads pending";
    if (s.readsFailed > 0) text += ", " + std::to_string(s.readsFailed) + " reads of tiles failed";
    const zelvan::sources::TransferStats transfers = source_->transfers();
    if (transfers.requests > 0) {
        char fetched[64];
        std::snprintf(fetched, sizeof fetched, "%.1f MB fetched", double(transfers.bytesFetched) / 1e6);
        text += ", " + std::to_string(transfers.requestsInFlight) + " requests in flight, " + fetched;
    }
    return text;
}

std::string TiledPicture::failure() const {
    // Any failed read, not only a tile given up: a frame drawn after a read failed may show a
    // coarser level where that tile belongs.
    const std::uint64_t lost = view_->stats().readsFailed;
    if (lost == 0) return {};
    std::string reason = source_->lastError();
    for (char& c : reason)
        if (c == '\n' || c == '\r') c = ' ';  // one line, as the programs promise
    return name_ + ": " + std::to_string(lost) + (lost == 1 ? " read" : " reads") + " of tiles failed" +
           (reason.empty() ? "" : " (" + reason + ")");
}

}  // namespace zelvan_demo
