#include "null_gl.h"

#include <GL/gl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace {

struct State {
    std::thread::id drawing;
    std::unordered_map<GLuint, std::size_t> textures;  // live name -> bytes allocated (0 before glTexImage2D)
    GLuint nextName = 1;
    GLuint bound = 0;
    std::size_t bytes = 0, peak = 0;
    std::uint64_t texImages = 0, failingTexImage = 0, failedTexImages = 0;
    GLenum error = GL_NO_ERROR;
    int matrixDepth = 0, clientDepth = 0;
    bool inBegin = false;
};

State state;

[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fprintf(stderr, "zelvan fuzz: null OpenGL: ");
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    va_end(args);
    std::abort();
}

// Every entry point starts here: OpenGL belongs to the thread whose context is current.
void enter(const char* function) {
    if (std::this_thread::get_id() != state.drawing)
        fail("%s called from a thread other than the drawing one", function);
}

void raise(GLenum error) {
    if (state.error == GL_NO_ERROR) state.error = error;
}

bool isPowerOfTwo(GLsizei side) { return side > 0 && (side & (side - 1)) == 0; }

}  // namespace

namespace zelvan_fuzz::null_gl {

void reset(std::thread::id drawing) {
    state = State{};
    state.drawing = drawing;
}
std::size_t liveTextures() { return state.textures.size(); }
std::size_t liveBytes() { return state.bytes; }
std::size_t peakBytes() { return state.peak; }
void resetPeak() { state.peak = state.bytes; }
std::uint64_t texImages() { return state.texImages; }
void failTexImage(std::uint64_t number) { state.failingTexImage = number; }
std::uint64_t failedTexImages() { return state.failedTexImages; }
bool balanced() { return state.matrixDepth == 0 && state.clientDepth == 0 && !state.inBegin; }

}  // namespace zelvan_fuzz::null_gl

extern "C" {

void GLAPIENTRY glGenTextures(GLsizei n, GLuint* textures) {
    enter("glGenTextures");
    for (GLsizei i = 0; i < n; ++i) {
        textures[i] = state.nextName++;
        state.textures.emplace(textures[i], 0);
    }
}

void GLAPIENTRY glDeleteTextures(GLsizei n, const GLuint* textures) {
    enter("glDeleteTextures");
    for (GLsizei i = 0; i < n; ++i) {
        const auto found = state.textures.find(textures[i]);
        if (textures[i] == 0) continue;
        if (found == state.textures.end())
            fail("glDeleteTextures of %u, which is not a live texture", textures[i]);
        state.bytes -= found->second;
        state.textures.erase(found);
        if (state.bound == textures[i]) state.bound = 0;
    }
}

void GLAPIENTRY glBindTexture(GLenum target, GLuint texture) {
    enter("glBindTexture");
    if (target != GL_TEXTURE_2D) fail("glBindTexture of target 0x%x", target);
    if (texture != 0 && state.textures.count(texture) == 0)
        fail("glBindTexture of %u, deleted or never made", texture);
    state.bound = texture;
}

void GLAPIENTRY glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                             GLint border, GLenum format, GLenum type, const GLvoid* pixels) {
    enter("glTexImage2D");
    ++state.texImages;
    if (target != GL_TEXTURE_2D || level != 0 || border != 0 || state.bound == 0)
        fail("glTexImage2D(0x%x, %d, border %d) with texture %u bound", target, level, border, state.bound);
    if (!isPowerOfTwo(width) || !isPowerOfTwo(height) || width > 4096 || height > 4096)
        fail("glTexImage2D of %d x %d, beyond OpenGL 1.1", width, height);
    if (internalFormat != GL_RGBA || format != GL_RGBA || type != GL_UNSIGNED_BYTE || pixels == nullptr)
        fail("glTexImage2D with format 0x%x/0x%x/0x%x", internalFormat, format, type);
    // The first and the last byte: the sanitizer then sees a buffer too short for the texture.
    const auto* bytes = static_cast<const volatile unsigned char*>(pixels);
    const std::size_t size = std::size_t(width) * std::size_t(height) * 4;
    (void)(bytes[0] + bytes[size - 1]);
    if (state.texImages == state.failingTexImage) {
        raise(GL_OUT_OF_MEMORY);
        ++state.failedTexImages;
        return;
    }
    std::size_t& held = state.textures[state.bound];
    state.bytes = state.bytes - held + size;
    held = size;
    if (state.bytes > state.peak) state.peak = state.bytes;
}

GLenum GLAPIENTRY glGetError(void) {
    enter("glGetError");
    const GLenum error = state.error;
    state.error = GL_NO_ERROR;
    return error;
}

void GLAPIENTRY glTexParameterf(GLenum, GLenum, GLfloat) { enter("glTexParameterf"); }
void GLAPIENTRY glTexParameteri(GLenum, GLenum, GLint) { enter("glTexParameteri"); }
void GLAPIENTRY glPixelStorei(GLenum, GLint) { enter("glPixelStorei"); }
void GLAPIENTRY glTexEnvi(GLenum, GLenum, GLint) { enter("glTexEnvi"); }
void GLAPIENTRY glEnable(GLenum) { enter("glEnable"); }
void GLAPIENTRY glDisable(GLenum) { enter("glDisable"); }
void GLAPIENTRY glBlendFunc(GLenum, GLenum) { enter("glBlendFunc"); }
void GLAPIENTRY glColor4ub(GLubyte, GLubyte, GLubyte, GLubyte) { enter("glColor4ub"); }
void GLAPIENTRY glRotatef(GLfloat, GLfloat, GLfloat, GLfloat) { enter("glRotatef"); }
void GLAPIENTRY glTranslatef(GLfloat, GLfloat, GLfloat) { enter("glTranslatef"); }
void GLAPIENTRY glNormal3f(GLfloat, GLfloat, GLfloat) { enter("glNormal3f"); }
void GLAPIENTRY glTexCoord2f(GLfloat, GLfloat) { enter("glTexCoord2f"); }
void GLAPIENTRY glVertex3f(GLfloat, GLfloat, GLfloat) {
    enter("glVertex3f");
    if (!state.inBegin) fail("glVertex3f outside glBegin/glEnd");
}

void GLAPIENTRY glBegin(GLenum) {
    enter("glBegin");
    if (state.inBegin) fail("glBegin inside glBegin");
    state.inBegin = true;
}

void GLAPIENTRY glEnd(void) {
    enter("glEnd");
    if (!state.inBegin) fail("glEnd without glBegin");
    state.inBegin = false;
}

void GLAPIENTRY glPushMatrix(void) {
    enter("glPushMatrix");
    if (++state.matrixDepth > 31) fail("glPushMatrix beyond the 32 matrices of the modelview stack");
}

void GLAPIENTRY glPopMatrix(void) {
    enter("glPopMatrix");
    if (--state.matrixDepth < 0) fail("glPopMatrix of an empty stack");
}

void GLAPIENTRY glPushClientAttrib(GLbitfield) {
    enter("glPushClientAttrib");
    if (++state.clientDepth > 16) fail("glPushClientAttrib beyond 16");
}

void GLAPIENTRY glPopClientAttrib(void) {
    enter("glPopClientAttrib");
    if (--state.clientDepth < 0) fail("glPopClientAttrib of an empty stack");
}

}  // extern "C"
