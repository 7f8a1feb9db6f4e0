// Arrays' metadata, v2 and v3, into one form. Everything a read later trusts is checked here: sizes are
// multiplied only below their bounds, so no product overflows, and a type or codec this room cannot
// decode is refused by name before anything is fetched.
#include "zarr_metadata.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

#include "parsers/format_json.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

using nlohmann::json;

bool sizes(const json* value, std::vector<std::uint64_t>& out, const char* what, std::string& error) {
    out.clear();
    if (!value || !value->is_array() || value->empty() || value->size() > kMaxDimensions) {
        error = std::string(what) + " is not a list of 1 to 5 sizes";
        return false;
    }
    for (const json& side : *value) {
        if (!side.is_number_unsigned() || side.get<std::uint64_t>() == 0 ||
            side.get<std::uint64_t>() > kMaxLevelPixels) {
            error = std::string(what) + " holds a size that is not 1 to 2^40";
            return false;
        }
        out.push_back(side.get<std::uint64_t>());
    }
    return true;
}

// The product of `sides` times `bytes`, or past `limit` (limit + 1) as soon as it passes it.
std::uint64_t boundedProduct(const std::vector<std::uint64_t>& sides, std::uint64_t bytes,
                             std::uint64_t limit) {
    std::uint64_t product = bytes;
    for (const std::uint64_t side : sides) {
        if (side > limit || product > limit / side) return limit + 1;
        product *= side;
    }
    return product;
}

bool typeFrom(char kind, unsigned bytes, const std::string& name, ZarrType& type, std::string& error) {
    type.kind = kind;
    type.bytes = bytes;
    if (kind == 'u' && bytes == 1) {
        type.sample = SampleType::UInt8;
    } else if ((kind == 'i' && bytes == 1) || (kind == 'i' && bytes == 2)) {
        type.sample = SampleType::Int16;
    } else if (kind == 'u' && bytes == 2) {
        type.sample = SampleType::UInt16;
    } else if ((kind == 'f' && (bytes == 4 || bytes == 8)) || ((kind == 'u' || kind == 'i') && bytes == 4)) {
        type.sample = SampleType::Float32;
    } else {
        error = "samples of type " + printable(name) + " cannot be shown";
        return false;
    }
    return true;
}

bool typeV2(const json* dtype, ZarrType& type, std::string& error) {
    if (!dtype || !dtype->is_string()) {
        error = "the data type is not a simple type";
        return false;
    }
    const std::string name = dtype->get<std::string>();
    if (name.size() != 3 || (name[0] != '<' && name[0] != '>' && name[0] != '|') || name[2] < '1' ||
        name[2] > '8') {
        error = "samples of type " + printable(name) + " cannot be shown";
        return false;
    }
    type.bigEndian = name[0] == '>';
    return typeFrom(name[1], unsigned(name[2] - '0'), name, type, error);
}

bool typeV3(const json* dtype, ZarrType& type, std::string& error) {
    static const struct {
        const char* name;
        char kind;
        unsigned bytes;
    } known[] = {{"uint8", 'u', 1},  {"int8", 'i', 1},  {"uint16", 'u', 2},  {"int16", 'i', 2},
                 {"uint32", 'u', 4}, {"int32", 'i', 4}, {"float32", 'f', 4}, {"float64", 'f', 8}};
    const std::string name = dtype && dtype->is_string() ? dtype->get<std::string>() : "(not a name)";
    for (const auto& k : known)
        if (name == k.name) return typeFrom(k.kind, k.bytes, name, type, error);
    error = "samples of type " + printable(name) + " cannot be shown";
    return false;
}

bool fillFrom(const json* value, const ZarrType& type, double& fill, std::string& error) {
    fill = 0;
    if (!value || value->is_null()) return true;
    if (value->is_boolean())
        fill = value->get<bool>() ? 1 : 0;
    else if (value->is_number())
        fill = value->get<double>();
    else if (value->is_string()) {
        const std::string text = value->get<std::string>();
        if (text == "NaN")
            fill = std::numeric_limits<double>::quiet_NaN();
        else if (text == "Infinity")
            fill = std::numeric_limits<double>::infinity();
        else if (text == "-Infinity")
            fill = -std::numeric_limits<double>::infinity();
        else if (text.size() > 2 && text.compare(0, 2, "0x") == 0 && type.kind == 'f' &&
                 text.size() == 2 + 2 * type.bytes) {
            char* end = nullptr;
            const std::uint64_t bits = std::strtoull(text.c_str() + 2, &end, 16);
            if (end != text.c_str() + text.size() || text[2] == '-' || text[2] == '+' || text[2] == ' ') {
                error = "the fill value " + printable(text) + " is not a number";
                return false;
            }
            if (type.bytes == 4) {
                const std::uint32_t narrow = std::uint32_t(bits);
                float f;
                std::memcpy(&f, &narrow, 4);
                fill = f;
            } else {
                std::memcpy(&fill, &bits, 8);
            }
        } else {
            error = "the fill value " + printable(text) + " is not a number";
            return false;
        }
    } else {
        error = "the fill value is not a number";
        return false;
    }
    return true;
}

