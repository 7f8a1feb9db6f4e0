#include "scale_bar.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace zelvan_demo {

namespace {

constexpr int kMargin = 16, kPadding = 6, kBarHeight = 5, kFontScale = 2;
constexpr int kGlyphWidth = 5, kGlyphHeight = 8, kGlyphAdvance = 6;

// A label's characters, 5 x 7 pixels and a row below for the micro sign's tail, rows from the top, bit 4
// the leftmost pixel.
struct Glyph {
    char code;
    std::uint8_t rows[kGlyphHeight];
};
constexpr char kMicro = 'u';  // stands for the label's U+00B5
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x15, 0x15}},
    {kMicro, {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x1D, 0x10}},
};

const Glyph* glyphFor(char code) {
    for (const Glyph& glyph : kGlyphs)
        if (glyph.code == code) return &glyph;
    return nullptr;  // a space, or a character the bar never shows
}

// The label as glyph codes: the UTF-8 micro sign made one character.
std::string glyphCodes(const std::string& label) {
    std::string codes;
    for (std::size_t i = 0; i < label.size(); ++i) {
        if (label.compare(i, 2, "\u00b5") == 0) {
            codes += kMicro;
            ++i;
        } else {
            codes += label[i];
        }
    }
    return codes;
}

void rectangle(double x, double y, double width, double height) {
    glVertex2d(x, y);
    glVertex2d(x + width, y);
    glVertex2d(x + width, y + height);
    glVertex2d(x, y + height);
}

// Each lit pixel of the label a square, from (x, y), the label's bottom-left corner.
void drawLabel(const std::string& codes, double x, double y) {
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const Glyph* glyph = glyphFor(codes[i]);
        if (glyph == nullptr) continue;
        for (int row = 0; row < kGlyphHeight; ++row)
            for (int column = 0; column < kGlyphWidth; ++column)
                if (glyph->rows[row] & (0x10 >> column))
                    rectangle(x + double((int(i) * kGlyphAdvance + column) * kFontScale),
                              y + double((kGlyphHeight - 1 - row) * kFontScale), kFontScale, kFontScale);
    }
}

}  // namespace

void drawScaleBar(const ScaleBar& bar, int width, int height) {
    if (bar.pixels < 1 || bar.label.empty()) return;
    const std::string codes = glyphCodes(bar.label);
    const double labelWidth = double(codes.size() * kGlyphAdvance * kFontScale),
                 labelHeight = kGlyphHeight * kFontScale;
    const double groundWidth = std::max(bar.pixels, labelWidth) + 2 * kPadding,
                 groundHeight = kBarHeight + labelHeight + 3 * kPadding;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glBegin(GL_QUADS);
    glColor4f(0, 0, 0, 0.6f);
    rectangle(kMargin, kMargin, groundWidth, groundHeight);
    glColor4f(1, 1, 1, 1);
    rectangle(kMargin + kPadding, kMargin + kPadding, bar.pixels, kBarHeight);
    drawLabel(codes, kMargin + kPadding, kMargin + 2 * kPadding + kBarHeight);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

}  // namespace zelvan_demo
