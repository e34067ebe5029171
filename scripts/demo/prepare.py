#!/usr/bin/python3
"""Lays out the demo: a sample server installation for the local FTP server,
and a program folder whose profile store points at it.

    prepare.py --server DIR                 lay the server's files (anew)
    prepare.py --program DIR --port N [--user U --password P]
               [--game-port N --rcon-password PW]
    prepare.py --game-state FILE --config CFG --log LOG
                                            the demo game server's state (JSON
                                            for the emulator's --state): the
                                            config's hostname, the log's map
                                            and players

The server folder is laid anew every time (sample data only). In the program
folder only what is missing is added, and the "Demo server" profile's
connection keys are set (with --game-port also where its game server listens
and its rcon password); everything else the user did there stays.
"""
import argparse
import datetime
import json
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
PROFILE = "Demo server"


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def crlf(lines):
    return "".join(line + "\r\n" for line in lines).encode("utf-8")


def lay_server(server):
    shutil.rmtree(server, ignore_errors=True)
    cstrike = os.path.join(server, "hlds", "cstrike")
    logs = os.path.join(cstrike, "logs")
    os.makedirs(logs)
    # Three logs of different sizes and days, from the project's generator.
    for name, size, seed in (("L1206000.log", "60K", 3), ("L1207000.log", "120K", 7), ("L1208000.log", "40K", 11)):
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "genlog.py"), "--size", size,
                        "--seed", str(seed), "--crlf", "-o", os.path.join(logs, name)], check=True)
    write(os.path.join(cstrike, "users.ini"), crlf([
        "; users.ini: admins of this server",
        "; name or Steam id, password, access flags, account flags",
        '"STEAM_0:1:4711" "" "abcdefghijklmnopqrstu" "ce"',
        '"Jürgen" "letmein" "abcdefghijklmnopqrstu" "a"',
        '"Moderator" "modpass" "bcefij" "a"',
    ]))
    write(os.path.join(cstrike, "mapcycle.txt"), crlf(["de_dust2", "de_inferno", "cs_office", "de_nuke"]))
    write(os.path.join(cstrike, "server.cfg"), crlf([
        'hostname "Velth demo server"',
        'rcon_password "changeme"',
        "mp_timelimit 25",
        "mp_friendlyfire 1",
    ]))


def set_keys(ini_path, section, values):
    """Sets keys of one INI section in place; every other line stays as it is."""
    try:
        with open(ini_path, "rb") as f:
            lines = f.read().decode("latin-1").splitlines(keepends=True)
    except FileNotFoundError:
        lines = []
    start = None
    for i, line in enumerate(lines):
        text = line.strip()
        if text.startswith("[") and "]" in text and text[1:text.index("]")].strip().lower() == section.lower():
            start = i
            break
    if start is None:
        if lines and not lines[-1].endswith(("\n", "\r")):
            lines[-1] += "\r\n"
        lines.append("[%s]\r\n" % section)
        lines += ["%s=%s\r\n" % kv for kv in values]
    else:
        end = start + 1
        while end < len(lines) and not lines[end].strip().startswith("["):
            end += 1
        for key, value in values:
            for i in range(start + 1, end):
                k = lines[i].split("=", 1)[0].strip()
                if "=" in lines[i] and k.lower() == key.lower():
                    ending = lines[i][len(lines[i].rstrip("\r\n")):] or "\r\n"
                    lines[i] = "%s=%s%s" % (k, value, ending)
                    break
            else:
                last = start
                for i in range(start + 1, end):
                    if "=" in lines[i]:
                        last = i
                lines.insert(last + 1, "%s=%s\r\n" % (key, value))
                end += 1
    tmp = ini_path + ".tmp"
    with open(tmp, "wb") as f:
        f.write("".join(lines).encode("latin-1"))
    os.replace(tmp, ini_path)


def prepare_program(program, port, user, password, game_port=None, rcon_password=None):
    for sub in ("logs", "cfgs"):
        os.makedirs(os.path.join(program, sub), exist_ok=True)
    keys = [("HOST", "127.0.0.1"), ("PORT", str(port)), ("USER", user), ("PASS", password), ("HLDS", "hlds")]
    if game_port:
        # STUNSERVER empty: the demo never asks a public STUN server (the
        # program asks none for a loopback server anyway).
        keys += [("GAMEHOST", "127.0.0.1"), ("GAMEPORT", str(game_port)), ("STUNSERVER", "")]
    if rcon_password is not None:
        keys.append(("rconpass", rcon_password))
    set_keys(os.path.join(program, "ftpserver.ini"), PROFILE, keys)
    cfgs = os.path.join(program, "cfgs", PROFILE)
    os.makedirs(cfgs, exist_ok=True)
    examples = {
        "public.cfg": ['hostname "Velth demo - public"', "mp_timelimit 30", "mp_friendlyfire 0",
                       "mp_autoteambalance 1", "sv_alltalk 0"],
        "match.cfg": ['hostname "Velth demo - match"', "mp_timelimit 0", "mp_maxrounds 30",
                      "mp_friendlyfire 1", "mp_freezetime 8", "mp_startmoney 800"],
    }
    for name, lines in examples.items():
        path = os.path.join(cfgs, name)
        if not os.path.exists(path):
            write(path, crlf(lines))


