// Tablebase indexing: the position counts the format fixes, and for the legal positions
// of every table side an index below the count that leads back to the position, that
// board symmetries and the exchange of colours leave alone, and that the table sides
// sharing an index function give alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "egtb/tbboard.h"
#include "egtb/tbindex.h"

namespace {

using namespace varkon;

// The pieces of a position as a sorted list, to compare positions whatever the order of
// identical pieces.
std::vector<int> pieces_of(const TbBoard& b) {
    std::vector<int> v;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < b.set[c].n; ++i) v.push_back(c * 1000 + b.set[c].type[i] * 100 + b.set[c].sq[i]);
    std::sort(v.begin(), v.end());
    v.push_back(b.stm * 10000 + b.ep);
    return v;
}

// A position with its pieces in set order, and its en-passant square and side to move.
std::vector<int> key_of(const TbBoard& b) {
    std::vector<int> v{b.stm, b.ep};
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < b.set[c].n; ++i) v.push_back(c * 1000 + b.set[c].type[i] * 100 + b.set[c].sq[i]);
    return v;
}

TbBoard transformed(const TbBoard& b, int (*f)(int)) {
    TbBoard r = b;
    for (TbSet& s : r.set)
        for (int i = 0; i < s.n; ++i) s.sq[i] = f(s.sq[i]);
    if (r.ep != TB_NO_EP) r.ep = f(r.ep);
    return r;
}

int file_mirror(int s) { return s ^ 7; }
int rank_mirror(int s) { return s ^ 56; }
int diagonal(int s) { return (s & 7) * 8 + (s >> 3); }
int rotate(int s) { return (s & 7) * 8 + (7 - (s >> 3)); }

// Checks the legal positions among `n` indices of (t, side), spread over the whole table
// and its end; adds how many were legal to `legal`.
void check_side(int t, int side, std::uint32_t n, int& legal) {
    const std::uint32_t count = tb_count(t, side);
    const std::uint32_t step = std::max<std::uint32_t>(1, count / n);
    TbBoard last;
    EXPECT_TRUE(tb_decode(t, side, count - 1, last) && tb_legal(last)) << tb_name(t) << " " << side << ": count too large";
    for (std::uint64_t k = 0; k < count; k += (k + 2000 < count ? step : 1)) {
        const std::uint32_t i = static_cast<std::uint32_t>(k);
        TbBoard b;
        if (!tb_decode(t, side, i, b) || !tb_legal(b)) continue;
        ++legal;
        const std::uint32_t j = tb_board_index(t, b, false);
        ASSERT_LT(j, count) << tb_name(t) << " side " << side << " index " << i;
        TbBoard back;
        ASSERT_TRUE(tb_decode(t, side, j, back));
        ASSERT_EQ(pieces_of(back), pieces_of(b)) << tb_name(t) << " side " << side << " index " << i;
        // The same position with the colours exchanged.
        TbBoard x = transformed(b, rank_mirror);
        std::swap(x.set[0], x.set[1]);
        x.stm = 1 - b.stm;
        ASSERT_EQ(tb_index(t, side, x.set[1], x.set[0], x.ep, 1), j) << tb_name(t) << " index " << i;
        // Symmetric positions share an index.
        const bool pawns = std::string(tb_name(t)).find('p') != std::string::npos;
        const std::uint32_t canonical = tb_board_index(t, b, true);
        if (pawns) {
            ASSERT_EQ(tb_board_index(t, transformed(b, file_mirror), false), j);
        } else {
            TbBoard r = b;
            for (int turn = 0; turn < 4; ++turn) {
                r = transformed(r, rotate);
                ASSERT_EQ(tb_board_index(t, r, true), canonical) << tb_name(t) << " index " << i;
                ASSERT_EQ(tb_board_index(t, transformed(r, diagonal), true), canonical);
            }
        }
    }
}

