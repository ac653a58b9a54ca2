#!/usr/bin/env bash
# Nodes per second of a UCI engine (varkon by default) beside Toga II (Debian's toga2), on
# three positions (an Italian opening, the "kiwipete" middlegame, a rook ending), each
# engine a fresh process per search, the two taking turns so that both meet the same load.
#
#   tools/compare-toga2.sh [ENGINE] [SECONDS] [ROUNDS]     defaults: build/varkon 2 3
#
# Each search's nodes are the most an info line reports; its time is the processor time the
# process had spent from "go" to that line (the touching of fresh table pages included), so
# that other work on a shared machine does not count, and the work of an iteration the
# engine did not report (cut off by the clock) is counted for neither engine. Both engines get Hash 128 and no book. Prints each search, then per position and overall the ratio of
# the engine's nodes per processor second to Toga II's (sums over the rounds).
# Exits 77 (skipped) when toga2 or the engine is missing.
set -euo pipefail

engine=${1:-build/varkon}
seconds=${2:-2}
rounds=${3:-3}
toga=${TOGA2:-$(command -v toga2 || true)}
[ -z "$toga" ] && [ -x /usr/games/toga2 ] && toga=/usr/games/toga2
if [ -z "$toga" ] || [ ! -x "$toga" ]; then
    echo "toga2 not found: skipped (apt-get install toga2, or set TOGA2)"
    exit 77
fi
if [ ! -x "$engine" ]; then
    echo "$engine not found: skipped"
    exit 77
fi

positions=(
    "italian|r1bqk1nr/pppp1ppp/2n5/2b1p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4"
    "kiwipete|r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"
    "rook ending|8/5pk1/6p1/3R4/1p5P/1r4P1/5PK1/8 w - - 0 1"
)

# Processor time of a process so far, in clock ticks (user + system).
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# One search from a fresh process: prints "nodes milliseconds": the most nodes an info line
# reports, and the processor time the process had spent from "go" to that line.
search() {
    local program=$1 fen=$2 line nodes=0 t0 t1 n
    coproc ENGINE { exec "$program" 2>/dev/null; }
    local pid=$ENGINE_PID
    printf 'uci\n' >&"${ENGINE[1]}"
    while read -r line <&"${ENGINE[0]}" && [ "${line%% *}" != uciok ]; do :; done
    printf 'setoption name Hash value 128\nsetoption name OwnBook value false\nisready\n' >&"${ENGINE[1]}"
    while read -r line <&"${ENGINE[0]}" && [ "${line%% *}" != readyok ]; do :; done
    t0=$(ticks "$pid")
    printf 'position fen %s\ngo movetime %d\n' "$fen" $((seconds * 1000)) >&"${ENGINE[1]}"
    while read -r line <&"${ENGINE[0]}"; do
        case $line in
            bestmove*) break ;;
            *" nodes "*)
                n=$(printf '%s\n' "$line" | awk '{ for (i = 1; i < NF; ++i) if ($i == "nodes") print $(i + 1) }')
                if [ "${n:-0}" -gt "$nodes" ]; then
                    nodes=$n
                    t1=$(ticks "$pid")
                fi ;;
        esac
    done
    [ "$nodes" -gt 0 ] || t1=$(ticks "$pid")
    printf 'quit\n' >&"${ENGINE[1]}"
    wait "$pid" 2>/dev/null || true
    echo "$nodes $(( (t1 - t0) * 1000 / hz ))"
}
hz=$(getconf CLK_TCK)

total_ratio_num=0
total_ratio_den=0
for entry in "${positions[@]}"; do
    name=${entry%%|*}
    fen=${entry#*|}
    en=0 et=0 tn=0 tt=0
    for ((r = 1; r <= rounds; ++r)); do
        read -r n t < <(search "$engine" "$fen")
        echo "$name  round $r  $(basename "$engine"): $n nodes in $t processor ms"
        en=$((en + n)) et=$((et + t))
        read -r n t < <(search "$toga" "$fen")
        echo "$name  round $r  toga2: $n nodes in $t processor ms"
        tn=$((tn + n)) tt=$((tt + t))
    done
    if [ "$et" -eq 0 ] || [ "$tt" -eq 0 ] || [ "$tn" -eq 0 ] || [ "$en" -eq 0 ]; then
        echo "$name: no figures (an engine gave no info line with nodes and time)"
        exit 1
    fi
    awk -v en=$en -v et=$et -v tn=$tn -v tt=$tt -v name="$name" 'BEGIN {
        e = en / et * 1000; t = tn / tt * 1000
        printf "%-12s engine %.0f, toga2 %.0f nodes per processor second: ratio %.2f\n", name ":", e, t, e / t }'
    total_ratio_num=$(awk -v a=$total_ratio_num -v en=$en -v et=$et 'BEGIN { printf "%.6f", a + log(en / et) }')
    total_ratio_den=$(awk -v a=$total_ratio_den -v tn=$tn -v tt=$tt 'BEGIN { printf "%.6f", a + log(tn / tt) }')
done
awk -v a=$total_ratio_num -v b=$total_ratio_den -v k=${#positions[@]} \
    'BEGIN { printf "geometric mean of the three ratios: %.2f\n", exp((a - b) / k) }'
