#include "frontend/winboard.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "book/book.h"
#include "core/attacks.h"
#include "core/moves.h"
#include "core/notation.h"
#include "egtb/probe_egtb.h"
#include "frontend/command_input.h"
#include "frontend/config.h"
#include "frontend/console.h"
#include "frontend/dialogue.h"
#include "frontend/game.h"
#include "frontend/learn.h"
#include "frontend/log.h"
#include "frontend/program.h"
#include "frontend/tablebases.h"
#include "search/hash.h"
#include "search/think.h"
#include "search/threads.h"

namespace varkon {


namespace {

enum Feature { SAN, PING, SETBOARD, NAME, ICS, TIME, DRAW, ANALYZE, MYNAME, FEATURE_COUNT };
const char* const feature_names[FEATURE_COUNT] = {"san", "ping", "setboard", "name", "ics",
                                                  "time", "draw", "analyze", "myname"};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\0'; }

// The command line being carried out, split into words. Commands take their arguments
// from the same line, so a missing argument never swallows the next command.
struct CommandLine {
    std::string text;
    std::vector<std::pair<std::size_t, std::size_t>> words;  // start and length
    std::size_t next = 0;

    void set(const std::string& line) {
        text = line;
        words.clear();
        next = 0;
        std::size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && is_blank(text[i])) ++i;
            const std::size_t start = i;
            while (i < text.size() && !is_blank(text[i])) ++i;
            if (i > start) words.emplace_back(start, i - start);
        }
    }
    bool more() const { return next < words.size(); }
    // The next word, or "" when the line has no more.
    std::string word() {
        if (!more()) return "";
        const auto [start, length] = words[next++];
        return text.substr(start, length);
    }
    // The rest of the line from the next word on, without trailing blanks, at most `max`
    // characters; the line is used up.
    std::string rest(std::size_t max) {
        if (!more()) return "";
        std::string r = text.substr(words[next].first);
        next = words.size();
        while (!r.empty() && is_blank(r.back())) r.pop_back();
        return r.substr(0, max);
    }
};

// The root moves analysis considers ("exclude", "include"): every legal move, or, once the
// set was restricted, those of `moves`. A new position makes it every move again.
struct RootMoveSet {
    bool restricted = false;
    std::vector<Move> moves;
};

// The state of the loop: modes, flags, and what the engine's last search left.
struct WinboardState {
    bool force_mode = false;
    bool analyze_mode = false;
    bool ponder_enabled = false;
    bool ponder_pending = false;   // start a ponder search at the top of the next pass
    bool post_mode = false;
    bool ics_mode = false;
    bool opponent_offers_draw = false;
    bool feature_accepted[FEATURE_COUNT] = {};
    int resign_counter = 0;
    int protocol_version = 0;
    int last_score = 0;            // the score of the engine's last search
    Move hint{};                   // the reply that search expects; from = 0: none
    HashKey hint_key = 0;          // the position the hint belongs to
    int level_ply = 1;             // game_ply when the time control was set
    SearchMode running = SearchMode::play;   // the kind of the search under way
    bool result_announced = false; // the engine's last move ended the game
    Side engine_colour = 0;        // the side the engine played in this game; 0: none yet
    SearchClock clock;             // the clocks and the time control
    std::uint32_t move_time = 0;   // "st": centiseconds for every move; 0: the clock decides
    int max_depth = 0;             // "sd": plies the engine's searches reach at most; 0: none
    RootMoveSet analysed;          // the root moves of the position that analysis considers
    CommandLine command;           // the command line being carried out
};
WinboardState wb;

// Text the front end sent, as it may be shown back: printable characters only, cut short.
std::string shown(const std::string& text) {
    std::string s = text.substr(0, 255);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) >= 127) c = '?';
    return s;
}


// Reads the next command line; the end of input ends the program.
void read_command_line() {
    std::string line;
    if (!read_line(line)) quit_program();
    wb.command.set(line);
}

// ---- numbers as the front end writes them ---------------------------------------------

// A whole word that is a decimal integer (an optional sign, then digits), kept within the
// range of a 32-bit integer.
bool read_integer(const std::string& w, long long& value) {
    std::size_t i = (!w.empty() && (w[0] == '-' || w[0] == '+')) ? 1 : 0;
    if (i >= w.size()) return false;
    for (std::size_t k = i; k < w.size(); ++k)
        if (w[k] < '0' || w[k] > '9') return false;
    value = std::clamp<long long>(std::strtoll(w.c_str(), nullptr, 10), INT_MIN, INT_MAX);
    return true;
}

