#include "platform/GlobalMemory.h"

#include <gtest/gtest.h>

using namespace win; // the platform layer's Windows-style names

TEST(GlobalMemoryTest, BlockIsFoundByItsAddressAndFreedOnce) {
    HGLOBAL block = GlobalAlloc(GHND, 64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 64u);
    auto* bytes = static_cast<unsigned char*>(GlobalLock(block));
    ASSERT_NE(bytes, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(bytes[i], 0) << "zero-filled at " << i;
    EXPECT_EQ(GlobalHandle(bytes), block);
    EXPECT_EQ(GlobalHandle(bytes + 1), nullptr) << "only a block's first byte finds it";

    EXPECT_NE(GlobalLock(block), nullptr);
    EXPECT_TRUE(GlobalUnlock(block)) << "still locked once";
    EXPECT_FALSE(GlobalUnlock(block));
    EXPECT_FALSE(GlobalUnlock(block)) << "unlocking an unlocked block changes nothing";

    EXPECT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(GlobalHandle(bytes), nullptr);
    EXPECT_EQ(GlobalLock(block), nullptr);
    EXPECT_EQ(GlobalFree(block), block) << "a second free is refused";
}
