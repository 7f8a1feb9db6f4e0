#pragma once
// The keys and the mouse of several pictures shown together (sheet/picture_board.h): N shows or hides
// the navigator, a click or a drag in it brings that point to the window's centre; the picture over the
// first one has an opacity slider (opacity_slider.h), and [ and ] make it less or more opaque. Over another
// overlay (the channels), which gets what it does not take.
#include "opacity_slider.h"
#include "picture_board.h"
#include "window_overlay.h"

namespace zelvan_demo {

class BoardControls : public WindowOverlay {
public:
    // `board` and `inner` (null: none) outlive the controls; `overlaid`: the board's second piece lies over
    // its first, and has the slider.
    BoardControls(PictureBoard& board, WindowOverlay* inner, bool overlaid)
        : board_(board), inner_(inner), overlaid_(overlaid) {}

    void draw(int width, int height) override;
    bool onKey(int key) override;
    bool wantsMouse() const override { return inner_ != nullptr && inner_->wantsMouse(); }
    bool busy() const override { return inner_ != nullptr && inner_->busy(); }
    bool onPress(double x, double y, zelvan::Placement& view) override;
    void onDrag(double x, double y, zelvan::Placement& view) override;

private:
    void setOpacity(int alpha);

    PictureBoard& board_;
    WindowOverlay* inner_;
    bool overlaid_;
    enum class Held { Nothing, Slider, Navigator, Inner } held_ = Held::Nothing;  // what the last press took
};

}  // namespace zelvan_demo
