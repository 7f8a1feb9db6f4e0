#include <gtest/gtest.h>

#include "gl_recorder.h"
#include "gl_test_environment.h"
#include "zelvan.h"

using zelvan_test::GlTest;

TEST_F(GlTest, UploadsAndDrawsOneBlock) {
    const uint32_t pixel = 0xFF0000FFu;  // blue 0xFF, alpha 0xFF
    zelvan_test::GlRecorder recorder;
    ZelvanHandle h = ZelvanCreate(1, 1);
    ASSERT_EQ(h, 1u);
    EXPECT_TRUE(ZelvanSetBlockPtr(h, 0, 0, &pixel, 4));
    EXPECT_FALSE(recorder.calls().empty());
    for (const auto& c : recorder.calls()) std::printf("%s\n", c.c_str());
}
