// OME-XML through the bounded XML reader (../parsers): the Pixels element of the first Image gives the
// pixel size, its Channel elements the names and colours. A colour is a signed 32-bit integer holding
// red, green, blue and alpha from its high byte down.
#include "ome_xml.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "parsers/format_xml.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// Micrometres in one `unit`; 0 for a unit that is not a length.
double micronsPer(const std::string& unit) {
    if (unit.empty() || unit == "\xC2\xB5m" || unit == "\xCE\xBCm" || unit == "um") return 1;
    if (unit == "nm") return 1e-3;
    if (unit == "\xC3\x85" || unit == "\xE2\x84\xAB") return 1e-4;  // angstrom, both code points
    if (unit == "mm") return 1e3;
    if (unit == "cm") return 1e4;
    if (unit == "m") return 1e6;
    return 0;
}

double physicalSize(const XmlElement& pixels, const char* axis) {
    const std::string* value = pixels.attribute(std::string("PhysicalSize") + axis);
    if (value == nullptr) return 0;
    const std::string* unit = pixels.attribute(std::string("PhysicalSize") + axis + "Unit");
    char* end = nullptr;
    const double size = std::strtod(value->c_str(), &end);
    const double scale = micronsPer(unit != nullptr ? *unit : std::string());
    if (end == value->c_str() || *end != '\0' || !std::isfinite(size) || size <= 0) return 0;
    return size * scale;
}

bool colourOf(const std::string& text, Rgb& colour) {
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || value < INT32_MIN || value > UINT32_MAX) return false;
    const auto rgba = static_cast<std::uint32_t>(value);
    colour = Rgb{double(rgba >> 24), double((rgba >> 16) & 0xFF), double((rgba >> 8) & 0xFF)};
    return true;
}

}  // namespace

bool looksLikeOmeXml(const std::string& text) {
    const std::size_t root = text.find("OME");
    return text.compare(0, 5, "<?xml") == 0 && root != std::string::npos && root < 512;
}

bool readOmeXml(const std::string& text, OmeXmlDescription& ome, std::string& why) {
    XmlLimits limits;
    limits.maxBytes = std::size_t{16} << 20;  // plates of many wells name every one
    limits.maxElements = 1000000;
    XmlElement root;
    if (!parseXml(text, root, why, limits)) return false;
    const XmlElement* image = root.name == "OME" ? root.child("Image") : nullptr;
    const XmlElement* pixels = image != nullptr ? image->child("Pixels") : nullptr;
    if (pixels == nullptr) {
        why = "OME-XML without an image";
        return false;
    }
    ome = OmeXmlDescription{};
    ome.pixelWidthMicrons = physicalSize(*pixels, "X");
    ome.pixelHeightMicrons = physicalSize(*pixels, "Y");
    for (const XmlElement& element : pixels->children) {
        if (element.name != "Channel") continue;
        OmeXmlChannel channel;
        if (const std::string* name = element.attribute("Name")) channel.name = *name;
        if (const std::string* colour = element.attribute("Color"))
            channel.coloured = colourOf(*colour, channel.colour);
        ome.channels.push_back(std::move(channel));
    }
    return true;
}

DisplayMapping omeMapping(const OmeXmlDescription& ome, const SampleLayout& layout) {
    DisplayMapping mapping = defaultMapping(layout);
    bool coloured = false;
    for (const OmeXmlChannel& c : ome.channels) coloured = coloured || c.coloured;
    if (!coloured || ome.channels.size() != layout.channels || mapping.channels.empty()) return mapping;
    const ChannelMapping limits = mapping.channels.front();
    mapping.channels.clear();
    for (unsigned i = 0; i < layout.channels; ++i) {
        ChannelMapping c = limits;
        c.channel = i;
        c.colour = ome.channels[i].coloured ? ome.channels[i].colour : Rgb{};
        mapping.channels.push_back(c);
    }
    return mapping;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
