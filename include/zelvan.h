/*
 * Zelvan: draws very large raster images inside the caller's OpenGL 1.1 context.
 *
 * An image of any size is cut into a grid of blocks of at most 512 x 512 pixels; each block lives in
 * a power-of-two RGBA texture of its own. Every image also carries a placement (translation, three
 * rotation angles, scale, opacity) and is drawn as one alpha-blended textured quad per block.
 *
 * Typical use:
 *
 *     ZelvanInit();
 *     ZelvanHandle img = ZelvanCreate(width, height);
 *     for (uint32_t row = 0; row < ZelvanGetVBlocks(img); ++row)
 *         for (uint32_t col = 0; col < ZelvanGetHBlocks(img); ++col) {
 *             uint32_t x, y, w, h;
 *             ZelvanGetBlockDem(img, row, col, &x, &y, &w, &h);
 *             ZelvanSetBlockPtr(img, row, col, pixels + (size_t)y * pitch + (size_t)x * 4, pitch);
 *         }
 *     ZelvanTranslate(img, 10.0f, 10.0f, 0.0f);
 *     ZelvanDraw(img);                       // once per frame
 *     ZelvanDestroy(img);
 *     ZelvanShutdown();
 *
 * Threading: every function runs on the caller's thread; none may run concurrently with another.
 * Errors: reported only through results. Each function has a null result (0, false or nothing)
 * that it returns when the library is not initialised, when the handle names no stored image, when
 * an argument is out of range, or when memory runs out. No function ever throws or aborts.
 * OpenGL: the caller creates the context and makes it current. Only ZelvanSetBlockPtr, ZelvanDraw,
 * ZelvanDestroy and ZelvanShutdown (and, in one case, ZelvanCreate) call OpenGL.
 *
 * Where an image goes:
 * - Units are those of the caller's projection: at scale 1, one image pixel is one unit. y points
 *   up; the image's first pixel row is its top edge.
 * - ZelvanDraw applies, to the current matrix: the rotations about X, then Y, then Z, all about
 *   the origin; then the translation, in that turned frame. At translation (0, 0, 0) the image's
 *   bottom-left corner lies at the origin, so the image turns about that corner, and
 *   ZelvanRotate(img, 0, 0, 30) with ZelvanTranslate(img, 640, 360, 0) puts the corner at
 *   (640, 360) measured along the turned axes, not at (640, 360) on the screen.
 * - To place an image of w x h units (w = width * scale x) with its centre at (cx, cy), turned by
 *   a degrees about Z: with c = cos(a) and s = sin(a),
 *       ZelvanRotate(img, 0, 0, a);
 *       ZelvanTranslate(img, cx * c + cy * s - w / 2, cy * c - cx * s - h / 2, 0);
 * - Blocks never uploaded are drawn all the same, as untextured quads in the current colour.
 * - A destroyed handle is given again by the next ZelvanCreate, so an old copy of it then names
 *   the new image.
 */
#ifndef ZELVAN_H
#define ZELVAN_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The one export macro: marks the library's public functions. */
#if defined(ZELVAN_STATIC)
#define ZELVAN_API
#elif defined(_WIN32)
#if defined(ZELVAN_BUILDING)
#define ZELVAN_API __declspec(dllexport)
#else
#define ZELVAN_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define ZELVAN_API __attribute__((visibility("default")))
#else
#define ZELVAN_API
#endif

#define ZELVAN_VERSION_MAJOR 0
#define ZELVAN_VERSION_MINOR 2
#define ZELVAN_VERSION_PATCH 0

/* Names an image. Issued from 1 upwards, lowest free value first; 0 never names an image. */
typedef uint32_t ZelvanHandle;

/*
 * Creates the library instance. A second call while an instance exists changes nothing and
 * keeps the images created so far.
 * Returns: 1 when the instance exists afterwards; 0 if it could not be allocated.
 * OpenGL: not needed.
 */
ZELVAN_API int ZelvanInit(void);

/*
 * Destroys the library instance: deletes the textures of every image (destroyed ones included)
 * and frees all records. A later ZelvanInit starts afresh, with handles from 1 again.
 * Returns: 1, always (also when there was no instance).
 * OpenGL: the context that owns the textures must be current.
 */
ZELVAN_API int ZelvanShutdown(void);

/*
 * Returns: the null handle, 0, which never names an image. Works at any time.
 * OpenGL: not needed.
 */
ZELVAN_API ZelvanHandle ZelvanZeroHandle(void);

/*
 * Creates an image of width x height pixels and lays out its block grid; no texture is created
 * and no pixel is read. Width and height may be 0: the image then has no blocks.
 * Returns: the lowest free handle; 0 when there is no instance, when the block list cannot be
 * allocated (absurd sizes) or when every handle is in use. On failure nothing changes.
 * OpenGL: not needed, except when the handle reused still names a destroyed image that received
 * uploads after its ZelvanDestroy: those textures are deleted, so the context must be current.
 */
ZELVAN_API ZelvanHandle ZelvanCreate(uint32_t width, uint32_t height);

