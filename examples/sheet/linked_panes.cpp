#include "linked_panes.h"

#include <GL/gl.h>

#include <algorithm>

#include "board_placement.h"
#include "program.h"
#include "scene.h"
#include "sheet_entries.h"

namespace zelvan_demo {

namespace {

// Past this a first frame shows a pane's background while its coarsest tile comes.
constexpr std::chrono::milliseconds kFirstTileWait{500};

zelvan::Frame paneFrame(const PaneGrid::Pane& pane) {
    return {0, 0, double(pane.width), double(pane.height), 1};
}

}  // namespace

LinkedPanes::LinkedPanes(SheetViews& views, const std::vector<std::string>& inputs, std::size_t columns,
                         const zelvan::sources::OpenOptions& sources,
                         const std::function<void(const std::string&)>& warn)
    : views_(views) {
    const std::vector<SheetEntry> entries = sheetEntries(inputs, warn);
    if (entries.empty()) throw DemoError("--grid: no pictures to show in what was named");
    if (entries.size() > kMaxPanes)
        throw DemoError("--grid: " + std::to_string(entries.size()) + " pictures, more than the " +
                        std::to_string(kMaxPanes) + " panes it shows; --sheet COLUMNS shows any number");
    pictures_.resize(entries.size());
    for (std::size_t k = 0; k < entries.size(); ++k) {
        PanePicture& picture = pictures_[k];
        picture.path = entries[k].path;
        zelvan::sources::Opened opened = zelvan::sources::open(picture.path, sources);
        if (opened) {
            picture.source = std::move(opened.source);
            picture.view = views_.view(*picture.source);
            if (!*picture.view)
                picture.failure = picture.path + ": the tile view cannot show this picture (" +
                                  zelvan::describe(picture.view->status()) + ")";
        } else {
            picture.failure = opened.error;
        }
        if (!picture.failure.empty()) {
            if (k == 0) throw DemoError(picture.failure);
            warn(picture.failure + "; its pane is left empty");
            picture.view.reset();
            picture.source.reset();
            continue;
        }
        picture.width = picture.source->info().width;
        picture.height = picture.source->info().height;
        width_ = std::max(width_, picture.width);
        height_ = std::max(height_, picture.height);
    }
    grid_.columns = int(std::min(columns, pictures_.size()));
    grid_.rows = int((pictures_.size() + std::size_t(grid_.columns) - 1) / std::size_t(grid_.columns));
    place(zelvan::fit(width_, height_, width_, height_));
}

void LinkedPanes::place(const zelvan::Placement& placement) {
    placement_ = placement;
    // Picture k's centre where the shared picture's pixel (width / 2, height / 2) of k lies: the top-left
    // corners together.
    for (PanePicture& picture : pictures_)
        if (picture.view)
            picture.view->place(placedOnBoard(placement_, width_, height_,
                                              {picture.width / 2.0, picture.height / 2.0, 1, 255}));
}

void LinkedPanes::draw(int frameWidth, int frameHeight) {
    if (!waited_)
        for (PanePicture& picture : pictures_)
            if (picture.view) picture.view->waitUntilReady(kFirstTileWait);
    waited_ = true;
    const double depth = depthReach(placement_, width_, height_);
    glPushAttrib(GL_VIEWPORT_BIT | GL_SCISSOR_BIT | GL_ENABLE_BIT | GL_TRANSFORM_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glEnable(GL_SCISSOR_TEST);
    for (std::size_t k = 0; k < pictures_.size(); ++k) {
        if (!pictures_[k].view) continue;
        const PaneGrid::Pane pane = grid_.pane(k, frameWidth, frameHeight);
        glViewport(pane.left, pane.bottom, pane.width, pane.height);
        glScissor(pane.left, pane.bottom, pane.width, pane.height);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, pane.width, 0, pane.height, -depth, depth);
        glMatrixMode(GL_MODELVIEW);
        pictures_[k].view->draw(paneFrame(pane));
    }
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopAttrib();  // the matrix mode, viewport and scissor as they were
}

bool LinkedPanes::waitForStillFrame(int frameWidth, int frameHeight, std::chrono::milliseconds timeout) {
    waited_ = true;  // the tiles of the frame itself are waited for
    bool still = true;
    for (std::size_t k = 0; k < pictures_.size(); ++k)
        if (pictures_[k].view)
            still = pictures_[k].view->waitUntilComplete(paneFrame(grid_.pane(k, frameWidth, frameHeight)),
                                                         timeout) &&
                    still;
    return still;
}

void LinkedPanes::setPasses(int passes) {
    for (PanePicture& picture : pictures_)
        if (picture.view) picture.view->setPasses(passes);
}

bool LinkedPanes::complete() const {
    for (const PanePicture& picture : pictures_)
        if (picture.view && !nothingMoreToCome(picture.view->stats())) return false;
    return true;
}

std::string LinkedPanes::status() const {
    const zelvan::TileSceneStats s = views_.scene().stats();
    std::string text = std::to_string(pictures_.size()) + " pictures in panes";
    if (s.readsPending > 0) text += ", " + std::to_string(s.readsPending) + " reads pending";
    return text;
}

std::string LinkedPanes::failure() const {
    for (const PanePicture& picture : pictures_)
        if (picture.view && picture.view->stats().readsFailed > 0) {
            std::string reason = picture.source->lastError();
            std::replace(reason.begin(), reason.end(), '\n', ' ');  // one line, as the programs promise
            return picture.path + ": reads of tiles failed" + (reason.empty() ? "" : " (" + reason + ")");
        }
    for (const PanePicture& picture : pictures_)
        if (!picture.failure.empty()) return picture.failure;
    return {};
}

}  // namespace zelvan_demo
