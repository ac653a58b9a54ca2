// The WinBoard (xboard protocol 2) dialogue, for varkon_classic. It plays games against
// the program as a GUI would (new, level or st, sd, memory, option, time/otim, moves, go,
// force, undo, setboard, analyze with exclude/include, hard, "?", draw, result) and as a
// careless one would (illegal moves, bad values, junk), and judges what it can: every
// "move" legal in the game it keeps, no "move" when none is due, thinking lines and hints
// legal, no analysis line starting with an excluded move, claimed mates and stalemates
// real, "pong" and a move on "?" in time, a clean end on "quit".
//
// The game is known while everything sent about it was clean. A thinking line is judged
// only while the dialogue is sure which position it belongs to: a search that may still
// run when the game changes (pondering, analysis) prints lines of the old position until
// it reads the change, so after such a change lines are judged again only from the next
// "move" or the "pong" of a later "ping".
#include <algorithm>

#include "dialogue.h"
#include "oracle.h"

namespace fuzz {

namespace {

bool is_number(const std::string& w) {
    std::size_t i = !w.empty() && w[0] == '-' ? 1 : 0;
    if (i >= w.size()) return false;
    for (; i < w.size(); ++i)
        if (w[i] < '0' || w[i] > '9') return false;
    return true;
}

class XboardDialogue final : public Dialogue {
public:
    const char* protocol() const override { return "xboard"; }
    std::optional<Fault> run(Engine& engine, Rng& rng, const FuzzContext& ctx) override;

private:
    void send_line(const std::string& command);
    bool alive();
    void fail(const std::string& kind, const std::string& detail);
    std::string where() const;
    // ---- replies
    void on_line(const std::string& line);
    void check_move(const std::string& move, const std::string& line);
    void check_thinking(const std::vector<std::string>& w, const std::string& line);
    void check_result(const std::string& line, const GameLine& game);
    // ---- actions
    bool sync(int timeout_ms = 5000);
    void position_changed();
    void new_game();
    void setboard();
    void edit();
    void user_move();
    void illegal_move();
    void go();
    void wait_for_move();
    void take_back(int plies);
    void analyse();
    void hint();
    void exclusion();
    void set_option();
    void odd_command();
    void finish();
    void send_clocks();
    void await_result();

    Engine* e_ = nullptr;
    Rng* rng_ = nullptr;
    const FuzzContext* ctx_ = nullptr;
    std::optional<Fault> fault_;

