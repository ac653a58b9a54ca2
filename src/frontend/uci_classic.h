// uci_classic: what varkon_classic's UCI differs in — its dialect and its lines.
//
// Table sizes and tablebase settings wait for the next "isready" (or "go"); "go infinite"
// is analysis; every other "go" shows the clocks first. Its lines give times in
// milliseconds, nodes per second after three seconds, the current move from the eighth
// iteration on, a book move marked as "info string book move <move>", and a move to ponder
// on whenever the search has one and the game is past its first ply.
#pragma once

#include <string>

#include "frontend/uci.h"

namespace varkon {

extern const UciDialect classic_uci_dialect;
extern const SearchOutput classic_uci_search_output;

// Option setters of settings that wait for the next "isready" (or "go"): the Hash size is
// kept as the pending size, and a change of it or of a tablebase setting marks the tables
// for re-initialisation.
void set_option_pending_hash(const std::string& text, double mb);
void set_option_nalimov_path_marked(const std::string& text, double);
void set_option_nalimov_cache_marked(const std::string& text, double mb);   // whole megabytes

}  // namespace varkon
