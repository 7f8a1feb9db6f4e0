#pragma once
// A picture drawn through zelvan::TileView: each frame reads, on the view's workers, only the
// tiles of the levels it draws, keeping their textures within a budget, so that the first frame
// comes as soon for a picture of any size as for a small one.
#include <memory>
#include <string>

#include "shown_picture.h"
#include "zelvan_sources.hpp"
#include "zelvan_tiles.hpp"

namespace zelvan_demo {

class TiledPicture : public ShownPicture {
public:
    // Draws `source`'s levels as `options` say (textures within their budget). Throws DemoError
    // naming `name` when the view cannot start (its levels make no sense, no library instance).
    // `stillFrame`: only the finished frame is seen, so the first draw asks for every tile at once
    // instead of waiting for the one-tile level that keeps moving frames from being blank.
    TiledPicture(std::unique_ptr<zelvan::sources::PictureSource> source, const std::string& name,
                 const zelvan::TileViewOptions& options, bool stillFrame = false);

    std::uint32_t width() const override { return view_->width(); }
    std::uint32_t height() const override { return view_->height(); }
    void place(const zelvan::Placement& placement) override;
    const zelvan::Placement& placement() const override { return placement_; }
    void draw(int frameWidth, int frameHeight) override;
    // Tiles are read on the view's workers and uploaded as frames are drawn: nothing to load outside
    // drawing, false.
    bool loadSome(bool) override { return false; }
    // Through TileView::waitUntilComplete: blocks until every tile of the frame is in, nothing drawn.
    bool waitForStillFrame(int frameWidth, int frameHeight, std::chrono::milliseconds timeout) override;
    // Every tile the last frame wanted drawn, or given up, and no read under way.
    bool complete() const override;
    // "level 3, 12 reads pending": the finer level drawn, the reads while loading, the reads that
    // failed if any, and for a picture on a server the requests in flight and the bytes fetched.
    std::string status() const override;
    std::string failure() const override;
    // The view, for a picture of raw samples; null for one of colours.
    zelvan::TileView* channels() override;
    const zelvan::sources::PictureInfo* info() const override { return &source_->info(); }
    // Of the view shown and of a plane's still to come.
    void setPasses(int passes) override;
    // Through PictureSource::openPlane: nothing is opened again.
    bool showPlane(unsigned timePoint, unsigned depth, std::string& error) override;

private:
    // The next plane's view, once its coarsest level is in (or its reads were given up), in place of
    // the one drawn.
    void takeNextPlane();

    std::string name_;
    zelvan::TileViewOptions options_;
    std::unique_ptr<zelvan::sources::PictureSource> source_;
    std::unique_ptr<zelvan::TileView> view_;  // after the source it reads
    // Another plane being read while the one before is still drawn; null but while it is.
    std::unique_ptr<zelvan::sources::PictureSource> nextSource_;
    std::unique_ptr<zelvan::TileView> nextView_;
    zelvan::Placement placement_;
    bool waited_ = false;  // for the one-tile level, before the first frame
};

}  // namespace zelvan_demo
