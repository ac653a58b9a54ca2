// varkon_match: plays two UCI engines against each other as a tournament manager does
// (ucinewgame, position startpos moves ..., go wtime/btime/winc/binc, pondering with
// ponderhit and stop), under real clocks, from opening lines of a PGN file played with
// both colours, and checks every line the engines print (see referee.h). It reports each
// game, every fault it saw, the score and the Elo difference with its 95% interval.
//
//   varkon_match -engine cmd=PATH [name=NAME] [option.NAME=VALUE ...]
//                -engine cmd=PATH ... [-games N] [-tc BASE+INC] [-ponder]
//                [-openings PGN] [-plies N] [-seed N] [-pgnout FILE]
//                [-resign MOVES CP] [-draw FROM MOVES CP] [-maxplies N] [-margin MS]
//
// BASE and INC are seconds (fractions allowed). Without -openings the games start from
// the start position.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../fuzz/engine.h"
#include "referee.h"

namespace {

using fuzz::now_ms;
using match::Board;
using match::Outcome;
using match::SearchWatch;
using match::Verdict;

struct EngineSetup {
    std::string path, name;
    std::vector<std::pair<std::string, std::string>> options;
};

struct Settings {
    EngineSetup engine[2];
    int engines = 0;
    int games = 2;
    int base_ms = 10000, inc_ms = 100;
    bool ponder = false;
    std::string openings, pgn_out;
    int opening_plies = 8;
    unsigned seed = 1;
    int resign_moves = 0, resign_cp = 0;
    int draw_from = 0, draw_moves = 0, draw_cp = 0;
    int max_plies = 400;
    int margin_ms = 0;
};

// One engine process for the whole match.
struct Player {
    EngineSetup setup;
    fuzz::Engine proc;
    std::string dir;
    SearchWatch watch;
    bool got_best = false, got_ready = false;
    std::string best, ponder;
    // A ponder search under way: the reply it expects.
    bool pondering = false;
    std::string expected;
    // Faults by kind, and the first few in full.
    std::map<std::string, int> fault_count;
    std::vector<std::string> fault_text;
    // Consecutive moves with a score beyond the resignation or inside the draw margin.
    int losing_run = 0, winning_run = 0, drawn_run = 0;