// A time of "level": minutes, or minutes and seconds ("5:30"); characters after them are
// passed over, as the protocol asks. Centiseconds, at most a year.
bool read_base_time(const std::string& w, long long& cs) {
    if (w.empty() || w[0] < '0' || w[0] > '9') return false;
    std::size_t i = 0;
    long long minutes = 0, seconds = 0;
    for (; i < w.size() && w[i] >= '0' && w[i] <= '9'; ++i) minutes = std::min(minutes * 10 + (w[i] - '0'), 1LL << 30);
    if (i + 1 < w.size() && w[i] == ':' && w[i + 1] >= '0' && w[i + 1] <= '9')
        for (++i; i < w.size() && w[i] >= '0' && w[i] <= '9'; ++i) seconds = std::min(seconds * 10 + (w[i] - '0'), 1LL << 30);
    cs = std::min((minutes * 60 + seconds) * 100, 100LL * 3600 * 24 * 365);
    return true;
}

// Seconds with an optional fraction ("12", "0.5"), in centiseconds; negative counts as 0.
bool read_seconds(const std::string& w, long long& cs) {
    if (w.empty()) return false;
    char* end = nullptr;
    const double v = std::strtod(w.c_str(), &end);
    const bool plain = (w[0] >= '0' && w[0] <= '9') || w[0] == '.' || w[0] == '-' || w[0] == '+';
    if (!plain || end == nullptr || *end != '\0' || !std::isfinite(v)) return false;
    cs = v <= 0 ? 0 : std::llround(std::min(v, 3600.0 * 24 * 365) * 100);
    return true;
}

// ---- the game position -------------------------------------------------------------

// Plays a move of the game position given as a record (from the game or a search).
bool play_game_move(const Move& m) { return parse_coordinate_move(game(), move_to_text(m).s) == 1; }

// Whether the position `back` plies ago had the castling rights of the game position and
// no en-passant square. The game is taken back to it and played forward again.
bool same_rights_as(int back) {
    Position& pos = game();
    std::uint8_t now[4];
    std::memcpy(now, pos.ply_state[0].castle, 4);
    std::vector<Move> line;
    for (int k = 0; k < back && pos.game_ply > 1; ++k) {
        line.push_back(played_move(pos, pos.game_ply - 1));
        take_back(pos);
    }
    const bool same = std::memcmp(now, pos.ply_state[0].castle, 4) == 0 && pos.ply_state[0].ep == 0;
    for (auto it = line.rbegin(); it != line.rend(); ++it) play_game_move(*it);
    return same;
}

// Everything a refused "setboard" or "edit" must leave as it was.
struct PositionSnapshot {
    SavedGame saved = save_game(game());
    int book_move_number = book_state.last_bookmove_number;
    int book_count = book_state.entries;

    void restore() const {
        restore_game(game(), saved);
        book_state.last_bookmove_number = book_move_number;
        book_state.entries = book_count;
    }
};

// A position set up by "setboard" or "edit" that the engine can play: the side not to
// move is not in check.
bool playable_setup() { return !king_in_check(game(), -game().side); }

// The legal moves of the game position, in generation order.
std::vector<Move> legal_moves() {
    Position& pos = game();
    generate_root(pos);
    std::vector<Move> moves;
    for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start; ++i)
        if (move_is_legal(pos, i)) moves.push_back(pos.move_stack[i]);
    return moves;
}

// The game reached another position: analysis considers every move of it again.
void new_position() { wb.analysed = RootMoveSet{}; }

bool hint_valid() {
    return wb.hint.from != 0 && wb.hint_key == game().key() && find_coordinate_move(game(), move_to_text(wb.hint).s) != 0;
}

// ---- the end of the game, as the engine announces it ---------------------------------

// Black is mated when black is to move. `by_engine` tells the engine's own move gave mate
// (the chess server's whisper then reads "blacks").
void announce_mate(bool by_engine) {
    if (game().side == BLACK) {
        if (wb.ics_mode) say("tellics whisper 1-0 {white mates}\n");
        say("1-0 {white mates}\n");
    } else {
        if (wb.ics_mode) say(by_engine ? "tellics whisper 0-1 {blacks mates}\n" : "tellics whisper 0-1 {black mates}\n");
        say("0-1 {black mates}\n");
    }
    if (wb.ics_mode) say("tellics seek\n");
}

void announce_draw(const char* reason) {
    if (wb.ics_mode) say("tellics whisper 1/2-1/2 {%s}\n", reason);
    say("1/2-1/2 {%s}\n", reason);
    if (wb.ics_mode) say("tellics seek\n");
}

