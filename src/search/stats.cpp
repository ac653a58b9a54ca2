#include "search/stats.h"

namespace varkon {

SearchStats stats;

void reset_stats() { stats = SearchStats{}; }

}  // namespace varkon
