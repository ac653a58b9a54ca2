#include "egtb/probe_egtb.h"

namespace varkon {

std::string egtb_path = "c:\\tb";
double egtb_cache_size = 2.0;

}  // namespace varkon
