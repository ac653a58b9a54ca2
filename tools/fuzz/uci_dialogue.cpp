// The UCI dialogue. It keeps two lines of play: the game it makes up (random legal moves
// from real or mutated positions), and the position the program holds, which it knows
// only while everything it sent about it was clean. Moves are judged only in a position
// it knows, so nothing is reported for a position whose text the program may read either
// way (a refused FEN, an illegal move in a list, a command sent in the middle of a search).
#include <algorithm>

#include "dialogue.h"
#include "oracle.h"

namespace fuzz {

namespace {

bool is_info_keyword(const std::string& w) {
    static const char* const keys[] = {"depth", "seldepth", "time", "nodes", "pv", "multipv", "score",
                                       "currmove", "currmovenumber", "hashfull", "nps", "tbhits", "sbhits",
                                       "cpuload", "string", "refutation", "currline", "lowerbound", "upperbound"};
    return std::find(std::begin(keys), std::end(keys), w) != std::end(keys);
}

// A "go" the dialogue sends and what it may expect of it.
struct GoPlan {
    std::string line;
    bool needs_stop = false;        // nothing in it ends the search by itself
    int time_ms = 0;                // the longest its time limits allow (0: none given)
    int movetime_ms = 0;
    bool waits = false;             // "infinite" or "ponder": no answer before "stop"
    bool ponder = false;            // "ponder": "ponderhit" turns it into a search on the clock
    std::vector<std::string> searchmoves;   // all legal, when checked
};

class UciDialogue final : public Dialogue {
public:
    const char* protocol() const override { return "uci"; }
    std::optional<Fault> run(Engine& engine, Rng& rng, const FuzzContext& ctx) override;

private:
    // ---- sending
    void send_line(const std::string& command, bool odd_form = true);
    void send_raw(const std::string& bytes) { e_->send(bytes); }
    // ---- actions
    void new_game();
    void extend_game();
    void send_position(bool spoil);
    void go();
    void perft();
    void deep_perft();
    void set_option();
    bool ready(int timeout_ms = 5000);
    void finish();
    GoPlan plan_go();
    // ---- replies
    void on_line(const std::string& line);
    void check_info(const std::vector<std::string>& w, const std::string& line);
    void check_bestmove(const std::vector<std::string>& w, const std::string& line);
    bool alive();
    void fail(const std::string& kind, const std::string& detail);
    std::string where() const;

    Engine* e_ = nullptr;
    Rng* rng_ = nullptr;
    const FuzzContext* ctx_ = nullptr;
    std::optional<Fault> fault_;

    GameLine game_;              // the game being made up
    bool game_ok_ = true;        // its FEN is accepted and its moves legal
    bool known_ = true;          // the program's position is `held_`
    GameLine held_;

