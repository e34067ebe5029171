#!/usr/bin/env bash
# Measures the player search on about 1 GiB of generated logs (16 logs of
# 64 MiB, players who reconnect and change their names), in one run on warm
# files: velth-logscan --find TEXT against LC_ALL=C grep -c -i -F TEXT over
# the same files, for a name part, a renamed player, a Steam id and a text
# that is in no log; then the same over a second GiB where players rename
# often (8% of the events are name changes) and every connect brings a new
# Steam id (genlog.py --unique-ids --name-changes --renames 0.08), where
# a name part finds many Steam ids and more appearances than the search
# keeps (it keeps the newest). The search also looks up the other names of
# every Steam id found (a second pass over the logs when the text is no id);
# grep counts lines. The second GiB lies beside the first under WORK. Prints
# times (best of N wall-clock, and CPU), the number of appearances and the
# ratio; never fails on a number.
#   bench/find_bench.sh [BUILD_DIR]
#   env: RUNS=5 COUNT=16 SIZE=64M WORK=/tmp/velth-find-bench CLEAN=1 (removes the logs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${VELTH_BUILD_DIR:-$root/build}}" && pwd)
runs=${RUNS:-5}
count=${COUNT:-16}
size=${SIZE:-64M}
work=${WORK:-/tmp/velth-find-bench}
mkdir -p "$work/logs" "$work/renames"

cmake --build "$build" -j2 --target velth-logscan >/dev/null
logscan="$build/loganalysis/velth-logscan"

# best WALL CPU over $runs runs of a command (output to a pipe)
best() {
    local bw=999999 bc=999999 w c i
    for ((i = 0; i < runs; i++)); do
        read -r w c < <({ /usr/bin/time -f '%e %U %S' bash -c "$1 | cat >/dev/null"; } 2>&1 >/dev/null | tail -1 \
            | awk '{ printf "%s %.2f\n", $1, $2 + $3 }')
        bw=$(awk -v a="$bw" -v b="$w" 'BEGIN { print (b < a ? b : a) }')
        bc=$(awk -v a="$bc" -v b="$c" 'BEGIN { print (b < a ? b : a) }')
    done
    echo "$bw $bc"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# The logs of one set: set_files DIR PREFIX GENLOG-OPTIONS...
set_files() {
    local dir=$1 prefix=$2 i file
    shift 2
    files=()
    for ((i = 1; i <= count; i++)); do
        file=$(printf '%s/%s/L%02d%s%d.log' "$work" "$dir" "$i" "$prefix" "$i")
        if [ ! -s "$file" ]; then
            echo "generating $file ($size)" >&2
            /usr/bin/python3 "$root/bench/genlog.py" --size "$size" --seed "$i" "$@" -o "$file"
        fi
        files+=("$file")
    done
    cat "${files[@]}" >/dev/null
    quoted=$(printf "'%s' " "${files[@]}")
}

# Times each text over the files of the set.
measure() {
    mib=$(du -cm "${files[@]}" | tail -1 | cut -f1)
    echo "logs: $count files, $mib MiB, $(cat "${files[@]}" | wc -l) lines, $(cat "${files[@]}" | grep -c ' changed name to ') name changes"
    for text in "$@"; do
        lines=$(cat "${files[@]}" | LC_ALL=C grep -c -i -F -- "$text" || true)
        found=$("$logscan" --find "$text" "${files[@]}" 2>/dev/null | grep -c '"event"' || true)
        ids=$("$logscan" --find "$text" "${files[@]}" 2>/dev/null | tail -1 | { grep -o '"steam_id"' || true; } | wc -l)
        read -r gw gc < <(best "LC_ALL=C grep -c -i -F -- '$text' $quoted")
        read -r fw fc < <(best "'$logscan' --find '$text' $quoted")
        printf '%-18s %7s lines, %6s appearances, %2s ids | grep -c -i -F: wall %5s s cpu %5s s | --find: wall %5s s cpu %5s s | ratio wall %sx cpu %sx\n' \
            "$text" "$lines" "$found" "$ids" "$gw" "$gc" "$fw" "$fc" "$(ratio "$fw" "$gw")" "$(ratio "$fc" "$gc")"
    done
}

echo "machine: $(lscpu | awk -F': +' '/Model name/ { print $2 }'), $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"
set_files logs 0100 --name-changes
measure 'hank|pro' 'Quinn|sniper' 'STEAM_0:1:100032' 'nobody'
all=("${files[@]}")
set_files renames 0200 --unique-ids --name-changes --renames 0.08
measure 'hank' 'hank|pro' 'Quinn|sniper' 'STEAM_0:1:100032' 'nobody'
all+=("${files[@]}")
echo "(goal: --find <= 1.5x grep; load at the end $(cut -d' ' -f1-3 /proc/loadavg))"
if [ -n "${CLEAN:-}" ]; then
    rm -f "${all[@]}"
fi
