#include "block_upload.h"

#include <cstdint>

#include "demo_error.h"

namespace zelvan_demo {

ZelvanHandle uploadImage(const BgraImage& image, const std::string& name, const ProgressFn& blocksDone) {
    checkImageFits(image.width, image.height, name);  // also checks the pitch fits in 32 bits
    const ZelvanHandle handle = ZelvanCreate(image.width, image.height);
    if (handle == ZelvanZeroHandle())
        throw DemoError(name + ": the library cannot hold a " + std::to_string(image.width) + " x " +
                        std::to_string(image.height) + " image");
    const std::uint32_t rows = ZelvanGetVBlocks(handle), cols = ZelvanGetHBlocks(handle);
    const std::uint64_t total = std::uint64_t{rows} * cols;
    const auto pitch = static_cast<std::int32_t>(image.pitch());
    for (std::uint32_t row = 0; row < rows; ++row)
        for (std::uint32_t col = 0; col < cols; ++col) {
            std::uint32_t x = 0, y = 0;
            const bool placed = ZelvanGetBlockDem(handle, row, col, &x, &y, nullptr, nullptr);
            if (!placed || !ZelvanSetBlockPtr(handle, row, col, image.row(y) + std::size_t{x} * 4, pitch)) {
                ZelvanDestroy(handle);
                throw DemoError(name + ": the library could not take block (" + std::to_string(row) + ", " +
                                std::to_string(col) + ")");
            }
            if (blocksDone) blocksDone(std::uint64_t{row} * cols + col + 1, total);
        }
    return handle;
}

}  // namespace zelvan_demo
