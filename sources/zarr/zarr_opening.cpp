// Which metadata a store is read through: v3's zarr.json (its consolidated metadata when it holds
// some), else v2's consolidated .zmetadata (then no other metadata file is read), else .zattrs and each
// level's .zarray. The levels must agree on everything but their extent before any chunk is read.
#include "zarr_opening.h"

#include <future>
#include <nlohmann/json.hpp>

#include "parsers/format_json.h"
#include "zarr_image.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

using nlohmann::json;

// A store's metadata documents: fetched, or taken from what was consolidated.
class Metadata {
public:
    explicit Metadata(const ZarrStore& store) : store_(store) {}

    // 3 once the root's zarr.json was found, else 2.
    unsigned version() const { return version_; }

    // The root's: which version, and the group's attributes holding "multiscales". Zarr v2's documents are
    // asked for at the same time as v3's: over a link, one round trip instead of three.
    bool root(const std::string& prefix, json& attributes, std::string& error) {
        json document, listing, v2Attributes;
        std::string consolidatedError, attributesError;
        const bool known = haveConsolidated_;  // read here: the v3 path below may set it meanwhile
        auto v2Consolidated = std::async(std::launch::async, [&] {
            return known ? ZarrStore::Result::Missing
                         : fetch(prefix + ".zmetadata", listing, consolidatedError);
        });
        auto v2Group = std::async(std::launch::async,
                                  [&] { return fetch(prefix + ".zattrs", v2Attributes, attributesError); });
        ZarrStore::Result result = fetch(prefix + "zarr.json", document, error);
        if (result == ZarrStore::Result::Ok) {
            version_ = 3;
            if (const json* node = member(document, "node_type"); node && *node == "array") {
                error = "a Zarr array, not an OME-Zarr image (a group with multiscales)";
                return false;
            }
            const json* consolidated = member(document, "consolidated_metadata");
            if (const json* listed = consolidated ? member(*consolidated, "metadata") : nullptr;
                listed && listed->is_object())
                consolidated_ = *listed, consolidatedPrefix_ = prefix, haveConsolidated_ = true;
            const json* groupAttributes = member(document, "attributes");
            const json* ome = groupAttributes ? member(*groupAttributes, "ome") : nullptr;
            attributes = ome ? *ome : groupAttributes ? *groupAttributes : json::object();
            return true;
        }
        if (result == ZarrStore::Result::Failed) return false;
        version_ = 2;
        if (v2Consolidated.get() == ZarrStore::Result::Ok) {
            const json* listed = member(listing, "metadata");
            if (listed && listed->is_object())
                consolidated_ = *listed, consolidatedPrefix_ = prefix, haveConsolidated_ = true;
        }
        // Consolidated, the group's attributes are those listed; else the document fetched.
        const ZarrStore::Result fetched = v2Group.get();
        if (haveConsolidated_) {
            result = document_(prefix + ".zattrs", attributes, error);
        } else {
            result = fetched;
            attributes = std::move(v2Attributes);
            error = attributesError;
        }
        if (result == ZarrStore::Result::Missing)
            error = "neither zarr.json nor .zattrs found: not an OME-Zarr store";
        return result == ZarrStore::Result::Ok;
    }

    // An array's metadata under `path`.
    bool array(const std::string& path, ZarrArray& array, std::string& error) {
        json document;
        const std::string key = path + (version_ == 3 ? "/zarr.json" : "/.zarray");
        const ZarrStore::Result result = document_(key, document, error);
        if (result == ZarrStore::Result::Missing) error = key + ": missing";
        if (result != ZarrStore::Result::Ok) return false;
        if (!parseArray(document, version_, array, error)) {
            error = key + ": " + error;
            return false;
        }
        return true;
    }

private:
    ZarrStore::Result document_(const std::string& key, json& document, std::string& error) {
        if (!haveConsolidated_) return fetch(key, document, error);
        // Consolidated v3 metadata names the store's nodes by path, v2's by key.
        std::string name = key.substr(consolidatedPrefix_.size());
        if (version_ == 3) name = name.substr(0, name.rfind("/zarr.json"));
        const json* found = member(consolidated_, name.c_str());
        if (!found) return version_ == 3 ? fetch(key, document, error) : ZarrStore::Result::Missing;
        document = *found;
        return ZarrStore::Result::Ok;
    }

    ZarrStore::Result fetch(const std::string& key, json& document, std::string& error) {
        std::vector<unsigned char> bytes;
        const ZarrStore::Result result = store_.read(key, kMaxMetadataBytes, bytes, error, nullptr);
        if (result != ZarrStore::Result::Ok) return result;
        if (!parseMetadataJson(std::string(bytes.begin(), bytes.end()), document, error)) {
            error = key + ": " + error;
            return ZarrStore::Result::Failed;
        }
        return ZarrStore::Result::Ok;
    }

    const ZarrStore& store_;
    unsigned version_ = 2;
    json consolidated_;
    std::string consolidatedPrefix_;
    bool haveConsolidated_ = false;
};