    void on_line(const std::string& line) {
        if (line.rfind("bestmove", 0) == 0) {
            std::vector<std::string> w;
            std::size_t at = 0;
            while (at < line.size()) {
                const std::size_t end = std::min(line.find(' ', at), line.size());
                if (end > at) w.push_back(line.substr(at, end - at));
                at = end + 1;
            }
            best = w.size() > 1 ? w[1] : "";
            ponder = w.size() > 3 && w[2] == "ponder" ? w[3] : "";
            got_best = true;
        } else if (line == "readyok" || line == "uciok") {
            got_ready = true;
        } else {
            watch.line(line);
        }
    }
    void note(int game, int ply, const std::string& fault) {
        const std::string kind = fault.substr(0, fault.find(':'));
        if (++fault_count[kind] <= 5)
            fault_text.push_back(setup.name + ", game " + std::to_string(game) + ", ply " + std::to_string(ply) + ": " + fault);
    }
};

// Pumps both engines until `done` or `ms` pass; false on time out.
bool wait_for(Player* p[2], int who, const std::function<bool()>& done, int ms) {
    const std::int64_t end = now_ms() + ms;
    while (!done()) {
        const std::int64_t left = end - now_ms();
        if (left <= 0 || p[who]->proc.ended()) return done();
        p[who]->proc.wait(done, static_cast<int>(std::min<std::int64_t>(left, 5)));
        p[1 - who]->proc.wait([] { return false; }, -1);
    }
    return true;
}

bool handshake(Player* p[2], int who, const std::string& command) {
    p[who]->got_ready = false;
    p[who]->proc.send(command);
    return wait_for(p, who, [&] { return p[who]->got_ready; }, 20000);
}

const char* reason_text(Outcome o) {
    switch (o) {
        case Outcome::white_mates: return "White mates";
        case Outcome::black_mates: return "Black mates";
        case Outcome::stalemate: return "stalemate";
        case Outcome::fifty_moves: return "fifty-move rule";
        case Outcome::repetition: return "threefold repetition";
        case Outcome::material: return "insufficient material";
        case Outcome::none: break;
    }
    return "";
}

struct GameResult {
    double white_points = 0.5;   // 1, 0.5, 0
    std::string reason;
};

// Plays one game; players[0] has White. Returns the result from White's view.
GameResult play_game(const Settings& s, Player* players[2], const std::vector<std::string>& opening, int number,
                     std::string& pgn_moves) {
    Board board;
    board.reset(opening);
    for (int k = 0; k < 2; ++k) {
        players[k]->pondering = false;
        players[k]->losing_run = players[k]->winning_run = players[k]->drawn_run = 0;
        if (!handshake(players, k, "ucinewgame\nisready\n")) return {k == 0 ? 0.0 : 1.0, players[k]->setup.name + " does not answer isready"};
    }
    int clock_ms[2] = {s.base_ms, s.base_ms};
    Board record;   // for the SAN of the PGN
    record.reset({});
    for (std::size_t k = 0; k < opening.size(); ++k) {
        if (k % 2 == 0) pgn_moves += std::to_string(k / 2 + 1) + ". ";
        pgn_moves += record.san(opening[k]) + " ";
        record.play(opening[k]);
    }
    auto go_clock = [&] {
        return " wtime " + std::to_string(std::max(1, clock_ms[0])) + " btime " + std::to_string(std::max(1, clock_ms[1])) +
               " winc " + std::to_string(s.inc_ms) + " binc " + std::to_string(s.inc_ms);
    };
    for (;;) {
        const Outcome o = board.outcome();
        if (o != Outcome::none) {
            const double w = o == Outcome::white_mates ? 1.0 : o == Outcome::black_mates ? 0.0 : 0.5;
            return {w, reason_text(o)};
        }
        if (board.plies() >= s.max_plies) return {0.5, "game too long"};
        const int me = board.white_to_move() ? 0 : 1;
        Player& p = *players[me];
        const std::string last = board.moves().empty() ? "" : board.moves().back();
        std::int64_t start;
        p.got_best = false;
        if (p.pondering && p.expected == last) {
            p.proc.send("ponderhit\n");
            start = now_ms();
        } else {
            if (p.pondering) {   // a ponder miss: its answer is no move
                p.proc.send("stop\n");
                if (!wait_for(players, me, [&] { return p.got_best; }, 10000))
                    return {me == 0 ? 0.0 : 1.0, p.setup.name + " does not answer stop"};
                p.watch.answer(p.best, "");
                p.got_best = false;
            }
            p.watch.begin(board);
            p.proc.send(board.position_command() + "\ngo" + go_clock() + "\n");
            start = now_ms();
        }
        p.pondering = false;
        const bool answered =
            wait_for(players, me, [&] { return p.got_best; }, std::max(0, clock_ms[me]) + s.margin_ms + 5000);
        const int used = static_cast<int>(now_ms() - start);
        const int ply = board.plies() + 1;
        if (!answered) return {me == 0 ? 0.0 : 1.0, p.setup.name + (p.proc.ended() ? " ended" : " does not move")};
        const Verdict v = p.watch.answer(p.best, p.ponder);
        for (const std::string& f : v.faults) p.note(number, ply, f);
        if (used > clock_ms[me] + s.margin_ms) {
            p.note(number, ply, "time-forfeit: " + std::to_string(used) + " ms used of " + std::to_string(clock_ms[me]));
            return {me == 0 ? 0.0 : 1.0, p.setup.name + " loses on time"};
        }
        clock_ms[me] += s.inc_ms - used;
        const std::string san = board.san(p.best);
        if (san.empty() || !board.play(p.best)) {
            p.note(number, ply, "illegal-move: bestmove " + p.best);
            return {me == 0 ? 0.0 : 1.0, p.setup.name + " plays an illegal move"};
        }
        if (me == 0) pgn_moves += std::to_string((board.plies() + 1) / 2) + ". ";
        pgn_moves += san + " ";
        // The opponent's ponder search: its lines now read from the new position, or
        // (a miss) count for nothing.
        Player& other = *players[1 - me];
        if (other.pondering) {
            if (other.expected == p.best)
                other.watch.reached();
            else
                other.watch.ignore();
        }
        // Adjudication on the scores both engines agree on.
        if (v.has_score) {
            p.losing_run = v.score_cp <= -s.resign_cp ? p.losing_run + 1 : 0;
            p.winning_run = v.score_cp >= s.resign_cp ? p.winning_run + 1 : 0;
            p.drawn_run = std::abs(v.score_cp) <= s.draw_cp ? p.drawn_run + 1 : 0;
        } else {
            p.losing_run = p.winning_run = p.drawn_run = 0;
        }
        const Player& q = *players[1 - me];
        if (s.resign_moves > 0 && p.losing_run >= s.resign_moves && q.winning_run >= s.resign_moves)
            return {me == 0 ? 0.0 : 1.0, p.setup.name + " resigns (adjudicated)"};
        if (s.resign_moves > 0 && q.losing_run >= s.resign_moves && p.winning_run >= s.resign_moves)
            return {me == 0 ? 1.0 : 0.0, q.setup.name + " resigns (adjudicated)"};
        if (s.draw_moves > 0 && board.plies() >= 2 * s.draw_from && p.drawn_run >= s.draw_moves &&
            q.drawn_run >= s.draw_moves)
            return {0.5, "draw (adjudicated)"};
        if (s.ponder && !p.ponder.empty() && board.legal_line({p.ponder})) {
            p.pondering = true;
            p.expected = p.ponder;
            p.watch.begin(board, {p.ponder});
            p.proc.send(board.position_command({p.ponder}) + "\ngo ponder" + go_clock() + "\n");
        }
    }
}

// The Elo difference of a score share, and of its 95% interval from the games' spread.
struct Elo {
    double diff, low, high;
};
double elo_of(double share) {
    share = std::clamp(share, 1e-6, 1 - 1e-6);
    return -400.0 * std::log10(1.0 / share - 1.0);
}
Elo elo(int wins, int draws, int losses) {
    const double n = wins + draws + losses;
    const double share = (wins + 0.5 * draws) / n;
    const double var = (wins * std::pow(1 - share, 2) + draws * std::pow(0.5 - share, 2) + losses * std::pow(share, 2)) / n;
    const double margin = 1.96 * std::sqrt(var / n);
    return {elo_of(share), elo_of(share - margin), elo_of(share + margin)};
}

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr, "varkon_match: %s\nusage: varkon_match -engine cmd=PATH [name=NAME] [option.NAME=VALUE ...] "
                         "-engine ... [-games N] [-tc BASE+INC] [-ponder] [-openings PGN] [-plies N] [-seed N] "
                         "[-pgnout FILE] [-resign MOVES CP] [-draw FROM MOVES CP] [-maxplies N] [-margin MS]\n",
                 why);
    std::exit(2);
}

