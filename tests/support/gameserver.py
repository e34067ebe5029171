#!/usr/bin/python3
"""A Counter-Strike 1.6 (GoldSrc HLDS) game server's UDP side, for the tests,
the benchmark and the demo.

It answers on 127.0.0.1 as the engine and its Steam library do: the server
queries (info in the Source 'I' form and the old GoldSrc 'm' form, the info
challenge, players and rules behind the challenge handshake, replies over
1,400 bytes in GoldSrc split packets), the remote console ("challenge rcon",
then "rcon <challenge> "<password>" <command>", the output in print packets
gathered in a 1,400-byte buffer, the wrong-password ban) and the live log
(logaddress_add/del; each log line one datagram to every log address).

Prints "READY <port> [<port> ...]" on its own line once every server listens,
then serves until standard input closes or SIGTERM/SIGINT arrive. One process
serves --count servers from one selector loop; replies that wait for
--latency-ms and the log replay wait in one heap of timed sends.

Options (see --help): --port, --count, --state, --rcon-password,
--latency-ms, --drop, --drop-first, --info-form, --info-challenge,
--split-rules, --minfailures, --minfailuretime, --banpenalty, --hostile,
--log, --replay-log, --rate, --log-secret, --server-cfg, --failures-by-ip,
--ignore-stdin, --loss, --loss-seed, --lose-every, --bind, --log-lost.

--loss PERCENT loses that share of the datagrams the servers send, at random
from --loss-seed (the same losses every run with the same seed); --lose-every
N loses every N-th datagram each server sends (N=4: the 4th, 8th, ...). Both
count the replies to queries and challenges, split parts one by one, as a
lossy link would; the console's output and the live log are not lost.

--bind ADDRESS serves on that address instead of 127.0.0.1 (the network
namespace test's "internet"). Log datagrams always leave from the game
socket, as the engine sends them. --log-lost keeps them from leaving at all,
as a router or firewall on the way would drop them.

--log FILE gets one line per datagram received, "<server> <kind>[ <what>]":
  1 info | 1 info-challenged | 1 players | 1 rules | 1 challenge | 1 ping
  1 challenge-rcon | 1 rcon <result> <command line> | 1 banned <kind>
  1 other <bytes as text>
with " dropped" appended when --drop or --drop-first drops it. <server> counts
from 1 in the order of READY's ports; <result> is ok, bad-password,
bad-challenge, no-password, banning or too-long (dropped without a word).
"""

import argparse
import copy
import heapq
import json
import os
import random
import selectors
import signal
import socket
import struct
import sys
import time

HEADER = b"\xff\xff\xff\xff"
SPLIT_HEADER = b"\xfe\xff\xff\xff"
PROTOCOL = 48
APP_ID = 10
BUILD = 8684
# The engine sends a datagram of up to 1,400 bytes whole and splits a longer
# one into parts of 1,400 bytes with a 9-byte header (at most 15 parts).
MAX_ROUTEABLE = 1400
SPLIT_SIZE = MAX_ROUTEABLE - 9
# Console output of an rcon request is gathered in a 1,400-byte buffer (one
# byte for its end): sent when a print would overflow it, and at the end.
OUTPUT_BUFFER = MAX_ROUTEABLE - 1
# The whole rcon request after the four 0xFF bytes must be shorter than this.
RCON_LIMIT = 512
MAX_FAILURES = 10  # sv_rcon_maxfailures: failure times kept per address
BANNED = b"You have been banned from this server.\n"
HUGE = 65000
ENDLESS_PAUSE = 0.005
ENDLESS_FOR = 600.0

HOSTILE_MODES = ("markup", "countmismatch", "split-truncated", "split-duplicate", "split-missing",
                 "split-reorder", "split-toomany", "wrongport", "oldreply", "endless-print", "huge",
                 "garbage", "norules", "cutinfo")

DEFAULT_RULES = [
    ("_tutor_bomb_viewable_check_interval", "0.5"), ("_tutor_debug_level", "0"),
    ("_tutor_examine_time", "0.5"), ("_tutor_hint_interval_time", "10.0"),
    ("_tutor_look_angle", "10"), ("_tutor_look_distance", "200"),
    ("_tutor_message_character_display_time_coefficient", "0.07"),
    ("_tutor_message_minimum_display_time", "1"), ("_tutor_message_repeats", "5"),
    ("_tutor_view_distance", "1000"), ("allow_spectators", "1.0"), ("amx_client_languages", "1"),
    ("amx_nextmap", "de_inferno"), ("amx_timeleft", "00:00"), ("amxmodx_version", "1.8.2"),
    ("coop", "0"), ("deathmatch", "1"), ("decalfrequency", "30"), ("edgefriction", "2"),
    ("hostage_debug", "0"), ("hostage_stop", "0"), ("humans_join_team", "any"),
    ("max_queries_sec", "3.0"), ("max_queries_sec_global", "30"), ("max_queries_window", "60"),
    ("metamod_version", "1.21.1-am"), ("mp_allowmonsters", "0"), ("mp_autokick", "1"),
    ("mp_autoteambalance", "1"), ("mp_buytime", "1.5"), ("mp_c4timer", "35"), ("mp_chattime", "10"),
    ("mp_consistency", "1"), ("mp_fadetoblack", "0"), ("mp_flashlight", "1"), ("mp_footsteps", "1"),
    ("mp_forcecamera", "0"), ("mp_forcechasecam", "0"), ("mp_fragsleft", "0"), ("mp_freezetime", "6"),
    ("mp_friendlyfire", "0"), ("mp_ghostfrequency", "0.1"), ("mp_hostagepenalty", "13"),
    ("mp_kickpercent", "0.66"), ("mp_limitteams", "2"), ("mp_logdetail", "3"), ("mp_logfile", "1"),
    ("mp_logmessages", "1"), ("mp_mapvoteratio", "0.66"), ("mp_maxrounds", "0"),
    ("mp_mirrordamage", "0"), ("mp_playerid", "0"), ("mp_roundtime", "2.5"),
    ("mp_startmoney", "800"), ("mp_timeleft", "1234"), ("mp_timelimit", "30"), ("mp_tkpunish", "0"),
    ("mp_windifference", "1"), ("mp_winlimit", "0"), ("pausable", "0"), ("sv_accelerate", "5"),
    ("sv_aim", "0"), ("sv_airaccelerate", "10"), ("sv_airmove", "1"), ("sv_allowupload", "1"),
    ("sv_alltalk", "0"), ("sv_bounce", "1"), ("sv_cheats", "0"), ("sv_clienttrace", "1"),
    ("sv_contact", "admin@example.org"), ("sv_friction", "4"), ("sv_gravity", "800"),
    ("sv_logblocks", "0"), ("sv_maxrate", "25000"), ("sv_maxspeed", "320"), ("sv_minrate", "0"),
    ("sv_proxies", "1"), ("sv_region", "3"), ("sv_restart", "0"), ("sv_restartround", "0"),
    ("sv_stepsize", "18"), ("sv_stopspeed", "75"), ("sv_uploadmax", "0.5"), ("sv_voiceenable", "1"),
    ("sv_wateraccelerate", "10"), ("sv_waterfriction", "1"),
]

