/**
 * @file zelvan.h
 * Zelvan: draws very large raster images inside the caller's OpenGL 1.1 context.
 *
 * The fourteen functions, each described in full further down:
 *
 *   The library instance
 *     int          ZelvanInit(void);
 *     int          ZelvanShutdown(void);
 *     ZelvanHandle ZelvanZeroHandle(void);
 *   Images
 *     ZelvanHandle ZelvanCreate(uint32_t width, uint32_t height);
 *     void         ZelvanDestroy(ZelvanHandle handle);
 *   The block grid
 *     uint32_t     ZelvanGetHBlocks(ZelvanHandle handle);
 *     uint32_t     ZelvanGetVBlocks(ZelvanHandle handle);
 *     bool         ZelvanGetBlockDem(ZelvanHandle handle, uint32_t row, uint32_t col,
 *                                    uint32_t* x, uint32_t* y, uint32_t* width, uint32_t* height);
 *   Pixels
 *     bool         ZelvanSetBlockPtr(ZelvanHandle handle, uint32_t row, uint32_t col,
 *                                    const void* pixels, int32_t pitch);
 *   Placement
 *     void         ZelvanAlpha(ZelvanHandle handle, uint8_t alpha);
 *     void         ZelvanScale(ZelvanHandle handle, float x, float y, bool asSize);
 *     void         ZelvanRotate(ZelvanHandle handle, float x, float y, float z);
 *     void         ZelvanTranslate(ZelvanHandle handle, float x, float y, float z);
 *   Drawing
 *     void         ZelvanDraw(ZelvanHandle handle);
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
 * This header is the whole contract. What every function shares:
 *
 * Blocks: an image of width x height pixels has ceil(width / 512) block columns and
 * ceil(height / 512) block rows. Rows and columns are counted from zero: block (0, 0) is the top
 * left one, row r covers image rows 512 * r onwards, column c image columns 512 * c onwards. Only
 * the last column and the last row may be narrower or lower than 512. Pixel positions are counted
 * from zero as well, x to the right from the left edge, y downwards from the top edge.
 *
 * Pixels: 4 bytes each, in memory order blue, green, red, alpha. A pitch is the distance in bytes
 * from the start of one row to the start of the next.
 *
 * Errors: reported only through results. Each function has a null result (0, false or nothing)
 * that it returns when the library is not initialised, when the handle names no stored image, when
 * an argument is out of range, or when memory runs out. No function ever throws or aborts.
 * Placement values are not checked: NaN, infinities, zero and negative values are stored as given
 * (but for ZelvanScale's size, see there) and passed to OpenGL when drawing.
 *
 * OpenGL: the caller creates the context and makes it current; Zelvan never creates, makes current
 * or destroys one. It must be a compatibility-profile context (any OpenGL 1.x or 2.x context is
 * one): Zelvan draws with glBegin/glEnd and the fixed-function matrices. Under a core profile every
 * ZelvanSetBlockPtr returns false and ZelvanDraw draws nothing (leaving GL_INVALID_OPERATION
 * pending). "Context current" below means the caller's context, the one that owns the
 * images' textures, is current on the calling thread. Only ZelvanSetBlockPtr, ZelvanDraw,
 * ZelvanDestroy and ZelvanShutdown (and, in one case, ZelvanCreate) call OpenGL; the others work
 * without any context.
 *
 * Threads: the library keeps one instance and its images without a lock. Call every function on
 * one thread at a time, never two concurrently (ZelvanZeroHandle alone may run anywhere, anytime);
 * the functions that call OpenGL run on the thread where the context is current.
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
 * - Blocks never uploaded are drawn all the same, with texture object 0 bound: white at the image's
 *   opacity, whatever the current colour was (ZelvanDraw sets it), unless the caller gave texture
 *   object 0 an image.
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

/** The side of a full block, in pixels: images are cut into blocks of at most
 *  ZELVAN_BLOCK_SIZE x ZELVAN_BLOCK_SIZE, and only the last column and row may be smaller. */
#define ZELVAN_BLOCK_SIZE 512

