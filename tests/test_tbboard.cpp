// Positions of few pieces: the quick move sets the generator works with against the full
// move generator, on positions drawn from tables of every shape. The quick sets may hold
// moves that leave the own king in check; every other move must be the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "egtb/tbboard.h"
#include "egtb/tbindex.h"

namespace {

using namespace varkon;

// Legal positions drawn from the tables named, a few thousand from each side.
std::vector<TbBoard> sample(std::initializer_list<const char*> names, int per_side) {
    tb_init_index();
    std::vector<TbBoard> out;
    std::uint64_t state = 0x2545F4914F6CDD1DULL;
    for (const char* name : names)
        for (int side = 0; side < 2; ++side) {
            const int t = tb_number(name);
            for (int k = 0; k < per_side; ++k) {
                state ^= state << 13, state ^= state >> 7, state ^= state << 17;
                TbBoard b;
                if (tb_decode(t, side, static_cast<std::uint32_t>(state % tb_count(t, side)), b) && tb_legal(b))
                    out.push_back(b);
            }
        }
    return out;
}

// A position as a comparable value.
std::vector<int> key(const TbBoard& b) {
    std::vector<int> v{b.stm, b.ep};
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < b.set[c].n; ++i) v.push_back(c * 1000 + b.set[c].type[i] * 100 + b.set[c].sq[i]);
    return v;
}

bool own_king_safe(const TbBoard& after) { return !tb_in_check(after, 1 - after.stm); }

const auto tables = {"kqk", "kpk", "krkp", "kpkp", "kbnk", "kqkr", "kppk", "krbkr", "kppkp", "knnkp", "kqqqk", "kbpkb"};

TEST(TbBoard, MoveSetsAgreeWithTheMoveGenerator) {
    int compared = 0;
    for (const TbBoard& b : sample(tables, 300)) {
        TbMove moves[TB_MAX_MOVES];
        const int n = tb_moves(b, moves);
        std::set<std::vector<int>> quiet, conversions;
        for (int k = 0; k < n; ++k) {
            TbBoard a = b;
            tb_apply(a, moves[k]);
            (moves[k].captured_slot >= 0 || moves[k].promotion != 0 ? conversions : quiet).insert(key(a));
        }
        // Quiet moves piece by piece, the legal ones being those of the generator.
        std::set<std::vector<int>> found;
        for (int slot = 0; slot < b.set[b.stm].n; ++slot)
            for (std::uint64_t to = tb_pseudo_quiet_targets(b, slot); to; to &= to - 1) {
                TbBoard a = b;
                a.set[b.stm].sq[slot] = std::countr_zero(to);
                a.stm = 1 - b.stm;
                const int from = b.set[b.stm].sq[slot], dest = a.set[b.stm].sq[slot];
                a.ep = b.set[b.stm].type[slot] == 1 && (dest - from == 16 || from - dest == 16) ? (from + dest) / 2 : TB_NO_EP;
                if (own_king_safe(a)) found.insert(key(a));
            }
        ASSERT_EQ(found, quiet) << compared;
        EXPECT_EQ(tb_has_quiet_move(b), !quiet.empty());
        found.clear();
        tb_each_pseudo_conversion(b, [&](const TbBoard& a) {
            if (own_king_safe(a)) found.insert(key(a));
            return true;
        });
        ASSERT_EQ(found, conversions);
        ++compared;
    }
    EXPECT_GT(compared, 3000);
}

TEST(TbBoard, MovesTakenBackAgreeWithTheGenerator) {
    int compared = 0;
    for (const TbBoard& b : sample(tables, 300)) {
        std::set<std::vector<int>> before;
        TbBoard out[TB_MAX_MOVES];
        const int n = tb_unmoves(b, out, TB_MAX_MOVES);
        for (int k = 0; k < n; ++k) before.insert(key(out[k]));
        std::set<std::vector<int>> found, visited;
        TbSquares sets[TB_MAX_SET];
        const int m = tb_unmove_squares(b, sets);
        for (int k = 0; k < m; ++k)
            for (std::uint64_t from = sets[k].squares; from; from &= from - 1) {
                TbBoard p = b;
                p.set[1 - b.stm].sq[sets[k].slot] = std::countr_zero(from);
                p.stm = 1 - b.stm;
                if (tb_legal(p)) found.insert(key(p));
            }
        // A position reached by a double step has that step back as its only one.
        if (b.ep == TB_NO_EP) {
            ASSERT_EQ(found, before) << compared;
        }
        // With the en-passant variants: every position before, once.
        tb_each_predecessor(b, [&](const TbBoard& p) {
            EXPECT_TRUE(tb_legal(p));
            EXPECT_TRUE(visited.insert(key(p)).second);
            return true;
        });
        for (int k = 0; k < n; ++k) EXPECT_TRUE(visited.count(key(out[k])));
        ++compared;
    }
    EXPECT_GT(compared, 3000);
}

TEST(TbBoard, SurveysOfPositionsAndRows) {
    int compared = 0;
    for (const TbBoard& b : sample(tables, 150)) {
        if (b.ep != TB_NO_EP) continue;
        const TbSurvey s = tb_survey(b);
        EXPECT_TRUE(s.legal);
        EXPECT_EQ(s.in_check, tb_in_check(b, b.stm));
        bool converts = false;
        tb_each_pseudo_conversion(b, [&](const TbBoard&) { return !(converts = true); });
        EXPECT_TRUE(s.may_convert || !converts);
        // Every piece but the kings over every square it may take.
        for (int c = 0; c < 2; ++c)
            for (int slot = 1; slot < b.set[c].n; ++slot) {
                const TbRowSurvey row = tb_row_survey(b, c, slot);
                const bool pawn = b.set[c].type[slot] == 1;
                for (int sq = pawn ? 8 : 0; sq < (pawn ? 56 : 64); ++sq) {
                    TbBoard p = b;
                    p.set[c].sq[slot] = sq;
                    const TbSurvey one = tb_survey(p);
                    const bool legal = !(row.illegal >> sq & 1);
                    ASSERT_EQ(legal, one.legal && tb_legal(p)) << compared << " square " << sq;
                    if (!legal) continue;
                    ASSERT_EQ((row.check >> sq & 1) != 0, one.in_check) << sq;
                    ASSERT_EQ((row.convert >> sq & 1) != 0, one.may_convert) << sq;
                    ++compared;
                }
            }
    }
    EXPECT_GT(compared, 50000);
}

}  // namespace
