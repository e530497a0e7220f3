#pragma once

#include <cstdint>

namespace win {

// x * y / z with a 64-bit intermediate, rounded to nearest with halves away from zero.
// Returns -1 when z is 0 or the result does not fit in 32 bits.
std::int32_t MulDiv(std::int32_t x, std::int32_t y, std::int32_t z);

} // namespace win