/** Names an image. Issued from 1 upwards, lowest free value first; 0 never names an image. */
typedef uint32_t ZelvanHandle;

/* ---- The library instance ------------------------------------------------------------------ */

/**
 * Creates the library instance, which holds every image. Call it before any other function.
 *
 * A second call while an instance exists changes nothing and keeps the images created so far.
 *
 * @return 1 when the instance exists afterwards.
 * @par Null result
 *   0 when the instance could not be allocated (out of memory); there is then still no instance.
 * @par OpenGL
 *   Not needed.
 * @par Threads
 *   One call at a time.
 */
ZELVAN_API int ZelvanInit(void);

/**
 * Destroys the library instance: deletes the textures of every image (destroyed ones included,
 * with glDeleteTextures and no other OpenGL call) and frees all records. Handles issued so far
 * name nothing any more; a later ZelvanInit starts afresh, with handles from 1 again.
 *
 * @return 1, always.
 * @par Null result
 *   None: without an instance nothing happens and the result is 1 as well.
 * @par OpenGL
 *   Context current, when any image holds a texture.
 * @par Threads
 *   One call at a time, on the thread where the context is current.
 */
ZELVAN_API int ZelvanShutdown(void);

/**
 * The null handle, for callers that want a name for "no image".
 *
 * @return 0, which never names an image.
 * @par Null result
 *   None: works at any time, with or without an instance.
 * @par OpenGL
 *   Not needed.
 * @par Threads
 *   Any thread, at any time, also concurrently with other calls.
 */
ZELVAN_API ZelvanHandle ZelvanZeroHandle(void);

/* ---- Images -------------------------------------------------------------------------------- */

/**
 * Creates an image and lays out its block grid. No texture is created and no pixel is read; the
 * placement starts at its defaults (translation and rotation 0, scale 1, opacity 255).
 *
 * @param width   The image's width in pixels; may be 0.
 * @param height  The image's height in pixels; may be 0. An image with either side 0 has no blocks
 *                and is never drawn.
 * @return The lowest free handle, which names the new image.
 * @par Null result
 *   0, with nothing changed, when there is no instance, when the block list cannot be allocated
 *   (absurd sizes, such as 4294967295 x 4294967295) or when every handle is in use.
 * @par OpenGL
 *   Not needed, except when the handle issued still names a destroyed image that received uploads
 *   after its ZelvanDestroy: those textures are deleted (glDeleteTextures and no other call), so
 *   the context must then be current.
 * @par Threads
 *   One call at a time.
 */
ZELVAN_API ZelvanHandle ZelvanCreate(uint32_t width, uint32_t height);

/**
 * Destroys an image: deletes its textures (glDeleteTextures and no other OpenGL call) and gives
 * its handle back. The record stays until ZelvanCreate issues the same handle again: until then
 * queries still answer from it, and uploads, setters and draws still work on it. Destroying it
 * again deletes only the textures uploaded in between.
 *
 * @param handle  The image.
 * @par Null result
 *   Nothing happens for an unknown handle or without an instance.
 * @par OpenGL
 *   Context current, when the image holds a texture.
 * @par Threads
 *   One call at a time, on the thread where the context is current.
 */
ZELVAN_API void ZelvanDestroy(ZelvanHandle handle);

/* ---- The block grid ------------------------------------------------------------------------ */

/**
 * The number of block columns ("H" for horizontal): ceil(width / 512).
 *
 * @param handle  The image.
 * @return The number of block columns; 0 for an image of width 0.
 * @par Null result
 *   0 for an unknown handle or without an instance.
 * @par OpenGL
 *   Not needed.
 * @par Threads
 *   One call at a time.
 */
ZELVAN_API uint32_t ZelvanGetHBlocks(ZelvanHandle handle);

/**
 * The number of block rows ("V" for vertical): ceil(height / 512).
 *
 * @param handle  The image.
 * @return The number of block rows; 0 for an image of height 0.
 * @par Null result
 *   0 for an unknown handle or without an instance.
 * @par OpenGL
 *   Not needed.
 * @par Threads
 *   One call at a time.
 */
