#include "streamed_picture.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "program.h"

namespace zelvan_demo {

namespace {

// While loading, levels finer than the one for the scale fill the rows it has not reached yet; at
// most this many of them, since each costs four times the blocks of the one above to draw.
constexpr std::size_t kFillLevels = 2;

// A side as the library lays it out: whole blocks, then the last one in a power-of-two texture.
std::uint64_t paddedSide(std::uint32_t side) {
    std::uint64_t partial = side % ZELVAN_BLOCK_SIZE, texture = partial == 0 ? 0 : 1;
    while (texture < partial) texture *= 2;
    return std::uint64_t{side} / ZELVAN_BLOCK_SIZE * ZELVAN_BLOCK_SIZE + texture;
}

std::string gigabytes(std::uint64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
    return text;
}

std::string size(std::uint32_t width, std::uint32_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

// The bytes of texture memory a width x height pyramid takes: each level's blocks in textures of
// power-of-two sides, 4 bytes per texel. About 4/3 of width x height x 4.
std::uint64_t pyramidTextureBytes(std::uint32_t width, std::uint32_t height) {
    std::uint64_t bytes = paddedSide(width) * paddedSide(height) * 4;
    while (width > 1 || height > 1) {
        width = width / 2 + width % 2;
        height = height / 2 + height % 2;
        bytes += paddedSide(width) * paddedSide(height) * 4;
    }
    return bytes;
}

// The memory a width x height picture needs while it streams in: its textures, the band buffers,
// and a band's worth of pyramid rows waiting to form bands.
std::uint64_t streamingBytes(std::uint32_t width, std::uint32_t height) {
    return pyramidTextureBytes(width, height) + (kBandBuffers + 1) * std::uint64_t{kBandRows} * width * 4;
}

}  // namespace

StreamedPicture::StreamedPicture(std::unique_ptr<BandSource> source, const std::string& name,
                                 std::uint32_t stripWidth)
    : name_(name), width_(source->width()), height_(source->height()) {
    const std::uint64_t needed = streamingBytes(width_, height_), available = memoryLimitBytes();
    if (needed > available)
        throw DemoError(name + ": a " + size(width_, height_) + " picture needs " + gigabytes(needed) +
                        " of memory for its textures, more than the " + gigabytes(available) + " available");
    if (stripWidth == 0) stripWidth = width_;
    for (std::uint32_t left = 0; left < width_ || strips_.empty(); left += stripWidth) {
        const std::uint32_t width = std::min(stripWidth, width_ - left);
        strips_.push_back(Strip{left, width, zelvan::Pyramid(width, height_)});
        if (!strips_.back().pyramid)
            throw DemoError(name + ": the library cannot hold a " + size(width_, height_) + " image");
    }
    queue_ = std::make_unique<BandQueue>(std::move(source), name);
}

double StreamedPicture::progress() const {
    if (complete()) return 1;
    const double band = band_ ? double(nextStrip_) / double(strips_.size()) * band_.rows : 0;
    return (rowsUploaded() + band) / height_;
}

bool StreamedPicture::uploadNext(bool wait) {
    if (complete()) return false;
    if (!band_) {
        band_ = queue_->take(wait);
        if (!band_) return false;
        nextStrip_ = 0;
    }
    Strip& strip = strips_[nextStrip_];
    const std::uint8_t* first = band_.pixels.get() + std::size_t{strip.left} * 4;
    if (!strip.pyramid.uploadRows(band_.firstRow, first, std::size_t{width_} * 4, band_.rows))
        throw DemoError(name_ + ": the library could not take rows " + std::to_string(band_.firstRow) +
                        " to " + std::to_string(band_.firstRow + band_.rows - 1));
    strip.rows = band_.firstRow + band_.rows;
    if (++nextStrip_ == strips_.size()) queue_->giveBack(std::move(band_));
    return true;
}

void StreamedPicture::finish(const ProgressFn& rowsDone) {
    while (uploadNext(true))
        if (rowsDone && !band_) rowsDone(rowsUploaded(), height_);
}

void StreamedPicture::place(const zelvan::Placement& placement) {
    placement_ = placement;
    // Each strip is placed about the origin, unturned; draw moves and turns it into place.
    zelvan::Placement own;
    own.scaleX = placement.scaleX;
    own.scaleY = placement.scaleY;
    own.alpha = placement.alpha;
    for (Strip& strip : strips_) strip.pyramid.place(own);
}

// Rows of the full picture that level `level` of the strip holds, from the top. A pyramid makes a
// level's rows from the uploaded rows of the one above, two into one, and uploads them a block row at a
// time, or all that are left once the level is complete.
double StreamedPicture::rowsCovered(const Strip& strip, std::size_t level) const {
    std::uint32_t rows = strip.rows;
    for (std::size_t k = 1; k <= level; ++k) {
        const std::uint32_t made = rows / 2 + rows % 2, height = strip.pyramid.level(k).height();
        rows = made == height ? height : made - made % ZELVAN_BLOCK_SIZE;
    }
    return double(rows) * height_ / strip.pyramid.level(level).height();
}

// Draws level `level` of the strip between picture rows top and bottom, clipping away the rest.
void StreamedPicture::drawRows(const Strip& strip, std::size_t level, double top, double bottom) const {
    const bool whole = top <= 0 && bottom >= height_;
    // The planes are set in the picture's turned frame, where y runs up from its centre.
    const double halfHeight = height_ / 2.0, scaleY = placement_.scaleY;
    const GLdouble below[4] = {0, -1, 0, (halfHeight - top) * scaleY};
    const GLdouble above[4] = {0, 1, 0, -(halfHeight - bottom) * scaleY};
    if (!whole) {
        glClipPlane(GL_CLIP_PLANE0, below);
        glClipPlane(GL_CLIP_PLANE1, above);
        glEnable(GL_CLIP_PLANE0);
        glEnable(GL_CLIP_PLANE1);
    }
    glPushMatrix();
    glTranslated((strip.left + strip.width / 2.0 - width_ / 2.0) * placement_.scaleX, 0, 0);
    strip.pyramid.level(level).draw();
    glPopMatrix();
    if (!whole) {
        glDisable(GL_CLIP_PLANE0);
        glDisable(GL_CLIP_PLANE1);
    }
}

// Pyramid::draw's level, floor(log2(1 / scale)), may have texels down to half a screen pixel, and
// nearest sampling then skips some: a line one texel wide comes and goes with the scale. The
// programs take the next level in that case, whose texels cover a screen pixel or more, so every
// texel shows, as a light line for the test picture's 3-pixel lines.
std::size_t StreamedPicture::levelShown() const {
    const zelvan::Pyramid& pyramid = strips_.front().pyramid;
    const std::size_t level = pyramid.levelFor(1.0);
    if (level + 1 >= pyramid.levels()) return level;
    const zelvan::Image& image = pyramid.level(level);
    const double texel = std::min(std::fabs(placement_.scaleX) * pyramid.width() / image.width(),
                                  std::fabs(placement_.scaleY) * pyramid.height() / image.height());
    return texel < 1 ? level + 1 : level;
}

void StreamedPicture::draw() const {
    glPushMatrix();
    glTranslated(placement_.centreX, placement_.centreY, placement_.centreZ);
    glRotated(placement_.rotateX, 1, 0, 0);
    glRotated(placement_.rotateY, 0, 1, 0);
    glRotated(placement_.rotateZ, 0, 0, 1);
    // Every strip has the same scale, so the same level suits them all.
    const std::size_t level = levelShown();
    const std::size_t finest = complete() ? level : level - std::min(level, kFillLevels);
    for (const Strip& strip : strips_) {
        // A strip narrower and shorter than the others may have fewer levels.
        const std::size_t coarsest = std::min(level, strip.pyramid.levels() - 1);
        double top = 0;
        for (std::size_t k = coarsest + 1; k-- > std::min(finest, coarsest);) {
            const double bottom = rowsCovered(strip, k);
            if (bottom <= top) continue;
            drawRows(strip, k, top, bottom);
            top = bottom;
        }
    }
    glPopMatrix();
}

}  // namespace zelvan_demo
