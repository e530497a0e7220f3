#include "platform/MulDiv.h"

#include <cstdlib>
#include <limits>

namespace win {

std::int32_t MulDiv(std::int32_t x, std::int32_t y, std::int32_t z) {
    if (z == 0)
        return -1;
    const std::int64_t product = std::int64_t{x} * y;
    const bool negative = (product < 0) != (z < 0);
    // |x*y| < 2^62 and |z| >= 1, so the magnitudes and the doubled remainder fit in 64 bits.
    const std::uint64_t magnitude = product < 0 ? std::uint64_t(-product) : std::uint64_t(product);
    const std::uint64_t divisor = z < 0 ? std::uint64_t(-std::int64_t{z}) : std::uint64_t(z);
    std::uint64_t quotient = magnitude / divisor;
    if ((magnitude % divisor) * 2 >= divisor)
        ++quotient;
    const std::int64_t result = negative ? -std::int64_t(quotient) : std::int64_t(quotient);
    if (result > std::numeric_limits<std::int32_t>::max() || result < std::numeric_limits<std::int32_t>::min())
        return -1;
    return std::int32_t(result);
}

} // namespace win
