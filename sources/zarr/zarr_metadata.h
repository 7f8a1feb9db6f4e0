#pragma once
// What a Zarr array's metadata says, Zarr v2 (.zarray) and v3 (zarr.json) alike, once checked against
// the bounds a picture's reads rely on: the shape, the chunk a read decodes (a shard's inner chunk when
// sharded), the sample type, the fill value and the codecs that turn a stored chunk into samples.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "zelvan_mapping.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// Bounds checked before anything is fetched: a level's pixels and side, a decoded chunk, the channels,
// a stored chunk (or inner chunk), and a shard's inner chunks.
constexpr std::uint64_t kMaxLevelPixels = std::uint64_t{1} << 40;
constexpr std::uint64_t kMaxSide = 0xFFFFFFFFu;
constexpr std::uint64_t kMaxChunkBytes = std::uint64_t{64} << 20;
constexpr std::uint64_t kMaxStoredChunkBytes = std::uint64_t{256} << 20;
constexpr std::uint64_t kMaxShardChunks = std::uint64_t{1} << 20;
constexpr std::size_t kMaxMetadataBytes = std::size_t{16} << 20;
constexpr std::size_t kMaxDimensions = 5;

// A stored sample: 'u', 'i' or 'f', its bytes, its byte order; and the type a read gives it.
struct ZarrType {
    char kind = 'u';
    unsigned bytes = 1;
    bool bigEndian = false;
    SampleType sample = SampleType::UInt8;
};

// One bytes-to-bytes step of a chunk's codecs, in the order they were applied when writing.
struct BytesStep {
    enum class Kind { Blosc, Zstd, Gzip, Zlib, Crc32c };
    Kind kind = Kind::Zstd;
};

// How one stored chunk becomes samples: the bytes steps undone last to first, then the elements read in
// their byte order and their stored order (C order, Fortran order, or C order over the axes permuted).
struct ChunkCodecs {
    std::vector<BytesStep> steps;
    bool bigEndian = false;
    bool fortranOrder = false;
    std::vector<unsigned> transpose;  // stored axis i is the array's axis transpose[i]; empty: none
};

struct ZarrArray {
    unsigned version = 2;
    std::vector<std::uint64_t> shape;
    std::vector<std::uint64_t> chunk;  // what a read decodes: a shard's inner chunk when sharded
    ZarrType type;
    double fill = 0;
    ChunkCodecs codecs;  // of `chunk`
    // Sharded (v3): `shard` the stored object's shape, its index's codecs and place.
    std::vector<std::uint64_t> shard;
    ChunkCodecs indexCodecs;
    bool indexAtEnd = true;
    // Chunk keys: separator, and v3's default encoding's "c" first.
    char separator = '.';
    bool prefixC = false;
};

// Parses a .zarray (version 2) or a zarr.json (version 3) of an array into `array`, checked against the
// bounds above; false with one line saying why (the type or codec refused is named). Throws std::bad_alloc.
bool parseArray(const nlohmann::json& metadata, unsigned version, ZarrArray& array, std::string& error);

// The store key of the stored object holding `chunkIndex` (read-unit coordinates) of the array at
// `path` ("" for the root), and, sharded, the inner chunk's place in its shard's index.
std::string chunkKey(const ZarrArray& array, const std::string& path,
                     const std::vector<std::uint64_t>& chunkIndex, std::uint64_t* shardSlot = nullptr);

// The inner chunks of one shard (1 unsharded), and the bytes of a shard's index as stored.
std::uint64_t shardSlots(const ZarrArray& array);
std::uint64_t shardIndexBytes(const ZarrArray& array);

// `name` (a type, a codec, an axis, a path from the metadata) fit for a one-line message: at most 64
// characters, control characters as '?'. Throws std::bad_alloc.
std::string printable(const std::string& name);

// Parses JSON text of at most kMaxMetadataBytes, at most 64 levels deep (through parsers/format_json);
// false with "not valid JSON (...)" or the bound broken, in one line. Throws
// nothing.
bool parseMetadataJson(const std::string& text, nlohmann::json& value, std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