    GameLine game_;              // the program's game, while `known_`
    bool known_ = true;
    bool force_ = false, analyzing_ = false, ponder_ = false;
    bool expecting_ = false;     // a "move" is due
    bool maybe_move_ = false;    // a "move" may come (the position is not known)
    std::int64_t move_deadline_ = 0;
    int clock_cs_ = 1000;        // the clock the program was given last
    bool lines_sure_ = true;     // thinking lines belong to `game_`
    long pings_ = 0, pong_ = 0, resync_ping_ = 0;
    std::string last_legal_sent_;
    int fen_errors_ = 0;         // "Error (bad FEN)" lines
    std::string last_hint_;
    std::vector<std::string> excluded_;   // moves analysis leaves out in the game position
    // The positions a result line may speak of: the one after the program's move (for
    // the line that follows the move at once), and one the dialogue waits on after it
    // sent a move that ends the game or "go" in an ended one.
    std::optional<GameLine> after_move_, ended_game_;
};

void XboardDialogue::fail(const std::string& kind, const std::string& detail) {
    if (!fault_) fault_ = Fault{kind, detail};
}

bool XboardDialogue::alive() {
    if (fault_) return false;
    if (std::optional<Fault> f = early_end(*e_)) fault_ = f;
    return !fault_;
}

std::string XboardDialogue::where() const {
    if (!known_) return "a position the fuzzer lost track of";
    load(game_);
    return "fen " + current_fen();
}

void XboardDialogue::send_line(const std::string& command) {
    ++ctx_->tally->lines;
    const int eol = rng_->below(100);
    e_->send(command + (eol < 85 ? "\n" : eol < 97 || ctx_->skips("cr-lines") ? "\r\n" : "\r"));
}

// ---- replies --------------------------------------------------------------------------

void XboardDialogue::on_line(const std::string& line) {
    const std::vector<std::string> w = split_words(line);
    const std::optional<GameLine> after_move = std::move(after_move_);
    after_move_.reset();
    if (w.empty()) return;
    if (w[0] == "pong" && w.size() >= 2) {
        pong_ = std::max(pong_, std::atol(w[1].c_str()));
        if (pong_ >= resync_ping_ && !expecting_) lines_sure_ = true;
    } else if (w[0] == "move" && w.size() >= 2) {
        check_move(w[1], line);
    } else if (line.rfind("Error (bad FEN)", 0) == 0) {
        ++fen_errors_;
    } else if (w[0] == "Illegal" && w.size() >= 3 && w[1] == "move:") {
        if (!last_legal_sent_.empty() && w[2] == last_legal_sent_)
            fail("refused-move", "\"" + line + "\" for a legal move, in " + where());
    } else if (w[0] == "Hint:" && w.size() >= 2) {
        last_hint_ = w[1];
    } else if (line.find(" {") != std::string::npos && (w[0] == "1-0" || w[0] == "0-1" || w[0] == "1/2-1/2")) {
        if (after_move || ended_game_) check_result(line, after_move ? *after_move : *ended_game_);
    } else if (w.size() >= 5 && is_number(w[0]) && is_number(w[1]) && is_number(w[2]) && is_number(w[3])) {
        check_thinking(w, line);
    }
}

void XboardDialogue::check_move(const std::string& move, const std::string& line) {
    if (!expecting_ && !maybe_move_) {
        fail("unexpected-move", "\"" + line + "\" when no move was due (force, analysis, or after the move)");
        return;
    }
    const bool judge = expecting_;
    expecting_ = maybe_move_ = false;
    lines_sure_ = true;   // whatever prints next is of the position after this move
    last_hint_.clear();
    if (!judge || !known_) {
        known_ = false;
        return;
    }
    ++ctx_->tally->moves;
    load(game_);
    if (!play(move)) {
        fail("illegal-move", "\"" + line + "\": " + move + " is not legal in " + where());
        return;
    }
    game_.moves.push_back(move);
    after_move_ = game_;
}

// "depth score time nodes pv..." with fail-high "!" and fail-low "?" marks, "<bookmove>"
// and "<only one reply>" tags, and " nps", " tbhits", " mate in" after the line.
void XboardDialogue::check_thinking(const std::vector<std::string>& w, const std::string& line) {
    if (!lines_sure_ || !known_ || ctx_->skips("pv")) return;
    std::string first = w[4];
    if (!first.empty() && (first.back() == '!' || first.back() == '?')) first.pop_back();
    if (analyzing_ && std::find(excluded_.begin(), excluded_.end(), first) != excluded_.end()) {
        fail("excluded-move", "\"" + line + "\" starts with a move excluded from the analysis, in " + where());
        return;
    }
    load(game_);
    for (std::size_t i = 4; i < w.size(); ++i) {
        std::string m = w[i];
        if (!m.empty() && (m.back() == '!' || m.back() == '?')) m.pop_back();
        if (!looks_like_move(m)) return;
        ++ctx_->tally->moves;
        if (!play(m)) {
            fail("illegal-pv", "\"" + line + "\": " + m + " is not legal there, in " + where());
            return;
        }
    }
}

// A claimed mate or stalemate: the game has no legal move.
void XboardDialogue::check_result(const std::string& line, const GameLine& game) {
    const bool mates = line.find("mates}") != std::string::npos, stalemate = line.find("{stalemate}") != std::string::npos;
    if (!mates && !stalemate) return;
    load(game);
    if (!legal_moves().empty())
        fail("wrong-result", "\"" + line + "\" while there are legal moves, in fen " + current_fen());
}

// ---- the dialogue's own steps -------------------------------------------------------------

// "ping" and its "pong": everything sent before it has been acted on.
bool XboardDialogue::sync(int timeout_ms) {
    const long id = ++pings_;
    send_line("ping " + std::to_string(id));
    if (!e_->wait([&] { return pong_ >= id || e_->ended(); }, timeout_ms) && alive())
        fail("hang", "no \"pong " + std::to_string(id) + "\" within " + std::to_string(timeout_ms / 1000) + " s");
    return alive();
}

// The game is over and the program was asked to move: it answers with the result.
void XboardDialogue::await_result() {
    ended_game_ = game_;
    sync();
    ended_game_.reset();
}

// The game changed: a search that may still run prints lines of the old position until it
// reads the change.
void XboardDialogue::position_changed() {
    last_legal_sent_.clear();
    last_hint_.clear();
    excluded_.clear();
    if (analyzing_ || ponder_) {
        lines_sure_ = false;
        resync_ping_ = pings_ + 1;
    }
}

void XboardDialogue::new_game() {
    send_line(rng_->chance(90) ? "new" : "reset");
    position_changed();
    game_ = GameLine{};
    known_ = true;
    force_ = false;
    Rng& r = *rng_;
    // A level as GUIs send it: moves per session, base in minutes or m:ss, increment.
    const int base_s = r.range(1, 30);
    const std::string base = r.chance(50) ? std::to_string((base_s + 59) / 60) : "0:" + std::to_string(base_s);
    const std::string inc = r.chance(60) ? "0" : r.chance(50) ? std::to_string(r.range(0, 2)) : "0.5";
    if (r.chance(80))
        send_line("level " + std::to_string(r.chance(50) ? 0 : r.range(1, 40)) + " " + base + " " + inc);
    else
        send_line("st " + std::string(r.chance(50) ? "1" : r.chance(50) ? "0.5" : "3"));
    if (r.chance(20)) send_line("sd " + std::to_string(r.range(1, 12)));
    if (r.chance(20)) send_line("memory " + std::to_string(r.range(1, 24)));
    if (r.chance(70)) send_line(r.chance(80) ? "post" : "nopost");
    if (r.chance(30)) {
        // A ponder search may still run after "easy" until the program reads it: once
        // "hard" was sent, the dialogue treats every later move as one that may meet it.
        const bool hard = r.chance(60);
        ponder_ = ponder_ || hard;
        send_line(hard ? "hard" : "easy");
    }
}

void XboardDialogue::setboard() {
    if (ctx_->fens.empty()) return;
    Rng& r = *rng_;
    const std::string fen = r.chance(60) ? r.pick(ctx_->fens) : mutate_fen(r, r.pick(ctx_->fens));
    if (r.chance(80)) {
        send_line("force");
        force_ = true;
    }
    // The program refuses a side other than "w" or "b", which the board code reads as white.
    GameLine line{fen, {}};
    const std::vector<std::string> fields = split_words(fen);
    const bool accepted = load(line) && (fields.size() < 2 || fields[1] == "w" || fields[1] == "b");
    if (!sync()) return;   // the answers to earlier commands are in
    const int errors_before = fen_errors_;
    send_line("setboard " + fen + (r.chance(10) ? "  " : ""));
    position_changed();
    if (!sync()) return;
    const bool taken = fen_errors_ == errors_before;
    if (taken && !analyzing_) force_ = true;   // a refused position changes nothing
    if (accepted && !taken) {
        fail("refused-fen", "\"setboard " + fen + "\" was refused");
    } else if (accepted) {
        game_ = line;
        known_ = true;
    } else if (taken) {
        known_ = false;   // the fuzzer's board code refuses it: the program read it its own way
    }
}

// "edit" with pieces of a real position, sometimes garbled: the result is not followed.
void XboardDialogue::edit() {
    Rng& r = *rng_;
    send_line("edit");
    send_line("#");
    const std::string fen = ctx_->fens.empty() ? std::string("4k3/8/8/8/8/8/8/4K3") : r.pick(ctx_->fens);
    int sq = 0;
    bool white = true;
    for (char c : fen.substr(0, fen.find(' '))) {
        if (c == '/') continue;
        if (c >= '1' && c <= '8') {
            sq += c - '0';
            continue;
        }
        const bool is_white = c >= 'A' && c <= 'Z';
        if (is_white != white) {
            send_line("c");
            white = is_white;
        }
        std::string word{static_cast<char>(is_white ? c : c - 'a' + 'A'), static_cast<char>('a' + sq % 8),
                         static_cast<char>('8' - sq / 8)};
        if (r.chance(3)) word = junk_word(r);
        send_line(word);
        ++sq;
    }
    send_line(".");
    position_changed();
    known_ = false;
    if (!analyzing_) force_ = true;
    sync();
}

void XboardDialogue::user_move() {
    if (!known_ || !load(game_)) return;
    const std::vector<std::string> moves = legal_moves();
    if (moves.empty()) return;
    Rng& r = *rng_;
    send_clocks();
    const std::string m = r.pick(moves);
    send_line(m);
    position_changed();
    last_legal_sent_ = m;
    game_.moves.push_back(m);
    load(game_);
    if (!force_ && !analyzing_ && legal_moves().empty()) {
        await_result();
    } else if (!force_ && !analyzing_) {
        expecting_ = true;
        ++ctx_->tally->searches;
        ++ctx_->tally->judged;
        move_deadline_ = now_ms() + 3LL * 10 * clock_cs_ + 20000;
        lines_sure_ = !ponder_;
        wait_for_move();
    }
}

void XboardDialogue::illegal_move() {
    static const std::vector<std::string> odd = {"e2e5", "a1a1", "e7e8", "e1g1", "e8c8", "h9h1", "e2", "a7a8k", "0000"};
    last_legal_sent_.clear();   // the same text may have been a legal move before
    if (known_ && load(game_)) {
        const std::string m = rng_->pick(odd);
        const std::vector<std::string> moves = legal_moves();
        if (std::find(moves.begin(), moves.end(), m) != moves.end()) return;
        send_line(m);
    } else {
        send_line(junk_word(*rng_));
    }
}

// The clocks, as a GUI sends them before the program's turn: short, now and then very short.
void XboardDialogue::send_clocks() {
    Rng& r = *rng_;
    const int t = r.chance(10) ? r.range(1, 100) : r.range(100, 1000);
    clock_cs_ = std::max(t, 100);
    send_line("time " + std::to_string(t));
    send_line("otim " + std::to_string(r.range(1, 3000)));
}

void XboardDialogue::go() {
    send_clocks();
    send_line("go");
    force_ = analyzing_ = false;
    ++ctx_->tally->searches;
    if (!known_ || !load(game_)) {
        // A move may come or not (the game may be over): the "pong" comes after it.
        maybe_move_ = true;
        sync();
        maybe_move_ = false;
        return;
    }
    if (legal_moves().empty()) return await_result();
    ++ctx_->tally->judged;
    expecting_ = true;
    lines_sure_ = lines_sure_ && !ponder_;
    move_deadline_ = now_ms() + 3LL * 10 * clock_cs_ + 20000;
    wait_for_move();
}

// The program thinks: now and then the dialogue makes it move at once ("?"), asks
// whether it lives ("ping") or its state ("."), each of which ends the search.
void XboardDialogue::wait_for_move() {
    Rng& r = *rng_;
    if (r.chance(35)) {
        e_->pause(r.range(1, 600));
        if (!alive() || !expecting_) return;
        const int what = r.below(3);
        send_line(what == 0 ? "?" : what == 1 ? "ping " + std::to_string(++pings_) : ".");
        if (!e_->wait([&] { return !expecting_ || e_->ended(); }, 5000) && alive())
            fail("slow-move-now", "no \"move\" within 5 s of an interrupting command, in " + where());
        return;
    }
    if (!e_->wait([&] { return !expecting_ || e_->ended(); }, static_cast<int>(move_deadline_ - now_ms())) && alive())
        fail("hang", "no \"move\" in time on a clock of " + std::to_string(clock_cs_) + " cs, in " + where());
}

void XboardDialogue::take_back(int plies) {
    send_line(plies == 1 ? (rng_->chance(80) ? "undo" : "back") : "remove");
    position_changed();
    if (!known_) return;
    if (static_cast<int>(game_.moves.size()) >= plies) {
        game_.moves.resize(game_.moves.size() - static_cast<std::size_t>(plies));
        last_legal_sent_.clear();
    }
}

void XboardDialogue::analyse() {
    Rng& r = *rng_;
    send_line("analyze");
    analyzing_ = true;
    force_ = false;
    for (int k = r.range(0, 4); k > 0 && alive(); --k) {
        e_->pause(r.range(1, 400));
        const int what = r.below(10);
        if (what < 4 && known_ && load(game_) && !legal_moves().empty()) {
            const std::string m = r.pick(legal_moves());
            send_line(m);
            position_changed();
            game_.moves.push_back(m);
        } else if (what < 6) {
            take_back(1);
        } else if (what < 7) {
            r.chance(50) ? send_line(".") : exclusion();
        } else if (what < 8) {
            new_game();
        } else {
            sync();
        }
    }
    e_->pause(r.range(1, 300));
    if (r.chance(85)) {
        send_line("exit");
        analyzing_ = false;
    }
    sync();
}

void XboardDialogue::hint() {
    last_hint_.clear();
    send_line("hint");
    if (!sync()) return;
    if (!last_hint_.empty() && known_) {
        load(game_);
        ++ctx_->tally->moves;
        if (!play(last_hint_)) fail("illegal-hint", "\"Hint: " + last_hint_ + "\" is not legal in " + where());
    }
}

// "exclude" and "include" of a legal move or of all moves. Lines printed before the
// program read it may still show the move; from the next "pong" on none may.
void XboardDialogue::exclusion() {
    Rng& r = *rng_;
    const int what = r.below(10);
    if (what < 5 && known_ && load(game_) && !legal_moves().empty()) {
        const std::string m = r.pick(legal_moves());
        const bool exclude = r.chance(70);
        send_line((exclude ? "exclude " : "include ") + m);
        if (exclude)
            excluded_.push_back(m);
        else
            excluded_.erase(std::remove(excluded_.begin(), excluded_.end(), m), excluded_.end());
    } else if (what < 7) {
        send_line(r.chance(50) ? "include all" : "exclude all");
        excluded_.clear();   // "exclude all": no analysis, so nothing to judge
    } else {
        static const std::vector<std::string> odd = {"exclude", "include", "exclude e9e9", "include zz", "exclude all all",
                                                     "include e2e4e2e4"};
        send_line(r.pick(odd));
        return;
    }
    if (analyzing_) {
        lines_sure_ = false;
        resync_ping_ = pings_ + 1;
    }
}

// The settings of Varkon.ini as xboard's engine settings change them, with fitting and
// odd values.
void XboardDialogue::set_option() {
    Rng& r = *rng_;
    static const std::vector<std::string> checks = {"USE_BOOK", "RESIGN", "DRAW", "LOGFILE"};
    std::string line;
    switch (r.below(6)) {
        case 0: line = r.pick(checks) + "=" + (r.chance(90) ? r.pick(std::vector<std::string>{"0", "1"}) : "2"); break;
        case 1: {
            static const std::vector<std::string> v = {"-600", "-999", "-100", "-5000", "0", "abc", ""};
            line = std::string(r.chance(50) ? "RESIGN_VALUE" : "RESIGN_COUNT") + "=" + r.pick(v);
            break;
        }
        case 2: {
            static const std::vector<std::string> v = {"best", "normal", "random", "Best", "wild", ""};
            line = "BOOK_STYLE=" + r.pick(v);
            break;
        }
        case 3:
            line = "BOOK_NAME=" + (ctx_->book_files.empty() || r.chance(10) ? std::string(r.range(1, 5000), 'b')
                                                                            : r.pick(ctx_->book_files));
            break;
        case 4: line = r.chance(50) ? "NO_SUCH_OPTION=1" : "RESIGN"; break;
        default: line = junk_word(r) + "=" + junk_word(r); break;
    }
    send_line("option " + line);
}

// Commands with odd, missing or non-numeric values, and lines of junk: an error or
// nothing, never a changed game.
void XboardDialogue::odd_command() {
    Rng& r = *rng_;
    static const std::vector<std::string> lines = {
        "level", "level 40", "level 40 5", "level x y z", "level -1 -5 -2", "level 0 0 0", "level 99999999999 1 1",
        "level 0 0:99999999999 0", "time", "time abc", "time -5", "otim 99999999999999", "ping", "ping x",
        "protover", "protover 3", "accepted san", "rejected ping", "result", "result 1-0 {junk}", "result *",
        "draw", "computer", "name", "name Someone Else", "rating 2000", "rating", "random", "ics", "ics -",
        "ics freechess.org", "bk", "white", "black", ".", "hard", "easy", "post", "nopost", "board", "info",
        "pieces", "setboard", "setboard x", "setboard 8/8/8/8/8/8/8/8 w - -", "st", "st 0", "st -3", "st x", "st 0.01",
        "st 1e400", "st 99999999999", "sd", "sd 0", "sd -1", "sd 99999", "sd x", "sd 2", "nps", "nps 1000", "memory",
        "memory 0", "memory -5", "memory x", "memory 3", "option", "option =", "exclude", "include all", "cores", "cores x", "cores 0",
        "cores 3", "cores -1"};
    const int k = r.below(100);
    if (k < 8) {
        // Table directories, sound, damaged and odd, for a kind the program knows or not.
        static const std::vector<std::string> kinds = {"syzygy", "syzygy", "nalimov", "gaviota", ""};
        const std::string dir = ctx_->syzygy_paths.empty() ? "" : r.pick(ctx_->syzygy_paths);
        send_line("egtpath " + r.pick(kinds) + " " + dir);
    } else if (k < 70) {
        const std::string& line = r.pick(lines);
        ponder_ = ponder_ || line == "hard";
        send_line(line);
    } else {
        e_->send(junk_line(r, r.chance(90) ? r.range(1, 300) : r.range(10000, 100000)) + "\n");
    }
}

void XboardDialogue::finish() {
    const int how = rng_->below(100);
    if (how < 10 && known_ && !force_) {
        // "quit" while the program thinks
        expecting_ = false;
        maybe_move_ = true;
        send_line("go");
        e_->pause(rng_->range(1, 300));
        if (!alive()) return;
        send_line("quit");
    } else if (how < 20) {
        // End of input: the program ends as on "quit".
    } else {
        send_line("quit");
    }
    // The program may end as soon as it reads "quit": from here its end is no fault.
    if (fault_) return;
    fault_ = session_end(*e_);
}

std::optional<Fault> XboardDialogue::run(Engine& engine, Rng& rng, const FuzzContext& ctx) {
    e_ = &engine;
    rng_ = &rng;
    ctx_ = &ctx;
    bool features_done = false;
    e_->on_line = [&](const std::string& line) {
        if (line.find("done=1") != std::string::npos) features_done = true;
        on_line(line);
    };
    send_line("xboard");
    send_line("protover 2");
    if (!e_->wait([&] { return features_done || e_->ended(); }, 10000) && alive())
        fail("hang", "no \"feature done=1\" within 10 s of \"protover 2\"");
    for (const char* f : {"ping", "setboard", "draw", "analyze", "time", "smp"})
        if (rng.chance(90)) send_line(std::string("accepted ") + f);
    // Half the sessions search on several threads, as xboard asks after "smp=1".
    if (rng.chance(50)) send_line("cores " + std::to_string(rng.range(1, 8)));
    new_game();
    const int steps = rng.range(10, 80);
    for (int step = 0; step < steps && alive() && now_ms() < ctx.end_ms; ++step) {
        const int a = rng.below(100);
        if (a < 40) {
            user_move();
        } else if (a < 45) {
            new_game();
        } else if (a < 50) {
            setboard();
        } else if (a < 52) {
            edit();
        } else if (a < 57) {
            go();
        } else if (a < 62) {
            send_line("force");
            force_ = true;
        } else if (a < 67) {
            take_back(rng.chance(60) ? 1 : 2);
        } else if (a < 72) {
            illegal_move();
        } else if (a < 77) {
            analyse();
        } else if (a < 81) {
            hint();
        } else if (a < 83) {
            set_option();
        } else if (a < 92) {
            odd_command();
        } else {
            sync();
        }
    }
    if (alive()) finish();
    e_->on_line = nullptr;
    return fault_;
}

}  // namespace

std::unique_ptr<Dialogue> make_xboard_dialogue() { return std::make_unique<XboardDialogue>(); }

}  // namespace fuzz
