#include "gl_recorder.h"

#include <GL/gl.h>
#ifdef _WIN32
#include "gl_import_redirect.h"
#else
#include <dlfcn.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "gl_enum_names.h"

namespace zelvan_support {

namespace {

bool recording = false;
unsigned forcedError = 0;  // non-zero: glGetError returns it instead of asking OpenGL
std::string failingCall;   // the call after which injectedError is raised, once
unsigned failingCode = 0;
unsigned injectedError = 0;  // returned by the next glGetError ahead of OpenGL's own errors
std::vector<std::string>& log() {
    static std::vector<std::string> calls;
    return calls;
}

struct Arg {
    double value;
    bool isFloat;
    EnumNames names = nullptr;  // set for an enum argument
    Arg(int v) : value(v), isFloat(false) {}
    Arg(unsigned v) : value(v), isFloat(false) {}
    Arg(float v) : value(v), isFloat(true) {}
    Arg(const void* p) : value(p == nullptr ? 0 : 1), isFloat(false) {}  // pointers: null or not
};

// An argument printed by its name in names; nullptr names: a plain number.
Arg named(EnumNames names, Arg arg) {
    arg.names = names;
    return arg;
}

// An enum by its name, in hex when it has none there; a float that equals an enum value exactly (a
// filter set with glTexParameterf) by that enum's name too. Other numbers as before: integers in
// decimal, floats with %.9g.
std::string format(const Arg& arg) {
    char text[64];
    const bool whole = arg.value >= 0 && arg.value <= 0xFFFFFFFF && arg.value == std::floor(arg.value);
    if (arg.names != nullptr && whole) {
        const auto value = static_cast<unsigned>(arg.value);
        if (const char* name = arg.names(value)) return name;
        if (!arg.isFloat) {
            std::snprintf(text, sizeof text, "0x%04X", value);
            return text;
        }
    }
    std::snprintf(text, sizeof text, arg.isFloat ? "%.9g" : "%.0f", arg.value);
    return text;
}

void record(const char* name, std::initializer_list<Arg> args) {
    if (!failingCall.empty() && failingCall == name) {
        injectedError = failingCode;
        failingCall.clear();
    }
    if (!recording) return;
    std::string call = std::string(name) + "(";
    bool first = true;
    for (const Arg& arg : args) {
        if (!first) call += ", ";
        call += format(arg);
        first = false;
    }
    log().push_back(call + ")");
}

template <typename Fn>
Fn real(const char* name) {
#ifdef _WIN32
    void* symbol = realGlFunction(name);
#else
    void* symbol = dlsym(RTLD_NEXT, name);
#endif
    if (symbol == nullptr) {
        std::fprintf(stderr, "GL recorder: no real %s\n", name);
        std::abort();
    }
    return reinterpret_cast<Fn>(symbol);
}

}  // namespace

GlRecorder::GlRecorder() {
#ifdef _WIN32
    redirectGlImports();
#endif
    log().clear();
    recording = true;
}
GlRecorder::~GlRecorder() {
    recording = false;
    forcedError = 0;
    failingCall.clear();
    injectedError = 0;
}
void GlRecorder::forceGetError(unsigned code) { forcedError = code; }
void GlRecorder::failAfter(const char* call, unsigned code) {
    failingCall = call;
    failingCode = code;
    injectedError = 0;
}
const std::vector<std::string>& GlRecorder::calls() const { return log(); }
void GlRecorder::clear() { log().clear(); }
void GlRecorder::pause() { recording = false; }
void GlRecorder::resume() { recording = true; }

}  // namespace zelvan_support

using zelvan_support::forcedError;
using zelvan_support::injectedError;
using zelvan_support::named;
using zelvan_support::real;
using zelvan_support::record;
using namespace zelvan_support::enum_names;