// The program a cmd= names, as an absolute path: each engine runs in a directory of its
// own, and a name without a slash is looked up on PATH.
std::string resolve(const std::string& cmd) {
    if (cmd.find('/') != std::string::npos) return std::filesystem::absolute(cmd).string();
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t at = 0; at <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        const std::filesystem::path candidate = std::filesystem::path(dirs.substr(at, end - at)) / cmd;
        if (end > at && ::access(candidate.c_str(), X_OK) == 0) return std::filesystem::absolute(candidate).string();
        at = end + 1;
    }
    return cmd;
}

Settings parse(int argc, char** argv) {
    Settings s;
    auto number = [&](int& i) {
        if (i + 1 >= argc) usage("a number is missing");
        return std::atof(argv[++i]);
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-engine") {
            if (s.engines == 2) usage("two engines play");
            EngineSetup& e = s.engine[s.engines++];
            while (i + 1 < argc && argv[i + 1][0] != '-') {
                const std::string kv = argv[++i];
                const std::size_t eq = kv.find('=');
                if (eq == std::string::npos) usage(("no value in " + kv).c_str());
                const std::string k = kv.substr(0, eq), v = kv.substr(eq + 1);
                if (k == "cmd") e.path = resolve(v);
                else if (k == "name") e.name = v;
                else if (k.rfind("option.", 0) == 0) e.options.emplace_back(k.substr(7), v);
                else usage(("unknown engine setting " + k).c_str());
            }
            if (e.path.empty()) usage("an engine without cmd=");
            if (e.name.empty()) e.name = e.path.substr(e.path.rfind('/') + 1);
        } else if (a == "-games") {
            s.games = static_cast<int>(number(i));
        } else if (a == "-tc") {
            if (i + 1 >= argc) usage("-tc BASE+INC");
            const std::string tc = argv[++i];
            s.base_ms = static_cast<int>(std::atof(tc.c_str()) * 1000);
            const std::size_t plus = tc.find('+');
            s.inc_ms = plus == std::string::npos ? 0 : static_cast<int>(std::atof(tc.c_str() + plus + 1) * 1000);
        } else if (a == "-ponder") {
            s.ponder = true;
        } else if (a == "-openings" && i + 1 < argc) {
            s.openings = argv[++i];
        } else if (a == "-plies") {
            s.opening_plies = static_cast<int>(number(i));
        } else if (a == "-seed") {
            s.seed = static_cast<unsigned>(number(i));
        } else if (a == "-pgnout" && i + 1 < argc) {
            s.pgn_out = argv[++i];
        } else if (a == "-resign") {
            s.resign_moves = static_cast<int>(number(i));
            s.resign_cp = static_cast<int>(number(i));
        } else if (a == "-draw") {
            s.draw_from = static_cast<int>(number(i));
            s.draw_moves = static_cast<int>(number(i));
            s.draw_cp = static_cast<int>(number(i));
        } else if (a == "-maxplies") {
            s.max_plies = static_cast<int>(number(i));
        } else if (a == "-margin") {
            s.margin_ms = static_cast<int>(number(i));
        } else {
            usage(("unknown argument " + a).c_str());
        }
    }
    if (s.engines != 2) usage("two engines play");
    return s;
}

