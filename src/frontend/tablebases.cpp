#include "frontend/tablebases.h"

#include "egtb/syzygy.h"

namespace varkon {

void load_syzygy_tables(const std::string& path, void (*problem)(const char*), void (*note)(const char*)) {
    syzygy_options().path = path == "<empty>" ? "" : path;
    const SyzygyReport r = syzygy_load();
    for (const std::string& d : r.directories) note(("Syzygy: " + d).c_str());
    for (const std::string& p : r.problems) problem(("Syzygy: " + p).c_str());
    if (syzygy_options().path.empty()) return;
    const std::string summary = std::to_string(r.largest) + " pieces Syzygy tablebases found (" +
                                std::to_string(r.files) + (r.files == 1 ? " file)" : " files)");
    note(summary.c_str());
}

}  // namespace varkon
