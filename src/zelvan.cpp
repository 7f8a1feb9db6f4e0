// The whole C interface: the fourteen exported functions. Each finds the image a handle names
// (findImage: null without an instance or a stored record) and hands it to the block code. Only
// ZelvanInit and ZelvanCreate allocate memory that can run out with an exception; guarded turns
// that into their null result. Everything else is noexcept all the way down (uploads allocate
// their staging buffer with nothrow new).
#include "zelvan.h"

#include "blocks/block_image.h"
#include "blocks/draw.h"
#include "blocks/upload.h"
#include "guard.h"
#include "registry/image_registry.h"

using namespace zelvan;

extern "C" {

int ZelvanInit(void) { return guarded(false, openInstance) ? 1 : 0; }
int ZelvanShutdown(void) {
    closeInstance();
    return 1;
}
ZelvanHandle ZelvanZeroHandle(void) { return 0; }
ZelvanHandle ZelvanCreate(uint32_t width, uint32_t height) { return guarded(0u, createImage, width, height); }
void ZelvanDestroy(ZelvanHandle handle) { destroyImage(handle); }

uint32_t ZelvanGetHBlocks(ZelvanHandle handle) {
    const BlockImage* image = findImage(handle);
    return image != nullptr ? image->hBlocks : 0;
}
uint32_t ZelvanGetVBlocks(ZelvanHandle handle) {
    const BlockImage* image = findImage(handle);
    return image != nullptr ? image->vBlocks : 0;
}
bool ZelvanGetBlockDem(ZelvanHandle handle, uint32_t row, uint32_t col, uint32_t* x, uint32_t* y,
                       uint32_t* width, uint32_t* height) {
    const BlockImage* image = findImage(handle);
    return image != nullptr && blockDimensions(*image, row, col, x, y, width, height);
}

bool ZelvanSetBlockPtr(ZelvanHandle handle, uint32_t row, uint32_t col, const void* pixels, int32_t pitch) {
    BlockImage* image = findImage(handle);
    return image != nullptr && uploadBlock(*image, row, col, pixels, pitch);
}

void ZelvanAlpha(ZelvanHandle handle, uint8_t alpha) {
    if (BlockImage* image = findImage(handle)) setAlpha(*image, alpha);
}
void ZelvanScale(ZelvanHandle handle, float x, float y, bool asSize) {
    if (BlockImage* image = findImage(handle)) setScale(*image, x, y, asSize);
}
void ZelvanRotate(ZelvanHandle handle, float x, float y, float z) {
    if (BlockImage* image = findImage(handle)) setRotation(*image, x, y, z);
}
void ZelvanTranslate(ZelvanHandle handle, float x, float y, float z) {
    if (BlockImage* image = findImage(handle)) setTranslation(*image, x, y, z);
}
void ZelvanDraw(ZelvanHandle handle) {
    if (const BlockImage* image = findImage(handle)) drawImage(*image);
}

}  // extern "C"
