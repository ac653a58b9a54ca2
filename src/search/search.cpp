#include "search/search.h"

namespace varkon {

SearchStats stats;

}  // namespace varkon
