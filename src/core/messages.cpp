#include "core/messages.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace varkon {

namespace {

void print_to_stdout(const char* line) { std::fputs(line, stdout); }

MessageOutput output = print_to_stdout;

}  // namespace

void set_message_output(MessageOutput out) { output = out != nullptr ? out : print_to_stdout; }

void message(const char* line) { output(line); }

void messagef(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof line) {
        output(line);
        return;
    }
    if (n < 0) return;
    std::string longer(static_cast<std::size_t>(n) + 1, '\0');  // a line with a long file name
    va_start(args, format);
    std::vsnprintf(longer.data(), longer.size(), format, args);
    va_end(args);
    output(longer.c_str());
}

}  // namespace varkon
