// Whole games of each program against itself, as a tournament manager runs them: two
// engine processes, a referee with real clocks that checks every move is legal and made
// in time; varkon_classic under WinBoard, both programs under UCI (with and without book
// and pondering, the lines before every move judged as a strict tournament manager does).
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "core/attacks.h"
#include "core/moves.h"
#include "core/notation.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

namespace {

using test::Clock;
using test::millis_since;
using test::word_after;

// The referee's board is the test process's own engine state: no legal move is left.
bool game_over() { return !varkon::has_legal_move(varkon::game()); }

struct Clocks {
    int ms[2];
    int inc_ms;
    std::string text(bool winboard, int me) const {
        if (winboard) return "time " + std::to_string(ms[me] / 10) + "\notim " + std::to_string(ms[1 - me] / 10) + "\n";
        return " wtime " + std::to_string(ms[0]) + " btime " + std::to_string(ms[1]) + " winc " + std::to_string(inc_ms) +
               " binc " + std::to_string(inc_ms);
    }
    // Charges the side's time; false when its flag fell.
    bool charge(int me, int used) {
        ms[me] += inc_ms - used;
        return ms[me] - inc_ms > 0;
    }
};

// One WinBoard game from `fen` (empty: the start position), each engine in play mode.
// Along the way: "?" to an engine that thinks, a "remove" and the same move again, a
// draw offer, and in the set-up game a spell of analysis before the first move.
void winboard_game(test::EngineProcess* engine[2], const std::string& fen, int max_plies) {
    test::use_classic();
    if (!fen.empty()) {
        ASSERT_TRUE(test::set_fen(fen));
    }
    const int first = varkon::game().side == varkon::WHITE ? 0 : 1;
    Clocks clocks{{4000, 4000}, 50};
    for (int s = 0; s < 2; ++s) {
        engine[s]->take_output();
        engine[s]->send("new\nlevel 0 0:04 0.05\nhard\npost\n" + (fen.empty() ? "" : "setboard " + fen + "\n"));
    }
    if (!fen.empty()) {
        engine[first]->send("analyze\n");
        ASSERT_TRUE(engine[first]->wait_for("\n3\t"));
        engine[first]->send("exit\n");
    }
    std::string last;
    for (int n = 0; n < max_plies; ++n) {
        const int me = (first + n) % 2;
        test::EngineProcess& e = *engine[me];
        e.take_output();
        const auto start = Clock::now();
        const bool go = n == 0 || (n == 1 && !fen.empty());  // out of force mode
        e.send(clocks.text(true, me) + (last.empty() ? "" : last + "\n") + (go ? "go\n" : ""));
        if (n == 6) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            e.send("?\n");
        }
        if (n == 12) e.send("draw\n");
        ASSERT_TRUE(e.wait_for_line("move ", clocks.ms[me] + 1000)) << "ply " << n << e.output();
        if (n == 10) {  // take back the last two moves and ask again
            e.take_output();
            e.send("remove\n" + last + "\n");
            ASSERT_TRUE(e.wait_for_line("move ", clocks.ms[me] + 1000));
        }
        ASSERT_TRUE(clocks.charge(me, millis_since(start))) << "lost on time at ply " << n;
        last = word_after(e.output(), "move ");
        ASSERT_EQ(varkon::parse_coordinate_move(varkon::game(), last.c_str()), 1) << "illegal " << last << " at ply " << n;
        if (std::regex_search(e.output(), std::regex("\n(1-0|0-1|1/2-1/2) \\{")) || game_over()) break;
    }
    for (int s = 0; s < 2; ++s) engine[s]->send("result 1/2-1/2 {adjudicated}\nforce\n");
}

}  // namespace

TEST(Games, WinboardGamesWithPonderingAndAnalysis) {
    test::EngineProcess white(VARKON_CLASSIC_BIN), black(VARKON_CLASSIC_BIN);
    test::EngineProcess* engines[2] = {&white, &black};
    for (auto* e : engines) e->send("xboard\nprotover 2\n");
    winboard_game(engines, "", 50);
    test::EngineProcess* swapped[2] = {&black, &white};
    winboard_game(swapped, "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R b KQ - 0 8", 50);
    for (auto* e : engines) EXPECT_EQ(e->quit(), 0);
}