    int isready_sent_ = 0, readyok_ = 0, uciok_ = 0;
    // The search in progress.
    bool searching_ = false;
    bool search_known_ = false;
    std::string search_fen_;           // the position searched, when known
    std::vector<std::string> root_moves_;
    GoPlan plan_;
    bool released_ = false;            // "stop" or "ponderhit" was sent to the search
    std::int64_t best_at_ = 0;
    // The perft in progress.
    bool perft_waiting_ = false;
    bool perft_known_ = false;
    std::uint64_t perft_expected_ = 0;
};

void UciDialogue::fail(const std::string& kind, const std::string& detail) {
    if (!fault_) fault_ = Fault{kind, detail};
}

bool UciDialogue::alive() {
    if (fault_) return false;
    if (std::optional<Fault> f = early_end(*e_)) fault_ = f;
    return !fault_;
}

std::string UciDialogue::where() const {
    return search_fen_.empty() ? std::string("a position the fuzzer lost track of") : "fen " + search_fen_;
}

void UciDialogue::send_line(const std::string& command, bool odd_form) {
    ++ctx_->tally->lines;
    std::string text = command;
    if (odd_form) {
        if (rng_->chance(8)) text = junk_word(*rng_) + " " + text;   // unknown words before a command
        if (rng_->chance(10)) {                                       // blanks and tabs between words
            std::string spaced;
            for (char c : text) spaced += c == ' ' ? std::string(static_cast<std::size_t>(rng_->range(1, 3)), " \t"[rng_->below(2)]) : std::string(1, c);
            text = spaced;
        }
    }
    const int eol = rng_->below(100);
    text += eol < 75 || !odd_form ? "\n" : eol < 95 || ctx_->skips("cr-lines") ? "\r\n" : "\r";
    if (odd_form && rng_->chance(5) && text.size() > 2) {   // the line in pieces
        const std::size_t cut = static_cast<std::size_t>(rng_->range(1, static_cast<int>(text.size()) - 1));
        send_raw(text.substr(0, cut));
        e_->pause(rng_->range(1, 200));
        send_raw(text.substr(cut));
    } else {
        send_raw(text);
    }
}

bool UciDialogue::ready(int timeout_ms) {
    send_line("isready");
    ++isready_sent_;
    if (!e_->wait([&] { return readyok_ >= isready_sent_ || e_->ended(); }, timeout_ms) && alive())
        fail("hang", "no \"readyok\" within " + std::to_string(timeout_ms / 1000) + " s of \"isready\"");
    return alive();
}

// ---- replies --------------------------------------------------------------------------

void UciDialogue::on_line(const std::string& line) {
    const std::vector<std::string> w = split_words(line);
    if (w.empty()) return;
    if (w[0] == "readyok") {
        ++readyok_;
    } else if (w[0] == "uciok") {
        ++uciok_;
    } else if (w[0] == "info") {
        if (searching_ && search_known_) check_info(w, line);
    } else if (w[0] == "bestmove") {
        check_bestmove(w, line);
    } else if (line.rfind("Nodes searched: ", 0) == 0 && perft_waiting_) {
        perft_waiting_ = false;
        ctx_->tally->perfts += perft_known_;
        if (perft_known_ && line != "Nodes searched: " + std::to_string(perft_expected_))
            fail("wrong-perft", "\"" + line + "\", expected " + std::to_string(perft_expected_) + " in " + where());
    }
}

void UciDialogue::check_info(const std::vector<std::string>& w, const std::string& line) {
    for (std::size_t i = 1; i < w.size(); ++i) {
        if (w[i] == "string") return;
        if (w[i] == "currmove" && i + 1 < w.size() && !ctx_->skips("currmove")) {
            ++ctx_->tally->moves;
            if (std::find(root_moves_.begin(), root_moves_.end(), w[i + 1]) == root_moves_.end())
                fail("illegal-currmove", "\"" + line + "\": " + w[i + 1] + " is no legal move in " + where());
        } else if (w[i] == "pv" && !ctx_->skips("pv")) {
            load(GameLine{search_fen_, {}});
            for (std::size_t j = i + 1; j < w.size() && !is_info_keyword(w[j]); ++j, ++ctx_->tally->moves)
                if (!play(w[j])) {
                    fail("illegal-pv", "\"" + line + "\": " + w[j] + " is not legal there, in " + where());
                    return;
                }
        }
    }
}

void UciDialogue::check_bestmove(const std::vector<std::string>& w, const std::string& line) {
    if (!searching_) {
        fail("protocol", "\"" + line + "\" without a search");
        return;
    }
    searching_ = false;
    best_at_ = now_ms();
    if (w.size() < 2) {
        fail("protocol", "\"" + line + "\" names no move");
        return;
    }
    if (plan_.waits && !released_)
        fail("early-bestmove", "\"" + line + "\" after \"" + plan_.line + "\" before \"stop\" or \"ponderhit\"");
    const std::string& best = w[1];
    if (!search_known_) {
        known_ = false;
        return;
    }
    load(GameLine{search_fen_, {}});
    ctx_->tally->moves += w.size() >= 4 ? 2 : 1;
    if (best == "0000") {
        if (!root_moves_.empty()) fail("no-move", "\"" + line + "\" while there are legal moves, in " + where());
        return;   // the program keeps its position
    }
    if (!play(best)) {
        fail("illegal-bestmove", "\"" + line + "\": " + best + " is not legal in " + where());
        return;
    }
    if (!plan_.searchmoves.empty() && std::find(plan_.searchmoves.begin(), plan_.searchmoves.end(), best) == plan_.searchmoves.end())
        fail("searchmoves", "\"" + line + "\" after \"" + plan_.line + "\" in " + where());
    if (w.size() >= 4 && w[2] == "ponder" && !ctx_->skips("ponder") && !play(w[3]))
        fail("illegal-ponder", "\"" + line + "\": " + w[3] + " is no legal reply to " + best + " in " + where());
    // The program plays its move on its own board.
    known_ = true;
    held_ = GameLine{search_fen_, {best}};
}

// ---- the game and the position ----------------------------------------------------------

void UciDialogue::new_game() {
    game_ = GameLine{};
    const int r = rng_->below(100);
    if (r < 35 || ctx_->fens.empty()) {
        // the start position
    } else if (r < 65) {
        game_.fen = rng_->pick(ctx_->fens);
    } else {
        game_.fen = mutate_fen(*rng_, rng_->pick(ctx_->fens));
    }
    game_ok_ = load(game_);
    if (game_ok_ && rng_->chance(3)) {
        // A long game: two pieces step out and back again, hundreds of times over.
        load(game_);
        std::vector<std::string> cycle;
        for (int k = 0; k < 2; ++k) {
            const std::vector<std::string> moves = reversible_moves();
            if (moves.empty() || !play(moves[0])) break;
            cycle.push_back(moves[0]);
        }
        for (std::size_t k = 0; k < 2 && cycle.size() == 2 + k; ++k) {
            const std::string m = cycle[k];
            if (play(m.substr(2, 2) + m.substr(0, 2))) cycle.push_back(m.substr(2, 2) + m.substr(0, 2));
        }
        if (cycle.size() == 4)
            for (int n = rng_->range(50, 750); n > 0; --n) game_.moves.insert(game_.moves.end(), cycle.begin(), cycle.end());
        game_ok_ = load(game_);
    }
}

void UciDialogue::extend_game() {
    if (!game_ok_ || !load(game_)) return;
    const int n = rng_->range(1, 8);
    for (int k = 0; k < n; ++k) {
        const std::vector<std::string> moves = legal_moves();
        if (moves.empty()) return;
        const std::string m = rng_->pick(moves);
        play(m);
        game_.moves.push_back(m);
    }
}

// "position ..." for the game; `spoil` adds an illegal or malformed move, or breaks the form.
void UciDialogue::send_position(bool spoil) {
    std::string line = "position " + (game_.fen.empty() ? std::string("startpos") : "fen " + game_.fen);
    std::vector<std::string> moves = game_.moves;
    bool clean = game_ok_;
    if (spoil) {
        clean = false;
        static const std::vector<std::string> odd = {"e2e5", "a1a1", "e7e8", "e1g1", "0000", "e2e4q", "E2E4", "h9h1", "zz", "e2"};
        switch (rng_->below(4)) {
            case 0: moves.push_back(rng_->pick(odd)); break;
            case 1: moves.insert(moves.begin() + rng_->below(static_cast<int>(moves.size()) + 1), junk_word(*rng_)); break;
            case 2: line = rng_->chance(50) ? "position" : "position fen"; moves.clear(); break;
            default: line = "position " + junk_word(*rng_); break;
        }
    }
    if (!moves.empty() || rng_->chance(10)) line += " moves";
    for (const std::string& m : moves) line += " " + m;
    send_line(line);
    known_ = clean;
    if (clean) held_ = game_;
}

// ---- go ---------------------------------------------------------------------------------

GoPlan UciDialogue::plan_go() {
    GoPlan p;
    std::vector<std::string> groups;
    Rng& r = *rng_;
    auto odd_number = [&] {
        static const std::vector<std::string> odd = {"0", "-5", "abc", "-0", "1x", "+3"};
        return r.pick(odd);
    };
    const int kind = r.below(100);
    bool limited = false;
    if (kind < 25) {
        groups.push_back("depth " + std::to_string(r.range(1, 4)));
        limited = true;
    } else if (kind < 38) {
        groups.push_back("nodes " + std::to_string(r.chance(80) ? r.range(1, 30000) : r.range(30000, 200000)));
        limited = true;
    } else if (kind < 58) {
        p.movetime_ms = r.chance(85) ? r.range(1, 400) : r.range(400, 1500);
        groups.push_back("movetime " + std::to_string(p.movetime_ms));
        p.time_ms = p.movetime_ms;
    } else if (kind < 73) {
        const int wt = r.range(1, 4000), bt = r.range(1, 4000);
        std::string clock = "wtime " + std::to_string(wt) + " btime " + std::to_string(bt);
        if (r.chance(50)) clock += " winc " + std::to_string(r.range(0, 500)) + " binc " + std::to_string(r.range(0, 500));
        if (r.chance(40)) clock += " movestogo " + std::to_string(r.range(1, 40));
        groups.push_back(clock);
        p.time_ms = std::max(wt, bt);
    } else if (kind < 80) {
        groups.push_back("infinite");
        p.needs_stop = p.waits = true;
    } else if (kind < 86) {
        groups.push_back("ponder");
        groups.push_back("wtime " + std::to_string(r.range(1, 4000)) + " btime " + std::to_string(r.range(1, 4000)));
        p.needs_stop = p.waits = p.ponder = true;
    } else if (kind < 90) {
        groups.push_back("mate " + std::to_string(r.range(1, 2)));
        limited = true;
    } else if (kind < 94) {
        p.needs_stop = true;   // a bare "go": whatever it means, "stop" ends it
    } else {
        static const char* const keys[] = {"depth", "nodes", "movetime", "mate"};
        groups.push_back(std::string(keys[r.below(4)]) + " " + odd_number());
        limited = true;
    }
    if (!p.needs_stop && r.chance(20)) {   // a second limit
        if (r.chance(50)) {
            groups.push_back("depth " + std::to_string(r.range(1, 3)));
            limited = true;
        } else {
            p.movetime_ms = r.range(1, 400);
            groups.push_back("movetime " + std::to_string(p.movetime_ms));
            p.time_ms = p.time_ms ? std::min(p.time_ms, p.movetime_ms) : p.movetime_ms;
        }
    }
    // Drawn whether or not they are used, so that what the program answered never changes
    // the random sequence (the same seed sends the same input).
    const bool restrict = r.chance(15);
    int picks[4];
    for (int& k : picks) k = r.below(1000);
    if (restrict && known_ && !root_moves_.empty()) {
        std::vector<std::string> pool = root_moves_;
        std::string group = "searchmoves";
        for (int k = 0; k < 1 + picks[0] % 4 && !pool.empty(); ++k) {
            const auto at = static_cast<std::size_t>(picks[k] % static_cast<int>(pool.size()));
            p.searchmoves.push_back(pool[at]);
            group += " " + pool[at];
            pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(at));
        }
        groups.push_back(group);
    }
    for (std::size_t i = 5; i > 1; --i) {   // a shuffle that draws as often whatever the groups
        const auto j = static_cast<std::size_t>(r.below(static_cast<int>(i)));
        if (i - 1 < groups.size() && j < groups.size()) std::swap(groups[i - 1], groups[j]);
    }
    // "searchmoves" reads moves up to the first word that is none: then the list is whole.
    p.line = "go";
    for (const std::string& g : groups) p.line += " " + g;
    if (!limited && p.time_ms == 0) p.needs_stop = true;
    return p;
}

void UciDialogue::go() {
    // The position searched, as the program holds it.
    search_known_ = known_;
    search_fen_.clear();
    root_moves_.clear();
    if (known_ && load(held_)) {
        search_fen_ = current_fen();
        root_moves_ = legal_moves();
    } else {
        search_known_ = false;
    }
    plan_ = plan_go();
    if (!search_known_) plan_.searchmoves.clear();
    ++ctx_->tally->searches;
    ctx_->tally->judged += search_known_;
    searching_ = true;
    released_ = false;
    known_ = false;   // until the best move says where the program stands
    const std::int64_t started = now_ms();
    send_line(plan_.line);

    // Commands during the search, at random times: what a GUI and a person may send.
    const int events = rng_->range(0, 3) + (plan_.needs_stop ? 1 : 0);
    std::int64_t stop_at = 0;
    bool blocked_check = false;
    for (int k = 0; k < events && alive(); ++k) {
        const bool last = k == events - 1;
        e_->pause(rng_->range(1, plan_.needs_stop ? 800 : 250));
        if (!alive()) return;
        const int what = last && plan_.needs_stop ? 100 : rng_->below(100);
        if (what < 30) {
            send_line("isready");
            ++isready_sent_;
        } else if (what < 45) {
            send_raw(junk_line(*rng_, rng_->range(1, 200)) + "\n");
        } else if (what < 55 && !ctx_->skips("partial-lines") && plan_.movetime_ms > 0 && plan_.movetime_ms <= 400 &&
                   !blocked_check) {
            // A line typed slowly: the search must not wait for its end.
            const std::string cmd = "isready\n";
            const std::size_t cut = static_cast<std::size_t>(rng_->range(1, 6));
            const int limit = 3 * plan_.movetime_ms + 3000;
            send_raw(cmd.substr(0, cut));
            e_->wait([&] { return !searching_ || e_->ended(); }, static_cast<int>(started + limit + 1500 - now_ms()));
            if (!alive()) return;
            if (searching_ || best_at_ - started > limit)
                fail("search-blocked", "\"" + plan_.line + "\" gave no \"bestmove\" within " + std::to_string(limit) +
                                           " ms while the line \"" + cmd.substr(0, cut) + "\" waited for its end");
            send_raw(cmd.substr(cut));
            ++isready_sent_;
            blocked_check = true;
        } else if (what < 65) {
            released_ = released_ || plan_.ponder;
            send_line("ponderhit");
        } else if (what < 80 || plan_.needs_stop) {
            released_ = true;
            send_line(rng_->chance(90) ? "stop" : "stop junk");
            if (!stop_at) stop_at = now_ms();
        } else {
            send_line("isready");
            ++isready_sent_;
        }
    }
    if (!alive()) return;
    std::int64_t deadline = started + (plan_.time_ms ? 3 * plan_.time_ms + 20000 : 45000);
    if (stop_at) deadline = std::min(deadline, stop_at + 10000);
    if (plan_.needs_stop && !stop_at) deadline = now_ms() + 10000;
    if (!e_->wait([&] { return !searching_ || e_->ended(); }, static_cast<int>(deadline - now_ms())) && alive())
        fail("hang", "no \"bestmove\" after \"" + plan_.line + "\"" + (stop_at ? " and \"stop\"" : "") + " in " + where());
}

void UciDialogue::perft() {
    int depth = rng_->range(0, 3);
    perft_known_ = known_ && load(held_);
    search_fen_.clear();
    // Depth 3 only where it stays small: in a position with many moves, or one not known.
    if (!perft_known_ || legal_moves().size() > 50) depth = std::min(depth, 2);
    if (perft_known_) {
        search_fen_ = current_fen();
        perft_expected_ = count_leaves(depth);
    }
    perft_waiting_ = true;
    send_line("go perft " + std::to_string(depth));
    if (!e_->wait([&] { return !perft_waiting_ || e_->ended(); }, 30000) && alive())
        fail("hang", "no \"Nodes searched\" within 30 s of \"go perft " + std::to_string(depth) + "\"");
    perft_waiting_ = false;
}

// A perft far too deep to finish: "stop" must end it.
void UciDialogue::deep_perft() {
    send_line("go perft " + std::to_string(rng_->range(9, 40)));
    e_->pause(rng_->range(10, 800));
    send_line("stop");
    ready();
}

// ---- options -----------------------------------------------------------------------------

void UciDialogue::set_option() {
    Rng& r = *rng_;
    std::string name, value;
    switch (r.below(16)) {
        case 15: {
            // The playing strength: a limited search picks among near-best root moves on
            // one thread, and must still answer in time with a legal move.
            static const std::vector<std::string> flags = {"true", "false", "TRUE", ""};
            static const std::vector<std::string> elos = {"1000", "1350", "1700", "2800", "999", "2801", "x", ""};
            const bool flag = r.chance(50);
            name = flag ? "UCI_LimitStrength" : "UCI_Elo";
            value = r.pick(flag ? flags : elos);
            break;
        }
        case 14: {
            static const std::vector<std::string> v = {"1", "2", "3", "5", "64", "65", "0", "-1", "abc", ""};
            name = "MultiPV";
            value = r.pick(v);
            break;
        }
        case 13: {
            static const std::vector<std::string> v = {"1", "2", "3", "4", "8", "0", "-2", "abc", "", "2.5"};
            name = r.chance(90) ? "Threads" : "threads";
            value = r.pick(v);
            break;
        }
        case 0: {
            static const std::vector<std::string> v = {"2", "4", "16", "33", "64", "abc", "", "-1", "0", "1e1", "8.5", " 16"};
            name = r.chance(80) ? "Hash" : "hash";
            value = ctx_->skips("hash-nan") || r.chance(90) ? r.pick(v) : std::string("nan");
            break;
        }
        case 1: name = "Clear Hash"; break;
        case 2:
        case 3: {
            name = r.chance(90) ? "BookName" : "bookname";
            const int k = r.below(100);
            if (k < 8 && !ctx_->skips("book-devices") && !ctx_->device_books.empty())
                value = r.pick(ctx_->device_books);
            else if (k < 15)
                value = std::string(static_cast<std::size_t>(r.range(100, 5000)), 'b');
            else if (!ctx_->book_files.empty())
                value = r.pick(ctx_->book_files);
            break;
        }
        case 4: {
            static const std::vector<std::string> v = {"Best", "Normal", "Risky", "best", "Wild", ""};
            name = "BookStyle";
            value = r.pick(v);
            break;
        }
        case 5:
        case 6: {
            static const std::vector<std::string> v = {"true", "false", "TRUE", "1", ""};
            name = r.chance(50) ? "OwnBook" : "Ponder";
            value = r.pick(v);
            break;
        }
        case 7: {
            name = "NalimovPath";
            const std::vector<std::string> v = {ctx_->workdir + "/tb", "/nonexistent/tb", "", "/dev/null",
                                                std::string(300, 'x'), ctx_->workdir + ";" + ctx_->workdir};
            value = r.pick(v);
            break;
        }
        case 8: {
            static const std::vector<std::string> v = {"2", "8", "32", "0", "-4", "999", "zz"};
            name = "NalimovCache";
            value = r.pick(v);
            break;
        }
        case 9:
            name = "SyzygyPath";
            if (!ctx_->syzygy_paths.empty()) value = r.pick(ctx_->syzygy_paths);
            break;
        case 10: {
            static const std::vector<std::string> depths = {"1", "0", "4", "100", "101", "-3", "x"};
            static const std::vector<std::string> limits = {"7", "0", "3", "4", "8", "-1", ""};
            static const std::vector<std::string> checks = {"true", "false", "1", ""};
            const int which = r.below(3);
            name = which == 0 ? "SyzygyProbeDepth" : which == 1 ? "SyzygyProbeLimit" : "Syzygy50MoveRule";
            value = r.pick(which == 0 ? depths : which == 1 ? limits : checks);
            break;
        }
        case 11: {
            static const std::vector<std::string> v = {"0", "10", "100", "5000", "99999", "-1", "abc", "1e9", " 3", ""};
            name = r.chance(90) ? "Move Overhead" : "move overhead";
            value = r.pick(v);
            break;
        }
        case 12: {
            static const std::vector<std::string> v = {"true", "false", "TRUE", "1", ""};
            name = "UCI_AnalyseMode";
            value = r.pick(v);
            break;
        }
        default: name = junk_word(r); value = junk_word(r); break;
    }
    std::string line = "setoption name " + name;
    const int form = r.below(100);
    if (form < 85)
        line += " value " + value;
    else if (form < 92)
        line = "setoption " + name + " value " + value;   // "name" left out
    else if (form < 96)
        line += " value";
    send_line(line);
}

// ---- the end -----------------------------------------------------------------------------

void UciDialogue::finish() {
    const int how = rng_->below(100);
    if (how < 10) {   // "quit" in the middle of a search
        plan_ = GoPlan{};
        send_line("go infinite", false);
        searching_ = released_ = true;   // "quit" may end it
        search_known_ = false;
        e_->pause(rng_->range(1, 500));
        if (!alive()) return;
        send_line("quit", false);
    } else if (how < 15) {
        // End of input: the program ends as on "quit".
    } else {
        send_line("quit");
    }
    // The program may end as soon as it reads "quit": from here its end is no fault.
    if (fault_) return;
    fault_ = session_end(*e_);
}

std::optional<Fault> UciDialogue::run(Engine& engine, Rng& rng, const FuzzContext& ctx) {
    e_ = &engine;
    rng_ = &rng;
    ctx_ = &ctx;
    e_->on_line = [this](const std::string& line) { on_line(line); };
    send_line("uci", false);
    if (!e_->wait([&] { return uciok_ > 0 || e_->ended(); }, 10000) && alive()) fail("hang", "no \"uciok\" within 10 s");
    known_ = true;
    held_ = GameLine{};
    // Half the sessions search on several threads, from the start.
    if (rng.chance(50)) send_line("setoption name Threads value " + std::to_string(rng.range(1, 8)), false);
    new_game();
    const int steps = rng.range(5, 60);
    for (int step = 0; step < steps && alive() && now_ms() < ctx.end_ms; ++step) {
        const int a = rng.below(100);
        if (a < 10) {
            send_position(false);
        } else if (a < 14) {
            send_position(true);
        } else if (a < 22) {
            new_game();
            send_position(false);
        } else if (a < 30) {
            extend_game();
        } else if (a < 40) {
            extend_game();
            send_position(false);
            go();
        } else if (a < 50) {
            new_game();
            send_position(false);
            go();
        } else if (a < 64) {
            go();
        } else if (a < 68) {
            perft();
        } else if (a < 78) {
            set_option();
        } else if (a < 86) {
            ready();
        } else if (a < 91) {
            send_raw(junk_line(rng, rng.chance(90) ? rng.range(1, 300) : rng.range(10000, 200000)) + "\n");
        } else if (a < 93) {
            send_line("board");
        } else if (a < 95) {
            send_line("ucinewgame");
            known_ = false;
        } else if (a < 96) {
            const int before = uciok_;
            send_line("uci");
            known_ = false;
            if (!e_->wait([&] { return uciok_ > before || e_->ended(); }, 10000) && alive())
                fail("hang", "no \"uciok\" within 10 s of a second \"uci\"");
        } else if (a < 99) {
            send_line(rng.chance(50) ? "stop" : "ponderhit");   // nothing to stop
        } else if (!ctx.skips("deep-perft")) {
            deep_perft();
        }
    }
    if (alive()) finish();
    e_->on_line = nullptr;
    return fault_;
}

}  // namespace

std::unique_ptr<Dialogue> make_uci_dialogue() { return std::make_unique<UciDialogue>(); }

}  // namespace fuzz
