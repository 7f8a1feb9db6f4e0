#pragma once
#include <cstdint>
#include <map>

#include "../blocks/block_image.h"
#include "handle_pool.h"

namespace zelvan {

// The library instance: every image record, keyed by handle, and the pool that issues handles.
struct ImageRegistry {
    std::map<std::uint32_t, BlockImage> images;  // destroyed records stay until their handle is reissued
    std::uint32_t blockWidth = kBlockSize;
    std::uint32_t blockHeight = kBlockSize;
    HandlePool handles;

    ImageRegistry() = default;
    ImageRegistry(const ImageRegistry&) = delete;
    ImageRegistry& operator=(const ImageRegistry&) = delete;
    // Deletes the textures of every record, destroyed ones included, before the records go.
    ~ImageRegistry();

    // The stored record for handle, or null. Never inserts.
    BlockImage* lookup(std::uint32_t handle);

    // Lays out a new image and stores it under the lowest free handle. Returns 0, with the
    // registry and pool unchanged, when every handle is in use. Throws when memory runs out;
    // the registry and pool are then unchanged as well.
    std::uint32_t create(std::uint32_t width, std::uint32_t height);

    // Deletes the image's textures and frees its handle; the record stays until reissued.
    void destroy(std::uint32_t handle) noexcept;
};

// The single library-wide instance; null before init and after shutdown.
extern ImageRegistry* instance;

}  // namespace zelvan
