// clock: the wall clock in centiseconds, the unit of every time inside the engine.
#pragma once

#include <cstdint>

namespace varkon {

// Whole seconds since 1970 x 100 + milliseconds / 10, modulo 2^32; differences of two
// readings are right across the wrap when taken as unsigned.
std::uint32_t now_cs();

}  // namespace varkon
