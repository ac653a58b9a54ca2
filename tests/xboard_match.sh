#!/usr/bin/env bash
# A short match of varkon_classic against another WinBoard engine under the real xboard,
# on a virtual display, as a user would run it. Every game must end by mate, a draw rule,
# resignation or adjudication: never because varkon_classic made an illegal move, lost on
# time, stopped answering or rejected what xboard sent.
#
#   tests/xboard_match.sh <varkon_classic> [winboard|uci] [games]
#
# "uci" runs varkon_classic in its UCI mode through xboard's UCI adapter (polyglot).
# Controls: XBOARD_TC (default 0:15, minutes:seconds), XBOARD_INC (default 0.1 s) and
# XBOARD_MPS (moves per control; default none: the whole game).
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
opponent=$(command -v fairymax || command -v phalanx || true)
[ -n "$opponent" ] || skip "no opponent engine (fairymax or phalanx) is installed"
uci=()
if [ "$mode" = uci ]; then
    command -v polyglot >/dev/null || skip "polyglot is not installed"
    uci=(-fUCI)
fi

work=$(mktemp -d)
trap '[ -n "${XBOARD_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"' EXIT
status=0
# The engine runs in a directory of its own, where it writes its configuration and log.
mkdir "$work/engine"
# A copy of the book: learning after each game changes that copy, not the shipped book.
[ -f "$(dirname "$engine")/book.dat" ] && cp "$(dirname "$engine")/book.dat" "$work/engine/"
# A settings file of its own: xboard neither reads the user's settings nor saves into them.
timeout $((games * 150 + 60)) xvfb-run -a xboard -settingsFile "$work/xboardrc" -saveSettingsFile "$work/xboardrc" \
    -fcp "$engine" -fd "$work/engine" "${uci[@]}" -scp "$opponent" -sd "$work" \
    -mg "$games" -tc "${XBOARD_TC:-0:15}" -inc "${XBOARD_INC:-0.1}" ${XBOARD_MPS:+-mps "$XBOARD_MPS"} -sgf "$work/games.pgn" \
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
    { [ "$side" = white ] && [ "$result" = 0-1 ]; } && lost=yes
    { [ "$side" = black ] && [ "$result" = 1-0 ]; } && lost=yes
    if [ "$lost" = yes ] && printf '%s' "$reason" | grep -q -i -E 'time|illegal|invalid|forfeit|crash|terminat|disconnect|exit|stall|respond'; then
        fail "varkon_classic lost: $reason"
    fi
done <<<"$summary"
# The first start in the new directory reports the configuration file it then writes
# ("Error (Varkon.ini not found!)"): that line rejects no command of xboard.
if grep -a -E '<first *: *(Illegal move|Error)' "$work/xboard.debug" | grep -v -F 'Error (Varkon.ini not found!)'; then
    fail "varkon_classic rejected a command of xboard"
fi
echo "$games games played under xboard ($mode)"