DEFAULT_STATE = {
    "hostname": "Velth Test Server",
    "map": "de_dust2",
    "maps": ["as_oilrig", "cs_assault", "cs_italy", "cs_office", "de_aztec", "de_dust", "de_dust2",
             "de_inferno", "de_nuke", "de_train"],
    "max_players": 16,
    "password": False,
    "players": [
        {"name": "Player One", "userid": 12, "uniqueid": "STEAM_0:1:12345", "frags": 10, "time": 754,
         "ping": 45, "loss": 0, "address": "5.6.7.8:27005"},
        {"name": "The \"Quoted\" One", "userid": 15, "uniqueid": "STEAM_0:0:777", "frags": -2,
         "time": 3725, "ping": 120, "loss": 3, "address": "9.10.11.12:27005"},
        {"name": "[VLT] Sniper", "userid": 17, "uniqueid": "STEAM_1:0:424242", "frags": 25, "time": 65,
         "ping": 8, "loss": 0, "address": "13.14.15.16:27006"},
        {"name": "Bot Zeta", "userid": 18, "uniqueid": "BOT", "frags": 3, "time": 300, "ping": 0,
         "loss": 0},
    ],
    "rules": dict(DEFAULT_RULES),
    "version": "1.1.2.7/Stdio",
}


class Stop(Exception):
    """SIGTERM, SIGINT or the end of standard input."""


def raw(text):
    """A state string as the bytes the server holds (JSON strings may carry
    undecodable bytes as surrogate escapes)."""
    if isinstance(text, bytes):
        return text
    return str(text).encode("utf-8", "surrogateescape")


def cstr(data):
    return data + b"\0"


def c_atoi(text):
    """atoi(): optional sign and leading digits, 0 when there are none."""
    text = text.lstrip(b" \t\n\r\f\v")
    sign = 1
    if text[:1] in (b"-", b"+"):
        sign = -1 if text[:1] == b"-" else 1
        text = text[1:]
    digits = b""
    for c in text:
        if not 48 <= c <= 57:
            break
        digits += bytes([c])
    value = sign * int(digits) if digits else 0
    return ((value + 2**31) % 2**32) - 2**31  # wraps as a 32-bit int does


BREAKS = b"{}()',:"


def tokenize(line):
    """The console's tokens of one line: quoted strings, the single
    characters { } ( ) ' , : and words between white space (bytes up to
    32). Returns (tokens, args), args being the text after the first token
    as the say command sees it."""
    tokens = []
    args = b""
    i = 0
    n = len(line)
    while True:
        while i < n and line[i] <= 32:
            if line[i] == 10:
                return tokens, args
            i += 1
        if i >= n:
            return tokens, args
        if line[i:i + 2] == b"//":
            return tokens, args
        if len(tokens) == 1:
            args = line[i:].split(b"\n", 1)[0]
        c = line[i]
        if c == 34:
            end = line.find(b'"', i + 1)
            if end < 0:
                end = line.find(b"\n", i + 1)
                end = n if end < 0 else end
                tokens.append(line[i + 1:end])
                i = end
            else:
                tokens.append(line[i + 1:end])
                i = end + 1
        elif c in BREAKS:
            tokens.append(bytes([c]))
            i += 1
        else:
            start = i
            while i < n and line[i] > 32 and line[i] not in BREAKS:
                i += 1
            tokens.append(line[start:i])


def split_commands(line):
    """A script line's commands: split at semicolons outside quotes, as the
    command buffer splits them."""
    parts, start, quoted = [], 0, False
    for i, c in enumerate(line):
        if c == 34:
            quoted = not quoted
        elif c == 59 and not quoted:
            parts.append(line[start:i])
            start = i + 1
    parts.append(line[start:])
    return parts


def steam_id_from(tokens, at):
    """A Steam id the tokenizer cut at its colons ("STEAM_0", ":", "1", ":",
    "2") put together again; returns (id, tokens used)."""
    first = tokens[at]
    if first[:6].upper() in (b"STEAM_", b"VALVE_") and len(tokens) >= at + 5:
        return first + b":" + tokens[at + 2] + b":" + tokens[at + 4], 5
    return first, 1


def log_stamp(now=None):
    t = time.localtime(now)
    return b"L %02d/%02d/%04d - %02d:%02d:%02d: " % (t.tm_mon, t.tm_mday, t.tm_year, t.tm_hour, t.tm_min,
                                                        t.tm_sec)


def address_text(address):
    return b"%s:%d" % (address[0].encode(), address[1])


def hostile_state(state):
    """The markup mode's state: markup, control characters and invalid UTF-8
    in every text the server sends."""
    state["hostname"] = b"<b>Velth</b> <a href='x'>Server</a>\x07\x1b[31m\xff\xfe&amp;"
    state["map"] = b"<i>de_dust2</i>\x01"
    state["maps"] = [state["map"]] + list(state["maps"])
    marks = [b"<img src=x onerror=alert(1)>", b"\x01\x02\x7f\x1b[0m", b"\xc3\x28\xa0\xa1 bad utf-8",
             b"<script>alert('x')</script>", b"tab\there\nnewline", b"&lt;b&gt;x&lt;/b&gt;"]
    for i, player in enumerate(state["players"]):
        player["name"] = marks[i % len(marks)] + raw(player["name"])
    state["rules"] = dict(state["rules"])
    state["rules"][b"<b>rule</b>"] = b"<font color=red>\xff\x00x</font>".replace(b"\x00", b"")
    state["rules"]["sv_contact"] = b"<a href='http://evil'>mail</a>\x1b\xfe"
    return state


class Console:
    """The console output of one rcon request: prints gathered as the engine
    gathers them, each full buffer sent as one print packet."""

    def __init__(self, send):
        self.send = send
        self.buffer = b""

    def print(self, text):
        if len(text) + len(self.buffer) > OUTPUT_BUFFER:
            self.flush()
        self.buffer = (self.buffer + text)[:OUTPUT_BUFFER]

    def flush(self):
        self.send(HEADER + b"l" + cstr(self.buffer) + b"\0")
        self.buffer = b""


