/*
 * Zelvan for C++: owning wrappers around the fourteen functions of zelvan.h, checked uploads of a
 * whole buffer or of bands of rows, and placement by the image's centre. zelvan_pyramid.hpp adds a
 * Pyramid of half-size levels that keeps an image free of moire when it is drawn small.
 *
 * Header-only C++17; it calls nothing but the functions of zelvan.h and adds no symbol to libzelvan.
 *
 *     zelvan::Library library;                       // ZelvanInit ... ZelvanShutdown
 *     zelvan::Image picture(width, height);
 *     picture.upload(pixels, pitch, bytes);          // or uploadRows band by band
 *     picture.place(zelvan::fit(width, height, 800, 600));
 *     picture.draw();                                // once per frame, under glOrtho(0, 800, 0, 600, ...)
 *
 * Errors: nothing here throws. Failures are reported as the C interface reports them: false, or an
 * empty object whose operator bool is false. Running out of memory is one such failure.
 * Threading: as for zelvan.h, every call runs on the caller's thread and none may run concurrently
 * with another call into Zelvan.
 * OpenGL: the caller's context must be current wherever zelvan.h needs it: uploads, draws, and the
 * destructors of Library, Image and Pyramid (which delete textures).
 * Lifetime: let every Image and Pyramid go before the Library. One that outlives it names nothing:
 * its uploads return false, its operator bool is false, and it leaves alone the images of a later
 * instance (see Image).
 * OpenGL profile: a compatibility-profile context (or one of OpenGL 1.x/2.x), as zelvan.h needs:
 * under a core profile every upload returns false and draw draws nothing.
 */
#ifndef ZELVAN_HPP
#define ZELVAN_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "zelvan.h"

