// A read assembles the chunks covering its rectangle, fetched together, each channel's row of samples copied
// from its place in the decoded chunk; a missing chunk writes the fill value. The plane's t and z are scaled
// into levels that were made coarser along them too.
#include <algorithm>
#include <cstring>

#include "zarr_codecs.h"
#include "zarr_image.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// Samples a fixed distance apart in a read's row: one channel of its pixels.
struct Strided {
    unsigned char* first;
    std::size_t step;
};

// `count` samples of `Bytes` bytes `fromStep` bytes apart into `into`: a copy the compiler makes a move of
// registers, where one memcpy a sample of a size known only at run time would be a call.
template <std::size_t Bytes>
void copyFixed(Strided into, const unsigned char* from, std::size_t fromStep, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, into.first += into.step, from += fromStep)
        std::memcpy(into.first, from, Bytes);
}

void copySamples(Strided into, const unsigned char* from, std::size_t fromStep, std::size_t bytes,
                 std::size_t count) {
    switch (bytes) {
        case 1:
            return copyFixed<1>(into, from, fromStep, count);
        case 2:
            return copyFixed<2>(into, from, fromStep, count);
        case 4:
            return copyFixed<4>(into, from, fromStep, count);
        default:
            for (std::size_t i = 0; i < count; ++i, into.first += into.step, from += fromStep)
                std::memcpy(into.first, from, bytes);
    }
}

// The fill value's sample into `count` places.
void fillSamples(Strided into, const unsigned char* fill, std::size_t bytes, std::size_t count) {
    copySamples(into, fill, 0, bytes, count);
}

class ZarrPicture : public PictureSource {
public:
    ZarrPicture(std::shared_ptr<const ZarrImage> image, unsigned timePoint, unsigned depth)
        : image_(std::move(image)), info_(image_->info) {
        info_.timePoint = timePoint;
        info_.depth = depth;
    }

    std::size_t levelCount() const override { return image_->levels.size(); }
    TileSize levelSize(std::size_t level) const override {
        const ZarrLevel& l = image_->levels.at(level);
        return {std::uint32_t(l.array.shape[std::size_t(image_->axes.x)]),
                std::uint32_t(l.array.shape[std::size_t(image_->axes.y)])};
    }
    SampleLayout sampleLayout() const override { return image_->layout; }
    DisplayMapping displayMapping() const override { return image_->mapping; }
    const PictureInfo& info() const override { return info_; }
    TransferStats transfers() const override { return image_->store->transfers(); }
    std::string lastError() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastError_;
    }
    std::unique_ptr<PictureSource> openPlane(unsigned timePoint, unsigned depth,
                                             std::string& error) const override {
        try {
            return zarrPlane(image_, timePoint, depth, error);
        } catch (...) {
            error = "out of memory";
            return nullptr;
        }
    }

    bool readSamples(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                     std::uint32_t height, void* samples, std::size_t pitch,
                     TileReadControl& control) override {
        std::string error;
        bool read = false;
        try {
            read = assemble(level, x, y, width, height, static_cast<unsigned char*>(samples), pitch, control,
                            error);
        } catch (...) {
            error = "out of memory";
        }
        if (!read && !control.cancelled()) {
            std::lock_guard<std::mutex> lock(mutex_);
            lastError_ = error;
        }
        return read;
    }

