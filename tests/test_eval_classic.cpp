// varkon_classic's evaluation: colour symmetry over real and odd positions, the worked
// values of its terms, the lazy test and both caches.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "eval/eval_classic.h"
#include "search/hash_classic.h"
#include "search/search.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

class EvalClassic : public ::testing::Test {
protected:
    // Single-entry caches: emptying them before each evaluation costs nothing.
    void SetUp() override {
        test::use_classic();
        hash_classic::allocate(0);
    }
    void set(const std::string& fen) { ASSERT_TRUE(test::set_fen(fen)) << fen; }
};

// Evaluation of `fen` with empty caches, so that every call sees the same cache state.
int cold_eval(const std::string& fen, int alpha = -32000, int beta = 32000) {
    EXPECT_TRUE(test::set_fen(fen)) << fen;
    hash_classic::wipe();
    return evaluate_classic(alpha, beta);
}

struct Terms {
    int phase, pawns, pieces, kings, traps;
};
Terms terms_of(const std::string& fen) {
    EXPECT_TRUE(test::set_fen(fen)) << fen;
    hash_classic::wipe();
    Terms t{};
    t.phase = phase_classic();
    t.pawns = eval_pawns_classic(t.phase);
    t.pieces = eval_pieces_classic(t.phase);
    t.kings = eval_kings_classic(t.phase);
    t.traps = eval_traps_classic();
    return t;
}

// The position and its colour mirror evaluate alike, term by term and for every window;
// the same placement with the other side to move gives the negated score.
void expect_symmetric(const std::string& fen) {
    const std::string mirrored = test::mirror_fen(fen);
    const Terms a = terms_of(fen), b = terms_of(mirrored);
    ASSERT_EQ(a.phase, b.phase) << fen;
    EXPECT_EQ(a.pawns, -b.pawns) << fen;
    EXPECT_EQ(a.pieces, -b.pieces) << fen;
    EXPECT_EQ(a.kings, -b.kings) << fen;
    EXPECT_EQ(a.traps, -b.traps) << fen;
    const int full = cold_eval(fen);
    EXPECT_EQ(full, cold_eval(mirrored)) << fen;
    std::string flipped = fen;
    flipped[fen.find(' ') + 1] = fen[fen.find(' ') + 1] == 'w' ? 'b' : 'w';
    EXPECT_EQ(full, -cold_eval(flipped)) << fen;
    for (int low : {-400, -200, -151, -150, -149, -40, 0, 39, 149, 150, 151, 300}) {
        const int alpha = full + low, beta = alpha + (low % 2 ? 1 : 60);
        EXPECT_EQ(cold_eval(fen, alpha, beta), cold_eval(mirrored, alpha, beta)) << fen << " window " << alpha;
    }
}

// FEN of 64 squares (a1 first, 0 for empty) and the fields after the placement.
std::string fen_of(const char (&squares)[64], const std::string& rest) {
    std::string fen;
    for (int rank = 7; rank >= 0; --rank) {
        for (int file = 0; file < 8; ++file) fen += squares[rank * 8 + file] ? squares[rank * 8 + file] : '1';
        if (rank) fen += '/';
    }
    return fen + " " + rest;
}

// Random placements the position module accepts: any square for pawns, promoted
// pieces (as many as the missing pawns allow), castling flags whatever the king squares.
std::vector<std::string> random_positions(int count) {
    std::mt19937 rng(20240611);
    std::vector<std::string> fens;
    const int initial[5] = {0, 2, 2, 2, 1};  // P N B R Q
    while (static_cast<int>(fens.size()) < count) {
        char squares[64] = {};
        auto place = [&](char piece) {
            unsigned q = rng() % 64;
            while (squares[q]) q = rng() % 64;
            squares[q] = piece;
        };
        place('K');
        place('k');
        for (const char* letters : {"PNBRQ", "pnbrq"}) {
            int have[5] = {}, spent = 0;  // pawns plus promoted pieces: at most 8
            for (int i = static_cast<int>(rng() % 14); i > 0; --i) {
                const int t = rng() % 3 ? 0 : static_cast<int>(rng() % 5);
                const int cost = t == 0 || have[t] >= initial[t] ? 1 : 0;
                if (spent + cost > 8) continue;
                spent += cost;
                ++have[t];
                place(letters[t]);
            }
        }
        std::string castling;
        for (const char* f = "KQkq"; *f; ++f)
            if (rng() % 2) castling += *f;
        fens.push_back(fen_of(squares, std::string(rng() % 2 ? "w " : "b ") + (castling.empty() ? "-" : castling) + " -"));
        EXPECT_TRUE(test::set_fen(fens.back())) << fens.back();
    }
    return fens;
}

}  // namespace

