// dialogue: the lines the engine sends to the front end, in one place, and the output
// record of the protocol in charge.
//
// Every protocol line goes out through say(), which writes it to standard output and
// flushes it at once, so that the front end sees each line as soon as it is complete.
// (While the log is open, standard output itself copies the lines into it; see log.h.)
// The protocol in charge (the console, UCI, WinBoard) installs its output record: its
// searches print through it, and so does every note of the front end's own modules.
#pragma once

#include "search/request.h"

namespace varkon {

// Installs the output of the protocol that takes charge.
void set_protocol_output(const SearchOutput& out);
// The output installed (a silent one before any).
const SearchOutput& protocol_output();

// printf-style: writes the text to standard output and flushes it.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace varkon
