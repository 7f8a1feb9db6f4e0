#include "gl_enum_names.h"

#include <GL/gl.h>

#include <cstddef>

// Values after OpenGL 1.1 that a caller's code may pass, and that an OpenGL 1.1 header (Windows') lacks.
#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif
#ifndef GL_BGR
#define GL_BGR 0x80E0
#endif
#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif

namespace zelvan_support::enum_names {

namespace {

// Each set lists the OpenGL 1.1 values that may stand in its place.
struct Name {
    unsigned value;
    const char* name;
};
#define ZT_NAME(value) \
    Name { value, #value }

template <std::size_t count>
const char* find(const Name (&names)[count], unsigned value) {
    for (const Name& entry : names)
        if (entry.value == value) return entry.name;
    return nullptr;
}

}  // namespace

const char* capabilityName(unsigned value) {
    static const Name names[] = {ZT_NAME(GL_ALPHA_TEST),     ZT_NAME(GL_BLEND),
                                 ZT_NAME(GL_COLOR_LOGIC_OP), ZT_NAME(GL_COLOR_MATERIAL),
                                 ZT_NAME(GL_CULL_FACE),      ZT_NAME(GL_DEPTH_TEST),
                                 ZT_NAME(GL_DITHER),         ZT_NAME(GL_FOG),
                                 ZT_NAME(GL_LIGHTING),       ZT_NAME(GL_LIGHT0),
                                 ZT_NAME(GL_LINE_SMOOTH),    ZT_NAME(GL_NORMALIZE),
                                 ZT_NAME(GL_POINT_SMOOTH),   ZT_NAME(GL_POLYGON_OFFSET_FILL),
                                 ZT_NAME(GL_POLYGON_SMOOTH), ZT_NAME(GL_SCISSOR_TEST),
                                 ZT_NAME(GL_STENCIL_TEST),   ZT_NAME(GL_TEXTURE_1D),
                                 ZT_NAME(GL_TEXTURE_2D),     ZT_NAME(GL_TEXTURE_GEN_S),
                                 ZT_NAME(GL_TEXTURE_GEN_T)};
    return find(names, value);
}

const char* textureTargetName(unsigned value) {
    static const Name names[] = {ZT_NAME(GL_TEXTURE_1D), ZT_NAME(GL_TEXTURE_2D), ZT_NAME(GL_PROXY_TEXTURE_1D),
                                 ZT_NAME(GL_PROXY_TEXTURE_2D)};
    return find(names, value);
}

const char* textureParameterName(unsigned value) {
    static const Name names[] = {ZT_NAME(GL_TEXTURE_MAG_FILTER), ZT_NAME(GL_TEXTURE_MIN_FILTER),
                                 ZT_NAME(GL_TEXTURE_WRAP_S), ZT_NAME(GL_TEXTURE_WRAP_T),
                                 ZT_NAME(GL_TEXTURE_PRIORITY)};
    return find(names, value);
}

namespace {

const char* filterName(unsigned value) {
    static const Name names[] = {ZT_NAME(GL_NEAREST),
                                 ZT_NAME(GL_LINEAR),
                                 ZT_NAME(GL_NEAREST_MIPMAP_NEAREST),
                                 ZT_NAME(GL_LINEAR_MIPMAP_NEAREST),
                                 ZT_NAME(GL_NEAREST_MIPMAP_LINEAR),
                                 ZT_NAME(GL_LINEAR_MIPMAP_LINEAR)};
    return find(names, value);
}

const char* wrapName(unsigned value) {
    static const Name names[] = {ZT_NAME(GL_CLAMP), ZT_NAME(GL_REPEAT), ZT_NAME(GL_CLAMP_TO_EDGE)};
    return find(names, value);
}

const char* textureEnvModeName(unsigned value) {
    static const Name names[] = {ZT_NAME(GL_MODULATE), ZT_NAME(GL_DECAL), ZT_NAME(GL_BLEND),
                                 ZT_NAME(GL_REPLACE)};
    return find(names, value);
}

}  // namespace

EnumNames textureParameterValueNames(unsigned pname) {
    switch (pname) {
        case GL_TEXTURE_MAG_FILTER:
        case GL_TEXTURE_MIN_FILTER:
            return filterName;
        case GL_TEXTURE_WRAP_S:
        case GL_TEXTURE_WRAP_T:
            return wrapName;
        default:
            return nullptr;
    }
}

const char* textureEnvTargetName(unsigned value) {
    return value == GL_TEXTURE_ENV ? "GL_TEXTURE_ENV" : nullptr;
}

const char* textureEnvParameterName(unsigned value) {
    return value == GL_TEXTURE_ENV_MODE ? "GL_TEXTURE_ENV_MODE" : nullptr;
}

EnumNames textureEnvValueNames(unsigned pname) {
    return pname == GL_TEXTURE_ENV_MODE ? textureEnvModeName : nullptr;
}

const char* pixelStoreParameterName(unsigned value) {
    static const Name names[] = {
        ZT_NAME(GL_UNPACK_SWAP_BYTES), ZT_NAME(GL_UNPACK_LSB_FIRST),   ZT_NAME(GL_UNPACK_ROW_LENGTH),
        ZT_NAME(GL_UNPACK_SKIP_ROWS),  ZT_NAME(GL_UNPACK_SKIP_PIXELS), ZT_NAME(GL_UNPACK_ALIGNMENT),
        ZT_NAME(GL_PACK_SWAP_BYTES),   ZT_NAME(GL_PACK_LSB_FIRST),     ZT_NAME(GL_PACK_ROW_LENGTH),
        ZT_NAME(GL_PACK_SKIP_ROWS),    ZT_NAME(GL_PACK_SKIP_PIXELS),   ZT_NAME(GL_PACK_ALIGNMENT)};
    return find(names, value);
}

const char* clientAttribBitsName(unsigned value) {
    static const Name names[] = {ZT_NAME(GL_CLIENT_PIXEL_STORE_BIT),
                                 ZT_NAME(GL_CLIENT_VERTEX_ARRAY_BIT),
                                 ZT_NAME(GL_CLIENT_ALL_ATTRIB_BITS),
                                 {GL_CLIENT_PIXEL_STORE_BIT | GL_CLIENT_VERTEX_ARRAY_BIT,
                                  "GL_CLIENT_PIXEL_STORE_BIT | GL_CLIENT_VERTEX_ARRAY_BIT"}};
    return find(names, value);
}

const char* blendFactorName(unsigned value) {
    static const Name names[] = {ZT_NAME(GL_ZERO),
                                 ZT_NAME(GL_ONE),
                                 ZT_NAME(GL_SRC_COLOR),
                                 ZT_NAME(GL_ONE_MINUS_SRC_COLOR),
                                 ZT_NAME(GL_SRC_ALPHA),
                                 ZT_NAME(GL_ONE_MINUS_SRC_ALPHA),
                                 ZT_NAME(GL_DST_ALPHA),
                                 ZT_NAME(GL_ONE_MINUS_DST_ALPHA),
                                 ZT_NAME(GL_DST_COLOR),
                                 ZT_NAME(GL_ONE_MINUS_DST_COLOR),
                                 ZT_NAME(GL_SRC_ALPHA_SATURATE)};
    return find(names, value);
}

const char* primitiveName(unsigned value) {
    static const Name names[] = {ZT_NAME(GL_POINTS),       ZT_NAME(GL_LINES),     ZT_NAME(GL_LINE_LOOP),
                                 ZT_NAME(GL_LINE_STRIP),   ZT_NAME(GL_TRIANGLES), ZT_NAME(GL_TRIANGLE_STRIP),
                                 ZT_NAME(GL_TRIANGLE_FAN), ZT_NAME(GL_QUADS),     ZT_NAME(GL_QUAD_STRIP),
                                 ZT_NAME(GL_POLYGON)};
    return find(names, value);
}

const char* internalFormatName(unsigned value) {
    static const char* const kComponentCounts[] = {"1", "2", "3", "4"};
    if (value >= 1 && value <= 4) return kComponentCounts[value - 1];
    static const Name names[] = {ZT_NAME(GL_ALPHA),     ZT_NAME(GL_LUMINANCE), ZT_NAME(GL_LUMINANCE_ALPHA),
                                 ZT_NAME(GL_INTENSITY), ZT_NAME(GL_RGB),       ZT_NAME(GL_RGB8),
                                 ZT_NAME(GL_RGBA),      ZT_NAME(GL_RGBA8)};
    return find(names, value);
}

const char* pixelFormatName(unsigned value) {
    static const Name names[] = {ZT_NAME(GL_ALPHA), ZT_NAME(GL_LUMINANCE), ZT_NAME(GL_LUMINANCE_ALPHA),
                                 ZT_NAME(GL_RGB),   ZT_NAME(GL_RGBA),      ZT_NAME(GL_BGR),
                                 ZT_NAME(GL_BGRA)};
    return find(names, value);
}

const char* pixelTypeName(unsigned value) {
    static const Name names[] = {
        ZT_NAME(GL_UNSIGNED_BYTE), ZT_NAME(GL_BYTE), ZT_NAME(GL_UNSIGNED_SHORT), ZT_NAME(GL_SHORT),
        ZT_NAME(GL_UNSIGNED_INT),  ZT_NAME(GL_INT),  ZT_NAME(GL_FLOAT),          ZT_NAME(GL_BITMAP)};
    return find(names, value);
}

}  // namespace zelvan_support::enum_names
