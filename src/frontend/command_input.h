// command_input: standard input, read by the engine's own buffer, and the non-blocking test
// the search uses to see whether a command is waiting.
//
// Every front end reads its commands through this module, so the test can take into
// account what has already been read from the descriptor but not yet consumed. A line
// ends at LF, CR or CR LF. Output pending on stdout is flushed before any blocking read.
// End of input is reported to the caller, which ends the process. Each line is handed to
// the log (which copies it while it is open) when its first character is read.
#pragma once

#include <string>

namespace varkon {

// Reads the next whitespace-separated word (NUL bytes separate words too). Words longer
// than `max_length` are cut, the rest of the word is skipped. False at end of input.
bool read_word(std::string& word, std::size_t max_length = 255);
// Reads the rest of the current line without its line end; lines longer than
// `max_length` are cut and the rest is skipped. False at end of input with nothing read.
bool read_line(std::string& line, std::size_t max_length = 1 << 20);
// Reads one character; -1 at end of input.
int read_char();
// Puts a line back so that the next read_line (or read_word) sees it first.
void unread_line(const std::string& line);
// Nonzero when a whole command line is waiting (or input has ended), so that reading it
// will not block. A partial line, as a person typing sends it, does not count: it is kept
// and completed by later input.
int input_available();

}  // namespace varkon
