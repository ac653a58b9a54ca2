// textfile: the text files the front end reads and writes itself (the configuration file,
// the log, test suites and their results).
//
// A name is opened only when it is, or becomes, a regular file: a directory, a FIFO or a
// device of that name is refused without blocking. Lines are read whatever their length,
// with a bound on what is kept of each.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace varkon {

// Opens an existing regular file for reading. nullptr when it cannot be opened; `why`
// (when given) then holds the reason, and errno is ENOENT only when the name does not
// exist (EINVAL: it is no regular file).
std::FILE* open_text_file(const char* name, std::string* why = nullptr);
// Creates `name`, or truncates it when it exists as a regular file, for writing.
std::FILE* create_text_file(const char* name, std::string* why = nullptr);
// True when both names refer to the same existing file.
bool same_file(const char* a, const char* b);

// Where varkon_classic keeps the files it writes for itself (Varkon.ini, the log) when the
// working directory takes none: $XDG_CONFIG_HOME/varkon/ (an absolute XDG_CONFIG_HOME),
// else $HOME/.config/varkon/. The directory is made, with its parents, when missing.
// The path ends with "/"; "" when there is no such directory (`why` tells why).
std::string user_file_directory(std::string* why = nullptr);
// True when `error`, the errno of a failed creation in a directory, says that the directory
// takes no new files (no permission, a read-only file system, a directory that is gone),
// not that something is wrong with the name.
bool takes_no_files(int error);

// Reads the next line from `in` without its end (LF, CR LF or CR); keeps at most
// `max_length` characters and skips the rest of a longer line. False at the end of the
// file with nothing read.
bool read_text_line(std::FILE* in, std::string& line, std::size_t max_length);

}  // namespace varkon
