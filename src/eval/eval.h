// eval: the static evaluation of a position, in centipawns from the side to move's point
// of view, and the scratch each searching thread's evaluations work in.
//
// Each program has an evaluation of its own (the Program record names it, and its search
// calls it). `evaluate_standard` is varkon's: material, pawn structure with its cache,
// piece placement and mobility, king placement and shelter, with two lazy exits outside
// the window. Between calls it keeps only caches whose entries are exact: the pawn cache
// (shared, eval/pawn_cache.h) and the piece terms by position (per thread, in EvalState).
#pragma once

#include <cstdint>
#include <memory>

#include "core/position.h"
#include "core/stats.h"

namespace varkon {

// The piece and king terms computed for a board, by the key of the board with White to move.
struct PieceTermsEntry {
    HashKey key;
    std::int32_t terms;
};
constexpr std::size_t PIECE_TERMS_SLOTS = 1 << 15;

// The evaluations' scratch of one searching thread.
struct EvalState {
    // varkon: the terms read `endgame`, which the full evaluation sets first (1 when the
    // non-pawn material of both sides is at most 3300); eval_pieces reads the `pawn_mask`
    // eval_pawn_structure leaves ([0] White, [1] Black: bit f - 1 set when file f holds a
    // pawn).
    int endgame = 0;
    std::uint8_t pawn_mask[2] = {0, 0};
    std::unique_ptr<PieceTermsEntry[]> piece_terms{new PieceTermsEntry[PIECE_TERMS_SLOTS]()};
    // varkon_classic: the files without pawns of each colour from the last pawn
    // evaluation ([0] White, [1] Black: bit f - 1 set when file f holds no pawn).
    std::uint8_t no_pawn[2] = {0xFF, 0xFF};

    // Forgets the piece terms remembered by position: the next evaluations compute
    // everything afresh.
    void clear();
};

// An evaluation: exact inside the window widened by its lazy margins; counts in `stats`.
using EvaluateFn = int (*)(const Position& pos, EvalState& state, SearchStats& stats, int alpha, int beta);

// ---- varkon's evaluation ------------------------------------------------------------
constexpr int LAZY_MARGIN_MATERIAL = 320;
constexpr int LAZY_MARGIN_PAWNS = 150;

// Returns the material balance when it lies more than LAZY_MARGIN_MATERIAL outside the
// window (strictly), material and pawn structure when that lies more than
// LAZY_MARGIN_PAWNS outside, else the full score (counted in stats.eval_count).
int evaluate_standard(const Position& pos, EvalState& state, SearchStats& stats, int alpha, int beta);

// The terms, each from White's point of view; see EvalState for what they read and leave.
int eval_pawn_structure(const Position& pos, EvalState& state, SearchStats& stats);   // through the pawn cache
int eval_pieces(const Position& pos, const EvalState& state);
int eval_king(const Position& pos, const EvalState& state);

}  // namespace varkon