namespace zelvan {

/* An image placed by its centre. The default places the image's centre at the origin, unturned, one
 * unit per image pixel, opaque. */
struct Placement {
    double centreX = 0, centreY = 0, centreZ = 0;  // where the image's centre lies, in the caller's units
    double rotateX = 0, rotateY = 0, rotateZ = 0;  // degrees about the X, Y and Z axes, in that order,
                                                   // about the image's centre (Z turns counter-clockwise)
    double scaleX = 1, scaleY = 1;                 // units per image pixel
    std::uint8_t alpha = 255;                      // opacity, 0 (invisible) to 255 (opaque)
};

/*
 * The placement that shows the whole image centred in the frame (0, 0)-(frameWidth, frameHeight), as
 * large as fits, with its aspect ratio kept: 1000 x 700 in 800 x 600 is drawn 800 x 560.
 * Returns: that placement; for an image of width or height 0, the frame's centre at scale 1.
 * OpenGL: not needed.
 */
inline Placement fit(std::uint32_t imageWidth, std::uint32_t imageHeight, double frameWidth,
                     double frameHeight) noexcept {
    Placement placement;
    placement.centreX = frameWidth / 2;
    placement.centreY = frameHeight / 2;
    if (imageWidth == 0 || imageHeight == 0) return placement;
    placement.scaleX = placement.scaleY = std::min(frameWidth / imageWidth, frameHeight / imageHeight);
    return placement;
}

/*
 * The library instance: ZelvanInit when constructed, ZelvanShutdown when destroyed, which deletes
 * the textures of every image still there. One per program; neither copied nor moved.
 * OpenGL: not needed to construct; the context that owns the textures must be current when it is
 * destroyed.
 */
class Library {
public:
    Library() noexcept : ready_(ZelvanInit() == 1) {
        // Images made before this instance (by a ZelvanInit of the caller's own) are not its images.
        if (ready_ && live()++ == 0) ++count();
    }
    ~Library() {
        if (!ready_) return;
        ZelvanShutdown();
        --live();
        ++count();
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    /* True when the instance exists. */
    explicit operator bool() const noexcept { return ready_; }

    /* Counts the instances Library has made and shut down: an Image remembers the count it was made
     * under and names nothing once it has changed, so that a handle outliving its Library never
     * reaches an image of a later instance that was given the same number. The count lives in an
     * inline function, one for the program; where modules hide their symbols from each other (shared
     * objects built with hidden visibility, Windows DLLs), each keeps its own, and objects are then
     * guarded only against instances made by Library in their own module. */
    static std::uint64_t generation() noexcept { return count(); }

private:
    static std::uint64_t& count() noexcept {
        static std::uint64_t instances = 0;
        return instances;
    }
    static unsigned& live() noexcept {
        static unsigned libraries = 0;
        return libraries;
    }

    bool ready_;
};

namespace detail {

constexpr std::uint32_t kBlockSide = ZELVAN_BLOCK_SIZE;  // bands start at multiples of the block height

/* The levels to draw for a picture with levelCount half-size levels, seen at `pixels` screen pixels
 * per pixel of level 0 in the direction shrunk most: the finer of the two nearest levels, whose pixels
 * are half a screen pixel to one wide, and the coarser, one to two. finer == coarser when one level
 * alone is right: at pixels >= 1 (or not a number) level 0, exact; at exactly one screen pixel per
 * pixel of a level, that level; below the last level, the last. blendPasses says how they are drawn. */
struct LevelBlend {
    std::size_t finer = 0, coarser = 0;
};

inline LevelBlend levelsFor(double pixels, std::size_t levelCount) noexcept {
    LevelBlend blend;
    if (levelCount == 0 || !(pixels < 1)) return blend;
    const std::size_t last = levelCount - 1;
    const double k = pixels > 0 ? std::log2(1 / pixels) : static_cast<double>(last);
    if (!(k < static_cast<double>(last))) {
        blend.finer = blend.coarser = last;
        return blend;
    }
    blend.finer = blend.coarser = static_cast<std::size_t>(k);
    if (k > std::floor(k)) blend.coarser = blend.finer + 1;
    return blend;
}

/* A quarter of a screen pixel in units, rounded to a power of two, so that adding it to a float
 * translation is exact and pieces that meet edge to edge unshifted still meet shifted. */
inline float finerShift(double pixelsPerUnit) noexcept {
    const double units = 0.25 / std::fabs(pixelsPerUnit);
    return std::isfinite(units) && units > 0 ? static_cast<float>(std::exp2(std::round(std::log2(units))))
                                             : 0;
}

/* The passes a blend's finer level may be drawn in: 1 to kMaxPasses, kDefaultPasses unless asked. */
constexpr int kMaxPasses = 16;
constexpr int kDefaultPasses = 3;

/* One layer of a drawn blend: which level, its opacity as a fraction of the placement's (over what the
 * passes after it leave, so that all of them together show the picture at the placement's opacity),
 * and how far it is moved along the axes of the picture's turned frame, in units. */
struct BlendPass {
    bool coarser = false;
    double opacity = 0;
    float shiftX = 0, shiftY = 0;
};
struct BlendPasses {
    BlendPass pass[kMaxPasses + 1];
    std::size_t count = 0;
    const BlendPass* begin() const noexcept { return pass; }
    const BlendPass* end() const noexcept { return pass + count; }
};

/* Pass i of n's offset from the pixel's centre in 256ths of a screen pixel: column i of n and row
 * (g i) mod n, at the cells' centres (n rooks: a line along either axis lies under its share of the passes
 * at any phase), g the step coprime to n that spreads the lattice furthest; 16: -15/32 to +15/32 a
 * sixteenth apart; 4: a 2 x 2 grid at quarters. 3: thirds (85/256), (-1, 0), (0, -1), (+1, +1): any
 * 171/256 of a pixel along an axis holds two, so a finer texel is sampled twice at any phase down to
 * 1/11.97 of level 0 (quarters sampled a 1-pixel line once at 1/11.9, showing 0.43 of its light). */
inline void passOffset(int n, int i, int& x, int& y) noexcept {
    static constexpr int step[kMaxPasses + 1] = {0, 0, 1, 1, 1, 2, 1, 2, 3, 2, 3, 3, 5, 5, 3, 4, 3};
    const int cells = n == 4 ? 2 : n;
    const auto centre = [cells](int cell) { return int(std::lround(128.0 * (2 * cell + 1) / cells - 128)); };
    x = centre(n == 4 ? i % 2 : i);
    y = centre(n == 4 ? i / 2 : n == 3 ? (2 * i + 1) % 3 : step[n] * i % n);
}

/*
 * How a blend is drawn, coarser passes first; `opacity` is the placement's, 0 to 1; `passes` the finer
 * level's, clamped to 1 to kMaxPasses. One level alone: one pass, unshifted. Two: the coarser unshifted,
 * then the finer `passes` times, moved as passOffset says (256ths: finerShift / 64), an equal share each.
 * Nearest sampling takes one texel per pass where the box filter would average the one to four under
 * each screen pixel: points spread evenly over the pixel come closer to that average the more there are,
 * and from 2 passes on each axis sees offsets half a pixel apart or closer, so every finer texel (at
 * least half a pixel wide) is sampled by some pass: a 1-pixel line never vanishes. The passes cover the
 * picture, so the coarser is left at opacity 0 (a share of it blurred photographs more than it helped
 * hard dark rules): it shows only where the finer level is missing, the tile view's stand-ins.
 * Each pass's 8-bit alpha is chosen from the top down for it and those above to cover their share of
 * the placement's opacity given the alphas above as rounded (halves up): together within half a level
 * of it; 3 passes keep their first shares, 1 / (3 - above * opacity) (within 1.2). Cost: a draw a pass.
 */
inline BlendPasses blendPasses(const LevelBlend& blend, double opacity, double pixelsPerUnit,
                               int passes = kDefaultPasses) noexcept {
    if (blend.finer == blend.coarser) return {{{true, 1, 0, 0}}, 1};
    const int n = std::clamp(passes, 1, kMaxPasses);
    const float unit = finerShift(pixelsPerUnit) / 64;
    const double alpha = std::round(std::clamp(opacity, 0.0, 1.0) * 255);
    BlendPasses drawn;
    drawn.pass[0] = {true, 0, 0, 0};
    drawn.count = static_cast<std::size_t>(n) + 1;
    double clear = 1;  // what the passes above let through
    for (int i = n - 1; i >= 0; --i) {
        BlendPass& pass = drawn.pass[i + 1];
        int x = 0, y = 0;
        passOffset(n, i, x, y);
        pass.shiftX = static_cast<float>(x) * unit, pass.shiftY = static_cast<float>(y) * unit;
        const int above = n - 1 - i;
        if (n == 3 || alpha == 0) {  // 1 / (3 - above * opacity) of the placement's opacity
            pass.opacity = 1 / (n - above * opacity);
            continue;
        }
        const double covered = alpha / 255 * (above + 1) / n;  // by this pass and those above
        const double share =
            std::clamp(std::floor((1 - (1 - covered) / clear) * 255 + 0.5 + 1e-9), 0.0, 255.0);
        clear *= 1 - share / 255;
        pass.opacity = share / alpha;
    }
    return drawn;
}

struct Vec3 {
    double x, y, z;
};

/* v turned by `degrees` about one axis (0 = X, 1 = Y, 2 = Z), counter-clockwise looking down the axis
 * towards the origin, as glRotate turns. */
inline Vec3 rotated(Vec3 v, double degrees, int axis) noexcept {
    const double radians = degrees * (3.14159265358979323846 / 180.0);
    const double c = std::cos(radians), s = std::sin(radians);
    if (axis == 0) return {v.x, c * v.y - s * v.z, s * v.y + c * v.z};
    if (axis == 1) return {c * v.x + s * v.z, v.y, -s * v.x + c * v.z};
    return {c * v.x - s * v.y, s * v.x + c * v.y, v.z};
}

/* The ZelvanTranslate that puts the image's centre at the placement's centre. The library turns the
 * frame by Rx * Ry * Rz and then translates the bottom-left corner inside the turned frame, so the
 * centre R * (t + half size) must equal the requested centre c: t = R^-1 * c - half size, where R^-1
 * undoes X first, then Y, then Z. Angles and scales are taken as the library stores them, in float. */
inline Vec3 cornerTranslation(const Placement& placement, std::uint32_t width,
                              std::uint32_t height) noexcept {
    Vec3 centre{placement.centreX, placement.centreY, placement.centreZ};
    centre = rotated(centre, -static_cast<double>(static_cast<float>(placement.rotateX)), 0);
    centre = rotated(centre, -static_cast<double>(static_cast<float>(placement.rotateY)), 1);
    centre = rotated(centre, -static_cast<double>(static_cast<float>(placement.rotateZ)), 2);
    return {centre.x - width * static_cast<double>(static_cast<float>(placement.scaleX)) / 2,
            centre.y - height * static_cast<double>(static_cast<float>(placement.scaleY)) / 2, centre.z};
}

/* The translation of an image placed at `placement`, moved by shiftX and shiftY units along the axes of
 * its turned frame: the float translation Image::place gives, plus the shifts. */
inline void translateShifted(ZelvanHandle handle, const Placement& placement, std::uint32_t width,
                             std::uint32_t height, float shiftX, float shiftY) noexcept {
    const Vec3 corner = cornerTranslation(placement, width, height);
    ZelvanTranslate(handle, static_cast<float>(corner.x) + shiftX, static_cast<float>(corner.y) + shiftY,
                    static_cast<float>(corner.z));
}

/* Whether a band of rows can go to an image: rows [firstRow, firstRow + rowCount) inside it, starting
 * on a block row and ending on one or at the bottom; rows at least width * 4 bytes apart, and at most
 * INT32_MAX, the largest pitch ZelvanSetBlockPtr takes. */
inline bool bandFits(std::uint32_t width, std::uint32_t height, std::uint32_t firstRow, const void* pixels,
                     std::size_t pitch, std::uint32_t rowCount) noexcept {
    const std::uint64_t end = std::uint64_t{firstRow} + rowCount;
    return pixels != nullptr && std::uint64_t{pitch} >= std::uint64_t{width} * 4 &&
           pitch <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) &&
           firstRow % kBlockSide == 0 && rowCount > 0 && end <= height &&
           (rowCount % kBlockSide == 0 || end == height);
}

/* The block columns (or rows) of a side, as ZelvanGetHBlocks and ZelvanGetVBlocks count them. */
constexpr std::uint32_t blocksAlong(std::uint32_t side) noexcept {
    return side / kBlockSide + (side % kBlockSide != 0);
}

/* A side of the textures that hold a side of an image: whole blocks, then the last block's part in
 * the power of two that holds it (zelvan.h). */
constexpr std::uint64_t textureSide(std::uint32_t side) noexcept {
    const std::uint32_t part = side % kBlockSide;
    std::uint64_t last = part == 0 ? 0 : 1;
    while (last < part) last *= 2;
    return std::uint64_t{side} - part + last;
}

/* Whether bytes bytes hold height rows of width pixels, pitch bytes apart (pitch already checked). */
inline bool bufferHolds(std::uint32_t width, std::uint32_t height, std::size_t pitch,
                        std::size_t bytes) noexcept {
    return std::uint64_t{bytes} >= std::uint64_t{height - 1} * pitch + std::uint64_t{width} * 4;
}

}  // namespace detail

/*
 * One Zelvan image, owned: its handle is destroyed (ZelvanDestroy) with the object. Move-only; a
 * moved-from Image is empty. An empty Image (default, or refused by the library) accepts every call
 * and does nothing: uploads return false, place and draw do nothing.
 *
 * An Image that outlives the instance it was made in (its Library destroyed, or ZelvanShutdown
 * called) names nothing any more: operator bool is false, uploads return false, and place, draw and
 * the destructor leave alone whatever image a later instance gave the same handle. This is certain
 * when the instances come and go through Library (each Image remembers Library::generation()). When
 * the caller calls ZelvanShutdown and ZelvanInit itself, the Image can only ask the library whether
 * its handle still has the grid it was made with: that catches a handle naming nothing, but not one
 * given to a new image of the same grid, nor the end of an image of width or height 0.
 */
class Image {
public:
    /* An empty image. */
    Image() noexcept = default;