// After the engine's move: mate, stalemate or a draw by rule ends the game.
bool game_over_after_move() {
    Position& pos = game();
    const bool in_check = king_in_check(pos, pos.side) != 0;
    if (!has_legal_move(pos)) {
        if (in_check)
            announce_mate(true);
        else
            announce_draw("stalemate");
        return true;
    }
    const char* rule = nullptr;
    if (pos.fifty[pos.game_ply] >= 100)
        rule = "draw by 50 moves rule";
    else if (threefold_repetition())
        rule = "draw by 3-fold repetition";
    else if (pos.ply_state[0].pawns == 0 && pos.non_pawn_material() < 301)
        rule = "draw by insufficient material";
    if (rule == nullptr) return false;
    announce_draw(rule);
    return true;
}

// What follows the engine's search: the move and everything it decides with it.
void conclude_engine_move(const ThinkResult& r) {
    wb.last_score = r.score;
    Position& pos = game();
    if (r.best.from == 0) {  // no legal move: the game was over before the search
        if (king_in_check(pos, pos.side))
            announce_mate(false);
        else
            announce_draw("stalemate");
        wb.result_announced = true;
        return;
    }
    const bool draw_talk = configuration().draw && wb.feature_accepted[DRAW] && r.score >= -10 && r.score <= 10 &&
                           pos.game_ply > 80 && wb.clock.opponent_clock > 6000;
    // A draw offered by the opponent is accepted before the move; the game goes on until
    // the front end ends it, since the offer may have lapsed meanwhile.
    const bool accepted = wb.opponent_offers_draw && draw_talk;
    if (accepted) say("offer draw\n");
    say("move %s\n", move_to_text(r.best).s);
    play_result(pos, r);
    new_position();
    wb.hint = r.ponder;
    wb.hint_key = pos.key();
    if (game_over_after_move()) {
        wb.result_announced = true;
        return;
    }
    if (draw_talk && !accepted) {
        say("offer draw\n");
        if (wb.ics_mode) say("tellics seek\n");
    }
    wb.resign_counter = r.score <= configuration().resign_value ? wb.resign_counter + 1 : 0;
    if (configuration().resign && wb.resign_counter >= configuration().resign_count && wb.clock.opponent_clock >= 2000) {
        const char* result = pos.side == WHITE ? "1-0 {resign}" : "0-1 {resign}";
        if (wb.ics_mode) say("tellics whisper %s\ntellics seek\n", result);
        say("%s\n", result);
        wb.result_announced = true;
    }
}

// ---- thinking output -----------------------------------------------------------------

// The text a line of a ponder search starts with: that search looks at the position after
// the expected reply, so its lines start with that reply, for the front end reads them
// from the position it shows.
std::string ponder_prefix() {
    const Position& pos = game();
    if (wb.running != SearchMode::ponder || pos.game_ply <= 1) return "";
    return std::string(move_to_text(played_move(pos, pos.game_ply - 1)).s) + " ";
}

// "depth \t score \t time \t nodes \t " as every thinking line starts.
std::string line_head(const IterationLine& line) {
    char text[96];
    std::snprintf(text, sizeof text, "%d\t%d\t%u\t%llu\t ", line.depth, line.score, static_cast<unsigned>(line.elapsed_cs),
                  static_cast<unsigned long long>(line.nodes));
    return text;
}

// An iteration's line. A line outside the window holds a bound, not a score: none is
// printed for it (the first root move's "!" or "?" line has shown it).
void print_thinking_line(const IterationLine& line) {
    if (line.bound != LineBound::none) return;
    std::string out = line_head(line) + ponder_prefix();
    for (int c = 0; c < line.pv_length; ++c) out += std::string(move_to_text(line.pv[c]).s) + " ";
    char text[96];
    if (line.elapsed_cs >= 100) {
        std::snprintf(text, sizeof text, " nps %llu", static_cast<unsigned long long>(line.nodes * 100 / line.elapsed_cs));
        out += text;
    }
    if (line.tbhits != 0) {
        std::snprintf(text, sizeof text, " tbhits %llu", static_cast<unsigned long long>(line.tbhits));
        out += text;
    }
    const int a = std::abs(line.score);
    if (a > MATE_BOUND) {
        std::snprintf(text, sizeof text, line.score > 0 ? " mate in %d" : " -mate in %d", (32000 - a) / 2);
        out += text;
    }
    say("%s\n", out.c_str());
}

// The first root move failed high ("!": the score is a lower bound) or low ("?": an upper
// bound); the mark is the last character of the line, where the front end looks for it.
void print_bound_line(const IterationLine& line, const Move& m, bool high) {
    say("%s%s%s%s\n", line_head(line).c_str(), ponder_prefix().c_str(), move_to_text(m).s, high ? "!" : "?");
}

