#pragma once
// What the demo programs show: a picture placed by its centre and drawn into a frame of one unit
// per pixel, loading as it is drawn. StreamedPicture streams a picture into pyramid textures;
// TiledPicture reads tiles of a pyramidal file for each frame as the tile view asks for them. The
// programs use this interface alone, whichever way a picture is shown.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "progress.h"
#include "zelvan.hpp"
#include "zelvan_tiles_options.hpp"

namespace zelvan {
class TileView;
namespace sources {
struct PictureInfo;
}
}  // namespace zelvan

namespace zelvan_demo {

// Whether a tile view has nothing more to bring to its last frame: drawn whole, or its missing tiles given
// up (they will not come), and no read under way.
inline bool nothingMoreToCome(const zelvan::TileStats& s) {
    return (s.complete || s.readsGivenUp > 0) && s.readsPending == 0;
}

// How a picture divides its frame into panes that show the same placement (zelvan-view --grid): columns x
// rows panes of one size, kGap pixels of background between them, pane 0 at the top-left and then row by
// row; the pixels a division leaves over go to the background at the right and bottom. A pane counts its
// own units, one a pixel from its bottom-left corner. One pane is the whole frame.
struct PaneGrid {
    static constexpr int kGap = 4;
    int columns = 1, rows = 1;

    struct Pane {
        int left = 0, bottom = 0, width = 1, height = 1;  // in frame pixels, from the bottom-left
    };
    // Pane `index` (its column index % columns, its row index / columns) of a frameWidth x frameHeight
    // frame; at least 1 x 1 pixel, however small the frame. Cost: a few divisions.
    Pane pane(std::size_t index, int frameWidth, int frameHeight) const {
        Pane p;
        p.width = std::max(1, (frameWidth - (columns - 1) * kGap) / std::max(1, columns));
        p.height = std::max(1, (frameHeight - (rows - 1) * kGap) / std::max(1, rows));
        const int column = int(index % std::size_t(std::max(1, columns)));
        const int row = int(index / std::size_t(std::max(1, columns)));
        p.left = column * (p.width + kGap);
        p.bottom = frameHeight - (row + 1) * p.height - row * kGap;
        return p;
    }
    // The pane under frame point (x, y) (from the bottom-left); in a gap or past the last pane, the pane
    // left of it or above it. Cost: a few divisions.
    std::size_t paneAt(double x, double y, int frameWidth, int frameHeight) const {
        const Pane first = pane(0, frameWidth, frameHeight);
        const int column = std::clamp(int(std::floor(x / (first.width + kGap))), 0, columns - 1);
        const int row = std::clamp(int(std::floor((frameHeight - y) / (first.height + kGap))), 0, rows - 1);
        return std::size_t(row) * std::size_t(columns) + std::size_t(column);
    }
};

class ShownPicture {
public:
    virtual ~ShownPicture() = default;

    // The full picture's size, in the units its placement scales.
    virtual std::uint32_t width() const = 0;
    virtual std::uint32_t height() const = 0;

    // The panes the frame is divided into, each showing the placement in its own units: one (the whole
    // frame) unless the picture is several side by side.
    virtual PaneGrid panes() const { return {}; }
    // Where the picture goes: by its centre, turned about it, as zelvan::Placement says, in a pane's
    // units (panes()).
    virtual void place(const zelvan::Placement& placement) = 0;
    virtual const zelvan::Placement& placement() const = 0;
    // Draws into the current model-view matrix over a frame of frameWidth x frameHeight screen
    // pixels, one unit per pixel (glOrtho over the viewport), leaving the matrix as it was (and the
    // viewport, for a picture in panes); what has not loaded yet is drawn from what has.
    virtual void draw(int frameWidth, int frameHeight) = 0;

    // A step of loading outside drawing (with `wait`, waiting for what it needs); false when
    // there was none to take. Throws DemoError for a damaged file.
    virtual bool loadSome(bool wait) = 0;
    // Loads outside drawing all that can be loaded so, or its first `rows` rows (0: all), telling
    // `rowsDone`: a streamed picture's bands. Nothing for a picture read as it is drawn. Throws
    // DemoError for a damaged file.
    virtual void finishLoading(const ProgressFn& rowsDone = {}, std::uint32_t rows = 0) {
        (void)rowsDone, (void)rows;
    }
    // For a program that shows one finished frame of frameWidth x frameHeight pixels: waits, at most
    // `timeout`, until every tile the frame wants is in, so that the next draw() is complete; true
    // then. False at the timeout, or once a read has failed (failure() says why). A picture that loads
    // outside drawing has nothing to wait for: true at once. OpenGL: context current; nothing is drawn.
    virtual bool waitForStillFrame(int frameWidth, int frameHeight, std::chrono::milliseconds timeout) {
        (void)frameWidth, (void)frameHeight, (void)timeout;
        return true;
    }
    // How many times the frames from the next on draw the finer of two levels (zelvan::Pyramid::draw's
    // passes, TileView::setPasses), 1 to 16: the same texels drawn more times, closer to the picture
    // box-filtered, for a view at rest.
    virtual void setPasses(int passes) = 0;
    // Whether the last frame drew everything there is for it.
    virtual bool complete() const = 0;
    // How the loading goes, for a window's title ("loading, 40%"); empty when there is nothing to say.
    virtual std::string status() const = 0;
    // Why the picture can never be complete (parts of it that cannot be read), in one line naming
    // it; empty while it can.
    virtual std::string failure() const { return {}; }

    // The tile view of a picture of raw samples, for its mapping, limits and histograms (the
    // viewer's channel panel); null for a picture of colours, which has no channels to map. Lives
    // as long as the picture.
    virtual zelvan::TileView* channels() { return nullptr; }

    // What Zelvan::sources knows of the picture shown (its channels' names, its pixel size, its planes
    // and the one shown); null for a picture streamed in or built in. Lives until the next showPlane.
    virtual const zelvan::sources::PictureInfo* info() const { return nullptr; }
    // Starts showing another plane (time point, depth) of a picture that has several: the plane shown
    // so far is drawn until the new one's coarsest level is in, through the same mapping. False, with
    // one line in `error`, for a plane the picture lacks or a picture without planes. OpenGL: context
    // current.
    virtual bool showPlane(unsigned timePoint, unsigned depth, std::string& error) {
        (void)timePoint, (void)depth;
        error = "this picture has one plane";
        return false;
    }
};

}  // namespace zelvan_demo
