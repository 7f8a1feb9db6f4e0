#pragma once
// A stored chunk made samples: its bytes steps undone (blosc, zstd, gzip, zlib, crc32c), then its elements
// read in their byte order and stored order and written as the picture's sample type. Every length is
// checked against what the metadata declared: a chunk that decodes to anything else fails.
#include <cstdint>
#include <string>
#include <vector>

#include "zarr_metadata.h"

namespace zelvan {
namespace sources {
namespace detail {

// CRC-32C (Castagnoli) of `size` bytes, as the crc32c codec stores it (little-endian after the data).
std::uint32_t crc32c(const unsigned char* data, std::size_t size);

// Undoes `steps` (last first) on `bytes`, no step's output growing past `maxBytes`; false with one line.
// Throws std::bad_alloc.
bool undoSteps(const std::vector<BytesStep>& steps, std::vector<unsigned char>& bytes, std::size_t maxBytes,
               std::string& error);

// One chunk of `array` (array.chunk's shape) from its stored bytes into `samples`: array.type.sample
// values in C order over the chunk's axes. False with one line for a chunk that does not decode to
// exactly the chunk's elements. Throws std::bad_alloc.
bool decodeChunk(const ZarrArray& array, std::vector<unsigned char> stored,
                 std::vector<unsigned char>& samples, std::string& error);

// A shard's index as stored into (offset, length) pairs, one a slot; false with one line. A pair of all
// ones is an empty slot. Throws std::bad_alloc.
bool decodeShardIndex(const ZarrArray& array, std::vector<unsigned char> stored,
                      std::vector<std::uint64_t>& pairs, std::string& error);

// Writes `value` as one sample of `type` at `sample` (clamped to the type's range; NaN as 0 for integers).
void writeSample(SampleType type, double value, unsigned char* sample);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