bool compressorV2(const json* compressor, ChunkCodecs& codecs, std::string& error) {
    if (!compressor || compressor->is_null()) return true;
    const json* id = member(*compressor, "id");
    const std::string name = id && id->is_string() ? id->get<std::string>() : "(unnamed)";
    BytesStep step;
    if (name == "blosc")
        step.kind = BytesStep::Kind::Blosc;
    else if (name == "zstd")
        step.kind = BytesStep::Kind::Zstd;
    else if (name == "gzip")
        step.kind = BytesStep::Kind::Gzip;
    else if (name == "zlib")
        step.kind = BytesStep::Kind::Zlib;
    else {
        error = "the compressor " + printable(name) + " is not known";
        return false;
    }
    codecs.steps.push_back(step);
    return true;
}

bool parseV2(const json& m, ZarrArray& array, std::string& error) {
    if (!sizes(member(m, "shape"), array.shape, "shape", error) ||
        !sizes(member(m, "chunks"), array.chunk, "chunks", error) ||
        !typeV2(member(m, "dtype"), array.type, error) ||
        !fillFrom(member(m, "fill_value"), array.type, array.fill, error) ||
        !compressorV2(member(m, "compressor"), array.codecs, error))
        return false;
    array.codecs.bigEndian = array.type.bigEndian;
    const json* order = member(m, "order");
    array.codecs.fortranOrder = order && order->is_string() && order->get<std::string>() == "F";
    const json* filters = member(m, "filters");
    if (filters && !filters->is_null() && !(filters->is_array() && filters->empty())) {
        error = "filters are not supported";
        return false;
    }
    const json* separator = member(m, "dimension_separator");
    array.separator = separator && separator->is_string() && separator->get<std::string>() == "/" ? '/' : '.';
    return true;
}

const json* configuration(const json& codec) {
    static const json empty = json::object();
    const json* c = member(codec, "configuration");
    return c && c->is_object() ? c : &empty;
}

bool transposeOrder(const json& config, std::size_t dimensions, std::vector<unsigned>& order,
                    std::string& error) {
    const json* o = member(config, "order");
    order.clear();
    if (o && o->is_string() && (*o == "C" || *o == "F")) {
        for (std::size_t i = 0; i < dimensions; ++i)
            order.push_back(unsigned(*o == "C" ? i : dimensions - 1 - i));
        return true;
    }
    std::vector<bool> seen(dimensions, false);
    if (o && o->is_array() && o->size() == dimensions)
        for (const json& axis : *o) {
            if (!axis.is_number_unsigned() || axis.get<std::uint64_t>() >= dimensions ||
                seen[axis.get<std::size_t>()])
                break;
            seen[axis.get<std::size_t>()] = true;
            order.push_back(axis.get<unsigned>());
        }
    if (order.size() != dimensions) error = "the transpose codec's order is not a permutation of the axes";
    return order.size() == dimensions;
}

// A v3 codec chain; `sharded`, when not null, takes a sharding codec (an inner one is refused).
bool chainV3(const json* codecs, std::size_t dimensions, ChunkCodecs& out, ZarrArray* sharded,
             std::string& error) {
    if (!codecs || !codecs->is_array()) {
        error = "codecs is not a list";
        return false;
    }
    bool arrayToBytes = false;
    for (const json& codec : *codecs) {
        const json* nameValue = codec.is_string() ? &codec : member(codec, "name");
        const std::string name =
            nameValue && nameValue->is_string() ? nameValue->get<std::string>() : "(unnamed)";
        const json& config = *configuration(codec);
        if (name == "transpose" && !arrayToBytes) {
            if (!transposeOrder(config, dimensions, out.transpose, error)) return false;
        } else if (name == "bytes" && !arrayToBytes) {
            const json* endian = member(config, "endian");
            out.bigEndian = endian && endian->is_string() && *endian == "big";
            arrayToBytes = true;
        } else if (name == "sharding_indexed" && !arrayToBytes && sharded && out.transpose.empty()) {
            ZarrArray& a = *sharded;
            a.shard = a.chunk;
            if (!sizes(member(config, "chunk_shape"), a.chunk, "the inner chunk shape", error)) return false;
            if (a.chunk.size() != dimensions) {
                error = "the inner chunk shape has another number of axes";
                return false;
            }
            for (std::size_t i = 0; i < dimensions; ++i)
                if (a.shard[i] % a.chunk[i] != 0) {
                    error = "the inner chunks do not divide the shard";
                    return false;
                }
            const json* location = member(config, "index_location");
            a.indexAtEnd = !(location && location->is_string() && *location == "start");
            ChunkCodecs inner;
            if (!chainV3(member(config, "codecs"), dimensions, inner, nullptr, error) ||
                !chainV3(member(config, "index_codecs"), 2, a.indexCodecs, nullptr, error))
                return false;
            for (const BytesStep& step : a.indexCodecs.steps)
                if (step.kind != BytesStep::Kind::Crc32c) {
                    error = "a shard index may only be checked by crc32c";
                    return false;
                }
            if (!a.indexCodecs.transpose.empty()) {
                error = "a shard index cannot be transposed";
                return false;
            }
            out = std::move(inner);
            arrayToBytes = true;
        } else if (arrayToBytes &&
                   (name == "blosc" || name == "gzip" || name == "zstd" || name == "crc32c")) {
            BytesStep step;
            step.kind = name == "blosc"  ? BytesStep::Kind::Blosc
                        : name == "gzip" ? BytesStep::Kind::Gzip
                        : name == "zstd" ? BytesStep::Kind::Zstd
                                         : BytesStep::Kind::Crc32c;
            out.steps.push_back(step);
        } else {
            error = "the codec " + printable(name) + " is not supported here";
            return false;
        }
    }
    if (!arrayToBytes) error = "the codecs turn no array into bytes";
    return arrayToBytes;
}

