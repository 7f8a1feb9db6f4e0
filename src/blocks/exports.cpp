// Entry points for the grid queries, the upload, the placement and the drawing.
#include "../registry/guard.h"
#include "draw.h"
#include "upload.h"
#include "zelvan.h"

using namespace zelvan;

namespace {

void writeIfWanted(uint32_t* target, uint32_t value) {
    if (target != nullptr) *target = value;
}

}  // namespace

extern "C" {

uint32_t ZelvanGetHBlocks(ZelvanHandle handle) {
    return withImage(handle, uint32_t{0}, [](BlockImage& image) { return image.hBlocks; });
}

uint32_t ZelvanGetVBlocks(ZelvanHandle handle) {
    return withImage(handle, uint32_t{0}, [](BlockImage& image) { return image.vBlocks; });
}

bool ZelvanGetBlockDem(ZelvanHandle handle, uint32_t row, uint32_t col, uint32_t* x, uint32_t* y,
                       uint32_t* width, uint32_t* height) {
    return withImage(handle, false, [&](BlockImage& image) {
        if (!image.contains(row, col)) return false;
        const Block& block = image.blockAt(row, col);
        writeIfWanted(width, block.width);
        writeIfWanted(height, block.height);
        writeIfWanted(x, block.x);
        writeIfWanted(y, block.y);
        return true;
    });
}

bool ZelvanSetBlockPtr(ZelvanHandle handle, uint32_t row, uint32_t col, const void* pixels, int32_t pitch) {
    return withImage(handle, false,
                     [&](BlockImage& image) { return uploadBlock(image, row, col, pixels, pitch); });
}

void ZelvanAlpha(ZelvanHandle handle, uint8_t alpha) {
    withImage(handle, [&](BlockImage& image) { setAlpha(image, alpha); });
}

void ZelvanScale(ZelvanHandle handle, float x, float y, bool asSize) {
    withImage(handle, [&](BlockImage& image) { setScale(image, x, y, asSize); });
}

void ZelvanRotate(ZelvanHandle handle, float x, float y, float z) {
    withImage(handle, [&](BlockImage& image) { setRotation(image, x, y, z); });
}

void ZelvanTranslate(ZelvanHandle handle, float x, float y, float z) {
    withImage(handle, [&](BlockImage& image) { setTranslation(image, x, y, z); });
}

void ZelvanDraw(ZelvanHandle handle) {
    withImage(handle, [](BlockImage& image) { drawImage(image); });
}

}  // extern "C"