#ifdef _WIN32
// Windows binds each module's OpenGL calls through its import table, which the first recorder points
// at these wrappers (gl_import_redirect.cpp); they need names of their own.
#define ZT_WRAPPER(name) recorded_##name
#define ZT_LIST_WRAPPER(name)                          \
    [[maybe_unused]] static const bool listed_##name = \
        zelvan_support::listWrapper(#name, reinterpret_cast<void*>(&recorded_##name));
#else
// The test binary exports the entry points under their own names; libzelvan binds to these.
#define ZT_WRAPPER(name) name
#define ZT_LIST_WRAPPER(name)
#endif

// Each wrapper logs the call with its arguments, enums by name, and forwards it.
#define ZT_UNPACK(...) __VA_ARGS__
#define ZT_FORWARD(name, signature, params, args)                \
    extern "C" void ZT_WRAPPER(name) signature {                 \
        record(#name, {ZT_UNPACK args});                         \
        static auto fn = real<void(APIENTRY*) signature>(#name); \
        fn params;                                               \
    }                                                            \
    ZT_LIST_WRAPPER(name)

ZT_FORWARD(glGenTextures, (GLsizei n, GLuint* textures), (n, textures), (n))
ZT_FORWARD(glBindTexture, (GLenum target, GLuint texture), (target, texture),
           (named(textureTargetName, target), texture))
ZT_FORWARD(glDeleteTextures, (GLsizei n, const GLuint* textures), (n, textures),
           (n, n > 0 ? textures[0] : 0u))
ZT_FORWARD(glTexParameterf, (GLenum target, GLenum pname, GLfloat param), (target, pname, param),
           (named(textureTargetName, target), named(textureParameterName, pname),
            named(textureParameterValueNames(pname), param)))
ZT_FORWARD(glTexParameteri, (GLenum target, GLenum pname, GLint param), (target, pname, param),
           (named(textureTargetName, target), named(textureParameterName, pname),
            named(textureParameterValueNames(pname), param)))
ZT_FORWARD(glTexImage2D,
           (GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height, GLint border,
            GLenum format, GLenum type, const void* pixels),
           (target, level, internalformat, width, height, border, format, type, pixels),
           (named(textureTargetName, target), level, named(internalFormatName, internalformat), width, height,
            border, named(pixelFormatName, format), named(pixelTypeName, type), pixels))
ZT_FORWARD(glPixelStorei, (GLenum pname, GLint param), (pname, param),
           (named(pixelStoreParameterName, pname), param))
ZT_FORWARD(glPushClientAttrib, (GLbitfield mask), (mask), (named(clientAttribBitsName, mask)))
ZT_FORWARD(glPopClientAttrib, (void), (), ())
ZT_FORWARD(glPushMatrix, (void), (), ())
ZT_FORWARD(glPopMatrix, (void), (), ())
ZT_FORWARD(glEnable, (GLenum cap), (cap), (named(capabilityName, cap)))
ZT_FORWARD(glDisable, (GLenum cap), (cap), (named(capabilityName, cap)))
ZT_FORWARD(glBlendFunc, (GLenum sfactor, GLenum dfactor), (sfactor, dfactor),
           (named(blendFactorName, sfactor), named(blendFactorName, dfactor)))
ZT_FORWARD(glColor4ub, (GLubyte r, GLubyte g, GLubyte b, GLubyte a), (r, g, b, a),
           (unsigned{r}, unsigned{g}, unsigned{b}, unsigned{a}))
ZT_FORWARD(glTexEnvi, (GLenum target, GLenum pname, GLint param), (target, pname, param),
           (named(textureEnvTargetName, target), named(textureEnvParameterName, pname),
            named(textureEnvValueNames(pname), param)))
ZT_FORWARD(glRotatef, (GLfloat angle, GLfloat x, GLfloat y, GLfloat z), (angle, x, y, z), (angle, x, y, z))
ZT_FORWARD(glTranslatef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), (x, y, z))
ZT_FORWARD(glBegin, (GLenum mode), (mode), (named(primitiveName, mode)))
ZT_FORWARD(glEnd, (void), (), ())
ZT_FORWARD(glNormal3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), (x, y, z))
ZT_FORWARD(glTexCoord2f, (GLfloat s, GLfloat t), (s, t), (s, t))
ZT_FORWARD(glVertex3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), (x, y, z))

extern "C" GLenum ZT_WRAPPER(glGetError)(void) {
    static auto fn = real<GLenum(APIENTRY*)(void)>("glGetError");
    GLenum code = forcedError;
    if (code == 0 && injectedError != 0) {
        code = injectedError;
        injectedError = 0;
    }
    if (code == 0) code = fn();
    record("glGetError", {});
    return code;
}
ZT_LIST_WRAPPER(glGetError)
