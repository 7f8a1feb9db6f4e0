#pragma once
#include <cstdint>
#include <map>

#include "blocks/block_image.h"
#include "handle_pool.h"

namespace zelvan {

// The library instance: every image record, keyed by handle, and the pool that issues handles.
struct ImageRegistry {
    std::map<std::uint32_t, BlockImage> images;  // destroyed records stay until their handle is reissued
    HandlePool handles;

    ImageRegistry() = default;
    ImageRegistry(const ImageRegistry&) = delete;
    ImageRegistry& operator=(const ImageRegistry&) = delete;
    // Deletes the textures of every record, destroyed ones included, before the records go.
    ~ImageRegistry();

    // The stored record for handle, or null. Never inserts.
    BlockImage* lookup(std::uint32_t handle);

    // Lays out a new image of kBlockSize blocks and stores it under the lowest free handle.
    // Returns 0, with the registry and pool unchanged, when every handle is in use. Throws when
    // memory runs out; the registry and pool are then unchanged as well.
    std::uint32_t create(std::uint32_t width, std::uint32_t height);

    // Deletes the image's textures and frees its handle; the record stays until reissued.
    void destroy(std::uint32_t handle) noexcept;
};

// The single library-wide instance; null before init and after shutdown.
extern ImageRegistry* instance;

// What the exported functions ask of the instance. Without one, each does nothing and returns its
// null result.

// Creates the instance unless one exists, keeping the images of an existing one. True once the
// instance exists; throws std::bad_alloc when it cannot be allocated.
bool openInstance();
// Destroys the instance: every texture, record and handle goes.
void closeInstance() noexcept;
// ImageRegistry::create on the instance; 0 without one.
std::uint32_t createImage(std::uint32_t width, std::uint32_t height);
// ImageRegistry::destroy on the instance.
void destroyImage(std::uint32_t handle) noexcept;
// The lookup every function taking a handle follows: the stored record, live or destroyed, or null.
BlockImage* findImage(std::uint32_t handle) noexcept;

}  // namespace zelvan
