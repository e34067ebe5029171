#!/usr/bin/env bash
# A fleet of thousands of servers: velth-server under `ulimit -n 1024`
# against Debian's qstat on the same emulated fleet, in the same run.
#
# One emulator process serves LIVE servers (it needs a file descriptor per
# server, so it runs with a higher limit of its own); DEAD more addresses are
# ports that never answer. Each program asks all of them once, timed and
# measured by /usr/bin/time -v (elapsed time, peak resident memory), and the
# online servers in its output are counted. PARTS is "info" (the default
# query) or "all" (--players --rules for velth-server, -P -R for qstat).
#
# Usage: bench/fleet10k.sh [LIVE, 9700] [DEAD, 300] [PARTS, info] [latency ms, 20]
# Needs: velth-server built (build/net/velth-server), qstat, time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
live=${1:-9700}
dead=${2:-300}
parts=${3:-info}
latency=${4:-20}
tool=${VELTH_SERVER_TOOL:-$root/build/net/velth-server}
work=$(mktemp -d)
emulator_pid=
holder_pid=
cleanup() {
    if [ -n "$emulator_pid" ]; then kill "$emulator_pid" 2>/dev/null || true; fi
    if [ -n "$holder_pid" ]; then kill "$holder_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/stdin"
(
    ulimit -n $((live + 256))
    exec /usr/bin/python3 "$root/tests/support/gameserver.py" --count "$live" --latency-ms "$latency" \
        <"$work/stdin" >"$work/ready"
) &
emulator_pid=$!
exec 9>"$work/stdin" # the emulator serves while this stays open
for _ in $(seq 1 600); do
    grep -q '^READY' "$work/ready" 2>/dev/null && break
    sleep 0.1
done
grep -q '^READY' "$work/ready" || { echo "fleet10k: the emulator did not start" >&2; exit 1; }

# Addresses that never answer: ports held open by a process that reads
# nothing, so that no other program can take one of them meanwhile.
mkfifo "$work/hold"
/usr/bin/python3 -c '
import socket, sys
socks = []
for _ in range(int(sys.argv[1])):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    socks.append(s)
print(" ".join(str(s.getsockname()[1]) for s in socks), flush=True)
sys.stdin.read()
' "$dead" <"$work/hold" >"$work/dead" &
holder_pid=$!
exec 8>"$work/hold"
for _ in $(seq 1 100); do
    [ -s "$work/dead" ] && break
    sleep 0.1
done
{
    tr ' ' '\n' <"$work/ready" | tail -n +2
    tr ' ' '\n' <"$work/dead"
} | grep . | shuf --random-source=<(yes) | sed 's/^/127.0.0.1:/' >"$work/addresses"
total=$(wc -l <"$work/addresses")
echo "fleet: $live live servers, $dead dead addresses ($total in all), $latency ms, parts: $parts"
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"

tool_args=(query --json)
qstat_args=(-json -default hla2s)
if [ "$parts" = all ]; then
    tool_args=(query --json --players --rules)
    qstat_args=(-json -P -R -default hla2s)
fi

measure() { # name, output file, command...
    local name=$1 out=$2
    shift 2
    (
        ulimit -n 1024
        /usr/bin/time -v -o "$work/$name.time" "$@" >"$out" 2>"$work/$name.err" || true
    )
    local elapsed rss
    elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/$name.time")
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/$name.time")
    echo "$name: $elapsed elapsed, peak memory $((rss / 1024)) MiB, exit status $(sed -n 's/.*Exit status: //p' "$work/$name.time")"
}

count_online() { # json file, program
    /usr/bin/python3 - "$1" "$2" "$parts" <<'EOF'
import json, sys
data = json.load(open(sys.argv[1]))
program, parts = sys.argv[2], sys.argv[3]
online = whole = 0
names = set()
for s in data:
    up = s.get("online") is True if program == "velth" else s.get("status") == "online"
    online += up
    if up:
        names.add(s.get("name"))
    if up and parts == "all":
        players = s.get("player_list") if program == "velth" else s.get("players")
        whole += isinstance(players, list) and bool(players) and isinstance(s.get("rules"), dict) and bool(s["rules"])
ours = sum(1 for n in names if isinstance(n, str) and n.startswith("Velth Test Server #"))
print("  %d listed, %d online (%d distinct servers of the fleet)%s"
      % (len(data), online, ours, ", %d with players and rules" % whole if parts == "all" else ""))
EOF
}

mapfile -t addresses <"$work/addresses"
measure velth-server "$work/velth.json" "$tool" "${tool_args[@]}" "${addresses[@]}"
count_online "$work/velth.json" velth
if command -v quakestat >/dev/null; then
    measure qstat "$work/qstat.json" quakestat "${qstat_args[@]}" "${addresses[@]}"
    count_online "$work/qstat.json" qstat
else
    echo "qstat: not installed"
fi
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
