#pragma once
// Pictures side by side in panes that move together (zelvan-view --grid), as one compares a stained slide
// with its neighbour: the frame cut into panes (PaneGrid), pane k showing picture k, every pane through
// the same placement. The pictures are aligned by their top-left corners: the placement is that of a
// picture as wide as the widest and as high as the highest, and picture pixel (x, y) shows at the same
// place in every pane; a smaller picture ends earlier, the background beyond it. Each picture is a tile
// view in one scene (sheet_views.h): one texture budget and one pool of readers for all of them.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sheet_views.h"
#include "shown_picture.h"
#include "zelvan_sources.hpp"

namespace zelvan_demo {

class LinkedPanes : public ShownPicture {
public:
    // More pictures than this are a contact sheet's (zelvan-view --sheet), not panes'.
    static constexpr std::size_t kMaxPanes = 64;

    // The pictures `inputs` name (a folder standing for its pictures in name order, sheet_entries.h), each
    // opened now as `sources` says, its view in `views` (which outlives the panes); `columns` columns (at
    // most one a picture) and the rows they fill. A folder's files that are no pictures are skipped, and a
    // picture after the first that cannot be opened or shown leaves its pane empty, each told to `warn` in
    // one line. Throws DemoError (one line) when there is no picture, more than kMaxPanes, or the first
    // cannot be opened or shown. OpenGL: context current. Cost: each picture opened (its header read).
    LinkedPanes(SheetViews& views, const std::vector<std::string>& inputs, std::size_t columns,
                const zelvan::sources::OpenOptions& sources,
                const std::function<void(const std::string&)>& warn);
    LinkedPanes(const LinkedPanes&) = delete;
    LinkedPanes& operator=(const LinkedPanes&) = delete;

    // The widest picture's width and the highest one's height: the picture the placement places.
    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }
    PaneGrid panes() const override { return grid_; }
    // Every view placed so that its top-left corner lies where the placement puts the shared picture's.
    void place(const zelvan::Placement& placement) override;
    const zelvan::Placement& placement() const override { return placement_; }
    // Each picture into its pane: viewport, scissor and projection (one unit a pixel, as beginFrame sets
    // them) over the pane, then as they were. The first draw waits up to half a second for each picture's
    // one-tile level, so that no pane starts blank.
    void draw(int frameWidth, int frameHeight) override;
    bool loadSome(bool) override { return false; }
    // Waits for every pane's tiles in turn, each at most `timeout`.
    bool waitForStillFrame(int frameWidth, int frameHeight, std::chrono::milliseconds timeout) override;
    void setPasses(int passes) override;
    // Every pane drawn whole or its reads given up, and no read under way.
    bool complete() const override;
    // "3 pictures in panes, 12 reads pending".
    std::string status() const override;
    // The first picture whose tiles failed to read, or else the first that could not be opened.
    std::string failure() const override;

private:
    struct PanePicture {
        std::string path;
        std::uint32_t width = 0, height = 0;
        std::unique_ptr<zelvan::sources::PictureSource> source;  // null: the pane is empty
        std::unique_ptr<zelvan::TileView> view;                  // after its source: destroyed first
        std::string failure;                                     // why it is not shown
    };

    SheetViews& views_;
    std::vector<PanePicture> pictures_;
    PaneGrid grid_;
    std::uint32_t width_ = 1, height_ = 1;
    zelvan::Placement placement_;
    bool waited_ = false;  // for the one-tile levels, before the first frame
};

}  // namespace zelvan_demo
