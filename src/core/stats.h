// stats: the counters of a search, kept by the search, the evaluation and the tables, and
// read by the think driver and the statistics report.
//
// Each searching thread keeps its own set; the record has no dependencies, so that every
// module that counts can include this header without reaching the search itself.
#pragma once

#include <cstdint>
#include <cstdio>

namespace varkon {

struct SearchStats {
    std::uint64_t time_limit = 0, nodes = 0, nps = 0, beta_cutoffs = 0, qsearch_count = 0;
    std::uint64_t qsearch_cutoffs = 0, eval_count = 0, lazy_count = 0, hash_full = 0, hash_hits = 0;
    std::uint64_t evalhash_full = 0, eval_hits = 0, phash_full = 0, phash_hits = 0, avoid_nullmoves = 0;
    std::uint64_t nullmove_hits = 0, hmoves_count = 0, iid_searches = 0, razor_count = 0, extended_count = 0;
    std::uint64_t extended_depth = 0, check_ext = 0, mate_threat_ext = 0, recapture_ext = 0, pawn_promotion_ext = 0;
    std::uint64_t one_reply_ext = 0, egtb_probes = 0, egtb_hits = 0;
};
// Adds the counters of another thread's share of the same search: every count is summed,
// extended_depth is the deeper of the two, time_limit and nps stay.
void add_counts(SearchStats& into, const SearchStats& from);
// The statistics report of varkon_classic: every counter of a search, with the rates of
// cutoffs and hits, written to `out`.
void print_statistics(const SearchStats& s, std::FILE* out);

}  // namespace varkon