namespace {

// What a strict tournament manager checks of the lines before a "bestmove": a scored
// "info" line came, and the last "pv" printed begins with the move. Returns a fault or "".
std::string judge_lines(const std::string& out, const std::string& move) {
    const std::string lines = out.substr(0, out.rfind("bestmove "));
    if (!std::regex_search(lines, std::regex("(^|\n)info [^\n]*score (cp|mate) -?\\d+")))
        return "no scored info line before bestmove " + move;
    const std::string first = word_after(lines, " pv ");
    if (first != move) return "bestmove " + move + " after a last pv that begins with \"" + first + "\"";
    return "";
}

// One UCI game of `bin` from the start position with real clocks, between a process with
// the book and pondering (White: an engine that names a move to ponder on thinks on the
// opponent's time and gets "ponderhit" or "stop") and one without either. Every move is
// judged as a strict tournament manager does.
void uci_game(const char* bin, int max_plies) {
    test::EngineProcess white(bin), black(bin);
    test::EngineProcess* engine[2] = {&white, &black};
    for (int k = 0; k < 2; ++k) {
        const char* on = k == 0 ? "true" : "false";
        engine[k]->send(std::string("uci\nsetoption name Ponder value ") + on + "\nsetoption name OwnBook value " + on +
                        "\nsetoption name Hash value 8\nisready\nucinewgame\n");
        ASSERT_TRUE(engine[k]->wait_for("readyok\n"));
    }
    test::use_classic();
    Clocks clocks{{4000, 4000}, 50};
    std::string moves, expected[2];
    for (int n = 0; n < max_plies; ++n) {
        const int me = n % 2;
        test::EngineProcess& e = *engine[me];
        const std::string last = word_after(moves, " ");
        const auto start = Clock::now();
        if (!expected[me].empty() && expected[me] == last) {
            e.send("ponderhit\n");   // the lines of the ponder search count for this move
        } else {
            if (!expected[me].empty()) {  // a ponder miss: its answer is no move
                e.send("stop\n");
                ASSERT_TRUE(e.wait_for_line("bestmove"));
            }
            e.take_output();
            e.send("position startpos" + (moves.empty() ? "" : " moves" + moves) + "\ngo" + clocks.text(false, me) + "\n");
        }
        expected[me].clear();
        ASSERT_TRUE(e.wait_for_line("bestmove", clocks.ms[me] + 1000)) << "ply " << n;
        ASSERT_TRUE(clocks.charge(me, millis_since(start))) << "lost on time at ply " << n << e.output();
        const std::string move = word_after(e.output(), "bestmove ");
        if (move == "0000") break;
        EXPECT_EQ(judge_lines(e.output(), move), "") << "ply " << n << " after" << moves << "\n" << e.output();
        ASSERT_EQ(varkon::parse_coordinate_move(varkon::game(), move.c_str()), 1) << "illegal " << move << " after" << moves;
        moves += " " + move;
        const std::string reply = word_after(e.output(), " ponder ");
        e.take_output();
        if (me == 0 && !reply.empty() && varkon::find_coordinate_move(varkon::game(), reply.c_str()) != 0) {
            expected[me] = reply;
            e.send("position startpos moves" + moves + " " + reply + "\ngo ponder" + clocks.text(false, me) + "\n");
        }
        if (game_over()) break;
    }
    for (auto* e : engine) EXPECT_EQ(e->quit(), 0);
}

}  // namespace

TEST(Games, ClassicUciGameAsATournamentManagerSeesIt) { uci_game(VARKON_CLASSIC_BIN, 80); }
TEST(Games, VarkonUciGameAsATournamentManagerSeesIt) { uci_game(VARKON_BIN, 60); }
