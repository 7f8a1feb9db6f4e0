#pragma once
// What OME-NGFF attributes say of an image (versions 0.4 and 0.5, and the older forms of the axes):
// its levels' arrays, its axes, the size of a pixel, and its channels as its omero block shows them.
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "zelvan_mapping.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// Where each axis is among an array's dimensions; -1 when absent (y and x never are).
struct OmeAxes {
    int t = -1, c = -1, z = -1, y = -1, x = -1;
    std::size_t count = 0;
};

// A channel as "omero" describes it (named apart from disk/ome_xml.h's OmeChannel: one library, one
// namespace).
struct OmeroChannel {
    std::string label;
    bool hasColour = false, hasWindow = false, active = true;
    Rgb colour;
    double start = 0, end = 0;
};

struct OmeImage {
    std::string version;  // as the attributes say it, "0.4" or "0.5"
    OmeAxes axes;
    std::vector<std::string> paths;  // the levels' arrays, finest first, relative to the image
    double pixelWidthMicrons = 0, pixelHeightMicrons = 0;
    std::vector<OmeroChannel> channels;
};

// Reads the object holding "multiscales" (a v2 group's .zattrs, a v3 group's attributes.ome) into
// `image`: the first multiscale's datasets (1 to 64, each path relative, without ".." or "\"), its axes
// (2 to 5 of t, c, z, y and x, named or typed, y and x required), level 0's scale in micrometres (0 for an
// unknown unit), and the omero channels. False with one line saying why. Throws std::bad_alloc.
bool parseOme(const nlohmann::json& attributes, OmeImage& image, std::string& error);

// The mapping the omero block describes over `layout`: a channel a listed channel (colour, window as the
// limits, active as visible), each missing part the default's; defaultMapping(layout) when it lists none
// or what it lists does not validate. Throws std::bad_alloc.
DisplayMapping omeroMapping(const OmeImage& image, const SampleLayout& layout);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
