#include "picture_board.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

namespace zelvan_demo {

namespace {

zelvan::Frame pixelFrame(int width, int height) { return {0, 0, double(width), double(height), 1}; }

// A closed outline in frame units, clipped to `box`, over what is drawn.
void outline(const zelvan::PlanePoint* points, int count, const Box& box, float r, float g, float b) {
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_SCISSOR_BIT | GL_LINE_BIT);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_SCISSOR_TEST);
    glScissor(GLint(std::floor(box.left)), GLint(std::floor(box.bottom)),
              GLsizei(std::ceil(box.right - box.left)), GLsizei(std::ceil(box.top - box.bottom)));
    glLineWidth(2);
    glColor3f(r, g, b);
    glBegin(GL_LINE_LOOP);
    for (int k = 0; k < count; ++k) glVertex2d(points[k].x, points[k].y);
    glEnd();
    glPopAttrib();
}

}  // namespace

PictureBoard::PictureBoard(SheetViews& views, double width, double height, Opener open, std::size_t kept,
                           std::size_t thumbnails)
    : views_(views),
      width_(width),
      height_(height),
      open_(std::move(open)),
      kept_(std::max<std::size_t>(kept, 1)),
      thumbnails_(thumbnails) {
    placement_ = zelvan::fit(std::uint32_t(width), std::uint32_t(height), width, height);
}

PictureBoard::~PictureBoard() {
    navigator_.reset();
    for (BoardPiece& piece : pieces_) close(piece);
}

void PictureBoard::add(BoardPiece piece) {
    pieces_.push_back(std::move(piece));
    BoardPiece& added = pieces_.back();
    if (added.source && !added.view) {
        added.view = views_.view(*added.source);
        if (!*added.view) added.failure = added.path + ": the tile view cannot show this picture";
    }
    if (added.view) {
        added.view->place(placedOnBoard(placement_, width_, height_, added.on));
        added.view->setPasses(passes_);
    }
}

void PictureBoard::setPasses(int passes) {
    passes_ = passes;
    for (BoardPiece& piece : pieces_)
        if (piece.view) piece.view->setPasses(passes);
    if (navigator_) navigator_->setPasses(passes);
}

void PictureBoard::place(const zelvan::Placement& placement) {
    placement_ = placement;
    for (BoardPiece& piece : pieces_)
        if (piece.view) piece.view->place(placedOnBoard(placement_, width_, height_, piece.on));
}

bool PictureBoard::open(BoardPiece& piece) {
    if (!piece.failure.empty()) return false;
    if (!piece.source) piece.source = open_(piece.path, piece.failure);
    if (!piece.source) return false;
    piece.view = views_.view(*piece.source);
    if (!*piece.view) {
        piece.failure = piece.path + ": the tile view cannot show this picture (" +
                        zelvan::describe(piece.view->status()) + ")";
        close(piece);
        return false;
    }
    piece.view->setPasses(passes_);
    piece.view->place(placedOnBoard(placement_, width_, height_, piece.on));
    return true;
}

void PictureBoard::close(BoardPiece& piece) {
    piece.view.reset();  // before the source it reads
    piece.source.reset();
}

bool PictureBoard::inFrame(const BoardPiece& piece, int frameWidth, int frameHeight) const {
    const zelvan::Placement at = placedOnBoard(placement_, width_, height_, piece.on);
    const double reach = std::hypot(piece.width * at.scaleX, piece.height * at.scaleY) / 2;
    return at.centreX + reach > 0 && at.centreX - reach < frameWidth && at.centreY + reach > 0 &&
           at.centreY - reach < frameHeight;
}

