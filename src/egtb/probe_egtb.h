// probe_egtb: endgame tablebase settings, registry and probing.
#pragma once

#include <string>

namespace varkon {

extern std::string egtb_path;     // directories separated by "," or ";"
extern double egtb_cache_size;    // block cache size in MB

}  // namespace varkon
