// dialogue: the conversation with the front end in one place.
//
// Every protocol line the engine sends goes out through say(), which writes it to
// standard output and flushes, and every command line a protocol loop reads is announced
// with heard(). A listener installed with set_dialogue_listener (the log file) sees both
// sides of the conversation exactly as they pass, without code in the protocol loops.
#pragma once

#include <cstddef>
#include <string>

namespace varkon {

// printf-style: writes the text to standard output and flushes it.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A command line read from the front end (without its line end).
void heard(const std::string& line);

// Called with every text said (`from_engine` true) and every line heard (false).
using DialogueListener = void (*)(bool from_engine, const char* text, std::size_t length);
void set_dialogue_listener(DialogueListener listener);  // nullptr: none

}  // namespace varkon