TEST(TbIndex, PositionCountsOfTheFormat) {
    tb_init_index();
    const struct {
        const char* name;
        std::uint32_t white, black;
    } rows[] = {
        {"kpk", 81664, 84012},         {"knk", 26282, 28644},       {"kbk", 27243, 28644},
        {"krk", 27030, 28644},         {"kqk", 25629, 28644},       {"kpkp", 3863492, 3863492},
        {"kppk", 1806671, 1912372},    {"kqkr", 1563735, 1649196},  {"kppkp", 84219361, 89391280},
        {"krbkp", 299203200, 298890240}, {"kqqqk", 12479974, 17472840},
    };
    for (const auto& r : rows) {
        const int t = tb_number(r.name);
        ASSERT_NE(t, 0) << r.name;
        EXPECT_EQ(tb_count(t, 0), r.white) << r.name;
        EXPECT_EQ(tb_count(t, 1), r.black) << r.name;
    }
    EXPECT_EQ(tb_number("kpk"), 1);
    EXPECT_EQ(tb_number("kqkq"), 20);
    EXPECT_EQ(tb_number("kppkp"), 36);
    EXPECT_EQ(tb_number("kqqqk"), 145);
    EXPECT_EQ(tb_number("kkq"), 0);
}

TEST(TbIndex, EveryLegalPositionHasItsOwnIndex) {
    tb_init_index();
    int legal = 0;
    // Three- and four-piece tables over a dense sample, five-piece ones sparser.
    for (int t = 1; t <= TB_TABLES; ++t)
        for (int side = 0; side < 2; ++side) {
            check_side(t, side, t <= 5 ? 100000 : t <= 35 ? 4000 : 600, legal);
            if (HasFatalFailure()) return;
        }
    EXPECT_GT(legal, 200000);
}

TEST(TbIndex, EnPassantPositions) {
    tb_init_index();
    // White pawn e5, black pawn d5 after d7-d5; the right to take makes another position.
    TbBoard b;
    b.set[0].n = 2, b.set[0].type[0] = 6, b.set[0].sq[0] = 3, b.set[0].type[1] = 1, b.set[0].sq[1] = 36;
    b.set[1].n = 2, b.set[1].type[0] = 6, b.set[1].sq[0] = 59, b.set[1].type[1] = 1, b.set[1].sq[1] = 35;
    const int t = tb_number("kpkp");
    const std::uint32_t plain = tb_board_index(t, b, false);
    b.ep = 43;
    ASSERT_TRUE(tb_legal(b));
    const std::uint32_t ep = tb_board_index(t, b, false);
    EXPECT_NE(ep, plain);
    EXPECT_LT(ep, tb_count(t, 0));
    TbBoard back;
    ASSERT_TRUE(tb_decode(t, 0, ep, back));
    EXPECT_EQ(back.ep, 43);
    // Without a pawn beside the one that stepped, the square changes nothing.
    b.set[0].sq[1] = 33;
    const std::uint32_t without = tb_board_index(t, b, false);
    b.ep = TB_NO_EP;
    EXPECT_EQ(without, tb_board_index(t, b, false));
    // Positions with an en-passant right are counted in every king pair's block.
    int with_ep = 0;
    for (std::uint32_t i = 0; i < tb_count(t, 1); i += 97)
        if (tb_decode(t, 1, i, back) && tb_legal(back) && back.ep != TB_NO_EP) ++with_ep;
    EXPECT_GT(with_ep, 50);
}

TEST(TbIndex, MaterialLookup) {
    tb_init_index();
    int counts[2][6] = {};
    counts[0][5] = 1, counts[1][4] = 1;      // KQ against KR
    EXPECT_EQ(tb_material(counts), tb_number("kqkr"));
    std::swap(counts[0], counts[1]);         // KR against KQ: the colours exchanged
    EXPECT_EQ(tb_material(counts), -tb_number("kqkr"));
    counts[1][5] = 0, counts[1][1] = 1;      // KR against KP
    EXPECT_EQ(tb_material(counts), tb_number("krkp"));
    const int none[2][6] = {};
    EXPECT_EQ(tb_material(none), 0);
    const int six[2][6] = {{0, 0, 0, 0, 1, 1}, {0, 0, 0, 0, 1, 1}};
    EXPECT_EQ(tb_material(six), 0);
    const int four_queens[2][6] = {{0, 0, 0, 0, 0, 4}, {}};
    EXPECT_EQ(tb_material(four_queens), 0);
}

