// OME-NGFF's image attributes. A multiscale's own scale (applied after each dataset's) is taken into the
// pixel size; translations place nothing here, since a picture is shown whole.
#include "ome_metadata.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "parsers/format_json.h"
#include "zarr_metadata.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

using nlohmann::json;

std::string text(const json* value) { return value && value->is_string() ? value->get<std::string>() : ""; }

// Micrometres in one `unit`; 0 for a unit that is no length or unknown.
double micrometresPer(const std::string& unit) {
    static const struct {
        const char* name;
        double micrometres;
    } units[] = {{"micrometer", 1},   {"micron", 1},      {"nanometer", 1e-3}, {"millimeter", 1e3},
                 {"centimeter", 1e4}, {"meter", 1e6},     {"angstrom", 1e-4},  {"picometer", 1e-6},
                 {"decimeter", 1e5},  {"kilometer", 1e9}, {"inch", 25400},     {"foot", 304800}};
    for (const auto& u : units)
        if (unit == u.name) return u.micrometres;
    return 0;
}

bool axesFrom(const json* list, std::size_t dimensions, OmeAxes& axes, std::vector<std::string>& units,
              std::string& error) {
    std::vector<std::string> names;
    if (!list) {
        // Before axes were named: the dimensions are the last of t, c, z, y, x.
        const char* all[] = {"t", "c", "z", "y", "x"};
        for (std::size_t i = 5 - std::min<std::size_t>(dimensions, 5); i < 5; ++i) names.push_back(all[i]);
    } else if (list->is_array()) {
        for (const json& axis : *list) {
            names.push_back(axis.is_string() ? axis.get<std::string>() : text(member(axis, "name")));
            const std::string type = text(member(axis, "type"));
            if (type == "time" && names.back() != "t") names.back() = "t";
            if (type == "channel" && names.back() != "c") names.back() = "c";
            units.push_back(text(member(axis, "unit")));
        }
    }
    units.resize(names.size());
    if (names.size() < 2 || names.size() > 5) {
        error = "an image has 2 to 5 axes";
        return false;
    }
    axes.count = names.size();
    for (std::size_t i = 0; i < names.size(); ++i) {
        int* place = names[i] == "t"   ? &axes.t
                     : names[i] == "c" ? &axes.c
                     : names[i] == "z" ? &axes.z
                     : names[i] == "y" ? &axes.y
                     : names[i] == "x" ? &axes.x
                                       : nullptr;
        if (!place || *place >= 0) {
            error = "the axis \"" + printable(names[i]) + "\" is not one of t, c, z, y and x, or comes twice";
            return false;
        }
        *place = int(i);
    }
    if (axes.y < 0 || axes.x < 0) {
        error = "an image needs a y and an x axis";
        return false;
    }
    return true;
}

// The scale of a list of coordinate transformations, multiplied into `scale` (one factor an axis).
void applyScale(const json* transformations, std::vector<double>& scale) {
    if (!transformations || !transformations->is_array()) return;
    for (const json& t : *transformations) {
        const json* values = member(t, "scale");
        if (text(member(t, "type")) != "scale" || !values || !values->is_array() ||
            values->size() != scale.size())
            continue;
        for (std::size_t i = 0; i < scale.size(); ++i)
            scale[i] *= (*values)[i].is_number() ? (*values)[i].get<double>() : 0;
    }
}

bool safePath(const std::string& path) {
    if (path.empty() || path.size() > 256 || path.front() == '/' || path.find('\\') != std::string::npos)
        return false;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        for (const char c : part)
            if (static_cast<unsigned char>(c) < ' ' || c == '?' || c == '#' || c == '%') return false;
        start = end + 1;
    }
    return true;
}

unsigned hexDigit(char c) {
    return c >= '0' && c <= '9'   ? unsigned(c - '0')
           : c >= 'a' && c <= 'f' ? unsigned(c - 'a' + 10)
           : c >= 'A' && c <= 'F' ? unsigned(c - 'A' + 10)
                                  : 16;
}

