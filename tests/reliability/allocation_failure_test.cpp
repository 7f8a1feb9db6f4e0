// Makes every allocation of the lifetime and upload functions fail in turn. Each failing call must
// return its null result, make no OpenGL call and leave the registry and the handle pool as they
// were; the same call made again then behaves as if the failed one had never happened, and
// nothing the library allocated outlives ZelvanShutdown.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "failing_allocator.h"
#include "gl_test_environment.h"
#include "registry/image_registry.h"
#include "texels.h"
#include "zelvan.h"

using zelvan_support::boundTexture;
using zelvan_test::FailingAllocator;
using zelvan_test::GlTest;

namespace {

const std::vector<std::uint32_t> kPixels(512 * 512, 0x80402010u);
constexpr std::int32_t kPitch = 512 * 4;

// Everything the library holds, texture names reduced to whether there is one: OpenGL need not
// hand out the same names in two runs.
std::string describeRegistry() {
    const zelvan::ImageRegistry* registry = zelvan::instance;
    if (registry == nullptr) return "no instance";
    std::ostringstream out;
    out << registry->handles.size() << " handles in use\n";
    for (const auto& [handle, image] : registry->images) {
        out << handle << (registry->handles.isInUse(handle) ? " live " : " stale ") << image.width << "x"
            << image.height << " grid " << image.hBlocks << "x" << image.vBlocks << " alpha "
            << int{image.alpha} << " scale " << image.scale.x << "," << image.scale.y << " translation "
            << image.translation.x << " blocks";
        for (const zelvan::Block& b : image.blocks)
            out << " [" << b.x << "," << b.y << " " << b.width << "x" << b.height << " in " << b.textureWidth
                << "x" << b.textureHeight << (b.texture != 0 ? " uploaded]" : "]");
        out << "\n";
    }
    return out.str();
}

bool everyStoredTextureAlive() {
    if (zelvan::instance == nullptr) return true;
    for (const auto& entry : zelvan::instance->images)
        for (const zelvan::Block& b : entry.second.blocks)
            if (b.texture != 0 && glIsTexture(b.texture) != GL_TRUE) return false;
    return true;
}

bool upload(ZelvanHandle handle, std::uint32_t row, std::uint32_t col) {
    return ZelvanSetBlockPtr(handle, row, col, kPixels.data(), kPitch);
}

struct Scenario {
    const char* name;
    std::function<void()> setUp;  // runs on a fresh instance
    std::function<bool()> call;   // the call under test: true for a non-null result
    bool hasNullResult;           // false: the function cannot report a failure, so must not allocate
};

void startFresh(const Scenario& scenario) {
    ZelvanShutdown();
    ZelvanInit();
    scenario.setUp();
    while (glGetError() != GL_NO_ERROR) {
    }
}

// Runs the scenario once per allocation its call makes, that allocation failing; returns how many
// allocations the call makes.
std::size_t failEachAllocation(const Scenario& scenario) {
    SCOPED_TRACE(scenario.name);
    const long liveBefore = FailingAllocator::liveCounted();
    startFresh(scenario);
    scenario.call();  // warms up lazy allocations of the driver, which are not under test

    startFresh(scenario);
    FailingAllocator::start();
    EXPECT_TRUE(scenario.call()) << "without failures";
    const std::size_t points = FailingAllocator::stop();
    const std::string expectedAfter = describeRegistry();
    ZelvanShutdown();
    EXPECT_EQ(FailingAllocator::liveCounted(), liveBefore) << "leaked";
    if (!scenario.hasNullResult) {
        EXPECT_EQ(points, 0u) << "allocates, but has no result to report a failure";
    }

    for (std::size_t k = 1; k <= points; ++k) {
        SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(points) + " fails");
        startFresh(scenario);
        const std::string before = describeRegistry();
        const GLuint bound = boundTexture();
        glMatrixMode(0);  // a pending error: a call that makes no OpenGL call leaves it there

        FailingAllocator::start(k);
        const bool result = scenario.call();
        FailingAllocator::stop();
        EXPECT_TRUE(FailingAllocator::injected());
        EXPECT_FALSE(result);
        EXPECT_EQ(describeRegistry(), before);
        EXPECT_TRUE(everyStoredTextureAlive());
        EXPECT_EQ(boundTexture(), bound);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_ENUM)) << "the failing call used OpenGL";

        EXPECT_TRUE(scenario.call()) << "the call made again";
        EXPECT_EQ(describeRegistry(), expectedAfter) << "the call made again";
        EXPECT_TRUE(everyStoredTextureAlive());
        ZelvanShutdown();
        EXPECT_EQ(FailingAllocator::liveCounted(), liveBefore) << "leaked";
    }
    std::printf("%-52s %zu allocation point(s)\n", scenario.name, points);
    return points;
}

