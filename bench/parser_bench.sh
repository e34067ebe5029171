#!/usr/bin/env bash
# Measures the log parser on generated logs, in one run on warm files:
#  1. velth-logscan --stats against LC_ALL=C grep -c -F with the seven event
#     patterns (grep's output goes to a pipe: on /dev/null it would stop at the
#     first match), 256 MiB log;
#  2. a log in which every connect brings a new WonID against a normal log of
#     the same size (team row lookup must not grow with the rows);
#  3. the parser's peak memory (/usr/bin/time -v), also on a log of the same
#     size whose lines match no event (the parser's own memory, no result),
#     and on a 400 MB file without any line end;
#  4. the log page on a 100 MB and a 1 GB log (offscreen Qt), beside the
#     parser alone on the same file: a double click until every view is
#     ready, the first show of each chat tab, a second scan after the tabs
#     were shown, and the peak memory.
# Prints times (best of N wall-clock, and CPU) and ratios; never fails on a
# number.
#   bench/parser_bench.sh [BUILD_DIR]
#   env: RUNS=5 SIZE=256M PAGE_SIZES="100M 1G" WORK=/tmp/velth-bench
#        CLEAN=1 removes the generated logs at the end
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${VELTH_BUILD_DIR:-$root/build}}" && pwd)
runs=${RUNS:-5}
size=${SIZE:-256M}
work=${WORK:-/tmp/velth-bench}
mkdir -p "$work"

cmake --build "$build" -j2 --target velth-logscan velth-bench-scanlog >/dev/null
logscan="$build/loganalysis/velth-logscan"
scanbench="$build/bench/velth-bench-scanlog"

gen() { # name size extra-args...
    local file="$work/$1"
    shift
    local size=$1
    shift
    if [ ! -s "$file" ]; then
        echo "generating $file ($size $*)" >&2
        /usr/bin/python3 "$root/bench/genlog.py" --size "$size" --seed 1 "$@" -o "$file"
    fi
    echo "$file"
}
normal=$(gen "normal-$size.log" "$size")
unique=$(gen "unique-$size.log" "$size" --unique-ids)
page_sizes=${PAGE_SIZES:-100M 1G}
patterns=(-e '>" say "' -e '<CT>" say_team "' -e '<TERRORIST>" say_team "' -e 'Loading map "' -e 'Server cvar "'
    -e '_Win"' -e '" killed "')
quiet="$work/quiet-$size.log"
if [ ! -s "$quiet" ]; then
    # Lines the parser passes over: the same bytes with every pattern broken.
    sed -e 's/"/'"'"'/g' "$normal" >"$quiet"
fi

# best WALL CPU over $runs runs of a command (output to a pipe)
best() {
    local bw=999999 bc=999999 w c i
    for ((i = 0; i < runs; i++)); do
        read -r w c < <({ /usr/bin/time -f '%e %U %S' bash -c "$1 | cat >/dev/null" ; } 2>&1 >/dev/null | tail -1 \
            | awk '{ printf "%s %.2f\n", $1, $2 + $3 }')
        bw=$(awk -v a="$bw" -v b="$w" 'BEGIN { print (b < a ? b : a) }')
        bc=$(awk -v a="$bc" -v b="$c" 'BEGIN { print (b < a ? b : a) }')
    done
    echo "$bw $bc"
}
rss() { { /usr/bin/time -v "$@" >/dev/null; } 2>&1 | awk -F': ' '/Maximum resident/ { print $2 }'; }
mib() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.0f", b / 1048576 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

noends="$work/noends-400M.log"
if [ ! -e "$noends" ]; then
    # One "line" of 400 MB: a first line's prefix, then NUL bytes (sparse).
    printf 'L 10/20/2003 - 20:13:52: ' >"$noends"
    truncate -s 400000000 "$noends"
fi
for f in "$normal" "$unique" "$quiet"; do cat "$f" >/dev/null; done

