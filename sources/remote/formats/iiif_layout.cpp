// IIIF Image API 2 and 3. The declared tiles give a level for each power-of-two scale factor from 1 up;
// a server of compliance level 1 or 2 also draws any region at any size, which gives the coarser levels
// down to one view tile; a level 0 server is asked for nothing it did not declare: its tiles, and the
// whole picture at its declared sizes.
#include <cmath>
#include <nlohmann/json.hpp>

#include "parsers/format_json.h"
#include "tile_layout.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

using Json = nlohmann::json;

constexpr double kMaxSide = 4294967295.0;   // 2^32 - 1
constexpr std::uint32_t kRegionTile = 512;  // the tile view's own grid, for region requests

// What the levels and URLs are made of, read from info.json.
struct IiifInfo {
    bool version3 = false;
    bool level0 = true;  // compliance level 0: only what was declared is asked for
    std::uint32_t width = 0, height = 0;
    std::string base;    // where the image's URLs begin, without a trailing '/'
    std::string format;  // the tiles' file extension
    bool tiled = false;  // tiles declared
    std::uint32_t tileWidth = 0, tileHeight = 0;
    std::size_t tileLevels = 0;  // the declared scale factors 1, 2, 4, ... without a gap
};

// How a view level is asked for: a scale factor of 2^scale, or the whole picture at the level's size.
struct LevelRequest {
    std::uint32_t scale = 0;
    bool whole = false;
};

bool wholeNumber(const Json* v, double low, double high, std::uint32_t& out) {
    if (!v || !v->is_number()) return false;
    const double number = v->get<double>();
    if (!(number >= low && number <= high) || number != std::floor(number)) return false;
    out = static_cast<std::uint32_t>(number);
    return true;
}

bool mentions(const Json* v, const std::string& word) {
    if (!v) return false;
    if (v->is_string()) return v->get_ref<const std::string&>().find(word) != std::string::npos;
    if (v->is_array())
        for (const Json& item : *v)
            if (mentions(&item, word)) return true;
    return false;
}

bool isText(const Json* v, const char* text) {
    return v && v->is_string() && v->get_ref<const std::string&>() == text;
}

