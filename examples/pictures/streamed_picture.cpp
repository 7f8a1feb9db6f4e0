#include "streamed_picture.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "program.h"

namespace zelvan_demo {

namespace {

std::string gigabytes(std::uint64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
    return text;
}

std::string size(std::uint32_t width, std::uint32_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

// The memory a width x height picture needs while it streams in: its textures, the band buffers,
// and a band's worth of pyramid rows waiting to form bands.
std::uint64_t streamingBytes(std::uint32_t width, std::uint32_t height) {
    return zelvan::Pyramid::textureBytes(width, height) +
           (kBandBuffers + 1) * std::uint64_t{kBandRows} * width * 4;
}

}  // namespace

StreamedPicture::StreamedPicture(std::unique_ptr<BandSource> source, const std::string& name,
                                 std::uint32_t stripWidth, const SkippedLevels& skipped)
    : name_(name), width_(source->width()), height_(source->height()), skipped_(skipped) {
    if (skipped_.levels == 0) skipped_ = {width_, height_, 0};
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
    const std::size_t pitch = std::size_t{width_} * 4,
                      bytes = pitch * band_.rows - std::size_t{strip.left} * 4;
    if (!strip.pyramid.uploadRows(band_.firstRow, band_.rows, first, pitch, bytes))
        throw DemoError(name_ + ": the library could not take rows " + std::to_string(band_.firstRow) +
                        " to " + std::to_string(band_.firstRow + band_.rows - 1));
    if (++nextStrip_ == strips_.size()) queue_->giveBack(std::move(band_));
    return true;
}

void StreamedPicture::finishLoading(const ProgressFn& rowsDone, std::uint32_t rows) {
    const std::uint32_t until = rows == 0 ? height_ : std::min(rows, height_);
    while (rowsUploaded() < until && uploadNext(true))
        if (rowsDone && !band_) rowsDone(rowsUploaded(), height_);
}

std::string StreamedPicture::status() const {
    return complete() ? std::string() : "loading, " + std::to_string(int(progress() * 100)) + "%";
}

void StreamedPicture::place(const zelvan::Placement& placement) {
    placement_ = placement;
    // Each strip is placed about the origin, unturned; draw moves and turns it into place. Halved,
    // the pyramid covers the full picture's area, as the full pyramid's coarser levels do.
    zelvan::Placement own;
    own.scaleX = placement.scaleX * skipped_.fullWidth / width_;
    own.scaleY = placement.scaleY * skipped_.fullHeight / height_;
    own.alpha = placement.alpha;
    for (Strip& strip : strips_) strip.pyramid.place(own);
}

// The pyramids show the rows they hold; the strips sit side by side in the picture's turned frame.
void StreamedPicture::draw() {
    // Halved k times, the pyramid chooses and blends its levels for 2^k times the full picture's
    // scale, as the full pyramid would for its levels k and below.
    double pixelsPerUnit = 1;
    if (skipped_.levels > 0) {
        const double scale = std::min(std::fabs(placement_.scaleX), std::fabs(placement_.scaleY));
        const double own = std::min(std::fabs(placement_.scaleX) * skipped_.fullWidth / width_,
                                    std::fabs(placement_.scaleY) * skipped_.fullHeight / height_);
        pixelsPerUnit = std::ldexp(scale, int(skipped_.levels)) / own;
    }
    const double stripScale = placement_.scaleX * skipped_.fullWidth / width_;
    glPushMatrix();
    glTranslated(placement_.centreX, placement_.centreY, placement_.centreZ);
    glRotated(placement_.rotateX, 1, 0, 0);
    glRotated(placement_.rotateY, 0, 1, 0);
    glRotated(placement_.rotateZ, 0, 0, 1);
    for (const Strip& strip : strips_) {
        glPushMatrix();
        glTranslated((strip.left + strip.width / 2.0 - width_ / 2.0) * stripScale, 0, 0);
        strip.pyramid.draw(pixelsPerUnit, passes_);
        glPopMatrix();
    }
    glPopMatrix();
}

}  // namespace zelvan_demo