void print_book_line(const Move& m) { say("1\t0\t0\t0\t%s%s <bookmove>\n", square_name[m.from], square_name[m.to]); }

void print_single_reply_line(const Move& m) {
    say("1\t0\t0\t0\t%s%s <only one reply>\n", square_name[m.from], square_name[m.to]);
}

void think_line(const IterationLine& line) {
    if (wb.post_mode) print_thinking_line(line);
}
void first_move_bound(const IterationLine& line, const Move& m, bool high) {
    if (wb.post_mode) print_bound_line(line, m, high);
}
void book_line(const Move& m) {
    if (wb.post_mode) print_book_line(m);
}
void single_reply_line(const Move& m) {
    if (wb.post_mode) print_single_reply_line(m);
}

void no_current_move(const Move&, int, int, std::uint32_t) {}
void no_best_move(const ThinkResult&) {}

void best_move(const ThinkResult& r) {
    // Analysis and ponder searches play nothing (the search policy keeps a ponder result
    // itself). The move an analysis found is the hint for the position.
    if (wb.running == SearchMode::analysis && r.best.from != 0) {
        wb.hint = r.best;
        wb.hint_key = game().key();
    }
    if (wb.running != SearchMode::play) return;
    conclude_engine_move(r);
}

void comment(const char* text) { say("# %s\n", text); }

// ---- searches --------------------------------------------------------------------------

// Moves until the next time control, counted from the engine's moves since "level" set it
// (so take-backs, force mode and set-up positions keep it right).
void set_moves_left() {
    SearchClock& c = wb.clock;
    if (c.moves_to_go == 0) {
        c.moves_left = 0;
        return;
    }
    const int game_ply = game().game_ply;
    if (game_ply < wb.level_ply) wb.level_ply = game_ply;
    const auto played = static_cast<std::uint32_t>((game_ply - wb.level_ply) / 2);
    c.moves_left = c.moves_to_go - played % c.moves_to_go;
}

PollAction poll_winboard_input();

// A search of the game position under `clock`, as `mode` asks. The engine's own searches
// (and its ponder searches) keep to "st" and "sd"; analysis runs until a command comes,
// over the root moves "exclude" and "include" left it.
void search(SearchMode mode, const SearchClock& clock) {
    SearchRequest r;
    r.clock = clock;
    r.mode = mode;
    if (mode == SearchMode::analysis) {
        if (wb.analysed.restricted) r.searchmoves = wb.analysed.moves;
    } else {
        r.max_depth = wb.max_depth;
        // The reserve of the clock stays, as under "level": the move must reach the front
        // end within its seconds.
        if (wb.move_time != 0) r.movetime = clock_cap(std::min(wb.move_time, clock.time_left));
    }
    r.output = &winboard_search_output;
    r.poll = poll_winboard_input;
    wb.running = mode;
    search_game(r);
    wb.running = SearchMode::play;
}

void engine_move() {
    set_moves_left();
    wb.result_announced = false;
    wb.engine_colour = game().side;
    search(SearchMode::play, wb.clock);
}

// A search on the opponent's time, in the position after the reply the last search
// expects. Ends when a command arrives; the board is as before afterwards.
void ponder() {
    wb.ponder_pending = false;
    if (!hint_valid() || !play_game_move(wb.hint)) return;
    set_moves_left();
    search(SearchMode::ponder, wb.clock);
    take_back(game());
}

// Analysis of the game position until a command arrives; none while every move is
// excluded (it starts again when one is included).
void analyse() {
    if (wb.analysed.restricted && wb.analysed.moves.empty()) return;
    SearchClock c = wb.clock;
    c.moves_left = c.moves_to_go = 1;
    c.time_left = c.base_time = 99999999;
    c.increment = 0;
    search(SearchMode::analysis, c);
}

// The input poll during a search: a complete command line ends it at once, unread; a
// status request (".") or an empty line is read and passed over.
PollAction poll_winboard_input() {
    while (input_available()) {
        std::string line;
        if (!read_line(line)) return PollAction::stop;
        const auto first = std::find_if(line.begin(), line.end(), [](char c) { return !is_blank(c); });
        const auto last = std::find_if(line.rbegin(), line.rend(), [](char c) { return !is_blank(c); }).base();
        if (first == line.end() || (last - first == 1 && *first == '.')) continue;
        unread_line(line);
        return PollAction::stop;
    }
    return PollAction::none;
}

// ---- commands --------------------------------------------------------------------------

void error(const char* kind, const std::string& what) { say("Error (%s): %s\n", kind, shown(what).c_str()); }

