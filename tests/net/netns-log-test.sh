#!/usr/bin/env bash
# The live log through a home router, in network namespaces of its own:
#
#   home (velth-server log) -- router (nftables: masquerade, unsolicited
#   inbound dropped) -- internet (the game server emulator, coturn as STUN)
#
# 1. Without port forwarding, the keep-alive and the STUN server's answer get
#    every line of a replayed log through the router, in order, and Ctrl-C's
#    SIGTERM takes the log address back.
# 2. With the keep-alive off, the router drops the log: nothing arrives and
#    the program says so (exit status 4).
# 3. With the log port forwarded (LOGADDRESS), lines forged from another port
#    of the server's host reach the home computer and are refused there.
#
# Needs root (namespaces, nftables); exits 77 (skipped) with the reason
# otherwise. Every address is one of these namespaces'; they are removed at
# the end, whatever happened.
#
# usage: netns-log-test.sh VELTH_SERVER GAMESERVER_PY
set -uo pipefail

skip() {
    echo "SKIPPED: $*"
    exit 77
}

tool=${1:?velth-server}
emulator=${2:?gameserver.py}
[ "$(id -u)" -eq 0 ] || skip "the network namespace test needs root (network namespaces, nftables)"
for command in ip nft turnserver; do
    command -v "$command" >/dev/null || skip "$command is not installed (scripts/install-deps.sh installs it)"
done

tag=$$
home=velth-home-$tag
router=velth-router-$tag
net=velth-inet-$tag
work=$(mktemp -d)
pids=()

cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    ip netns del "$home" 2>/dev/null
    ip netns del "$router" 2>/dev/null
    ip netns del "$net" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}

ip netns add "$home" 2>/dev/null || skip "cannot create network namespaces here"
ip netns add "$router" || exit 1
ip netns add "$net" || exit 1
# (Processes started in the background run "ip netns exec" directly, which
# becomes the program: its pid is the program's own, to signal and wait for.)
in_router() { ip netns exec "$router" "$@"; }
in_net() { ip netns exec "$net" "$@"; }

# Home 192.168.77.0/24 behind the router; the "internet" 198.51.100.0/24
# (documentation addresses: only these namespaces hold them). The internet
# has no route to the home network: only the router's translation reaches it.
ip -n "$home" link add lan0 type veth peer name lan netns "$router"
ip -n "$router" link add wan type veth peer name wan0 netns "$net"
ip -n "$home" addr add 192.168.77.2/24 dev lan0
ip -n "$router" addr add 192.168.77.1/24 dev lan
ip -n "$router" addr add 198.51.100.1/24 dev wan
ip -n "$net" addr add 198.51.100.2/24 dev wan0
ip -n "$net" addr add 198.51.100.10/24 dev wan0 # the game server
ip -n "$net" addr add 198.51.100.20/24 dev wan0 # the STUN server
for ns in "$home" "$router" "$net"; do
    ip -n "$ns" link set lo up
done
ip -n "$home" link set lan0 up
ip -n "$router" link set lan up
ip -n "$router" link set wan up
ip -n "$net" link set wan0 up
ip -n "$home" route add default via 192.168.77.1
in_router sysctl -qw net.ipv4.ip_forward=1

in_router nft -f - <<'EOF' || exit 1
table ip nat {
    chain postrouting {
        type nat hook postrouting priority srcnat; policy accept;
        oifname "wan" masquerade
    }
}
table inet filter {
    chain input {
        type filter hook input priority filter; policy drop;
        iifname "lo" accept
        ct state established,related accept
        iifname "lan" accept
    }
    chain forward {
        type filter hook forward priority filter; policy drop;
        ct state established,related accept
        iifname "lan" oifname "wan" accept
        ct status dnat accept
    }
}
EOF

# The STUN server.
ip netns exec "$net" turnserver -n --listening-ip=198.51.100.20 --listening-port=3478 --stun-only --no-tls --no-dtls \
    --no-cli --log-file=stdout --no-stdout-log >"$work/coturn.log" 2>&1 &
pids+=($!)
# Ready once it answers a binding request (so that the time measured below
# is the program's, not coturn's start).
in_net /usr/bin/python3 - <<'EOF' || exit 1
import os, socket, struct, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("198.51.100.2", 0))
s.settimeout(0.5)
for _ in range(240):
    s.sendto(struct.pack("!HHI", 1, 0, 0x2112A442) + os.urandom(12), ("198.51.100.20", 3478))
    try:
        s.recvfrom(2048)
        sys.exit(0)
    except socket.timeout:
        pass
print("coturn did not answer")
sys.exit(1)
EOF

# The replayed game: 3,000 say lines, sent at 1,000 lines a second.
lines=3000
for ((i = 0; i < lines; i++)); do
    printf 'L 12/09/2026 - 06:%02d:%02d: "Player%d<%d><STEAM_0:1:%d><CT>" say "line %d"\n' \
        $((i / 60 % 60)) $((i % 60)) $((i % 20)) $((i % 20 + 2)) $((1000 + i)) "$i"
done >"$work/replay.log"

emulator_pid=
start_emulator() {
    local name=$1
    rm -f "$work/$name.emu.log"
    ip netns exec "$net" /usr/bin/python3 "$emulator" --bind 198.51.100.10 --port 27015 --rcon-password pw \
        --replay-log "$work/replay.log" --rate 1000 --log "$work/$name.emu.log" --ignore-stdin \
        >"$work/$name.emu.out" 2>&1 &
    emulator_pid=$!
    pids+=("$emulator_pid")
    for ((t = 0; t < 600; t++)); do
        grep -q READY "$work/$name.emu.out" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "the emulator did not start: $(cat "$work/$name.emu.out")"
    return 1
}
stop_emulator() {
    kill "$emulator_pid" 2>/dev/null
    wait "$emulator_pid" 2>/dev/null
}

