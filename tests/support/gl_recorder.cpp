#include "gl_recorder.h"

#include <GL/gl.h>
#ifdef _WIN32
#include "gl_import_redirect.h"
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace zelvan_test {

namespace {

bool recording = false;
unsigned forcedError = 0;  // non-zero: glGetError returns it instead of asking OpenGL
std::vector<std::string>& log() {
    static std::vector<std::string> calls;
    return calls;
}

std::string format(double value, bool isFloat) {
    char text[64];
    std::snprintf(text, sizeof text, isFloat ? "%.9g" : "%.0f", value);
    return text;
}

struct Arg {
    double value;
    bool isFloat;
    Arg(int v) : value(v), isFloat(false) {}
    Arg(unsigned v) : value(v), isFloat(false) {}
    Arg(float v) : value(v), isFloat(true) {}
    Arg(const void* p) : value(p == nullptr ? 0 : 1), isFloat(false) {}  // pointers: null or not
};

void record(const char* name, std::initializer_list<Arg> args) {
    if (!recording) return;
    std::string call = std::string(name) + "(";
    bool first = true;
    for (const Arg& arg : args) {
        if (!first) call += ", ";
        call += format(arg.value, arg.isFloat);
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
}
void GlRecorder::forceGetError(unsigned code) { forcedError = code; }
const std::vector<std::string>& GlRecorder::calls() const { return log(); }
void GlRecorder::clear() { log().clear(); }
void GlRecorder::pause() { recording = false; }
void GlRecorder::resume() { recording = true; }

}  // namespace zelvan_test

using zelvan_test::real;
using zelvan_test::record;
using zelvan_test::forcedError;

#ifdef _WIN32
// Windows binds each module's OpenGL calls through its import table, which the first recorder points
// at these wrappers (gl_import_redirect.cpp); they need names of their own.
#define ZT_WRAPPER(name) recorded_##name
#define ZT_LIST_WRAPPER(name)                          \
    [[maybe_unused]] static const bool listed_##name = \
        zelvan_test::listWrapper(#name, reinterpret_cast<void*>(&recorded_##name));
#else
// The test binary exports the entry points under their own names; libzelvan binds to these.
#define ZT_WRAPPER(name) name
#define ZT_LIST_WRAPPER(name)
#endif

// Each wrapper logs the call with its arguments and forwards it.
#define ZT_UNPACK(...) __VA_ARGS__
#define ZT_FORWARD(name, signature, params, args)                \
    extern "C" void ZT_WRAPPER(name) signature {                 \
        record(#name, {ZT_UNPACK args});                         \
        static auto fn = real<void(APIENTRY*) signature>(#name); \
        fn params;                                               \
    }                                                            \
    ZT_LIST_WRAPPER(name)

ZT_FORWARD(glGenTextures, (GLsizei n, GLuint* textures), (n, textures), (n))
ZT_FORWARD(glBindTexture, (GLenum target, GLuint texture), (target, texture), (target, texture))
ZT_FORWARD(glDeleteTextures, (GLsizei n, const GLuint* textures), (n, textures), (n, n > 0 ? textures[0] : 0u))
ZT_FORWARD(glTexParameterf, (GLenum target, GLenum pname, GLfloat param), (target, pname, param),
           (target, pname, param))
ZT_FORWARD(glTexImage2D,
           (GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height, GLint border,
            GLenum format, GLenum type, const void* pixels),
           (target, level, internalformat, width, height, border, format, type, pixels),
           (target, level, internalformat, width, height, border, format, type, pixels))
ZT_FORWARD(glPixelStorei, (GLenum pname, GLint param), (pname, param), (pname, param))
ZT_FORWARD(glPushClientAttrib, (GLbitfield mask), (mask), (mask))
ZT_FORWARD(glPopClientAttrib, (void), (), ())
ZT_FORWARD(glPushMatrix, (void), (), ())
ZT_FORWARD(glPopMatrix, (void), (), ())
ZT_FORWARD(glEnable, (GLenum cap), (cap), (cap))
ZT_FORWARD(glDisable, (GLenum cap), (cap), (cap))
ZT_FORWARD(glBlendFunc, (GLenum sfactor, GLenum dfactor), (sfactor, dfactor), (sfactor, dfactor))
ZT_FORWARD(glColor4ub, (GLubyte r, GLubyte g, GLubyte b, GLubyte a), (r, g, b, a),
           (unsigned{r}, unsigned{g}, unsigned{b}, unsigned{a}))
ZT_FORWARD(glTexEnvi, (GLenum target, GLenum pname, GLint param), (target, pname, param), (target, pname, param))
ZT_FORWARD(glRotatef, (GLfloat angle, GLfloat x, GLfloat y, GLfloat z), (angle, x, y, z), (angle, x, y, z))
ZT_FORWARD(glTranslatef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), (x, y, z))
ZT_FORWARD(glBegin, (GLenum mode), (mode), (mode))
ZT_FORWARD(glEnd, (void), (), ())
ZT_FORWARD(glNormal3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), (x, y, z))
ZT_FORWARD(glTexCoord2f, (GLfloat s, GLfloat t), (s, t), (s, t))
ZT_FORWARD(glVertex3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), (x, y, z))

extern "C" GLenum ZT_WRAPPER(glGetError)(void) {
    static auto fn = real<GLenum(APIENTRY*)(void)>("glGetError");
    const GLenum code = forcedError != 0 ? forcedError : fn();
    record("glGetError", {});
    return code;
}
ZT_LIST_WRAPPER(glGetError)