void new_game_command() {
    start_game();
    wb.engine_colour = 0;
    wb.clock = SearchClock{};
    wb.force_mode = false;        // analysis goes on in the new game, as the protocol asks
    wb.ponder_pending = false;
    wb.opponent_offers_draw = false;
    wb.resign_counter = 0;
    wb.level_ply = 1;
    wb.last_score = 0;
    wb.hint = Move{};
    wb.move_time = 0;
    wb.max_depth = 0;
    new_position();
}

// ---- the settings of Varkon.ini in the front end's engine settings -------------------

enum class OptionKind { check, spin, combo, file };

// A setting the front end shows and changes for the session, by its keyword in the file.
struct SessionOption {
    const char* keyword;
    OptionKind kind;
    int min = 0, max = 0;  // the range of a spin
};
const SessionOption session_options[] = {
    {"USE_BOOK", OptionKind::check},       {"BOOK_NAME", OptionKind::file},
    {"BOOK_STYLE", OptionKind::combo},     {"RESIGN", OptionKind::check},
    {"RESIGN_VALUE", OptionKind::spin, -999, -100}, {"RESIGN_COUNT", OptionKind::spin, 1, 254},
    {"DRAW", OptionKind::check},           {"LOGFILE", OptionKind::check},
};

// A text as a feature string may hold it: printable, without double quotes.
std::string feature_text(const std::string& text) {
    std::string s = shown(text);
    s.erase(std::remove(s.begin(), s.end(), '"'), s.end());
    return s;
}

// The option's definition with its value in use.
std::string option_feature(const SessionOption& o) {
    const Configuration& c = configuration();
    const std::string name = o.keyword;
    const auto check = [&](bool on) { return name + " -check " + (on ? "1" : "0"); };
    const auto spin = [&](int v) {
        return name + " -spin " + std::to_string(v) + " " + std::to_string(o.min) + " " + std::to_string(o.max);
    };
    if (name == "USE_BOOK") return check(book_options.on != 0);
    if (name == "BOOK_NAME") return name + " -file " + feature_text(book_options.name);
    if (name == "BOOK_STYLE") {
        std::string text = name + " -combo";
        for (int style = 1; style <= 3; ++style)
            text += std::string(style > 1 ? " ///" : "") + " " + (style == book_options.style ? "*" : "") +
                    book_style_names[style - 1];
        return text;
    }
    if (name == "RESIGN") return check(c.resign);
    if (name == "RESIGN_VALUE") return spin(c.resign_value);
    if (name == "RESIGN_COUNT") return spin(c.resign_count);
    if (name == "DRAW") return check(c.draw);
    return check(log_on());
}

// "option NAME=VALUE": a check takes 0 or 1, a spin an integer (brought into range as in
// the file), a combo one of its choices, a file name any text. LOGFILE opens or closes the
// log at once.
void option_command() {
    const std::string text = wb.command.rest(MAX_CONFIG_NAME + 64);
    const std::size_t eq = text.find('=');
    std::string name = text.substr(0, eq);
    while (!name.empty() && is_blank(name.back())) name.pop_back();
    const auto o = std::find_if(std::begin(session_options), std::end(session_options),
                                [&](const SessionOption& k) { return name == k.keyword; });
    if (o == std::end(session_options)) return error("unknown option", "option " + text);
    if (eq == std::string::npos || eq + 1 == text.size()) return error("missing value", "option " + text);
    std::string value = text.substr(eq + 1);
    long long n = 0;
    if (o->kind == OptionKind::check) {
        if (value != "0" && value != "1") return error("bad value", "option " + text);
        value = value == "1" ? "on" : "off";
    } else if (o->kind == OptionKind::spin && !read_integer(value, n)) {
        return error("bad value", "option " + text);
    }
    if (!change_setting(o->keyword, value)) return error("bad value", "option " + text);
    if (name == "LOGFILE") {
        if (configuration().log)
            open_log();
        else
            close_log();
    }
}

void protover_command() {
    long long n = 0;
    if (!read_integer(wb.command.word(), n)) n = 0;
    wb.protocol_version = static_cast<int>(n);
    if (n != 2) return;
    say("feature ping=1 setboard=1 san=0 ics=1 time=1\n");
    say("feature draw=1 analyze=1 name=1 smp=1\n");
    say("feature memory=1 exclude=1 nps=0\n");
    say("feature myname=\"Varkon %s\" \n", program().version);
    say("feature egt=\"syzygy,nalimov\"\n");
    for (const SessionOption& o : session_options) say("feature option=\"%s\"\n", option_feature(o).c_str());
    say("feature done=1\n");
}

// A bad table file is an error; a path that names no tables (such as the default path a
// front end sends) is only remarked on.
void tablebase_problem(const char* text) { say("Error (tablebase file): %s\n", text); }
void tablebase_note(const char* text) { say("# %s\n", text); }

