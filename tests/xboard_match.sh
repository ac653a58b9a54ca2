#!/usr/bin/env bash
# A short match of varkon_classic against another WinBoard engine under the real xboard,
# on a virtual display, as a user would run it. Every game must end by mate, a draw rule,
# resignation or adjudication: never because varkon_classic made an illegal move, lost on
# time, stopped answering or rejected what xboard sent.
#
#   tests/xboard_match.sh <varkon_classic> [winboard|uci|learn] [games]
#
# "uci" runs varkon_classic in its UCI mode through xboard's UCI adapter (polyglot).
# "learn" plays varkon_classic against itself, both sharing one book file, which each
# updates after every game from xboard's "result": the book must stay a valid book of the
# same size, with weights moved.
# Controls: XBOARD_TC (default 0:15, minutes:seconds), XBOARD_INC (default 0.1 s) and
# XBOARD_MPS (moves per control; default none: the whole game); or XBOARD_ST, seconds for
# every move (xboard's -st, which sends "st"), in place of the clock; XBOARD_DEPTH, plies
# (xboard's -depth, which sends "sd"), with either. XBOARD_FEN: the position every game
# starts from (default: the initial one).
# With XBOARD_ST or XBOARD_DEPTH varkon_classic neither resigns nor offers draws, every game
# must end by the rules (mate, stalemate, a draw rule), and the debug log of xboard must show
# each move of varkon_classic within the seconds of "st" and no thinking line deeper than "sd".
# Exits 77 (skipped) when xboard, xvfb-run, the opponent (fairymax or phalanx) or, for
# "uci", polyglot is not installed.
set -euo pipefail

engine=$(realpath "$1")
mode=${2:-winboard}
games=${3:-2}
PATH=$PATH:/usr/games

skip() { echo "skipped: $*"; exit 77; }
command -v xboard >/dev/null || skip "xboard is not installed"
command -v xvfb-run >/dev/null || skip "xvfb-run is not installed"
if [ "$mode" = learn ]; then
    opponent=$engine
else
    opponent=$(command -v fairymax || command -v phalanx || true)
    [ -n "$opponent" ] || skip "no opponent engine (fairymax or phalanx) is installed"
fi
uci=()
if [ "$mode" = uci ]; then
    command -v polyglot >/dev/null || skip "polyglot is not installed"
    uci=(-fUCI)
fi

work=$(mktemp -d)
trap '[ -n "${XBOARD_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"' EXIT
status=0
# The engine runs in a directory of its own, where it writes its configuration and log.
mkdir "$work/engine" "$work/second"
# A copy of the book: learning after each game changes that copy, not the shipped book.
[ -f "$(dirname "$engine")/book.dat" ] && cp "$(dirname "$engine")/book.dat" "$work/engine/"
if [ "$mode" = learn ]; then
    [ -f "$work/engine/book.dat" ] || skip "no book beside the program"
    cp "$work/engine/book.dat" "$work/shared.dat"
    cp "$work/shared.dat" "$work/before.dat"
    # Both engines play from the shared book, choosing among its two best moves.
    for d in engine second; do printf 'BOOK_NAME %s\nBOOK_STYLE normal\n' "$work/shared.dat" >"$work/$d/Varkon.ini"; done
fi
control=(-tc "${XBOARD_TC:-0:15}" -inc "${XBOARD_INC:-0.1}" ${XBOARD_MPS:+-mps "$XBOARD_MPS"})
[ -n "${XBOARD_ST:-}" ] && control=(-st "0:$(printf %02d "$XBOARD_ST")")
[ -n "${XBOARD_DEPTH:-}" ] && control+=(-depth "$XBOARD_DEPTH")
if [ -n "${XBOARD_FEN:-}" ]; then
    printf '%s\n' "$XBOARD_FEN" >"$work/start.fen"
    control+=(-lpf "$work/start.fen")
fi
rules_only=${XBOARD_ST:-${XBOARD_DEPTH:-}}
[ -n "$rules_only" ] && [ "$mode" != learn ] && printf 'RESIGN off\nDRAW off\n' >"$work/engine/Varkon.ini"
# A settings file of its own: xboard neither reads the user's settings nor saves into them.
timeout $((games * 150 + 60)) xvfb-run -a xboard -settingsFile "$work/xboardrc" -saveSettingsFile "$work/xboardrc" \
    -fcp "$engine" -fd "$work/engine" "${uci[@]}" -scp "$opponent" -sd "$work/second" \
    -mg "$games" "${control[@]}" -sgf "$work/games.pgn" \
    -xexit -debug -nameOfDebugFile "$work/xboard.debug" >"$work/xboard.out" 2>&1 || status=$?

