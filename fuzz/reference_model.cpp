#include "reference_model.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace zelvan_fuzz {

namespace {

constexpr std::uint32_t kBlock = 512;

std::uint32_t powerOfTwoAtLeast(std::uint32_t n) {
    std::uint32_t p = 1;
    while (p < n) p *= 2;
    return p;
}

// The GL recorder's notation: enums by name, integers as "%.0f", floats as "%.9g" (a NaN's sign
// is ignored).
std::string num(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}
std::string flt(float value) {
    if (std::isnan(value)) return "nan";
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}
std::string call(const char* name, std::initializer_list<std::string> args) {
    std::string text = std::string(name) + "(";
    bool first = true;
    for (const std::string& arg : args) {
        text += (first ? "" : ", ") + arg;
        first = false;
    }
    return text + ")";
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
    std::vector<std::string> calls;
    if (image.width == 0 || image.height == 0) return calls;
    const std::string zero = flt(0.0f), one = flt(1.0f);
    calls = {
        call("glPushMatrix", {}),
        call("glEnable", {"GL_BLEND"}),
        call("glEnable", {"GL_TEXTURE_2D"}),
        call("glBlendFunc", {"GL_SRC_ALPHA", "GL_ONE_MINUS_SRC_ALPHA"}),
        call("glColor4ub", {num(255), num(255), num(255), num(image.alpha)}),
        call("glTexEnvi", {"GL_TEXTURE_ENV", "GL_TEXTURE_ENV_MODE", "GL_MODULATE"}),
        call("glRotatef", {flt(image.rotation.x), one, zero, zero}),
        call("glRotatef", {flt(image.rotation.y), zero, one, zero}),
        call("glRotatef", {flt(image.rotation.z), zero, zero, one}),
        call("glTranslatef",
             {flt(image.translation.x),
              flt(static_cast<float>(static_cast<double>(image.height) * image.sy + image.translation.y)),
              flt(image.translation.z)})};
    for (std::uint32_t row = 0; row < image.vBlocks; ++row) {
        calls.push_back(call("glPushMatrix", {}));
        for (std::uint32_t col = 0; col < image.hBlocks; ++col) {
            const ModelBlock& b = image.blocks[std::size_t{row} * image.hBlocks + col];
            const float s = static_cast<float>(b.width) / static_cast<float>(b.textureWidth);
            const float t = static_cast<float>(b.height) / static_cast<float>(b.textureHeight);
            const float w = static_cast<float>(b.width) * image.sx;
            const float h = static_cast<float>(b.height) * image.sy;
            const std::vector<std::string> quad = {call("glBindTexture", {"GL_TEXTURE_2D", num(b.texture)}),
                                                   call("glBegin", {"GL_QUADS"}),
                                                   call("glNormal3f", {zero, zero, one}),
                                                   call("glTexCoord2f", {zero, zero}),
                                                   call("glVertex3f", {zero, zero, zero}),
                                                   call("glTexCoord2f", {flt(s), zero}),
                                                   call("glVertex3f", {flt(w), zero, zero}),
                                                   call("glTexCoord2f", {flt(s), flt(t)}),
                                                   call("glVertex3f", {flt(w), flt(-h), zero}),
                                                   call("glTexCoord2f", {zero, flt(t)}),
                                                   call("glVertex3f", {zero, flt(-h), zero}),
                                                   call("glEnd", {}),
                                                   call("glTranslatef", {flt(w), zero, zero})};
            calls.insert(calls.end(), quad.begin(), quad.end());
        }
        calls.push_back(call("glPopMatrix", {}));
        const float step =
            static_cast<float>(image.blocks[std::size_t{row} * image.hBlocks].height) * image.sy;
        calls.push_back(call("glTranslatef", {zero, flt(-step), zero}));
    }
    calls.push_back(call("glDisable", {"GL_TEXTURE_2D"}));
    calls.push_back(call("glPopMatrix", {}));
    return calls;
}

}  // namespace zelvan_fuzz
