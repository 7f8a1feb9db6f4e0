// Deep Zoom: level L (the finest, L = ceil(log2(longer side))) down to 0 (one pixel), each half the one
// before, rounded up; tiles at <descriptor without its extension>_files/<level>/<column>_<row>.<format>,
// each carrying `Overlap` pixels past its inner edges. The view takes the levels down to the first that
// fits one of its tiles. The descriptor comes as XML or as its JSON form, {"Image": {..., "Size": {...}}},
// whose values may be strings or whole numbers.
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "parsers/format_json.h"
#include "parsers/format_xml.h"
#include "tile_layout.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

constexpr std::uint32_t kViewTile = 512;
constexpr std::uint32_t kMaxOverlap = 64;  // servers use 0 to 2; more only makes tiles larger

bool attributeNumber(const XmlElement* e, const char* key, unsigned long high, std::uint32_t& out) {
    const std::string* text = e ? e->attribute(key) : nullptr;
    if (!text || text->empty() || text->size() > 10) return false;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text->c_str(), &end, 10);
    if (*end != '\0' || (*text)[0] < '0' || (*text)[0] > '9' || value > high) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

// The JSON form's members as the XML form's attributes: strings as they are, whole numbers written out.
void attributesFrom(const nlohmann::json* object, XmlElement& element) {
    if (!object || !object->is_object()) return;
    for (auto m = object->begin(); m != object->end(); ++m) {
        if (m->is_string())
            element.attributes.emplace(m.key(), m->get<std::string>());
        else if (m->is_number_unsigned())
            element.attributes.emplace(m.key(), std::to_string(m->get<std::uint64_t>()));
    }
}

// The descriptor's Image element, from either form; false with the parser's reason.
bool readImage(const std::string& text, XmlElement& image, std::string& error) {
    const std::size_t first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    if (first == std::string::npos || text[first] != '{') return parseXml(text, image, error);
    nlohmann::json descriptor;
    if (!parseJson(text, descriptor, error)) return false;
    const nlohmann::json* json = member(descriptor, "Image");
    if (!json || !json->is_object()) return true;  // no Image: refused by the layout
    image.name = "Image";
    attributesFrom(json, image);
    XmlElement size;
    size.name = "Size";
    attributesFrom(member(*json, "Size"), size);
    image.children.push_back(std::move(size));
    return true;
}

bool layoutFromImage(const std::string& dziUrl, const XmlElement& image, TileLayout& layout,
                     std::string& error) {
    if (image.name != "Image") {
        error = "not a Deep Zoom descriptor (no Image element)";
        return false;
    }
    std::uint32_t tileSize = 0, overlap = 0, width = 0, height = 0;
    const XmlElement* size = image.child("Size");
    if (!attributeNumber(&image, "TileSize", kMaxTileSide, tileSize) || tileSize < kMinTileSide ||
        !attributeNumber(&image, "Overlap", kMaxOverlap, overlap) ||
        !attributeNumber(size, "Width", 0xFFFFFFFFul, width) || width == 0 ||
        !attributeNumber(size, "Height", 0xFFFFFFFFul, height) || height == 0) {
        error =
            "Deep Zoom descriptor: TileSize (64 to 2048), Overlap (0 to 64), Width and Height (1 to 2^32-1) "
            "are needed";
        return false;
    }
    const std::string* format = image.attribute("Format");
    bool plain = format && !format->empty() && format->size() <= 8;
    for (const char c : plain ? *format : std::string())
        plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
    if (!plain) {
        error = "Deep Zoom descriptor: no usable Format";
        return false;
    }

    // <base>_files/..., the query (a token, say) kept on every tile.
    std::string path = dziUrl, query;
    const std::size_t question = path.find('?');
    if (question != std::string::npos) {
        query = path.substr(question);
        path.erase(question);
    }
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
    const std::string base = path + "_files/";

    std::size_t finest = 0;  // ceil(log2(longer side))
    while ((std::uint64_t{1} << finest) < std::max(width, height)) ++finest;

    layout = TileLayout();
    layout.format = "dzi";
    layout.width = width;
    layout.height = height;
    for (std::size_t k = 0; k <= finest && k < zelvan::kMaxLevels; ++k) {
        GridLevel g;
        g.width = zelvan::levelSide(width, k);
        g.height = zelvan::levelSide(height, k);
        g.tileWidth = g.tileHeight = tileSize;
        g.overlap = overlap;
        layout.levels.push_back(g);
        if (g.width <= kViewTile && g.height <= kViewTile) break;
    }
    const std::string suffix = "." + *format + query;
    layout.tileUrl = [=](std::size_t level, std::uint32_t column, std::uint32_t row) {
        return base + std::to_string(finest - level) + "/" + std::to_string(column) + "_" +
               std::to_string(row) + suffix;
    };
    return true;
}

}  // namespace

bool dziLayout(const std::string& dziUrl, const std::string& text, TileLayout& layout, std::string& error) {
    try {
        XmlElement image;
        return readImage(text, image, error) && layoutFromImage(dziUrl, image, layout, error);
    } catch (const std::bad_alloc&) {
        error = "Deep Zoom descriptor: out of memory";
    } catch (...) {
        error = "Deep Zoom descriptor: cannot be read";
    }
    return false;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