echo "machine: $(lscpu | awk -F': +' '/Model name/ { print $2 }'), $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "log: $normal ($(mib "$normal") MiB, $(wc -l <"$normal") lines)"
grepcmd="LC_ALL=C grep -c -F $(printf "%q " "${patterns[@]}") '$normal'"
read -r gw gc < <(best "$grepcmd")
read -r pw pc < <(best "'$logscan' --stats '$normal'")
echo "1. grep -c -F (7 patterns):  wall ${gw} s  cpu ${gc} s"
echo "   velth-logscan --stats:    wall ${pw} s  cpu ${pc} s"
echo "   parser throughput / grep: wall $(ratio "$gw" "$pw")x  cpu $(ratio "$gc" "$pc")x   (must >= 0.6, goal 1.0)"

read -r uw uc < <(best "'$logscan' --stats '$unique'")
echo "2. many WonIDs ($(mib "$unique") MiB): wall ${uw} s  cpu ${uc} s; $("$logscan" --stats "$unique" | tr -d '{}"' | tr ',' '\n' | grep rows | tr '\n' ' ')"
echo "   speed vs normal log:      wall $(ratio "$pw" "$uw")x  cpu $(ratio "$pc" "$uc")x   (must >= 0.8)"

echo "3. peak RSS velth-logscan --stats: normal $(rss "$logscan" --stats "$normal") KiB," \
    "many WonIDs $(rss "$logscan" --stats "$unique") KiB, no events $(rss "$logscan" --stats "$quiet") KiB," \
    "empty file $(rss "$logscan" --stats /dev/null) KiB"
echo "   400 MB without line ends: $(rss "$logscan" --stats "$noends") KiB   (goal: < empty file + 16384 KiB)"

export QT_QPA_PLATFORM=offscreen
field() { # the number after word $2 in line $1
    echo "$1" | awk -v w="$2" '{ for (i = 1; i < NF; i++) if ($i == w) { print $(i + 1); exit } }'
}
n=4
for psize in $page_sizes; do
    log=$(gen "normal-$psize.log" "$psize")
    cat "$log" >/dev/null
    bp="" bg=""
    for ((i = 0; i < runs; i++)); do
        p=$("$scanbench" parser "$log" 2>/dev/null)
        if [ -z "$bp" ] || awk -v a="$(field "$p" parser)" -v b="$(field "$bp" parser)" 'BEGIN { exit !(a < b) }'; then
            bp=$p
        fi
        g=$("$scanbench" page "$log" 2>/dev/null)
        if [ -z "$bg" ] || awk -v a="$(field "$g" page)" -v b="$(field "$bg" page)" 'BEGIN { exit !(a < b) }'; then
            bg=$g
        fi
    done
    pt=$(field "$bp" parser)
    gt=$(field "$bg" page)
    st=$(field "$(echo "$bg" | grep '^second')" scan)
    peak=$(echo "$bg" | head -1 | awk '{ for (i = 1; i < NF; i++) if ($i == "peak") print int($(i + 1) / 1024) }')
    echo "$n. page, $(mib "$log") MiB log ($(wc -l <"$log") lines), best of $runs:"
    echo "   parser alone:             $bp"
    echo "   $(echo "$bg" | sed -n 1p)"
    echo "   $(echo "$bg" | sed -n 2p)"
    echo "   $(echo "$bg" | sed -n 3p)"
    echo "   double click / parser:    $(ratio "$gt" "$pt")x   second / first scan: $(ratio "$st" "$gt")x   peak ${peak} MiB"
    echo "   (goals: 100 MB ready <= 0.4 s and <= 1.5x the parser; each tab <= 50 ms; second scan <= first;"
    echo "    peak <= 150 MiB for 100 MB, <= 600 MiB for 1 GB)"
    n=$((n + 1))
done
if [ -n "${CLEAN:-}" ]; then
    rm -f "$normal" "$unique" "$quiet" "$noends"
    for psize in $page_sizes; do rm -f "$work/normal-$psize.log"; done
fi
