#include "board_controls.h"

#include <GLFW/glfw3.h>

#include <algorithm>

namespace zelvan_demo {

namespace {

constexpr int kOpacityStep = 16;

}  // namespace

void BoardControls::draw(int width, int height) {
    if (overlaid_) OpacitySlider::draw(board_.pieces()[1].on.alpha);
    if (inner_ != nullptr) inner_->draw(width, height);
}

void BoardControls::setOpacity(int alpha) {
    board_.pieces()[1].on.alpha = std::uint8_t(std::clamp(alpha, 0, 255));
    board_.place(board_.placement());
}

bool BoardControls::onKey(int key) {
    std::vector<BoardPiece>& pieces = board_.pieces();
    switch (key) {
        case GLFW_KEY_N:
            board_.showNavigator(!board_.navigatorShown());
            return true;
        case GLFW_KEY_LEFT_BRACKET:
        case GLFW_KEY_RIGHT_BRACKET: {
            if (!overlaid_) break;  // one picture over another only
            const int step = key == GLFW_KEY_RIGHT_BRACKET ? kOpacityStep : -kOpacityStep;
            setOpacity(int(pieces[1].on.alpha) + step);
            return true;
        }
        default:
            break;
    }
    return inner_ != nullptr && inner_->onKey(key);
}

bool BoardControls::onPress(double x, double y, zelvan::Placement& view) {
    held_ = Held::Nothing;
    if (overlaid_ && OpacitySlider::contains(x, y)) {
        held_ = Held::Slider;
    } else if (board_.navigatorShown() && board_.navigatorBox().contains(x, y)) {
        held_ = Held::Navigator;
    } else {
        if (inner_ != nullptr && inner_->onPress(x, y, view)) held_ = Held::Inner;
        return held_ == Held::Inner;
    }
    onDrag(x, y, view);
    return true;
}

void BoardControls::onDrag(double x, double y, zelvan::Placement& view) {
    if (held_ == Held::Slider) {
        setOpacity(OpacitySlider::valueAt(x));
    } else if (held_ == Held::Navigator) {  // clamped to the box: the main view stays on the picture
        const Box& box = board_.navigatorBox();
        const BoardPiece& main = board_.pieces().front();
        centreOn(view, board_.navigatorPlacement(), main.width, main.height,
                 std::clamp(x, box.left, box.right), std::clamp(y, box.bottom, box.top), board_.frameWidth(),
                 board_.frameHeight());
    } else if (held_ == Held::Inner) {
        inner_->onDrag(x, y, view);
    }
}

}  // namespace zelvan_demo
