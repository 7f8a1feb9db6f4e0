#include "image_registry.h"

#include <utility>

namespace zelvan {

ImageRegistry* instance = nullptr;

ImageRegistry::~ImageRegistry() {
    for (auto& entry : images) releaseTextures(entry.second);
}

BlockImage* ImageRegistry::lookup(std::uint32_t handle) {
    const auto found = images.find(handle);
    return found == images.end() ? nullptr : &found->second;
}

std::uint32_t ImageRegistry::create(std::uint32_t width, std::uint32_t height) {
    BlockImage image = layoutBlocks(width, height, kBlockSize, kBlockSize);
    const std::uint32_t handle = handles.allocate();
    if (handle == 0) return 0;

    if (BlockImage* stale = lookup(handle)) {
        // A destroyed record may have received uploads since; free them before it is replaced.
        releaseTextures(*stale);
        *stale = std::move(image);
        return handle;
    }
    try {
        images.emplace(handle, std::move(image));
    } catch (...) {
        handles.release(handle);
        throw;
    }
    return handle;
}

void ImageRegistry::destroy(std::uint32_t handle) noexcept {
    BlockImage* image = lookup(handle);
    if (image == nullptr) return;
    releaseTextures(*image);
    handles.release(handle);
}

bool openInstance() {
    if (instance == nullptr) instance = new ImageRegistry();
    return true;
}

void closeInstance() noexcept {
    delete instance;  // the destructor releases every texture and cannot throw
    instance = nullptr;
}

std::uint32_t createImage(std::uint32_t width, std::uint32_t height) {
    return instance != nullptr ? instance->create(width, height) : 0;
}

void destroyImage(std::uint32_t handle) noexcept {
    if (instance != nullptr) instance->destroy(handle);
}

BlockImage* findImage(std::uint32_t handle) noexcept {
    return instance != nullptr ? instance->lookup(handle) : nullptr;
}

}  // namespace zelvan
