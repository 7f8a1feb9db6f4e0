#include "channel_controls.h"

#include <algorithm>
#include <iterator>

namespace zelvan_demo {

namespace {

// Colours for channels nobody named, by index: primaries first, as a three-channel picture expects.
const zelvan::Rgb kPalette[] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},   {0, 255, 255}, {255, 0, 255},
                                {255, 255, 0}, {255, 128, 0}, {128, 0, 255}, {0, 255, 128}, {255, 255, 255}};

// Whether `own` is no more than the type's default: the picture's file said nothing of its display, and
// automatic limits show it better than the type's whole range.
bool onlyDefault(const zelvan::DisplayMapping& own, const zelvan::SampleLayout& layout) {
    const zelvan::DisplayMapping plain = zelvan::defaultMapping(layout);
    if (own.colormap != plain.colormap || own.channels.size() != plain.channels.size()) return false;
    for (std::size_t i = 0; i < own.channels.size(); ++i) {
        const zelvan::ChannelMapping &a = own.channels[i], &b = plain.channels[i];
        if (a.channel != b.channel || a.visible != b.visible || a.min != b.min || a.max != b.max ||
            a.colour.red != b.colour.red || a.colour.green != b.colour.green ||
            a.colour.blue != b.colour.blue || a.curve != b.curve || a.gamma != b.gamma ||
            a.inverted != b.inverted)
            return false;
    }
    return true;
}

}  // namespace

ChannelControls::ChannelControls(const zelvan::SampleLayout& layout, const MappingRequest& request,
                                 const LimitsOf& limits, const zelvan::DisplayMapping& own)
    : colormap_(request.colormap) {
    const bool ownShown = !request.given() && !own.channels.empty() && !onlyDefault(own, layout);
    const zelvan::DisplayMapping typeRange = zelvan::defaultMapping({layout.type, 1});
    for (unsigned c = 0; c < layout.channels; ++c) {
        zelvan::ChannelMapping channel;
        channel.channel = c;
        channel.colour = layout.channels == 1 ? zelvan::Rgb{} : kPalette[c % std::size(kPalette)];
        channel.visible = !ownShown && request.channels.empty() && (layout.channels < 3 ? c == 0 : c < 3);
        if (!typeRange.channels.empty())
            channel.min = typeRange.channels[0].min, channel.max = typeRange.channels[0].max;
        channels_.push_back(channel);
        autoLimits(c, limits);
    }
    for (const zelvan::ChannelMapping& given : request.channels)
        if (given.channel < channels_.size()) channels_[given.channel] = given;
    if (!request.channels.empty())
        selected_ = std::min(request.channels.front().channel, layout.channels - 1);
    if (!ownShown) return;
    // The channels the picture's own mapping leaves out stay hidden, at their automatic limits.
    for (const zelvan::ChannelMapping& given : own.channels)
        if (given.channel < channels_.size()) channels_[given.channel] = given;
    colormap_ = own.colormap;
    selected_ = std::min(own.channels.front().channel, layout.channels - 1);
}

zelvan::DisplayMapping ChannelControls::mapping() const {
    zelvan::DisplayMapping mapping;
    mapping.colormap = colormap_;
    if (colormap_ == zelvan::Colormap::None) {
        mapping.channels = channels_;
    } else if (selected_ < channels_.size()) {
        mapping.channels = {channels_[selected_]};
        mapping.channels[0].visible = true;
    }
    return mapping;
}

bool ChannelControls::autoLimits(unsigned channel, const LimitsOf& limits) {
    if (channel >= channels_.size() || !limits) return false;
    const zelvan::ChannelLimits found = limits(channel);
    if (!found.found) return false;
    channels_[channel].min = found.min, channels_[channel].max = found.max;
    return true;
}

bool ChannelControls::onKey(char key, const LimitsOf& limits) {
    if (key >= '1' && key <= '9') {
        const unsigned channel = unsigned(key - '1');
        if (channel >= channels_.size()) return false;
        channels_[channel].visible = !channels_[channel].visible;
        selected_ = channel;
        return true;
    }
    switch (key) {
        case 'a': {
            bool any = false;
            for (unsigned c = 0; c < channels_.size(); ++c) any = autoLimits(c, limits) || any;
            return any;
        }
        case 'c': {
            zelvan::Curve& curve = channels_.at(selected_).curve;
            curve = zelvan::Curve((unsigned(curve) + 1) % (unsigned(zelvan::Curve::Asinh) + 1));
            return true;
        }
        case 'm':
            colormap_ =
                zelvan::Colormap((unsigned(colormap_) + 1) % (unsigned(zelvan::Colormap::Cividis) + 1));
            return true;
        case 'p':
            panelShown_ = !panelShown_;
            return false;
        default:
            return false;
    }
}

}  // namespace zelvan_demo
