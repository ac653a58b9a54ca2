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
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

// The index ranges [first, last) of table side (t, side) outside which every position
// has one index only: in tables without pawns the king pairs on the long diagonal, in
// tables with pawns on both sides the en-passant regions.
std::vector<std::pair<std::uint32_t, std::uint32_t>> tb_twin_ranges(int t, int side);

// The position of an index, in the table's own colours; false when the index lies beyond
// the table. The position may be illegal (see tb_legal).
bool tb_decode(int t, int side, std::uint32_t index, TbBoard& out);

// Indexing and decoding for code that visits many positions of one table (the
// generator): ranks of squares are looked up per side and placement of the two kings
// (about 2 MB of tables, built by the constructor) instead of worked out each time.
// index(b) equals tb_board_index(t, b, true) and decode equals tb_decode.
class TbIndexer {
public:
    explicit TbIndexer(int t);
    ~TbIndexer();
    TbIndexer(const TbIndexer&) = delete;
    TbIndexer& operator=(const TbIndexer&) = delete;

    // With `exchanged`, the index of b with its colours exchanged (and every square
    // mirrored in the middle rank), for a table that names b's Black first.
    std::uint32_t index(const TbBoard& b, bool exchanged = false) const;
    bool decode(int side, std::uint32_t index, TbBoard& out) const;

    // The indices of the positions that differ from a position only in the square of
    // one piece: set up once, then asked square by square for empty squares.
    struct PieceMoves {
        bool quick = false;     // false: the set-up could not be made; ask index() instead
        std::uint8_t mask = 0;
        bool reflected = false;
        std::uint32_t rest = 0, stride = 0;
        const std::uint8_t* rank = nullptr;
        int n_below = 0, below[3] = {};      // squares counted before the piece's own
        int n_mates = 0, mates[2] = {};      // ranks of identical pieces beside it
        int n_later = 0;                     // later groups whose ranks depend on the piece
        struct Later {
            std::uint32_t stride;
            int count, base[3], square[3];
        } later[2];
        std::uint32_t at(int square) const;
    };
    // Sets up the indices, with `side` to move, of b with the piece (colour, slot) moved.
    void prepare(const TbBoard& b, int side, int colour, int slot, PieceMoves& out) const;

    // Decoding of ascending indices (of one side, not necessarily consecutive): what the
    // pieces counted before the last group share is kept between the calls.
    struct Cursor {
        int side = -1;
        std::uint32_t first = 0, last = 0;   // the indices differing in the last group only
        TbBoard board;
        int group = 0, set = 0, slots[3] = {};
        int mk = 0, ok = 0, v = 0, skip[5] = {}, n_skip = 0, pawns[3] = {}, n_pawns = 0;
        bool listed = false;              // a single last piece: its squares by rank in `squares`
        std::uint8_t squares[64] = {};
    };
    // The position of `index`, held by the cursor until the next call; nullptr when the
    // index lies beyond the table.
    const TbBoard* decode(Cursor& cursor, int side, std::uint32_t index) const;

    struct Data;

private:
    int t_;
    std::unique_ptr<Data> d_;
};

}  // namespace varkon