// A format named by the server: letters and digits only, as it goes into the URL.
bool plainWord(const Json& v) {
    if (!v.is_string()) return false;
    const std::string& text = v.get_ref<const std::string&>();
    if (text.empty() || text.size() > 8) return false;
    for (const char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

std::string firstFormat(const Json* list) {
    if (list && list->is_array())
        for (const Json& item : *list)
            if (plainWord(item)) return item.get<std::string>();
    return {};
}

std::uint32_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return static_cast<std::uint32_t>((a + b - 1) / b);
}

bool readVersionAndSize(const Json& info, IiifInfo& iiif, std::string& error) {
    if (!info.is_object()) {
        error = "not an IIIF info.json (not a JSON object)";
        return false;
    }
    const Json* context = member(info, "@context");
    iiif.version3 = mentions(context, "/image/3") || isText(member(info, "type"), "ImageService3");
    if (!iiif.version3 && !mentions(context, "/image/2") && !member(info, "protocol")) {
        error = "not an IIIF info.json (no IIIF context)";
        return false;
    }
    if (!wholeNumber(member(info, "width"), 1, kMaxSide, iiif.width) ||
        !wholeNumber(member(info, "height"), 1, kMaxSide, iiif.height)) {
        error = "IIIF info.json: width and height must be whole numbers from 1 to 2^32-1";
        return false;
    }
    return true;
}

// Where the image's URLs begin: its id, else the address info.json came from.
bool readBase(const std::string& infoUrl, const Json& info, IiifInfo& iiif, std::string& error) {
    const Json* id = member(info, iiif.version3 ? "id" : "@id");
    if (!id || !id->is_string()) id = member(info, iiif.version3 ? "@id" : "id");
    std::string& base = iiif.base;
    if (id && id->is_string() && !id->get_ref<const std::string&>().empty()) {
        base = id->get<std::string>();
    } else {
        base = infoUrl;
        const std::size_t slash = base.rfind('/');
        if (slash != std::string::npos) base.erase(slash);
    }
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::string scheme = base.substr(0, base.find("://"));
    for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if ((scheme != "http" && scheme != "https") || base.find("://") == std::string::npos ||
        base.find_first_of(" \t\r\n\"<>") != std::string::npos) {
        error = "IIIF info.json: its id is not an http or https URL";
        return false;
    }
    return true;
}

// Compliance (level 0 unless the profile says more) and the tiles' format: version 3's preferred one,
// version 2's declared one where the server does not also offer jpg.
void readProfile(const Json& info, IiifInfo& iiif) {
    const Json* profile = member(info, "profile");
    iiif.level0 = !(mentions(profile, "level1") || mentions(profile, "level2"));
    if (iiif.version3) {
        iiif.format = firstFormat(member(info, "preferredFormats"));
    } else if (profile && profile->is_array()) {
        for (const Json& item : *profile) {
            const Json* formats = member(item, "formats");
            const std::string declared = firstFormat(formats);
            if (declared.empty()) continue;
            bool jpg = false;
            for (const Json& f : *formats) jpg = jpg || isText(&f, "jpg");
            if (!jpg) iiif.format = declared;
        }
    }
    if (iiif.format.empty()) iiif.format = "jpg";
}

// The declared tiles (the first set: servers list their grid first) and how many levels, from scale
// factor 1 up, they give without a gap.
bool readTiles(const Json& info, IiifInfo& iiif, std::string& error) {
    const Json* tiles = member(info, "tiles");
    if (!tiles || !tiles->is_array() || tiles->empty()) return true;
    const Json& first = tiles->front();
    if (!wholeNumber(member(first, "width"), kMinTileSide, kMaxTileSide, iiif.tileWidth)) {
        error = "IIIF info.json: a tile width must be a whole number from 64 to 2048";
        return false;
    }
    iiif.tileHeight = iiif.tileWidth;
    if (member(first, "height") &&
        !wholeNumber(member(first, "height"), kMinTileSide, kMaxTileSide, iiif.tileHeight)) {
        error = "IIIF info.json: a tile height must be a whole number from 64 to 2048";
        return false;
    }
    iiif.tiled = true;
    std::vector<bool> factors(zelvan::kMaxLevels, false);  // factors[k]: scale factor 2^k declared
    const Json* scales = member(first, "scaleFactors");
    bool any = false;
    for (std::size_t i = 0; scales && scales->is_array() && i < scales->size(); ++i) {
        const Json& s = (*scales)[i];
        std::uint32_t factor = 0;
        // Not a power of two: no level of the view.
        if (!wholeNumber(&s, 1, 2147483648.0, factor) || (factor & (factor - 1)) != 0) continue;
        std::size_t k = 0;
        while ((std::uint32_t{1} << k) < factor) ++k;
        factors[k] = any = true;
    }
    if (!any) factors[0] = true;  // no factors: full resolution only
    while (iiif.tileLevels < factors.size() && factors[iiif.tileLevels]) ++iiif.tileLevels;
    return true;
}

// The levels from the declared tiles, then, from a server that draws regions, coarser ones in the
// view's own grid while the level before needs more than one view tile.
void addTiledLevels(const IiifInfo& iiif, TileLayout& layout, std::vector<LevelRequest>& requests) {
    for (std::size_t k = 0; k < zelvan::kMaxLevels; ++k) {
        const bool fromTiles = k < iiif.tileLevels;
        if (!fromTiles && (iiif.level0 || (k > 0 && layout.levels.back().width <= kRegionTile &&
                                           layout.levels.back().height <= kRegionTile)))
            break;
        GridLevel g;
        g.width = zelvan::levelSide(iiif.width, k);
        g.height = zelvan::levelSide(iiif.height, k);
        g.tileWidth = fromTiles ? iiif.tileWidth : kRegionTile;
        g.tileHeight = fromTiles ? iiif.tileHeight : kRegionTile;
        layout.levels.push_back(g);
        requests.push_back(LevelRequest{static_cast<std::uint32_t>(k), false});
    }
}

// Past its tiles, a level 0 server may still offer the whole picture at the declared sizes: each one
// that is half the level before gives a level, fetched whole.
void addWholeLevels(const Json* sizes, TileLayout& layout, std::vector<LevelRequest>& requests) {
    while (sizes && sizes->is_array() && layout.levels.size() < zelvan::kMaxLevels &&
           (layout.levels.back().width > kRegionTile || layout.levels.back().height > kRegionTile)) {
        const GridLevel finer = layout.levels.back();
        GridLevel g;
        bool found = false;
        for (const Json& size : *sizes) {
            found = wholeNumber(member(size, "width"), 1, kMaxTileSide, g.width) &&
                    wholeNumber(member(size, "height"), 1, kMaxTileSide, g.height) &&
                    zelvan::isHalving(finer.width, g.width) && zelvan::isHalving(finer.height, g.height);
            if (found) break;
        }
        if (!found) return;
        g.tileWidth = g.width;
        g.tileHeight = g.height;
        layout.levels.push_back(g);
        requests.push_back(LevelRequest{0, true});
    }
}

// A tile's URL: the region in full-resolution pixels and the size it is drawn at (version 2 gives only
// the width), or the whole picture at a declared size.
std::string tileUrl(const IiifInfo& iiif, const GridLevel& g, LevelRequest request, std::uint32_t column,
                    std::uint32_t row) {
    const std::string tail = "/0/default." + iiif.format;
    if (request.whole)
        return iiif.base + "/full/" + std::to_string(g.width) + "," +
               (iiif.version3 ? std::to_string(g.height) : std::string()) + tail;
    const std::uint64_t factor = std::uint64_t{1} << request.scale;
    const std::uint64_t x = std::uint64_t{column} * g.tileWidth * factor;
    const std::uint64_t y = std::uint64_t{row} * g.tileHeight * factor;
    const std::uint64_t w = std::min<std::uint64_t>(std::uint64_t{g.tileWidth} * factor, iiif.width - x);
    const std::uint64_t h = std::min<std::uint64_t>(std::uint64_t{g.tileHeight} * factor, iiif.height - y);
    const std::string size = std::to_string(ceilDiv(w, factor)) + "," +
                             (iiif.version3 ? std::to_string(ceilDiv(h, factor)) : std::string());
    return iiif.base + "/" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," +
           std::to_string(h) + "/" + size + tail;
}

bool layoutFromInfo(const std::string& infoUrl, const Json& info, TileLayout& layout, std::string& error) {
    IiifInfo iiif;
    if (!readVersionAndSize(info, iiif, error) || !readBase(infoUrl, info, iiif, error)) return false;
    readProfile(info, iiif);
    if (!readTiles(info, iiif, error)) return false;
    if (!iiif.tiled && iiif.level0) {
        error = "IIIF info.json: a level 0 server without tiles cannot be read a region at a time";
        return false;
    }
    layout = TileLayout();
    layout.format = iiif.version3 ? "iiif 3" : "iiif 2";
    layout.width = iiif.width;
    layout.height = iiif.height;
    layout.scaledRegions = true;
    std::vector<LevelRequest> requests;
    addTiledLevels(iiif, layout, requests);
    if (layout.levels.empty()) {
        error = "IIIF info.json: no tiles at full resolution";
        return false;
    }
    if (iiif.level0) addWholeLevels(member(info, "sizes"), layout, requests);
    const std::vector<GridLevel> levels = layout.levels;
    layout.tileUrl = [iiif, levels, requests](std::size_t level, std::uint32_t column, std::uint32_t row) {
        return tileUrl(iiif, levels[level], requests[level], column, row);
    };
    return true;
}

}  // namespace

bool iiifLayout(const std::string& infoUrl, const std::string& infoText, TileLayout& layout,
                std::string& error) {
    try {
        Json info;
        return parseJson(infoText, info, error) && layoutFromInfo(infoUrl, info, layout, error);
    } catch (const std::bad_alloc&) {
        error = "IIIF info.json: out of memory";
    } catch (...) {
        error = "IIIF info.json: cannot be read";
    }
    return false;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
