// tablebases: the Syzygy tables as the protocols load them, and what the user is told.
#pragma once

#include <string>

namespace varkon {

// Loads the Syzygy tables of `path` (directories separated by ':'; empty or "<empty>":
// none) at once: every file left out is handed to `problem`; every directory that gives no
// tables, then the size of the largest table and the number of files in use, to `note`;
// one line each.
void load_syzygy_tables(const std::string& path, void (*problem)(const char* text), void (*note)(const char* text));

}  // namespace varkon
