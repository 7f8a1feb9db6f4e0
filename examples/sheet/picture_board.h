#pragma once
// Several pictures shown as one (a ShownPicture the viewer pans, zooms and turns as it would one):
// pieces placed on a board, each a tile view in one scene (sheet_views.h). A piece is opened when it
// first comes into the frame, and at most `kept` are open at once, the least recently drawn let go
// first: a folder of a thousand pictures shows, whole or zoomed into any of them, within one texture
// budget. A navigator (a second view of the first piece, sharing its tiles) can be drawn in a corner.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board_placement.h"
#include "sheet_views.h"
#include "shown_picture.h"
#include "zelvan_sources.hpp"

namespace zelvan_demo {

struct BoardPiece {
    std::string path;
    std::uint32_t width = 0, height = 0;  // its size, known before it is opened
    OnBoard on;
    // Open while it is shown: the source first, its view after (so destroyed first).
    std::unique_ptr<zelvan::sources::PictureSource> source;
    std::unique_ptr<zelvan::TileView> view;
    // The piece as drawn small, once complete: drawn instead while it is that small, the picture closed.
    zelvan::Image thumbnail;
    std::uint64_t lastDrawn = 0;  // the frame it was last drawn in
    std::string failure;          // why it cannot be shown; then it is never opened again
};

class PictureBoard : public ShownPicture {
public:
    // Opens a piece's picture: null, with the reason in `error`, when it cannot.
    using Opener = std::function<std::unique_ptr<zelvan::sources::PictureSource>(const std::string& path,
                                                                                 std::string& error)>;
    // A board of width x height pixels, its pieces' views in `views` (which outlives it), opened by `open`;
    // `thumbnails` of them at most kept as pictures of kThumbnailSide pixels (views.reserve says their room).
    PictureBoard(SheetViews& views, double width, double height, Opener open, std::size_t kept,
                 std::size_t thumbnails = 0);
    // The longest side of a thumbnail, in screen pixels.
    static constexpr std::uint32_t kThumbnailSide = 128;
    ~PictureBoard() override;

    // Adds a piece; one given open (its source set) keeps its source. OpenGL: context current.
    void add(BoardPiece piece);
    std::vector<BoardPiece>& pieces() { return pieces_; }

    std::uint32_t width() const override { return std::uint32_t(width_); }
    std::uint32_t height() const override { return std::uint32_t(height_); }
    void place(const zelvan::Placement& placement) override;
    const zelvan::Placement& placement() const override { return placement_; }
    // The pieces in the frame: small ones from their thumbnails, others nearest its centre first, up to
    // `kept`; then the navigator.
    void draw(int frameWidth, int frameHeight) override;
    bool loadSome(bool) override { return false; }
    // Waits for each piece in the frame in turn, drawing it once complete to keep its thumbnail: the frame
    // is drawn over, which the window clears before its next.
    bool waitForStillFrame(int frameWidth, int frameHeight, std::chrono::milliseconds timeout) override;
    // Every open piece's passes, and those of pieces opened later (a resting board is drawn with more).
    void setPasses(int passes) override;
    bool complete() const override;
    std::string status() const override;
    std::string failure() const override;

    // The navigator: the first piece whole in the frame's top-right corner, and the outline of what the
    // frame shows of it. For boards whose first piece covers the board (one picture, or one with another
    // over it). OpenGL: context current.
    void showNavigator(bool shown);
    bool navigatorShown() const { return navigator_ != nullptr; }
    // The navigator's box in the last frame drawn (navigator_box.h), and its placement.
    Box navigatorBox() const { return navigatorBox_; }
    const zelvan::Placement& navigatorPlacement() const { return navigatorPlacement_; }
    int frameWidth() const { return frameWidth_; }
    int frameHeight() const { return frameHeight_; }

private:
    bool open(BoardPiece& piece);
    void close(BoardPiece& piece);
    bool inFrame(const BoardPiece& piece, int frameWidth, int frameHeight) const;
    // Draws the piece from its thumbnail when it has one for this size; false otherwise.
    bool drawThumbnail(BoardPiece& piece);
    void keepThumbnail(BoardPiece& piece, int frameWidth, int frameHeight);
    void drawNavigator(int frameWidth, int frameHeight);

    SheetViews& views_;
    double width_, height_;
    Opener open_;
    std::size_t kept_, thumbnails_;
    std::size_t missing_ = 0;  // pieces in the last frame that it could not draw yet
    std::vector<BoardPiece> pieces_;
    zelvan::Placement placement_;
    std::uint64_t frame_ = 0;
    std::unique_ptr<zelvan::TileView> navigator_;
    zelvan::Placement navigatorPlacement_;
    Box navigatorBox_;
    int frameWidth_ = 0, frameHeight_ = 0;
    int passes_ = zelvan::TileViewOptions{}.passes;
};

}  // namespace zelvan_demo
