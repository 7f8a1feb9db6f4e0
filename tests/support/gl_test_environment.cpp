#include "gl_test_environment.h"

#include <GL/gl.h>

#include "zelvan.h"

namespace zelvan_test {

void GlEnvironment::SetUp() {
    context_ = std::make_unique<GlContext>(kSurfaceWidth, kSurfaceHeight);
    ASSERT_TRUE(context_->isValid()) << "no OpenGL context: " << context_->error();
}

void GlTest::SetUp() {
    while (glGetError() != GL_NO_ERROR) {
    }
    ASSERT_EQ(ZelvanInit(), 1);
}

void GlTest::TearDown() { ZelvanShutdown(); }

}  // namespace zelvan_test

// Every test binary that links this file gets the context before its first test.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new zelvan_test::GlEnvironment);
    return RUN_ALL_TESTS();
}
