// Decompression goes into buffers of the size the metadata declared (plus a crc's four bytes), never
// of a size a stored header claims: a header claiming more fails before anything is allocated for it.
#include "zarr_codecs.h"

#include <blosc.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

bool bloscUndo(std::vector<unsigned char>& bytes, std::size_t maxBytes, std::string& error) {
    std::size_t size = 0;
    if (bytes.size() < BLOSC_MIN_HEADER_LENGTH ||
        blosc_cbuffer_validate(bytes.data(), bytes.size(), &size) != 0 || size > maxBytes) {
        error = "a chunk is not valid blosc data of the declared size";
        return false;
    }
    std::vector<unsigned char> out(size);
    if (size > 0 && blosc_decompress_ctx(bytes.data(), out.data(), out.size(), 1) != int(size)) {
        error = "a chunk's blosc data is damaged";
        return false;
    }
    bytes.swap(out);
    return true;
}

bool zstdUndo(std::vector<unsigned char>& bytes, std::size_t maxBytes, std::string& error) {
    ZSTD_DCtx* context = ZSTD_createDCtx();
    if (!context) throw std::bad_alloc();
    std::vector<unsigned char> out(maxBytes + 1);
    ZSTD_inBuffer in{bytes.data(), bytes.size(), 0};
    ZSTD_outBuffer to{out.data(), out.size(), 0};
    std::size_t left = 1;
    while (in.pos < in.size && to.pos < to.size) {
        left = ZSTD_decompressStream(context, &to, &in);
        if (ZSTD_isError(left)) break;
    }
    ZSTD_freeDCtx(context);
    if (ZSTD_isError(left) || left != 0 || in.pos != in.size || to.pos > maxBytes) {
        error = "a chunk's zstd data is damaged or larger than declared";
        return false;
    }
    out.resize(to.pos);
    bytes.swap(out);
    return true;
}

bool zlibUndo(std::vector<unsigned char>& bytes, std::size_t maxBytes, std::string& error) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 32) != Z_OK) throw std::bad_alloc();  // gzip or zlib, by the header
    std::vector<unsigned char> out(maxBytes + 1);
    stream.next_in = bytes.data();
    stream.avail_in = uInt(bytes.size());
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    const int result = inflate(&stream, Z_FINISH);
    const std::size_t made = out.size() - stream.avail_out;
    inflateEnd(&stream);
    if (result != Z_STREAM_END || made > maxBytes || bytes.size() > 0xFFFFFFFFu) {
        error = "a chunk's gzip or zlib data is damaged or larger than declared";
        return false;
    }
    out.resize(made);
    bytes.swap(out);
    return true;
}

bool crcUndo(std::vector<unsigned char>& bytes, std::string& error) {
    if (bytes.size() < 4) {
        error = "a chunk is too short for its crc32c";
        return false;
    }
    const std::size_t size = bytes.size() - 4;
    const std::uint32_t stored = std::uint32_t(bytes[size]) | std::uint32_t(bytes[size + 1]) << 8 |
                                 std::uint32_t(bytes[size + 2]) << 16 | std::uint32_t(bytes[size + 3]) << 24;
    if (crc32c(bytes.data(), size) != stored) {
        error = "a chunk's crc32c does not match";
        return false;
    }
    bytes.resize(size);
    return true;
}

std::uint64_t loadBits(const unsigned char* p, unsigned bytes, bool bigEndian) {
    std::uint64_t bits = 0;
    for (unsigned i = 0; i < bytes; ++i) bits |= std::uint64_t(p[bigEndian ? bytes - 1 - i : i]) << (8 * i);
    return bits;
}

double valueOf(const ZarrType& type, std::uint64_t bits) {
    if (type.kind == 'f') {
        if (type.bytes == 4) {
            const std::uint32_t narrow = std::uint32_t(bits);
            float f;
            std::memcpy(&f, &narrow, 4);
            return f;
        }
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }
    if (type.kind == 'i') {
        const unsigned shift = 64 - 8 * type.bytes;
        return double(std::int64_t(bits << shift) >> shift);
    }
    return double(bits);
}

}  // namespace

std::uint32_t crc32c(const unsigned char* data, std::size_t size) {
    static const struct Table {
        std::uint32_t entries[256];
        Table() {
            for (std::uint32_t i = 0; i < 256; ++i) {
                std::uint32_t c = i;
                for (int k = 0; k < 8; ++k) c = c & 1 ? (c >> 1) ^ 0x82F63B78u : c >> 1;
                entries[i] = c;
            }
        }
    } table;
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) crc = table.entries[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

bool undoSteps(const std::vector<BytesStep>& steps, std::vector<unsigned char>& bytes, std::size_t maxBytes,
               std::string& error) {
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        const std::size_t room = maxBytes + 4 * std::size_t(steps.rend() - step);  // the crcs still to undo
        bool ok = true;
        switch (step->kind) {
            case BytesStep::Kind::Blosc:
                ok = bloscUndo(bytes, room, error);
                break;
            case BytesStep::Kind::Zstd:
                ok = zstdUndo(bytes, room, error);
                break;
            case BytesStep::Kind::Gzip:
            case BytesStep::Kind::Zlib:
                ok = zlibUndo(bytes, room, error);
                break;
            case BytesStep::Kind::Crc32c:
                ok = crcUndo(bytes, error);
                break;
        }
        if (!ok) return false;
    }
    return true;
}

