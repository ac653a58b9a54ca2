// search: the search counters (SearchStats), the alpha-beta and quiescence search and
// the think driver.
#pragma once

#include <cstdint>

namespace varkon {

// Counters of the current search; reset by every search.
struct SearchStats {
    std::uint64_t time_limit, nodes, nps, beta_cutoffs, qsearch_count, qsearch_cutoffs;
    std::uint64_t eval_count, lazy_count, hash_full, hash_hits, evalhash_full, eval_hits;
    std::uint64_t phash_full, phash_hits, avoid_nullmoves, nullmove_hits, hmoves_count;
    std::uint64_t inter_iterativ_deep, razor_count, extended_count, extended_depth;
    std::uint64_t check_ext, mate_threat_ext, recapture_ext, pawn_promotion_ext, one_reply_ext;
    std::uint64_t egtb_probes, egtb_hits;
};
extern SearchStats stats;

}  // namespace varkon
