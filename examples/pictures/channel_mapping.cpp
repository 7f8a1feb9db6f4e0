#include "channel_mapping.h"

#include <chrono>

#include "program.h"

namespace zelvan_demo {

namespace {

// How long a colormap without limits waits for the samples its limits come from.
constexpr std::chrono::seconds kLimitsWait{30};

}  // namespace

const char* const kChannelHelp =
    "show a channel of a picture of raw samples (16-bit, float, many channels): INDEX:#RRGGBB:MIN:MAX"
    "[:CURVE[:GAMMA]], its colour, the limits mapped to black and to the colour, the curve (linear, "
    "sqrt, log or asinh; a '-' before it inverts) and a gamma (0.1 to 10). Repeatable; the channels "
    "not named are hidden";
const char* const kColormapHelp =
    "colour one channel by a colormap (grey, viridis, magma, inferno, cividis): the channel a single "
    "--channel names, between its limits, or else channel 0 between its 0.5 and 99.5 percentiles";

MappingRequest parseMappingRequest(const std::vector<std::string>& channels, const std::string& colormap) {
    MappingRequest request;
    for (const std::string& text : channels) {
        zelvan::ChannelMapping channel;
        std::string error;
        if (!zelvan::parseChannel(text, channel, error)) throw DemoError("--channel: " + error);
        request.channels.push_back(channel);
    }
    if (!colormap.empty()) {
        if (!zelvan::parseColormap(colormap, request.colormap) || request.colormap == zelvan::Colormap::None)
            throw DemoError("--colormap: unknown colormap '" + colormap +
                            "': expected grey, viridis, magma, inferno or cividis");
        if (request.channels.size() > 1)
            throw DemoError("--colormap colours one channel: give at most one --channel with it");
    }
    return request;
}

zelvan::DisplayMapping mappingFor(const MappingRequest& request, zelvan::TileView& view,
                                  const std::string& name) {
    zelvan::DisplayMapping mapping;
    mapping.channels = request.channels;
    mapping.colormap = request.colormap;
    const zelvan::SampleLayout layout = view.sampleLayout();
    if (layout.type == zelvan::SampleType::Bgra8)
        throw DemoError(name + ": has colours of its own, no channels to map (--channel, --colormap)");
    if (mapping.channels.empty()) {
        view.waitUntilReady(kLimitsWait);
        const zelvan::ChannelLimits limits = view.autoLimits(0);
        if (!limits.found) throw DemoError(name + ": no limits found for channel 0 (no finite sample read)");
        mapping.channels.resize(1);
        mapping.channels[0].min = limits.min;
        mapping.channels[0].max = limits.max;
    }
    if (const std::string reason = mapping.validate(layout); !reason.empty())
        throw DemoError(name + ": " + reason);
    return mapping;
}

}  // namespace zelvan_demo
