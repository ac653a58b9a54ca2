// table_memory: storage for the engine's large tables (transposition tables, caches).
//
// A table is handed out zero-filled and already touched: every page is faulted in when
// the table is made, outside any search, so that the first search of a process runs at
// full speed instead of paying a page fault at each new page. Where the system offers
// large pages the storage asks for them, which also spares translation misses.
#pragma once

#include <cstddef>

namespace varkon {

// `bytes` of zeroed, touched storage, aligned to a cache line at least; nullptr when the
// memory cannot be had.
void* table_alloc(std::size_t bytes);
// Returns storage of table_alloc; `bytes` must be the size it was made with.
void table_free(void* p, std::size_t bytes);

}  // namespace varkon
