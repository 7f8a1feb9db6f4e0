#pragma once
// The channel panel, drawn with Dear ImGui (its GLFW and OpenGL 2 backends) over the viewer's picture:
// for each channel its name, colour, visibility, limits, curve and gamma, a button for automatic limits
// and its histogram; a colormap for the selected channel; sliders for the time point and the depth of a
// picture that has several. Built only where Dear ImGui is found.
#include <cstddef>
#include <string>
#include <vector>

#include "channel_controls.h"
#include "shown_picture.h"
#include "zelvan_tiles.hpp"

struct GLFWwindow;

namespace zelvan_demo {

class ChannelPanel {
public:
    // Starts ImGui on `window`, after the window set its own input callbacks (which ImGui's chain to).
    explicit ChannelPanel(GLFWwindow* window);
    ~ChannelPanel();
    ChannelPanel(const ChannelPanel&) = delete;
    ChannelPanel& operator=(const ChannelPanel&) = delete;

    // Draws a frame of the panel (nothing while controls.panelShown() is false) over the
    // `width` x `height` frame for `picture` (of raw samples); true when the user changed the controls.
    // A plane chosen is asked of the picture at once (ShownPicture::showPlane).
    bool draw(ChannelControls& controls, ShownPicture& picture, int width, int height);
    bool wantsMouse() const;
    bool wantsKeyboard() const;

private:
    // Each channel's histogram, made again only when the view keeps other raw tiles: a histogram
    // reads up to millions of samples, too many for every frame.
    const zelvan::ChannelHistogram& histogram(zelvan::TileView& view, unsigned channel);
    // The time point and depth sliders; true when a plane was asked for.
    bool planeSliders(ShownPicture& picture);

    std::vector<zelvan::ChannelHistogram> histograms_;
    std::size_t histogramTiles_ = ~std::size_t{0};
    const zelvan::TileView* histogramView_ = nullptr;  // another once a new plane is shown
    int timePoint_ = -1, depth_ = -1;                  // as the sliders have them; -1 before the first frame
    std::string planeError_;                           // why the plane asked for cannot be shown
};

}  // namespace zelvan_demo
