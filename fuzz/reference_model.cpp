#include "reference_model.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "draw_calls.h"
#include "zelvan.h"

namespace zelvan_fuzz {

namespace {

constexpr std::uint32_t kBlock = ZELVAN_BLOCK_SIZE;

std::uint32_t powerOfTwoAtLeast(std::uint32_t n) {
    std::uint32_t p = 1;
    while (p < n) p *= 2;
    return p;
}

void collectTextures(ModelImage& image, std::vector<std::uint32_t>& deleted) {
    for (ModelBlock& block : image.blocks) {
        if (block.texture != 0) deleted.push_back(block.texture);
        block.texture = 0;
    }
}

}  // namespace

std::uint64_t blockCount(std::uint32_t width, std::uint32_t height) {
    const std::uint64_t cols = (std::uint64_t{width} + kBlock - 1) / kBlock;
    const std::uint64_t rows = (std::uint64_t{height} + kBlock - 1) / kBlock;
    return cols * rows;
}

ModelImage layoutImage(std::uint32_t width, std::uint32_t height) {
    ModelImage image;
    image.width = width;
    image.height = height;
    image.hBlocks = static_cast<std::uint32_t>((std::uint64_t{width} + kBlock - 1) / kBlock);
    image.vBlocks = static_cast<std::uint32_t>((std::uint64_t{height} + kBlock - 1) / kBlock);
    if (width == 0 || height == 0) return image;
    for (std::uint32_t row = 0; row < image.vBlocks; ++row) {
        const std::uint32_t y = row * kBlock, h = height - y < kBlock ? height - y : kBlock;
        for (std::uint32_t col = 0; col < image.hBlocks; ++col) {
            const std::uint32_t x = col * kBlock, w = width - x < kBlock ? width - x : kBlock;
            image.blocks.push_back(ModelBlock{x, y, w, h, powerOfTwoAtLeast(w), powerOfTwoAtLeast(h)});
        }
    }
    return image;
}

ModelImage* Model::find(std::uint32_t handle) {
    if (!hasInstance_) return nullptr;
    auto found = records_.find(handle);
    return found == records_.end() ? nullptr : &found->second;
}

void Model::init() { hasInstance_ = true; }

void Model::shutdown(std::vector<std::uint32_t>& deleted) {
    for (auto& entry : records_) collectTextures(entry.second, deleted);
    records_.clear();
    live_.clear();
    hasInstance_ = false;
}

std::uint32_t Model::create(std::uint32_t width, std::uint32_t height, std::vector<std::uint32_t>& deleted) {
    if (!hasInstance_ || blockCount(width, height) >= kAbsurdBlockCount) return 0;
    std::uint32_t handle = 1;
    while (live_.count(handle) != 0) ++handle;
    auto stale = records_.find(handle);
    if (stale != records_.end()) collectTextures(stale->second, deleted);
    records_[handle] = layoutImage(width, height);
    live_.insert(handle);
    return handle;
}

void Model::destroy(std::uint32_t handle, std::vector<std::uint32_t>& deleted) {
    ModelImage* image = find(handle);
    if (image == nullptr) return;
    collectTextures(*image, deleted);
    live_.erase(handle);
}

float scaleFor(float value, std::uint32_t pixels, bool asSize) {
    if (!asSize) return value;
    if (value < 1.0f) value = 1.0f;
    if (pixels == 0) return std::isnan(value) ? value : std::numeric_limits<float>::infinity();
    return static_cast<float>(static_cast<double>(value) / pixels);
}

std::vector<std::string> expectedDrawCalls(const ModelImage& image) {
    zelvan_support::DrawnImage drawn;
    drawn.width = image.width;
    drawn.height = image.height;
    drawn.hBlocks = image.hBlocks;
    drawn.vBlocks = image.vBlocks;
    for (const ModelBlock& b : image.blocks)
        drawn.blocks.push_back({b.width, b.height, b.textureWidth, b.textureHeight, b.texture});
    drawn.translation[0] = image.translation.x;
    drawn.translation[1] = image.translation.y;
    drawn.translation[2] = image.translation.z;
    drawn.rotation[0] = image.rotation.x;
    drawn.rotation[1] = image.rotation.y;
    drawn.rotation[2] = image.rotation.z;
    drawn.scaleX = image.sx;
    drawn.scaleY = image.sy;
    drawn.alpha = image.alpha;
    return zelvan_support::expectedDrawCalls(drawn);
}

}  // namespace zelvan_fuzz
