#pragma once
// The OME-XML a microscope's TIFF carries in its first ImageDescription: its channels' names and colours
// and the physical size of a pixel. Zelvan joins an OME-TIFF's pages as channels; these say what each
// channel is and how its file asks for it to be shown.
#include <string>
#include <vector>

#include "zelvan_mapping.hpp"

namespace zelvan {
namespace sources {
namespace detail {

struct OmeXmlChannel {
    std::string name;  // empty where the file names none
    bool coloured = false;
    Rgb colour;  // when coloured
};

struct OmeXmlDescription {
    std::vector<OmeXmlChannel> channels;                   // of the first image, in order
    double pixelWidthMicrons = 0, pixelHeightMicrons = 0;  // 0 where not given
};

// Whether `text` is OME-XML (its root element OME, in any namespace). Cost: a look at its first bytes.
bool looksLikeOmeXml(const std::string& text);

// Reads the first image's channels and pixel size from OME-XML `text`; false with the reason in one line
// when it is not well-formed, breaks the parser's bounds, or has no image. Throws std::bad_alloc.
bool readOmeXml(const std::string& text, OmeXmlDescription& ome, std::string& why);

// The mapping the description asks for over a picture of `layout`: every channel the layout has shown,
// in its colour (the file's, else the default mapping's), between the limits of the default mapping;
// the default mapping itself when the description has no colour or its channels are not the layout's.
DisplayMapping omeMapping(const OmeXmlDescription& ome, const SampleLayout& layout);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
