#pragma once
// An OpenGL context without a window, with a pbuffer of the frame's size: the GlContext the tests
// use too (support/gl_context.h), whose failure becomes the program's one-line message.
#include "gl_context.h"
#include "program.h"

namespace zelvan_demo {

class HeadlessContext {
public:
    // Creates the context and makes it current; throws DemoError saying what is missing.
    HeadlessContext(int width, int height) : context_(width, height) {
        if (!context_.isValid()) throw DemoError(context_.error());
    }

private:
    zelvan_support::GlContext context_;
};

}  // namespace zelvan_demo
