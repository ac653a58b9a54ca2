#include "core/stats.h"

namespace varkon {

namespace {

using Count = unsigned long long;

// ", <part * 100 / whole>%" when the whole is at least 100, then the line end.
void rate(std::FILE* out, std::uint64_t part, std::uint64_t whole) {
    if (whole >= 100) std::fprintf(out, ", %llu%%", static_cast<Count>(part / (whole / 100)));
    std::fputc('\n', out);
}

}  // namespace

void add_counts(SearchStats& into, const SearchStats& from) {
    std::uint64_t SearchStats::*const counts[] = {
        &SearchStats::nodes,           &SearchStats::beta_cutoffs,   &SearchStats::qsearch_count,
        &SearchStats::qsearch_cutoffs, &SearchStats::eval_count,     &SearchStats::lazy_count,
        &SearchStats::hash_full,       &SearchStats::hash_hits,      &SearchStats::evalhash_full,
        &SearchStats::eval_hits,       &SearchStats::phash_full,     &SearchStats::phash_hits,
        &SearchStats::avoid_nullmoves, &SearchStats::nullmove_hits,  &SearchStats::hmoves_count,
        &SearchStats::iid_searches,    &SearchStats::razor_count,    &SearchStats::extended_count,
        &SearchStats::check_ext,       &SearchStats::mate_threat_ext, &SearchStats::recapture_ext,
        &SearchStats::pawn_promotion_ext, &SearchStats::one_reply_ext, &SearchStats::egtb_probes,
        &SearchStats::egtb_hits,
    };
    static_assert(sizeof counts / sizeof counts[0] + 3 == sizeof(SearchStats) / sizeof(std::uint64_t),
                  "every counter but time_limit, nps and extended_depth is summed");
    for (auto c : counts) into.*c += from.*c;
    if (from.extended_depth > into.extended_depth) into.extended_depth = from.extended_depth;
}

void print_statistics(const SearchStats& s, std::FILE* out) {
    const std::uint64_t main_nodes = s.nodes > s.qsearch_count ? s.nodes - s.qsearch_count : 0;
    std::fprintf(out, "\n\ntime_limit: %llu\n", static_cast<Count>(s.time_limit));
    std::fprintf(out, "nodes: %llu, nps: %llu, beta_cutoffs: %llu", static_cast<Count>(s.nodes),
                 static_cast<Count>(s.nps), static_cast<Count>(s.beta_cutoffs));
    rate(out, s.beta_cutoffs, s.nodes);
    std::fprintf(out, "qsearch_count: %llu, qsearch_cutoffs: %llu", static_cast<Count>(s.qsearch_count),
                 static_cast<Count>(s.qsearch_cutoffs));
    rate(out, s.qsearch_cutoffs, s.qsearch_count);
    std::fprintf(out, "eval_count: %llu, lazy_count: %llu", static_cast<Count>(s.eval_count),
                 static_cast<Count>(s.lazy_count));
    rate(out, s.lazy_count, s.qsearch_count);
    std::fprintf(out, "hash_full: %llu, hash_hits: %llu", static_cast<Count>(s.hash_full),
                 static_cast<Count>(s.hash_hits));
    rate(out, s.hash_hits, main_nodes);
    std::fprintf(out, "evalhash_full: %llu, eval_hits: %llu", static_cast<Count>(s.evalhash_full),
                 static_cast<Count>(s.eval_hits));
    rate(out, s.eval_hits, s.eval_count);
    std::fprintf(out, "phash_full: %llu, phash_hits: %llu", static_cast<Count>(s.phash_full),
                 static_cast<Count>(s.phash_hits));
    rate(out, s.phash_hits, s.qsearch_count);
    std::fprintf(out, "avoid_nullmoves: %llu, nullmove_hits: %llu", static_cast<Count>(s.avoid_nullmoves),
                 static_cast<Count>(s.nullmove_hits));
    rate(out, s.nullmove_hits, main_nodes);
    std::fprintf(out, "hmoves_count: %llu, inter_iterativ_deep: %llu, razor_count: %llu\n",
                 static_cast<Count>(s.hmoves_count), static_cast<Count>(s.iid_searches),
                 static_cast<Count>(s.razor_count));
    std::fprintf(out, "extended_count: %llu, extended_depth: %llu\n", static_cast<Count>(s.extended_count),
                 static_cast<Count>(s.extended_depth));
    std::fprintf(out, "check_ext: %llu, mate_threat_ext: %llu\n", static_cast<Count>(s.check_ext),
                 static_cast<Count>(s.mate_threat_ext));
    std::fprintf(out, "recapture_ext: %llu, pawn_promotion_ext: %llu, one_reply_ext: %llu\n",
                 static_cast<Count>(s.recapture_ext), static_cast<Count>(s.pawn_promotion_ext),
                 static_cast<Count>(s.one_reply_ext));
    std::fprintf(out, "egtb_probes: %llu, egtb_hits: %llu\n\n", static_cast<Count>(s.egtb_probes),
                 static_cast<Count>(s.egtb_hits));
}

}  // namespace varkon
