#pragma once
// The channel panel, drawn with Dear ImGui (its GLFW and OpenGL 2 backends) over the viewer's picture:
// for each channel its colour, visibility, limits, curve and gamma, a button for automatic limits and
// its histogram; a colormap for the selected channel. Built only where Dear ImGui is found.
#include <cstddef>
#include <vector>

#include "channel_controls.h"
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
    // `width` x `height` frame; true when the user changed the controls.
    bool draw(ChannelControls& controls, zelvan::TileView& view, int width, int height);
    bool wantsMouse() const;
    bool wantsKeyboard() const;

private:
    // Each channel's histogram, made again only when the view keeps other raw tiles: a histogram
    // reads up to millions of samples, too many for every frame.
    const zelvan::ChannelHistogram& histogram(zelvan::TileView& view, unsigned channel);
    std::vector<zelvan::ChannelHistogram> histograms_;
    std::size_t histogramTiles_ = ~std::size_t{0};
};

}  // namespace zelvan_demo
