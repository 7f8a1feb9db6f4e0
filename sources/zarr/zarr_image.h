#pragma once
// An opened OME-Zarr image as every plane's source shares it: the store, the levels' metadata, what the
// picture is, and the decoded chunks kept in memory within a bound of bytes; and its planes as sources.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "lru_cache.h"
#include "ome_metadata.h"
#include "zarr_metadata.h"
#include "zarr_store.h"

namespace zelvan {
namespace sources {
namespace detail {

// Decoded chunks (and shards' indexes) by key, within a bound of bytes. A chunk several reads want at
// once is decoded by the first; the others wait for it. Thread-safe.
class ChunkCache {
public:
    // An empty vector: the chunk is missing (its fill value).
    using Chunk = std::shared_ptr<const std::vector<unsigned char>>;
    using Make = std::function<bool(Chunk& chunk, std::string& error)>;

    explicit ChunkCache(std::size_t limitBytes);
    // The chunk under `key`, made by `make` unless kept or being made by another read (then waited for,
    // until `control` cancels). False with one line when `make` fails or the read was cancelled. Throws
    // std::bad_alloc.
    bool get(const std::string& key, const Make& make, const TileReadControl& control, Chunk& chunk,
             std::string& error);

private:
    struct Cost {
        std::size_t operator()(const Chunk& chunk) const { return chunk->size() + 64; }
    };
    std::mutex mutex_;
    std::condition_variable made_;
    LruCache<std::string, Chunk, Cost> kept_;
    std::set<std::string> making_;
};

struct ZarrLevel {
    std::string path;  // the array's key prefix in the store
    ZarrArray array;
};

struct ZarrImage {
    std::shared_ptr<ZarrStore> store;
    std::vector<ZarrLevel> levels;  // finest first, each no larger than the one before
    OmeAxes axes;
    PictureInfo info;  // timePoint and depth 0; each plane's source sets its own
    SampleLayout layout;
    DisplayMapping mapping;
    std::unique_ptr<ChunkCache> cache;
};

// The decoded chunk of `level` at `chunkIndex` (read-unit coordinates, inner chunks for a sharded
// array), through the image's cache: a missing chunk or empty shard slot is an empty vector. False with
// one line for a chunk that fails to read or decode. Any thread. Throws std::bad_alloc.
bool readChunk(const ZarrImage& image, std::size_t level, const std::vector<std::uint64_t>& chunkIndex,
               const TileReadControl& control, ChunkCache::Chunk& chunk, std::string& error);

// The chunks of `level` at `chunkIndexes` into `chunks` (as readChunk each), for one read. From a remote
// store up to kChunksAtOnce are fetched at once, on threads of their own, so that a read waits about one
// round trip rather than one a chunk; on disk one after the other (decoding is the cost there, and the
// view's workers already share the cores). False with the first failure's line. Throws std::bad_alloc.
constexpr std::size_t kChunksAtOnce = 8;
bool readChunks(const ZarrImage& image, std::size_t level,
                const std::vector<std::vector<std::uint64_t>>& chunkIndexes, const TileReadControl& control,
                std::vector<ChunkCache::Chunk>& chunks, std::string& error);

// The plane (timePoint, depth) of `image` as a tile source of typed samples, sharing the image (in
// zarr_picture.cpp); null with one line in `error` for a plane out of range. Throws std::bad_alloc.
std::unique_ptr<PictureSource> zarrPlane(std::shared_ptr<const ZarrImage> image, unsigned timePoint,
                                         unsigned depth, std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
