#include "draw.h"

#include <cmath>
#include <limits>

#include "opengl.h"

namespace zelvan {

void setAlpha(BlockImage& image, std::uint8_t alpha) noexcept { image.alpha = alpha; }

void setTranslation(BlockImage& image, float x, float y, float z) noexcept { image.translation = {x, y, z}; }

void setRotation(BlockImage& image, float x, float y, float z) noexcept { image.rotation = {x, y, z}; }

namespace {

// size / pixels rounded once to float; an image without pixels in that direction gets +infinity
// (NaN for a NaN size) and is never drawn.
float unitsPerPixel(float size, std::uint32_t pixels) {
    if (size < 1.0f) size = 1.0f;  // NaN is not less than 1 and passes through
    if (pixels == 0) return std::isnan(size) ? size : std::numeric_limits<float>::infinity();
    return static_cast<float>(static_cast<double>(size) / static_cast<double>(pixels));
}

}  // namespace

void setScale(BlockImage& image, float x, float y, bool asSize) noexcept {
    if (asSize) {
        x = unitsPerPixel(x, image.width);
        y = unitsPerPixel(y, image.height);
    }
    image.scale.x = x;
    image.scale.y = y;
}

void drawBlock(const BlockImage& image, const Block& block) noexcept {
    const float s = static_cast<float>(block.width) / static_cast<float>(block.textureWidth);
    const float t = static_cast<float>(block.height) / static_cast<float>(block.textureHeight);
    const float w = static_cast<float>(block.width) * image.scale.x;
    const float h = static_cast<float>(block.height) * image.scale.y;

    glBindTexture(GL_TEXTURE_2D, block.texture);
    glBegin(GL_QUADS);
    glNormal3f(0.0f, 0.0f, 1.0f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glTexCoord2f(s, 0.0f);
    glVertex3f(w, 0.0f, 0.0f);
    glTexCoord2f(s, t);
    glVertex3f(w, -h, 0.0f);
    glTexCoord2f(0.0f, t);
    glVertex3f(0.0f, -h, 0.0f);
    glEnd();
}

void drawImage(const BlockImage& image) noexcept {
    if (image.width == 0 || image.height == 0) return;
    if (std::uint64_t{image.vBlocks} * image.hBlocks != image.blocks.size()) return;

    glPushMatrix();
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4ub(255, 255, 255, image.alpha);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

    glRotatef(image.rotation.x, 1.0f, 0.0f, 0.0f);
    glRotatef(image.rotation.y, 0.0f, 1.0f, 0.0f);
    glRotatef(image.rotation.z, 0.0f, 0.0f, 1.0f);
    // Move the origin to the image's top-left corner; the top edge is computed in double.
    const double top = static_cast<double>(image.height) * image.scale.y + image.translation.y;
    glTranslatef(image.translation.x, static_cast<float>(top), image.translation.z);

    for (std::uint32_t row = 0; row < image.vBlocks; ++row) {
        glPushMatrix();
        for (std::uint32_t col = 0; col < image.hBlocks; ++col) {
            const Block& block = image.blockAt(row, col);
            drawBlock(image, block);
            glTranslatef(static_cast<float>(block.width) * image.scale.x, 0.0f, 0.0f);
        }
        glPopMatrix();
        // The row's first block sets the step down to the next row.
        glTranslatef(0.0f, -(static_cast<float>(image.blockAt(row, 0).height) * image.scale.y), 0.0f);
    }
    glDisable(GL_TEXTURE_2D);
    glPopMatrix();
}

}  // namespace zelvan
