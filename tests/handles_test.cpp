// The handle pool's issuing order and reuse rules, and what ZelvanCreate does once it runs dry.
#include <gtest/gtest.h>

#include <vector>

#include "gl_test_environment.h"
#include "registry/handle_pool.h"
#include "registry/image_registry.h"
#include "zelvan.h"

namespace {

using zelvan::HandlePool;

std::vector<std::uint32_t> allocateMany(HandlePool& pool, int count) {
    std::vector<std::uint32_t> issued;
    for (int i = 0; i < count; ++i) issued.push_back(pool.allocate());
    return issued;
}

TEST(HandlePool, IssuesLowestFreeValueFirst) {
    HandlePool pool;
    EXPECT_EQ(allocateMany(pool, 3), (std::vector<std::uint32_t>{1, 2, 3}));

    pool.release(2);
    pool.release(3);
    EXPECT_EQ(allocateMany(pool, 2), (std::vector<std::uint32_t>{2, 3}));

    pool.release(3);
    pool.release(2);
    EXPECT_EQ(allocateMany(pool, 2), (std::vector<std::uint32_t>{2, 3}));

    pool.release(1);
    EXPECT_EQ(allocateMany(pool, 2), (std::vector<std::uint32_t>{1, 4}));

    // A gap below the next value is filled before anything above the highest in use.
    pool.release(2);
    pool.release(4);
    EXPECT_EQ(allocateMany(pool, 3), (std::vector<std::uint32_t>{2, 4, 5}));
}

TEST(HandlePool, IgnoresValuesNotInUse) {
    HandlePool pool;
    allocateMany(pool, 2);
    pool.release(0);
    pool.release(7);
    pool.release(UINT32_MAX);
    EXPECT_EQ(pool.size(), 2u);
    EXPECT_EQ(pool.allocate(), 3u);

    pool.release(1);
    pool.release(1);  // the second release of the same value changes nothing
    EXPECT_EQ(pool.size(), 2u);
    EXPECT_EQ(allocateMany(pool, 2), (std::vector<std::uint32_t>{1, 4}));
}

TEST(HandlePool, ReturnsZeroWhenEveryHandleIsInUse) {
    HandlePool pool(3);
    EXPECT_EQ(allocateMany(pool, 5), (std::vector<std::uint32_t>{1, 2, 3, 0, 0}));
    EXPECT_EQ(pool.size(), 3u);
    EXPECT_FALSE(pool.isInUse(0));

    pool.release(3);  // the highest value comes back as well
    EXPECT_EQ(allocateMany(pool, 2), (std::vector<std::uint32_t>{3, 0}));
    pool.release(2);
    pool.release(1);
    EXPECT_EQ(allocateMany(pool, 3), (std::vector<std::uint32_t>{1, 2, 0}));
}

class HandleExhaustion : public zelvan_test::GlTest {};

TEST_F(HandleExhaustion, CreateReturnsZeroAndChangesNothing) {
    ASSERT_NE(zelvan::instance, nullptr);
    zelvan::instance->handles = HandlePool(2);
    EXPECT_EQ(ZelvanCreate(10, 10), 1u);
    EXPECT_EQ(ZelvanCreate(600, 10), 2u);

    EXPECT_EQ(ZelvanCreate(20, 20), 0u);
    EXPECT_EQ(zelvan::instance->images.size(), 2u);
    EXPECT_EQ(zelvan::instance->handles.size(), 2u);
    EXPECT_EQ(ZelvanGetHBlocks(2), 2u);

    ZelvanDestroy(1);
    EXPECT_EQ(ZelvanCreate(1300, 700), 1u);
    EXPECT_EQ(ZelvanGetHBlocks(1), 3u);
    EXPECT_EQ(ZelvanCreate(20, 20), 0u);
}

}  // namespace