// "egtpath TYPE PATH": the tables of that kind are loaded from PATH at once.
void egtpath_command() {
    const std::string type = wb.command.word();
    const std::string path = wb.command.rest(1 << 12);
    if (type == "syzygy") {
        load_syzygy_tables(path, tablebase_problem, tablebase_note);
    } else if (type == "nalimov") {
        if (path.empty()) return error("missing value", "egtpath nalimov");
        egtb_settings().path = path;
        egtb_init(false);
    } else {
        error("unknown tablebase kind", "egtpath " + type);
    }
}

void feature_command(bool accepted) {
    const std::string name = wb.command.word();
    for (int f = 0; f < FEATURE_COUNT; ++f)
        if (name == feature_names[f]) wb.feature_accepted[f] = accepted;
}

void level_command() {
    const std::string mps = wb.command.word(), base = wb.command.word(), inc = wb.command.word();
    std::string text = "level";
    for (const std::string* w : {&mps, &base, &inc})
        if (!w->empty()) text += " " + *w;
    if (inc.empty()) return error("missing value", text);
    long long moves = 0, base_cs = 0, inc_cs = 0;
    if (!read_integer(mps, moves) || !read_base_time(base, base_cs) || !read_seconds(inc, inc_cs))
        return error("bad value", text);
    SearchClock& c = wb.clock;
    c.base_time = static_cast<std::uint32_t>(std::max(base_cs, 100LL));
    c.moves_to_go = static_cast<std::uint32_t>(std::max(moves, 0LL));
    c.increment = static_cast<std::uint32_t>(inc_cs);
    c.time_left = c.base_time;
    c.moves_left = c.moves_to_go;
    wb.level_ply = game().game_ply;
    wb.move_time = 0;
}

// "st N": N seconds (fractions count) for every move, in place of the clock of "level"
// (which in turn replaces it). The clock becomes one move in that time.
void st_command() {
    const std::string value = wb.command.word();
    long long cs = 0;
    if (value.empty()) return error("missing value", "st");
    if (!read_seconds(value, cs) || cs <= 0) return error("bad value", "st " + value);
    SearchClock& c = wb.clock;
    wb.move_time = c.time_left = c.base_time = static_cast<std::uint32_t>(cs);
    c.increment = 0;
    c.moves_to_go = c.moves_left = 1;
    wb.level_ply = game().game_ply;
}

// "sd N": the engine's searches stop after N plies (or earlier, on the clock); "new" lifts
// the limit, "level" and "st" keep it.
void sd_command() {
    const std::string value = wb.command.word();
    long long n = 0;
    if (value.empty()) return error("missing value", "sd");
    if (!read_integer(value, n) || n < 1) return error("bad value", "sd " + value);
    wb.max_depth = static_cast<int>(std::min(n, 99LL));
}

// "memory N": the search tables take the megabytes the front end allows, less the
// tablebase cache when the tablebases are in use, within the range of HASH (2 to 512).
// Tables of the size in use are kept as they are.
void memory_command() {
    const std::string value = wb.command.word();
    long long n = 0;
    if (value.empty()) return error("missing value", "memory");
    if (!read_integer(value, n)) return error("bad value", "memory " + value);
    const long long cache = egtb_ready() ? static_cast<long long>(std::ceil(egtb_settings().cache_mb)) : 0;
    const int mb = static_cast<int>(std::clamp(n - cache, 2LL, 512LL));
    const TableOps& tables = program().search->tables;
    if (mb != tables.size_mb()) tables.allocate(mb);
}

// "exclude MOVE", "include MOVE", "exclude all", "include all": the root moves analysis
// considers in the game position.
void exclusion_command(bool exclude) {
    const char* const name = exclude ? "exclude" : "include";
    const std::string what = wb.command.word();
    if (what.empty()) return error("missing value", name);
    RootMoveSet& set = wb.analysed;
    if (what == "all") {
        set.restricted = exclude;
        set.moves.clear();
        return;
    }
    const int index = find_coordinate_move(game(), what.c_str());
    if (index == 0) return error("illegal move", std::string(name) + " " + what);
    const Move m = game().move_stack[index];
    if (!set.restricted) {
        if (!exclude) return;  // every move is considered already
        set.restricted = true;
        set.moves = legal_moves();
    }
    const auto found = std::find_if(set.moves.begin(), set.moves.end(), [&](const Move& k) {
        return k.from == m.from && k.to == m.to && k.promotion == m.promotion;
    });
    if (exclude && found != set.moves.end()) set.moves.erase(found);
    if (!exclude && found == set.moves.end()) set.moves.push_back(m);
}

