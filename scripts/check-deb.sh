#!/usr/bin/env bash
# Checks the Debian package end to end, as root on a Debian machine:
#  1. validates the desktop entry and the AppStream metainfo
#     (desktop-file-validate, appstreamcli; installed here, not by
#     install-deps.sh, as only this check needs them);
#  2. builds the package (scripts/package.sh), installs it with apt and finds
#     both command-line tools with their manual pages;
#  3. starts the installed program as a fresh non-root user under xvfb-run
#     from the desktop entry's Exec line, adds a profile on the Settings page
#     with xdotool (pointer and keyboard, as a user would), and quits it with
#     the Exit button;
#  4. finds ftpserver.ini (mode 0600) with the profile and cfgs/<profile> in
#     that user's data folder;
#  5. removes the package and checks that none of its files is left.
# The user and the package are removed again however the check ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
app_id=org.velth.ControlCenter
profile="Check server"
user="vcccheck$$"
failures=0
say() { echo "check-deb: $*"; }
fail() { echo "check-deb: FAILED: $*"; failures=$((failures + 1)); }

[ "$(id -u)" -eq 0 ] || { echo "check-deb: run as root (it installs a package and adds a user)" >&2; exit 2; }
export DEBIAN_FRONTEND=noninteractive

say "installing the checkers: desktop-file-utils appstream xdotool xvfb xauth"
apt-get install -y -qq --no-install-recommends desktop-file-utils appstream xdotool xvfb xauth >/dev/null

say "validating the desktop entry and the metainfo"
desktop-file-validate "$root/resources/desktop/$app_id.desktop" && say "desktop-file-validate: ok"
appstreamcli validate --no-net "$root/resources/desktop/$app_id.metainfo.xml"

say "building the package"
deb=$("$root/scripts/package.sh" | tail -n 1)
say "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends | sed 's/^/  /'

cleanup() {
    userdel -r "$user" >/dev/null 2>&1 || true
    if dpkg-query -W -f='${Status}' velth-control-center 2>/dev/null | grep -q 'install ok installed'; then
        apt-get remove -y -qq velth-control-center >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT

say "installing it with apt"
apt-get install -y -qq "$deb" >/dev/null
dpkg-query -W -f='  installed ${Package} ${Version}\n' velth-control-center
entry="/usr/share/applications/$app_id.desktop"
desktop-file-validate "$entry" && say "installed desktop entry valid"
appstreamcli validate --no-net "/usr/share/metainfo/$app_id.metainfo.xml" >/dev/null && say "installed metainfo valid"
for tool in velth-logscan velth-server; do
    [ -x "/usr/bin/$tool" ] || fail "no /usr/bin/$tool"
    [ -f "/usr/share/man/man1/$tool.1.gz" ] && say "$tool and its manual page installed" || fail "no manual page for $tool"
done
/usr/bin/velth-server --help | grep -q '^usage: velth-server query' && say "velth-server runs" ||
    fail "velth-server --help"
exec_line=$(sed -n 's/^Exec=//p' "$entry" | head -n 1)
# Field codes (%f, %U, ...) stand for files the desktop would pass: none here.
exec_line=$(sed 's/ *%[a-zA-Z]//g' <<<"$exec_line")
say "Exec line: $exec_line"

useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
say "running as $user (home $home)"

driver=$(mktemp /tmp/vcc-check-driver.XXXXXX)
cat >"$driver" <<'DRIVER'
#!/bin/bash
# Runs inside the X server: starts the program, adds a profile, exits.
set -u
exec_line=$1
profile=$2
$exec_line >"$HOME/program.log" 2>&1 &
pid=$!
wid=""
for _ in $(seq 1 120); do
    wid=$(xdotool search --onlyvisible --name '^Velth Control Center$' 2>/dev/null | head -n 1)
    [ -n "$wid" ] && break
    sleep 0.5
done
[ -n "$wid" ] || { echo "no window appeared"; cat "$HOME/program.log"; kill "$pid"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$wid")"
echo "window $wid at $X,$Y size ${WIDTH}x$HEIGHT"
click() { xdotool mousemove $((X + $1)) $((Y + $2)) sleep 0.3 click 1; sleep 1; }
click 33 311      # BSettings: shows the Settings page
click 243 97      # BAdd on the Settings page: asks for the name
xdotool type --delay 60 "$profile"
xdotool key Return
sleep 2
click 33 416      # BExit: ends the program
for _ in $(seq 1 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
if kill -0 "$pid" 2>/dev/null; then
    echo "the program did not end on Exit"
    kill "$pid"
    exit 1
fi
wait "$pid"
echo "program ended with status $?"
DRIVER
chmod 0755 "$driver"

say "starting the installed program under xvfb-run"
runuser -u "$user" -- env -i HOME="$home" USER="$user" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1024x768x24" "$driver" "$exec_line" "$profile" 2>&1 | sed 's/^/  /' ||
    fail "driving the program"
rm -f "$driver"

data="$home/.local/share/velth-control-center"
say "the user's data folder $data:"
(cd "$data" 2>/dev/null && find . -printf '  %M %u %p\n' | sort -k3) || fail "no data folder"
store="$data/ftpserver.ini"
if [ -f "$store" ]; then
    mode=$(stat -c %a "$store")
    owner=$(stat -c %U "$store")
    say "ftpserver.ini: mode $mode, owner $owner, content: $(tr '\r\n' '  ' <"$store")"
    [ "$mode" = 600 ] || fail "ftpserver.ini has mode $mode, not 600"
    [ "$owner" = "$user" ] || fail "ftpserver.ini belongs to $owner"
    grep -q "^\[$profile\]" "$store" || fail "the profile is not in ftpserver.ini"
else
    fail "no ftpserver.ini in the data folder"
fi
[ -d "$data/cfgs/$profile" ] && say "cfgs/$profile exists" || fail "no cfgs/$profile"
[ -f "$data/mapcycle.txt" ] && say "mapcycle.txt seeded: $(wc -l <"$data/mapcycle.txt") maps" ||
    fail "no mapcycle.txt"
for f in logs cfgs ftpserver.ini mapcycle.txt; do
    [ ! -e "/usr/bin/$f" ] || fail "/usr/bin/$f was written"
done

say "removing the package"
files=$(dpkg-query -L velth-control-center | while read -r f; do [ -f "$f" ] && echo "$f"; done)
apt-get remove -y -qq velth-control-center >/dev/null
dpkg-query -W -f='${Status}\n' velth-control-center 2>/dev/null | sed 's/^/  status: /' || true
left=0
for f in $files; do
    [ -e "$f" ] && { fail "left behind: $f"; left=1; }
done
[ "$left" = 0 ] && say "no file of the package is left ($(wc -w <<<"$files") files removed)"
command -v velth-control-center >/dev/null && fail "velth-control-center still on PATH"

if [ "$failures" -eq 0 ]; then
    say "all checks passed"
else
    say "$failures check(s) failed"
    exit 1
fi
