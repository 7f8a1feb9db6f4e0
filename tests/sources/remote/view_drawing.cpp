#include "view_drawing.h"

#include <thread>

#include "gl_test_environment.h"

namespace remote_test {

zelvan::Placement at(double scale, double x, double y) {
    zelvan::Placement p;
    p.scaleX = p.scaleY = scale;
    p.centreX = x;
    p.centreY = y;
    return p;
}

bool drawFor(zelvan::TileView& view, std::chrono::milliseconds time, const std::function<bool()>& done) {
    const zelvan::Frame frame{0, 0, zelvan_test::kSurfaceWidth, zelvan_test::kSurfaceHeight, 1};
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        if (done && done()) return true;
        view.draw(frame);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace remote_test
