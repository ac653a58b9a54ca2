// tbindex: the catalogue of tablebase signatures and the index of a position in its table.
//
// 145 material signatures (kpk .. kqqqk) are numbered 1 to 145; every signature has a
// table side for White to move (side 0) and one for Black to move (side 1), each a file
// of one byte per index. The index of a position is built from the pair of kings (after
// mirroring the board into the side to move's view and into a normal quadrant or half),
// then the squares of the other pieces counted among the squares open to them, identical
// pieces as unordered combinations, and, in tables with pawns on both sides, a region
// for the positions with an en-passant right. A table side's position count is one more
// than the largest index of a legal position.
#pragma once

#include <cstdint>
#include <string>

#include "egtb/tbboard.h"

namespace varkon {

constexpr int TB_TABLES = 145;
constexpr std::uint32_t TB_NO_INDEX = 0xFFFFFFFFu;

// Builds the index tables and position counts; calls after the first do nothing.
void tb_init_index();

// The signature of table t (1..145), e.g. "kqkr".
const char* tb_name(int t);
// The table number of a signature, 0 when it is not in the catalogue.
int tb_number(const std::string& name);
// Number of pieces of table t, kings included.
int tb_piece_count(int t);
// Position count of a table side (0 White to move, 1 Black to move).
std::uint32_t tb_count(int t, int side);

// The signed table number for the material: counts[colour][type] for types 1 (pawn) to
// 5 (queen); +t when White matches the first side of signature t, -t when the colours
// are exchanged, 0 when no table holds the material.
int tb_material(const int counts[2][6]);

// The index of a position in table side (t, side). `first` holds the pieces of the side
// named first in the signature, `second` the other's, each king first and the others in
// signature order; `ep` is the en-passant square or 64; `exchanged` is 1 when `first` is
// Black. TB_NO_INDEX when the pieces do not fit the table or cannot stand as given.
std::uint32_t tb_index(int t, int side, const TbSet& first, const TbSet& second, int ep, int exchanged);

// For a board in the table's own colours (White holds the first side): its index in the
// side to move's table. With `canonical`, the smaller of the two indices that positions
// mirrored in the long diagonal share when both kings stand on it (pawnless tables).
std::uint32_t tb_board_index(int t, const TbBoard& b, bool canonical);

// The position of an index, in the table's own colours; false when the index lies beyond
// the table. The position may be illegal (see tb_legal).
bool tb_decode(int t, int side, std::uint32_t index, TbBoard& out);

}  // namespace varkon