// "time" and "otim": a clock in centiseconds (a negative one counts as 0).
void clock_command(const char* name, std::uint32_t& clock) {
    const std::string value = wb.command.word();
    long long n = 0;
    if (value.empty()) return error("missing value", name);
    if (!read_integer(value, n)) return error("bad value", std::string(name) + " " + value);
    clock = static_cast<std::uint32_t>(std::max(n, 0LL));
}

// After "setboard" or "edit": the board is shown and the engine waits in force mode
// (analysis goes on in the new position, as the protocol asks).
void position_set_up() {
    show_board(game(), stdout, board_display_values());
    wb.engine_colour = 0;
    wb.ponder_pending = false;
    wb.hint = Move{};
    wb.last_score = 0;
    wb.level_ply = game().game_ply;
    new_position();
    if (!wb.analyze_mode) wb.force_mode = true;
}

void setboard_command() {
    const std::string fen = wb.command.rest(1 << 12);
    CommandLine fields;
    fields.set(fen);
    std::string f[5];
    for (std::string& field : f) field = fields.word();
    if (f[0].empty() || (!f[1].empty() && f[1] != "w" && f[1] != "b")) return error("bad FEN", "setboard");
    const PositionSnapshot before;
    if (!set_up_game(f[0].c_str(), f[1].c_str(), f[2].c_str(), f[3].c_str(), f[4].c_str()) || !playable_setup()) {
        before.restore();
        return error("bad FEN", "setboard");
    }
    position_set_up();
}

// Words of the edit mode: the rest of the command line, then further lines.
const char* next_edit_token() {
    static std::string token;
    while (!wb.command.more()) {
        std::string line;
        if (!read_line(line)) return nullptr;
        wb.command.set(line);
    }
    token = wb.command.word();
    return token.c_str();
}

void edit_command() {
    const PositionSnapshot before;
    Position& pos = game();
    const Side to_move = pos.side;
    if (!edit_game(next_edit_token)) {
        before.restore();
        return error("illegal position", "edit");
    }
    pos.side = to_move;
    pos.hash_history[pos.game_ply] = compute_key(pos, pos.side);
    if (!playable_setup()) {
        before.restore();
        return error("illegal position", "edit");
    }
    position_set_up();
}

void take_back_command(int plies, const char* name) {
    if (game().game_ply <= plies) return error("command not legal now", name);
    for (int k = 0; k < plies; ++k) take_back(game());
    wb.ponder_pending = false;
    new_position();
}

// "cores N": the threads the engine's searches run on, from the next search (clamped to
// 1..256).
void cores_command() {
    const std::string value = wb.command.word();
    long long n = 0;
    if (value.empty()) return error("missing value", "cores");
    if (!read_integer(value, n)) return error("bad value", "cores " + value);
    const int wanted = static_cast<int>(std::clamp<long long>(n, 1, MAX_SEARCH_THREADS));
    if (const int got = set_search_threads(wanted); got < wanted)
        say("# only %d of %d threads could be started\n", got, wanted);
}

void pieces_command() {
    const Position& pos = game();
    const PieceList& lists = pos.ply_state[0].piece_lists;
    for (int i = 0; i <= 12; ++i) {
        std::string line = std::to_string(i) + ":";
        for (int k = 1; k <= lists.sq[i][0]; ++k) line += std::string(" ") + square_name[lists.sq[i][k]];
        say("%s\n", line.c_str());
    }
    say("materialbilanz: %d\nmaterialsumme: %d\n\n", pos.mat_balance(), pos.non_pawn_material());
}

void move_input(const std::string& word) {
    if (parse_coordinate_move(game(), word.c_str()) != 1) {
        say("Illegal move: %s\n", shown(word).c_str());
        return;
    }
    new_position();
    if (wb.force_mode || wb.analyze_mode) return;
    wb.ponder_pending = false;
    wb.analyze_mode = false;
    engine_move();
    if (wb.ponder_enabled && !wb.result_announced) wb.ponder_pending = true;
}

