// probe_egtb: endgame tablebase settings, registry, block cache and probing.
//
// egtb_init registers the table files (signature + ".nbw"/".nbb", plain or compressed
// with ".emd") found in the directories of the path setting and sets up a cache of
// 8,192-byte blocks of the cache setting's size. egtb_probe answers for a position
// with a score on the search's scale, from the side to move's view, or -1 when no table
// answers. Table files are untrusted: a file that is missing, of the wrong size, broken
// or unreadable is reported and left out, and the engine carries on without it.
#pragma once

#include <cstdint>
#include <string>

#include "core/position.h"

namespace varkon {

struct EgtbSettings {
    std::string path = "c:\\tb";   // directories separated by "," or ";"
    double cache_mb = 2.0;          // block cache size in MB
};
EgtbSettings& egtb_settings();

// Registers the tables and sets up the cache; prints the report (the three settings
// lines only with `print_settings`). Returns 1 when the tables may be probed, 0 when the
// cache could not be had (the tables are then disabled).
int egtb_init(bool print_settings = true);
// The initialisation done once per process: the first call runs egtb_init, later calls
// do nothing. Returns whether the tables are ready.
bool egtb_init_once(bool print_settings = true);
// Whether the last initialisation succeeded.
bool egtb_ready();
// The largest piece count among the registered tables (0: none).
int egtb_pieces();

// The stored byte of (table 1..145, side 0 White / 1 Black to move, index), through the
// cache; 127 when the value cannot be had.
int egtb_read(int table, int side, std::uint32_t index);

// Score of the position (at its current ply) from the tables, or -1.
int egtb_probe(const Position& pos);

// Cache counters since the last initialisation.
struct EgtbCacheCounters {
    std::uint64_t reads;        // egtb_read calls that reached the cache
    std::uint64_t hits;         // answered from a cached block
    std::uint64_t loads;        // blocks read from a file
};
EgtbCacheCounters egtb_cache_counters();

// Whether a file is registered for (table, side).
bool egtb_registered(int table, int side);

// Closes the table files and releases the cache and the registration.
void egtb_release();

}  // namespace varkon