    /* An image of width x height pixels, nothing uploaded yet (ZelvanCreate). Empty when the library
     * refuses: no instance, or a size whose block list does not fit in memory.
     * OpenGL: as ZelvanCreate (normally not needed). */
    Image(std::uint32_t width, std::uint32_t height) noexcept
        : handle_(ZelvanCreate(width, height)), generation_(Library::generation()) {
        if (handle_ != 0) {
            width_ = width;
            height_ = height;
        }
    }

    ~Image() { reset(); }
    Image(Image&& other) noexcept
        : handle_(std::exchange(other.handle_, 0)),
          width_(std::exchange(other.width_, 0)),
          height_(std::exchange(other.height_, 0)),
          generation_(other.generation_) {}
    Image& operator=(Image&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, 0);
            width_ = std::exchange(other.width_, 0);
            height_ = std::exchange(other.height_, 0);
            generation_ = other.generation_;
        }
        return *this;
    }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    /* Destroys the image now (ZelvanDestroy, unless its instance is gone); the object is empty
     * afterwards.
     * OpenGL: the context that owns the textures must be current. */
    void reset() noexcept {
        if (named()) ZelvanDestroy(handle_);
        handle_ = 0;
        width_ = height_ = 0;
    }

    /* True while the handle names the image made for this object: not empty, and its instance not
     * shut down (see above for what can be told). */
    explicit operator bool() const noexcept { return named(); }
    /* The handle, for the functions of zelvan.h; 0 when empty. The image stays owned by this object. */
    ZelvanHandle handle() const noexcept { return handle_; }
    /* Size in pixels; 0 when empty. */
    std::uint32_t width() const noexcept { return width_; }
    std::uint32_t height() const noexcept { return height_; }

    /* The bytes of texture memory a width x height image holds once every block is uploaded: each
     * block in an RGBA texture of power-of-two sides. */
    static constexpr std::uint64_t textureBytes(std::uint32_t width, std::uint32_t height) noexcept {
        return detail::textureSide(width) * detail::textureSide(height) * 4;
    }

    /*
     * Uploads every block from one buffer: height rows of width pixels, each pixel blue, green, red,
     * alpha in memory, rows pitch bytes apart, bytes the size of the buffer.
     * Returns: true when every block was uploaded (at once for an image of width or height 0). False
     * with nothing uploaded when the image names nothing (empty, or its instance gone), pixels is
     * null, pitch < width * 4, pitch > INT32_MAX or bytes < (height - 1) * pitch + width * 4. False
     * also when a block's upload fails; the blocks before it then hold the new pixels and the later
     * ones the old.
     * OpenGL: context current (a compatibility-profile one: under a core profile every block's upload
     * fails). Leaves a texture bound, as ZelvanSetBlockPtr does.
     */
    bool upload(const void* pixels, std::size_t pitch, std::size_t bytes) noexcept {
        if (!named()) return false;
        if (width_ == 0 || height_ == 0) return true;
        return uploadRows(0, height_, pixels, pitch, bytes);
    }

    /*
     * Uploads the blocks of rows [firstRow, firstRow + rowCount), for images that never sit whole in
     * memory. firstRow is a multiple of ZELVAN_BLOCK_SIZE; rowCount is a multiple of it or reaches the
     * bottom row. pixels addresses the first pixel of row firstRow; rowCount rows follow, pitch bytes
     * apart, in a buffer of bytes bytes, of which (rowCount - 1) * pitch + width * 4 are read.
     * Returns: true when every block of those rows was uploaded. False with nothing uploaded when the
     * image names nothing, pixels is null, the rows are not as above, pitch < width * 4,
     * pitch > INT32_MAX or bytes is short of what is read; false also when a block's upload fails
     * (the blocks before it are uploaded).
     * OpenGL: context current, as for upload.
     */
    bool uploadRows(std::uint32_t firstRow, std::uint32_t rowCount, const void* pixels, std::size_t pitch,
                    std::size_t bytes) noexcept {
        if (!detail::bandFits(width_, height_, firstRow, pixels, pitch, rowCount) ||
            !detail::bufferHolds(width_, rowCount, pitch, bytes) || !named())
            return false;
        const auto* band = static_cast<const unsigned char*>(pixels);
        const std::uint32_t columns = ZelvanGetHBlocks(handle_);
        const std::uint32_t lastBlockRow = (firstRow + rowCount - 1) / detail::kBlockSide;
        for (std::uint32_t row = firstRow / detail::kBlockSide; row <= lastBlockRow; ++row)
            for (std::uint32_t col = 0; col < columns; ++col) {
                std::uint32_t x = 0, y = 0;
                if (!ZelvanGetBlockDem(handle_, row, col, &x, &y, nullptr, nullptr) || y < firstRow)
                    return false;
                const unsigned char* first = band + std::size_t{y - firstRow} * pitch + std::size_t{x} * 4;
                if (!ZelvanSetBlockPtr(handle_, row, col, first, static_cast<std::int32_t>(pitch)))
                    return false;
            }
        return true;
    }

    /* Places the image by its centre: scale, turn, translation and opacity as the placement says.
     * OpenGL: not needed. */
    void place(const Placement& placement) noexcept {
        if (!named()) return;
        const detail::Vec3 corner = detail::cornerTranslation(placement, width_, height_);
        ZelvanScale(handle_, static_cast<float>(placement.scaleX), static_cast<float>(placement.scaleY),
                    false);
        ZelvanRotate(handle_, static_cast<float>(placement.rotateX), static_cast<float>(placement.rotateY),
                     static_cast<float>(placement.rotateZ));
        ZelvanTranslate(handle_, static_cast<float>(corner.x), static_cast<float>(corner.y),
                        static_cast<float>(corner.z));
        ZelvanAlpha(handle_, placement.alpha);
    }

    /* Draws the image into the current matrix (ZelvanDraw, with its effects on OpenGL state).
     * Blocks never uploaded are drawn as white quads (at the placement's opacity), whatever the
     * current colour: ZelvanDraw sets the colour to white for the texels to keep theirs.
     * OpenGL: context current, a compatibility-profile one (under a core profile nothing is drawn). */
    void draw() const noexcept {
        if (named()) ZelvanDraw(handle_);
    }

private:
    /* Whether the handle still names this object's image (see the class comment). */
    bool named() const noexcept {
        return handle_ != 0 && generation_ == Library::generation() &&
               ZelvanGetHBlocks(handle_) == detail::blocksAlong(width_) &&
               ZelvanGetVBlocks(handle_) == detail::blocksAlong(height_);
    }

    ZelvanHandle handle_ = 0;
    std::uint32_t width_ = 0, height_ = 0;
    std::uint64_t generation_ = 0;  // Library::generation() when the image was made
};

}  // namespace zelvan

#endif /* ZELVAN_HPP */
