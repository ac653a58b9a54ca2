#include "frontend/dialogue.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace varkon {

void say(const char* format, ...) {
    char small[512];
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    const auto length = static_cast<std::size_t>(n);
    if (length < sizeof small) {
        va_end(again);
        std::fwrite(small, 1, length, stdout);
    } else {
        std::string text(length + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, again);
        va_end(again);
        std::fwrite(text.data(), 1, length, stdout);
    }
    std::fflush(stdout);
}

}  // namespace varkon
