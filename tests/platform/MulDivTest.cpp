#include "platform/MulDiv.h"

#include <gtest/gtest.h>

using namespace win; // the platform layer's Windows-style names

TEST(MulDiv, RoundsHalvesAwayFromZeroAndFlagsFailures) {
    struct Case {
        std::int32_t x, y, z, expected;
    };
    const Case cases[] = {
        {10, 44100, 1000, 441},
        {1000, 16000, 16000, 1000},
        {3, 1, 2, 2},   // 1.5 rounds up
        {-3, 1, 2, -2}, // -1.5 rounds away from zero
        {3, -1, 2, -2},
        {-3, -1, -2, -2}, // 3 / -2 = -1.5
        {5, 1, 4, 1},     // 1.25 rounds down
        {7, 1, 4, 2},     // 1.75 rounds up
        {0, 5, 3, 0},
        {1, 1, 0, -1},                  // zero divisor
        {65536, 65536, 1, -1},          // 2^32 does not fit
        {2147483647, 2, 2, 2147483647}, // the 64-bit intermediate keeps it exact
        {-2147483647 - 1, 1, 1, -2147483647 - 1},
        {-2147483647 - 1, -1, 1, -1}, // 2^31 does not fit
    };
    for (const Case& c : cases)
        EXPECT_EQ(MulDiv(c.x, c.y, c.z), c.expected) << c.x << " * " << c.y << " / " << c.z;
}
