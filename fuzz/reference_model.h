#pragma once
// What the library must answer, written from its documented behaviour and independent of its code:
// the handle rule, the stored records (stale ones included), the block layout, the placement and
// the texture names each block holds.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace zelvan_fuzz {

struct ModelBlock {
    std::uint32_t x, y, width, height, textureWidth, textureHeight;
    std::uint32_t texture = 0;  // name seen bound after the block's last upload; 0 = none
};

struct Vector {
    float x = 0, y = 0, z = 0;
};

struct ModelImage {
    std::uint32_t width = 0, height = 0, hBlocks = 0, vBlocks = 0;
    std::vector<ModelBlock> blocks;
    Vector translation, rotation;
    float sx = 1, sy = 1;
    std::uint8_t alpha = 255;
};

// Images with at least this many blocks cannot be held by any machine the fuzzer runs on.
constexpr std::uint64_t kAbsurdBlockCount = std::uint64_t{1} << 36;

std::uint64_t blockCount(std::uint32_t width, std::uint32_t height);

// The grid of 512 x 512 blocks, partial blocks last in their row and column, with power-of-two
// texture sides. Callers keep blockCount() small.
ModelImage layoutImage(std::uint32_t width, std::uint32_t height);

class Model {
public:
    bool hasInstance() const { return hasInstance_; }
    ModelImage* find(std::uint32_t handle);
    bool isLive(std::uint32_t handle) const { return live_.count(handle) != 0; }
    const std::map<std::uint32_t, ModelImage>& records() const { return records_; }

    void init();
    // Each appends the texture names the call must delete, in the order it deletes them.
    void shutdown(std::vector<std::uint32_t>& deleted);
    std::uint32_t create(std::uint32_t width, std::uint32_t height, std::vector<std::uint32_t>& deleted);
    void destroy(std::uint32_t handle, std::vector<std::uint32_t>& deleted);

private:
    bool hasInstance_ = false;
    std::map<std::uint32_t, ModelImage> records_;
    std::set<std::uint32_t> live_;
};

// ZelvanScale's stored value for one axis.
float scaleFor(float value, std::uint32_t pixels, bool asSize);

// The OpenGL calls ZelvanDraw makes for image, in the GL recorder's notation.
std::vector<std::string> expectedDrawCalls(const ModelImage& image);

}  // namespace zelvan_fuzz
