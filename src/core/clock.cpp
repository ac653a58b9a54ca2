#include "core/clock.h"

#include <chrono>

namespace varkon {

std::uint32_t now_cs() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>((ms / 1000) * 100 + (ms % 1000) / 10);
}

}  // namespace varkon
