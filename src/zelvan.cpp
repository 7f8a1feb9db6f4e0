// The whole C interface: the fourteen exported functions, each one call. The registry finds the
// image a handle names, the block code works on it, and guarded keeps every exception inside.
#include "zelvan.h"

#include <functional>

#include "blocks/block_image.h"
#include "blocks/draw.h"
#include "blocks/upload.h"
#include "guard.h"
#include "registry/image_registry.h"

using namespace zelvan;

namespace {

// Returns fn(image, args...) for the image handle names (fn may also be a member of BlockImage);
// nullResult when no instance or no stored image answers, or when fn throws.
template <typename Result, typename Fn, typename... Args>
Result withImage(ZelvanHandle handle, Result nullResult, Fn fn, Args... args) noexcept {
    return guarded(nullResult, [&]() -> Result {
        BlockImage* image = findImage(handle);
        return image != nullptr ? static_cast<Result>(std::invoke(fn, *image, args...)) : nullResult;
    });
}

// Runs fn(image, args...) on the image handle names; nothing happens when none answers.
template <typename Fn, typename... Args>
void onImage(ZelvanHandle handle, Fn fn, Args... args) noexcept {
    withImage(handle, false, [&](BlockImage& image) {
        std::invoke(fn, image, args...);
        return true;
    });
}

}  // namespace

extern "C" {

int ZelvanInit(void) { return guarded(false, openInstance) ? 1 : 0; }
int ZelvanShutdown(void) {
    closeInstance();
    return 1;
}
ZelvanHandle ZelvanZeroHandle(void) { return 0; }
ZelvanHandle ZelvanCreate(uint32_t width, uint32_t height) { return guarded(0u, createImage, width, height); }
void ZelvanDestroy(ZelvanHandle handle) { destroyImage(handle); }

uint32_t ZelvanGetHBlocks(ZelvanHandle handle) { return withImage(handle, 0u, &BlockImage::hBlocks); }
uint32_t ZelvanGetVBlocks(ZelvanHandle handle) { return withImage(handle, 0u, &BlockImage::vBlocks); }
bool ZelvanGetBlockDem(ZelvanHandle handle, uint32_t row, uint32_t col, uint32_t* x, uint32_t* y,
                       uint32_t* width, uint32_t* height) {
    return withImage(handle, false, blockDimensions, row, col, x, y, width, height);
}

bool ZelvanSetBlockPtr(ZelvanHandle handle, uint32_t row, uint32_t col, const void* pixels, int32_t pitch) {
    return withImage(handle, false, uploadBlock, row, col, pixels, pitch);
}

void ZelvanAlpha(ZelvanHandle handle, uint8_t alpha) { onImage(handle, setAlpha, alpha); }
void ZelvanScale(ZelvanHandle handle, float x, float y, bool asSize) {
    onImage(handle, setScale, x, y, asSize);
}
void ZelvanRotate(ZelvanHandle handle, float x, float y, float z) { onImage(handle, setRotation, x, y, z); }
void ZelvanTranslate(ZelvanHandle handle, float x, float y, float z) {
    onImage(handle, setTranslation, x, y, z);
}
void ZelvanDraw(ZelvanHandle handle) { onImage(handle, drawImage); }

}  // extern "C"