void channelsFrom(const json* omero, std::vector<OmeroChannel>& channels) {
    const json* list = omero ? member(*omero, "channels") : nullptr;
    if (!list || !list->is_array()) return;
    for (const json& c : *list) {
        OmeroChannel channel;
        channel.label = text(member(c, "label"));
        const std::string colour = text(member(c, "color"));
        if (colour.size() == 6) {
            unsigned v[6];
            bool ok = true;
            for (int i = 0; i < 6; ++i) ok = ok && (v[i] = hexDigit(colour[i])) < 16;
            channel.hasColour = ok;
            if (ok)
                channel.colour = {double(v[0] * 16 + v[1]), double(v[2] * 16 + v[3]),
                                  double(v[4] * 16 + v[5])};
        }
        const json* window = member(c, "window");
        const json* start = window ? member(*window, "start") : nullptr;
        const json* end = window ? member(*window, "end") : nullptr;
        if (start && end && start->is_number() && end->is_number()) {
            channel.hasWindow = true;
            channel.start = start->get<double>();
            channel.end = end->get<double>();
        }
        const json* active = member(c, "active");
        channel.active = !(active && active->is_boolean()) || active->get<bool>();
        channels.push_back(std::move(channel));
        if (channels.size() > kMaxChannels) return;
    }
}

}  // namespace

bool parseOme(const json& attributes, OmeImage& image, std::string& error) {
    image = OmeImage{};
    const json* multiscales = member(attributes, "multiscales");
    if (!multiscales || !multiscales->is_array() || multiscales->empty() || !(*multiscales)[0].is_object()) {
        error = "no OME-NGFF multiscales in the attributes";
        return false;
    }
    const json& m = (*multiscales)[0];
    image.version = text(member(m, "version"));
    if (image.version.empty()) image.version = text(member(attributes, "version"));
    const json* datasets = member(m, "datasets");
    if (!datasets || !datasets->is_array() || datasets->empty() || datasets->size() > 64) {
        error = "the multiscales have no datasets, or more than 64";
        return false;
    }
    const json* axesList = member(m, "axes");
    std::size_t dimensions = 5;
    const json* firstScale = nullptr;
    const json* firstTransformations = member((*datasets)[0], "coordinateTransformations");
    if (firstTransformations && firstTransformations->is_array())
        for (const json& t : *firstTransformations)
            if (text(member(t, "type")) == "scale" && member(t, "scale") && member(t, "scale")->is_array())
                firstScale = member(t, "scale");
    if (!axesList && firstScale) dimensions = firstScale->size();
    std::vector<std::string> units;
    if (!axesFrom(axesList, dimensions, image.axes, units, error)) return false;
    for (const json& dataset : *datasets) {
        const std::string path = text(member(dataset, "path"));
        if (!safePath(path)) {
            error = "a dataset's path \"" + printable(path) + "\" is not a relative path in the store";
            return false;
        }
        image.paths.push_back(path);
    }
    std::vector<double> scale(image.axes.count, 1.0);
    applyScale(member((*datasets)[0], "coordinateTransformations"), scale);
    applyScale(member(m, "coordinateTransformations"), scale);
    const auto micrometres = [&](int axis) {
        const double size = scale[std::size_t(axis)] * micrometresPer(units[std::size_t(axis)]);
        return std::isfinite(size) && size > 0 ? size : 0.0;
    };
    image.pixelWidthMicrons = micrometres(image.axes.x);
    image.pixelHeightMicrons = micrometres(image.axes.y);
    channelsFrom(member(attributes, "omero"), image.channels);
    return true;
}

DisplayMapping omeroMapping(const OmeImage& image, const SampleLayout& layout) {
    const DisplayMapping fallback = defaultMapping(layout);
    if (image.channels.empty() || image.channels.size() > layout.channels || fallback.channels.empty())
        return fallback;
    DisplayMapping mapping;
    for (std::size_t i = 0; i < image.channels.size(); ++i) {
        const OmeroChannel& omero = image.channels[i];
        ChannelMapping c = fallback.channels[0];
        c.channel = unsigned(i);
        c.colour = omero.hasColour ? omero.colour : Rgb{};
        if (omero.hasWindow && omero.start != omero.end) c.min = omero.start, c.max = omero.end;
        c.visible = omero.active;
        mapping.channels.push_back(c);
    }
    return mapping.validate(layout).empty() ? mapping : fallback;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
