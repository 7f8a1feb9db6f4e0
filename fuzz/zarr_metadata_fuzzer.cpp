// libFuzzer target for OME-Zarr metadata and chunks, through the parsers and the decoding the zarr room
// uses, with no store. The first byte picks what the rest is: a .zarray (v2) or an array's zarr.json
// (v3), each followed after a NUL by a chunk to decode with it; OME attributes with their omero block;
// or a shard's index for a sharded array of 2 x 2 inner chunks. A refusal with its one-line reason is the
// right answer; a crash, hang, leak, sanitizer report, an exception, a multi-line reason, or metadata
// accepted past the bounds a read relies on (a chunk over 64 MiB decoded, more than 2^20 chunks a shard)
// is a fault.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "zarr/ome_metadata.h"
#include "zarr/zarr_codecs.h"

namespace {

using namespace zelvan::sources::detail;

[[noreturn]] void fault(const char* what, const std::string& detail) {
    std::fprintf(stderr, "zelvan fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

void checkLine(const std::string& error) {
    if (error.empty() || error.find('\n') != std::string::npos) fault("not one line", error);
}

void checkArray(const ZarrArray& array, const std::string& chunk) {
    std::uint64_t bytes = array.type.bytes;
    for (const std::uint64_t side : array.chunk) {
        if (side == 0 || bytes > kMaxChunkBytes / side) fault("chunk over the bound", std::to_string(side));
        bytes *= side;
    }
    if (array.chunk.size() != array.shape.size()) fault("chunk axes", "");
    if (!array.shard.empty() && shardSlots(array) > kMaxShardChunks) fault("shard slots", "");
    (void)chunkKey(array, "0", std::vector<std::uint64_t>(array.chunk.size(), 1));
    // A chunk to decode, only small ones: the bound holds, but decoding 64 MiB per input is slow.
    if (bytes > (std::uint64_t{1} << 20)) return;
    std::vector<unsigned char> samples;
    std::string error;
    if (decodeChunk(array, std::vector<unsigned char>(chunk.begin(), chunk.end()), samples, error)) {
        if (samples.size() != bytes / array.type.bytes * zelvan::sampleBytes(array.type.sample))
            fault("decoded size", std::to_string(samples.size()));
    } else {
        checkLine(error);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned mode = data[0] % 4;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t nul = rest.find('\0');
    const std::string text = rest.substr(0, nul);
    const std::string chunk = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
    try {
        nlohmann::json value;
        std::string error;
        if (mode == 3) {  // a shard index
            ZarrArray array;
            array.shape = array.shard = {2, 2};
            array.chunk = {1, 1};
            array.indexCodecs.steps.push_back(BytesStep{BytesStep::Kind::Crc32c});
            std::vector<std::uint64_t> pairs;
            if (decodeShardIndex(array, std::vector<unsigned char>(rest.begin(), rest.end()), pairs, error)) {
                if (pairs.size() != 8) fault("index size", std::to_string(pairs.size()));
            } else {
                checkLine(error);
            }
            return 0;
        }
        if (!parseMetadataJson(text, value, error)) {
            checkLine(error);
            return 0;
        }
        if (mode == 2) {
            OmeImage image;
            if (!parseOme(value, image, error)) {
                checkLine(error);
                return 0;
            }
            if (image.paths.empty() || image.paths.size() > 64 || image.axes.x < 0 || image.axes.y < 0)
                fault("image accepted", image.version);
            const zelvan::SampleLayout layout{zelvan::SampleType::UInt16, 3};
            if (!omeroMapping(image, layout).validate(layout).empty()) fault("mapping does not validate", "");
            return 0;
        }
        ZarrArray array;
        if (parseArray(value, mode == 0 ? 2 : 3, array, error))
            checkArray(array, chunk);
        else
            checkLine(error);
    } catch (const std::bad_alloc&) {
    } catch (const std::exception& e) {
        fault("exception", e.what());
    }
    return 0;
}
