#!/usr/bin/env bash
# Measures velth-server's actions on a whole fleet against the test emulator:
#  1. a group `say` on 100 servers (each 20 ms away, each with its own
#     password from a --passwords file) against the same `say` on one of them;
#  2. one scrape of `velth-server exporter` over 1,000 servers: its time, and
#     the exporter's peak memory (VmHWM) after it.
# Both are whole runs timed from outside, best and median of RUNS; the
# outputs are checked (every server's line, every server up). Never fails on
# a number.
#   bench/fleet_actions_bench.sh [BUILD_DIR]
#   env: RUNS=7 SERVERS=100 TARGETS=1000 LATENCY=20
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${VELTH_BUILD_DIR:-$root/build}}" && pwd)
runs=${RUNS:-7}
servers=${SERVERS:-100}
targets=${TARGETS:-1000}
latency=${LATENCY:-20}
cmake --build "$build" -j2 --target velth-server >/dev/null
tool="$build/net/velth-server"
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# start_fleet NAME COUNT: an emulator of COUNT servers; their ports in $work/NAME.ports
start_fleet() {
    local fifo="$work/$1.ready"
    mkfifo "$fifo"
    ulimit -n 65536 2>/dev/null || true
    /usr/bin/python3 "$root/tests/support/gameserver.py" --count "$2" --latency-ms "$latency" \
        --rcon-password bench --ignore-stdin >"$fifo" 2>"$work/$1.err" &
    pids+=($!)
    read -r ready ports <"$fifo"
    [ "$ready" = READY ] || { echo "the emulator did not start: $(cat "$work/$1.err")" >&2; exit 1; }
    tr ' ' '\n' <<<"$ports" | sed 's/^/127.0.0.1:/' >"$work/$1.ports"
}

# median and best of the times (seconds) on standard input
stats() { sort -n | awk '{ t[NR] = $1 } END { printf "best %.3f s, median %.3f s", t[1], t[int((NR + 1) / 2)] }'; }
now() { date +%s.%N; }

start_fleet group "$servers"
sed 's/$/ bench/' "$work/group.ports" >"$work/passwords"
head -n 1 "$work/group.ports" >"$work/one"
: >"$work/one.times"
: >"$work/all.times"
for ((i = 0; i < runs; i++)); do
    t0=$(now)
    "$tool" rcon --passwords "$work/passwords" --targets "$work/one" say "bench round $i" >"$work/one.out"
    t1=$(now)
    "$tool" rcon --passwords "$work/passwords" --targets "$work/group.ports" say "bench round $i" >"$work/all.out"
    t2=$(now)
    awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }' >>"$work/one.times"
    awk -v a="$t1" -v b="$t2" 'BEGIN { print b - a }' >>"$work/all.times"
done
one=$(stats <"$work/one.times")
all=$(stats <"$work/all.times")
echo "say on 1 server:    $one"
echo "say on $servers servers: $all"
m1=$(sort -n "$work/one.times" | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }')
m2=$(sort -n "$work/all.times" | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }')
echo "group say: $(awk -v a="$m1" -v b="$m2" 'BEGIN { printf "%.2f", b / a }')x one server's time (median)"

start_fleet scrape "$targets"
"$tool" exporter --listen 127.0.0.1:0 --targets "$work/scrape.ports" >"$work/exporter.out" 2>&1 &
exporter=$!
pids+=($exporter)
for ((i = 0; i < 100; i++)); do grep -qs metrics "$work/exporter.out" && break; sleep 0.1; done
url=$(grep -o 'http://[^ ]*' "$work/exporter.out")
: >"$work/scrape.times"
for ((i = 0; i < runs; i++)); do
    t0=$(now)
    curl -s -H 'X-Prometheus-Scrape-Timeout-Seconds: 10' "$url" >"$work/metrics"
    t1=$(now)
    awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }' >>"$work/scrape.times"
done
up=$(grep -c '^hlds_up{.*} 1$' "$work/metrics" || true)
echo "scrape of $targets servers: $(stats <"$work/scrape.times"); $up up; exporter peak memory $(awk '/VmHWM/ { print $2, $3 }' /proc/$exporter/status)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