TEST(TbIndex, SharedIndexFunctions) {
    tb_init_index();
    // Table sides whose index functions coincide give the same index to the same squares.
    const struct {
        int side;
        std::vector<const char*> names;
    } groups[] = {
        {1, {"knk", "kbk", "krk", "kqk"}},     {1, {"knkp", "kbkp", "krkp", "kqkp"}},
        {1, {"knkn", "kbkn", "krkn", "kqkn"}}, {1, {"kbkb", "krkb", "kqkb"}},
        {1, {"krkr", "kqkr"}},                 {0, {"kbkn", "kbkb"}},
        {0, {"krkn", "krkb", "krkr"}},         {0, {"kqkn", "kqkb", "kqkr", "kqkq"}},
        {0, {"kbnkn", "kbnkb", "kbnkr", "kbnkq"}},
    };
    auto type_of = [](char c) { return c == 'p' ? 1 : c == 'n' ? 2 : c == 'b' ? 3 : c == 'r' ? 4 : 5; };
    int compared = 0;
    for (const auto& g : groups) {
        const int t0 = tb_number(g.names[0]);
        for (std::uint32_t i = 0; i < tb_count(t0, g.side); i += 7919) {
            TbBoard b;
            if (!tb_decode(t0, g.side, i, b) || !tb_legal(b)) continue;
            for (const char* other : g.names) {
                TbBoard c = b;
                // Same squares, the pieces of the other signature.
                const std::string name = other;
                const std::size_t k2 = name.find('k', 1);
                for (std::size_t p = 1; p < name.size(); ++p)
                    if (p != k2) c.set[p < k2 ? 0 : 1].type[p < k2 ? p : p - k2] = type_of(name[p]);
                EXPECT_EQ(tb_board_index(tb_number(other), c, false), i) << other << " " << g.names[0];
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 500);
}

TEST(TbIndex, QuickIndexerAgreesWithTheIndexFunctions) {
    tb_init_index();
    // Tables of every shape: pawns, identical pieces, en passant, five pieces.
    int compared = 0;
    for (const char* name : {"kpk", "kqk", "kqqk", "kppk", "kpkp", "kbnk", "krbkr", "kppkp", "kbbkn", "krrkr", "knpkb"}) {
        const int t = tb_number(name);
        const TbIndexer indexer(t);
        for (int side = 0; side < 2; ++side) {
            const std::uint32_t count = tb_count(t, side);
            // Ascending indices, runs of neighbours and jumps, as the generator reads them.
            TbIndexer::Cursor cursor;
            const std::uint32_t step = std::max<std::uint32_t>(1, count / 3000);
            for (std::uint64_t i = 0; i < count; i += (i % 3 == 0 ? step : 1)) {
                const std::uint32_t index = static_cast<std::uint32_t>(i);
                TbBoard b, quick;
                ASSERT_TRUE(tb_decode(t, side, index, b));
                const TbBoard* c = indexer.decode(cursor, side, index);
                ASSERT_TRUE(c != nullptr && indexer.decode(side, index, quick));
                ASSERT_EQ(key_of(*c), key_of(b)) << name << " " << side << " " << index;
                ASSERT_EQ(key_of(quick), key_of(b));
                if (!tb_legal(b)) continue;
                ASSERT_EQ(indexer.index(b), tb_board_index(t, b, true)) << name << " " << index;
                TbBoard x = transformed(b, rank_mirror);
                std::swap(x.set[0], x.set[1]);
                x.stm = 1 - b.stm;
                ASSERT_EQ(indexer.index(x, true), indexer.index(b)) << name << " " << index;
                // A piece moved to each empty square.
                for (int colour = 0; colour < 2; ++colour)
                    for (int slot = 1; slot < b.set[colour].n; ++slot) {
                        TbIndexer::PieceMoves moves;
                        indexer.prepare(b, side, colour, slot, moves);
                        if (!moves.quick) continue;
                        const std::uint64_t occ = tb_occupancy(b);
                        for (int sq = 8; sq < 56; ++sq) {
                            if (occ >> sq & 1) continue;
                            TbBoard p = b;
                            p.set[colour].sq[slot] = sq;
                            if (!tb_legal(p)) continue;
                            ASSERT_EQ(moves.at(sq), tb_board_index(t, p, true)) << name << " " << index << " " << sq;
                            ++compared;
                        }
                    }
            }
        }
    }
    EXPECT_GT(compared, 100000);
}

}  // namespace