// Starts an engine in a directory of its own (for the files it may write) and sets its options.
bool start(Player* players[2], int k) {
    Player& p = *players[k];
    char dir[] = "/tmp/varkon_match_XXXXXX";
    if (::mkdtemp(dir) == nullptr) return false;
    p.dir = dir;
    p.proc.on_line = [&p](const std::string& line) { p.on_line(line); };
    if (!p.proc.start(p.setup.path, p.dir)) return false;
    if (!handshake(players, k, "uci\n")) return false;
    std::string options;
    for (const auto& [name, value] : p.setup.options) options += "setoption name " + name + " value " + value + "\n";
    return handshake(players, k, options + "isready\n");
}

}  // namespace

int main(int argc, char** argv) {
    const Settings s = parse(argc, argv);
    std::vector<std::vector<std::string>> openings;
    if (!s.openings.empty()) {
        for (auto& line : match::read_pgn_lines(s.openings))
            if (static_cast<int>(line.size()) >= s.opening_plies) {
                line.resize(static_cast<std::size_t>(s.opening_plies));
                openings.push_back(line);
            }
        if (openings.empty()) usage("no opening line of that length in the file");
        std::mt19937 rng(s.seed);
        std::shuffle(openings.begin(), openings.end(), rng);
    } else {
        openings.emplace_back();
    }
    Player a, b;
    a.setup = s.engine[0];
    b.setup = s.engine[1];
    Player* both[2] = {&a, &b};
    for (int k = 0; k < 2; ++k)
        if (!start(both, k)) {
            std::fprintf(stderr, "varkon_match: %s does not start as a UCI engine\n", both[k]->setup.path.c_str());
            return 1;
        }
    std::FILE* pgn = s.pgn_out.empty() ? nullptr : std::fopen(s.pgn_out.c_str(), "w");
    int wins = 0, draws = 0, losses = 0;   // of the first engine
    for (int g = 0; g < s.games; ++g) {
        const std::vector<std::string>& opening = openings[static_cast<std::size_t>(g / 2) % openings.size()];
        Player* seat[2] = {g % 2 == 0 ? &a : &b, g % 2 == 0 ? &b : &a};
        std::string moves;
        const GameResult r = play_game(s, seat, opening, g + 1, moves);
        for (Player* p : seat) p->watch.ignore();   // the game's board is gone
        for (int k = 0; k < 2; ++k)   // a ponder search outlives the game: its answer is no move
            if (seat[k]->pondering) {
                seat[k]->got_best = false;
                seat[k]->proc.send("stop\n");
                wait_for(seat, k, [&] { return seat[k]->got_best; }, 10000);
                seat[k]->pondering = false;
            }
        const double first = g % 2 == 0 ? r.white_points : 1 - r.white_points;
        wins += first == 1.0;
        draws += first == 0.5;
        losses += first == 0.0;
        const char* result = r.white_points == 1.0 ? "1-0" : r.white_points == 0.0 ? "0-1" : "1/2-1/2";
        std::printf("game %d: %s - %s %s {%s}\n", g + 1, seat[0]->setup.name.c_str(), seat[1]->setup.name.c_str(), result,
                    r.reason.c_str());
        std::fflush(stdout);
        if (pgn != nullptr)
            std::fprintf(pgn, "[Event \"varkon_match\"]\n[Round \"%d\"]\n[White \"%s\"]\n[Black \"%s\"]\n[Result \"%s\"]\n\n%s{%s} %s\n\n",
                         g + 1, seat[0]->setup.name.c_str(), seat[1]->setup.name.c_str(), result, moves.c_str(),
                         r.reason.c_str(), result);
        if (a.proc.ended() || b.proc.ended()) break;
    }
    if (pgn != nullptr) std::fclose(pgn);
    for (Player* p : both) {
        p->proc.send("quit\n");
        if (!p->proc.wait_exit(5000)) p->proc.kill();
        std::error_code ignored;
        std::filesystem::remove_all(p->dir, ignored);
    }
    int faults = 0;
    for (Player* p : both) {
        for (const auto& [kind, n] : p->fault_count) {
            std::printf("%s: %d x %s\n", p->setup.name.c_str(), n, kind.c_str());
            faults += n;
        }
        for (const std::string& t : p->fault_text) std::printf("  %s\n", t.c_str());
    }
    const int n = wins + draws + losses;
    if (n > 0) {
        const Elo e = elo(wins, draws, losses);
        std::printf("%s against %s: +%d =%d -%d of %d games, score %.1f%%, Elo difference %+.0f (95%%: %+.0f .. %+.0f)\n",
                    a.setup.name.c_str(), b.setup.name.c_str(), wins, draws, losses, n, 100.0 * (wins + 0.5 * draws) / n,
                    e.diff, e.low, e.high);
    }
    std::printf("faults: %d\n", faults);
    return faults == 0 ? 0 : 3;
}