PLAYER = re.compile(rb'"(.+?)<(\d+)><([^<>]*)><([^<>]*)>"')
STAMP = re.compile(rb"^L (\d\d/\d\d/\d{4} - \d\d:\d\d:\d\d): ")


def config_hostname(config):
    """The hostname a server.cfg sets (its last hostname line), or None."""
    name = None
    with open(config, "rb") as f:
        for line in f.read().decode("utf-8", "replace").splitlines():
            words = line.strip().split(None, 1)
            if len(words) == 2 and words[0].lower() == "hostname":
                name = words[1].strip().strip('"')
    return name


def log_players(log):
    """The map a log starts and its players, one per Steam id (bots by
    name), as the emulator's state has them: the last name and user id the
    log gives, frags from its kills, time from the first line to the last."""
    level = None
    players = {}
    first = last = None
    with open(log, "rb") as f:
        for line in f:
            stamp = STAMP.match(line)
            if not stamp:
                continue
            when = datetime.datetime.strptime(stamp.group(1).decode(), "%m/%d/%Y - %H:%M:%S")
            first = first or when
            last = when
            event = line[stamp.end():]
            if level is None and event.startswith(b'Started map "'):
                level = event.split(b'"')[1].decode("utf-8", "replace")
            for i, match in enumerate(PLAYER.finditer(event)):
                name, userid, uniqueid, _team = match.groups()
                if uniqueid in (b"STEAM_ID_PENDING", b"STEAM_ID_LAN", b""):
                    continue
                key = name if uniqueid == b"BOT" else uniqueid
                player = players.setdefault(key, {"frags": 0, "since": when})
                player.update(name=name.decode("utf-8", "replace"), userid=int(userid),
                              uniqueid=uniqueid.decode())
                if i == 0 and event[match.end():].startswith(b" killed "):
                    player["frags"] += 1
    rows = []
    for number, player in enumerate(sorted(players.values(), key=lambda p: p["userid"])):
        row = {"name": player["name"], "userid": player["userid"], "uniqueid": player["uniqueid"],
               "frags": player["frags"], "time": int((last - player["since"]).total_seconds()),
               "ping": 0 if player["uniqueid"] == "BOT" else 18 + (player["userid"] * 7) % 60, "loss": 0}
        if player["uniqueid"] != "BOT":
            # Addresses for show only, from the range kept for documentation.
            row["address"] = "192.0.2.%d:27005" % (number + 10)
        rows.append(row)
    return level, rows


def write_game_state(path, config, log):
    level, players = log_players(log)
    state = {"players": players, "max_players": max(16, len(players) + 4)}
    hostname = config_hostname(config)
    if hostname:
        state["hostname"] = hostname
    if level:
        state["map"] = level
        maps = ["as_oilrig", "cs_assault", "cs_italy", "cs_office", "de_aztec", "de_dust", "de_dust2",
                "de_inferno", "de_nuke", "de_train"]
        state["maps"] = sorted(set(maps + [level]))
    with open(path, "w", encoding="utf-8") as f:
        json.dump(state, f, indent=1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", help="lay the sample server installation here")
    parser.add_argument("--program", help="program folder to prepare (needs --port)")
    parser.add_argument("--port", type=int)
    parser.add_argument("--user", default="demo")
    parser.add_argument("--password", default="demo")
    parser.add_argument("--game-port", type=int, help="UDP port of the demo game server")
    parser.add_argument("--rcon-password", help="the demo game server's rcon password")
    parser.add_argument("--game-state", help="write the demo game server's state here (needs --config, --log)")
    parser.add_argument("--config", help="the server.cfg whose hostname the game server carries")
    parser.add_argument("--log", help="the log the game server plays, whose players it has")
    args = parser.parse_args()
    if args.server:
        lay_server(args.server)
    if args.game_state:
        write_game_state(args.game_state, args.config, args.log)
    if args.program:
        prepare_program(args.program, args.port, args.user, args.password, args.game_port, args.rcon_password)


if __name__ == "__main__":
    main()
