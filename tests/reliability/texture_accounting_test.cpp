// Long random call sequences, each ending in ZelvanShutdown: every texture the library created
// must be deleted by then, and none before its block gives it up (a new upload, ZelvanDestroy, a
// ZelvanCreate reusing a stale record, or ZelvanShutdown).
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "gl_test_environment.h"
#include "zelvan.h"

using zelvan_test::GlTest;

namespace {

class TextureAccounting {
public:
    explicit TextureAccounting(unsigned seed) : random_(seed), pixels_(512 * 512, 0xFF336699u) {}

    // Returns the number of textures uploaded.
    std::size_t run(int steps) {
        ZelvanInit();
        for (int step = 0; step < steps && !::testing::Test::HasFatalFailure(); ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            runOne();
        }
        shutdown();
        for (GLuint name : created_)
            EXPECT_FALSE(glIsTexture(name)) << "texture " << name << " outlived shutdown";
        return uploads_;
    }

private:
    using BlockKey = std::pair<ZelvanHandle, std::uint32_t>;  // handle, block index

    std::uint32_t pick(std::uint32_t below) {
        return std::uniform_int_distribution<std::uint32_t>(0, below - 1)(random_);
    }

    ZelvanHandle pickHandle() { return pick(6); }  // issued, stale and never issued alike

    void runOne() {
        const std::uint32_t choice = pick(40);
        if (choice == 0) {
            shutdown();
            if (pick(4) != 0) ZelvanInit();  // mostly at once; otherwise calls meet no instance a while
        } else if (choice == 1) {
            ZelvanInit();
        } else if (choice < 8) {
            create();
        } else if (choice < 12) {
            destroy(pickHandle());
        } else if (choice < 14) {
            draw(pickHandle());
        } else {
            upload();
        }
        expectHeldTexturesAlive();
    }

    void create() {
        const ZelvanHandle handle = ZelvanCreate(pick(1100), pick(1100));
        if (handle != 0) expectReleased(handle);  // a stale record's textures go with it
    }

    void destroy(ZelvanHandle handle) {
        ZelvanDestroy(handle);
        expectReleased(handle);
    }

    void upload() {
        const ZelvanHandle handle = pickHandle();
        const std::uint32_t cols = ZelvanGetHBlocks(handle), rows = ZelvanGetVBlocks(handle);
        if (cols == 0 || rows == 0) {
            EXPECT_FALSE(ZelvanSetBlockPtr(handle, 0, 0, pixels_.data(), 2048));
            return;
        }
        const std::uint32_t row = pick(rows), col = pick(cols);
        std::uint32_t width = 0, height = 0;
        ASSERT_TRUE(ZelvanGetBlockDem(handle, row, col, nullptr, nullptr, &width, &height));
        ASSERT_TRUE(width <= 512 && height <= 512);  // the pixel buffer holds any block at pitch 2048
        ASSERT_TRUE(ZelvanSetBlockPtr(handle, row, col, pixels_.data(), 2048));
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        const GLuint name = static_cast<GLuint>(bound);
        ASSERT_NE(name, 0u);
        const BlockKey key{handle, row * cols + col};
        const auto previous = held_.find(key);
        if (previous != held_.end()) {
            EXPECT_FALSE(glIsTexture(previous->second)) << "replaced texture leaked";
        }
        held_[key] = name;
        created_.insert(name);
        ++uploads_;
    }

    // Placed like a caller would, so that every function runs (also under valgrind).
    void draw(ZelvanHandle handle) {
        ZelvanAlpha(handle, static_cast<std::uint8_t>(pick(256)));
        ZelvanScale(handle, 64.0f, 48.0f, true);
        ZelvanRotate(handle, 0.0f, 0.0f, static_cast<float>(pick(360)));
        ZelvanTranslate(handle, 100.0f, 100.0f, 0.0f);
        ZelvanDraw(handle);
    }

    void shutdown() {
        ZelvanShutdown();
        for (const auto& entry : held_) EXPECT_FALSE(glIsTexture(entry.second));
        held_.clear();
    }

    // The textures of handle's record are gone.
    void expectReleased(ZelvanHandle handle) {
        for (auto it = held_.lower_bound({handle, 0}); it != held_.end() && it->first.first == handle;) {
            EXPECT_FALSE(glIsTexture(it->second)) << "texture of image " << handle << " leaked";
            it = held_.erase(it);
        }
    }

    void expectHeldTexturesAlive() {
        for (const auto& entry : held_)
            EXPECT_TRUE(glIsTexture(entry.second))
                << "texture of image " << entry.first.first << " deleted early";
    }

    std::mt19937 random_;
    std::vector<std::uint32_t> pixels_;
    std::map<BlockKey, GLuint> held_;  // the texture each block holds, as the library should have it
    std::set<GLuint> created_;
    std::size_t uploads_ = 0;
};

}  // namespace

TEST_F(GlTest, EveryTextureIsDeletedByShutdown) {
    std::size_t uploads = 0;
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        uploads += TextureAccounting(seed).run(400);
    }
    EXPECT_GT(uploads, 600u) << "too few textures to account for";
}