ZELVAN_API uint32_t ZelvanGetVBlocks(ZelvanHandle handle);

/**
 * Tells a block's dimensions ("Dem"): where it lies in the image and how large it is.
 *
 * @param handle  The image.
 * @param row     The block row, counted from zero at the top; below ZelvanGetVBlocks(handle).
 * @param col     The block column, counted from zero at the left; below ZelvanGetHBlocks(handle).
 * @param x       Receives the block's left edge: the image column of its first pixel, 512 * col.
 * @param y       Receives the block's top edge: the image row of its first pixel, 512 * row.
 * @param width   Receives the block's width in pixels, 1 to 512.
 * @param height  Receives the block's height in pixels, 1 to 512.
 *                Any of the four pointers may be NULL; that value is then not written.
 * @return true when the four values were written.
 * @par Null result
 *   false, with nothing written, for an unknown handle, without an instance, or for a row or
 *   column outside the grid.
 * @par OpenGL
 *   Not needed.
 * @par Threads
 *   One call at a time.
 */
ZELVAN_API bool ZelvanGetBlockDem(ZelvanHandle handle, uint32_t row, uint32_t col, uint32_t* x, uint32_t* y,
                                  uint32_t* width, uint32_t* height);

/* ---- Pixels -------------------------------------------------------------------------------- */

/**
 * Uploads one block's pixels into a new texture of the block's own.
 *
 * Of each of the block's height rows, width * 4 bytes are read (width and height as
 * ZelvanGetBlockDem reports them): (height - 1) * pitch + width * 4 bytes from pixels on. Whether
 * the memory holds them cannot be checked. The library keeps no pointer to the pixels. A texture
 * the block already had is deleted once the new one is made.
 *
 * The texture: level 0, GL_RGBA, the block at its top left and the rest of its power-of-two sides
 * filled with bytes 0x40; GL_NEAREST filters and GL_CLAMP wrap in both directions, so that no seam
 * shows the far side of a block. On success it is left bound to GL_TEXTURE_2D.
 *
 * The caller's OpenGL state: errors pending before the call (the caller's own) are read and
 * discarded; errors raised by the upload's own calls make it fail. Each of the two drains reads
 * glGetError at most 64 times, so a lost context that reports errors without end cannot hang the
 * call. The pixel-unpack state (alignment, row length, skips) is saved with glPushClientAttrib,
 * set for the upload and restored. A buffer left bound to GL_PIXEL_UNPACK_BUFFER (OpenGL 2.1) is
 * beyond what an OpenGL 1.1 library can unbind: OpenGL would read the pixels from that buffer, so
 * unbind it first.
 *
 * @param handle  The image.
 * @param row     The block row, counted from zero at the top.
 * @param col     The block column, counted from zero at the left.
 * @param pixels  The block's top-left pixel in the caller's memory, in memory order blue, green,
 *                red, alpha. For an image held in one buffer: buffer + y * pitch + x * 4, with x and
 *                y from ZelvanGetBlockDem.
 * @param pitch   The distance in bytes from the start of one row to the start of the next, at
 *                least 1; for an image held in one buffer, the image's row length in bytes. A pitch
 *                below width * 4 is accepted: the rows then overlap and are read as they lie.
 * @return true when the block's new texture was made.
 * @par Null result
 *   false, with nothing changed and no OpenGL call, for an unknown handle, without an instance,
 *   for a row or column outside the grid, NULL pixels, a pitch below 1, or no memory for the
 *   staging buffer. false, with the block keeping (and drawing) the texture it had, when no
 *   context is current (glGenTextures yields no name), when OpenGL raises an error for the upload
 *   (out of memory, a texture larger than the implementation takes) or when the context reports
 *   errors without end (a lost one).
 * @par OpenGL
 *   Context current.
 * @par Threads
 *   One call at a time, on the thread where the context is current.
 */
ZELVAN_API bool ZelvanSetBlockPtr(ZelvanHandle handle, uint32_t row, uint32_t col, const void* pixels,
                                  int32_t pitch);

/* ---- Placement ----------------------------------------------------------------------------- */