class GameServer:
    """One emulated server: its socket, its state and the engine's tables
    (challenges, rcon failures, IP and user filters, log addresses)."""

    def __init__(self, emulator, index, sock, state, options):
        self.emu = emulator
        self.index = index
        self.sock = sock
        self.port = sock.getsockname()[1]
        self.options = options
        self.rng = random.Random(options.seed * 1000 + index)
        self.state = state
        self.password = raw(options.rcon_password) if options.rcon_password is not None else b""
        self.rcon_challenges = {}
        self.query_challenges = {}
        self.failures = {}  # address -> {"times": [...], "reject": bool}
        self.ip_filters = {}  # ip -> end time (0: for good)
        self.user_filters = {}  # unique id -> (minutes, end time)
        self.log_addresses = []
        self.logging = False
        self.log_secret = raw(options.log_secret) if options.log_secret else b""
        self.received = 0
        self.received_kind = {}
        self.sequence = 0
        self.last_split = None
        self.replay_started = False
        self.other = None  # the second socket of --hostile wrongport
        self.info_replies = 0  # for --hostile cutinfo
        self.sent = 0  # datagrams sent, for --lose-every
        self.loss_rng = random.Random(options.loss_seed * 1000003 + index)

    def lost_on_the_way(self):
        """True for a datagram that --loss or --lose-every loses (it is
        counted as sent, and never leaves)."""
        self.sent += 1
        if self.options.lose_every and self.sent % self.options.lose_every == 0:
            return True
        return self.options.loss > 0 and self.loss_rng.random() * 100.0 < self.options.loss

    # --- names and counts --------------------------------------------------

    def players(self):
        return self.state["players"]

    def bots(self):
        return sum(1 for p in self.players() if raw(p.get("uniqueid", b"")) == b"BOT")

    def hostile(self, mode):
        return mode in self.options.hostile

    def rule_items(self):
        rules = [(raw(k), raw(v)) for k, v in self.state["rules"].items()]
        rules = [(k, v) for k, v in rules if k != b"sv_password"]
        rules.append((b"sv_password", b"1" if self.state.get("password") else b"0"))
        return rules

    # --- receiving ------------------------------------------------------------

    def kind_of(self, data):
        if data[:4] == HEADER and len(data) > 4:
            body = data[4:]
            c = body[:1]
            if c == b"T":
                return "info"
            if c == b"U":
                return "players"
            if c == b"V":
                return "rules"
            if c == b"W":
                return "challenge"
            if c == b"i" or body.startswith(b"ping"):
                return "ping"
            words = tokenize(body.split(b"\0", 1)[0])[0]
            if len(words) >= 2 and words[0].lower() == b"challenge" and words[1].lower() == b"rcon":
                return "challenge-rcon"
            if words and words[0] == b"rcon":
                return "rcon"
        return "other"

    def should_drop(self, kind):
        self.received += 1
        if self.options.drop and self.received % self.options.drop == 0:
            return True
        if self.options.drop_first:
            seen = self.received_kind.get(kind, 0) + 1
            self.received_kind[kind] = seen
            if seen <= self.options.drop_first:
                return True
        return False

    def receive(self, data, address, arrived):
        kind = self.kind_of(data)
        if self.should_drop(kind):
            self.emu.note(self.index, kind + (" " + printable(data[4:]) if kind in ("rcon", "other") else "")
                          + " dropped")
            return
        due = arrived + self.options.latency_ms / 1000.0

        def reply(payload, sock=None):
            if not self.lost_on_the_way():
                self.emu.send_at(due, sock or self.sock, payload, address)
        if self.filtered(address[0], arrived):
            self.emu.note(self.index, "banned " + kind)
            reply(HEADER + b"l" + cstr(BANNED))
            return
        if self.hostile("garbage") and kind != "other":
            self.emu.note(self.index, kind)
            for _ in range(3):
                junk = bytes(self.rng.randrange(256) for _ in range(self.rng.randrange(1, 1400)))
                reply(self.rng.choice([HEADER, SPLIT_HEADER, b""]) + junk)
            return
        if kind == "info":
            self.on_info(data, address, reply)
        elif kind in ("players", "rules"):
            self.on_players_rules(kind, data, address, reply)
        elif kind == "challenge":
            self.emu.note(self.index, "challenge")
            reply(HEADER + b"A" + self.query_challenge(address))
        elif kind == "ping":
            self.emu.note(self.index, "ping")
            reply(HEADER + b"j" + cstr(b"00000000000000"))
        elif kind == "challenge-rcon":
            self.emu.note(self.index, "challenge-rcon")
            reply(cstr(HEADER + b"challenge rcon %d\n" % self.rcon_challenge(address)))
        elif kind == "rcon":
            self.on_rcon(data, address, arrived, due)
        else:
            self.emu.note(self.index, "other " + printable(data))

    # --- the queries ----------------------------------------------------------

    def query_challenge(self, address):
        challenge = self.query_challenges.get(address[0])
        if challenge is None:
            challenge = struct.pack("<I", self.rng.randrange(1, 2**31))
            self.query_challenges[address[0]] = challenge
        return challenge

    def on_info(self, data, address, reply):
        body = data[5:]
        if not body.startswith(b"Source Engine Query\0"):
            self.emu.note(self.index, "other " + printable(data))
            return
        given = body[len(b"Source Engine Query\0"):][:4]
        if self.options.info_challenge and given != self.query_challenge(address):
            self.emu.note(self.index, "info-challenged")
            reply(HEADER + b"A" + self.query_challenge(address))
            return
        self.emu.note(self.index, "info")
        if self.hostile("wrongport"):
            self.send_wrong_port(address, self.info_source(b"Wrong port"))
        self.info_replies += 1
        if self.hostile("cutinfo") and self.info_replies <= 2:
            # The first reply ends inside the name, the second before the
            # player counts; the third is whole.
            whole = self.info_source()
            name_at = len(HEADER) + 2
            cut = name_at + 5 if self.info_replies == 1 else whole.index(b"Counter-Strike\0") + 15 + 2
            reply(whole[:cut])
            return
        if self.options.info_form in ("goldsrc", "both"):
            reply(self.info_goldsrc())
        if self.options.info_form in ("source", "both"):
            reply(self.info_source())

    def counts(self):
        players = len(self.players())
        bots = self.bots()
        if self.hostile("countmismatch"):
            return min(255, players + 5), min(255, bots + 7)
        return players, bots

    def hostname(self, override=None):
        if override is not None:
            return override
        name = raw(self.state["hostname"])
        if self.hostile("huge"):
            name += b"H" * (HUGE - 200)
        return name

    def info_source(self, name=None):
        players, bots = self.counts()
        out = HEADER + b"I" + bytes([PROTOCOL])
        out += cstr(self.hostname(name)) + cstr(raw(self.state["map"])) + cstr(b"cstrike")
        out += cstr(b"Counter-Strike") + struct.pack("<H", APP_ID)
        out += bytes([players, min(255, int(self.state["max_players"])), bots])
        out += b"d" + b"l" + bytes([1 if self.state.get("password") else 0]) + b"\x01"
        out += cstr(raw(self.state.get("version", "1.1.2.7/Stdio")))
        out += bytes([0x80 | 0x10 | 0x01]) + struct.pack("<H", self.port)
        out += struct.pack("<Q", 90071992547409920 + self.index) + struct.pack("<Q", APP_ID)
        return out

    def info_goldsrc(self, name=None):
        players, bots = self.counts()
        out = HEADER + b"m" + cstr(b"127.0.0.1:%d" % self.port)
        out += cstr(self.hostname(name)) + cstr(raw(self.state["map"])) + cstr(b"cstrike")
        out += cstr(b"Counter-Strike")
        out += bytes([players, min(255, int(self.state["max_players"])), PROTOCOL])
        out += b"d" + b"l" + bytes([1 if self.state.get("password") else 0])
        out += b"\x01" + cstr(b"www.counter-strike.net") + cstr(b"") + b"\0"
        out += struct.pack("<ii", 1, 184000000) + b"\x00\x01"
        out += b"\x01" + bytes([bots])
        return out

    def on_players_rules(self, kind, data, address, reply):
        given = data[5:9]
        if given != self.query_challenge(address):
            self.emu.note(self.index, "challenge")
            reply(HEADER + b"A" + self.query_challenge(address))
            return
        self.emu.note(self.index, kind)
        if kind == "rules" and self.hostile("norules"):
            return
        payload = self.players_reply() if kind == "players" else self.rules_reply()
        if self.hostile("wrongport"):
            wrong = HEADER + b"D\x01\x00" + cstr(b"Wrong port") + struct.pack("<if", 0, 1.0) if kind == "players" \
                else HEADER + b"E\x01\x00" + cstr(b"wrong_port") + cstr(b"1")
            self.send_wrong_port(address, wrong)
        self.send_long(payload, reply, force_split=kind == "rules" and self.options.split_rules)

    def players_reply(self, extra=b""):
        entries = self.players()
        count = len(entries) + 2 if self.hostile("countmismatch") else len(entries)
        out = HEADER + b"D" + bytes([min(255, count)])
        for i, player in enumerate(entries):
            name = raw(player["name"]) + (b"P" * (HUGE - 400) if self.hostile("huge") and i == 0 else b"")
            out += bytes([i]) + cstr(name) + struct.pack("<i", int(player.get("frags", 0)))
            out += struct.pack("<f", float(player.get("time", 0)))
        return out + extra

    def rules_reply(self, old=False):
        rules = self.rule_items()
        count = len(rules) + 10 if self.hostile("countmismatch") else len(rules)
        out = HEADER + b"E" + struct.pack("<H", count)
        for name, value in rules:
            out += cstr(name) + cstr(b"old" if old else value)
        if self.hostile("huge"):
            out += cstr(b"huge_rule") + cstr(b"R" * max(0, HUGE - len(out) - 20))
        return out

    def send_wrong_port(self, address, payload):
        if self.other is None:
            self.other = self.emu.open_socket(0)
        self.emu.send_at(time.monotonic(), self.other, payload, address)

    def send_long(self, payload, reply, force_split=False):
        """Sends a reply whole, or in GoldSrc split packets when it is too long
        (or force_split asks for them); the hostile split modes change the
        parts here."""
        split_modes = [m for m in self.options.hostile if m.startswith("split-")]
        if self.hostile("huge") or (len(payload) <= MAX_ROUTEABLE and not force_split and not split_modes):
            reply(payload)
            return
        size = SPLIT_SIZE
        if len(payload) <= SPLIT_SIZE:
            size = (len(payload) + 1) // 2
        chunks = [payload[i:i + size] for i in range(0, len(payload), size)]
        if len(chunks) > 15:
            reply(payload)  # more than a split header can count: the engine sends it whole
            return
        self.sequence += 1
        sequence = self.sequence
        count = len(chunks)

        def part(number, chunk, total=count, seq=sequence):
            return SPLIT_HEADER + struct.pack("<i", seq) + bytes([(number << 4) | total]) + chunk

        parts = [part(i, c) for i, c in enumerate(chunks)]
        if self.hostile("oldreply"):
            old = self.rules_reply(old=True)
            reply(SPLIT_HEADER + struct.pack("<i", sequence - 1) + bytes([count]) + old[:size])
        if self.hostile("split-toomany"):
            for extra in range(count, 15):
                reply(part(extra, b"junk part %d " % extra * 20))
        if self.hostile("split-truncated"):
            parts[-1] = parts[-1][:9 + max(1, (len(parts[-1]) - 9) // 2)]
        if self.hostile("split-missing") and count > 1:
            del parts[1]
        if self.hostile("split-duplicate"):
            parts = [p for p in parts for _ in (0, 1)]
        if self.hostile("split-reorder"):
            parts.reverse()
        for p in parts:
            reply(p)

    # --- the remote console ---------------------------------------------------

    def rcon_challenge(self, address):
        challenge = self.rcon_challenges.get(address[0])
        if challenge is None:
            challenge = self.rng.randrange(1, 2**31)
            self.rcon_challenges[address[0]] = challenge
        return challenge

    def failure_key(self, address):
        return address[0] if self.options.failures_by_ip else address

    def add_failure(self, address, now):
        entry = self.failures.get(self.failure_key(address))
        if entry is None:
            entry = {"times": [], "reject": False}
            self.failures[self.failure_key(address)] = entry
        elif entry["reject"]:
            return
        entry["times"] = (entry["times"] + [now])[-max(MAX_FAILURES, self.options.minfailures):]
        recent = sum(1 for t in entry["times"] if now - t <= self.options.minfailuretime)
        if recent >= self.options.minfailures:
            entry["reject"] = True

    def filtered(self, ip, now):
        end = self.ip_filters.get(ip)
        if end is None:
            return False
        if end and now >= end:
            del self.ip_filters[ip]
            return False
        return True

    def validate(self, tokens, address, now):
        if len(tokens) < 3:
            return "bad-password"
        if not self.password:
            return "no-password"
        entry = self.failures.get(self.failure_key(address))
        if entry and entry["reject"]:
            self.add_ip(self.options.banpenalty, address[0], now)
            return "banning"
        if c_atoi(tokens[1]) != self.rcon_challenge(address):
            return "bad-challenge"
        if tokens[2] != self.password:
            self.add_failure(address, now)
            return "bad-password"
        return "ok"

    def on_rcon(self, data, address, now, due):
        text = data[4:].split(b"\0", 1)[0]
        tokens, _ = tokenize(text)
        result = self.validate(tokens, address, now)
        if len(data) - 4 >= RCON_LIMIT:
            self.emu.note(self.index, "rcon too-long " + printable(text))
            return
        command = self.command_of(text)
        self.emu.note(self.index, "rcon %s %s" % (result, printable(command)))
        line = b"Rcon" if result == "ok" else b"Bad Rcon"
        self.log(b'%s: "%s" from "%s"' % (line, text, address_text(address)))
        console = Console(lambda payload: self.emu.send_at(due, self.sock, payload, address))
        if result == "ok":
            if self.hostile("endless-print"):
                self.emu.call_at(due, lambda: self.endless(address, due, 0))
                return
            if self.hostile("huge"):
                self.emu.send_at(due, self.sock, HEADER + b"l" + cstr(b"O" * (HUGE - 10)) + b"\0", address)
                return
            if command:
                self.execute(command, console, now)
            else:
                console.print(b"Empty rcon\n")
        elif result in ("bad-password", "banning"):
            console.print(b"Bad rcon_password.\n")
        elif result == "no-password":
            console.print(b"Bad rcon_password.\nNo password set for this server.\n")
        elif result == "bad-challenge":
            console.print(b"Bad rcon_password.\nBad challenge.\n")
        console.flush()

    @staticmethod
    def command_of(text):
        """The command line after "rcon <challenge> <password>", as the
        engine cuts it (three tokens off the front)."""
        i = 0
        for _ in range(3):
            while i < len(text) and text[i] <= 32:
                i += 1
            if i >= len(text):
                return b""
            if text[i] == 34:
                end = text.find(b'"', i + 1)
                i = len(text) if end < 0 else end + 1
            elif text[i] in BREAKS:
                i += 1
            else:
                while i < len(text) and text[i] > 32 and text[i] not in BREAKS:
                    i += 1
        return text[i:].lstrip(b" \t")

    def endless(self, address, start, number):
        if time.monotonic() - start > ENDLESS_FOR:
            return
        line = b"endless output %d " % number
        self.emu.send_now(self.sock, HEADER + b"l" + cstr((line * 200)[:OUTPUT_BUFFER]) + b"\0", address)
        self.emu.call_at(time.monotonic() + ENDLESS_PAUSE, lambda: self.endless(address, start, number + 1))

    # --- the commands ---------------------------------------------------------

    def execute(self, line, console, now):
        tokens, args = tokenize(line)
        if not tokens:
            return
        name = tokens[0].lower()
        handler = COMMANDS.get(name)
        if handler:
            handler(self, tokens, args, console, now)
            return
        cvar = self.cvar_name(name)
        if cvar is not None:
            self.cvar_command(cvar, tokens, console)
        # Anything else prints nothing (sv_echo_unknown_cmd 0).

    def cvar_name(self, name):
        if name in (b"hostname", b"rcon_password", b"sv_password", b"sv_logsecret"):
            return name
        for key in self.state["rules"]:
            if raw(key).lower() == name:
                return raw(key)
        return None

    def cvar_value(self, cvar):
        if cvar == b"hostname":
            return raw(self.state["hostname"])
        if cvar == b"rcon_password":
            return self.password
        if cvar == b"sv_password":
            return b"1" if self.state.get("password") else b""
        if cvar == b"sv_logsecret":
            return self.log_secret or b"0"
        for key, value in self.state["rules"].items():
            if raw(key) == cvar:
                return raw(value)
        return b""

    def set_cvar(self, cvar, value):
        if cvar == b"hostname":
            self.state["hostname"] = value
        elif cvar == b"rcon_password":
            self.password = value
        elif cvar == b"sv_password":
            self.state["password"] = bool(value) and value.lower() != b"none"
        elif cvar == b"sv_logsecret":
            self.log_secret = value
        else:
            for key in list(self.state["rules"]):
                if raw(key) == cvar:
                    self.state["rules"][key] = value
                    return
            self.state["rules"][cvar.decode("utf-8", "surrogateescape")] = value

    def cvar_command(self, cvar, tokens, console):
        if len(tokens) == 1:
            console.print(b'"%s" is "%s"\n' % (cvar, self.cvar_value(cvar)))
        else:
            self.set_cvar(cvar, tokens[1])

    def find_player(self, tokens):
        """kick's and banid's target: "#<userid>", "# <userid>", a Steam id
        or a name (any case)."""
        target = tokens[1]
        if target.startswith(b"#"):
            number = target[1:] if len(target) > 1 or len(tokens) <= 2 else tokens[2]
            ident, _ = steam_id_from([number] + tokens[3 if len(target) == 1 else 2:], 0)
            for player in self.players():
                if (c_atoi(number) and int(player.get("userid", 0)) == c_atoi(number)) \
                        or raw(player.get("uniqueid", b"")).lower() == ident.lower():
                    return player
            return None
        for player in self.players():
            if raw(player["name"]).lower() == target.lower():
                return player
        return None

    def player_tag(self, player, team=b""):
        return b"%s<%d><%s><%s>" % (raw(player["name"]), int(player.get("userid", 0)),
                                    raw(player.get("uniqueid", b"")), team)

    def remove_player(self, player):
        self.state["players"] = [p for p in self.players() if p is not player]

    def cmd_status(self, tokens, args, console, now):
        out = console.print
        players = self.players()
        out(b"hostname:  %s\n" % raw(self.state["hostname"]))
        out(b"version :  %d/%s %d secure  (%d)\n" % (PROTOCOL, raw(self.state.get("version", "1.1.2.7/Stdio")),
                                                      BUILD, APP_ID))
        out(b"tcp/ip  :  127.0.0.1:%d\n" % self.port)
        out(b"map     :  %s at: 0 x, 0 y, 0 z\n" % raw(self.state["map"]))
        out(b"players :  %d active (%d max)\n\n" % (len(players), int(self.state["max_players"])))
        out(b"#      name userid uniqueid frag time ping loss adr\n")
        for player in players:
            out(b"#%2d %8s %d %s" % (int(player["slot"]), b'"' + raw(player["name"]) + b'"', int(player.get("userid", 0)),
                                     raw(player.get("uniqueid", b""))))
            out(b" %3d" % int(player.get("frags", 0)))
            seconds = int(player.get("time", 0))
            minutes, seconds = divmod(seconds, 60)
            hours, minutes = divmod(minutes, 60)
            if hours:
                out(b" %2d:%02d:%02d" % (hours, minutes, seconds))
            else:
                out(b" %02d:%02d" % (minutes, seconds))
            out(b" %4d  %3d" % (int(player.get("ping", 0)), int(player.get("loss", 0))))
            if player.get("address"):
                out(b" %s\n" % raw(player["address"]))
            else:
                out(b"\n")
        out(b"%d users\n" % len(players))

    def cmd_say(self, tokens, args, console, now):
        if len(tokens) < 2:
            return
        text = args
        if text.startswith(b'"'):
            text = text[1:-1]
        prefix = b"<%s> " % raw(self.state["hostname"])
        text = text[:63][:max(0, 127 - len(prefix))]
        self.log(b'Server say "%s"' % text)

    def cmd_echo(self, tokens, args, console, now):
        for token in tokens[1:]:
            console.print(token + b" ")
        console.print(b"\n")

    def cmd_kick(self, tokens, args, console, now):
        if len(tokens) <= 1:
            console.print(b"usage:  kick < name > | < # userid > [reason]\n")
            return
        player = self.find_player(tokens)
        if player is None:
            return
        self.log(b'Kick: "%s" was kicked by "Console"' % self.player_tag(player))
        self.remove_player(player)

    def cmd_banid(self, tokens, args, console, now):
        usage = b"Usage:  banid <minutes> <uniqueid or #userid> { kick }\nUse 0 minutes for permanent\n"
        if len(tokens) < 3:
            console.print(usage)
            return
        try:
            minutes = float(tokens[1])
        except ValueError:
            minutes = 0.0
        minutes = 0.0 if minutes < 0.01 else minutes
        kick = len(tokens) > 3 and tokens[-1].lower() == b"kick"
        if tokens[2].startswith(b"#"):
            player = self.find_player(tokens[1:])
            if player is None or raw(player.get("uniqueid", b"")) == b"BOT":
                console.print(b"SV_BanId_f:  Couldn't find #userid %d\n" % c_atoi(tokens[2][1:] or tokens[3]))
                return
            ident = raw(player["uniqueid"])
        else:
            ident, _ = steam_id_from(tokens, 2)
            player = next((p for p in self.players() if raw(p.get("uniqueid", b"")).lower() == ident.lower()
                           and raw(p.get("uniqueid", b"")) != b"BOT"), None)
            if not ident.upper().startswith((b"STEAM_", b"VALVE_")) and player is None:
                console.print(b"SV_BanId_f:  Couldn't resolve uniqueid %s.\n" % ident)
                console.print(usage)
                return
        self.user_filters[ident] = (minutes, 0 if minutes == 0 else now + minutes * 60)
        reason = b"permanently" if minutes == 0 else b"for %.2f minutes" % minutes
        if not kick or player is None:
            self.log(b'Ban: "<><%s><>" was banned "%s" by "Console"' % (ident, reason))
            return
        self.log(b'Ban: "%s" was kicked and banned "%s" by "Console"' % (self.player_tag(player), reason))
        self.remove_player(player)

    def add_ip(self, minutes, ip, now):
        self.ip_filters[ip] = 0 if minutes <= 0 else now + minutes * 60
        for player in list(self.players()):
            if raw(player.get("address", b"")).split(b":")[0] == ip.encode():
                self.remove_player(player)

    def cmd_addip(self, tokens, args, console, now):
        usage = b"Usage: addip <minutes> <ipaddress>\nUse 0 minutes for permanent\n"
        if len(tokens) != 3:
            console.print(usage)
            return
        try:
            minutes = float(tokens[1])
        except ValueError:
            minutes = -1
        if minutes < 0:
            console.print(b"Invalid ban time! May be you mixed up ip address and ban time?\n" + usage)
            return
        parts = tokens[2].split(b".")
        if len(parts) != 4 or not all(p.isdigit() and int(p) < 256 for p in parts):
            console.print(b"Invalid IP address!\n" + usage)
            return
        self.add_ip(minutes, tokens[2].decode(), now)

    def cmd_removeip(self, tokens, args, console, now):
        ip = tokens[1].decode("latin-1") if len(tokens) > 1 else ""
        if self.ip_filters.pop(ip, None) is not None:
            console.print(b"removeip:  filter removed for %s\n" % ip.encode("latin-1"))
        else:
            console.print(b"removeip:  couldn't find %s\n" % ip.encode("latin-1"))

    def cmd_removeid(self, tokens, args, console, now):
        if len(tokens) < 2:
            console.print(b"Usage:  removeid <uniqueid | #slotnumber>\n")
            return
        ident, _ = steam_id_from(tokens, 1)
        if self.user_filters.pop(ident, None) is not None:
            self.log(b'Ban: "<><%s><>" was unbanned by "Console"' % ident)
        else:
            console.print(b"removeid:  couldn't find %s\n" % ident)

    def cmd_listid(self, tokens, args, console, now):
        if not self.user_filters:
            console.print(b"UserID filter list: empty\n")
            return
        console.print(b"UserID filter list: %d entries\n" % len(self.user_filters))
        for i, (ident, (minutes, _)) in enumerate(self.user_filters.items()):
            if minutes == 0:
                console.print(b"%d %s : permanent\n" % (i + 1, ident))
            else:
                console.print(b"%d %s : %.3f min\n" % (i + 1, ident, minutes))

    def cmd_listip(self, tokens, args, console, now):
        if not self.ip_filters:
            console.print(b"IP filter list: empty\n")
            return
        console.print(b"IP filter list:\n")
        for ip, end in self.ip_filters.items():
            if end == 0:
                console.print(b"%-18s : permanent\n" % ip.encode())
            else:
                console.print(b"%-18s : %g min\n" % (ip.encode(), max(0.0, (end - now) / 60)))

    def cmd_writeid(self, tokens, args, console, now):
        console.print(b"Writing banned.cfg.\n")

    def cmd_writeip(self, tokens, args, console, now):
        console.print(b"Writing listip.cfg.\n")

    def cmd_users(self, tokens, args, console, now):
        console.print(b"userid : uniqueid : name\n")
        console.print(b"------ : ---------: ----\n")
        for player in self.players():
            console.print(b"%6d : %s : %s\n" % (int(player.get("userid", 0)), raw(player.get("uniqueid", b"")),
                                               raw(player["name"])))
        console.print(b"%d users\n" % len(self.players()))

    def cmd_changelevel(self, tokens, args, console, now):
        if len(tokens) < 2:
            console.print(b"changelevel <levelname> : continue game on a new level\n")
            return
        level = tokens[1]
        if level not in [raw(m) for m in self.state.get("maps", [])]:
            console.print(b"changelevel failed: '%s' not found on server.\n" % level)
            return
        self.state["map"] = level
        self.log(b'Loading map "%s"' % level)
        self.log(b'Started map "%s" (CRC "%d")' % (level, self.rng.randrange(-2**31, 2**31)))

    def cmd_map(self, tokens, args, console, now):
        """map, as the engine checks it: the level must be on the server."""
        if len(tokens) < 2:
            console.print(b"map <levelname> : changes server to specified map\n")
            return
        if len(args) > 54:
            console.print(b"map change failed: command string is too long.\n")
            return
        level = tokens[1]
        if level.lower().endswith(b".bsp"):
            level = level[:-4]
        if level not in [raw(m) for m in self.state.get("maps", [])]:
            console.print(b"map change failed: '%s' not found on server.\n" % level)
            return
        self.cmd_changelevel([b"changelevel", level], level, console, now)

    def cmd_maps(self, tokens, args, console, now):
        if len(tokens) != 2:
            console.print(b"Usage:  maps <substring>\nmaps * for full listing\n")
            return
        part = b"" if tokens[1] == b"*" else tokens[1].lower()
        console.print(b"-------------\n")
        for level in sorted(raw(m) for m in self.state.get("maps", [])):
            if level.lower().startswith(part):
                console.print(b"%s.bsp\n" % level)

    def cmd_exec(self, tokens, args, console, now):
        if len(tokens) != 2:
            console.print(b"exec <filename> : execute a script file\n")
            return
        name = tokens[1]
        if not name.endswith((b".cfg", b".rc")):
            console.print(b"exec %s: not a .cfg or .rc file\n" % name)
            return
        path = self.options.server_cfg if name.lower() == b"server.cfg" else None
        try:
            with open(path, "rb") as f:
                script = f.read()
        except (OSError, TypeError):
            console.print(b"couldn't exec %s\n" % name)
            return
        for line in script.replace(b"\r", b"").split(b"\n")[:4096]:
            for part in split_commands(line):
                words = tokenize(part)[0]
                if words and words[0].lower() != b"exec":
                    self.execute(part, console, now)

    def cmd_cvarlist(self, tokens, args, console, now):
        console.print(b"CVar List\n--------------\n")
        names = [b"hostname", b"rcon_password", b"sv_password"] + [k for k, _ in self.rule_items()
                                                                  if k != b"sv_password"]
        for name in names:
            console.print(b"%-28s : %16s, sv\n" % (name, self.cvar_value(name)))
        console.print(b"--------------\n%3d Total CVars\nCvarList ? for syntax\n" % len(names))

    def parse_log_address(self, what, tokens, console):
        if len(tokens) != 3:
            console.print(b"%s:  usage\n%s ip port\n" % (what, what))
            for address in self.log_addresses:
                console.print(b"current:  %s\n" % address_text(address))
            return None
        port = c_atoi(tokens[2])
        if not port:
            console.print(b"%s:  must specify a valid port\n" % what)
            return None
        try:
            ip = socket.gethostbyname(tokens[1].decode("latin-1")) if tokens[1] else None
        except (OSError, UnicodeError):
            ip = None
        if ip is None:
            console.print(b"%s:  unable to resolve %s:%d\n" % (what, tokens[1], port))
            return None
        return (ip, port & 0xFFFF)

    def cmd_logaddress_add(self, tokens, args, console, now):
        address = self.parse_log_address(b"logaddress_add", tokens, console)
        if address is None:
            return
        if address in self.log_addresses:
            console.print(b"logaddress_add:  address already in list\n")
            return
        self.log_addresses.append(address)
        console.print(b"logaddress_add:  %s\n" % address_text(address))
        self.maybe_replay()

    def cmd_logaddress_del(self, tokens, args, console, now):
        address = self.parse_log_address(b"logaddress_del", tokens, console)
        if address is None:
            return
        if not self.log_addresses:
            console.print(b"logaddress_del:  No addresses added yet\n")
            return
        if address not in self.log_addresses:
            console.print(b"logaddress_del:  Couldn't find address in list\n")
            return
        self.log_addresses.remove(address)
        console.print(b"deleting:  %s\n" % address_text(address))

    def cmd_log(self, tokens, args, console, now):
        if len(tokens) != 2:
            console.print(b"usage:  log < on | off >\n")
            console.print(b"currently logging\n" if self.logging else b"not currently logging\n")
            return
        value = tokens[1].lower()
        if value == b"off":
            if self.logging:
                self.log(b"Log file closed")
                console.print(b"Server logging disabled.\n")
                self.logging = False
        elif value == b"on":
            self.logging = True
            t = time.localtime()
            name = b"logs/L%02d%02d000.log" % (t.tm_mon, t.tm_mday)
            console.print(b"Server logging data to file %s\n" % name)
            self.log(b'Log file started (file "%s") (game "cstrike") (version "%d/%s/%d")'
                     % (name, PROTOCOL, raw(self.state.get("version", "1.1.2.7/Stdio")), BUILD))
            self.maybe_replay()
        else:
            console.print(b"log:  unknown parameter %s, 'on' and 'off' are valid\n" % tokens[1])

    # --- the log --------------------------------------------------------------

    def log_datagram(self, line):
        """One log line ("L 12/08/2026 - 23:40:00: ...\\n") as the engine sends
        it to a log address."""
        if self.log_secret and self.log_secret != b"0":
            return HEADER + b"S" + self.log_secret + line + b"\0"
        return HEADER + b"log " + line + b"\0"

    def log(self, event):
        """An event of the server's log; sent at once to the log addresses."""
        line = log_stamp() + event + b"\n"
        self.emu.note(self.index, "log " + printable(line.rstrip(b"\n")))
        for address in self.log_addresses:
            self.send_log(self.log_datagram(line), address)

    def send_log(self, datagram, address):
        if not self.options.log_lost:
            self.emu.send_now(self.sock, datagram, address)

    def maybe_replay(self):
        """The game of --replay-log starts once the log is on and has an
        address to go to; its lines then follow at --rate lines a second."""
        if self.replay_started or not self.emu.replay_lines or not self.logging or not self.log_addresses:
            return
        self.replay_started = True
        start = time.monotonic()
        self.replay_step(start, 0)

    def replay_step(self, start, sent):
        lines = self.emu.replay_lines
        rate = self.options.rate
        now = time.monotonic()
        due = len(lines) if rate <= 0 else min(len(lines), int((now - start) * rate) + 1)
        while sent < due:
            for address in self.log_addresses:
                self.send_log(self.log_datagram(lines[sent]), address)
            sent += 1
        if sent < len(lines):
            self.emu.call_at(start + sent / rate, lambda: self.replay_step(start, sent))


COMMANDS = {
    b"status": GameServer.cmd_status, b"say": GameServer.cmd_say, b"echo": GameServer.cmd_echo,
    b"kick": GameServer.cmd_kick, b"banid": GameServer.cmd_banid, b"addip": GameServer.cmd_addip,
    b"removeip": GameServer.cmd_removeip, b"removeid": GameServer.cmd_removeid,
    b"listid": GameServer.cmd_listid, b"listip": GameServer.cmd_listip, b"writeid": GameServer.cmd_writeid,
    b"writeip": GameServer.cmd_writeip, b"users": GameServer.cmd_users,
    b"changelevel": GameServer.cmd_changelevel, b"map": GameServer.cmd_map, b"maps": GameServer.cmd_maps,
    b"exec": GameServer.cmd_exec,
    b"cvarlist": GameServer.cmd_cvarlist, b"logaddress_add": GameServer.cmd_logaddress_add,
    b"logaddress_del": GameServer.cmd_logaddress_del, b"log": GameServer.cmd_log,
}


def printable(data):
    """Bytes as one line of text for --log: printable ASCII as it stands,
    everything else as \\xNN."""
    out = []
    for c in data:
        if 32 <= c < 127 and c != 92:
            out.append(chr(c))
        else:
            out.append("\\x%02x" % c)
    return "".join(out)


class Emulator:
    """The selector loop of every server, and the heap of timed sends."""

    def __init__(self, options):
        self.options = options
        self.selector = selectors.DefaultSelector()
        self.heap = []
        self.order = 0
        self.servers = []
        self.log_file = open(options.log, "a", buffering=1, encoding="utf-8") if options.log else None
        self.replay_lines = []
        if options.replay_log:
            with open(options.replay_log, "rb") as f:
                self.replay_lines = [line.rstrip(b"\r\n") + b"\n" for line in f if line.strip()]

    def open_socket(self, port):
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
        sock.bind((self.options.bind, port))
        sock.setblocking(False)
        return sock

    def start(self):
        base = self.load_state()
        for i in range(self.options.count):
            port = self.options.port + i if self.options.port else 0
            sock = self.open_socket(port)
            state = copy.deepcopy(base)
            if self.options.count > 1:
                state["hostname"] = raw(state["hostname"]) + b" #%d" % (i + 1)
            for slot, player in enumerate(state["players"]):
                player.setdefault("slot", slot + 1)  # a player keeps his slot when others leave
            if "markup" in self.options.hostile:
                state = hostile_state(state)
            server = GameServer(self, i + 1, sock, state, self.options)
            self.servers.append(server)
            self.selector.register(sock, selectors.EVENT_READ, server)
        print("READY " + " ".join(str(s.port) for s in self.servers), flush=True)

    def load_state(self):
        if not self.options.state:
            return copy.deepcopy(DEFAULT_STATE)
        with open(self.options.state, encoding="utf-8", errors="surrogateescape") as f:
            state = json.load(f)
        merged = copy.deepcopy(DEFAULT_STATE)
        merged.update(state)
        return merged

    def note(self, index, text):
        if self.log_file:
            self.log_file.write("%d %s\n" % (index, text))

    def send_now(self, sock, data, address):
        try:
            sock.sendto(data, address)
        except OSError:
            pass  # a full buffer or a port that went away: the datagram is lost, as UDP loses it

    def send_at(self, due, sock, data, address):
        if due <= time.monotonic() and not self.heap:
            self.send_now(sock, data, address)
        else:
            self.call_at(due, lambda: self.send_now(sock, data, address))

    def call_at(self, due, action):
        self.order += 1
        heapq.heappush(self.heap, (due, self.order, action))

    def run(self):
        watch_stdin = not self.options.ignore_stdin
        if watch_stdin:
            try:
                os.set_blocking(0, False)
                self.selector.register(0, selectors.EVENT_READ, None)
            except (OSError, ValueError):
                watch_stdin = False
        while True:
            now = time.monotonic()
            while self.heap and self.heap[0][0] <= now:
                heapq.heappop(self.heap)[2]()
            timeout = max(0.0, self.heap[0][0] - time.monotonic()) if self.heap else None
            for key, _ in self.selector.select(timeout):
                if key.data is None:
                    try:
                        if not os.read(0, 4096):
                            raise Stop()
                    except BlockingIOError:
                        pass
                    continue
                server = key.data
                for _ in range(64):
                    try:
                        data, address = key.fileobj.recvfrom(65535)
                    except (BlockingIOError, InterruptedError):
                        break
                    except OSError:
                        continue  # an ICMP error of an earlier send
                    server.receive(data, address, time.monotonic())


def main():
    parser = argparse.ArgumentParser(description="Counter-Strike 1.6 server emulator for the tests")
    parser.add_argument("--port", type=int, default=0, help="first port, 0: free ports")
    parser.add_argument("--count", type=int, default=1, help="number of servers")
    parser.add_argument("--state", help="the server's state (JSON)")
    parser.add_argument("--rcon-password", help="rcon_password (default: none set)")
    parser.add_argument("--latency-ms", type=float, default=0.0, help="every reply leaves this long after its request")
    parser.add_argument("--drop", type=int, default=0, help="drop every N-th incoming datagram")
    parser.add_argument("--drop-first", type=int, default=0, help="drop the first N incoming datagrams of each kind")
    parser.add_argument("--info-form", choices=("source", "goldsrc", "both"), default="source")
    parser.add_argument("--info-challenge", action="store_true", help="the info request needs a challenge")
    parser.add_argument("--split-rules", action="store_true", help="rules always in split packets")
    parser.add_argument("--minfailures", type=int, default=5)
    parser.add_argument("--minfailuretime", type=float, default=30.0)
    parser.add_argument("--banpenalty", type=float, default=0.0, help="minutes, 0: for good")
    parser.add_argument("--failures-by-ip", action="store_true",
                        help="count wrong passwords per IP (the engine counts per IP and port)")
    parser.add_argument("--hostile", action="append", default=[], choices=HOSTILE_MODES)
    parser.add_argument("--log", help="file that receives one line per request")
    parser.add_argument("--replay-log", help="log file replayed to the log addresses")
    parser.add_argument("--rate", type=float, default=10.0, help="replayed lines per second (0: all at once)")
    parser.add_argument("--log-secret", help="sv_logsecret")
    parser.add_argument("--server-cfg", help="the file that 'exec server.cfg' runs")
    parser.add_argument("--seed", type=int, default=1, help="seed of challenges and garbage")
    parser.add_argument("--ignore-stdin", action="store_true", help="do not stop when standard input closes")
    parser.add_argument("--loss", type=float, default=0.0, help="percent of sent datagrams lost at random")
    parser.add_argument("--loss-seed", type=int, default=1, help="seed of --loss")
    parser.add_argument("--lose-every", type=int, default=0, help="lose every N-th datagram each server sends")
    parser.add_argument("--bind", default="127.0.0.1", help="the address to serve on")
    parser.add_argument("--log-lost", action="store_true", help="log datagrams never leave (dropped on the way)")
    options = parser.parse_args()
    options.minfailures = min(20, max(1, options.minfailures))
    options.minfailuretime = max(1.0, options.minfailuretime)
    options.loss = min(100.0, max(0.0, options.loss))
    options.lose_every = max(0, options.lose_every)

    def stop(*_):
        raise Stop()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    emulator = Emulator(options)
    try:
        emulator.start()
        emulator.run()
    except Stop:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