/*
 * Deletes the image's textures and gives its handle back. The record stays until ZelvanCreate
 * issues the same handle again: until then queries still answer from it, and uploads, setters and
 * draws still work on it.
 * Unknown handle or no instance: nothing happens.
 * OpenGL: the context that owns the textures must be current.
 */
ZELVAN_API void ZelvanDestroy(ZelvanHandle handle);

/*
 * Returns: the number of block columns of the image; 0 for an unknown handle or no instance.
 * OpenGL: not needed.
 */
ZELVAN_API uint32_t ZelvanGetHBlocks(ZelvanHandle handle);

/*
 * Returns: the number of block rows of the image; 0 for an unknown handle or no instance.
 * OpenGL: not needed.
 */
ZELVAN_API uint32_t ZelvanGetVBlocks(ZelvanHandle handle);

/*
 * Tells where block (row, col) lies in the image: its left edge x, top edge y, width and height
 * in pixels. Any of the four pointers may be NULL; that value is then not written.
 * Returns: true on success; false for an unknown handle, no instance, or row/col outside the grid,
 * and then nothing is written.
 * OpenGL: not needed.
 */
ZELVAN_API bool ZelvanGetBlockDem(ZelvanHandle handle, uint32_t row, uint32_t col, uint32_t* x,
                                  uint32_t* y, uint32_t* width, uint32_t* height);

/*
 * Uploads one block's pixels into a new texture. pixels points at the block's top-left pixel in
 * memory order blue, green, red, alpha; rows follow pitch bytes apart; width * 4 bytes are read
 * from each of the block's height rows. The library keeps no pointer to the pixels. A texture
 * the block already had is deleted once the new one is made. The texture samples the nearest
 * texel and clamps at its edges (GL_CLAMP), so no seam shows the far side of a block. OpenGL
 * errors pending before the call (the caller's own) are read and discarded; errors raised by the
 * upload's own calls make it fail. Each drain reads glGetError at most 64 times. The caller's
 * pixel-unpack state is saved and restored.
 * Returns: true when the texture was made. False, with nothing changed and no OpenGL call, for an
 * unknown handle, no instance, row/col outside the grid, NULL pixels, pitch < 1, or no memory.
 * False, with the block keeping the texture it had, when no context is current (glGenTextures
 * yields no name), when OpenGL raises an error for the upload (out of memory, a texture larger
 * than the implementation takes) or when the context reports errors without end (a lost one).
 * OpenGL: context current. On success leaves the new texture bound to GL_TEXTURE_2D.
 */
ZELVAN_API bool ZelvanSetBlockPtr(ZelvanHandle handle, uint32_t row, uint32_t col,
                                  const void* pixels, int32_t pitch);

/*
 * Sets the image's opacity, 0 (transparent) to 255 (opaque; the default), multiplied into every
 * texel's alpha when drawing.
 * Unknown handle or no instance: nothing happens. OpenGL: not needed (no call is made).
 */
ZELVAN_API void ZelvanAlpha(ZelvanHandle handle, uint8_t alpha);

/*
 * Sets the image's scale. With asSize false, x and y are units per image pixel, stored as given
 * (default 1, 1). With asSize true, x and y are the size in units the whole image is to have:
 * values below 1 are raised to 1, and the scale becomes x / width and y / height. The image is
 * then stretched to exactly x by y units; the aspect ratio is not kept.
 * Unknown handle or no instance: nothing happens. OpenGL: not needed (no call is made).
 */
ZELVAN_API void ZelvanScale(ZelvanHandle handle, float x, float y, bool asSize);

/*
 * Sets the rotation angles in degrees about the X, Y and Z axes, applied in that order
 * (default 0, 0, 0). The image turns about the origin, where its bottom-left corner lies at
 * translation (0, 0, 0); see "Where an image goes" above to turn it about its centre.
 * Unknown handle or no instance: nothing happens. OpenGL: not needed (no call is made).
 */
ZELVAN_API void ZelvanRotate(ZelvanHandle handle, float x, float y, float z);

/*
 * Sets where the image's bottom-left corner lies, in the frame the rotation produces, not in the
 * caller's frame (default 0, 0, 0).
 * Unknown handle or no instance: nothing happens. OpenGL: not needed (no call is made).
 */
ZELVAN_API void ZelvanTranslate(ZelvanHandle handle, float x, float y, float z);

/*
 * Draws the image into the current matrix as one blended, textured quad per block, first pixel
 * row at the top. An image of width or height 0 is not drawn and no OpenGL call is made. Blocks
 * never uploaded are drawn as untextured quads in the current colour.
 * Afterwards: GL_BLEND enabled, GL_TEXTURE_2D disabled, blend function (GL_SRC_ALPHA,
 * GL_ONE_MINUS_SRC_ALPHA), texture environment GL_MODULATE, current colour (255, 255, 255, alpha),
 * the last block's texture bound, the current matrix as before. Matrix mode, depth test, culling
 * and lighting are never touched; quads are wound clockwise seen from +z.
 * Unknown handle or no instance: nothing happens.
 * OpenGL: context current.
 */
ZELVAN_API void ZelvanDraw(ZelvanHandle handle);

#ifdef __cplusplus
}
#endif

#endif /* ZELVAN_H */