bool parseV3(const json& m, ZarrArray& array, std::string& error) {
    const json* grid = member(m, "chunk_grid");
    const json* gridName = grid ? member(*grid, "name") : nullptr;
    if (!gridName || *gridName != "regular") {
        error = "the chunk grid is not regular";
        return false;
    }
    if (!sizes(member(m, "shape"), array.shape, "shape", error) ||
        !sizes(member(*configuration(*grid), "chunk_shape"), array.chunk, "chunk_shape", error) ||
        !typeV3(member(m, "data_type"), array.type, error) ||
        !fillFrom(member(m, "fill_value"), array.type, array.fill, error) ||
        !chainV3(member(m, "codecs"), array.shape.size(), array.codecs, &array, error))
        return false;
    array.type.bigEndian = array.codecs.bigEndian;
    const json* encoding = member(m, "chunk_key_encoding");
    const json* encodingName = encoding ? member(*encoding, "name") : nullptr;
    const bool v2Keys = encodingName && *encodingName == "v2";
    if (encodingName && !v2Keys && *encodingName != "default") {
        error = "the chunk key encoding is not known";
        return false;
    }
    const json* separator = encoding ? member(*configuration(*encoding), "separator") : nullptr;
    array.prefixC = !v2Keys;
    array.separator =
        separator && separator->is_string() ? (*separator == "." ? '.' : '/') : (v2Keys ? '.' : '/');
    return true;
}

}  // namespace

bool parseArray(const json& metadata, unsigned version, ZarrArray& array, std::string& error) {
    array = ZarrArray{};
    array.version = version;
    if (!metadata.is_object()) {
        error = "the array's metadata is not an object";
        return false;
    }
    if (!(version == 3 ? parseV3(metadata, array, error) : parseV2(metadata, array, error))) return false;
    if (array.chunk.size() != array.shape.size()) {
        error = "the chunks have another number of axes than the array";
        return false;
    }
    if (boundedProduct(array.chunk, array.type.bytes, kMaxChunkBytes) > kMaxChunkBytes) {
        error = "a chunk would decode to more than 64 MiB";
        return false;
    }
    if (!array.shard.empty() && shardSlots(array) > kMaxShardChunks) {
        error = "a shard holds more than 2^20 chunks";
        return false;
    }
    return true;
}

std::uint64_t shardSlots(const ZarrArray& array) {
    std::uint64_t slots = 1;
    for (std::size_t i = 0; i < array.shard.size(); ++i) {
        const std::uint64_t ratio = array.shard[i] / array.chunk[i];
        if (ratio > kMaxShardChunks || slots > kMaxShardChunks / ratio) return kMaxShardChunks + 1;
        slots *= ratio;
    }
    return slots;
}

std::uint64_t shardIndexBytes(const ZarrArray& array) {
    std::uint64_t bytes = shardSlots(array) * 16;
    for (const BytesStep& step : array.indexCodecs.steps)
        if (step.kind == BytesStep::Kind::Crc32c) bytes += 4;
    return bytes;
}

std::string chunkKey(const ZarrArray& array, const std::string& path,
                     const std::vector<std::uint64_t>& chunkIndex, std::uint64_t* shardSlot) {
    std::string key = path.empty() ? std::string() : path + "/";
    if (array.prefixC) key += std::string("c") + array.separator;
    std::uint64_t slot = 0;
    for (std::size_t i = 0; i < chunkIndex.size(); ++i) {
        std::uint64_t stored = chunkIndex[i];
        if (!array.shard.empty()) {
            const std::uint64_t ratio = array.shard[i] / array.chunk[i];
            slot = slot * ratio + stored % ratio;
            stored /= ratio;
        }
        if (i > 0) key += array.separator;
        key += std::to_string(stored);
    }
    if (shardSlot) *shardSlot = slot;
    return key;
}

std::string printable(const std::string& name) {
    std::string shown = name.substr(0, 64);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7F) c = '?';
    return shown;
}

bool parseMetadataJson(const std::string& text, json& value, std::string& error) {
    JsonLimits limits;
    limits.maxBytes = kMaxMetadataBytes;
    limits.maxDepth = 64;
    limits.maxValues = 4000000;  // consolidated metadata of a plate names every well's arrays
    return parseJson(text, value, error, limits);
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
