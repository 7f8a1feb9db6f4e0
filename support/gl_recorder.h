#pragma once
// Records the OpenGL 1.1 calls the library makes, then forwards each to the real function.
// The test binary defines these entry points itself, so calls from libzelvan bind to them.
#include <string>
#include <vector>

namespace zelvan_support {

class GlRecorder {
public:
    GlRecorder();   // starts recording (the log begins empty)
    ~GlRecorder();  // stops recording
    GlRecorder(const GlRecorder&) = delete;
    GlRecorder& operator=(const GlRecorder&) = delete;

    // Each call as it reads in code, "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP)":
    // enum arguments by their names (in hex, "0x1234", when the value has none in that place),
    // other integers and texture names in decimal, floats with %.9g, pointers as 1 or 0 (null).
    // A float that sets a filter or wrap mode is named when it equals that enum exactly:
    // glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST). glPixelStorei's value
    // is a number.
    const std::vector<std::string>& calls() const;
    void clear();
    // pause() stops recording until resume() (the test's own GL calls in between are not logged).
    void pause();
    void resume();
    // From now on glGetError returns code on every call without asking OpenGL, as a lost context
    // may; 0 restores the real function. The destructor restores it too.
    void forceGetError(unsigned code);
    // The next call of the OpenGL function named call (say "glTexImage2D") goes through, then
    // raises code: the first glGetError after it returns code, as a driver that refused it would.
    void failAfter(const char* call, unsigned code);
};

}  // namespace zelvan_support
