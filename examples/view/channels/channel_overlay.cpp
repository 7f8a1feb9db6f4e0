#include "channel_overlay.h"

#include <GLFW/glfw3.h>

#include "program.h"

#if defined(ZELVAN_VIEW_PANEL)
#include "channel_panel.h"
#else
namespace zelvan_demo {
// Built without Dear ImGui: the keys alone.
class ChannelPanel {};
}  // namespace zelvan_demo
#endif

namespace zelvan_demo {

namespace {

// GLFW's key codes as the characters ChannelControls takes (layout-independent: the key's place).
char keyCharacter(int key) {
    if (key >= GLFW_KEY_1 && key <= GLFW_KEY_9) return char('1' + (key - GLFW_KEY_1));
    switch (key) {
        case GLFW_KEY_A:
            return 'a';
        case GLFW_KEY_C:
            return 'c';
        case GLFW_KEY_M:
            return 'm';
        case GLFW_KEY_P:
            return 'p';
        default:
            return 0;
    }
}

}  // namespace

ChannelOverlay::ChannelOverlay(GLFWwindow* window, ShownPicture& picture, ChannelControls controls)
    : picture_(picture), controls_(std::move(controls)) {
#if defined(ZELVAN_VIEW_PANEL)
    panel_ = std::make_unique<ChannelPanel>(window);
#else
    (void)window;
#endif
    std::string reason;
    if (!view().setMapping(controls_.mapping(), &reason))
        throw DemoError("the channels cannot be shown: " + reason);
}

ChannelOverlay::~ChannelOverlay() = default;

void ChannelOverlay::apply() {
    // A mapping the controls allow but the view refuses (limits dragged together) keeps the last one.
    view().setMapping(controls_.mapping());
}

void ChannelOverlay::draw(int width, int height) {
#if defined(ZELVAN_VIEW_PANEL)
    if (panel_->draw(controls_, picture_, width, height)) apply();
#else
    (void)width, (void)height;
#endif
}

bool ChannelOverlay::onKey(int key) {
#if defined(ZELVAN_VIEW_PANEL)
    if (panel_->wantsKeyboard()) return true;
#endif
    const char typed = keyCharacter(key);
    if (typed == 0) return false;
    if (controls_.onKey(typed, [this](unsigned c) { return view().autoLimits(c); })) apply();
    return true;
}

bool ChannelOverlay::wantsMouse() const {
#if defined(ZELVAN_VIEW_PANEL)
    return controls_.panelShown() && panel_->wantsMouse();
#else
    return false;
#endif
}

bool ChannelOverlay::busy() const { return !view().stats().complete; }

}  // namespace zelvan_demo
