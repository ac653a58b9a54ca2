// messages: what the engine's lower modules (the opening book, the tablebases) have to
// tell the user, one line at a time.
//
// Those modules know no protocol; the protocol in charge installs the output that shows
// their lines its way (as they stand at the console, as "info string" under UCI). Each
// line is handed over with its line end: "\n", or "\r" for a progress line that the next
// one overwrites.
#pragma once

namespace varkon {

using MessageOutput = void (*)(const char* line);

// Installs `out` for all later messages; nullptr restores the default, which writes the
// lines to standard output as they stand.
void set_message_output(MessageOutput out);
// Hands one line, with its line end, to the output.
void message(const char* line);
// Formats one line (printf-style, with its line end) and hands it to the output.
void messagef(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace varkon