void run_command(const std::string& w) {
    if (w == "protover") {
        protover_command();
    } else if (w == "egtpath") {
        egtpath_command();
    } else if (w == "accepted" || w == "rejected") {
        feature_command(w == "accepted");
    } else if (w == "ping") {
        long long n = 0;
        const std::string value = wb.command.word();
        if (value.empty()) return error("missing value", "ping");
        if (!read_integer(value, n)) return error("bad value", "ping " + value);
        say("pong %lld\n", n);
    } else if (w == "new" || w == "reset") {
        new_game_command();
    } else if (w == "computer") {
        say("\n");
    } else if (w == "name") {
        wb.command.rest(79);
    } else if (w == "rating") {
        wb.command.word();
        wb.command.word();
    } else if (w == "result") {
        // The book learns from the game the engine played; a game it only watched (force
        // mode, analysis) teaches nothing, and a second result nothing more.
        learn_from_result(game(), wb.command.rest(79).c_str(), wb.engine_colour);
        wb.engine_colour = 0;
        wb.ponder_pending = false;  // the game is over: nothing to ponder on
    } else if (w == "random") {
        std::srand(static_cast<unsigned>(std::rand()));
    } else if (w == "draw") {
        wb.opponent_offers_draw = true;
    } else if (w == "bk") {
        say("Hint: \n");
        const HashKey key = game().key();
        book_probe(static_cast<std::uint32_t>(key), static_cast<std::uint32_t>(key >> 32));
        say("Hint: \n");
    } else if (w == "ics") {
        const std::string host = wb.command.rest(79);
        wb.ics_mode = host.empty() || host[0] != '-';
        say("ics %s\n", shown(host).c_str());
    } else if (w == "hard") {
        wb.ponder_enabled = true;
        say("ponder ON\n");
    } else if (w == "easy") {
        wb.ponder_enabled = false;
        say("ponder OFF\n");
    } else if (w == "hint") {
        if (hint_valid()) say("Hint: %s\n", move_to_text(wb.hint).s);
    } else if (w == "post" || w == "nopost") {
        wb.post_mode = w == "post";
    } else if (w == "edit") {
        edit_command();
    } else if (w == "setboard") {
        setboard_command();
    } else if (w == "level") {
        level_command();
    } else if (w == "st") {
        st_command();
    } else if (w == "sd") {
        sd_command();
    } else if (w == "nps") {
        // Node-based time is not offered (the features say nps=0).
        wb.command.word();
        say("Error (unknown command): nps\n");
    } else if (w == "memory") {
        memory_command();
    } else if (w == "option") {
        option_command();
    } else if (w == "exclude" || w == "include") {
        exclusion_command(w == "exclude");
    } else if (w == "time") {
        clock_command("time", wb.clock.time_left);
    } else if (w == "otim") {
        clock_command("otim", wb.clock.opponent_clock);
    } else if (w == "white" || w == "black" || w == "hash" || w == "." || w == "?") {
        // Nothing to do ("?" moves now only while the engine thinks: the poll did that).
    } else if (w == "cores") {
        cores_command();
    } else if (w == "analyze") {
        wb.analyze_mode = true;
        wb.force_mode = false;
    } else if (w == "exit") {
        wb.analyze_mode = false;
    } else if (w == "force") {
        wb.force_mode = true;
    } else if (w == "undo" || w == "back") {
        take_back_command(1, w.c_str());
    } else if (w == "remove") {
        take_back_command(2, "remove");
    } else if (w == "go") {
        wb.force_mode = wb.ponder_pending = wb.analyze_mode = false;
        engine_move();
    } else if (w == "board") {
        show_board(game(), stdout, board_display_values());
    } else if (w == "info") {
        if (program().statistics_report != nullptr) program().statistics_report();
    } else if (w == "pieces") {
        pieces_command();
    } else if (w == "quit") {
        quit_program();
    } else {
        move_input(w);
    }
}

[[noreturn]] void winboard_loop() {
    for (;;) {
        if (game().game_ply > 1 && wb.ponder_enabled && wb.ponder_pending && !wb.force_mode && wb.clock.time_left > 500 &&
            std::abs(wb.last_score) < 31000)
            ponder();
        else if (wb.analyze_mode && !wb.force_mode)
            analyse();
        read_command_line();
        while (wb.command.more()) run_command(wb.command.word());
    }
}

}  // namespace

const SearchOutput winboard_search_output = {think_line,      no_current_move, first_move_bound, book_line,
                                             single_reply_line, best_move,     comment};

const SearchOutput winboard_thinking_output = {print_thinking_line,     no_current_move, print_bound_line, print_book_line,
                                               print_single_reply_line, no_best_move,    comment};

bool threefold_repetition() {
    const Position& pos = game();
    const int now = pos.game_ply;
    const int window = pos.fifty[now];
    int found = 0;
    for (int g = now - 2; g >= now - window && g >= 1; g -= 2)
        if (pos.hash_history[g] == pos.hash_history[now] && ++found == 2) return same_rights_as(now - g);
    return false;
}

void reset_winboard_state() {
    wb = WinboardState{};
}

void enter_xboard() {
    set_protocol_output(winboard_search_output);
    winboard_loop();
}

}  // namespace varkon
