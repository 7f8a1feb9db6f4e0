#include "draw_calls.h"

#include <cmath>
#include <cstdio>

namespace zelvan_support {

namespace {

// Floats as the recorder prints them, "%.9g" (a NaN's sign is ignored).
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

}  // namespace

std::vector<std::string> expectedDrawCalls(const DrawnImage& image) {
    std::vector<std::string> calls;
    if (image.width == 0 || image.height == 0) return calls;
    const std::string zero = flt(0.0f), one = flt(1.0f);
    // The top edge is computed in double and rounded once.
    const float top =
        static_cast<float>(static_cast<double>(image.height) * image.scaleY + image.translation[1]);
    calls = {call("glPushMatrix", {}),
             call("glEnable", {"GL_BLEND"}),
             call("glEnable", {"GL_TEXTURE_2D"}),
             call("glBlendFunc", {"GL_SRC_ALPHA", "GL_ONE_MINUS_SRC_ALPHA"}),
             call("glColor4ub", {"255", "255", "255", std::to_string(image.alpha)}),
             call("glTexEnvi", {"GL_TEXTURE_ENV", "GL_TEXTURE_ENV_MODE", "GL_MODULATE"}),
             call("glRotatef", {flt(image.rotation[0]), one, zero, zero}),
             call("glRotatef", {flt(image.rotation[1]), zero, one, zero}),
             call("glRotatef", {flt(image.rotation[2]), zero, zero, one}),
             call("glTranslatef", {flt(image.translation[0]), flt(top), flt(image.translation[2])})};
    for (std::uint32_t row = 0; row < image.vBlocks; ++row) {
        calls.push_back(call("glPushMatrix", {}));
        for (std::uint32_t col = 0; col < image.hBlocks; ++col) {
            const DrawnBlock& b = image.blocks[std::size_t{row} * image.hBlocks + col];
            const float s = static_cast<float>(b.width) / static_cast<float>(b.textureWidth);
            const float t = static_cast<float>(b.height) / static_cast<float>(b.textureHeight);
            const float w = static_cast<float>(b.width) * image.scaleX;
            const float h = static_cast<float>(b.height) * image.scaleY;
            calls.insert(calls.end(),
                         {call("glBindTexture", {"GL_TEXTURE_2D", std::to_string(b.texture)}),
                          call("glBegin", {"GL_QUADS"}), call("glNormal3f", {zero, zero, one}),
                          call("glTexCoord2f", {zero, zero}), call("glVertex3f", {zero, zero, zero}),
                          call("glTexCoord2f", {flt(s), zero}), call("glVertex3f", {flt(w), zero, zero}),
                          call("glTexCoord2f", {flt(s), flt(t)}), call("glVertex3f", {flt(w), flt(-h), zero}),
                          call("glTexCoord2f", {zero, flt(t)}), call("glVertex3f", {zero, flt(-h), zero}),
                          call("glEnd", {}), call("glTranslatef", {flt(w), zero, zero})});
        }
        calls.push_back(call("glPopMatrix", {}));
        const float step =
            static_cast<float>(image.blocks[std::size_t{row} * image.hBlocks].height) * image.scaleY;
        calls.push_back(call("glTranslatef", {zero, flt(-step), zero}));
    }
    calls.push_back(call("glDisable", {"GL_TEXTURE_2D"}));
    calls.push_back(call("glPopMatrix", {}));
    return calls;
}

}  // namespace zelvan_support