// The levels agree on axes, type and channels, shrink, and stay within the bounds.
bool checkLevels(const OmeImage& ome, const std::vector<ZarrLevel>& levels, std::string& error) {
    const OmeAxes& axes = ome.axes;
    const ZarrArray& finest = levels[0].array;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const ZarrArray& a = levels[i].array;
        const std::string which = "level " + std::to_string(i) + ": ";
        if (a.shape.size() != axes.count) {
            error = which + "the array has " + std::to_string(a.shape.size()) + " axes, the image " +
                    std::to_string(axes.count);
            return false;
        }
        const std::uint64_t w = a.shape[std::size_t(axes.x)], h = a.shape[std::size_t(axes.y)];
        if (w > kMaxSide || h > kMaxSide || w * h > kMaxLevelPixels) {
            error = which + "larger than 2^40 pixels or 2^32 - 1 a side";
            return false;
        }
        if (a.type.kind != finest.type.kind || a.type.bytes != finest.type.bytes) {
            error = which + "its samples' type differs from level 0's";
            return false;
        }
        if (axes.c >= 0 && a.shape[std::size_t(axes.c)] != finest.shape[std::size_t(axes.c)]) {
            error = which + "its channels differ from level 0's";
            return false;
        }
        if (i > 0) {
            const ZarrArray& before = levels[i - 1].array;
            for (std::size_t d = 0; d < a.shape.size(); ++d)
                if (a.shape[d] > before.shape[d]) {
                    error = which + "larger than the level before";
                    return false;
                }
        }
    }
    if (axes.c >= 0 && finest.shape[std::size_t(axes.c)] > kMaxChannels) {
        error = "more than 64 channels";
        return false;
    }
    for (const int axis : {axes.t, axes.z})
        if (axis >= 0 && finest.shape[std::size_t(axis)] > 0x7FFFFFFF) {
            error = "more than 2^31 - 1 time points or depths";
            return false;
        }
    return true;
}

}  // namespace

std::unique_ptr<PictureSource> openZarr(std::shared_ptr<ZarrStore> store, const OpenOptions& options,
                                        std::string& error) {
    Metadata metadata(*store);
    json attributes;
    std::string prefix, why;
    OmeImage ome;
    bool parsed = metadata.root(prefix, attributes, why);
    // bioformats2raw's layout: the images are groups under the root, the first one "0".
    if (parsed && !member(attributes, "multiscales") && member(attributes, "bioformats2raw.layout")) {
        prefix = "0/";
        parsed = metadata.root(prefix, attributes, why);
    }
    if (!parsed || !parseOme(attributes, ome, why)) {
        error = store->name() + ": " + why;
        return nullptr;
    }
    auto image = std::make_shared<ZarrImage>();
    image->store = store;
    image->axes = ome.axes;
    // Every level's array is asked for at once: over a link, one round trip rather than one a level.
    image->levels.resize(ome.paths.size());
    std::vector<std::string> whys(ome.paths.size());
    std::vector<std::future<bool>> arrays;
    for (std::size_t i = 0; i < ome.paths.size(); ++i) {
        ZarrLevel& level = image->levels[i];
        level.path = prefix + ome.paths[i];
        arrays.push_back(std::async(std::launch::async, [&metadata, &level, &why = whys[i]] {
            return metadata.array(level.path, level.array, why);
        }));
    }
    for (std::size_t i = 0; i < arrays.size(); ++i)
        if (!arrays[i].get()) {
            error = store->name() + ": " + whys[i];
            return nullptr;
        }
    if (!checkLevels(ome, image->levels, why)) {
        error = store->name() + ": " + why;
        return nullptr;
    }
    const ZarrArray& finest = image->levels[0].array;
    const auto side = [&](int axis) {
        return axis < 0 ? 1u : unsigned(finest.shape[std::size_t(axis)]);  // bounded by checkLevels
    };
    PictureInfo& info = image->info;
    info.width = std::uint32_t(finest.shape[std::size_t(ome.axes.x)]);
    info.height = std::uint32_t(finest.shape[std::size_t(ome.axes.y)]);
    info.bands = side(ome.axes.c);
    info.bitsPerSample = finest.type.bytes * 8;
    info.floatSamples = finest.type.kind == 'f';
    info.signedSamples = finest.type.kind != 'u';
    info.format = metadata.version() == 3 ? "ome-zarr 0.5" : "ome-zarr 0.4";
    info.remote = store->remote();
    info.timePoints = side(ome.axes.t);
    info.depths = side(ome.axes.z);
    info.pixelWidthMicrons = ome.pixelWidthMicrons;
    info.pixelHeightMicrons = ome.pixelHeightMicrons;
    std::size_t largestChunk = 0;
    for (const ZarrLevel& level : image->levels) {
        const ZarrArray& a = level.array;
        info.levels.push_back({std::uint32_t(a.shape[std::size_t(ome.axes.x)]),
                               std::uint32_t(a.shape[std::size_t(ome.axes.y)])});
        std::size_t elements = sampleBytes(a.type.sample);
        for (const std::uint64_t s : a.chunk) elements *= std::size_t(s);
        largestChunk = std::max(largestChunk, elements);
    }
    for (std::size_t c = 0; c < info.bands; ++c)
        info.channelNames.push_back(c < ome.channels.size() ? ome.channels[c].label : std::string());
    image->layout = {finest.type.sample, info.bands};
    image->mapping = omeroMapping(ome, image->layout);
    // Room for a few of the largest chunks, so that neighbouring view tiles find theirs.
    image->cache =
        std::make_unique<ChunkCache>(std::max<std::size_t>(std::size_t{64} << 20, 2 * largestChunk));
    std::unique_ptr<PictureSource> plane = zarrPlane(image, options.timePoint, options.depth, why);
    if (!plane) error = store->name() + ": " + why;
    return plane;
}

std::unique_ptr<PictureSource> openZarrDirectory(const std::string& path, const OpenOptions& options,
                                                 std::string& error) {
    try {
        return openZarr(diskZarrStore(path), options, error);
    } catch (...) {
        error = path + ": out of memory";
        return nullptr;
    }
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