void noSetUp() {}

// Images 1 to 3, 2 destroyed after receiving uploads, then uploaded to again while stale.
void liveAndStaleImages() {
    for (int i = 0; i < 3; ++i) ZelvanCreate(600, 600);
    upload(1, 0, 0);
    upload(2, 0, 1);
    upload(2, 1, 1);
    ZelvanDestroy(2);
    upload(2, 1, 0);
    ZelvanAlpha(2, 7);
}

}  // namespace

TEST_F(GlTest, LifetimeCallsSurviveEveryAllocationFailing) {
    const Scenario scenarios[] = {
        {"ZelvanInit without an instance", [] { ZelvanShutdown(); }, [] { return ZelvanInit() == 1; }, true},
        {"ZelvanInit with an instance", noSetUp, [] { return ZelvanInit() == 1; }, true},
        {"ZelvanCreate of a 1300x700 image", noSetUp, [] { return ZelvanCreate(1300, 700) == 1; }, true},
        {"ZelvanCreate of a 0x700 image", noSetUp, [] { return ZelvanCreate(0, 700) == 1; }, true},
        {"ZelvanCreate reusing a stale record with textures", liveAndStaleImages,
         [] { return ZelvanCreate(100, 50) == 2; }, true},
        {"ZelvanCreate above live handles", [] { ZelvanCreate(1, 1), ZelvanCreate(1, 1); },
         [] { return ZelvanCreate(513, 1) == 3; }, true},
        {"ZelvanDestroy of an image with textures", liveAndStaleImages, [] { return ZelvanDestroy(1), true; },
         false},
        {"ZelvanDestroy of a stale record with textures", liveAndStaleImages,
         [] { return ZelvanDestroy(2), true; }, false},
        {"ZelvanShutdown with live and stale images", liveAndStaleImages,
         [] { return ZelvanShutdown() == 1; }, false},
    };
    std::size_t total = 0;
    for (const Scenario& scenario : scenarios) total += failEachAllocation(scenario);
    std::printf("%zu allocation points tested\n", total);
}

TEST_F(GlTest, UploadsSurviveEveryAllocationFailing) {
    const Scenario scenarios[] = {
        {"ZelvanSetBlockPtr, first texture of a block", [] { ZelvanCreate(700, 600); },
         [] { return upload(1, 1, 1); }, true},
        {"ZelvanSetBlockPtr replacing a texture", liveAndStaleImages, [] { return upload(1, 0, 0); }, true},
        {"ZelvanSetBlockPtr into a stale record", liveAndStaleImages, [] { return upload(2, 1, 0); }, true},
    };
    std::size_t total = 0;
    for (const Scenario& scenario : scenarios) total += failEachAllocation(scenario);
    std::printf("%zu allocation points tested\n", total);
}

// The same for a size no memory can hold, also under AddressSanitizer, whose own operator new aborts
// where this executable's throws std::bad_alloc as the standard's does.
TEST_F(GlTest, AbsurdSizeGetsTheNullHandleAndChangesNothing) {
    liveAndStaleImages();
    const std::string before = describeRegistry();
    EXPECT_EQ(ZelvanCreate(0xFFFFFFFFu, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(ZelvanCreate(0x80000000u, 0x40000000u), 0u);
    EXPECT_EQ(describeRegistry(), before);
    EXPECT_EQ(ZelvanCreate(1, 1), 2u);
}
