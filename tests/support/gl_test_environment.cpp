#include "gl_test_environment.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "zelvan.h"

namespace zelvan_test {

namespace {

std::string glText(GLenum name) {
    const auto* text = reinterpret_cast<const char*>(glGetString(name));
    return text == nullptr ? std::string("(none)") : std::string(text);
}

}  // namespace

void GlEnvironment::SetUp() {
    context_ = std::make_unique<zelvan_support::GlContext>(kSurfaceWidth, kSurfaceHeight);
    ASSERT_TRUE(context_->isValid()) << "no OpenGL context: " << context_->error();
    // Which OpenGL the tests run on. scripts/test-drivers.sh chooses one through Mesa's environment
    // and names it here, so that a run that silently fell back to another fails.
    const std::string renderer = glText(GL_RENDERER), version = glText(GL_VERSION);
    std::printf("GL_RENDERER: %s; GL_VERSION: %s\n", renderer.c_str(), version.c_str());
    if (const char* expected = std::getenv("ZELVAN_EXPECT_RENDERER")) {
        ASSERT_TRUE(renderer.find(expected) != std::string::npos) << "the renderer is not " << expected;
    }
    if (const char* expected = std::getenv("ZELVAN_EXPECT_VERSION")) {
        ASSERT_TRUE(version.rfind(expected, 0) == 0) << "the OpenGL version is not " << expected;
    }
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