void writeSample(SampleType type, double value, unsigned char* sample) {
    const auto integer = [&](double low, double high) {
        return std::isnan(value) ? 0.0 : std::round(std::clamp(value, low, high));
    };
    if (type == SampleType::UInt8) {
        *sample = static_cast<unsigned char>(integer(0, 255));
    } else if (type == SampleType::UInt16) {
        const std::uint16_t v = static_cast<std::uint16_t>(integer(0, 65535));
        std::memcpy(sample, &v, 2);
    } else if (type == SampleType::Int16) {
        const std::int16_t v = static_cast<std::int16_t>(integer(-32768, 32767));
        std::memcpy(sample, &v, 2);
    } else {
        const float v = static_cast<float>(value);
        std::memcpy(sample, &v, 4);
    }
}

bool decodeChunk(const ZarrArray& array, std::vector<unsigned char> stored,
                 std::vector<unsigned char>& samples, std::string& error) {
    const std::size_t dimensions = array.chunk.size();
    std::size_t elements = 1;
    for (const std::uint64_t side : array.chunk) elements *= std::size_t(side);  // bounded at parsing
    const ZarrType& type = array.type;
    const std::size_t expected = elements * type.bytes;
    if (!undoSteps(array.codecs.steps, stored, expected, error)) return false;
    if (stored.size() != expected) {
        error =
            "a chunk decodes to " + std::to_string(stored.size()) + " bytes, not " + std::to_string(expected);
        return false;
    }
    // The stored axes: stored axis j is the chunk's axis order[j]; the destination stride of each.
    std::vector<unsigned> order = array.codecs.transpose;
    if (order.empty())
        for (std::size_t j = 0; j < dimensions; ++j)
            order.push_back(unsigned(array.codecs.fortranOrder ? dimensions - 1 - j : j));
    std::vector<std::size_t> logicalStride(dimensions, 1), storedSide(dimensions), stride(dimensions);
    for (std::size_t i = dimensions - 1; i > 0; --i) logicalStride[i - 1] = logicalStride[i] * array.chunk[i];
    for (std::size_t j = 0; j < dimensions; ++j) {
        storedSide[j] = std::size_t(array.chunk[order[j]]);
        stride[j] = logicalStride[order[j]];
    }
    const std::size_t outBytes = sampleBytes(type.sample);
    const bool sameBits =  // u1, u2, i2 as stored
        type.sample != SampleType::Float32 && outBytes == type.bytes && !type.bigEndian;
    const bool sameFloats = type.kind == 'f' && type.bytes == 4 && !type.bigEndian;
    bool inOrder = true;
    for (std::size_t j = 0; j < dimensions; ++j) inOrder = inOrder && order[j] == j;
    if ((sameBits || sameFloats) && inOrder) {  // the stored bytes are the samples: taken, not copied
        samples = std::move(stored);
        return true;
    }
    samples.resize(elements * outBytes);
    std::vector<std::size_t> index(dimensions, 0);
    std::size_t to = 0;
    const unsigned char* from = stored.data();
    for (std::size_t e = 0; e < elements; ++e, from += type.bytes) {
        unsigned char* sample = samples.data() + to * outBytes;
        if (sameBits || sameFloats)
            std::memcpy(sample, from, outBytes);
        else
            writeSample(type.sample, valueOf(type, loadBits(from, type.bytes, type.bigEndian)), sample);
        for (std::size_t j = dimensions; j-- > 0;) {  // the next stored element's place
            to += stride[j];
            if (++index[j] < storedSide[j]) break;
            to -= stride[j] * storedSide[j];
            index[j] = 0;
        }
    }
    return true;
}

bool decodeShardIndex(const ZarrArray& array, std::vector<unsigned char> stored,
                      std::vector<std::uint64_t>& pairs, std::string& error) {
    const std::size_t slots = std::size_t(shardSlots(array));
    if (!undoSteps(array.indexCodecs.steps, stored, slots * 16, error)) return false;
    if (stored.size() != slots * 16) {
        error = "a shard's index has the wrong length";
        return false;
    }
    pairs.resize(slots * 2);
    for (std::size_t i = 0; i < slots * 2; ++i)
        pairs[i] = loadBits(&stored[i * 8], 8, array.indexCodecs.bigEndian);
    return true;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