void PictureBoard::draw(int frameWidth, int frameHeight) {
    ++frame_;
    frameWidth_ = frameWidth;
    frameHeight_ = frameHeight;
    // The pieces in the frame: small ones from their thumbnails; of the others, those nearest the frame's
    // centre, as many as may be open. Drawn in their order.
    std::vector<std::pair<double, std::size_t>> shown;
    for (std::size_t k = 0; k < pieces_.size(); ++k)
        if (pieces_[k].failure.empty() && inFrame(pieces_[k], frameWidth, frameHeight)) {
            const zelvan::Placement at = placedOnBoard(placement_, width_, height_, pieces_[k].on);
            shown.push_back({std::hypot(at.centreX - frameWidth / 2.0, at.centreY - frameHeight / 2.0), k});
        }
    std::vector<bool> drawnSmall(pieces_.size(), false);
    for (const auto& [distance, k] : shown) drawnSmall[k] = drawThumbnail(pieces_[k]);
    shown.erase(
        std::remove_if(shown.begin(), shown.end(), [&](const auto& p) { return drawnSmall[p.second]; }),
        shown.end());
    missing_ = shown.size() > kept_ ? shown.size() - kept_ : 0;
    if (shown.size() > kept_) {
        std::nth_element(shown.begin(), shown.begin() + std::ptrdiff_t(kept_), shown.end());
        shown.resize(kept_);
    }
    std::sort(shown.begin(), shown.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    for (const auto& [distance, k] : shown) {
        BoardPiece& piece = pieces_[k];
        if (!piece.view && !open(piece)) continue;
        piece.view->draw(pixelFrame(frameWidth, frameHeight));
        piece.lastDrawn = frame_;
        keepThumbnail(piece, frameWidth, frameHeight);
    }
    // Past `kept` open, the least recently drawn let go (never one drawn now).
    std::vector<BoardPiece*> open;
    for (BoardPiece& piece : pieces_)
        if (piece.view && &piece != &pieces_.front()) open.push_back(&piece);
    if (open.size() + 1 > kept_) {
        std::sort(open.begin(), open.end(), [](auto* a, auto* b) { return a->lastDrawn < b->lastDrawn; });
        for (std::size_t k = 0; k + kept_ < open.size() + 1 && open[k]->lastDrawn < frame_; ++k)
            close(*open[k]);
    }
    if (navigator_) drawNavigator(frameWidth, frameHeight);
}

bool PictureBoard::drawThumbnail(BoardPiece& piece) {
    if (!piece.thumbnail) return false;
    const zelvan::Placement at = placedOnBoard(placement_, width_, height_, piece.on);
    // Up to half again its size; past that the picture itself.
    const double across = piece.width * std::fabs(at.scaleX);
    if (across > piece.thumbnail.width() * 1.5) return false;
    zelvan::Placement small = at;
    small.scaleX = at.scaleX * piece.width / piece.thumbnail.width();
    small.scaleY = at.scaleY * piece.height / piece.thumbnail.height();
    piece.thumbnail.place(small);
    piece.thumbnail.draw();
    piece.lastDrawn = frame_;
    if (&piece != &pieces_.front() && piece.view) close(piece);
    return true;
}

void PictureBoard::keepThumbnail(BoardPiece& piece, int frameWidth, int frameHeight) {
    if (piece.thumbnail || thumbnails_ == 0 || !piece.view->stats().complete) return;
    const zelvan::Placement at = placedOnBoard(placement_, width_, height_, piece.on);
    const double across = piece.width * at.scaleX, down = piece.height * at.scaleY;
    if (at.rotateZ != 0 || at.alpha != 255 || std::max(across, down) > kThumbnailSide) return;
    // Its pixels as just drawn, whole in the frame.
    const int left = int(std::lround(at.centreX - across / 2)),
              bottom = int(std::lround(at.centreY - down / 2));
    const int width = std::max(1, int(std::lround(across))), height = std::max(1, int(std::lround(down)));
    if (left < 0 || bottom < 0 || left + width > frameWidth || bottom + height > frameHeight) return;
    std::vector<unsigned char> bottomUp(std::size_t(width) * std::size_t(height) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(left, bottom, width, height, GL_BGRA, GL_UNSIGNED_BYTE, bottomUp.data());
    const std::size_t pitch = std::size_t(width) * 4;
    std::vector<unsigned char> rows(bottomUp.size());
    for (int y = 0; y < height; ++y)  // top row first, opaque as it is on screen
        std::copy_n(bottomUp.data() + std::size_t(height - 1 - y) * pitch, pitch,
                    rows.data() + std::size_t(y) * pitch);
    for (std::size_t k = 3; k < rows.size(); k += 4) rows[k] = 255;
    zelvan::Image thumbnail{std::uint32_t(width), std::uint32_t(height)};
    if (!thumbnail.upload(rows.data(), pitch, rows.size())) return;
    piece.thumbnail = std::move(thumbnail);
    --thumbnails_;
}

void PictureBoard::showNavigator(bool shown) {
    // Only where the first piece is the board: a click in it moves the board.
    const bool coversBoard = !pieces_.empty() && pieces_.front().on.scale == 1 &&
                             pieces_.front().width == width_ && pieces_.front().height == height_;
    if (!shown || !coversBoard || !pieces_.front().source) {
        navigator_.reset();
        return;
    }
    // Another view of the same source in the same scene: the tiles the main view has read, shared.
    navigator_ = views_.view(*pieces_.front().source);
}

void PictureBoard::drawNavigator(int frameWidth, int frameHeight) {
    const BoardPiece& main = pieces_.front();
    navigatorBox_ = zelvan_demo::navigatorBox(main.width, main.height, frameWidth, frameHeight);
    const Box& box = navigatorBox_;
    navigatorPlacement_ = zelvan::fit(main.width, main.height, box.right - box.left, box.top - box.bottom);
    navigatorPlacement_.centreX += box.left;
    navigatorPlacement_.centreY += box.bottom;
    navigator_->place(navigatorPlacement_);
    navigator_->draw(pixelFrame(frameWidth, frameHeight));
    const std::array<zelvan::PlanePoint, 4> shown =
        shownOutline(placedOnBoard(placement_, width_, height_, main.on), navigatorPlacement_, main.width,
                     main.height, frameWidth, frameHeight);
    outline(shown.data(), 4, box, 1.0f, 0.85f, 0.2f);
    const zelvan::PlanePoint edge[4] = {{box.left + 1, box.bottom + 1},
                                        {box.right - 1, box.bottom + 1},
                                        {box.right - 1, box.top - 1},
                                        {box.left + 1, box.top - 1}};
    outline(edge, 4, box, 0.9f, 0.9f, 0.9f);
}

bool PictureBoard::waitForStillFrame(int frameWidth, int frameHeight, std::chrono::milliseconds timeout) {
    // One piece at a time, so that no more are open than may be: each drawn once complete, for its
    // thumbnail (the window clears the frame before it draws the next), and let go when it has one.
    bool still = true;
    const zelvan::Frame frame = pixelFrame(frameWidth, frameHeight);
    for (BoardPiece& piece : pieces_) {
        if (piece.thumbnail || !inFrame(piece, frameWidth, frameHeight) || (!piece.view && !open(piece)))
            continue;
        still = piece.view->waitUntilComplete(frame, timeout) && still;
        piece.view->draw(frame);
        keepThumbnail(piece, frameWidth, frameHeight);
        if (piece.thumbnail && &piece != &pieces_.front()) close(piece);
    }
    return still;
}

bool PictureBoard::complete() const {
    if (missing_ > 0) return false;
    for (const BoardPiece& piece : pieces_)
        if (piece.view && piece.lastDrawn == frame_ && !nothingMoreToCome(piece.view->stats())) return false;
    return !navigator_ || navigator_->stats().complete;
}

std::string PictureBoard::status() const {
    const zelvan::TileSceneStats s = views_.scene().stats();
    std::size_t shown = 0;
    for (const BoardPiece& piece : pieces_) shown += piece.view && piece.lastDrawn == frame_ ? 1 : 0;
    std::string text = std::to_string(shown) + " of " + std::to_string(pieces_.size()) + " pictures shown";
    if (s.readsPending > 0) text += ", " + std::to_string(s.readsPending) + " reads pending";
    return text;
}

std::string PictureBoard::failure() const {
    for (const BoardPiece& piece : pieces_)
        if (!piece.failure.empty()) return piece.failure;
    return {};
}

}  // namespace zelvan_demo
