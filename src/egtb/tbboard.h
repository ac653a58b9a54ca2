// tbboard: positions of at most five pieces as the tablebase code sees them.
//
// Squares are numbered a1 = 0, b1 = 1 ... h8 = 63. A position holds, per colour, the
// king and up to three further pieces (in signature order: queens, rooks, bishops,
// knights, pawns), the side to move and the en-passant target square. The module answers
// attack and legality questions and lists moves and the moves that can have led to a
// position; the index functions and the table generator are built on it.
#pragma once

#include <cstdint>

namespace varkon {

constexpr int TB_WHITE = 0;
constexpr int TB_BLACK = 1;
constexpr int TB_NO_EP = 64;
constexpr int TB_MAX_SET = 4;   // a king and three more pieces

// One colour's pieces: entry 0 is the king; types 1 pawn .. 6 king.
struct TbSet {
    int n = 0;
    int type[TB_MAX_SET] = {};
    int sq[TB_MAX_SET] = {};
};

struct TbBoard {
    TbSet set[2];        // [TB_WHITE], [TB_BLACK]
    int stm = TB_WHITE;  // side to move
    int ep = TB_NO_EP;   // square a pawn skipped with its double step just now
};

// A move of a TbBoard: the piece set[colour].sq[slot] goes to `to`. `captured_slot` is
// the slot of the taken piece of the other colour (-1: none; for en passant the pawn
// beside), `promotion` the new type (0: none), `double_step` marks a pawn's two-square
// advance.
struct TbMove {
    std::int8_t slot;
    std::int8_t to;
    std::int8_t captured_slot;
    std::int8_t promotion;
    std::int8_t double_step;
};

constexpr int TB_MAX_MOVES = 128;

inline int tb_file(int s) { return s & 7; }
inline int tb_rank(int s) { return s >> 3; }

std::uint64_t tb_occupancy(const TbBoard& b);
// Whether `sq` is attacked by the pieces of colour `by`, with the occupancy `occ`.
bool tb_attacked(const TbBoard& b, int sq, int by, std::uint64_t occ);
bool tb_in_check(const TbBoard& b, int colour);

// A position that can arise in a game: pieces on distinct squares, pawns on ranks 2 to 7,
// kings apart, the side not to move not in check; with an en-passant square, the pawn
// that made the double step stands in front of it, the two squares it crossed are empty,
// and before that step the side now to move was not in check.
bool tb_legal(const TbBoard& b);

// The legal moves of the side to move; returns their number.
int tb_moves(const TbBoard& b, TbMove* out);
// Applies a move; the board must be a copy the caller may change. Captured pieces leave
// their set (the others keep their order), a promoted pawn stays in its slot with its
// new type, and the en-passant square is set after a double step.
void tb_apply(TbBoard& b, const TbMove& m);

// The positions from which the side not to move can have reached `b` with a move that
// neither captures nor promotes: each is legal, has that side to move, and is written to
// `out` (at most `max`); returns their number. A position reached by a double step
// (b.ep set) has the double step back as its only such move. The en-passant right of
// the positions before is not set here (see tb_ep_variants).
int tb_unmoves(const TbBoard& b, TbBoard* out, int max);
// The positions equal to `b` but with an en-passant right of the side to move, one for
// each pawn of the other side that can have just made a double step next to a pawn of
// the side to move; returns their number (at most `max`).
int tb_ep_variants(const TbBoard& b, TbBoard* out, int max);

// Visitors of positions: called with each position in turn, they return whether to go
// on; the functions that call them return false when one said stop, else true.
using TbVisitor = bool (*)(const TbBoard& position, void* context);

// The positions after each legal move of b that neither captures nor promotes (a double
// step sets the en-passant square, as tb_apply does).
bool tb_each_quiet_successor(const TbBoard& b, TbVisitor visit, void* context);
// The positions after each capture or promotion of b, its own king's safety left aside
// (the position after may be illegal).
bool tb_each_pseudo_conversion(const TbBoard& b, TbVisitor visit, void* context);
// The positions before b: those of tb_unmoves, each followed by its tb_ep_variants.
bool tb_each_predecessor(const TbBoard& b, TbVisitor visit, void* context);
// Whether the side to move has a legal move that neither captures nor promotes.
bool tb_has_quiet_move(const TbBoard& b);
// What the set-up of a table asks of a position, worked out in one go.
struct TbSurvey {
    bool legal;         // as tb_legal, for positions with pawns off the first and last ranks and the kings apart
    bool in_check;      // the side to move is in check
    bool may_convert;   // false only when the side to move has no capture or promotion
};
TbSurvey tb_survey(const TbBoard& b);
// tb_survey for all the positions that differ from b in the square of one piece only
// (colour, slot), as sets of that piece's squares: where the position is illegal,
// where the side to move is in check, where it may have a capture or a promotion.
// Positions with an en-passant square are not covered.
struct TbRowSurvey {
    std::uint64_t illegal, check, convert;
};
TbRowSurvey tb_row_survey(const TbBoard& b, int colour, int slot);

// Moves grouped by piece: the slot of a piece and a set of squares.
struct TbSquares {
    int slot;
    std::uint64_t squares;
};
// For each piece of the side that made the last move in b, the squares it can have come
// from with a move that neither captured nor promoted (for a b with an en-passant
// square, none). Unlike tb_unmoves, the position before may be illegal: the side now to
// move in check in it.
int tb_unmove_squares(const TbBoard& b, TbSquares* out);
// The squares the piece in `slot` of the side to move can go to with a move that neither
// captures nor promotes (a pawn's double step included), its own king's safety left
// aside.
std::uint64_t tb_pseudo_quiet_targets(const TbBoard& b, int slot);

template <class F>
bool tb_each_quiet_successor(const TbBoard& b, F&& f) {
    return tb_each_quiet_successor(b, [](const TbBoard& p, void* c) { return (*static_cast<F*>(c))(p); }, &f);
}
template <class F>
bool tb_each_pseudo_conversion(const TbBoard& b, F&& f) {
    return tb_each_pseudo_conversion(b, [](const TbBoard& p, void* c) { return (*static_cast<F*>(c))(p); }, &f);
}
template <class F>
bool tb_each_predecessor(const TbBoard& b, F&& f) {
    return tb_each_predecessor(b, [](const TbBoard& p, void* c) { return (*static_cast<F*>(c))(p); }, &f);
}

}  // namespace varkon