TEST_F(EvalClassic, StartPositionIsLevelInEveryTerm) {
    for (const char* fen : {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
                            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq -"}) {
        const Terms t = terms_of(fen);
        EXPECT_EQ(t.phase, 0);
        EXPECT_EQ(t.pawns, 0);
        EXPECT_EQ(t.pieces, 0);
        EXPECT_EQ(t.kings, 0);
        EXPECT_EQ(t.traps, 0);
        EXPECT_EQ(cold_eval(fen), 0);
    }
}

TEST_F(EvalClassic, MirroredRealPositionsEvaluateAlike) {
    std::vector<std::string> fens = test::pgn_positions(TEST_DATA_DIR "/selfplay-games.pgn", 2500);
    const auto epd = test::epd_positions(TEST_DATA_DIR "/bratko-kopec.epd");
    ASSERT_GT(fens.size(), 2000u);
    ASSERT_GT(epd.size(), 20u);
    fens.insert(fens.end(), epd.begin(), epd.end());
    for (const auto& fen : fens) expect_symmetric(fen);
}

TEST_F(EvalClassic, MirroredOddPositionsEvaluateAlike) {
    // Promoted armies, pawns on the back ranks, three rooks of one colour.
    for (const char* fen : {"8/6kR/8/8/8/bq6/1rqqqqqq/K1nqnbrq b - -", "P3k3/8/8/8/8/8/8/p3K3 b - -",
                            "p3k3/8/8/8/8/8/8/P3K3 w - -", "4k3/pppppppp/8/8/8/8/1PPPPPPP/RR2K3 w - -",
                            "4k3/8/8/8/8/8/R7/RR2K3 w - -", "k7/8/8/8/8/8/8/RRR1K3 w - -",
                            "7K/pppppppp/8/8/8/8/PPPPPPPP/k7 w KQkq -", "K6k/PPPPPPPP/8/8/8/8/pppppppp/8 b - -"})
        expect_symmetric(fen);
    for (const auto& fen : random_positions(1500)) expect_symmetric(fen);
}

TEST_F(EvalClassic, KingsOnEverySquareStayInsideTheTables) {
    // Kings on (nearly) every pair of squares with enough material for the shelter terms
    // (phase 2): the squares in front of a king on its last rank are border squares.
    for (int wk = 0; wk < 64; ++wk)
        for (int bk = 0; bk < 64; bk += 3) {
            if (bk == wk) continue;
            char squares[64] = {};
            squares[wk] = 'K';
            squares[bk] = 'k';
            int next = 8;  // from a2 on
            for (const char* p = "PPPPppppRNrnBbPp"; *p; ++p) {
                while (squares[next]) ++next;
                squares[next++] = *p;
            }
            const std::string fen = fen_of(squares, "w KQkq -");
            ASSERT_TRUE(test::set_fen(fen)) << fen;
            EXPECT_EQ(phase_classic(), 2) << fen;
            expect_symmetric(fen);
        }
}

TEST_F(EvalClassic, KingShelter) {
    // King g1 behind f2, g2, h2 in phase 0: 10 from the table and 10 for each pawn.
    // The black king on e8 adds nothing while Black may still castle both ways.
    Terms t = terms_of("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1RK1 w kq -");
    EXPECT_EQ(t.phase, 0);
    EXPECT_EQ(t.kings, 40);
    EXPECT_EQ(terms_of("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1RK1 w k -").kings, 60);
    // A king in the corner has a border square in front of it: it counts for both colours.
    t = terms_of("r1bq1r1k/ppppp1pp/8/8/8/8/PPPPP1PP/R1BQ1R1K w - -");
    EXPECT_EQ(t.phase, 1);
    EXPECT_EQ(t.kings, 0);
    // Files in front of the king without own pawns: -40, or -20 with an enemy pawn on it.
    t = terms_of("rnbq1rk1/ppppp3/8/8/8/8/PPPPP1PP/RNBQ1RK1 w - -");
    EXPECT_EQ(t.phase, 1);
    EXPECT_EQ(t.kings, (10 - 40 + 10 + 10) - (10 - 40 - 20 - 20));
}

TEST_F(EvalClassic, KingsTwoApartGetNoBonusInTheEnding) {
    // Kings c3 and e5 (two apart) in phase 3 stand on squares worth 7 each.
    const Terms t = terms_of("8/p7/8/4k3/8/2K5/P7/8 w - -");
    EXPECT_EQ(t.phase, 3);
    EXPECT_EQ(t.kings, 0);
}

TEST_F(EvalClassic, RooksOnOpenAndHalfOpenFiles) {
    Terms t = terms_of("6k1/pppp1ppp/8/8/8/8/PPPPRPPP/4R1K1 w - -");
    EXPECT_EQ(t.phase, 3);
    EXPECT_EQ(t.pieces, 10 + 10 + 10);
    t = terms_of("6k1/pppppppp/8/8/8/8/PPPPRPPP/4R1K1 w - -");
    EXPECT_EQ(t.pieces, 5 + 5 + 7);
    // Two rooks on different open files: no pair bonus.
    EXPECT_EQ(terms_of("6k1/ppp3pp/8/8/8/8/PPP2RPP/4R1K1 w - -").pieces, 20);
    // A third rook elsewhere neither adds nor hides the pair, wherever it stands in the
    // piece list (here the first two rooks listed, a1 and b1, are on different files).
    EXPECT_EQ(terms_of("6k1/pppp1ppp/8/8/8/1R6/PPPPRPPP/4R1K1 w - -").pieces, 30);
    EXPECT_EQ(terms_of("6k1/1ppppppp/8/8/8/1P6/R1PPPPPP/RR4K1 w - -").pieces, 30);
}

TEST_F(EvalClassic, PawnStructure) {
    // A passed pawn on the seventh with a pawn on its left: 211 + 2 beyond the table (100);
    // its neighbour is passed without a pawn on its left: 11.
    Terms t = terms_of("4k3/4PP2/8/8/8/8/8/4K3 w - -");
    EXPECT_EQ(t.phase, 3);
    EXPECT_EQ(t.pawns, (100 + 211 + 2) + (100 + 11));
    // e4 and e5: both isolated (-10), behind their neighbour files (-4) and passed (+11);
    // only e5 has a pawn behind it (-11). Table 15 and 25.
    EXPECT_EQ(terms_of("4k3/8/8/4P3/4P3/8/8/4K3 w - -").pawns, (15 - 10 - 4 + 11) + (25 - 11 - 10 - 4 + 11));
    // Pawns on the a- and h-files are never isolated (the border file counts as holding pawns).
    EXPECT_EQ(terms_of("4k3/8/8/8/8/8/P7/4K3 w - -").pawns, 0 - 4 + 11);
    // c3 behind b4 and d4: backward (-4); all three passed.
    EXPECT_EQ(terms_of("4k3/8/8/8/1P1P4/2P5/8/4K3 w - -").pawns, (15 + 11) + (0 - 4 + 11) + (15 + 11));
    // A black pawn on c6 stops all three from passing and c3 from counting as backward;
    // it is isolated itself (-10 for Black).
    EXPECT_EQ(terms_of("4k3/8/2p5/8/1P1P4/2P5/8/4K3 w - -").pawns, 15 + 0 + 15 + 10);
}

TEST_F(EvalClassic, TrapsAndTheBareMaterialDraw) {
    EXPECT_EQ(terms_of("4k3/B1p5/1p6/8/8/8/8/4K3 w - -").traps, -200);
    EXPECT_EQ(terms_of("4k3/8/8/8/8/8/7P/5K1R w - -").traps, -40);
    EXPECT_EQ(terms_of("5k1r/7p/8/8/8/8/8/4K3 w - -").traps, 40);
    // No pawns and at most one minor piece: a draw, not cached.
    const auto full_before = stats.evalhash_full;
    EXPECT_EQ(cold_eval("8/8/4k3/8/8/2KN4/8/8 w - -"), 0);
    EXPECT_EQ(stats.evalhash_full, full_before);
    EXPECT_GT(cold_eval("8/8/4k3/8/8/2KR4/8/8 w - -"), 400);
}

TEST_F(EvalClassic, LazyTestSkipsThePieceTermsOutsideTheWidenedWindow) {
    const std::string fen = "rnbqkbnr/pppppppp/8/8/8/2N5/PPPPPPPP/R1BQKBNR w KQkq -";
    const int full = cold_eval(fen);
    const int pieces = terms_of(fen).pieces;
    ASSERT_EQ(pieces, 8 - 10 + 10 + 10);  // knights c3 and g1 against b8 and g8
    const int without_pieces = full - pieces;  // White to move
    const auto lazy = stats.lazy_count, full_count = stats.eval_count;
    EXPECT_EQ(cold_eval(fen, without_pieces + 150, without_pieces + 151), without_pieces);
    EXPECT_EQ(cold_eval(fen, without_pieces - 151, without_pieces - 150), without_pieces);
    EXPECT_EQ(stats.lazy_count, lazy + 2);
    EXPECT_EQ(cold_eval(fen, without_pieces + 149, without_pieces + 151), full);
    EXPECT_EQ(cold_eval(fen, without_pieces - 151, without_pieces - 149), full);
    EXPECT_EQ(stats.eval_count, full_count + 2);
}

TEST_F(EvalClassic, EvaluationCacheKnowsTheCastlingRights) {
    // White king on e1: -20 once a castling right is gone; the key alone does not show it.
    const std::string both = "rn2k1nr/pppppppp/8/8/8/8/PPPPPPPP/RN2K1NR w KQkq -";
    const std::string one = "rn2k1nr/pppppppp/8/8/8/8/PPPPPPPP/RN2K1NR w Kkq -";
    const int fresh_one = cold_eval(one);
    hash_classic::wipe();
    set(both);
    const int with_both = evaluate_classic(-32000, 32000);
    const auto hits = stats.eval_hits;
    EXPECT_EQ(evaluate_classic(-32000, 32000), with_both);
    EXPECT_EQ(stats.eval_hits, hits + 1);
    set(one);
    EXPECT_EQ(evaluate_classic(-32000, 32000), fresh_one);
    EXPECT_EQ(stats.eval_hits, hits + 1);
    EXPECT_EQ(with_both - fresh_one, 20);
}

TEST_F(EvalClassic, PawnCacheIsKeyedBySkeletonAndPhase) {
    const std::string a = "r1bqkb1r/pppppppp/2n2n2/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq -";
    const std::string b = "r1bqkb1r/pppppppp/2n2n2/8/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq -";
    hash_classic::wipe();
    const auto full = stats.phash_full;
    set(a);
    const int pawns_a = eval_pawns_classic(phase_classic());
    EXPECT_EQ(stats.phash_full, full + 1);
    const auto hits = stats.phash_hits;
    set(b);
    EXPECT_EQ(eval_pawns_classic(phase_classic()), pawns_a);
    EXPECT_EQ(stats.phash_hits, hits + 1);
    // The same skeleton in phase 3 (fewer pieces) is scored afresh with its own tables.
    const std::string ending = "4k3/pppppppp/8/8/4P3/8/PPPP1PPP/4K3 w - -";
    const int fresh = terms_of(ending).pawns;
    set(a);
    EXPECT_EQ(eval_pawns_classic(phase_classic()), pawns_a);
    set(ending);
    EXPECT_EQ(eval_pawns_classic(phase_classic()), fresh);
    EXPECT_NE(fresh, pawns_a);
    EXPECT_EQ(stats.phash_hits, hits + 1);
    // The masks come back with a hit: the rook and king terms read them.
    hash_classic::allocate(16);
    const std::string open_files = "4k3/pp4pp/8/8/8/8/PP4PP/R3K3 w - -";
    const int pieces_fresh = terms_of(open_files).pieces;
    set(open_files);
    eval_pawns_classic(phase_classic());
    set("4k3/pppppppp/8/8/8/8/PPPPPPPP/4K3 w - -");
    eval_pawns_classic(phase_classic());
    const auto hits_before = stats.phash_hits;
    set(open_files);
    eval_pawns_classic(phase_classic());
    EXPECT_EQ(stats.phash_hits, hits_before + 1);
    EXPECT_EQ(eval_pieces_classic(phase_classic()), pieces_fresh);
    hash_classic::allocate(0);
}