/**
 * Sets the image's opacity, multiplied into every texel's alpha when drawing.
 *
 * @param handle  The image.
 * @param alpha   0 (transparent) to 255 (opaque; the default).
 * @par Null result
 *   Nothing happens for an unknown handle or without an instance.
 * @par OpenGL
 *   Not needed (no call is made).
 * @par Threads
 *   One call at a time.
 */
ZELVAN_API void ZelvanAlpha(ZelvanHandle handle, uint8_t alpha);

/**
 * Sets the image's scale, either per pixel or as the size the whole image is to have.
 *
 * @param handle  The image.
 * @param x       With asSize false: units per image pixel across, stored as given (default 1).
 *                With asSize true: the image's whole width in units; below 1 it is raised to 1,
 *                and the scale becomes x / width.
 * @param y       The same for the height: units per pixel, or the whole height in units.
 * @param asSize  false for units per pixel; true for the whole image's size, which stretches it
 *                to exactly x by y units without keeping the aspect ratio.
 * @par Null result
 *   Nothing happens for an unknown handle or without an instance.
 * @par OpenGL
 *   Not needed (no call is made).
 * @par Threads
 *   One call at a time.
 */
ZELVAN_API void ZelvanScale(ZelvanHandle handle, float x, float y, bool asSize);

/**
 * Sets the rotation angles, applied about the X, then the Y, then the Z axis (default 0, 0, 0).
 * The image turns about the origin, where its bottom-left corner lies at translation (0, 0, 0);
 * see "Where an image goes" above to turn it about its centre.
 *
 * @param handle  The image.
 * @param x       Degrees about the X axis.
 * @param y       Degrees about the Y axis.
 * @param z       Degrees about the Z axis; positive turns counter-clockwise seen from +z.
 * @par Null result
 *   Nothing happens for an unknown handle or without an instance.
 * @par OpenGL
 *   Not needed (no call is made).
 * @par Threads
 *   One call at a time.
 */
ZELVAN_API void ZelvanRotate(ZelvanHandle handle, float x, float y, float z);

/**
 * Sets where the image's bottom-left corner lies, in the frame the rotation produces, not in the
 * caller's frame (default 0, 0, 0).
 *
 * @param handle  The image.
 * @param x       Units along the turned x axis.
 * @param y       Units along the turned y axis.
 * @param z       Units along the turned z axis.
 * @par Null result
 *   Nothing happens for an unknown handle or without an instance.
 * @par OpenGL
 *   Not needed (no call is made).
 * @par Threads
 *   One call at a time.
 */
ZELVAN_API void ZelvanTranslate(ZelvanHandle handle, float x, float y, float z);

/* ---- Drawing ------------------------------------------------------------------------------- */

/**
 * Draws the image into the current matrix as one blended, textured quad per block, first pixel
 * row at the top. Blocks never uploaded are drawn with texture object 0 bound, which has no image
 * unless the caller gave it one: white quads at the image's opacity, whatever colour was current.
 *
 * The caller's OpenGL state afterwards: GL_BLEND enabled, GL_TEXTURE_2D disabled, blend function
 * (GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA), texture environment mode GL_MODULATE, current colour
 * (255, 255, 255, alpha), current normal (0, 0, 1), the texture coordinates of the last vertex
 * and the last block's texture bound. Whichever matrix is current is pushed, multiplied and
 * popped, so it is as before; no error is read. Never touched: the matrix mode (make the
 * model-view matrix current yourself), the depth test, face culling, lighting, the viewport and
 * everything not named here. With positive scales the quads are wound clockwise seen from +z, so
 * they are back faces under the default front face: when culling back faces, disable culling
 * around the draw (or cull GL_FRONT).
 *
 * @param handle  The image.
 * @par Null result
 *   Nothing happens, and no OpenGL call is made, for an unknown handle, without an instance, or
 *   for an image of width or height 0.
 * @par OpenGL
 *   Context current.
 * @par Threads
 *   One call at a time, on the thread where the context is current.
 */
ZELVAN_API void ZelvanDraw(ZelvanHandle handle);

#ifdef __cplusplus
}
#endif

#endif /* ZELVAN_H */
