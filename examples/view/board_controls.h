#pragma once
// The keys and the mouse of several pictures shown together (sheet/picture_board.h): N shows or hides
// the navigator, a click in it brings that point to the window's centre; [ and ] make the picture over
// the first one less or more opaque. Over another overlay (the channels), which gets what it does not take.
#include "picture_board.h"
#include "window_overlay.h"

namespace zelvan_demo {

class BoardControls : public WindowOverlay {
public:
    // `board` and `inner` (null: none) outlive the controls.
    BoardControls(PictureBoard& board, WindowOverlay* inner) : board_(board), inner_(inner) {}

    void draw(int width, int height) override;
    bool onKey(int key) override;
    bool wantsMouse() const override { return inner_ != nullptr && inner_->wantsMouse(); }
    bool busy() const override { return inner_ != nullptr && inner_->busy(); }
    bool onPress(double x, double y, zelvan::Placement& view) override;

private:
    PictureBoard& board_;
    WindowOverlay* inner_;
};

}  // namespace zelvan_demo