fail() {
    echo "FAILED: $*"
    [ -f "$work/games.pgn" ] && cat "$work/games.pgn"
    [ -f "$work/xboard.debug" ] && grep -E -a '(<|>)first' "$work/xboard.debug" | tail -40
    exit 1
}
[ "$status" -eq 0 ] || fail "xboard ended with status $status"
[ -f "$work/games.pgn" ] || fail "no game was saved"

# One line per game: the colour of varkon_classic, the result and the reason xboard gave.
summary=$(awk '
    /^\[White "Varkon/ { side = "white" }
    /^\[Black "Varkon/ { side = "black" }
    /^\[Result / { result = $2; gsub(/[]"]/, "", result) }
    /^[^[]/ { text = text " " $0 }
    /^\[Event / && text != "" { print side, result, reason(text); text = "" }
    function reason(t) { n = split(t, part, "{"); r = part[n]; sub(/}.*/, "", r); return r }
    END { if (text != "") print side, result, reason(text) }
' "$work/games.pgn")
echo "$summary"

played=$(printf '%s\n' "$summary" | grep -c -E ' (1-0|0-1|1/2-1/2) ' || true)
[ "$played" -eq "$games" ] || fail "$played of $games games were finished"
while read -r side result reason; do
    lost=no
    [ "$mode" = learn ] && lost=yes  # both sides are varkon_classic
    { [ "$side" = white ] && [ "$result" = 0-1 ]; } && lost=yes
    { [ "$side" = black ] && [ "$result" = 1-0 ]; } && lost=yes
    if [ "$lost" = yes ] && printf '%s' "$reason" | grep -q -i -E 'time|illegal|invalid|forfeit|crash|terminat|disconnect|exit|stall|respond'; then
        fail "varkon_classic lost: $reason"
    fi
done <<<"$summary"
# (The notice of a first start in a new directory, "Error (Varkon.ini not found!)", is no
# answer to a command.)
if grep -a -E '<first *: *(Illegal move|Error)' "$work/xboard.debug" | grep -v 'Varkon.ini not found'; then
    fail "varkon_classic rejected a command of xboard"
fi
if [ -n "$rules_only" ]; then
    while read -r side result reason; do
        printf '%s' "$reason" | grep -q -i -E 'mate|repetition|50.move|fifty|insufficient|material' ||
            fail "a game ended otherwise than by the rules: $result {$reason}"
    done <<<"$summary"
fi
if [ -n "${XBOARD_ST:-}" ] && [ "$mode" = winboard ]; then
    grep -a -q -E ">first : st $XBOARD_ST\$" "$work/xboard.debug" || fail "xboard sent no \"st $XBOARD_ST\""
    # The debug lines start with xboard's milliseconds: from the command that starts the
    # engine's turn ("go" or the opponent's move) to its "move".
    slow=$(awk -v limit=$((XBOARD_ST * 1000)) '
        />first : (go|[a-h][1-8][a-h][1-8][qrbn]?)$/ { start = $1 }
        /<first : move / && start != "" { if ($1 - start > limit) print $1 - start " ms: " $0; start = "" }
    ' "$work/xboard.debug")
    [ -z "$slow" ] || fail "moves beyond ${XBOARD_ST} s: $slow"
fi
if [ -n "${XBOARD_DEPTH:-}" ] && [ "$mode" = winboard ]; then
    grep -a -q -E ">first : sd $XBOARD_DEPTH\$" "$work/xboard.debug" || fail "xboard sent no \"sd $XBOARD_DEPTH\""
    # "<first : depth<TAB>score...": the fourth field is the depth.
    deep=$(grep -a -E "<first : [0-9]+"$'\t' "$work/xboard.debug" | awk -v limit="$XBOARD_DEPTH" '$4 + 0 > limit' | head -3)
    [ -z "$deep" ] || fail "thinking deeper than sd $XBOARD_DEPTH: $deep"
fi
if [ "$mode" = learn ]; then
    # Learning changes weights in place: same size, whole records, squares on the board.
    [ "$(stat -c %s "$work/shared.dat")" -eq "$(stat -c %s "$work/before.dat")" ] || fail "the shared book changed its size"
    od -An -tu1 -w16 -v "$work/shared.dat" | awk '$13 < 21 || $13 > 98 || $14 < 21 || $14 > 98 { bad++ } END { exit bad > 0 }' ||
        fail "the shared book holds a broken record"
    cmp -s "$work/shared.dat" "$work/before.dat" && fail "no book weight moved"
fi
echo "$games games played under xboard ($mode)"
