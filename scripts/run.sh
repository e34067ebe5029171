#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program beside a local demo
# FTP server that serves a sample Counter-Strike server installation, and the
# game-server emulator of the tests as that server's game server (the Live
# page shows it with its players at once).
#
# Everything it writes stays in demo/: demo/program (the program folder: the
# executable, the map list, logs/, cfgs/, ftpserver.ini) and demo/server (the
# demo server's files, laid anew at every start). Both demo servers stop when
# the program ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VELTH_BUILD_DIR:-$root/build}"
demo="${VELTH_DEMO_DIR:-$root/demo}"
program="$demo/program"
server="$demo/server"
user=demo
password=demo
# The demo game server's rcon password; the demo's server.cfg sets the same.
rcon_password=changeme

echo "Checking the Debian packages ..."
"$root/scripts/install-deps.sh"
echo "Building (log: $build/build.log) ..."
# Only the program: the demo server and its files are Python scripts, and the
# tests are built by scripts/test.sh.
VELTH_BUILD_TARGETS=velth-control-center "$root/scripts/build.sh"

mkdir -p "$program"
cp "$build/velth-control-center" "$program/"
[ -e "$program/mapcycle.txt" ] || cp "$build/mapcycle.txt" "$program/"
/usr/bin/python3 "$root/scripts/demo/prepare.py" --server "$server"

# The demo server lives as long as its standard input stays open.
coproc DEMO_SERVER { exec /usr/bin/python3 "$root/tests/support/ftpserver.py" --root "$server" \
    --user "$user" --password "$password" --glob --exit-on-eof 2>"$demo/server.log"; }
server_pid=$DEMO_SERVER_PID
server_in=${DEMO_SERVER[1]}
game_pid=""
game_in=""
stop_servers() {
    exec {server_in}>&- 2>/dev/null || true
    kill "$server_pid" 2>/dev/null || true
    [ -z "$game_in" ] || exec {game_in}>&- 2>/dev/null || true
    [ -z "$game_pid" ] || kill "$game_pid" 2>/dev/null || true
}
trap stop_servers EXIT
port=""
while read -r -t 10 line <&"${DEMO_SERVER[0]}"; do
    case "$line" in PORT\ *) port=${line#PORT }; break ;; esac
done
if [ -z "$port" ]; then
    echo "The demo FTP server did not start (see $demo/server.log)." >&2
    exit 1
fi

# The game server: the emulator on a free UDP port, as long as the pipe to its
# standard input stays open (a second coprocess would be one too many for bash).
# Once the Chat parser page's Live asks for the log, it plays one of the demo
# logs as a game going on, five lines a second. It carries the name the demo's
# server.cfg gives it and the players of that log, and "exec server.cfg" runs
# the demo's server.cfg.
rm -f "$demo/gameserver.ready"
cstrike="$server/hlds/cstrike"
replay_log="$cstrike/logs/L1207000.log"
/usr/bin/python3 "$root/scripts/demo/prepare.py" --game-state "$demo/gameserver-state.json" \
    --config "$cstrike/server.cfg" --log "$replay_log"
exec {game_in}> >(exec /usr/bin/python3 "$root/tests/support/gameserver.py" --port 0 \
    --rcon-password "$rcon_password" --log "$demo/gameserver-commands.log" \
    --state "$demo/gameserver-state.json" --server-cfg "$cstrike/server.cfg" \
    --replay-log "$replay_log" --rate 5 \
    >"$demo/gameserver.ready" 2>"$demo/gameserver.log")
game_pid=$!
game_port=""
for _ in $(seq 100); do
    line=$(head -n 1 "$demo/gameserver.ready" 2>/dev/null || true)
    case "$line" in READY\ *) game_port=${line#READY }; game_port=${game_port%% *}; break ;; esac
    sleep 0.1
done
if [ -z "$game_port" ]; then
    echo "The demo game server did not start (see $demo/gameserver.log)." >&2
    exit 1
fi
/usr/bin/python3 "$root/scripts/demo/prepare.py" --program "$program" --port "$port" --user "$user" --password "$password" \
    --game-port "$game_port" --rcon-password "$rcon_password"

echo "Demo FTP server on 127.0.0.1:$port (user $user, password $password), serving $server."
echo "Demo game server on 127.0.0.1:$game_port (UDP, rcon password $rcon_password); the Live page shows it."
echo "Starting Velth Control Center from $program; pick the profile \"Demo server\" on any page."
"$program/velth-control-center" || status=$?
echo "Velth Control Center ended; the demo servers stop."
exit "${status:-0}"
