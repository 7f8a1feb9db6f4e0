#pragma once
// The channels a user asks for on the command line (--channel INDEX:#RRGGBB:MIN:MAX[:CURVE[:GAMMA]],
// repeatable, and --colormap NAME) and the display mapping they make for a picture of raw samples.
#include <string>
#include <vector>

#include "zelvan_mapping.hpp"
#include "zelvan_tiles.hpp"

namespace zelvan_demo {

struct MappingRequest {
    std::vector<zelvan::ChannelMapping> channels;  // as given; only these are shown
    zelvan::Colormap colormap = zelvan::Colormap::None;
    // Whether anything was asked: the pictures are then opened for their raw samples.
    bool given() const { return !channels.empty() || colormap != zelvan::Colormap::None; }
};

// The options' texts read; throws DemoError with one line for a channel that is not of that form, an
// unknown curve or colormap, or a colormap with more than one channel.
MappingRequest parseMappingRequest(const std::vector<std::string>& channels, const std::string& colormap);

// The mapping `request` makes for the picture `view` shows: its channels as given; with a colormap,
// the one channel given, or channel 0 between its automatic limits (0.5 % and 99.5 %, waiting for
// the view's coarsest level). Throws DemoError naming `name` when the picture cannot show it: a
// picture of colours, a channel it lacks, min equal to max.
zelvan::DisplayMapping mappingFor(const MappingRequest& request, zelvan::TileView& view,
                                  const std::string& name);

// Help for the two options, shared by the programs.
extern const char* const kChannelHelp;
extern const char* const kColormapHelp;

}  // namespace zelvan_demo
