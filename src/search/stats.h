// stats: the counters of the current search, kept by the search, the evaluation and the
// tables, and read by the think driver and the statistics report.
//
// The counters are plain process-wide data with no dependencies, so that every module
// that counts can include this header without reaching the search itself.
#pragma once

#include <cstdint>
#include <cstdio>

namespace varkon {

struct SearchStats {
    std::uint64_t time_limit, nodes, nps, beta_cutoffs, qsearch_count, qsearch_cutoffs;
    std::uint64_t eval_count, lazy_count, hash_full, hash_hits, evalhash_full, eval_hits;
    std::uint64_t phash_full, phash_hits, avoid_nullmoves, nullmove_hits, hmoves_count;
    std::uint64_t inter_iterativ_deep, razor_count, extended_count, extended_depth;
    std::uint64_t check_ext, mate_threat_ext, recapture_ext, pawn_promotion_ext, one_reply_ext;
    std::uint64_t egtb_probes, egtb_hits;
};
extern SearchStats stats;

// Sets every counter to 0 (start of every search).
void reset_stats();

// The statistics report of varkon_classic: every counter of the last search, with the
// rates of cutoffs and hits, written to `out`.
void print_statistics(std::FILE* out);

}  // namespace varkon
