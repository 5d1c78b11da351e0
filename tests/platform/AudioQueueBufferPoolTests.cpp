#include "platform/AudioQueueBufferPool.h"

#include <gtest/gtest.h>

#include <cstring>

namespace parlaro {
namespace {

TEST(AudioQueueBufferPool, BuffersHoldTheirWholeCapacityAndStayPutAsMoreAreAllocated)
{
    int queue = 0;
    AudioQueueBufferPool pool(&queue);
    AudioQueueBuffer& odd = pool.allocate(6);
    EXPECT_EQ(odd.capacity, 6u);
    EXPECT_EQ(odd.byteSize, 0u);
    EXPECT_EQ(odd.owner, &queue);
    // A capacity that is no whole number of samples still gets all its bytes.
    std::memset(odd.data, 0x7f, 6);

    AudioQueueBuffer& empty = pool.allocate(0);
    ASSERT_NE(empty.data, nullptr) << "a zero-byte buffer still has somewhere to point";
    EXPECT_NE(empty.data, odd.data);

    float* const first = odd.data;
    for (int i = 0; i < 64; ++i)
        pool.allocate(4096);
    EXPECT_EQ(pool.size(), 66u);
    EXPECT_EQ(&odd.data[0], first) << "growing the pool moves no buffer a caller holds";
    EXPECT_EQ(odd.owner, &queue);

    pool.clear();
    EXPECT_EQ(pool.size(), 0u);
}

TEST(AudioQueueBufferPool, AcceptsOnlyItsOwnBuffersWithAudioThatFits)
{
    int queue = 0;
    int other = 0;
    AudioQueueBufferPool pool(&queue);
    AudioQueueBufferPool elsewhere(&other);
    AudioQueueBuffer& mine = pool.allocate(1024);
    AudioQueueBuffer& theirs = elsewhere.allocate(1024);

    mine.byteSize = 1024;
    EXPECT_TRUE(pool.accepts(mine));
    mine.byteSize = 1025;
    EXPECT_FALSE(pool.accepts(mine)) << "more audio than the buffer holds";
    EXPECT_FALSE(pool.accepts(theirs));
    AudioQueueBuffer stray;
    EXPECT_FALSE(pool.accepts(stray));
}

}  // namespace
}  // namespace parlaro
