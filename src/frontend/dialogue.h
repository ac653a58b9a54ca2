// dialogue: the lines the engine sends to the front end, in one place.
//
// Every protocol line goes out through say(), which writes it to standard output and
// flushes it at once, so that the front end sees each line as soon as it is complete.
// (While the log is open, standard output itself copies the lines into it; see log.h.)
#pragma once

namespace varkon {

// printf-style: writes the text to standard output and flushes it.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace varkon