# Waits (at most $2 seconds, a generous bound for a loaded machine) until $1 holds.
wait_until() {
    local condition=$1 limit=$2
    for ((t = 0; t < limit * 10; t++)); do
        eval "$condition" && return 0
        sleep 0.1
    done
    return 1
}
line_count() { [ -f "$1" ] && wc -l <"$1" || echo 0; }

export VELTH_RCON_PASSWORD=pw

# --- 1. through the router, no port forwarding --------------------------------
start_emulator through || exit 1
ip netns exec "$home" "$tool" log --stun 198.51.100.20:3478 --output "$work/through.out" 198.51.100.10:27015 \
    2>"$work/through.err" &
tool_pid=$!
pids+=("$tool_pid")
wait_until '[ "$(line_count "$work/through.out")" -ge $lines ]' 120
received=$(line_count "$work/through.out")
kill -TERM "$tool_pid"
wait "$tool_pid"
status=$?
echo "--- velth-server log (through the router):"
cat "$work/through.err"
check "the program exits 0 after SIGTERM" [ "$status" -eq 0 ]
check "every line arrived, in order ($received of $lines)" cmp -s "$work/through.out" "$work/replay.log"
check "the server was given the router's address" grep -q "rcon ok logaddress_add 198.51.100.1 " "$work/through.emu.log"
check "SIGTERM took the address back" grep -q "rcon ok logaddress_del 198.51.100.1 " "$work/through.emu.log"
check "the program knew the log arrived" grep -q "the log arrives (known" "$work/through.err"
check "its own requests stayed out of the output" bash -c "! grep -q 'velth-\|\"pw\"' '$work/through.out'"
stop_emulator
known=$(sed -n 's/.*the log arrives (known \([0-9]*\) ms.*/\1/p' "$work/through.err")
echo "MEASURED: lines sent $lines, received $received through the router at 1000 lines/s; the log known to arrive ${known} ms after the start"

# --- 2. the keep-alive off: the router drops the log ---------------------------
start_emulator dropped || exit 1
ip netns exec "$home" "$tool" log --stun 198.51.100.20:3478 --no-keepalive --check 5 --output "$work/dropped.out" \
    198.51.100.10:27015 2>"$work/dropped.err" &
tool_pid=$!
pids+=("$tool_pid")
# The program ends on its own; the bound only keeps a broken one from hanging the test.
wait_until '! kill -0 $tool_pid 2>/dev/null' 120
kill -TERM "$tool_pid" 2>/dev/null
wait "$tool_pid"
status=$?
echo "--- velth-server log (keep-alive off):"
cat "$work/dropped.err"
check "the program exits 4: the log never arrived" [ "$status" -eq 4 ]
check "it says the log does not reach this computer" grep -q "does not reach this computer" "$work/dropped.err"
check "nothing arrived" [ "$(line_count "$work/dropped.out")" -eq 0 ]
check "the server did send its log (it took the address)" grep -q "rcon ok logaddress_add 198.51.100.1 " \
    "$work/dropped.emu.log"
check "the address was taken back" grep -q "rcon ok logaddress_del 198.51.100.1 " "$work/dropped.emu.log"
stop_emulator

# --- 3. the log port forwarded: forged lines from another port are refused ----
in_router nft -f - <<'EOF' || exit 1
table ip forward {
    chain prerouting {
        type nat hook prerouting priority dstnat; policy accept;
        iifname "wan" udp dport 27500 dnat to 192.168.77.2:27500
    }
}
EOF
start_emulator forwarded || exit 1
ip netns exec "$home" "$tool" log --log-address 198.51.100.1 --log-port 27500 --stun "" --output "$work/forwarded.out" \
    198.51.100.10:27015 2>"$work/forwarded.err" &
tool_pid=$!
pids+=("$tool_pid")
wait_until 'grep -q "the log arrives" "$work/forwarded.err"' 120
# Three say lines from the server's host, port 27016: the engine never sends from there.
in_net /usr/bin/python3 - <<'EOF'
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("198.51.100.10", 27016))
for i in range(3):
    line = b'L 12/09/2026 - 07:00:00: "Mallory<9><STEAM_0:1:9><CT>" say "forged %d"\n' % i
    s.sendto(b"\xff\xff\xff\xff" + b"log " + line + b"\0", ("198.51.100.1", 27500))
EOF
wait_until '[ "$(line_count "$work/forwarded.out")" -ge $lines ]' 120
kill -TERM "$tool_pid"
wait "$tool_pid"
status=$?
echo "--- velth-server log (port forwarded, forged lines):"
cat "$work/forwarded.err"
check "the program exits 0 after SIGTERM" [ "$status" -eq 0 ]
check "every real line arrived, in order" cmp -s "$work/forwarded.out" "$work/replay.log"
check "no forged line was taken" bash -c "! grep -q forged '$work/forwarded.out'"
check "the three forged datagrams were refused" grep -q ", 3 datagrams refused" "$work/forwarded.err"
stop_emulator

[ "$failures" -eq 0 ] || {
    echo "$failures checks failed"
    exit 1
}
echo "all checks passed"