private:
    // The plane's index along `axis` at `level`, scaled when the level is coarser along it.
    std::uint64_t planeIndex(const ZarrArray& array, int axis, unsigned index) const {
        if (axis < 0) return 0;
        const std::uint64_t finest = image_->levels[0].array.shape[std::size_t(axis)];
        const std::uint64_t here = array.shape[std::size_t(axis)];
        return std::min(here - 1, std::uint64_t(index) * here / finest);
    }

    bool assemble(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                  std::uint32_t height, unsigned char* samples, std::size_t pitch, TileReadControl& control,
                  std::string& error) {
        const ZarrImage& image = *image_;
        if (level >= image.levels.size()) {
            error = "no such level";
            return false;
        }
        const ZarrArray& array = image.levels[level].array;
        const OmeAxes& axes = image.axes;
        const std::size_t ax = std::size_t(axes.x), ay = std::size_t(axes.y);
        if (width == 0 || height == 0 || std::uint64_t(x) + width > array.shape[ax] ||
            std::uint64_t(y) + height > array.shape[ay]) {
            error = "the rectangle is outside the level";
            return false;
        }
        const std::size_t dimensions = array.shape.size();
        const SampleType type = image.layout.type;
        const std::size_t bytes = sampleBytes(type), channels = image.layout.channels;
        std::vector<std::uint64_t> at(dimensions, 0), chunkIndex(dimensions, 0);  // a sample, its chunk
        if (axes.t >= 0) at[std::size_t(axes.t)] = planeIndex(array, axes.t, info_.timePoint);
        if (axes.z >= 0) at[std::size_t(axes.z)] = planeIndex(array, axes.z, info_.depth);
        std::vector<std::size_t> stride(dimensions, 1);  // in the decoded chunk
        for (std::size_t i = dimensions - 1; i > 0; --i)
            stride[i - 1] = stride[i] * std::size_t(array.chunk[i]);
        for (std::size_t i = 0; i < dimensions; ++i) chunkIndex[i] = at[i] / array.chunk[i];
        const std::uint64_t cy = array.chunk[ay], cx = array.chunk[ax];
        const std::uint64_t cc = axes.c >= 0 ? array.chunk[std::size_t(axes.c)] : channels;
        unsigned char fill[4];
        writeSample(type, array.fill, fill);
        // Every chunk the rectangle meets, fetched together; then each copied out.
        struct Part {
            std::uint64_t row, column, first;
        };
        std::vector<Part> parts;
        std::vector<std::vector<std::uint64_t>> indexes;
        for (std::uint64_t row = y / cy; row * cy < std::uint64_t(y) + height; ++row)
            for (std::uint64_t column = x / cx; column * cx < std::uint64_t(x) + width; ++column)
                for (std::uint64_t first = 0; first < channels; first += cc) {
                    chunkIndex[ay] = row;
                    chunkIndex[ax] = column;
                    if (axes.c >= 0) chunkIndex[std::size_t(axes.c)] = first / cc;
                    parts.push_back({row, column, first});
                    indexes.push_back(chunkIndex);
                }
        std::vector<ChunkCache::Chunk> chunks;
        if (!readChunks(image, level, indexes, control, chunks, error)) return false;
        std::size_t base = 0;  // where the plane starts in a chunk
        for (std::size_t i = 0; i < dimensions; ++i)
            if (int(i) != axes.x && int(i) != axes.y && int(i) != axes.c)
                base += std::size_t(at[i] % array.chunk[i]) * stride[i];
        const std::size_t channelStride = axes.c >= 0 ? stride[std::size_t(axes.c)] : 0;
        for (std::size_t p = 0; p < parts.size(); ++p) {
            const Part& part = parts[p];
            const ChunkCache::Chunk& chunk = chunks[p];
            // The chunk's part of the rectangle.
            const std::uint64_t top = std::max<std::uint64_t>(y, part.row * cy);
            const std::uint64_t bottom =
                std::min<std::uint64_t>(std::uint64_t(y) + height, (part.row + 1) * cy);
            const std::uint64_t left = std::max<std::uint64_t>(x, part.column * cx);
            const std::uint64_t right =
                std::min<std::uint64_t>(std::uint64_t(x) + width, (part.column + 1) * cx);
            const std::uint64_t last = std::min<std::uint64_t>(channels, part.first + cc);
            for (std::uint64_t r = top; r < bottom; ++r) {
                unsigned char* out = samples + std::size_t(r - y) * pitch +
                                     std::size_t(left - x) * channels * bytes +
                                     std::size_t(part.first) * bytes;
                const std::size_t place = base + std::size_t(r - part.row * cy) * stride[ay] +
                                          std::size_t(left - part.column * cx) * stride[ax];
                for (std::uint64_t k = part.first; k < last; ++k, out += bytes) {
                    const Strided into{out, channels * bytes};
                    const std::size_t n = std::size_t(right - left);
                    if (chunk->empty())
                        fillSamples(into, fill, bytes, n);
                    else
                        copySamples(
                            into,
                            chunk->data() + (place + std::size_t(k - part.first) * channelStride) * bytes,
                            stride[ax] * bytes, bytes, n);
                }
            }
        }
        return true;
    }

    std::shared_ptr<const ZarrImage> image_;
    PictureInfo info_;
    mutable std::mutex mutex_;
    std::string lastError_;
};

}  // namespace

std::unique_ptr<PictureSource> zarrPlane(std::shared_ptr<const ZarrImage> image, unsigned timePoint,
                                         unsigned depth, std::string& error) {
    const PictureInfo& info = image->info;
    if (timePoint >= info.timePoints || depth >= info.depths) {
        error = "no plane at time point " + std::to_string(timePoint) + " and depth " +
                std::to_string(depth) + " (the picture has " + std::to_string(info.timePoints) + " and " +
                std::to_string(info.depths) + ")";
        return nullptr;
    }
    return std::make_unique<ZarrPicture>(std::move(image), timePoint, depth);
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
