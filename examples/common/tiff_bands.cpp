// TIFF by strips or tiles. The picture is turned upright on the way: the orientation tag may make
// stored rows bottom-up, mirrored or even columns of the picture. Output rows are made a window
// at a time: the window is a run of stored rows (or, for orientations 5 to 8, stored columns)
// decoded into an upright band; only the window, one tile or row, and libtiff's strip are ever
// held in memory.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image_decoders.h"

namespace zelvan_demo {

namespace {

std::unique_ptr<std::uint8_t[]> allocate(std::uint64_t bytes, const TiffFile& file) {
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[bytes]);
    if (!buffer) file.fail("not enough memory for " + std::to_string(bytes) + " bytes of pixels");
    return buffer;
}

class TiffBands final : public BandSource {
public:
    TiffBands(const std::string& path, std::uint64_t windowBytes) : file_(path), pixels_(file_) {
        readOrientation();
        planWindows(windowBytes);
    }

    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }

    std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) override {
        rows = std::min(rows, height_ - next_);
        for (std::uint32_t i = 0; i < rows; ++i, ++next_) {
            if (next_ == windowEnd_) fillNextWindow();
            std::memcpy(dst + i * pitch, window_.get() + (next_ - windowStart_) * pitch_, pitch_);
        }
        return rows;
    }

