#pragma once
// The channels of a picture of raw samples in the viewer: ChannelControls changed by keys and, where
// Dear ImGui was found at configure time, by a panel (channel_panel.h) drawn over the picture; each
// change sent to the tile view as a new mapping, and a plane chosen there to the picture.
#include <memory>

#include "channel_controls.h"
#include "shown_picture.h"
#include "window_overlay.h"
#include "zelvan_tiles.hpp"

struct GLFWwindow;

namespace zelvan_demo {

class ChannelPanel;

class ChannelOverlay : public WindowOverlay {
public:
    // Shows `picture` (of raw samples: channels() not null) through `controls`' mapping at once; the
    // panel, when built, draws into `window`'s context. Throws DemoError when the view refuses the
    // mapping. The picture outlives the overlay.
    ChannelOverlay(GLFWwindow* window, ShownPicture& picture, ChannelControls controls);
    ~ChannelOverlay() override;

    void draw(int width, int height) override;
    bool onKey(int key) override;
    bool wantsMouse() const override;
    bool busy() const override;

private:
    void apply();
    // The picture's view now: another once a new plane is shown.
    zelvan::TileView& view() const { return *picture_.channels(); }

    ShownPicture& picture_;
    ChannelControls controls_;
    std::unique_ptr<ChannelPanel> panel_;  // null without Dear ImGui
};

}  // namespace zelvan_demo
