#pragma once
// The viewer's channel settings for a picture of raw samples, apart from any window: every channel's
// colour, visibility, limits, curve and gamma, the one selected, a colormap for one channel, and
// the keys that change them. The mapping shown is made from them (mapping()).
#include <functional>
#include <vector>

#include "channel_mapping.h"
#include "zelvan_mapping.hpp"
#include "zelvan_mapping_statistics.hpp"

namespace zelvan_demo {

// A channel's automatic limits (TileView::autoLimits).
using LimitsOf = std::function<zelvan::ChannelLimits(unsigned channel)>;

class ChannelControls {
public:
    // For a picture of `layout`: the channels `request` names as given, the others hidden; with
    // nothing asked, the picture's `own` mapping (its file's colours, limits and channels shown, as
    // the tile view shows it first) where it is more than zelvan::defaultMapping's, else the first channel
    // shown (the first three in red, green and blue for three or more). Limits not given are the automatic
    // ones where found, else the type's range.
    ChannelControls(const zelvan::SampleLayout& layout, const MappingRequest& request, const LimitsOf& limits,
                    const zelvan::DisplayMapping& own = {});

    // What the settings show: every channel (the hidden ones too, so that the list keeps its
    // order), or with a colormap the selected one alone.
    zelvan::DisplayMapping mapping() const;

    // A key as typed ('1' to '9', 'a', 'c', 'm', 'p'): true when it changed the mapping.
    //   '1'..'9': shows or hides that channel (1 is channel 0) and selects it;
    //   'a': every channel to its automatic limits; 'c': the selected channel's next curve;
    //   'm': the next colormap for the selected channel (after cividis, none: the channels again);
    //   'p': the panel shown or hidden (panelShown(); the mapping is unchanged).
    bool onKey(char key, const LimitsOf& limits);

    // Sets a channel's automatic limits; false when none were found.
    bool autoLimits(unsigned channel, const LimitsOf& limits);

    std::vector<zelvan::ChannelMapping>& channels() { return channels_; }
    const std::vector<zelvan::ChannelMapping>& channels() const { return channels_; }
    unsigned selected() const { return selected_; }
    void select(unsigned channel) { selected_ = channel < channels_.size() ? channel : selected_; }
    zelvan::Colormap& colormap() { return colormap_; }
    bool panelShown() const { return panelShown_; }

private:
    std::vector<zelvan::ChannelMapping> channels_;  // channels_[i].channel == i
    unsigned selected_ = 0;
    zelvan::Colormap colormap_ = zelvan::Colormap::None;
    bool panelShown_ = true;
};

}  // namespace zelvan_demo
