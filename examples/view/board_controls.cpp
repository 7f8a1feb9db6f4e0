#include "board_controls.h"

#include <GLFW/glfw3.h>

#include <algorithm>

namespace zelvan_demo {

namespace {

constexpr int kOpacityStep = 16;

}  // namespace

void BoardControls::draw(int width, int height) {
    if (inner_ != nullptr) inner_->draw(width, height);
}

bool BoardControls::onKey(int key) {
    std::vector<BoardPiece>& pieces = board_.pieces();
    switch (key) {
        case GLFW_KEY_N:
            board_.showNavigator(!board_.navigatorShown());
            return true;
        case GLFW_KEY_LEFT_BRACKET:
        case GLFW_KEY_RIGHT_BRACKET: {
            if (pieces.size() != 2) break;  // one picture over another only
            const int step = key == GLFW_KEY_RIGHT_BRACKET ? kOpacityStep : -kOpacityStep;
            pieces[1].on.alpha = std::uint8_t(std::clamp(int(pieces[1].on.alpha) + step, 0, 255));
            board_.place(board_.placement());
            return true;
        }
        default:
            break;
    }
    return inner_ != nullptr && inner_->onKey(key);
}

bool BoardControls::onPress(double x, double y, zelvan::Placement& view) {
    if (board_.navigatorShown() && board_.navigatorBox().contains(x, y)) {
        const BoardPiece& main = board_.pieces().front();
        centreOn(view, board_.navigatorPlacement(), main.width, main.height, x, y, board_.frameWidth(),
                 board_.frameHeight());
        return true;
    }
    return inner_ != nullptr && inner_->onPress(x, y, view);
}

}  // namespace zelvan_demo
