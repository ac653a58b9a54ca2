// log: the log file of varkon_classic, a copy of its dialogue with the front end.
//
// While the log is open, everything the engine writes to standard output and every input
// line it reads (through interupt) is copied into "Varkon_v<version>.log" in the working
// directory (where that takes no files, in user_file_directory()), each line as soon as it is complete, so the log is whole even when the
// process is killed. Nothing else needs logging code: standard output is replaced, while
// the log is open, by a stream that writes through to the real output and to the log.
//
// The log is opened at start-up when the configuration asks for it, closed by the console
// command "uci", and opened and closed by the UCI option "LogFile"; "quit" closes it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace varkon {

struct SearchStats;

// The log flag: the log is open and being written.
bool log_on();
// The log's name for the running program: "Varkon_v5.11c.log".
std::string log_file_name();

// Creates (or truncates) the log, writes its header and prints "open logfile..."; from
// then on output and input are copied. Nothing when the log is already open. A log that
// cannot be created is reported and logging stays off; false then.
bool open_log();
// Flushes and closes the log; nothing more is copied. Nothing when it is closed.
void close_log();

// The UCI option "LogFile": "true" opens the log when it is closed, "false" closes it when
// it is open; other values change nothing.
void set_option_log_file(const std::string& value, double);

// Input as it is read: command_input hands over each line (with its line end, when read)
// when its first character is taken.
void log_input(const char* text, std::size_t length);

// The statistics report of a search, to the log only; nothing when the log is closed.
void log_statistics(const SearchStats& stats);

// Writes text to the log only; nothing when the log is closed.
void log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace varkon
