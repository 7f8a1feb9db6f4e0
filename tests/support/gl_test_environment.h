#pragma once
// One real OpenGL context for a whole test binary. A binary that cannot create it fails.
#include <gtest/gtest.h>

#include <memory>

#include "gl_context.h"

namespace zelvan_test {

constexpr int kSurfaceWidth = 512;
constexpr int kSurfaceHeight = 512;

class GlEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override { context_.reset(); }

private:
    std::unique_ptr<zelvan_support::GlContext> context_;
};

// Base fixture: the context is current, the library is initialised and shut down per test, and no
// OpenGL error is pending at the start.
class GlTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace zelvan_test
