#pragma once
// PNG files put together byte by byte, for the tests of damaged pictures (disk/ and remote/).
#include <zlib.h>

#include <cstdint>
#include <string>

namespace png_chunks {

inline std::string bigEndian(std::uint32_t value) {
    return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

// A chunk: its length, `type`, `data` and their CRC.
inline std::string pngChunk(const std::string& type, const std::string& data) {
    const std::string typed = type + data;
    const auto crc =
        std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), uInt(typed.size())));
    return bigEndian(std::uint32_t(data.size())) + typed + bigEndian(crc);
}

}  // namespace png_chunks