private:
    void readOrientation() {
        TIFF* tiff = file_.get();
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &storedWidth_);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &storedHeight_);
        if (storedWidth_ == 0 || storedHeight_ == 0) file_.fail("it has no pixels");
        std::uint16_t orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
        if (orientation < ORIENTATION_TOPLEFT || orientation > ORIENTATION_LEFTBOT)
            orientation = ORIENTATION_TOPLEFT;
        transposed_ = orientation >= ORIENTATION_LEFTTOP;
        // Whether the picture's x and y run against the order of the stored columns or rows they come from.
        flipX_ = orientation == ORIENTATION_TOPRIGHT || orientation == ORIENTATION_BOTRIGHT ||
                 orientation == ORIENTATION_RIGHTTOP || orientation == ORIENTATION_RIGHTBOT;
        flipY_ = orientation == ORIENTATION_BOTRIGHT || orientation == ORIENTATION_BOTLEFT ||
                 orientation == ORIENTATION_RIGHTBOT || orientation == ORIENTATION_LEFTBOT;
        width_ = transposed_ ? storedHeight_ : storedWidth_;
        height_ = transposed_ ? storedWidth_ : storedHeight_;
        checkRowsFit(width_, height_, file_.name());
        pitch_ = std::size_t{width_} * 4;
        step_ = transposed_ ? std::ptrdiff_t(pitch_) : 4;
        if (transposed_ ? flipY_ : flipX_) step_ = -step_;
    }

    // Sizes the buffers: one tile or stored row, and the window, a whole number of strips or tile
    // rows (or columns) where that matters.
    void planWindows(std::uint64_t windowBytes) {
        TIFF* tiff = file_.get();
        tiled_ = TIFFIsTiled(tiff) != 0;
        std::uint32_t extent = 1;  // windows start on multiples of this many stored rows or columns
        bool rereads = false;
        if (tiled_) {
            TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth_);
            TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight_);
            chunkPitch_ = TIFFTileRowSize64(tiff);
            chunkBytes_ = TIFFTileSize64(tiff);
            if (tileWidth_ == 0 || tileHeight_ == 0) file_.fail("its tiles have no size");
            extent = transposed_ ? tileWidth_ : tileHeight_;
        } else {
            chunkPitch_ = TIFFScanlineSize64(tiff);
            chunkBytes_ = chunkPitch_;
            std::uint32_t rowsPerStrip = storedHeight_;
            TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
            // Upwards, a window that starts on a strip boundary costs nothing more; if the strips are
            // too large for that, each window decodes its strip again from the top.
            if (flipY_ && !transposed_) extent = std::clamp(rowsPerStrip, 1u, storedHeight_);
            rereads = transposed_ || std::uint64_t{extent} * pitch_ > windowBytes;
            if (rereads && std::uint64_t{extent} * pitch_ > windowBytes * 16) extent = 1;
        }
        if (chunkBytes_ == 0) file_.failWithLibtiffError();
        if (chunkBytes_ > kMaxTiffChunkBytes)
            file_.fail("its strips or tiles are too large (" + std::to_string(chunkBytes_) + " bytes)");
        // Windows that each cost a pass over the file are made larger, within an eighth of memory.
        const std::uint64_t budget =
            rereads ? std::min(windowBytes * 16, memoryLimitBytes() / 8) : windowBytes;
        const std::uint64_t extents = std::max<std::uint64_t>(1, budget / (std::uint64_t{extent} * pitch_));
        windowSpan_ = std::uint32_t(std::min<std::uint64_t>(extents * extent, height_));
        checkImageFits(width_, windowSpan_, file_.name());
        windowCount_ = (height_ - 1) / windowSpan_ + 1;
    }

    // Decodes the stored rows or columns [first, last) that make the next output rows.
    void fillNextWindow() {
        // Allocated at the first read, so that opening a file stays cheap whatever it claims.
        if (!window_) window_ = allocate(pitch_ * windowSpan_, file_);
        if (!chunk_) chunk_ = allocate(chunkBytes_, file_);
        const std::uint32_t index = flipY_ ? windowCount_ - 1 - windowsDone_ : windowsDone_;
        const std::uint32_t first = index * windowSpan_, last = std::min(first + windowSpan_, height_);
        windowStart_ = flipY_ ? height_ - last : first;
        windowEnd_ = windowStart_ + (last - first);
        ++windowsDone_;
        if (tiled_)
            fillFromTiles(first, last);
        else
            fillFromScanlines(first, last);
    }

    void fillFromTiles(std::uint32_t first, std::uint32_t last) {
        const std::uint32_t across = transposed_ ? tileWidth_ : tileHeight_;
        const std::uint32_t other = transposed_ ? tileHeight_ : tileWidth_;
        const std::uint32_t otherExtent = transposed_ ? storedHeight_ : storedWidth_;
        // 64-bit steps: a tile beside the last may start beyond 32 bits.
        for (std::uint64_t band = first / across * across; band < last; band += across)
            for (std::uint64_t along = 0; along < otherExtent; along += other) {
                const auto x = std::uint32_t(transposed_ ? band : along),
                           y = std::uint32_t(transposed_ ? along : band);
                const std::uint32_t tile = TIFFComputeTile(file_.get(), x, y, 0, 0);
                file_.checkWithinFile(tile, "tile");
                file_.clearError();
                if (TIFFReadEncodedTile(file_.get(), tile, chunk_.get(), tmsize_t(-1)) < 0)
                    file_.failWithLibtiffError();
                auto rowEnd =
                    std::uint32_t(std::min<std::uint64_t>(std::uint64_t{y} + tileHeight_, storedHeight_));
                auto columnEnd =
                    std::uint32_t(std::min<std::uint64_t>(std::uint64_t{x} + tileWidth_, storedWidth_));
                std::uint32_t rowBegin = y, columnBegin = x;
                if (transposed_)
                    columnBegin = std::max(columnBegin, first), columnEnd = std::min(columnEnd, last);
                else
                    rowBegin = std::max(rowBegin, first), rowEnd = std::min(rowEnd, last);
                for (std::uint32_t row = rowBegin; row < rowEnd; ++row)
                    place(chunk_.get() + (row - y) * chunkPitch_, x, row, columnBegin, columnEnd);
            }
    }

    void fillFromScanlines(std::uint32_t first, std::uint32_t last) {
        const std::uint32_t rowBegin = transposed_ ? 0 : first, rowEnd = transposed_ ? storedHeight_ : last;
        const std::uint32_t columnBegin = transposed_ ? first : 0,
                            columnEnd = transposed_ ? last : storedWidth_;
        for (std::uint32_t row = rowBegin; row < rowEnd; ++row) {
            const std::uint32_t strip = TIFFComputeStrip(file_.get(), row, 0);
            if (strip != checkedStrip_) file_.checkWithinFile(strip, "strip");
            checkedStrip_ = strip;
            file_.clearError();
            if (TIFFReadScanline(file_.get(), chunk_.get(), row, 0) < 0) file_.failWithLibtiffError();
            place(chunk_.get(), 0, row, columnBegin, columnEnd);
        }
    }

    // Converts stored pixels [columnBegin, columnEnd) of stored row `row` into the window, upright.
    // `samples` holds that row from stored column `sampleStart` on.
    void place(const std::uint8_t* samples, std::uint32_t sampleStart, std::uint32_t row,
               std::uint32_t columnBegin, std::uint32_t columnEnd) {
        std::uint32_t x = transposed_ ? row : columnBegin, y = transposed_ ? columnBegin : row;
        if (flipX_) x = width_ - 1 - x;
        if (flipY_) y = height_ - 1 - y;
        std::uint8_t* first = window_.get() + (y - windowStart_) * pitch_ + std::size_t{x} * 4;
        pixels_.convert(samples, columnBegin - sampleStart, columnEnd - columnBegin, first, step_);
    }

    TiffFile file_;
    TiffPixels pixels_;
    std::uint32_t storedWidth_ = 0, storedHeight_ = 0, width_ = 0, height_ = 0;
    bool transposed_ = false, flipX_ = false, flipY_ = false;
    std::size_t pitch_ = 0;
    std::ptrdiff_t step_ = 4;  // from one stored pixel of a row to the next, in the window
    bool tiled_ = false;
    std::uint32_t tileWidth_ = 0, tileHeight_ = 0;
    std::uint64_t chunkPitch_ = 0, chunkBytes_ = 0;
    std::unique_ptr<std::uint8_t[]> chunk_;  // one tile or one stored row
    std::uint32_t checkedStrip_ = 0xffffffffu;
    std::uint32_t windowSpan_ = 0, windowCount_ = 0, windowsDone_ = 0;
    std::uint32_t windowStart_ = 0, windowEnd_ = 0;  // the output rows the window holds
    std::unique_ptr<std::uint8_t[]> window_;
    std::uint32_t next_ = 0;
};

}  // namespace

std::unique_ptr<BandSource> openTiffBands(const std::string& path, std::uint64_t windowBytes) {
    return std::make_unique<TiffBands>(path, windowBytes);
}

}  // namespace zelvan_demo
